// The whole path with nothing replaced: the API library loads the real link
// library, which reaches the virtual arm through the real libusb.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "core/catalogue.h"
#include "core/framing.h"
#include "maintenance/maintenance_codec.h"
#include "simulated_arm.h"
#include "tarsel/core.h"
#include "wire.h"

namespace tarsel::testing {
namespace {

using vusb::DeviceOptions;
using vusb::VirtualArm;

constexpr short kBareCommand = 10;
constexpr short kReadCommand = 105;
constexpr short kRefusedCommand = 999;
constexpr int kReadSize = 150;  // three packets: 56 + 56 + 38

unsigned char ReadByte(int i) {
  return static_cast<unsigned char>((5 * i + 3) & 0xFF);
}

// A small arm: serves one multi-packet read, refuses one command and
// acknowledges every other.
std::optional<Packet> SmallArm(const Packet& request) {
  Packet answer;
  std::memset(&answer, 0, sizeof answer);
  answer.PacketIndex = request.PacketIndex;
  answer.PacketCount = 1;
  answer.CommandId = request.CommandId;
  if (request.CommandId == kRefusedCommand) {
    answer.CommandId = -1;
  } else if (request.CommandId == kReadCommand) {
    answer.PacketCount = (kReadSize + TARSEL_PACKET_DATA_SIZE - 1) / TARSEL_PACKET_DATA_SIZE;
    answer.PayloadSize = kReadSize;
    const int begin = (request.PacketIndex - 1) * TARSEL_PACKET_DATA_SIZE;
    for (int i = 0; i < TARSEL_PACKET_DATA_SIZE && begin + i < kReadSize; ++i) {
      answer.Data[i] = ReadByte(begin + i);
    }
  }
  return answer;
}

int Bare(int command) {
  std::vector<Packet> packets;
  PrepareSetPacket(packets, command);
  return SendSetCommand(packets);
}

// Header of a request as sent, read back from its wire bytes.
int Word(const Bytes& wire, int at) {
  return wire.at(at) | (wire.at(at + 1) << 8);
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseAPI();
    arm_ = std::make_unique<VirtualArm>(SmallArm);
  }
  void TearDown() override {
    CloseAPI();
    arm_.reset();
  }
  std::unique_ptr<VirtualArm> arm_;
};

TEST_F(EndToEnd, BareCommandCrossesTheRealLink) {
  ASSERT_EQ(InitAPI(), TARSEL_OK);
  EXPECT_EQ(Bare(kBareCommand), TARSEL_OK);

  Bytes expected(TARSEL_PACKET_SIZE, 0);
  expected[0] = 1;             // packet 1
  expected[2] = 1;             // of 1
  expected[4] = kBareCommand;  // no payload
  ASSERT_EQ(arm_->Device(0).OutPackets().size(), 1u);
  EXPECT_EQ(arm_->Device(0).OutPackets()[0], expected);
}

TEST_F(EndToEnd, MultiPacketReadIsReassembled) {
  ASSERT_EQ(InitAPI(), TARSEL_OK);
  Packet request;
  PrepareGetPacket(request, kReadCommand);
  Payload payload;
  ASSERT_EQ(SendGetCommand(request, payload), TARSEL_OK);

  ASSERT_EQ(payload.size(), 3u * TARSEL_PACKET_DATA_SIZE);
  for (int i = 0; i < kReadSize; ++i) ASSERT_EQ(payload[i], ReadByte(i)) << "byte " << i;
  for (std::size_t i = kReadSize; i < payload.size(); ++i) EXPECT_EQ(payload[i], 0);

  // The arm was asked for packets 1, 2 and 3; from the second on the request
  // carries the announced size.
  const auto sent = arm_->Device(0).OutPackets();
  ASSERT_EQ(sent.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(Word(sent[k], 0), k + 1);
    EXPECT_EQ(Word(sent[k], 4), kReadCommand);
    EXPECT_EQ(Word(sent[k], 6), k == 0 ? 1 : kReadSize);
  }
}

TEST_F(EndToEnd, FailuresOnTheWireBecomeResultCodes) {
  ASSERT_EQ(InitAPI(), TARSEL_OK);
  EXPECT_EQ(Bare(kRefusedCommand), TARSEL_ERROR_FIRST_PACKET);

  // An arm that stays silent is no answer, never a refusal or a stale success.
  arm_->Device(0).SetResponder(nullptr);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Bare(kBareCommand), TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  // Until its answer comes, nothing more goes out; then all is well again.
  arm_->Device(0).ClearLog();
  EXPECT_EQ(Bare(kBareCommand), TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(arm_->Device(0).OutSubmissions(), 0);
  arm_->Device(0).PushAnswer(*SmallArm(Packet{1, 1, kBareCommand, 0, {}}));
  arm_->Device(0).SetResponder(SmallArm);
  EXPECT_EQ(Bare(kBareCommand), TARSEL_OK);

  arm_->Device(0).Unplug();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Bare(kBareCommand), TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "LIBUSB_ERROR_NO_DEVICE returned by the Write operation.\n");

  arm_->Device(0).ClearFaults();
  EXPECT_EQ(Bare(kBareCommand), TARSEL_OK);
}

// Each cycle loads the link library, starts libusb, opens and claims the
// arm, and undoes all of it; the sanitizer run sees any of it left behind.
TEST_F(EndToEnd, HundredOpenCloseCyclesEachWork) {
  for (int cycle = 0; cycle < 100; ++cycle) {
    ASSERT_EQ(InitAPI(), TARSEL_OK) << "cycle " << cycle;
    ASSERT_EQ(Bare(kBareCommand), TARSEL_OK) << "cycle " << cycle;
    ASSERT_EQ(CloseAPI(), TARSEL_OK) << "cycle " << cycle;
  }
  EXPECT_EQ(arm_->Device(0).Claims(), 100);
  EXPECT_EQ(arm_->Device(0).OutPackets().size(), 100u);
}

TEST_F(EndToEnd, InitApiReportsWhatTheBusHolds) {
  arm_->Device(0).RefuseClaim(EBUSY);
  EXPECT_EQ(InitAPI(), TARSEL_ERROR_CLAIM_FAILED);
  EXPECT_EQ(Bare(kBareCommand), TARSEL_ERROR_NOT_INITIALIZED);
  CloseAPI();

  arm_.reset();
  arm_ = std::make_unique<VirtualArm>(SmallArm, DeviceOptions{0x1234, 0, true});
  EXPECT_EQ(InitAPI(), TARSEL_ERROR_NO_ARM);
  EXPECT_TRUE(arm_->Device(0).OutPackets().empty());
}

// The simulated arm on the bus, as tarsel-sim-usb hosts it, takes the page of
// zeros that ends an 8 MiB image, at offset 8 MiB. (The whole transfer, 4097
// pages of 40 exchanges of about 1 ms each, takes three minutes here; through
// the simulator's own link it is tested whole.)
TEST(SimulatedArmOnTheBus, TakesThePageThatEndsAnEightMiBImage) {
  CloseAPI();
  sim::SimulatedArm sim;
  VirtualArm bus([&sim](const Packet& request) { return sim.Handle(request); });
  Payload image(std::size_t{8} << 20);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7 + 1);
  const std::vector<PacketList> pages = SplitDataByPage(image, command::FlashPage);
  ASSERT_EQ(pages.size(), 4097u);

  ASSERT_EQ(InitAPI(), TARSEL_OK);
  EXPECT_EQ(Bare(command::BeginFlash), TARSEL_OK);
  EXPECT_EQ(SendSetCommand(pages.front().packets), TARSEL_OK);
  EXPECT_EQ(SendSetCommand(pages.back().packets), TARSEL_OK);
  CloseAPI();

  const Bytes stored = sim.FirmwareImage();
  ASSERT_EQ(stored.size(), image.size() + 2048);
  EXPECT_TRUE(std::equal(stored.begin(), stored.begin() + 2048, image.begin()));
  EXPECT_EQ(Bytes(stored.end() - 2048, stored.end()), Bytes(2048, 0));
}

}  // namespace
}  // namespace tarsel::testing
