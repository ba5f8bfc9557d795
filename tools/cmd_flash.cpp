// tarsel flash FILE: programs the arm's firmware with a progress bar.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include <fmt/core.h>

#include "commands.h"
#include "display.h"
#include "tarsel/tarsel.h"

namespace tarsel::tool {

namespace {

struct FlashOptions {
  std::string path;
  bool force = false;
};

int OnFlashProgress(int pagesSent, int pagesTotal, int pageResult, void* user) {
  if (pageResult == TARSEL_OK) static_cast<ProgressBar*>(user)->Update(pagesSent, pagesTotal);
  return 1;
}

void RunFlash(const Context& context, const FlashOptions& o) {
  // The library checks the file as well; checking first gives a plain message
  // and keeps an empty image (one page of zeros) from reaching the arm by
  // mistake.
  struct stat st {};
  if (::stat(o.path.c_str(), &st) != 0) {
    throw Failure(fmt::format("cannot open {}: {}", o.path, std::strerror(errno)));
  }
  if (!S_ISREG(st.st_mode)) throw Failure(fmt::format("{} is not a regular file", o.path));
  if (st.st_size == 0 && !o.force) {
    throw Failure(
        fmt::format("{} is empty; --force programs it anyway (one page of zeros)", o.path));
  }
  const long long size = st.st_size;
  const long long pages = size / 2048 + 1;

  Session session(context.connect);
  fmt::print(stderr,
             "Programming {} ({} bytes, {} pages of 2048 bytes); the arm gets 2 s to "
             "prepare.\n",
             o.path, size, pages);
  std::fflush(stderr);
  ProgressBar bar("Flashing");
  const int code = ProgramFlashWithProgress(o.path.c_str(), OnFlashProgress, &bar);
  bar.Finish();
  Check(code, "ProgramFlashWithProgress");
  fmt::print("Programmed {} bytes in {} pages.\n", size, pages);
}

}  // namespace

void AddFlashCommand(CLI::App& app, const Context& context) {
  auto options = std::make_shared<FlashOptions>();
  CLI::App* flash = app.add_subcommand(
      "flash",
      "Program the arm's firmware from an image file (nothing else may use the arm "
      "meanwhile)");
  flash->add_option("FILE", options->path, "Firmware image (raw bytes)")->required();
  flash->add_flag("--force", options->force, "Program even an empty image");
  flash->callback([&context, options] { RunFlash(context, *options); });
}

}  // namespace tarsel::tool
