// Firmware programming: the image file is read whole, the arm is told that
// programming begins, and the image goes out page by page.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/catalogue.h"
#include "core/connection.h"
#include "core/framing.h"
#include "core/guard.h"
#include "core/pause.h"
#include "maintenance/maintenance_codec.h"
#include "tarsel/maintenance.h"

namespace {

constexpr int kBeginProgramming = tarsel::command::BeginFlash;
constexpr unsigned short kFlashPage = tarsel::command::FlashPage;
// The arm needs 2 s after the start command whatever its answer, and 10 ms
// more before the first page once it has accepted.
constexpr unsigned kBeginWaitUs = 2000000;
constexpr unsigned kFirstPageWaitUs = 10000;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads the whole file at path into image. Returns 1, or the file code:
// 5001 cannot open, 5003 not a regular file / cannot be sized / short read,
// 5004 too large for 32-bit page offsets. The file is closed before returning
// on every path.
int LoadImage(const char* path, Payload& image) {
  if (path == nullptr) return TARSEL_ERROR_FILE_OPEN;
  // Opened without blocking: opening a FIFO for reading would otherwise wait
  // for a writer for ever, before the regular-file test below could refuse it.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return TARSEL_ERROR_FILE_OPEN;
  File file(::fdopen(fd, "rb"));
  if (!file) {
    ::close(fd);
    return TARSEL_ERROR_FILE_OPEN;
  }

  // A directory opens for reading but has no bytes to give, and its
  // reported size can be huge; pipes and terminals cannot be sized.
  struct stat info;
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    return TARSEL_ERROR_FILE_READ;
  }
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return TARSEL_ERROR_FILE_READ;
  const long end = std::ftell(file.get());
  if (end < 0) return TARSEL_ERROR_FILE_READ;
  std::rewind(file.get());

  const auto size = static_cast<unsigned long>(end);
  if (size > tarsel::kFlashMaxImageBytes) return TARSEL_ERROR_IMAGE_TOO_LARGE;
  // A failed allocation throws here; the export's guard turns it into 5002
  // and the file is closed on the way out.
  image.resize(size);
  if (std::fread(image.data(), 1, size, file.get()) != size) return TARSEL_ERROR_FILE_READ;
  return TARSEL_OK;
}

}  // namespace

namespace tarsel {

void BuildFlashPage(const Payload& image, std::uint32_t pageOffset, unsigned short command,
                    PacketList& page) {
  page.packets.resize(static_cast<std::size_t>(kFlashPagePackets));
  Payload data;
  data.reserve(TARSEL_PACKET_DATA_SIZE);
  for (int k = 0; k < kFlashPagePackets; ++k) {
    const std::size_t start = pageOffset + static_cast<std::size_t>(k) * kFlashPacketImageBytes;
    const std::size_t carried =
        start < image.size() ? std::min(kFlashPacketImageBytes, image.size() - start) : 0;
    data.clear();
    PayloadWriter writer(data);
    writer.Field(pageOffset);
    if (carried > 0) writer.Bytes(image.data() + start, carried);
    writer.PadTo(TARSEL_PACKET_DATA_SIZE);

    Packet& packet = page.packets[static_cast<std::size_t>(k)];
    packet.PacketIndex = static_cast<short>(k + 1);
    packet.PacketCount = static_cast<short>(kFlashPagePackets);
    packet.CommandId = static_cast<short>(command);
    packet.PayloadSize = static_cast<short>(kFlashPageBytes);
    std::memcpy(packet.Data, data.data(), TARSEL_PACKET_DATA_SIZE);
  }
}

}  // namespace tarsel

std::vector<PacketList> SplitDataByPage(const Payload& image, unsigned short command) {
  std::vector<PacketList> pages;
  if (image.size() > tarsel::kFlashMaxImageBytes) return pages;
  const std::size_t count = tarsel::FlashPageCount(image.size());
  pages.resize(count);
  for (std::size_t n = 0; n < count; ++n) {
    tarsel::BuildFlashPage(image, static_cast<std::uint32_t>(n * tarsel::kFlashPageBytes), command,
                           pages[n]);
  }
  return pages;
}

int ProgramFlashWithProgress(const char* path, TarselFlashProgressFn progress, void* user) {
  return tarsel::Guarded([&] {
    Payload image;
    const int loaded = LoadImage(path, image);
    if (loaded != TARSEL_OK) return loaded;

    const int begun = tarsel::SendBare(kBeginProgramming);
    // The arm needs its pause after the start command whatever it answered,
    // but an arm that did not answer at all has nothing to prepare.
    if (!tarsel::LinkLost(begun)) tarsel::Pause(kBeginWaitUs);
    if (begun != TARSEL_OK) return begun;
    tarsel::Pause(kFirstPageWaitUs);

    // Pages are built one at a time: the wire carries the same packets as
    // SplitDataByPage gives, without holding 2080 bytes of packets for every
    // 2048 bytes of image.
    const std::size_t count = tarsel::FlashPageCount(image.size());
    const int total = static_cast<int>(count);
    if (progress != nullptr && progress(0, total, TARSEL_OK, user) == 0) {
      return static_cast<int>(TARSEL_ERROR_CANCELLED);
    }
    int result = TARSEL_OK;
    PacketList page;
    for (std::size_t n = 0; n < count; ++n) {
      tarsel::BuildFlashPage(image, static_cast<std::uint32_t>(n * tarsel::kFlashPageBytes),
                             kFlashPage, page);
      const int code = SendSetCommand(page.packets);
      if (result == TARSEL_OK && code != TARSEL_OK) result = code;
      const bool goOn =
          progress == nullptr || progress(static_cast<int>(n + 1), total, code, user) != 0;
      // A silent arm would let every remaining page time out as well.
      if (tarsel::LinkLost(code)) return code;
      if (const int stop = tarsel::PendingStop(); stop != 0 && n + 1 < count) return stop;
      if (!goOn && n + 1 < count) {
        return result != TARSEL_OK ? result : static_cast<int>(TARSEL_ERROR_CANCELLED);
      }
    }
    return result;
  });
}

int ProgramFlash(const char* path) {
  return ProgramFlashWithProgress(path, nullptr, nullptr);
}
