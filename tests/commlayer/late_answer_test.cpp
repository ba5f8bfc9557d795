// Late answers of any age, through the API library, the real link library and
// libusb on the virtual bus: the simulated arm stalls on one request for
// 55 ms, 400 ms or 2 s and then answers everything in order, while the caller
// keeps reading two kinds of record. No answer may ever come back as another
// command's: every read either fails with 2008 or returns its own record.
// Once the arm answers again the link must be back in step without closing.
// Each case prints how long after the late answer the reads worked again.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "simulated_arm.h"
#include "tarsel/arm.hpp"
#include "tarsel/tarsel.h"
#include "wire.h"

namespace tarsel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

enum class Route { kFlat, kArm };

struct Case {
  const char* name;
  Route route;
  milliseconds stall;
  bool reopen;  // close and reopen while the late answer is still owed
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

// The two reads and what the arm at rest gives for each.
struct Reads {
  virtual ~Reads() = default;
  // The code of read kind (0: joint angles, 1: Cartesian pose), its values in
  // values (9 floats).
  virtual int Read(int kind, float* values) = 0;
  virtual void Reopen() = 0;
};

struct FlatReads final : Reads {
  FlatReads() { EXPECT_EQ(InitAPI(), TARSEL_OK); }
  ~FlatReads() override { CloseAPI(); }
  int Read(int kind, float* values) override {
    if (kind == 0) {
      AngularPosition p{};
      const int code = GetAngularPosition(p);
      std::memcpy(values, &p, sizeof p);
      return code;
    }
    CartesianPosition p{};
    const int code = GetCartesianPosition(p);
    std::memcpy(values, &p, sizeof p);
    return code;
  }
  void Reopen() override {
    EXPECT_EQ(CloseAPI(), TARSEL_OK);
    EXPECT_EQ(InitAPI(), TARSEL_OK);
  }
};

struct ArmReads final : Reads {
  ArmReads() : arm(std::make_unique<Arm>()) {}
  int Read(int kind, float* values) override {
    try {
      if (kind == 0) {
        const AngularPosition p = arm->GetAngularPosition();
        std::memcpy(values, &p, sizeof p);
      } else {
        const CartesianPosition p = arm->GetCartesianPosition();
        std::memcpy(values, &p, sizeof p);
      }
      return TARSEL_OK;
    } catch (const Error& e) {
      return e.code();
    }
  }
  void Reopen() override {
    arm.reset();
    arm = std::make_unique<Arm>();
  }
  std::unique_ptr<Arm> arm;
};

class LateAnswers : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    CloseAPI();
    arm_ = std::make_unique<sim::SimulatedArm>();
    bus_ = std::make_unique<vusb::VirtualArm>([this](const Packet& request) {
      std::lock_guard lock(mutex_);
      return arm_->Handle(request);
    });
  }
  void TearDown() override {
    CloseAPI();
    bus_.reset();
    arm_.reset();
  }

  std::mutex mutex_;  // the arm is used on umockdev's thread
  std::unique_ptr<sim::SimulatedArm> arm_;
  std::unique_ptr<vusb::VirtualArm> bus_;
};

TEST_P(LateAnswers, NoReadGetsAnotherCommandsAnswer) {
  const Case& c = GetParam();
  std::unique_ptr<Reads> reads;
  if (c.route == Route::kFlat) {
    reads = std::make_unique<FlatReads>();
  } else {
    reads = std::make_unique<ArmReads>();
  }
  // What each read gives while the arm stands still; the two must differ for
  // a mix-up to show.
  float expected[2][9];
  for (int kind = 0; kind < 2; ++kind) ASSERT_EQ(reads->Read(kind, expected[kind]), TARSEL_OK);
  ASSERT_NE(std::memcmp(expected[0], expected[1], sizeof expected[0]), 0);

  bus_->Device(0).StallAnswer(3, c.stall);
  const Clock::time_point start = Clock::now();
  const Clock::time_point due = start + c.stall;  // the late answer is ready by then
  int wrong = 0;
  int failed = 0;
  int sent = 0;
  int inStepSince = -1;  // the first read of the unbroken run of successes at the end
  std::optional<Clock::time_point> recovered;
  bool reopened = false;
  // Until the late answer has come and 40 reads in a row worked.
  for (int i = 0; sent - inStepSince < 40 || inStepSince < 0; ++i) {
    ASSERT_LT(Clock::now() - start, c.stall + std::chrono::seconds(30)) << "never back in step";
    const int kind = i % 2;
    float values[9];
    const int code = reads->Read(kind, values);
    ++sent;
    if (code == TARSEL_OK) {
      if (std::memcmp(values, expected[kind], sizeof values) != 0) ++wrong;
      if (inStepSince < 0 && Clock::now() >= due) {
        inStepSince = sent;
        recovered = Clock::now();
      }
    } else {
      EXPECT_EQ(code, TARSEL_ERROR_NO_ANSWER) << "read " << i;
      ++failed;
      inStepSince = -1;
      if (c.reopen && !reopened) {
        reads->Reopen();  // the late answer is still owed
        reopened = true;
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "reads that returned 1 with the other command's record";
  // A 55 ms stall can pass unnoticed on a busy machine, whose 50 ms time-out
  // runs late; the longer ones cannot.
  if (c.stall >= milliseconds(400)) {
    EXPECT_GT(failed, 0) << "the stall was never felt";
  }
  EXPECT_EQ(bus_->Device(0).QueuedAnswers(), 0u);
  const double back = std::chrono::duration<double, std::milli>(*recovered - due).count();
  std::printf("%-22s %d reads, %d failed (2008), %d wrong; in step %.0f ms after the answer\n",
              c.name, sent, failed, wrong, back);
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, LateAnswers,
    ::testing::Values(Case{"Flat55ms", Route::kFlat, milliseconds(55), false},
                      Case{"Flat400ms", Route::kFlat, milliseconds(400), false},
                      Case{"Flat2s", Route::kFlat, milliseconds(2000), false},
                      Case{"Arm55ms", Route::kArm, milliseconds(55), false},
                      Case{"Arm400ms", Route::kArm, milliseconds(400), false},
                      Case{"Arm2s", Route::kArm, milliseconds(2000), false},
                      Case{"FlatReopened400ms", Route::kFlat, milliseconds(400), true},
                      Case{"ArmReopened400ms", Route::kArm, milliseconds(400), true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarsel::testing
