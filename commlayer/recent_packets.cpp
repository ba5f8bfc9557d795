#include "recent_packets.h"

#include <cerrno>
#include <new>
#include <string>

#include "capture_file.h"
#include "tarsel/comm_layer.h"
#include "tarsel/result.h"

namespace tarsel::link {

namespace {

// Constant-initialised: no constructor runs at load, and the slots' pages
// are touched only as transfers fill them.
constinit TransferRing<kRecentTransfers> g_recent;

// Events are written in batches of this many transfers, so that a full
// ring never needs a buffer of its own size.
constexpr std::size_t kBatch = 256;

}  // namespace

TransferRing<kRecentTransfers>& RecentTransfers() {
  return g_recent;
}

void RecordExchange(std::uint16_t bus, unsigned char device, const Packet& request,
                    const Packet* answer) {
  unsigned char wire[TARSEL_PACKET_SIZE];
  RecentTransfer t;
  t.bus = bus;
  t.device = device;
  t.length = TARSEL_PACKET_SIZE;
  t.submitted = t.completed = WallMicroseconds();
  t.endpoint = TARSEL_USB_ENDPOINT_OUT;
  t.moved = TARSEL_PACKET_SIZE;
  t.captured = TARSEL_PACKET_SIZE;
  EncodePacket(request, wire);
  g_recent.Record(t, wire);
  t.endpoint = TARSEL_USB_ENDPOINT_IN;
  t.completed = WallMicroseconds();
  if (answer != nullptr) {
    EncodePacket(*answer, wire);
  } else {
    t.status = -ETIMEDOUT;
    t.moved = 0;
    t.captured = 0;
  }
  g_recent.Record(t, wire);
}

int WriteCapture(const std::vector<RecentTransfer>& transfers, const char* path) {
  std::string why;
  const int fd = OpenCaptureFile(path, why);
  if (fd < 0) return TARSEL_ERROR_FILE_WRITE;
  CaptureWriter writer(fd, "Tarsel link library (recent packets)");
  for (std::size_t i = 0; i < transfers.size() && writer.Failed() == 0; ++i) {
    const RecentTransfer& t = transfers[i];
    const bool in = (t.endpoint & 0x80) != 0;
    UsbEvent e;
    e.id = t.number;
    e.endpoint = t.endpoint;
    e.device = t.device;
    e.bus = t.bus;
    e.type = 'S';
    e.time = t.submitted;
    e.status = -EINPROGRESS;
    e.length = t.length;
    e.data = t.data;
    e.captured = in ? 0 : t.captured;
    writer.Add(e);
    e.type = 'C';
    e.time = t.completed;
    e.status = t.status;
    e.length = t.moved;
    e.captured = in ? t.captured : 0;
    writer.Add(e);
    if ((i + 1) % kBatch == 0) writer.Flush();
  }
  return writer.Flush() == 0 ? TARSEL_OK : TARSEL_ERROR_FILE_WRITE;
}

int SaveRecentTransfers(const char* path) {
  if (path == nullptr || *path == '\0') return TARSEL_ERROR_ARGUMENT;
  try {
    std::vector<RecentTransfer> transfers;
    g_recent.Snapshot(transfers);
    return WriteCapture(transfers, path);
  } catch (const std::bad_alloc&) {
    return TARSEL_ERROR_NO_MEMORY;
  }
}

}  // namespace tarsel::link

// The export only forwards, so that no call inside the library goes through
// it.
int TarselLinkSaveRecentPackets(const char* path) {
  return tarsel::link::SaveRecentTransfers(path);
}
