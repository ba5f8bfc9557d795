// The handle functions of the drop-in link library: TARSEL_SIM_ARMS arms on
// the simulated bus, each with a state of its own, and private arms made
// from an option text.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "elf_tools.h"
#include "environment.h"
#include "sim_control.h"
#include "tarsel/comm_layer.h"
#include "tarsel/result.h"

namespace {

using tarsel::sim::ArmOf;
using tarsel::sim::HandType;
using tarsel::sim::Instance;

const char* const kVariables[] = {"TARSEL_SIM_ARMS", "TARSEL_SIM_FAULT", "TARSEL_SIM_HAND"};

struct LinkCloser {
  void operator()(TarselArmLink* link) const { TarselLinkCloseArm(link); }
};
using Link = std::unique_ptr<TarselArmLink, LinkCloser>;

Packet Request(short command, short size) {
  Packet p{};
  p.PacketIndex = 1;
  p.PacketCount = 1;
  p.CommandId = command;
  p.PayloadSize = size;
  p.Data[0] = static_cast<unsigned char>(size);
  return p;
}

// The verdict word of one exchange, or the link's code when it failed.
int Verdict(TarselArmLink* link, short command, short size = 0) {
  const Packet request = Request(command, size);
  Packet answer{};
  const int code = TarselLinkExchange(link, &request, &answer);
  return code == TARSEL_OK ? answer.CommandId : -code;
}

class SimArms : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (const char* v : kVariables) unsetenv(v);
  }

  Link Open(const char* path) {
    TarselArmLink* link = nullptr;
    EXPECT_EQ(TarselLinkOpenArm(path, &link), TARSEL_OK) << path;
    Link opened(link);
    if (link != nullptr) {
      ArmOf(link)->SetClock(clock_.Source());
      ArmOf(link)->PowerCycle();
    }
    return opened;
  }

  tarsel::sim::ManualClock clock_;
};

std::vector<TarselArmLinkInfo> List() {
  TarselArmLinkInfo arms[tarsel::sim::kMaxSimulatedArms + 1];
  int count = -1;
  EXPECT_EQ(TarselLinkListArms(arms, tarsel::sim::kMaxSimulatedArms + 1, &count), TARSEL_OK);
  return std::vector<TarselArmLinkInfo>(arms, arms + (count > 0 ? count : 0));
}

struct BusCase {
  const char* arms;   // TARSEL_SIM_ARMS, null: unset
  const char* fault;  // TARSEL_SIM_FAULT, null: unset
  int listed;
};

// By field: printed byte by byte, the struct's padding would be read
// uninitialised (valgrind reports it).
void PrintTo(const BusCase& c, std::ostream* os) {
  *os << "arms " << (c.arms ? c.arms : "unset") << ", fault " << (c.fault ? c.fault : "unset");
}

class SimBus : public SimArms, public ::testing::WithParamInterface<BusCase> {};

TEST_P(SimBus, ListsTheConfiguredArms) {
  const BusCase& c = GetParam();
  if (c.arms != nullptr) setenv("TARSEL_SIM_ARMS", c.arms, 1);
  if (c.fault != nullptr) setenv("TARSEL_SIM_FAULT", c.fault, 1);
  const std::vector<TarselArmLinkInfo> arms = List();
  ASSERT_EQ(arms.size(), static_cast<std::size_t>(c.listed));
  for (int i = 0; i < c.listed; ++i) {
    const TarselArmLinkInfo& arm = arms[static_cast<std::size_t>(i)];
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM-%04d", i + 1);
    EXPECT_EQ(std::string(arm.path), "sim:" + std::to_string(i + 1));
    EXPECT_EQ(arm.vendorId, TARSEL_USB_VENDOR_ID);
    EXPECT_EQ(arm.productId, TARSEL_USB_PRODUCT_ID);
    EXPECT_STREQ(arm.serial, serial);
    EXPECT_STREQ(arm.product, "Tarsel simulated arm");
  }
  // Every listed path opens, the next one does not.
  for (const TarselArmLinkInfo& arm : arms) Open(arm.path);
  const std::string beyond = "sim:" + std::to_string(c.listed + 1);
  TarselArmLink* link = nullptr;
  EXPECT_EQ(TarselLinkOpenArm(beyond.c_str(), &link), TARSEL_ERROR_NO_ARM);
  EXPECT_EQ(link, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, SimBus,
                         ::testing::Values(BusCase{nullptr, nullptr, 1}, BusCase{"2", nullptr, 2},
                                           BusCase{"12", nullptr, 12},
                                           BusCase{"many", nullptr, 1},  // ignored, reported
                                           BusCase{"3", "absent", 0}));

TEST_F(SimArms, PathsOpenOnlyAsListed) {
  setenv("TARSEL_SIM_ARMS", "2", 1);
  for (const char* path : {"sim:0", "sim:02", "sim:", "usb:1-1", "sim:1 "}) {
    TarselArmLink* link = nullptr;
    EXPECT_EQ(TarselLinkOpenArm(path, &link), TARSEL_ERROR_NO_ARM) << path;
  }
  const Link first = Open(nullptr);
  EXPECT_EQ(ArmOf(first.get()), &Instance());
  EXPECT_EQ(TarselLinkOpenArm("sim:1", nullptr), TARSEL_ERROR_ARGUMENT);
  int count = 0;
  EXPECT_EQ(TarselLinkListArms(nullptr, 1, &count), TARSEL_ERROR_ARGUMENT);
  EXPECT_EQ(TarselLinkListArms(nullptr, 0, nullptr), TARSEL_ERROR_ARGUMENT);
}

// What is done to one arm leaves the other as it was; "sim:1" is the arm of
// the four plain functions.
TEST_F(SimArms, EachArmKeepsItsOwnState) {
  setenv("TARSEL_SIM_ARMS", "2", 1);
  const Link one = Open("sim:1");
  const Link two = Open("sim:2");
  ASSERT_NE(ArmOf(one.get()), ArmOf(two.get()));
  ASSERT_EQ(ArmOf(one.get()), &Instance());
  const auto poweredOn = ArmOf(one.get())->Snapshot().joints;

  EXPECT_EQ(Verdict(two.get(), 311), 311);  // move home
  clock_.Advance(5.0);
  EXPECT_NE(ArmOf(two.get())->Snapshot().joints, poweredOn);
  EXPECT_EQ(ArmOf(one.get())->Snapshot().joints, poweredOn);

  ASSERT_EQ(InitCommunication(), TARSEL_OK);
  Packet answer{};
  int reserved = 0;
  SendPacket(Request(302, 0), answer, reserved);  // API control on
  CloseCommunication();
  EXPECT_EQ(answer.CommandId, 302);
  EXPECT_TRUE(ArmOf(one.get())->Snapshot().apiControl);
  EXPECT_FALSE(ArmOf(two.get())->Snapshot().apiControl);
  ArmOf(one.get())->PowerCycle();
}

TEST_F(SimArms, SilenceIs2008AndLeavesTheAnswer) {
  const Link link = Open("sim:1");
  ArmOf(link.get())->UnplugAfter(0);
  const Packet request = Request(105, 1);
  Packet answer;
  std::memset(&answer, 0x5A, sizeof answer);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(TarselLinkExchange(link.get(), &request, &answer), TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(answer.CommandId, 0x5A5A);
  ArmOf(link.get())->UnplugAfter(-1);
  EXPECT_EQ(TarselLinkExchange(link.get(), nullptr, &answer), TARSEL_ERROR_ARGUMENT);
}

TEST_F(SimArms, CreatedArmTakesItsOptions) {
  TarselArmLink* raw = nullptr;
  ASSERT_EQ(TarselSimCreateArm("hand=2, time_scale=10,finger_points=0,fault=error:105,noanswer:104",
                               &raw),
            TARSEL_OK);
  const Link link(raw);
  tarsel::sim::SimulatedArm* arm = ArmOf(link.get());
  ASSERT_NE(arm, nullptr);
  EXPECT_NE(arm, &Instance());
  EXPECT_EQ(arm->Snapshot().hand, HandType::kTwoFingers);
  EXPECT_EQ(arm->Snapshot().timeScale, 10.0);
  EXPECT_TRUE(arm->Snapshot().fingersInitialized);
  EXPECT_EQ(Verdict(link.get(), 105, 1), 105 | 0x4000);
  EXPECT_EQ(Verdict(link.get(), 104, 1), -TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(Verdict(link.get(), 106, 1), 106);
  EXPECT_EQ(List().size(), 1u) << "a created arm is not on the bus";

  // The variables do not reach a created arm.
  setenv("TARSEL_SIM_HAND", "2", 1);
  ASSERT_EQ(TarselSimCreateArm(nullptr, &raw), TARSEL_OK);
  const Link plain(raw);
  EXPECT_EQ(ArmOf(plain.get())->Snapshot().hand, HandType::kThreeFingers);
  EXPECT_EQ(Verdict(plain.get(), 105, 1), 105);
}

// The last count events of a pcapng capture, newest last, read backwards
// over the blocks' trailing lengths: endpoint, device, status and the
// packet's command word (0 without data).
std::vector<std::array<int, 5>> LastEvents(const std::string& path, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
  std::vector<std::array<int, 5>> events;
  std::size_t end = bytes.size();
  while (events.size() < count && end >= 12) {
    std::uint32_t length = 0;
    std::memcpy(&length, bytes.data() + end - 4, 4);
    if (length < 12 || length > end) break;
    const unsigned char* block = bytes.data() + end - length;
    std::uint32_t type = 0, captured = 0;
    std::int32_t status = 0;
    std::memcpy(&type, block, 4);
    if (type != 6) break;
    std::memcpy(&captured, block + 20, 4);
    const unsigned char* usbmon = block + 28;
    std::memcpy(&status, usbmon + 28, 4);
    const int command = captured >= 64 + 6 ? usbmon[64 + 4] | usbmon[64 + 5] << 8 : 0;
    events.insert(events.begin(), {usbmon[8], usbmon[10], usbmon[11], status, command});
    end -= length;
  }
  return events;
}

// Every arm's exchanges are kept as the USB link keeps its transfers: a
// request as an OUT transfer, its answer as an IN transfer, or silence as an
// IN transfer that timed out, each under its arm's number (0: a created
// arm).
TEST_F(SimArms, RecentExchangesAreSavedUnderTheirArms) {
  setenv("TARSEL_SIM_ARMS", "2", 1);
  const Link second = Open("sim:2");
  TarselArmLink* raw = nullptr;
  ASSERT_EQ(TarselSimCreateArm("fault=noanswer:104", &raw), TARSEL_OK);
  const Link created(raw);
  EXPECT_EQ(Verdict(second.get(), 105, 1), 105);
  EXPECT_EQ(Verdict(created.get(), 104, 1), -TARSEL_ERROR_NO_ANSWER);
  const std::string file = ::testing::TempDir() + "tarsel-sim-recent.pcapng";
  ASSERT_EQ(TarselLinkSaveRecentPackets(file.c_str()), TARSEL_OK);
  const std::vector<std::array<int, 5>> expected = {
      {'S', 0x02, 2, -EINPROGRESS, 105}, {'C', 0x02, 2, 0, 0},
      {'S', 0x82, 2, -EINPROGRESS, 0},   {'C', 0x82, 2, 0, 105},
      {'S', 0x02, 0, -EINPROGRESS, 104}, {'C', 0x02, 0, 0, 0},
      {'S', 0x82, 0, -EINPROGRESS, 0},   {'C', 0x82, 0, -ETIMEDOUT, 0}};
  EXPECT_EQ(LastEvents(file, expected.size()), expected);
  std::remove(file.c_str());
}

TEST_F(SimArms, BadOptionTextCreatesNothing) {
  for (const char* options : {"hand=4", "speed=2", "fault=absent", "hand=2,hand=3"}) {
    TarselArmLink* link = reinterpret_cast<TarselArmLink*>(&link);  // anything but null
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(TarselSimCreateArm(options, &link), TARSEL_ERROR_ARGUMENT) << options;
    EXPECT_NE(::testing::internal::GetCapturedStderr(), "") << options;
    EXPECT_EQ(link, nullptr) << options;
  }
  EXPECT_EQ(TarselSimCreateArm("", nullptr), TARSEL_ERROR_ARGUMENT);
}

// The library's calls to its own link functions stay inside it: none goes
// through a relocation that a link library loaded before it, exporting the
// same names, could take.
TEST(SimLinkLibrary, BindsItsOwnLinkFunctions) {
  const std::string relocations =
      tarsel::testing::RunCommand(std::string(TARSEL_READELF) + " -rW '" TARSEL_SIM_LINK "'");
  ASSERT_NE(relocations, "");
  for (const char* name : {"InitCommunication", "CloseCommunication", "GetDeviceCount",
                           "SendPacket", "TarselLinkListArms", "TarselLinkOpenArm",
                           "TarselLinkExchange", "TarselLinkCloseArm", "TarselSimCreateArm",
                           "TarselLinkSaveRecentPackets"}) {
    EXPECT_EQ(relocations.find(std::string(" ") + name + " "), std::string::npos) << name;
    EXPECT_TRUE(tarsel::testing::DynamicSymbols(TARSEL_SIM_LINK).count(name)) << name;
  }
}

}  // namespace
