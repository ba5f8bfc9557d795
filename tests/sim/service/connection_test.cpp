// tarsel-sim's connections as programs meet them: a message is only ever
// continued by the program that began it, on the connection it began it on;
// the socket and the process behind it must belong to the same user; a full
// service says so; idle connections are dropped and the link library comes
// back on its own where that is safe.
#include <sys/socket.h>
#include <sys/un.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "protocol.h"
#include "service_fixture.h"
#include "tarsel/comm_layer.h"
#include "tarsel/vusb/bus_clock.h"
#include "tarsel/result.h"

namespace servicetest {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
namespace protocol = tarsel::sim::service;

constexpr short kSetControlMapping = 40;
constexpr short kGetControlMapping = 41;
constexpr short kGetAngularPosition = 105;
constexpr short kMappingBytes = 14816;
constexpr int kMappingPackets = (kMappingBytes + 55) / 56;  // 265
constexpr uid_t kOtherUid = 65534;                          // nobody

// The API's judgement of an exchange: the link's code, else the verdict's.
int Judge(int code, const Packet& answer) {
  if (code != TARSEL_OK) return code;
  if (answer.CommandId < 0) {
    return answer.PacketIndex == 1 ? TARSEL_ERROR_FIRST_PACKET : TARSEL_ERROR_LATER_PACKET;
  }
  if ((answer.CommandId & 0x4000) != 0) return TARSEL_ERROR_ANSWER_ERROR_BIT;
  return TARSEL_OK;
}

// Packets first to last of a read of command, asked for as the API asks;
// their data appended to bytes. 1, or the first failure as the API reports it.
int ReadPackets(TarselArmLink* link, short command, int first, int last,
                std::vector<unsigned char>& bytes) {
  for (int index = first; index <= last; ++index) {
    Packet request{};
    request.PacketIndex = static_cast<short>(index);
    request.PacketCount = 1;
    request.CommandId = command;
    request.PayloadSize = index == 1 ? 1 : kMappingBytes;
    request.Data[0] = 1;
    Packet answer{};
    const int code = Judge(TarselLinkExchange(link, &request, &answer), answer);
    if (code != TARSEL_OK) return code;
    bytes.insert(bytes.end(), answer.Data, answer.Data + sizeof answer.Data);
  }
  return TARSEL_OK;
}

// A whole control mapping write, every byte fill.
int WriteMapping(TarselArmLink* link, unsigned char fill) {
  for (int index = 1; index <= kMappingPackets; ++index) {
    Packet request{};
    request.PacketIndex = static_cast<short>(index);
    request.PacketCount = kMappingPackets;
    request.CommandId = kSetControlMapping;
    request.PayloadSize = kMappingBytes;
    std::memset(request.Data, fill, sizeof request.Data);
    Packet answer{};
    const int code = Judge(TarselLinkExchange(link, &request, &answer), answer);
    if (code != TARSEL_OK) return code;
  }
  return TARSEL_OK;
}

// The service tests, plus handles of the link library in this process (each
// a connection of its own, as another program's would be).
class Connections : public ServiceTest {
 protected:
  void TearDown() override {
    for (TarselArmLink* link : links_) TarselLinkCloseArm(link);
    ::unsetenv("TARSEL_SIM_SOCKET");
    ServiceTest::TearDown();
  }

  TarselArmLink* Open() {
    ::setenv("TARSEL_SIM_SOCKET", socket_.c_str(), 1);
    TarselArmLink* link = nullptr;
    EXPECT_EQ(TarselLinkOpenArm("sim:1", &link), TARSEL_OK);
    if (link != nullptr) links_.push_back(link);
    return link;
  }

  // A connection of its own to the service, after one listing exchange;
  // -1 when it was not served.
  int RawConnection() {
    std::string why;
    const int fd = protocol::Connect(socket_, why);
    if (fd < 0) return -1;
    if (RawExchange(fd) != protocol::Status::kAnswered) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  // One listing request on fd; the answer's status (kBadRequest when none came).
  static protocol::Status RawExchange(int fd) {
    unsigned char out[protocol::kRequestSize];
    protocol::Encode(protocol::Request{protocol::Op::kList, 0, {}}, out);
    unsigned char in[protocol::kAnswerSize];
    if (!protocol::SendAll(fd, out, sizeof out) || !protocol::ReceiveAll(fd, in, sizeof in)) {
      return protocol::Status::kBadRequest;
    }
    return protocol::DecodeAnswer(in).status;
  }

  int Lines(const std::string& cue) const {
    const std::string err = ReadFile(dir_ / "service.err");
    int n = 0;
    for (auto at = err.find(cue); at != std::string::npos; at = err.find(cue, at + 1)) ++n;
    return n;
  }

  std::vector<TarselArmLink*> links_;
};

// --- A message is continued only by the program that began it --------------------

struct Interruption {
  const char* name;
  // What happens while the reader is in the middle of its read; other is a
  // second program's handle on the same arm.
  std::function<void(Connections&, TarselArmLink* other)> happen;
};

void PrintTo(const Interruption& c, std::ostream* out) { *out << c.name; }

class TornReads : public Connections, public ::testing::WithParamInterface<Interruption> {
 public:
  void Restart() {
    ASSERT_EQ(StopService(SIGTERM), 0);
    ASSERT_TRUE(StartService({}));
  }
};

TEST_P(TornReads, FailInsteadOfMixingTwoAnswers) {
  ASSERT_TRUE(StartService({}));
  TarselArmLink* reader = Open();
  TarselArmLink* other = Open();
  ASSERT_NE(reader, nullptr);
  ASSERT_NE(other, nullptr);
  std::vector<unsigned char> bytes;
  ASSERT_EQ(ReadPackets(reader, kGetControlMapping, 1, 10, bytes), TARSEL_OK);

  // The other program waits out the reader's stall limit inside the service.
  GetParam().happen(*this, other);

  const int code = ReadPackets(reader, kGetControlMapping, 11, kMappingPackets, bytes);
  const auto written = std::count(bytes.begin(), bytes.end(), 0x5A);
  EXPECT_THAT(code, AnyOf(TARSEL_ERROR_LATER_PACKET, TARSEL_ERROR_NO_ANSWER))
      << "the read went on (" << written << " bytes of the other program's block)";

  // Begun again, the read is whole and of one block.
  bytes.clear();
  EXPECT_EQ(ReadPackets(reader, kGetControlMapping, 1, kMappingPackets, bytes), TARSEL_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Service, TornReads,
    ::testing::Values(
        Interruption{"another_program_writes_the_block",
                     [](Connections&, TarselArmLink* other) {
                       EXPECT_EQ(WriteMapping(other, 0x5A), TARSEL_OK);
                     }},
        Interruption{"another_program_reads_the_block_and_stalls",
                     [](Connections&, TarselArmLink* other) {
                       std::vector<unsigned char> theirs;
                       EXPECT_EQ(ReadPackets(other, kGetControlMapping, 1, 5, theirs), TARSEL_OK);
                     }},
        Interruption{"service_restarted",
                     [](Connections& test, TarselArmLink*) {
                       static_cast<TornReads&>(test).Restart();
                     }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A full service, and idle connections ------------------------------------------

TEST_F(Connections, AProgramBeyondTheLimitIsToldTheServiceIsFull) {
  ASSERT_TRUE(StartService({}));
  std::vector<int> held;
  for (int i = 0; i < 64; ++i) {
    const int fd = RawConnection();
    ASSERT_GE(fd, 0) << "connection " << i + 1;
    held.push_back(fd);
  }
  const Result refused = Tool({"status"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.err, HasSubstr("the simulator service at " + socket_ + " is full (64 programs)"));

  for (const int fd : held) ::close(fd);
  EXPECT_TRUE(Eventually([&] { return Tool({"status"}).status == 0; }));
}

TEST_F(Connections, IdleConnectionsAreDroppedAndTheLinkComesBack) {
  ASSERT_TRUE(StartService({"--idle-limit", "0.2"}));
  const std::string cue = "closed a connection idle for 0.2 s";
  const int fd = RawConnection();
  ASSERT_GE(fd, 0);
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 30000), 1) << "the idle connection stayed open";
  char byte;
  EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);
  ::close(fd);
  ASSERT_TRUE(Eventually([&] { return Lines(cue) == 1; }));

  // A packet that begins a message goes out again on a new connection.
  TarselArmLink* link = Open();
  ASSERT_NE(link, nullptr);
  std::vector<unsigned char> bytes;
  ASSERT_EQ(ReadPackets(link, kGetAngularPosition, 1, 1, bytes), TARSEL_OK);
  const int before = Lines(cue);
  ASSERT_TRUE(Eventually([&] { return Lines(cue) > before; }));
  EXPECT_EQ(ReadPackets(link, kGetAngularPosition, 1, 1, bytes), TARSEL_OK);
}

// --- Time on the bus ---------------------------------------------------------------

// With --bus-clock the arm takes a request at the first frame start after it
// came and answers at the next: an answer is never back before the second
// frame start after the request left (frames are the same in every process).
TEST_F(Connections, OnTheBusClockAnExchangeSpansTwoFrameStarts) {
  ASSERT_TRUE(StartService({"--bus-clock"}));
  TarselArmLink* link = Open();
  ASSERT_NE(link, nullptr);
  for (int i = 0; i < 20; ++i) {
    std::vector<unsigned char> bytes;
    const auto sent = tarsel::vusb::BusClock::now();
    ASSERT_EQ(ReadPackets(link, kGetAngularPosition, 1, 1, bytes), TARSEL_OK);
    const auto back = tarsel::vusb::BusClock::now();
    const auto taken = tarsel::vusb::NextPoll(sent, 1);
    EXPECT_GE(back, tarsel::vusb::NextPoll(taken, 1)) << "exchange " << i;
  }
}

// --- Another user's socket or service -----------------------------------------------

// A listening socket at path, made by this process.
int ListenAt(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

struct Foreigner {
  const char* name;
  // Puts something of kOtherUid's at path: the process that must be ended
  // afterwards, or 0.
  std::function<pid_t(const std::string& path)> place;
};

void PrintTo(const Foreigner& c, std::ostream* out) { *out << c.name; }

class ForeignServices : public ServiceTest, public ::testing::WithParamInterface<Foreigner> {};

TEST_P(ForeignServices, AreNotUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const pid_t owner = GetParam().place(socket_);
  ASSERT_GE(owner, 0);
  const Result r = Tool({"status"});
  if (owner > 0) {
    ::kill(owner, SIGKILL);
    ::waitpid(owner, nullptr, 0);
  }
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr(socket_));
  EXPECT_THAT(r.err, HasSubstr("uid " + std::to_string(kOtherUid)));
  EXPECT_THAT(r.err, HasSubstr("1014"));
}

INSTANTIATE_TEST_SUITE_P(
    Service, ForeignServices,
    ::testing::Values(
        Foreigner{"socket_file",
                  [](const std::string& path) -> pid_t {
                    const pid_t child = ::fork();
                    if (child == 0) {
                      if (ListenAt(path) < 0 || ::chown(path.c_str(), kOtherUid, kOtherUid) != 0) {
                        ::_exit(1);
                      }
                      while (true) ::pause();
                    }
                    return Eventually([&] {
                      struct stat st {};
                      return ::lstat(path.c_str(), &st) == 0 && st.st_uid == kOtherUid;
                    }) ? child : -1;
                  }},
        Foreigner{"listening_process",
                  [](const std::string& path) -> pid_t {
                    int ready[2];
                    if (::pipe(ready) != 0) return -1;
                    const pid_t child = ::fork();
                    if (child == 0) {
                      // The file stays root's; the process listening is not.
                      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                      sockaddr_un address{};
                      address.sun_family = AF_UNIX;
                      std::strcpy(address.sun_path, path.c_str());
                      if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                          ::setresuid(kOtherUid, kOtherUid, kOtherUid) != 0 ||
                          ::listen(fd, 4) != 0 || ::write(ready[1], "x", 1) != 1) {
                        ::_exit(1);
                      }
                      while (true) ::pause();
                    }
                    ::close(ready[1]);
                    char byte;
                    const bool listening = ::read(ready[0], &byte, 1) == 1;
                    ::close(ready[0]);
                    return listening ? child : -1;
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// The rule itself, which needs no second user: the same uid only, root's
// included.
TEST(Ownership, OnlyTheProgramsOwnUsersServiceIsUsed) {
  struct Case {
    uid_t owner, self;
    bool used;
  };
  for (const Case c : {Case{1000, 1000, true}, Case{0, 0, true}, Case{1000, 0, false},
                       Case{0, 1000, false}, Case{1001, 1000, false}}) {
    const std::string problem =
        protocol::ForeignOwner("the socket /tmp/s.sock belongs to", c.owner, c.self);
    EXPECT_EQ(problem.empty(), c.used) << "owner " << c.owner << ", program " << c.self;
    if (!c.used) {
      EXPECT_EQ(problem, "the socket /tmp/s.sock belongs to uid " + std::to_string(c.owner) +
                             ", not uid " + std::to_string(c.self));
    }
  }
}

TEST_F(ServiceTest, AnotherUsersSocketFileIsNotReplaced) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const int fd = ListenAt(socket_);
  ASSERT_GE(fd, 0);
  ::close(fd);  // left behind, and another user's
  ASSERT_EQ(::chown(socket_.c_str(), kOtherUid, kOtherUid), 0);
  const pid_t service = Spawn(TARSEL_SIM_SERVICE, {"--socket", socket_}, {}, Path("out"), Path("err"));
  EXPECT_EQ(Wait(service), 1);
  const std::string err = ReadFile(Path("err"));
  EXPECT_THAT(err, HasSubstr(socket_));
  EXPECT_THAT(err, HasSubstr("uid " + std::to_string(kOtherUid)));
}

TEST_F(ServiceTest, ProgramsOfAnotherUserAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_TRUE(StartService({}));
  ASSERT_EQ(::chmod(socket_.c_str(), 0666), 0);  // the mode alone no longer keeps them out
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setresuid(kOtherUid, kOtherUid, kOtherUid) != 0) ::_exit(10);
    std::string why;
    const int fd = protocol::Connect(socket_, why);
    if (fd < 0) ::_exit(11);
    unsigned char out[protocol::kRequestSize];
    protocol::Encode(protocol::Request{protocol::Op::kList, 0, {}}, out);
    unsigned char in[protocol::kAnswerSize];
    protocol::SendAll(fd, out, sizeof out);
    if (!protocol::ReceiveAll(fd, in, sizeof in)) ::_exit(12);
    ::_exit(static_cast<int>(protocol::DecodeAnswer(in).status));
  }
  EXPECT_EQ(Wait(child), static_cast<int>(protocol::Status::kForeign));
  EXPECT_THAT(ReadFile(dir_ / "service.err"), HasSubstr("uid " + std::to_string(kOtherUid)));
}

}  // namespace
}  // namespace servicetest
