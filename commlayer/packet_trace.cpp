#include "packet_trace.h"

#include <dlfcn.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
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

// Makes this library stay loaded until the process ends, so that the trace
// is one file however often the API library loads and unloads it.
void KeepLoaded() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&KeepLoaded), &self) != 0 && self.dli_fname != nullptr) {
    dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

}  // namespace

class PacketTrace {
 public:
  explicit PacketTrace(std::FILE* file) : file_(file) {
    Block section(kSectionHeader);
    section.Put(kByteOrderMagic);
    section.Put(std::uint16_t{1});
    section.Put(std::uint16_t{0});
    section.Put(std::int64_t{-1});  // section length not known
    section.Option(kOptionShbUserApplication, "Tarsel link library (TARSEL_TRACE)");
    section.Put(kOptionEnd);
    section.Put(std::uint16_t{0});
    Write(section.Finish());
    Block interface(kInterfaceDescription);
    interface.Put(kLinkTypeUsbLinuxMmapped);
    interface.Put(std::uint16_t{0});
    interface.Put(std::uint32_t{0});  // no snapshot limit
    interface.Option(kOptionIfName, "usbmon");
    interface.Put(kOptionEnd);
    interface.Put(std::uint16_t{0});
    Write(interface.Finish());
    std::fflush(file_);
  }
  ~PacketTrace() { std::fclose(file_); }
  PacketTrace(const PacketTrace&) = delete;
  PacketTrace& operator=(const PacketTrace&) = delete;

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
    Write(packet.Finish());
    // Each event reaches the file at once: a trace is most wanted from a
    // program that did not end well.
    std::fflush(file_);
    return id;
  }

 private:
  void Write(const std::vector<unsigned char>& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
  }

  std::mutex mutex_;
  std::FILE* file_;
  std::uint64_t lastId_ = 0;
  std::once_flag keepLoaded_;
};

namespace {

std::unique_ptr<PacketTrace> OpenFromEnvironment() {
  const char* path = std::getenv("TARSEL_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "TARSEL_TRACE: cannot write %s: %s\n", path, std::strerror(errno));
    return nullptr;
  }
  return std::make_unique<PacketTrace>(file);
}

const std::unique_ptr<PacketTrace> g_openTrace = OpenFromEnvironment();

}  // namespace

PacketTrace* const g_trace = g_openTrace.get();

int TracedTransfer(PacketTrace& trace, libusb_device_handle* handle, unsigned char endpoint,
                   unsigned char* data, int length, int* transferred, unsigned timeout) {
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
