#include "packet_trace.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

// The kernel's status of a transfer as libusb reported it.
std::int32_t StatusOf(int result) {
  switch (result) {
    case LIBUSB_SUCCESS:
      return 0;
    case LIBUSB_ERROR_TIMEOUT:
      return -ETIMEDOUT;
    case LIBUSB_ERROR_PIPE:
      return -EPIPE;
    case LIBUSB_ERROR_NO_DEVICE:
      return -ENODEV;
    case LIBUSB_ERROR_OVERFLOW:
      return -EOVERFLOW;
    case LIBUSB_ERROR_BUSY:
      return -EBUSY;
    case LIBUSB_ERROR_INTERRUPTED:
      return -EINTR;
    case LIBUSB_ERROR_NO_MEM:
      return -ENOMEM;
    case LIBUSB_ERROR_INVALID_PARAM:
      return -EINVAL;
    case LIBUSB_ERROR_ACCESS:
      return -EACCES;
    case LIBUSB_ERROR_NOT_FOUND:
      return -ENOENT;
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return -ENOSYS;
    default:
      return -EIO;
  }
}

class Block {
 public:
  explicit Block(std::uint32_t type) {
    Put(type);
    Put(std::uint32_t{0});  // total length, set by Finish
  }
  template <typename T>
  void Put(T value) {
    Bytes(&value, sizeof value);
  }
  void Bytes(const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    bytes_.insert(bytes_.end(), p, p + n);
  }
  void Pad() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  void Option(std::uint16_t code, const char* text) {
    Put(code);
    Put(static_cast<std::uint16_t>(std::strlen(text)));
    Bytes(text, std::strlen(text));
    Pad();
  }
  const std::vector<unsigned char>& Finish() {
    Pad();
    const auto total = static_cast<std::uint32_t>(bytes_.size() + 4);
    Put(total);
    std::memcpy(bytes_.data() + 4, &total, 4);
    return bytes_;
  }

 private:
  std::vector<unsigned char> bytes_;
};

// Why a path that is there but no regular file cannot take the trace.
const char* NotRegular(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO, not a regular file";
  if (S_ISLNK(mode)) return "a symbolic link, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a regular file";
  if (S_ISSOCK(mode)) return "a socket, not a regular file";
  return "not a regular file";
}

// File systems whose "regular" files are the kernel's: writing the trace
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

// Opens path for a new trace: a path that does not exist yet is created, an
// existing regular file on a disk is emptied. Anything else is refused
// before a byte is written: a FIFO (whose opening would wait for a reader,
// and the library is being loaded), a device (/dev/full takes nothing,
// /dev/null everything), a directory, a symbolic link, a file of /proc or
// /sys. Returns the descriptor (the caller owns it), or -1 with why set.
int OpenTraceFile(const char* path, std::string& why) {
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

}  // namespace

void KeepLoaded() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&KeepLoaded), &self) != 0 && self.dli_fname != nullptr) {
    dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

class PacketTrace {
 public:
  // Takes over fd, an empty regular file, and writes the capture's header.
  PacketTrace(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
    Block section(kSectionHeader);
    section.Put(kByteOrderMagic);
    section.Put(std::uint16_t{1});
    section.Put(std::uint16_t{0});
    section.Put(std::int64_t{-1});  // section length not known
    section.Option(kOptionShbUserApplication, "Tarsel link library (TARSEL_TRACE)");
    section.Put(kOptionEnd);
    section.Put(std::uint16_t{0});
    Block interface(kInterfaceDescription);
    interface.Put(kLinkTypeUsbLinuxMmapped);
    interface.Put(std::uint16_t{0});
    interface.Put(std::uint32_t{0});  // no snapshot limit
    interface.Option(kOptionIfName, "usbmon");
    interface.Put(kOptionEnd);
    interface.Put(std::uint16_t{0});
    std::lock_guard lock(mutex_);
    if (Write(section.Finish())) Write(interface.Finish());
  }
  ~PacketTrace() {
    if (fd_ >= 0) close(fd_);
  }
  PacketTrace(const PacketTrace&) = delete;
  PacketTrace& operator=(const PacketTrace&) = delete;

  // False once a write failed: the link then goes on without a trace.
  bool Recording() const { return recording_.load(std::memory_order_relaxed); }

  // One usbmon event; data holds captured bytes.
  std::uint64_t Event(std::uint64_t id, char type, libusb_device_handle* handle,
                      unsigned char endpoint, std::int32_t status, std::uint32_t length,
                      const unsigned char* data, std::uint32_t captured) {
    std::call_once(keepLoaded_, KeepLoaded);
    timeval now{};
    gettimeofday(&now, nullptr);
    libusb_device* device = libusb_get_device(handle);
    UsbmonHeader h{};
    h.type = static_cast<unsigned char>(type);
    h.transfer = 1;
    h.endpoint = endpoint;
    h.device = device != nullptr ? libusb_get_device_address(device) : 0;
    h.bus = device != nullptr ? libusb_get_bus_number(device) : 0;
    h.setupFlag = '-';
    h.dataFlag = captured > 0 ? 0 : ((endpoint & 0x80) != 0 ? '<' : '>');
    h.seconds = now.tv_sec;
    h.microseconds = static_cast<std::int32_t>(now.tv_usec);
    h.status = status;
    h.length = length;
    h.captured = captured;
    h.interval = 1;

    const std::uint64_t stamp =
        static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_usec);
    Block packet(kEnhancedPacket);
    packet.Put(std::uint32_t{0});  // interface 0
    packet.Put(static_cast<std::uint32_t>(stamp >> 32));
    packet.Put(static_cast<std::uint32_t>(stamp & 0xFFFFFFFFu));
    packet.Put(static_cast<std::uint32_t>(sizeof h + captured));
    packet.Put(static_cast<std::uint32_t>(sizeof h + captured));

    std::lock_guard lock(mutex_);
    if (id == 0) id = ++lastId_;
    h.id = id;
    packet.Bytes(&h, sizeof h);
    if (captured > 0) packet.Bytes(data, captured);
    // Straight to the file, unbuffered: a trace is most wanted from a
    // program that did not end well.
    Write(packet.Finish());
    return id;
  }

 private:
  // Appends one whole block. On the first failure (a full disk, a file size
  // limit) says so once on standard error, cuts the file back to its last
  // whole block so that it stays readable, and stops recording. Called with
  // mutex_ held. Returns whether the block was written.
  bool Write(const std::vector<unsigned char>& bytes) {
    if (fd_ < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        const int error = n < 0 ? errno : EIO;
        if (ftruncate(fd_, written_) != 0) {
          // The partial block stays; readers stop at it.
        }
        close(fd_);
        fd_ = -1;
        recording_.store(false, std::memory_order_relaxed);
        std::fprintf(stderr,
                     "TARSEL_TRACE: writing %s failed: %s; the link goes on without a trace\n",
                     path_.c_str(), std::strerror(error));
        return false;
      }
    }
    written_ += static_cast<off_t>(bytes.size());
    return true;
  }

  std::mutex mutex_;
  int fd_;  // -1 once a write failed
  const std::string path_;
  off_t written_ = 0;  // bytes of whole blocks in the file
  std::atomic<bool> recording_{true};
  std::uint64_t lastId_ = 0;
  std::once_flag keepLoaded_;
};

namespace {

std::unique_ptr<PacketTrace> OpenFromEnvironment() {
  const char* path = std::getenv("TARSEL_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  std::string why;
  const int fd = OpenTraceFile(path, why);
  if (fd < 0) {
    std::fprintf(stderr, "TARSEL_TRACE: cannot write %s: %s; the link goes on without a trace\n",
                 path, why.c_str());
    return nullptr;
  }
  auto trace = std::make_unique<PacketTrace>(fd, path);
  // A header that could not be written has been reported.
  return trace->Recording() ? std::move(trace) : nullptr;
}

const std::unique_ptr<PacketTrace> g_openTrace = OpenFromEnvironment();

}  // namespace

PacketTrace* const g_trace = g_openTrace.get();

int TracedTransfer(PacketTrace& trace, libusb_device_handle* handle, unsigned char endpoint,
                   unsigned char* data, int length, int* transferred, unsigned timeout) {
  if (!trace.Recording()) [[unlikely]] {
    return libusb_interrupt_transfer(handle, endpoint, data, length, transferred, timeout);
  }
  const bool in = (endpoint & 0x80) != 0;
  const auto asked = static_cast<std::uint32_t>(length);
  const std::uint64_t id =
      trace.Event(0, 'S', handle, endpoint, -EINPROGRESS, asked, data, in ? 0 : asked);
  const int result =
      libusb_interrupt_transfer(handle, endpoint, data, length, transferred, timeout);
  const auto moved = static_cast<std::uint32_t>(*transferred > 0 ? *transferred : 0);
  trace.Event(id, 'C', handle, endpoint, StatusOf(result), moved, data, in ? moved : 0);
  return result;
}

}  // namespace tarsel::link
