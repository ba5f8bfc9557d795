// The virtual bus on its frame clock, through the real link library and
// libusb: every transfer completes on a frame start of its endpoint's
// polling schedule, the first one the model allows, and the host never has
// it back before then. Times are the device side's, on the monotonic clock;
// nothing here depends on how fast the machine is.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "tarsel/result.h"
#include "wire.h"

namespace tarsel::testing {
namespace {

using std::chrono::milliseconds;
using vusb::BusClock;
using vusb::DeviceOptions;
using vusb::NextPoll;
using vusb::Transfer;
using vusb::VirtualArm;

struct ClockCase {
  const char* name;
  std::uint8_t in_interval;
  std::uint8_t out_interval;
  milliseconds stall;  // how long the device works on the second request
  bool silent;         // the device never answers
};

void PrintTo(const ClockCase& c, std::ostream* os) {
  *os << c.name;
}

class BusClockExchanges : public ::testing::TestWithParam<ClockCase> {
 protected:
  void SetUp() override { CloseCommunication(); }
  void TearDown() override {
    CloseCommunication();
    arm_.reset();
  }
  std::unique_ptr<VirtualArm> arm_;
};

bool OnFrameStart(BusClock::time_point t) {
  return t.time_since_epoch() % vusb::kFrame == BusClock::duration::zero();
}

TEST_P(BusClockExchanges, CompleteOnTheFirstPollTheModelAllows) {
  const ClockCase c = GetParam();
  DeviceOptions options;
  options.bus_clock = true;
  options.in_interval = c.in_interval;
  options.out_interval = c.out_interval;
  arm_ = std::make_unique<VirtualArm>(
      [&c](const Packet& p) -> std::optional<Packet> {
        if (c.silent) return std::nullopt;
        return Mirror(p);
      },
      options);
  ASSERT_EQ(InitCommunication(), TARSEL_OK);
  vusb::VirtualDevice& device = arm_->Device(0);
  device.ClearLog();
  if (c.stall.count() > 0) device.StallAnswer(2, c.stall);

  // A read that timed out on a starved machine is taken again; its answer
  // is then collected late, which the model covers as well.
  int answered = 0;
  for (int i = 0; i < 20 && answered < 6; ++i) {
    const Packet request = MakePacket({1, 1, 42, 3}, static_cast<unsigned>(i));
    Packet answer = MakePacket({0, 0, 0, 0}, 0);
    Exchange(request, answer);
    answered += c.silent ? 6 : SamePacket(answer, MirrorOf(request)) ? 1 : 0;
  }
  EXPECT_EQ(answered, 6);

  // The device answers from the moment it took a packet (plus its stall),
  // and answers go out in order: the n-th read that delivers carries the
  // answer to the n-th packet.
  std::deque<BusClock::time_point> ready;
  BusClock::time_point busy{};
  int outs = 0, ins = 0, discarded = 0;
  BusClock::time_point previous{};
  BusClock::duration latest{};
  for (const Transfer& t : device.Transfers()) {
    SCOPED_TRACE("transfer on " + std::to_string(t.endpoint) + " after " + std::to_string(outs) +
                 " out, " + std::to_string(ins) + " in");
    // One transfer at a time: each is submitted after the last came back.
    EXPECT_GE(t.submitted, previous);
    previous = t.delivered;
    EXPECT_GE(t.delivered, t.completed);
    if (t.endpoint == TARSEL_USB_ENDPOINT_IN && t.status == -ENOENT) {
      ++discarded;  // a read the host gave up on
      continue;
    }
    latest = std::max(latest, t.delivered - t.completed);
    EXPECT_TRUE(OnFrameStart(t.completed));
    if (t.endpoint == TARSEL_USB_ENDPOINT_OUT) {
      EXPECT_EQ(t.status, 0);
      EXPECT_EQ(t.completed, NextPoll(t.submitted, c.out_interval));
      busy = std::max(busy, t.completed) + (++outs == 2 ? c.stall : milliseconds(0));
      if (!c.silent) ready.push_back(busy);
      continue;
    }
    ++ins;
    ASSERT_FALSE(ready.empty()) << "an answer nobody asked for";
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(t.length, TARSEL_PACKET_SIZE);
    EXPECT_EQ(vusb::FrameOf(t.completed) % c.in_interval, 0);
    EXPECT_EQ(t.completed, NextPoll(std::max(t.submitted, ready.front()), c.in_interval));
    ready.pop_front();
  }
  EXPECT_GE(outs, c.silent ? 1 : 6);
  EXPECT_EQ(ins, c.silent ? 0 : outs);
  if (c.silent) {
    EXPECT_GE(discarded, 1);
  }
  // How late the host had its transfers back: a figure, not a verdict.
  std::printf("[ %s ] latest hand-back after its frame: %.0f us\n", c.name,
              std::chrono::duration<double, std::micro>(latest).count());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, BusClockExchanges,
    ::testing::Values(ClockCase{"EveryFrame", 1, 1, milliseconds(0), false},
                      ClockCase{"InEveryFourth", 4, 1, milliseconds(0), false},
                      ClockCase{"InEverySecondOutEveryThird", 2, 3, milliseconds(0), false},
                      ClockCase{"StalledAnswer", 1, 1, milliseconds(3), false},
                      ClockCase{"StalledAnswerInEveryFourth", 4, 1, milliseconds(3), false},
                      ClockCase{"Silent", 1, 1, milliseconds(0), true}),
    [](const auto& info) { return std::string(info.param.name); });

#ifdef TARSEL_SIM_USB
// Run under tarsel-sim-usb by the launcher cases below: exchanges through the
// link never come back before the second frame start after they went out
// (the arm takes the request at the first, its answer goes out at the next).
TEST(BusClockChild, ExchangesSpanTwoFrameStarts) {
  if (std::getenv("TARSEL_BUS_CLOCK_CHILD") == nullptr) GTEST_SKIP() << "run by BusClockLauncher";
  ASSERT_EQ(InitCommunication(), TARSEL_OK);
  for (int i = 0; i < 20; ++i) {
    Packet request = MakePacket({1, 1, 105, 1}, 0);
    Packet answer = MakePacket({0, 0, 0, 0}, 0);
    const auto sent = BusClock::now();
    Exchange(request, answer);
    const auto back = BusClock::now();
    EXPECT_EQ(answer.CommandId, 105) << "exchange " << i;
    EXPECT_GE(back, NextPoll(NextPoll(sent, 1), 1)) << "exchange " << i;
  }
  CloseCommunication();
}

struct LaunchCase {
  const char* name;
  const char* variables;
  const char* options;
};

void PrintTo(const LaunchCase& c, std::ostream* os) {
  *os << c.name;
}

class BusClockLauncher : public ::testing::TestWithParam<LaunchCase> {};

TEST_P(BusClockLauncher, PutsTheBusOnItsClock) {
  const LaunchCase& c = GetParam();
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command = std::string("env -u TARSEL_SIM_BUS_CLOCK TARSEL_BUS_CLOCK_CHILD=1 ") +
                              c.variables + " '" + TARSEL_SIM_USB + "' " + c.options + " '" +
                              self + "' --gtest_filter=BusClockChild.* >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << command;
  EXPECT_EQ(WEXITSTATUS(status), 0) << command;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BusClockLauncher,
    ::testing::Values(LaunchCase{"Option", "", "--bus-clock"},
                      LaunchCase{"OptionAfterArms", "", "--arms 2 --bus-clock"},
                      LaunchCase{"OptionBeforeArms", "", "--bus-clock --arms 2 --"},
                      LaunchCase{"Variable", "TARSEL_SIM_BUS_CLOCK=1", ""}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

TEST(BusClockOptions, APollingIntervalOfZeroIsRefused) {
  for (const auto& [in, out] : {std::pair<std::uint8_t, std::uint8_t>{0, 1}, {1, 0}}) {
    DeviceOptions options;
    options.in_interval = in;
    options.out_interval = out;
    EXPECT_THROW(VirtualArm(Mirror, options), std::invalid_argument);
  }
}

}  // namespace
}  // namespace tarsel::testing
