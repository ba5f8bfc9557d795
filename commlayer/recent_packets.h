// The recent transfers of a link library: the last kRecentTransfers USB
// transfers of the process (the plain functions' link and every handle's),
// kept in memory at all times and saved on demand as the same pcapng capture
// the field trace writes (capture_file.h), oldest first. Recording one costs
// a copy of its at most 64 bytes and two reads of the clock under a lock
// held for that copy only: no allocation, no system call. Internal to the
// link libraries (the USB link and the simulator's, which keep one each).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "tarsel/packet.h"

namespace tarsel::link {

// How many transfers are kept: 2048 exchanges of a request and an answer
// (about 10 s of a loop that makes two exchanges per cycle at 100 Hz), in
// 448 KiB.
inline constexpr std::size_t kRecentTransfers = 4096;

// One finished transfer.
struct RecentTransfer {
  std::uint64_t number = 0;    // counted from 1 in the ring's life
  std::int64_t submitted = 0;  // microseconds since the epoch
  std::int64_t completed = 0;
  std::int32_t status = 0;   // 0, or -errno as the kernel reports it
  std::uint32_t length = 0;  // bytes asked for
  std::uint32_t moved = 0;   // bytes moved
  std::uint16_t bus = 0;     // where the arm is
  unsigned char device = 0;
  unsigned char endpoint = 0;  // number and direction bit (0x80: IN)
  std::uint8_t captured = 0;   // bytes of data kept: sent (OUT) or received (IN)
  unsigned char data[TARSEL_PACKET_SIZE] = {};
};

// A ring of the last N finished transfers. Every member may be called from
// any thread at any time.
template <std::size_t N>
class TransferRing {
 public:
  static_assert(N > 0, "a ring keeps at least one transfer");

  // Keeps transfer (its number aside) as the newest, replacing the oldest
  // once N are kept; of its data the first min(captured, 64) bytes.
  void Record(const RecentTransfer& transfer, const unsigned char* data) {
    const std::size_t captured =
        transfer.captured < TARSEL_PACKET_SIZE ? transfer.captured : TARSEL_PACKET_SIZE;
    std::lock_guard lock(mutex_);
    RecentTransfer& slot = slots_[recorded_ % N];
    // Field by field, so that only the bytes captured are copied.
    slot.number = ++recorded_;
    slot.submitted = transfer.submitted;
    slot.completed = transfer.completed;
    slot.status = transfer.status;
    slot.length = transfer.length;
    slot.moved = transfer.moved;
    slot.bus = transfer.bus;
    slot.device = transfer.device;
    slot.endpoint = transfer.endpoint;
    slot.captured = static_cast<std::uint8_t>(captured);
    if (captured == TARSEL_PACKET_SIZE) {
      std::memcpy(slot.data, data, TARSEL_PACKET_SIZE);  // a whole packet: inlined
    } else if (captured > 0) {
      std::memcpy(slot.data, data, captured);
    }
  }

  // Replaces out's contents with the transfers kept, oldest first, as they
  // all stood at one moment: a transfer recorded meanwhile is either whole
  // in it or absent. Allocates before taking the lock (std::bad_alloc
  // escapes, out then unchanged).
  void Snapshot(std::vector<RecentTransfer>& out) const {
    std::vector<RecentTransfer> copy(N);
    std::size_t count = 0;
    {
      std::lock_guard lock(mutex_);
      count = recorded_ < N ? static_cast<std::size_t>(recorded_) : N;
      const std::size_t oldest = static_cast<std::size_t>((recorded_ - count) % N);
      const std::size_t firstPart = count < N - oldest ? count : N - oldest;
      std::memcpy(copy.data(), slots_.data() + oldest, firstPart * sizeof(RecentTransfer));
      std::memcpy(copy.data() + firstPart, slots_.data(),
                  (count - firstPart) * sizeof(RecentTransfer));
    }
    copy.resize(count);
    out.swap(copy);
  }

 private:
  mutable std::mutex mutex_;
  std::uint64_t recorded_ = 0;  // transfers recorded so far
  std::array<RecentTransfer, N> slots_{};
};

// The process's ring in this link library.
TransferRing<kRecentTransfers>& RecentTransfers();

// Keeps one exchange that did not go over USB (the simulator's): the
// request as a finished OUT transfer to endpoint 0x02, then the answer as an
// IN transfer from 0x82, or, with answer null, an IN transfer that timed out
// with nothing moved. Both are timed now.
void RecordExchange(std::uint16_t bus, unsigned char device, const Packet& request,
                    const Packet* answer);

// Writes transfers to path as a pcapng capture, a submit and a complete
// event per transfer, the ids their numbers. The file is opened as
// OpenCaptureFile does (refusing anything but a new path or a regular file
// on a disk). Returns 1 (written; no transfers gives a capture of the
// header only), 5005 (the path cannot be opened, or the writing failed: a
// file cut short keeps its whole blocks and stays readable).
int WriteCapture(const std::vector<RecentTransfer>& transfers, const char* path);

// What TarselLinkSaveRecentPackets does in either link library: a snapshot
// of RecentTransfers() written to path. Returns 1, 2100 (path null or ""),
// 5002 (no memory for the snapshot), 5005 (as WriteCapture).
int SaveRecentTransfers(const char* path);

}  // namespace tarsel::link
