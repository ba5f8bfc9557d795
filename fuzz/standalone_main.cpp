// Runs a fuzz target without a fuzzing engine: on the files named on the
// command line (a folder stands for the files in it), then on a deterministic
// stream of pseudo-random inputs (-runs=N, -max_len=N, -seed=N; without
// -runs, only when no file is named). Lets every compiler build and
// smoke-test the targets in CTest; with clang the same targets link against
// libFuzzer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Optional, as with libFuzzer: a target's one-time set-up.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  long runs = 1000, maxLen = 1024;
  bool runsGiven = false;
  unsigned long seed = 1;
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "-runs=", 6) == 0) {
      runs = std::atol(argv[i] + 6);
      runsGiven = true;
    } else if (std::strncmp(argv[i], "-max_len=", 9) == 0)
      maxLen = std::atol(argv[i] + 9);
    else if (std::strncmp(argv[i], "-seed=", 6) == 0)
      seed = std::strtoul(argv[i] + 6, nullptr, 10);
    else if (std::filesystem::is_directory(argv[i]))
      for (const auto& entry : std::filesystem::directory_iterator(argv[i])) files.push_back(entry);
    else
      files.push_back(argv[i]);
  }
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  if (!files.empty()) std::printf("%zu files run\n", files.size());
  if (!files.empty() && !runsGiven) return 0;
  std::mt19937_64 rng(seed);
  std::vector<std::uint8_t> buffer;
  for (long run = 0; run < runs; ++run) {
    // Lengths spread from tiny to max_len; contents mix random bytes with
    // runs of small values, which make plausible verdicts and sizes.
    const std::size_t len =
        static_cast<std::size_t>(rng() % static_cast<unsigned long>(maxLen + 1));
    buffer.resize(len);
    const bool sparse = rng() % 2 == 0;
    for (auto& b : buffer) b = static_cast<std::uint8_t>(sparse && rng() % 4 ? rng() % 3 : rng());
    LLVMFuzzerTestOneInput(buffer.data(), buffer.size());
  }
  std::printf("%ld inputs run\n", runs);
  return 0;
}
