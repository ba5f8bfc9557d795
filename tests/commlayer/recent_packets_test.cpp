// The recent transfers the link library keeps and saves: the ring keeps
// exactly the last N in order, a save racing with exchanges holds whole
// transfers taken at one moment, a path that cannot take the capture gets
// its code, and the flat API reaches the save through the link it loaded.
// (That tshark reads a saved capture as the field trace is in trace_test.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recent_packets.h"
#include "tarsel/core.h"
#include "tarsel/motion.h"
#include "tarsel/result.h"
#include "wire.h"

namespace tarsel::testing {
namespace {

using link::RecentTransfer;
using link::TransferRing;
using vusb::VirtualArm;

// --- The ring ------------------------------------------------------------------

// Records transfers 1..recorded into a ring of N, transfer i with
// i % 65 bytes of value i and its number in status and bus, and checks that
// the ring gives back exactly the last N, oldest first, each whole.
template <std::size_t N>
void ExpectLastKept(std::size_t recorded) {
  auto ring = std::make_unique<TransferRing<N>>();
  for (std::size_t i = 1; i <= recorded; ++i) {
    RecentTransfer t;
    t.status = -static_cast<std::int32_t>(i);
    t.bus = static_cast<std::uint16_t>(i);
    t.captured = static_cast<std::uint8_t>(i % 65);
    const std::vector<unsigned char> data(64, static_cast<unsigned char>(i));
    ring->Record(t, data.data());
  }
  std::vector<RecentTransfer> kept{RecentTransfer{}};
  ring->Snapshot(kept);
  const std::size_t expected = recorded < N ? recorded : N;
  ASSERT_EQ(kept.size(), expected);
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const std::size_t i = recorded - expected + 1 + k;
    const RecentTransfer& t = kept[k];
    ASSERT_EQ(t.number, i);
    EXPECT_EQ(t.status, -static_cast<std::int32_t>(i));
    EXPECT_EQ(t.bus, static_cast<std::uint16_t>(i));
    ASSERT_EQ(t.captured, i % 65);
    for (std::size_t b = 0; b < t.captured; ++b) {
      ASSERT_EQ(t.data[b], static_cast<unsigned char>(i)) << "transfer " << i << " byte " << b;
    }
  }
}

TEST(TransferRing, KeepsExactlyTheLastInOrderAcrossWrapAround) {
  // Empty, part full, full, one past, several times round.
  for (std::size_t recorded : {0, 1, 4, 5, 6, 13, 27}) {
    SCOPED_TRACE(recorded);
    ExpectLastKept<5>(recorded);
  }
  // The library's own size, past its end.
  for (std::size_t recorded :
       {link::kRecentTransfers, link::kRecentTransfers + 1, 2 * link::kRecentTransfers + 7}) {
    SCOPED_TRACE(recorded);
    ExpectLastKept<link::kRecentTransfers>(recorded);
  }
}

// --- Reading a capture back ------------------------------------------------------

// One usbmon event of a capture: the fields the tests look at.
struct Event {
  std::uint64_t id = 0;
  char type = 0;
  unsigned char endpoint = 0;
  std::int32_t status = 0;
  std::vector<unsigned char> data;
};

struct Capture {
  bool whole = false;  // every block complete and well formed
  std::vector<Event> events;
};

template <typename T>
T At(const std::vector<unsigned char>& bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// Reads a pcapng file of usbmon events (one section, little-endian, the
// usbmon header at the start of every packet).
Capture ReadCapture(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
  Capture capture;
  std::size_t at = 0;
  while (at + 12 <= bytes.size()) {
    const auto type = At<std::uint32_t>(bytes, at);
    const auto length = At<std::uint32_t>(bytes, at + 4);
    if (length < 12 || length % 4 != 0 || at + length > bytes.size() ||
        At<std::uint32_t>(bytes, at + length - 4) != length) {
      return capture;
    }
    if (type == 6) {
      const std::size_t packet = at + 28;
      const auto captured = At<std::uint32_t>(bytes, at + 20);
      if (captured < 64 || packet + captured > at + length) return capture;
      Event e;
      e.id = At<std::uint64_t>(bytes, packet);
      e.type = static_cast<char>(bytes[packet + 8]);
      e.endpoint = bytes[packet + 10];
      e.status = At<std::int32_t>(bytes, packet + 28);
      e.data.assign(bytes.begin() + static_cast<long>(packet + 64),
                    bytes.begin() + static_cast<long>(packet + captured));
      capture.events.push_back(std::move(e));
    }
    at += length;
  }
  capture.whole = at == bytes.size() && at > 0 && At<std::uint32_t>(bytes, 0) == 0x0A0D0D0A;
  return capture;
}

std::string TempFile(const std::string& stem) {
  return (std::filesystem::temp_directory_path() /
          (stem + "-" + std::to_string(getpid()) + ".pcapng"))
      .string();
}

// --- Saving while exchanges run ----------------------------------------------------

constexpr short kRaceCommand = 0x1234;

// The packet whose wire form bytes are (a zeroed one when they are no
// whole packet).
Packet PacketOf(const std::vector<unsigned char>& bytes) {
  unsigned char wire[TARSEL_PACKET_SIZE] = {};
  if (bytes.size() == TARSEL_PACKET_SIZE) std::memcpy(wire, bytes.data(), sizeof wire);
  return DecodePacket(wire);
}

// Whether p is a request made by MakePacket with the race's command and some
// seed, or the mirror answering one: a transfer copied in part while another
// overwrote it would mix two seeds.
bool WholeRacePacket(const Packet& p, bool answer) {
  const unsigned seed = answer ? static_cast<unsigned char>(~p.Data[0]) : p.Data[0];
  Packet made = MakePacket({1, 1, kRaceCommand, 1}, seed);
  if (answer) made = MirrorOf(made);
  return std::memcmp(&p, &made, sizeof p) == 0;
}

// Exchanges made packets on a handle of the first arm from a thread of its
// own until destroyed.
class Exchanges {
 public:
  Exchanges() {
    EXPECT_EQ(TarselLinkOpenArm("", &link_), TARSEL_OK);
    thread_ = std::thread([this] {
      for (unsigned seed = 0; link_ != nullptr && !stop_.load(); ++seed) {
        const Packet request = MakePacket({1, 1, kRaceCommand, 1}, seed & 0xFFu);
        Packet answer{};
        if (TarselLinkExchange(link_, &request, &answer) == TARSEL_OK) ++done_;
      }
    });
  }
  ~Exchanges() {
    stop_ = true;
    thread_.join();
    TarselLinkCloseArm(link_);
  }
  bool Open() const { return link_ != nullptr; }
  int Done() const { return done_.load(); }

 private:
  TarselArmLink* link_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<int> done_{0};
  std::thread thread_;
};

TEST(RecentPackets, SavesWhileExchangesRunHoldWholeTransfersOfOneMoment) {
  VirtualArm arm(Mirror);
  const std::string file = TempFile("tarsel-recent-race");
  Exchanges exchanges;
  ASSERT_TRUE(exchanges.Open());
  // Saves begin once exchanges run; how many run during each save is up to
  // the machine, and every save must hold up however many it is.
  while (exchanges.Done() < 10) std::this_thread::yield();

  int ours = 0;
  for (int save = 0; save < 20; ++save) {
    ASSERT_EQ(TarselLinkSaveRecentPackets(file.c_str()), TARSEL_OK);
    const Capture capture = ReadCapture(file);
    ASSERT_TRUE(capture.whole) << "save " << save;
    ASSERT_EQ(capture.events.size() % 2, 0u);
    for (std::size_t i = 0; i < capture.events.size(); i += 2) {
      const Event& submit = capture.events[i];
      const Event& complete = capture.events[i + 1];
      // Each transfer whole, numbered one after the other: nothing of the
      // ring changed while it was copied.
      ASSERT_EQ(submit.type, 'S');
      ASSERT_EQ(complete.type, 'C');
      ASSERT_EQ(complete.id, submit.id);
      if (i > 0) {
        ASSERT_EQ(submit.id, capture.events[i - 2].id + 1);
      }
      const bool in = (submit.endpoint & 0x80) != 0;
      const Packet p = PacketOf(in ? complete.data : submit.data);
      if (p.CommandId == kRaceCommand) {
        ++ours;
        ASSERT_TRUE(WholeRacePacket(p, in)) << "save " << save << ", transfer " << submit.id;
      }
    }
  }
  EXPECT_GT(ours, 0);
  std::filesystem::remove(file);
}

// --- Paths that cannot take the capture -----------------------------------------------

TEST(RecentPackets, PathsThatCannotTakeTheCaptureAreRefused) {
  const std::filesystem::path folder = TempFile("tarsel-recent-places");
  std::filesystem::create_directory(folder);
  const std::string fifo = (folder / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string missing = (folder / "no-such-folder" / "saved.pcapng").string();
  const struct {
    const char* path;
    int code;
  } cases[] = {
      {nullptr, TARSEL_ERROR_ARGUMENT},
      {"", TARSEL_ERROR_ARGUMENT},
      {missing.c_str(), TARSEL_ERROR_FILE_WRITE},
      {folder.c_str(), TARSEL_ERROR_FILE_WRITE},
      // Refused at once: opening it would wait for a reader.
      {fifo.c_str(), TARSEL_ERROR_FILE_WRITE},
      {"/dev/full", TARSEL_ERROR_FILE_WRITE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path != nullptr ? c.path : "null");
    EXPECT_EQ(TarselLinkSaveRecentPackets(c.path), c.code);
  }
  std::filesystem::remove_all(folder);
}

// A write that fails part-way (the file size limit, as a full disk would):
// 5005, and the file keeps whole blocks, readable.
TEST(RecentPackets, FullDiskGivesItsCodeAndAReadableFile) {
  VirtualArm arm(Mirror);
  TarselArmLink* link = nullptr;
  ASSERT_EQ(TarselLinkOpenArm("", &link), TARSEL_OK);
  for (int i = 0; i < 8; ++i) {
    const Packet request = MakePacket({1, 1, 9, 1}, static_cast<unsigned>(i));
    Packet answer{};
    ASSERT_EQ(TarselLinkExchange(link, &request, &answer), TARSEL_OK);
  }
  TarselLinkCloseArm(link);

  const std::string file = TempFile("tarsel-recent-full");
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit limit = before;
  limit.rlim_cur = 1000;  // the header and a few events
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  const int code = TarselLinkSaveRecentPackets(file.c_str());
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(code, TARSEL_ERROR_FILE_WRITE);
  const Capture capture = ReadCapture(file);
  EXPECT_TRUE(capture.whole);
  EXPECT_GT(capture.events.size(), 0u);
  EXPECT_LE(std::filesystem::file_size(file), 1000u);
  std::filesystem::remove(file);
}

// --- Through the flat API ---------------------------------------------------------

// SaveRecentPackets reaches the link library InitAPI loaded, until CloseAPI.
TEST(RecentPackets, FlatSaveNeedsTheLinkLoaded) {
  const std::string file = TempFile("tarsel-recent-flat");
  CloseAPI();
  EXPECT_EQ(SaveRecentPackets(file.c_str()), TARSEL_ERROR_NOT_INITIALIZED);
  {
    VirtualArm arm(Mirror);
    ASSERT_EQ(InitAPI(), TARSEL_OK);
    AngularPosition joints{};
    GetAngularPosition(joints);  // command 105, whatever the mirror makes of it
    EXPECT_EQ(SaveRecentPackets(nullptr), TARSEL_ERROR_ARGUMENT);
    ASSERT_EQ(SaveRecentPackets(file.c_str()), TARSEL_OK);
    const Capture capture = ReadCapture(file);
    ASSERT_GE(capture.events.size(), 4u);
    // The newest request is the read's.
    const Event& sent = capture.events[capture.events.size() - 4];
    EXPECT_EQ(sent.endpoint, TARSEL_USB_ENDPOINT_OUT);
    EXPECT_EQ(PacketOf(sent.data).CommandId, 105);
    CloseAPI();
  }
  EXPECT_EQ(SaveRecentPackets(file.c_str()), TARSEL_ERROR_NOT_INITIALIZED);
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace tarsel::testing
