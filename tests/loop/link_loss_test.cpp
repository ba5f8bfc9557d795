// What the control loop makes of a failing link: a refusal and a lost answer
// are events the loop carries on after; an unplugged arm is a disconnect,
// and its return a reconnect that holds the arm at rest.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "loop_fixture.h"

namespace tarsel::testing {
namespace {

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The packet blocks of a pcapng file (enhanced packet blocks, type 6); -1
// when it is not one.
int PacketBlocks(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
  const auto word = [&](std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
           std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
  };
  if (bytes.size() < 12 || word(0) != 0x0A0D0D0A) return -1;
  int packets = 0;
  for (std::size_t at = 0; at + 8 <= bytes.size();) {
    const std::uint32_t length = word(at + 4);
    if (length < 12 || at + length > bytes.size()) return -1;
    packets += word(at) == 6 ? 1 : 0;
    at += length;
  }
  return packets;
}

TEST_F(LoopOnTheBus, UnplugIsADisconnectAndReplugAReconnectThatHoldsTheArm) {
  LoopOptions options;
  options.rate = 100;
  options.watchdog = 60s;
  options.traceOnDisconnect = ::testing::TempDir() + "loop_unplugged.pcapng";
  std::remove(options.traceOnDisconnect.c_str());
  ControlLoop& loop = Start(options);
  loop.SetJointVelocity(Joints(2));
  Cycles(3);

  bus_->Device(0).Unplug();
  const std::optional<LoopEvent> down = recorder_.WaitEvent(LoopEventKind::kDisconnected);
  ASSERT_TRUE(down.has_value());
  EXPECT_EQ(down->code, TARSEL_ERROR_NO_ANSWER);
  // What the link carried up to the disconnect.
  EXPECT_NE(down->message.find("recent packets saved to " + options.traceOnDisconnect),
            std::string::npos) << down->message;
  EXPECT_GT(PacketBlocks(options.traceOnDisconnect), 0);
  // The first cycle that failed was reported as transient; the disconnect
  // came with the first failed cycle to end 50 ms or more after it began.
  const std::optional<LoopEvent> first = recorder_.WaitEvent(LoopEventKind::kTransient);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(recorder_.Count(LoopEventKind::kTransient), 1);
  const std::optional<LoopState> failed = recorder_.StateOf(first->sequence);
  const std::optional<LoopState> beforeDown = recorder_.StateOf(down->sequence - 1);
  ASSERT_TRUE(failed && beforeDown);
  EXPECT_FALSE(failed->ok);
  EXPECT_GE(down->time - failed->time, 50ms);
  EXPECT_LT(beforeDown->time - failed->time, 50ms);
  std::printf("unplugged: disconnect reported %.1f ms after the first failed cycle began\n",
              Ms(down->time - failed->time));

  std::this_thread::sleep_for(300ms);  // a few attempts that find it gone
  // Another thread's command meanwhile hears that the link is down for now,
  // not that its Arm is closed for good.
  try {
    arm_->GetQuickStatus();
    ADD_FAILURE() << "a command ran on the unplugged arm";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), TARSEL_ERROR_NOT_INITIALIZED);
    EXPECT_NE(std::string(e.what()).find("until it is opened again"), std::string::npos)
        << e.what();
  }
  const Clock::time_point replugged = Clock::now();
  bus_->Device(0).ClearFaults();
  const std::optional<LoopEvent> up = recorder_.WaitEvent(LoopEventKind::kReconnected);
  ASSERT_TRUE(up.has_value());
  EXPECT_LT(up->time - replugged, 1s * Slowness());
  std::printf("replugged: reconnect reported %.1f ms after\n", Ms(up->time - replugged));

  // Zero velocity until the program gives a new set-point.
  const std::optional<LoopState> back = recorder_.StateOf(up->sequence);
  ASSERT_TRUE(back.has_value());
  EXPECT_TRUE(back->ok);
  const float held = sim_.Snapshot().joints[0];
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(sim_.Snapshot().joints[0], held);
  EXPECT_FALSE(sim_.Snapshot().moving);
  loop.SetJointVelocity(Joints(2));
  Cycles(3);
  EXPECT_GT(sim_.Snapshot().joints[0], held);

  const LoopStatistics stats = loop.Statistics();
  EXPECT_EQ(stats.disconnected, 1u);
  EXPECT_EQ(stats.reconnected, 1u);
  EXPECT_TRUE(loop.Running());
}

// The loop ends, with the disconnect as its last event, when the program
// closed the arm or does not want it looked for again.
TEST_F(LoopOnTheBus, ClosedArmOrDisconnectWithoutReconnectEndsTheLoop) {
  struct Case {
    const char* name;
    bool reconnect;
    std::function<void(Arm&, vusb::VirtualDevice&)> cut;
    int code;
  };
  const Case cases[] = {
      {"closed", true, [](Arm& a, vusb::VirtualDevice&) { a.Close(); },
       TARSEL_ERROR_NOT_INITIALIZED},
      {"unplugged", false, [](Arm&, vusb::VirtualDevice& d) { d.Unplug(); },
       TARSEL_ERROR_NO_ANSWER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopOptions options;
    options.reconnect = c.reconnect;
    ControlLoop& loop = Start(options);
    Cycles(1);
    c.cut(*arm_, bus_->Device(0));
    const std::optional<LoopEvent> down = recorder_.WaitEvent(LoopEventKind::kDisconnected);
    ASSERT_TRUE(down.has_value());
    EXPECT_EQ(down->code, c.code);
    try {
      for (;;) loop.WaitNext(loop.Latest().sequence, 1s * Slowness());
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), TARSEL_ERROR_NOT_INITIALIZED);
    }
    EXPECT_FALSE(loop.Running());
    bus_->Device(0).ClearFaults();
    loop.Stop();
    TearDown();
    SetUp();
  }
}

// One failure of each kind the arm or the link can give once: reported as
// its event with its code, and the loop goes on (a later cycle succeeds, no
// disconnect).
struct OneFailure {
  const char* name;
  std::function<void(sim::SimulatedArm&, vusb::VirtualDevice&)> inject;
  LoopEventKind kind;
  int code;
};

// Has the simulated arm answer through d as ever, but for the next answer,
// which arrives cut to 20 bytes.
void CutNextAnswer(sim::SimulatedArm& arm, vusb::VirtualDevice& d) {
  auto cut = std::make_shared<std::atomic<bool>>(true);
  d.SetRawResponder([&arm, cut](const vusb::Bytes& request) -> std::optional<vusb::Bytes> {
    unsigned char wire[TARSEL_PACKET_SIZE] = {};
    std::copy_n(request.begin(), std::min<std::size_t>(request.size(), TARSEL_PACKET_SIZE), wire);
    const std::optional<Packet> answer = arm.Handle(DecodePacket(wire));
    if (!answer) return std::nullopt;
    EncodePacket(*answer, wire);
    vusb::Bytes bytes(wire, wire + TARSEL_PACKET_SIZE);
    if (cut->exchange(false)) bytes.resize(20);
    return bytes;
  });
}

void PrintTo(const OneFailure& failure, std::ostream* out) {
  *out << failure.name;
}

class LoopFailure : public LoopOnTheBus, public ::testing::WithParamInterface<OneFailure> {};

TEST_P(LoopFailure, IsReportedAndTheLoopGoesOn) {
  // The first failure in the loop's first cycle (the callbacks are in place
  // from the start); the second after working cycles: two separate failures
  // are no run of failures.
  GetParam().inject(sim_, bus_->Device(0));
  ControlLoop& loop = Start();
  for (int round = 1; round <= 2; ++round) {
    if (round == 2) GetParam().inject(sim_, bus_->Device(0));
    const std::optional<LoopEvent> event = recorder_.WaitEvent(GetParam().kind, round);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->code, GetParam().code);
    EXPECT_FALSE(event->message.empty());
    if (round == 1) {
      EXPECT_EQ(event->sequence, 1u);
    }
    EXPECT_FALSE(recorder_.StateOf(event->sequence)->ok);

    LoopState s = loop.WaitNext(event->sequence, 1s * Slowness());
    for (int i = 0; i < 10 && !s.ok; ++i) s = loop.WaitNext(s.sequence, 1s * Slowness());
    EXPECT_TRUE(s.ok);
    Cycles(10);
  }
  EXPECT_TRUE(loop.Running());
  EXPECT_EQ(recorder_.Count(LoopEventKind::kDisconnected), 0);
  EXPECT_EQ(recorder_.Count(GetParam().kind), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Loop, LoopFailure,
    ::testing::Values(
        OneFailure{"ErrorBit",
                   [](sim::SimulatedArm& a, vusb::VirtualDevice&) {
                     a.AddFault({sim::FaultKind::kErrorBit, sim::Fault::kAny, sim::Fault::kAny, 1});
                   },
                   LoopEventKind::kRefused, TARSEL_ERROR_ANSWER_ERROR_BIT},
        OneFailure{"NegativeVerdict",
                   [](sim::SimulatedArm& a, vusb::VirtualDevice&) {
                     a.AddFault(
                         {sim::FaultKind::kNegativeVerdict, sim::Fault::kAny, sim::Fault::kAny, 1});
                   },
                   LoopEventKind::kRefused, TARSEL_ERROR_FIRST_PACKET},
        // The next answer arrives cut short (a lost answer); the exchange
        // after it goes as ever.
        OneFailure{"LostAnswer", CutNextAnswer, LoopEventKind::kTransient,
                   TARSEL_ERROR_NO_ANSWER}),
    [](const ::testing::TestParamInfo<OneFailure>& info) { return info.param.name; });

}  // namespace
}  // namespace tarsel::testing
