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

// What the transfer has come to. Pages go out in order and the first one
// the arm does not accept stops it, so the pages accepted are 1 to accepted.
struct Transfer {
  ProgressBar bar{"Flashing"};
  int total = 0;
  int accepted = 0;
  int failedPage = 0;  // the page the arm did not accept, 0 while none
  int failedCode = TARSEL_OK;
  bool interrupted = false;

  // "page 17 of 513 was the last the arm accepted; the arm now holds an
  // incomplete image"
  std::string Outcome() const {
    if (accepted == 0) {
      return fmt::format("the arm accepted none of the {} pages; it now holds an incomplete image",
                         total);
    }
    return fmt::format(
        "page {} of {} was the last the arm accepted; the arm now holds an incomplete image",
        accepted, total);
  }
};

// Stops the transfer between pages on a page the arm did not accept or on
// Ctrl-C; the bar shows accepted pages only.
int OnFlashProgress(int page, int pagesTotal, int pageResult, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  t.total = pagesTotal;
  if (pageResult != TARSEL_OK) {
    t.failedPage = page;
    t.failedCode = pageResult;
    return 0;
  }
  t.accepted = page;
  t.bar.Update(page, pagesTotal);
  if (Interrupted()) {
    t.interrupted = true;
    return 0;
  }
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
  CatchInterrupts();
  Transfer transfer;
  const int code = ProgramFlashWithProgress(o.path.c_str(), OnFlashProgress, &transfer);
  transfer.bar.Finish();
  // A Ctrl-C during the last page comes too late to stop anything: the image
  // is whole, and the code says so.
  if (code != TARSEL_OK && transfer.failedPage > 0) {
    throw Failure(fmt::format(
        "{}\n{}",
        DescribeFailure(fmt::format("page {} of {}", transfer.failedPage, transfer.total),
                        transfer.failedCode),
        transfer.Outcome()));
  }
  if (code != TARSEL_OK && transfer.interrupted) {
    throw Failure("interrupted: " + transfer.Outcome(), InterruptedStatus());
  }
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
