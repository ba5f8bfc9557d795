#include "capture_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace tarsel::link {

namespace {

// pcapng block types and the link type of usbmon's 64-byte header.
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescription = 0x00000001;
constexpr std::uint32_t kEnhancedPacket = 0x00000006;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kLinkTypeUsbLinuxMmapped = 220;
constexpr std::uint16_t kOptionEnd = 0;
constexpr std::uint16_t kOptionShbUserApplication = 4;
constexpr std::uint16_t kOptionIfName = 2;

// usbmon's event header (Documentation/usb/usbmon.rst, "mmapped" form).
struct UsbmonHeader {
  std::uint64_t id;        // ties a completion to its submission
  unsigned char type;      // 'S' submit, 'C' complete
  unsigned char transfer;  // 1: interrupt
  unsigned char endpoint;  // number and direction bit (0x80: IN)
  unsigned char device;    // device address
  std::uint16_t bus;       // bus number
  char setupFlag;          // '-': no setup packet
  char dataFlag;           // 0: data follows; '<' or '>': none
  std::int64_t seconds;    // time of the event
  std::int32_t microseconds;
  std::int32_t status;     // -EINPROGRESS on submit, then 0 or -errno
  std::uint32_t length;    // bytes asked for (submit) or transferred (complete)
  std::uint32_t captured;  // data bytes that follow the header
  unsigned char setup[8];
  std::int32_t interval;
  std::int32_t startFrame;
  std::uint32_t transferFlags;
  std::uint32_t descriptors;
};
static_assert(sizeof(UsbmonHeader) == 64, "usbmon's header is 64 bytes");

// Builds one block at the end of a buffer: its type, its length (set by
// Finish), its body, its length again.
class Block {
 public:
  Block(std::vector<unsigned char>& out, std::uint32_t type) : out_(out), start_(out.size()) {
    Put(type);
    Put(std::uint32_t{0});
  }
  template <typename T>
  void Put(T value) {
    Bytes(&value, sizeof value);
  }
  void Bytes(const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    out_.insert(out_.end(), p, p + n);
  }
  void Pad() {
    while ((out_.size() - start_) % 4 != 0) out_.push_back(0);
  }
  void Option(std::uint16_t code, const char* text) {
    Put(code);
    Put(static_cast<std::uint16_t>(std::strlen(text)));
    Bytes(text, std::strlen(text));
    Pad();
  }
  void Finish() {
    Pad();
    const auto total = static_cast<std::uint32_t>(out_.size() - start_ + 4);
    Put(total);
    std::memcpy(out_.data() + start_ + 4, &total, 4);
  }

 private:
  std::vector<unsigned char>& out_;
  std::size_t start_;
};

// Why a path that is there but no regular file cannot take a capture.
const char* NotRegular(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO, not a regular file";
  if (S_ISLNK(mode)) return "a symbolic link, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a regular file";
  if (S_ISSOCK(mode)) return "a socket, not a regular file";
  return "not a regular file";
}

// File systems whose "regular" files are the kernel's: writing a capture
// there would change a setting or vanish, never make a capture.
bool KernelFileSystem(long type) {
  switch (static_cast<unsigned long>(type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BPF_FS_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::int64_t WallMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int OpenCaptureFile(const char* path, std::string& why) {
  struct stat st {};
  // Most special files are refused here, without being opened at all.
  if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    why = NotRegular(st.st_mode);
    return -1;
  }
  // The path may have changed since: O_NONBLOCK keeps a FIFO from blocking,
  // O_NOFOLLOW refuses a link, and fstat checks what was opened.
  const int fd = open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    why = errno == ELOOP ? NotRegular(S_IFLNK) : std::strerror(errno);
    return -1;
  }
  struct statfs fs {};
  if (fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = NotRegular(st.st_mode);
  } else if (fstatfs(fd, &fs) == 0 && KernelFileSystem(fs.f_type)) {
    why = "a file of the kernel (/proc, /sys), not of a disk";
  } else if (ftruncate(fd, 0) != 0) {
    why = std::strerror(errno);
  } else {
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
  }
  close(fd);
  return -1;
}

CaptureWriter::CaptureWriter(int fd, const char* application) : fd_(fd) {
  Block section(pending_, kSectionHeader);
  section.Put(kByteOrderMagic);
  section.Put(std::uint16_t{1});
  section.Put(std::uint16_t{0});
  section.Put(std::int64_t{-1});  // section length not known
  section.Option(kOptionShbUserApplication, application);
  section.Put(kOptionEnd);
  section.Put(std::uint16_t{0});
  section.Finish();
  Block interface(pending_, kInterfaceDescription);
  interface.Put(kLinkTypeUsbLinuxMmapped);
  interface.Put(std::uint16_t{0});
  interface.Put(std::uint32_t{0});  // no snapshot limit
  interface.Option(kOptionIfName, "usbmon");
  interface.Put(kOptionEnd);
  interface.Put(std::uint16_t{0});
  interface.Finish();
  Flush();
}

CaptureWriter::~CaptureWriter() {
  if (fd_ >= 0) close(fd_);
}

void CaptureWriter::Add(const UsbEvent& event) {
  UsbmonHeader h{};
  h.id = event.id;
  h.type = static_cast<unsigned char>(event.type);
  h.transfer = 1;
  h.endpoint = event.endpoint;
  h.device = event.device;
  h.bus = event.bus;
  h.setupFlag = '-';
  h.dataFlag = event.captured > 0 ? 0 : ((event.endpoint & 0x80) != 0 ? '<' : '>');
  h.seconds = event.time / 1000000;
  h.microseconds = static_cast<std::int32_t>(event.time % 1000000);
  h.status = event.status;
  h.length = event.length;
  h.captured = event.captured;
  h.interval = 1;

  const auto stamp = static_cast<std::uint64_t>(event.time);
  const auto size = static_cast<std::uint32_t>(sizeof h + event.captured);
  Block packet(pending_, kEnhancedPacket);
  packet.Put(std::uint32_t{0});  // interface 0
  packet.Put(static_cast<std::uint32_t>(stamp >> 32));
  packet.Put(static_cast<std::uint32_t>(stamp & 0xFFFFFFFFu));
  packet.Put(size);
  packet.Put(size);
  packet.Bytes(&h, sizeof h);
  if (event.captured > 0) packet.Bytes(event.data, event.captured);
  packet.Finish();
}

int CaptureWriter::Flush() {
  if (fd_ < 0) {
    pending_.clear();
    return error_;
  }
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      error_ = n < 0 ? errno : EIO;
      // Keep every block that went out whole.
      std::size_t whole = 0;
      while (whole + 8 <= done) {
        std::uint32_t length = 0;
        std::memcpy(&length, pending_.data() + whole + 4, sizeof length);
        if (whole + length > done) break;
        whole += length;
      }
      if (ftruncate(fd_, written_ + static_cast<off_t>(whole)) != 0) {
        // The partial block stays; readers stop at it.
      }
      close(fd_);
      fd_ = -1;
      pending_.clear();
      return error_;
    }
  }
  written_ += static_cast<off_t>(pending_.size());
  pending_.clear();
  return 0;
}

}  // namespace tarsel::link
