#include "packet_trace.h"

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "capture_file.h"
#include "recent_packets.h"

namespace tarsel::link {

namespace {

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

// The field trace: one capture file, written event by event.
class PacketTrace {
 public:
  // Takes over fd, an empty regular file, and writes the capture's header.
  PacketTrace(int fd, std::string path)
      : writer_(fd, "Tarsel link library (TARSEL_TRACE)"), path_(std::move(path)) {
    Report(writer_.Failed());
  }

  // False once a write failed: the link then goes on without a trace.
  bool Recording() const { return recording_.load(std::memory_order_relaxed); }

  // Writes event at once, giving it a new id when its id is 0. Returns the
  // id.
  std::uint64_t Event(UsbEvent event) {
    std::call_once(keepLoaded_, KeepLoaded);
    std::lock_guard lock(mutex_);
    if (event.id == 0) event.id = ++lastId_;
    writer_.Add(event);
    Report(writer_.Flush());
    return event.id;
  }

 private:
  // On the first failure (a full disk, a file size limit) says so once on
  // standard error and stops recording; the writer has cut the file back to
  // its last whole block.
  void Report(int error) {
    if (error == 0 || !recording_.exchange(false, std::memory_order_relaxed)) return;
    std::fprintf(stderr, "TARSEL_TRACE: writing %s failed: %s; the link goes on without a trace\n",
                 path_.c_str(), std::strerror(error));
  }

  std::mutex mutex_;
  CaptureWriter writer_;
  const std::string path_;
  std::atomic<bool> recording_{true};
  std::uint64_t lastId_ = 0;
  std::once_flag keepLoaded_;
};

std::unique_ptr<PacketTrace> OpenFromEnvironment() {
  const char* path = std::getenv("TARSEL_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  std::string why;
  const int fd = OpenCaptureFile(path, why);
  if (fd < 0) {
    std::fprintf(stderr, "TARSEL_TRACE: cannot write %s: %s; the link goes on without a trace\n",
                 path, why.c_str());
    return nullptr;
  }
  auto trace = std::make_unique<PacketTrace>(fd, path);
  // A header that could not be written has been reported.
  return trace->Recording() ? std::move(trace) : nullptr;
}

// The open trace, or null when tracing is off (decided once, at load).
const std::unique_ptr<PacketTrace> g_openTrace = OpenFromEnvironment();
PacketTrace* const g_trace = g_openTrace.get();

}  // namespace

void KeepLoaded() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&KeepLoaded), &self) != 0 && self.dli_fname != nullptr) {
    dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

int InterruptTransfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                      int length, int* transferred, unsigned timeout) {
  const bool in = (endpoint & 0x80) != 0;
  libusb_device* device = libusb_get_device(handle);
  RecentTransfer t;
  t.endpoint = endpoint;
  t.bus = device != nullptr ? libusb_get_bus_number(device) : 0;
  t.device = device != nullptr ? libusb_get_device_address(device) : 0;
  t.length = static_cast<std::uint32_t>(length > 0 ? length : 0);
  t.submitted = WallMicroseconds();

  PacketTrace* const trace = g_trace != nullptr && g_trace->Recording() ? g_trace : nullptr;
  UsbEvent event;
  if (trace != nullptr) [[unlikely]] {
    event.endpoint = t.endpoint;
    event.device = t.device;
    event.bus = t.bus;
    event.time = t.submitted;
    event.status = -EINPROGRESS;
    event.length = t.length;
    event.data = data;
    event.captured = in ? 0 : t.length;
    event.id = trace->Event(event);
  }
  const int result =
      libusb_interrupt_transfer(handle, endpoint, data, length, transferred, timeout);
  t.completed = WallMicroseconds();
  t.status = StatusOf(result);
  t.moved = static_cast<std::uint32_t>(*transferred > 0 ? *transferred : 0);
  // An OUT transfer keeps the bytes it was given, an IN transfer those it
  // received.
  const std::uint32_t kept = in ? t.moved : t.length;
  t.captured = static_cast<std::uint8_t>(kept < TARSEL_PACKET_SIZE ? kept : TARSEL_PACKET_SIZE);
  RecentTransfers().Record(t, data);
  if (trace != nullptr) [[unlikely]] {
    event.type = 'C';
    event.time = t.completed;
    event.status = t.status;
    event.length = t.moved;
    event.captured = in ? t.moved : 0;
    trace->Event(event);
  }
  return result;
}

}  // namespace tarsel::link
