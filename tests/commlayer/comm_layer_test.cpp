// The real link library against the real libusb, talking to a virtual arm.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include "tarsel/result.h"
#include "wire.h"

// Test names print the bus by its fields: printed byte by byte, the
// struct's padding would be read uninitialised (valgrind reports it).
namespace tarsel::vusb {
static void PrintTo(const DeviceOptions& o, std::ostream* os) {
  *os << std::hex << o.vendor_id << ":" << o.product_id << (o.present ? "" : " absent");
}
}  // namespace tarsel::vusb

namespace tarsel::testing {
namespace {

using vusb::DeviceOptions;
using vusb::VirtualArm;

constexpr const char* kTimedOutLine = "default case while the Write operation.\n";
constexpr const char* kNoDeviceLine = "LIBUSB_ERROR_NO_DEVICE returned by the Write operation.\n";

class CommLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseCommunication();
    arm_ = std::make_unique<VirtualArm>(Mirror);
  }
  void TearDown() override {
    CloseCommunication();
    arm_.reset();
  }

  // Replaces the bus contents; only one test bed may exist at a time.
  void Replug(DeviceOptions options) {
    arm_.reset();
    arm_ = std::make_unique<VirtualArm>(Mirror, options);
  }

  void Open() {
    ASSERT_EQ(InitCommunication(), TARSEL_OK);
    arm_->Device(0).ClearLog();
  }

  // One exchange the arm must answer with the mirror of the request.
  void ExpectHealthyExchange(unsigned seed) {
    const Packet request = MakePacket({1, 1, 42, 3}, seed);
    Packet answer = MakePacket({0, 0, 0, 0}, 0);
    const Exchanged e = Exchange(request, answer);
    EXPECT_TRUE(SamePacket(answer, MirrorOf(request)));
    EXPECT_TRUE(SamePacket(e.returned, answer));
    EXPECT_EQ(e.printed, "");
  }

  std::unique_ptr<VirtualArm> arm_;
};

// --- A normal exchange ------------------------------------------------------

struct WireCase {
  const char* name;
  Header request;
  Header answer;
};

void PrintTo(const WireCase& c, std::ostream* os) {
  *os << c.name;
}

class Exchanges : public CommLayer, public ::testing::WithParamInterface<WireCase> {};

TEST_P(Exchanges, RequestGoesOutVerbatimAndTheAnswerComesBackDecoded) {
  const WireCase& c = GetParam();
  const Bytes answerWire = WireOf(c.answer, 200);
  arm_->Device(0).SetRawResponder([&](const Bytes&) { return answerWire; });
  Open();

  const Packet request = MakePacket(c.request, 1);
  Packet answer = MakePacket({9, 9, 9, 9}, 99);
  const Exchanged e = Exchange(request, answer);

  ASSERT_EQ(arm_->Device(0).OutPackets().size(), 1u);
  EXPECT_EQ(arm_->Device(0).OutPackets()[0], WireOf(c.request, 1));
  EXPECT_EQ(answer.PacketIndex, c.answer.index);
  EXPECT_EQ(answer.PacketCount, c.answer.count);
  EXPECT_EQ(answer.CommandId, c.answer.command);
  EXPECT_EQ(answer.PayloadSize, c.answer.size);
  EXPECT_EQ(Bytes(answer.Data, answer.Data + TARSEL_PACKET_DATA_SIZE),
            Bytes(answerWire.begin() + 8, answerWire.end()));
  EXPECT_TRUE(SamePacket(e.returned, answer));
  EXPECT_EQ(e.printed, "");
  EXPECT_EQ(arm_->Device(0).UnknownRequests(), std::vector<unsigned long>{});
}

// Header words cover both bytes, the sign bit and the verdict's error bit.
INSTANTIATE_TEST_SUITE_P(
    Headers, Exchanges,
    ::testing::Values(WireCase{"Read", {1, 1, 105, 1}, {1, 2, 105, 88}},
                      WireCase{"Extremes", {-1, 32767, -32768, 0x0102}, {-1, -32768, 32767, 0}},
                      WireCase{"VerdictBits", {3, 4, 0x4000, 300}, {2, 3, -16384, 0x1234}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommLayer, ConsecutiveExchangesEachGetTheirOwnAnswer) {
  Open();
  for (unsigned i = 0; i < 40; ++i) {
    const Packet request = MakePacket({static_cast<short>(i + 1), 40, 300, 2240}, i);
    Packet answer = MakePacket({0, 0, 0, 0}, 0);
    const Exchanged e = Exchange(request, answer);
    ASSERT_TRUE(SamePacket(answer, MirrorOf(request))) << "exchange " << i;
    ASSERT_TRUE(SamePacket(e.returned, answer));
  }
  EXPECT_EQ(arm_->Device(0).OutPackets().size(), 40u);
  EXPECT_EQ(arm_->Device(0).QueuedAnswers(), 0u);
}

// --- A failed write -----------------------------------------------------------

struct WriteFault {
  const char* name;
  void (*apply)(VirtualArm&);
  const char* line;
};

void PrintTo(const WriteFault& c, std::ostream* os) {
  *os << c.name;
}

class WriteFaults : public CommLayer, public ::testing::WithParamInterface<WriteFault> {};

TEST_P(WriteFaults, PrintOneLineSkipTheReadAndLeaveTheAnswer) {
  const WriteFault& c = GetParam();
  Open();
  c.apply(*arm_);

  const Packet before = MakePacket({7, 7, 7, 7}, 77);
  Packet answer = before;
  const Exchanged e = Exchange(MakePacket({1, 1, 10, 0}, 5), answer);

  EXPECT_EQ(e.printed, c.line);
  EXPECT_TRUE(SamePacket(answer, before));
  EXPECT_TRUE(SamePacket(e.returned, before));
  EXPECT_EQ(arm_->Device(0).OutSubmissions(), 1);
  EXPECT_EQ(arm_->Device(0).InSubmissions(), 0) << "a read followed a failed write";
  EXPECT_TRUE(arm_->Device(0).OutPackets().empty());

  // Once the device takes packets again, the link works on.
  arm_->Device(0).ClearFaults();
  ExpectHealthyExchange(11);
}

// LIBUSB_ERROR_BUSY and LIBUSB_ERROR_NOT_SUPPORTED have lines of their own but
// a synchronous interrupt transfer on Linux never returns them: a refused
// submission is NO_DEVICE or an I/O error, which the default line covers.
INSTANTIATE_TEST_SUITE_P(
    Faults, WriteFaults,
    ::testing::Values(
        WriteFault{"TimesOut", [](VirtualArm& a) { a.Device(0).StallOut(); }, kTimedOutLine},
        WriteFault{"NoDevice", [](VirtualArm& a) { a.Device(0).FailOut(ENODEV); }, kNoDeviceLine},
        WriteFault{"Unplugged", [](VirtualArm& a) { a.Device(0).Unplug(); }, kNoDeviceLine},
        WriteFault{"IoError", [](VirtualArm& a) { a.Device(0).FailOut(EBUSY); }, kTimedOutLine}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A failed read ------------------------------------------------------------

struct ReadFault {
  const char* name;
  void (*apply)(VirtualArm&);
  bool owed = false;  // the arm still owes the answer (it only timed out)
};

void PrintTo(const ReadFault& c, std::ostream* os) {
  *os << c.name;
}

class ReadFaults : public CommLayer, public ::testing::WithParamInterface<ReadFault> {};

TEST_P(ReadFaults, PrintNothingAndLeaveTheAnswer) {
  const ReadFault& c = GetParam();
  Open();
  c.apply(*arm_);

  const Packet before = MakePacket({7, 7, 7, 7}, 77);
  Packet answer = before;
  const Exchanged e = Exchange(MakePacket({1, 1, 105, 1}, 5), answer);

  EXPECT_EQ(e.printed, "");
  EXPECT_TRUE(SamePacket(answer, before));
  EXPECT_TRUE(SamePacket(e.returned, before));
  EXPECT_EQ(arm_->Device(0).OutPackets().size(), 1u) << "the request did not go out";
  EXPECT_EQ(arm_->Device(0).InSubmissions(), 1);

  arm_->Device(0).ClearFaults();
  arm_->Device(0).SetResponder(Mirror);
  if (c.owed) {
    // Nothing goes out until the owed answer has come; then it is set aside.
    arm_->Device(0).ClearLog();
    Exchange(MakePacket({1, 1, 106, 1}, 6), answer);
    EXPECT_TRUE(SamePacket(answer, before));
    EXPECT_EQ(arm_->Device(0).OutSubmissions(), 0);
    arm_->Device(0).PushAnswer(MakePacket({1, 1, 105, 1}, 5));
  }
  // The failed answer is gone for good: the next exchange gets its own.
  ExpectHealthyExchange(12);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReadFaults,
    ::testing::Values(ReadFault{"TimesOut", [](VirtualArm& a) { a.Device(0).SetResponder(nullptr); }, true},
                      ReadFault{"Stalled", [](VirtualArm& a) { a.Device(0).FailIn(EPIPE); }},
                      ReadFault{"Overflow", [](VirtualArm& a) { a.Device(0).FailIn(EOVERFLOW); }},
                      ReadFault{"DeviceGone", [](VirtualArm& a) { a.Device(0).FailIn(ESHUTDOWN); }},
                      ReadFault{"ShortByOne", [](VirtualArm& a) { a.Device(0).ShortIn(63); }},
                      ReadFault{"HeaderOnly", [](VirtualArm& a) { a.Device(0).ShortIn(8); }},
                      ReadFault{"ZeroLength", [](VirtualArm& a) { a.Device(0).ShortIn(0); }},
                      ReadFault{"ShortFromTheArm",
                                [](VirtualArm& a) {
                                  a.Device(0).SetRawResponder([](const Bytes&) { return Bytes(20, 1); });
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

// An answer that comes after the host gave up is collected from the endpoint
// before the next request goes out, printing nothing: every later exchange
// gets its own answer.
TEST_F(CommLayer, LateAnswerIsCollectedBeforeTheNextRequest) {
  Open();
  const Packet first = MakePacket({1, 1, 21, 1}, 1);
  const Packet second = MakePacket({1, 1, 22, 1}, 2);
  const Packet third = MakePacket({1, 1, 23, 1}, 3);
  const Packet untouched = MakePacket({0, 0, 0, 0}, 0);

  arm_->Device(0).SetResponder(nullptr);
  Packet answer = untouched;
  EXPECT_EQ(Exchange(first, answer).printed, "");
  EXPECT_TRUE(SamePacket(answer, untouched));

  arm_->Device(0).PushAnswer(MirrorOf(first));  // too late for the first read
  arm_->Device(0).SetResponder(Mirror);
  EXPECT_EQ(Exchange(second, answer).printed, "");
  EXPECT_TRUE(SamePacket(answer, MirrorOf(second)));
  Exchange(third, answer);
  EXPECT_TRUE(SamePacket(answer, MirrorOf(third)));
  EXPECT_EQ(arm_->Device(0).QueuedAnswers(), 0u);
  // Once nothing is owed, an exchange is one write and one read again.
  arm_->Device(0).ClearLog();
  ExpectHealthyExchange(4);
  EXPECT_EQ(arm_->Device(0).OutSubmissions(), 1);
  EXPECT_EQ(arm_->Device(0).InSubmissions(), 1);
}

// A device serving for hours keeps a bounded log: the newest packets only.
TEST_F(CommLayer, PacketLogKeepsTheNewestUpToItsLimit) {
  Open();
  arm_->Device(0).SetLogLimit(2);
  Packet answer{};
  for (unsigned seed = 1; seed <= 4; ++seed) Exchange(MakePacket({1, 1, 42, 3}, seed), answer);
  const std::vector<Bytes> newest{WireOf({1, 1, 42, 3}, 3), WireOf({1, 1, 42, 3}, 4)};
  EXPECT_EQ(arm_->Device(0).OutPackets(), newest);
  arm_->Device(0).SetLogLimit(0);
  Exchange(MakePacket({1, 1, 42, 3}, 5), answer);
  EXPECT_TRUE(arm_->Device(0).OutPackets().empty());
}

// --- Opening and closing ----------------------------------------------------------

class Absent : public CommLayer, public ::testing::WithParamInterface<DeviceOptions> {};

TEST_P(Absent, InitGives1014AndExchangesTouchNothing) {
  Replug(GetParam());
  EXPECT_EQ(InitCommunication(), TARSEL_ERROR_NO_ARM);
  EXPECT_EQ(miraHandle, nullptr);

  const Packet before = MakePacket({7, 7, 7, 7}, 77);
  Packet answer = before;
  const Exchanged e = Exchange(MakePacket({1, 1, 10, 0}, 5), answer);
  EXPECT_TRUE(SamePacket(answer, before));
  EXPECT_TRUE(SamePacket(e.returned, before));
  EXPECT_EQ(e.printed, kNoDeviceLine);
  EXPECT_EQ(CloseCommunication(), 1);
}

INSTANTIATE_TEST_SUITE_P(Bus, Absent,
                         ::testing::Values(DeviceOptions{TARSEL_USB_VENDOR_ID, 1, true},
                                           DeviceOptions{0x1234, TARSEL_USB_PRODUCT_ID, true},
                                           DeviceOptions{TARSEL_USB_VENDOR_ID, 0, false}),
                         [](const auto& info) {
                           if (!info.param.present) return std::string("EmptyBus");
                           return std::string(info.param.vendor_id == TARSEL_USB_VENDOR_ID
                                                  ? "OtherProduct"
                                                  : "OtherVendor");
                         });

class ClaimRefused : public CommLayer, public ::testing::WithParamInterface<int> {};

TEST_P(ClaimRefused, InitGives1015AndKeepsTheHandleUntilClose) {
  arm_->Device(0).RefuseClaim(GetParam());
  EXPECT_EQ(InitCommunication(), TARSEL_ERROR_CLAIM_FAILED);
  EXPECT_NE(miraHandle, nullptr);
  EXPECT_EQ(arm_->Device(0).Claims(), 0);
  EXPECT_EQ(CloseCommunication(), 1);
  EXPECT_EQ(miraHandle, nullptr);

  // Once the interface is free, opening works.
  arm_->Device(0).ClearFaults();
  Open();
  ExpectHealthyExchange(13);
}

INSTANTIATE_TEST_SUITE_P(Errors, ClaimRefused, ::testing::Values(EBUSY, ENODEV, EPERM),
                         [](const auto& info) {
                           return std::string(info.param == EBUSY    ? "Busy"
                                              : info.param == ENODEV ? "NoDevice"
                                                                     : "NotPermitted");
                         });

TEST_F(CommLayer, InitWhileOpenReopensTheArm) {
  ASSERT_EQ(InitCommunication(), TARSEL_OK);
  ASSERT_EQ(InitCommunication(), TARSEL_OK);
  EXPECT_EQ(arm_->Device(0).Claims(), 2);
  ExpectHealthyExchange(14);
}

TEST_F(CommLayer, CloseIsHarmlessTwiceAndBeforeOpen) {
  EXPECT_EQ(CloseCommunication(), 1);
  Open();
  EXPECT_EQ(CloseCommunication(), 1);
  EXPECT_EQ(CloseCommunication(), 1);
  EXPECT_EQ(miraHandle, nullptr);
  EXPECT_EQ(LibContext, nullptr);

  const Packet before = MakePacket({7, 7, 7, 7}, 77);
  Packet answer = before;
  const Exchanged e = Exchange(MakePacket({1, 1, 10, 0}, 5), answer);
  EXPECT_TRUE(SamePacket(answer, before));
  EXPECT_TRUE(SamePacket(e.returned, before));
  EXPECT_EQ(e.printed, kNoDeviceLine);
  EXPECT_EQ(arm_->Device(0).OutSubmissions(), 0);

  // A closed link opens again.
  Open();
  ExpectHealthyExchange(15);
}

// The launcher's way: the arm lives in this process, an ordinary libusb
// program runs against it as a child.
TEST_F(CommLayer, ChildProgramReachesTheArmOfItsParent) {
  EXPECT_EQ(arm_->Run({TARSEL_CHILD_PROBE}), 0);
  ASSERT_EQ(arm_->Device(0).OutPackets().size(), 1u);
  EXPECT_EQ(arm_->Device(0).OutPackets()[0][4], 77);
  EXPECT_EQ(arm_->Device(0).Claims(), 1);
  EXPECT_EQ(arm_->Run({"/nonexistent/program"}), -1);

  // The preload finds one test bed per process.
  EXPECT_THROW(VirtualArm{}, std::logic_error);
}

TEST_F(CommLayer, GetDeviceCountReturnsThePointedToIntWithoutUsb) {
  Open();
  for (int value : {7, 0, -1, INT_MAX, INT_MIN}) {
    int count = value;
    EXPECT_EQ(GetDeviceCount(&count), value);
    EXPECT_EQ(count, value);
  }
  EXPECT_EQ(GetDeviceCount(nullptr), 0);
  EXPECT_EQ(arm_->Device(0).Requests(), 0);
}

}  // namespace
}  // namespace tarsel::testing
