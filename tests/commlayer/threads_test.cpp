// The flat API under real callers, through the real link library and libusb
// on the virtual bus: several threads at once, a close racing reads, a late
// answer, and an arm that falls silent in the middle of a long operation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "simulated_arm.h"
#include "tarsel/tarsel.h"
#include "tarsel/vusb/virtual_arm.h"

namespace tarsel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using sim::SimulatedArm;
using vusb::VirtualArm;

template <typename Record>
bool Same(const Record& a, const Record& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The simulated arm on the virtual bus; every test opens it through InitAPI.
class Callers : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseAPI();
    sim::Options options;
    options.fingerInitPoints = 1000000;  // the fingers never report ready
    arm_ = std::make_unique<SimulatedArm>(options);
    bus_ = std::make_unique<VirtualArm>([this](const Packet& p) { return arm_->Handle(p); });
    ASSERT_EQ(InitAPI(), TARSEL_OK);
  }
  void TearDown() override {
    CloseAPI();
    bus_.reset();
    arm_.reset();
  }

  std::unique_ptr<SimulatedArm> arm_;
  std::unique_ptr<VirtualArm> bus_;
};

// Three threads read three different records (one- and two-packet reads) at
// once. The arm stands still, so each record must come back exactly as a
// lone caller reads it: any interleaving would show as a failure or as
// another command's bytes.
TEST_F(Callers, ConcurrentReadsEachGetTheirOwnRecord) {
  AngularPosition joints{};
  CartesianPosition pose{};
  AngularAcceleration accel{};
  ASSERT_EQ(GetAngularPosition(joints), TARSEL_OK);
  ASSERT_EQ(GetCartesianPosition(pose), TARSEL_OK);
  ASSERT_EQ(GetActuatorAcceleration(accel), TARSEL_OK);
  ASSERT_FALSE(Same(joints.Actuators, AngularInfo{}));

  constexpr int kCalls = 300;
  std::atomic<int> wrong{0};
  auto reader = [&](auto read, const auto& expected) {
    return std::thread([&, read, expected] {
      for (int i = 0; i < kCalls; ++i) {
        auto got = expected;
        std::memset(&got, 0, sizeof got);
        if (read(got) != TARSEL_OK || !Same(got, expected)) ++wrong;
      }
    });
  };
  std::thread a = reader([](AngularPosition& r) { return GetAngularPosition(r); }, joints);
  std::thread b = reader([](CartesianPosition& r) { return GetCartesianPosition(r); }, pose);
  std::thread c =
      reader([](AngularAcceleration& r) { return GetActuatorAcceleration(r); }, accel);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(wrong.load(), 0);
}

// CloseAPI while another thread reads: no crash, no read that starts after
// the close succeeds, and the API opens again afterwards.
TEST_F(Callers, CloseWhileAnotherThreadReads) {
  for (int round = 0; round < 3; ++round) {
    std::atomic<bool> closed{false};
    std::atomic<bool> stop{false};
    std::atomic<int> okBefore{0};
    std::atomic<int> okAfterClose{0};
    std::atomic<int> refusedAfterClose{0};
    std::thread reader([&] {
      while (!stop) {
        const bool afterClose = closed;
        AngularPosition p;
        const int code = GetAngularPosition(p);
        if (!afterClose && code == TARSEL_OK) ++okBefore;
        if (afterClose && code == TARSEL_OK) ++okAfterClose;
        if (afterClose && code == TARSEL_ERROR_NOT_INITIALIZED) ++refusedAfterClose;
      }
    });
    while (okBefore < 5) std::this_thread::yield();
    EXPECT_EQ(CloseAPI(), TARSEL_OK);
    closed = true;
    while (refusedAfterClose < 5) std::this_thread::yield();
    stop = true;
    reader.join();
    EXPECT_EQ(okAfterClose.load(), 0) << "round " << round;
    ASSERT_EQ(InitAPI(), TARSEL_OK);
    AngularPosition p;
    EXPECT_EQ(GetAngularPosition(p), TARSEL_OK);
  }
}

// An answer that arrives after the host gave up must not become the next
// command's answer.
TEST_F(Callers, LateAnswerIsNotTakenForTheNextCommand) {
  AngularPosition joints{};
  CartesianPosition pose{};
  ASSERT_EQ(GetAngularPosition(joints), TARSEL_OK);
  ASSERT_EQ(GetCartesianPosition(pose), TARSEL_OK);

  // The arm keeps silent on the angular read, then its answer comes late.
  Packet lost{};
  bus_->Device(0).SetResponder([&](const Packet& p) -> std::optional<Packet> {
    if (p.CommandId == 105) {
      lost = p;
      return std::nullopt;
    }
    return arm_->Handle(p);
  });
  AngularPosition got{};
  EXPECT_EQ(GetAngularPosition(got), TARSEL_ERROR_NO_ANSWER);
  bus_->Device(0).PushAnswer(*arm_->Handle(lost));
  bus_->Device(0).SetResponder([this](const Packet& p) { return arm_->Handle(p); });

  for (int i = 0; i < 3; ++i) {
    CartesianPosition next{};
    EXPECT_EQ(GetCartesianPosition(next), TARSEL_OK);
    EXPECT_TRUE(Same(next, pose)) << "read " << i;
    AngularPosition again{};
    EXPECT_EQ(GetAngularPosition(again), TARSEL_OK);
    EXPECT_TRUE(Same(again, joints)) << "read " << i;
  }
  EXPECT_EQ(bus_->Device(0).QueuedAnswers(), 0u);
}

// Long operations against an arm that falls silent midway end promptly with
// the no-answer code. Before, InitFingers ran out 1000 cycles of two
// time-outs each (about 113 s) and a 1 MiB image took about 30 s.
TEST_F(Callers, SilentArmEndsLongOperationsPromptly) {
  arm_->UnplugAfter(20);  // a few finger cycles, then silence
  Clock::time_point start = Clock::now();
  EXPECT_EQ(InitFingers(), TARSEL_ERROR_NO_ANSWER);
  EXPECT_LT(SecondsSince(start), 5.0);  // about 0.2 s: two time-outs and the final erase
  arm_->UnplugAfter(-1);

  const auto image = std::filesystem::temp_directory_path() /
                     ("tarsel-threads-fw-" + std::to_string(getpid()) + ".bin");
  {
    std::FILE* f = std::fopen(image.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::vector<unsigned char> bytes(1 << 20, 0x5A);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  arm_->UnplugAfter(1 + 3 * 40 + 7);  // the start, three pages, part of a fourth
  start = Clock::now();
  EXPECT_EQ(ProgramFlash(image.c_str()), TARSEL_ERROR_NO_ANSWER);
  EXPECT_LT(SecondsSince(start), 10.0);  // the arm's 2 s start pause and one time-out
  std::filesystem::remove(image);
  arm_->UnplugAfter(-1);
}

// A monitoring thread keeps reading while the arm initialises its fingers:
// the composite holds the lock per command, not across its pauses.
TEST_F(Callers, ReadsRunDuringAFingerInitialisation) {
  arm_->UnplugAfter(400);  // ends the initialisation after a few hundred exchanges
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::atomic<int> failures{0};
  std::thread fingers([&] {
    InitFingers();
    done = true;
  });
  while (!done) {
    AngularPosition p;
    const int code = GetAngularPosition(p);
    if (done) break;
    if (code == TARSEL_OK) ++reads;
    else if (code != TARSEL_ERROR_NO_ANSWER) ++failures;
  }
  fingers.join();
  arm_->UnplugAfter(-1);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace tarsel::testing
