// Version queries: this library's own version and the versions of the code
// running on the arm.
#include "core/catalogue.h"
#include "core/exchange.h"
#include "maintenance/maintenance_codec.h"
#include "tarsel/maintenance.h"

namespace {

constexpr int kGetCodeVersion = tarsel::command::GetCodeVersion;

// The three numbers of a version word, most significant first.
void AppendWord(const tarsel::VersionWord& word, std::vector<int>& out) {
  out.insert(out.end(), {word.Major, word.Minor, word.Release});
}

// The 37 numbers of the code-version answer: the ten words, the single
// number, the two further words. All 37 are appended or none: a vector that
// runs out of room midway is left as the caller passed it.
int DeserializeCodeVersion(int& offset, const Payload& payload, std::vector<int>& out) {
  tarsel::CodeVersions versions;
  tarsel::Decode(offset, payload, versions);
  std::vector<int> numbers;
  numbers.reserve(37);
  for (const tarsel::VersionWord& word : versions.Words) AppendWord(word, numbers);
  numbers.push_back(versions.Single);
  for (const tarsel::VersionWord& word : versions.Further) AppendWord(word, numbers);
  out.insert(out.end(), numbers.begin(), numbers.end());
  return 1;
}

}  // namespace

int GetAPIVersion(std::vector<int>& version) {
  return tarsel::Guarded([&] {
    version.clear();
    version.push_back(TARSEL_VERSION_MAJOR);
    version.push_back(TARSEL_VERSION_MINOR);
    version.push_back(TARSEL_VERSION_PATCH);
    return static_cast<int>(TARSEL_OK);
  });
}

int GetCodeVersion(std::vector<int>& versions) {
  return tarsel::ReadRecord(kGetCodeVersion, DeserializeCodeVersion, versions);
}
