// The handle functions of the real link library on a virtual bus holding
// several arms, each answering in a way of its own.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tarsel/result.h"
#include "wire.h"

namespace tarsel::testing {
namespace {

using vusb::Responder;
using vusb::VirtualArm;
using vusb::VirtualDevice;

// The mirror of the request, with the answering device's number in
// PacketCount: tells apart which arm answered which request.
Responder Tagged(short tag) {
  return [tag](const Packet& request) -> std::optional<Packet> {
    Packet answer = MirrorOf(request);
    answer.PacketCount = tag;
    return answer;
  };
}

Packet TaggedAnswer(const Packet& request, short tag) {
  return *Tagged(tag)(request);
}

// Handles that close themselves.
struct LinkCloser {
  void operator()(TarselArmLink* link) const { TarselLinkCloseArm(link); }
};
using Link = std::unique_ptr<TarselArmLink, LinkCloser>;

std::vector<TarselArmLinkInfo> List() {
  int count = -1;
  EXPECT_EQ(TarselLinkListArms(nullptr, 0, &count), TARSEL_OK);
  std::vector<TarselArmLinkInfo> arms(static_cast<std::size_t>(count > 0 ? count : 0));
  EXPECT_EQ(TarselLinkListArms(arms.data(), count, &count), TARSEL_OK);
  return arms;
}

std::vector<std::string> Paths(const std::vector<TarselArmLinkInfo>& arms) {
  std::vector<std::string> paths;
  for (const auto& arm : arms) paths.emplace_back(arm.path);
  return paths;
}

// Two arms on the bus: device 0 answers with tag 1, device 1 with tag 2.
class ArmLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseCommunication();
    bus_ = std::make_unique<VirtualArm>(std::vector<Responder>{Tagged(1), Tagged(2)});
  }
  void TearDown() override {
    CloseCommunication();
    bus_.reset();
  }

  Link Open(const char* path) {
    TarselArmLink* link = nullptr;
    EXPECT_EQ(TarselLinkOpenArm(path, &link), TARSEL_OK) << path;
    return Link(link);
  }

  VirtualDevice& Device(std::size_t i) { return bus_->Device(i); }

  std::unique_ptr<VirtualArm> bus_;
};

TEST_F(ArmLinks, ListsEachArmWithItsPlaceOnTheBus) {
  int count = -1;
  EXPECT_EQ(TarselLinkListArms(nullptr, 0, &count), TARSEL_OK);
  EXPECT_EQ(count, 2);

  TarselArmLinkInfo arms[3];
  std::memset(arms, 0x7E, sizeof arms);
  ASSERT_EQ(TarselLinkListArms(arms, 3, &count), TARSEL_OK);
  ASSERT_EQ(count, 2);
  for (int i = 0; i < 2; ++i) {
    const VirtualDevice& device = Device(static_cast<std::size_t>(i));
    EXPECT_EQ(std::string(arms[i].path), "usb:" + device.PortPath());
    EXPECT_EQ(arms[i].vendorId, TARSEL_USB_VENDOR_ID);
    EXPECT_EQ(arms[i].productId, TARSEL_USB_PRODUCT_ID);
    EXPECT_EQ(arms[i].bus, 1);
    EXPECT_EQ(arms[i].address, device.Address());
    // The device announces no strings, and is asked for none.
    EXPECT_STREQ(arms[i].serial, "");
    EXPECT_STREQ(arms[i].product, "");
    EXPECT_EQ(device.Requests(), 0);
  }
  EXPECT_EQ(arms[2].vendorId, 0x7E7E) << "an entry beyond the count was written";

  // A smaller array takes the first ones; the count stays the whole.
  TarselArmLinkInfo first;
  ASSERT_EQ(TarselLinkListArms(&first, 1, &count), TARSEL_OK);
  EXPECT_EQ(count, 2);
  EXPECT_STREQ(first.path, arms[0].path);
}

// Ports sort as numbers: port 10 comes after port 9, not after port 1.
TEST(ArmLinkOrder, FollowsThePortNumbers) {
  CloseCommunication();
  const VirtualArm bus(std::vector<Responder>(11));
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < bus.DeviceCount(); ++i) {
    expected.push_back("usb:" + bus.Device(i).PortPath());
  }
  EXPECT_EQ(expected.back(), "usb:1-11");
  EXPECT_EQ(Paths(List()), expected);
  EXPECT_EQ(Paths(List()), expected) << "a second listing differs";
}

TEST_F(ArmLinks, EachPathReachesItsOwnArm) {
  const std::vector<TarselArmLinkInfo> arms = List();
  ASSERT_EQ(arms.size(), 2u);
  for (short i = 0; i < 2; ++i) {
    Device(0).ClearLog();
    Device(1).ClearLog();
    Link link = Open(arms[static_cast<std::size_t>(i)].path);
    ASSERT_NE(link, nullptr);
    const Packet request = MakePacket({1, 1, 105, 1}, 30u + static_cast<unsigned>(i));
    Packet answer = MakePacket({0, 0, 0, 0}, 0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(TarselLinkExchange(link.get(), &request, &answer), TARSEL_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(SamePacket(answer, TaggedAnswer(request, static_cast<short>(i + 1))));
    EXPECT_EQ(Device(static_cast<std::size_t>(i)).OutPackets(),
              std::vector<Bytes>{BytesOf(request)});
    EXPECT_EQ(Device(static_cast<std::size_t>(1 - i)).Requests(), 0) << "the other arm was used";
  }
}

TEST_F(ArmLinks, NoPathOpensTheFirstListed) {
  for (const char* path : {static_cast<const char*>(nullptr), ""}) {
    Link link = Open(path);
    const Packet request = MakePacket({1, 1, 10, 0}, 1);
    Packet answer{};
    ASSERT_EQ(TarselLinkExchange(link.get(), &request, &answer), TARSEL_OK);
    EXPECT_EQ(answer.PacketCount, 1);
  }
}

struct OpenFailure {
  const char* name;
  const char* path;
  std::function<void(VirtualArm&)> fault;
  int code;
};

void PrintTo(const OpenFailure& c, std::ostream* os) {
  *os << c.name;
}

class OpenFailures : public ArmLinks, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailures, GiveTheirCodeAndNoHandle) {
  const OpenFailure& c = GetParam();
  c.fault(*bus_);
  TarselArmLink* link = reinterpret_cast<TarselArmLink*>(&link);  // anything but null
  EXPECT_EQ(TarselLinkOpenArm(c.path, &link), c.code);
  EXPECT_EQ(link, nullptr);

  // Once the fault is gone, the arm opens.
  bus_->Device(1).ClearFaults();
  Link again = Open("usb:1-2");
  EXPECT_NE(again, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailures,
    ::testing::Values(OpenFailure{"NoSuchPort", "usb:1-3", [](VirtualArm&) {}, TARSEL_ERROR_NO_ARM},
                      OpenFailure{"OtherBus", "usb:2-2", [](VirtualArm&) {}, TARSEL_ERROR_NO_ARM},
                      OpenFailure{"PathPrefix", "usb:1", [](VirtualArm&) {}, TARSEL_ERROR_NO_ARM},
                      OpenFailure{"SimulatorPath", "sim:1", [](VirtualArm&) {},
                                  TARSEL_ERROR_NO_ARM},
                      OpenFailure{"ClaimRefused", "usb:1-2",
                                  [](VirtualArm& bus) { bus.Device(1).RefuseClaim(EBUSY); },
                                  TARSEL_ERROR_CLAIM_FAILED}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ArmLinkArguments, NullsAreRefusedBeforeAnythingIsSent) {
  TarselArmLinkInfo info;
  int count = 5;
  EXPECT_EQ(TarselLinkListArms(&info, 1, nullptr), TARSEL_ERROR_ARGUMENT);
  EXPECT_EQ(TarselLinkListArms(nullptr, 1, &count), TARSEL_ERROR_ARGUMENT);
  EXPECT_EQ(TarselLinkListArms(&info, -1, &count), TARSEL_ERROR_ARGUMENT);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(TarselLinkOpenArm(nullptr, nullptr), TARSEL_ERROR_ARGUMENT);

  // The arm is there, but a null argument never reaches it.
  CloseCommunication();
  VirtualArm bus(Mirror);
  TarselArmLink* raw = nullptr;
  ASSERT_EQ(TarselLinkOpenArm(nullptr, &raw), TARSEL_OK);
  const Link link(raw);
  Packet packet{};
  EXPECT_EQ(TarselLinkExchange(nullptr, &packet, &packet), TARSEL_ERROR_ARGUMENT);
  EXPECT_EQ(TarselLinkExchange(link.get(), nullptr, &packet), TARSEL_ERROR_ARGUMENT);
  EXPECT_EQ(TarselLinkExchange(link.get(), &packet, nullptr), TARSEL_ERROR_ARGUMENT);
  EXPECT_EQ(bus.Device(0).OutSubmissions(), 0);
  EXPECT_EQ(TarselLinkCloseArm(nullptr), TARSEL_OK);
}

// A failed exchange on a handle is 2008, silent on standard output, and
// leaves the answer as it was.
struct ExchangeFault {
  const char* name;
  void (*apply)(VirtualDevice&);
};

void PrintTo(const ExchangeFault& c, std::ostream* os) {
  *os << c.name;
}

class ExchangeFaults : public ArmLinks, public ::testing::WithParamInterface<ExchangeFault> {};

TEST_P(ExchangeFaults, Give2008AndPrintNothing) {
  Link link = Open("usb:1-1");
  GetParam().apply(Device(0));
  const Packet before = MakePacket({7, 7, 7, 7}, 77);
  Packet answer = before;
  const Packet request = MakePacket({1, 1, 105, 1}, 5);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(TarselLinkExchange(link.get(), &request, &answer), TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(SamePacket(answer, before));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ExchangeFaults,
    ::testing::Values(ExchangeFault{"Silent", [](VirtualDevice& d) { d.SetResponder(nullptr); }},
                      ExchangeFault{"WriteTimesOut", [](VirtualDevice& d) { d.StallOut(); }},
                      ExchangeFault{"Gone", [](VirtualDevice& d) { d.Unplug(); }},
                      ExchangeFault{"ShortAnswer", [](VirtualDevice& d) { d.ShortIn(63); }}),
    [](const auto& info) { return std::string(info.param.name); });

// The late answer of a lost exchange is collected on its own handle; the other
// handle, which lost nothing, keeps to one write and one read.
TEST_F(ArmLinks, LateAnswerIsCollectedOnItsOwnHandle) {
  Link first = Open("usb:1-1");
  Link second = Open("usb:1-2");
  const Packet lost = MakePacket({1, 1, 21, 1}, 1);
  const Packet next = MakePacket({1, 1, 22, 1}, 2);
  Packet answer = MakePacket({0, 0, 0, 0}, 0);

  Device(0).SetResponder(nullptr);
  ASSERT_EQ(TarselLinkExchange(first.get(), &lost, &answer), TARSEL_ERROR_NO_ANSWER);
  Device(0).PushAnswer(TaggedAnswer(lost, 1));  // too late for that read
  Device(0).SetResponder(Tagged(1));

  Device(1).ClearLog();
  ASSERT_EQ(TarselLinkExchange(second.get(), &next, &answer), TARSEL_OK);
  EXPECT_TRUE(SamePacket(answer, TaggedAnswer(next, 2)));
  EXPECT_EQ(Device(1).InSubmissions(), 1);

  ASSERT_EQ(TarselLinkExchange(first.get(), &next, &answer), TARSEL_OK);
  EXPECT_TRUE(SamePacket(answer, TaggedAnswer(next, 1)));
  EXPECT_EQ(Device(0).QueuedAnswers(), 0u);
}

TEST_F(ArmLinks, TwoThreadsOnTwoHandlesEachGetTheirOwnAnswers) {
  constexpr int kExchanges = 150;
  std::atomic<int> wrong{0};
  auto worker = [&](const char* path, short tag) {
    return std::thread([&, path, tag] {
      Link link = Open(path);
      for (int i = 0; i < kExchanges; ++i) {
        const Packet request =
            MakePacket({static_cast<short>(i), 1, 105, 1}, static_cast<unsigned>(i * tag));
        Packet answer{};
        if (TarselLinkExchange(link.get(), &request, &answer) != TARSEL_OK ||
            !SamePacket(answer, TaggedAnswer(request, tag))) {
          ++wrong;
        }
      }
    });
  };
  std::thread a = worker("usb:1-1", 1);
  std::thread b = worker("usb:1-2", 2);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(Device(0).OutPackets().size(), static_cast<std::size_t>(kExchanges));
  EXPECT_EQ(Device(1).OutPackets().size(), static_cast<std::size_t>(kExchanges));
}

// The four plain functions keep reaching one arm, the first libusb finds,
// while a handle holds the other; closing either leaves the other working.
TEST_F(ArmLinks, PlainFunctionsWorkBesideHandles) {
  ASSERT_EQ(InitCommunication(), TARSEL_OK);
  const Packet request = MakePacket({1, 1, 105, 1}, 9);
  Packet answer{};
  Exchange(request, answer);
  const short plainTag = answer.PacketCount;
  ASSERT_TRUE(plainTag == 1 || plainTag == 2) << plainTag;
  const std::string otherPath = plainTag == 1 ? "usb:1-2" : "usb:1-1";

  Link link = Open(otherPath.c_str());
  ASSERT_EQ(TarselLinkExchange(link.get(), &request, &answer), TARSEL_OK);
  EXPECT_EQ(answer.PacketCount, 3 - plainTag);
  EXPECT_EQ(Exchange(request, answer).printed, "");
  EXPECT_EQ(answer.PacketCount, plainTag);

  link.reset();
  EXPECT_EQ(Exchange(request, answer).printed, "");
  EXPECT_TRUE(SamePacket(answer, TaggedAnswer(request, plainTag)));
  CloseCommunication();
  link = Open(otherPath.c_str());
  ASSERT_EQ(TarselLinkExchange(link.get(), &request, &answer), TARSEL_OK);
  EXPECT_EQ(answer.PacketCount, 3 - plainTag);
}

#ifdef TARSEL_SIM_USB
// The launcher puts as many simulated arms on the bus as it is told; the
// probe counts the arms that answer through handles.
struct LauncherCase {
  const char* name;
  const char* variables;
  const char* options;
  int status;
};

void PrintTo(const LauncherCase& c, std::ostream* os) {
  *os << c.name;
}

class Launcher : public ::testing::TestWithParam<LauncherCase> {};

TEST_P(Launcher, PutsTheArmsItIsToldOnTheBus) {
  const LauncherCase& c = GetParam();
  const std::string command = std::string("env -u TARSEL_SIM_ARMS ") + c.variables + " '" +
                              TARSEL_SIM_USB + "' " + c.options + " '" + TARSEL_CHILD_PROBE +
                              "' arms 2>/dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << command;
  EXPECT_EQ(WEXITSTATUS(status), c.status) << command;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Launcher,
    ::testing::Values(LauncherCase{"OneByDefault", "", "", 1},
                      LauncherCase{"FromTheVariable", "TARSEL_SIM_ARMS=2", "", 2},
                      LauncherCase{"OptionOverridesVariable", "TARSEL_SIM_ARMS=2", "--arms 3", 3},
                      LauncherCase{"NoArmWhenAbsent", "TARSEL_SIM_FAULT=absent", "--arms 2", 0},
                      LauncherCase{"TooManyIsAUsageError", "", "--arms 33", 2},
                      LauncherCase{"NoneIsAUsageError", "", "--arms 0", 2}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
}  // namespace tarsel::testing
