// The link libraries' capture files: pcapng files of Linux usbmon events
// (link type 220, LINKTYPE_USB_LINUX_MMAPPED), a submit and a complete event
// per transfer with the bus and device numbers, the endpoint, the time, the
// status and the bytes, as Wireshark and tshark show any USB capture. One
// writer makes both the field trace (TARSEL_TRACE, packet_trace.h) and the
// saved recent transfers (recent_packets.h). It knows nothing of libusb, so
// that the simulator's link library writes the same files. Internal to the
// link libraries.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarsel::link {

// One usbmon event: the submission ('S') or the completion ('C') of a
// transfer.
struct UsbEvent {
  std::uint64_t id = 0;                 // the same for both events of a transfer
  char type = 'S';                      // 'S' or 'C'
  unsigned char endpoint = 0;           // number and direction bit (0x80: IN)
  unsigned char device = 0;             // device address
  std::uint16_t bus = 0;                // bus number
  std::int64_t time = 0;                // microseconds since the epoch (wall clock)
  std::int32_t status = 0;              // -EINPROGRESS on submit, then 0 or -errno
  std::uint32_t length = 0;             // bytes asked for (submit) or moved (complete)
  const unsigned char* data = nullptr;  // the bytes the event carries, if any
  std::uint32_t captured = 0;           // how many
};

// Microseconds since the epoch, as the events carry them. A read of the
// clock through the vDSO: no system call.
std::int64_t WallMicroseconds();

// Opens path for a new capture: a path that does not exist yet is created,
// an existing regular file on a disk is emptied. Anything else is refused
// before a byte is written: a FIFO (whose opening would wait for a reader),
// a device (/dev/full takes nothing, /dev/null everything), a directory, a
// symbolic link, a file of /proc or /sys. Returns the descriptor (the caller
// owns it), or -1 with why set to a short reason ("a directory",
// "No such file or directory").
int OpenCaptureFile(const char* path, std::string& why);

// Writes one capture file: its header at once, then events in batches.
class CaptureWriter {
 public:
  // Takes over fd (an empty regular file from OpenCaptureFile) and writes
  // the capture's header, naming application as the program that wrote it.
  // Failed() tells whether that worked.
  CaptureWriter(int fd, const char* application);
  // Closes the file.
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // Queues event for the next Flush (the buffer grows to the largest batch
  // once and is reused).
  void Add(const UsbEvent& event);
  // Writes the events queued since the last Flush, straight to the file.
  // On the first failure (a full disk, a file size limit) cuts the file back
  // to the last block written whole, so that it stays readable, and closes
  // it; later calls write nothing. Returns 0, or the errno of the failure.
  int Flush();
  // The errno of the first failure, or 0.
  int Failed() const { return error_; }

 private:
  int fd_;
  int error_ = 0;
  off_t written_ = 0;  // bytes of whole blocks in the file
  std::vector<unsigned char> pending_;
};

}  // namespace tarsel::link
