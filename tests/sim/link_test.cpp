// The drop-in link library: the API's own framing against the simulated arm,
// configured through the environment, with faults seen as the host sees them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config_codec.h"
#include "core/framing.h"
#include "sim_control.h"
#include "tarsel/comm_layer.h"
#include "tarsel/core.h"

namespace {

using Bytes = std::vector<unsigned char>;
using tarsel::sim::Fault;
using tarsel::sim::FaultKind;
using tarsel::sim::Instance;

const char* const kVariables[] = {"TARSEL_SIM_HAND", "TARSEL_SIM_TIME_SCALE",
                                  "TARSEL_SIM_FINGER_POINTS", "TARSEL_SIM_FAULT",
                                  "TARSEL_SIM_TRACE"};

Bytes Pattern(std::size_t size, unsigned mul, unsigned add) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<unsigned char>((i * mul + add) & 0xFF);
  return b;
}

int Read(int command, Bytes& payload) {
  Packet request;
  PrepareGetPacket(request, command);
  payload.clear();
  return SendGetCommand(request, payload);
}

int Bare(int command) {
  std::vector<Packet> packets;
  PrepareSetPacket(packets, command);
  return SendSetCommand(packets);
}

class SimLink : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : kVariables) unsetenv(v);
    Open();
  }
  void TearDown() override {
    CloseAPI();
    for (const char* v : kVariables) unsetenv(v);
  }
  // Opens the API on the simulator, which starts afresh on a manual clock.
  void Open() {
    ASSERT_EQ(InitAPI(), TARSEL_OK);
    Instance().SetClock(clock.Source());
    Instance().PowerCycle();
  }
  tarsel::sim::ManualClock clock;
};

TEST_F(SimLink, IsTheLinkTheApiLoads) {
  EXPECT_TRUE(tarsel::sim::LinkIsOpen());
  const long before = Instance().Snapshot().exchanges;
  EXPECT_EQ(Bare(302), TARSEL_OK);
  EXPECT_EQ(Instance().Snapshot().exchanges, before + 1);
  EXPECT_TRUE(Instance().Snapshot().apiControl);
  CloseAPI();
  EXPECT_FALSE(tarsel::sim::LinkIsOpen());
}

TEST_F(SimLink, HostFramingRoundTripsTheClientConfiguration) {
  ClientConfigurations record;
  const Bytes image = Pattern(sizeof record, 17, 3);
  std::memcpy(&record, image.data(), sizeof record);
  record.StoredPositionCount = 20;
  Bytes config;
  int offset = 0;
  SerializeClientConfiguration(offset, config, record);
  ASSERT_EQ(SendSetCommand(BuildSetCommand(0, config)), TARSEL_OK);
  Bytes payload;
  ASSERT_EQ(Read(1, payload), TARSEL_OK);
  ASSERT_EQ(payload.size(), 55u * 56u);
  EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 3040), config);
  ASSERT_EQ(Bare(45), TARSEL_OK);
  ASSERT_EQ(Read(1, payload), TARSEL_OK);
  EXPECT_NE(Bytes(payload.begin(), payload.begin() + 3040), config);
}

TEST_F(SimLink, HomeMoveDrainsTheQueueAsTheClockRuns) {
  ASSERT_EQ(Bare(311), TARSEL_OK);
  Bytes queue;
  ASSERT_EQ(Read(304, queue), TARSEL_OK);
  EXPECT_EQ(queue[0], 1);
  clock.Advance(2.0);
  ASSERT_EQ(Read(304, queue), TARSEL_OK);
  EXPECT_EQ(queue[0], 0);
}

struct HostFault {
  Fault fault;
  int command;
  int expected;
};

class HostSeesFaults : public SimLink, public ::testing::WithParamInterface<HostFault> {};

TEST_P(HostSeesFaults, AsResultCodes) {
  Instance().AddFault(GetParam().fault);
  Bytes payload;
  EXPECT_EQ(Read(GetParam().command, payload), GetParam().expected);
  Instance().ClearFaults();
  EXPECT_EQ(Read(GetParam().command, payload), TARSEL_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostSeesFaults,
    ::testing::Values(
        // Silence leaves the answer untouched, which the host judges a failure.
        HostFault{{FaultKind::kNoAnswer, 105, Fault::kAny, -1}, 105, TARSEL_ERROR_NO_ANSWER},
        HostFault{{FaultKind::kErrorBit, 105, Fault::kAny, -1}, 105, TARSEL_ERROR_ANSWER_ERROR_BIT},
        HostFault{{FaultKind::kNegativeVerdict, 200, 1, -1}, 200, TARSEL_ERROR_FIRST_PACKET},
        HostFault{{FaultKind::kNegativeVerdict, 200, 7, -1}, 200, TARSEL_ERROR_LATER_PACKET},
        HostFault{{FaultKind::kNoAnswer, 200, 3, -1}, 200, TARSEL_ERROR_NO_ANSWER}));

TEST_F(SimLink, SilenceLeavesTheAnswerUntouched) {
  Instance().AddFault({FaultKind::kNoAnswer, Fault::kAny, Fault::kAny, 1});
  Packet request;
  PrepareGetPacket(request, 105);
  Packet answer;
  std::memset(&answer, 0x5A, sizeof answer);
  int reserved = 0;
  const Packet returned = SendPacket(request, answer, reserved);
  for (std::size_t i = 0; i < sizeof answer; ++i) {
    ASSERT_EQ(reinterpret_cast<const unsigned char*>(&answer)[i], 0x5A);
  }
  EXPECT_EQ(std::memcmp(&returned, &answer, sizeof answer), 0);
  SendPacket(request, answer, reserved);
  EXPECT_EQ(answer.CommandId, 105);
}

TEST_F(SimLink, UnpluggedArmFailsEveryLaterCommand) {
  Instance().UnplugAfter(2);
  EXPECT_EQ(Bare(302), TARSEL_OK);
  EXPECT_EQ(Bare(303), TARSEL_OK);
  Bytes payload;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(105, payload), TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(Bare(302), TARSEL_ERROR_NO_ANSWER);
  Instance().UnplugAfter(-1);
}

TEST_F(SimLink, EnvironmentConfiguresTheArmAtEachInit) {
  CloseAPI();
  setenv("TARSEL_SIM_HAND", "2", 1);
  setenv("TARSEL_SIM_TIME_SCALE", "4", 1);
  setenv("TARSEL_SIM_FAULT", "error:110,unplug:50", 1);
  Open();
  EXPECT_EQ(Instance().Snapshot().hand, tarsel::sim::HandType::kTwoFingers);
  EXPECT_EQ(Instance().Snapshot().timeScale, 4.0);
  Bytes status;
  ASSERT_EQ(Read(62, status), TARSEL_OK);
  EXPECT_EQ(status[12], 2);
  EXPECT_EQ(Read(110, status), TARSEL_ERROR_ANSWER_ERROR_BIT);

  // Unset variables leave the arm as it is; an empty fault list clears.
  CloseAPI();
  unsetenv("TARSEL_SIM_HAND");
  unsetenv("TARSEL_SIM_TIME_SCALE");
  unsetenv("TARSEL_SIM_FAULT");
  Open();
  EXPECT_EQ(Instance().Snapshot().hand, tarsel::sim::HandType::kTwoFingers);
  EXPECT_EQ(Read(110, status), TARSEL_ERROR_ANSWER_ERROR_BIT);
  CloseAPI();
  setenv("TARSEL_SIM_FAULT", "", 1);
  setenv("TARSEL_SIM_HAND", "3", 1);
  Open();
  EXPECT_EQ(Instance().Snapshot().hand, tarsel::sim::HandType::kThreeFingers);
  EXPECT_EQ(Read(110, status), TARSEL_OK);
  EXPECT_FALSE(Instance().Snapshot().unplugged);
  Instance().SetTimeScale(1);
}

TEST_F(SimLink, AbsentArmFailsTheInit) {
  CloseAPI();
  setenv("TARSEL_SIM_FAULT", "absent", 1);
  EXPECT_EQ(InitAPI(), TARSEL_ERROR_NO_ARM);
  EXPECT_FALSE(tarsel::sim::LinkIsOpen());
  // Like the USB link without a device: nothing is answered.
  Packet request;
  PrepareGetPacket(request, 105);
  Packet answer;
  std::memset(&answer, 0x11, sizeof answer);
  int reserved = 0;
  ::testing::internal::CaptureStdout();
  SendPacket(request, answer, reserved);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "LIBUSB_ERROR_NO_DEVICE returned by the Write operation.\n");
  EXPECT_EQ(answer.CommandId, 0x1111);
  setenv("TARSEL_SIM_FAULT", "", 1);
  Open();
}

TEST_F(SimLink, TraceDescribesEveryExchange) {
  CloseAPI();
  setenv("TARSEL_SIM_TRACE", "1", 1);
  Open();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Bare(311), TARSEL_OK);
  const std::string trace = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(trace.find("311 MoveHome"), std::string::npos) << trace;
  EXPECT_NE(trace.find("verdict 311"), std::string::npos) << trace;
  CloseAPI();
  setenv("TARSEL_SIM_TRACE", "0", 1);
  Open();
}

}  // namespace
