#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fake_sleep.h"
#include "link_fixture.h"
#include "maintenance/maintenance_codec.h"

namespace {

namespace fs = std::filesystem;
using tarsel::recording::Step;
using tarsel::testing::Bytes;
using tarsel::testing::LinkTest;
using tarsel::testing::Sleeps;
using Kind = Step::Kind;

using Waits = std::vector<unsigned>;
const Waits kBothWaits{2000000, 10000};
const Waits kStartWaitOnly{2000000};

// Bytes without any period, so a page carrying bytes from the wrong place
// (its own start instead of the next page's, say) cannot match by chance.
Bytes Noise(std::size_t size, std::uint32_t seed = 12345) {
  Bytes b(size);
  for (auto& byte : b) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(seed >> 16);
  }
  return b;
}

std::uint32_t OffsetOf(const Packet& p) {
  return tarsel::testing::U32At(Bytes(p.Data, p.Data + 4), 0);
}

// Checks packet k (1..40) of the page at pageOffset against the image: the
// header, the page offset, and image bytes pageOffset + (k-1)*52 onwards with
// zeros past the image's end.
void ExpectPagePacket(const Packet& p, const Bytes& image, std::size_t pageOffset, int k,
                      int command = 12) {
  SCOPED_TRACE("page " + std::to_string(pageOffset) + " packet " + std::to_string(k));
  EXPECT_EQ(p.PacketIndex, k);
  EXPECT_EQ(p.PacketCount, 40);
  EXPECT_EQ(p.CommandId, command);
  EXPECT_EQ(p.PayloadSize, 2048);
  EXPECT_EQ(OffsetOf(p), pageOffset);
  for (std::size_t j = 0; j < 52; ++j) {
    const std::size_t at = pageOffset + static_cast<std::size_t>(k - 1) * 52 + j;
    const unsigned char expected = at < image.size() ? image[at] : 0;
    ASSERT_EQ(p.Data[4 + j], expected) << "image position " << at;
  }
}

std::size_t OpenFileCount() {
  std::size_t n = 0;
  for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) {
    ++n;
  }
  return n;
}

class FlashTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    Sleeps().clear();
    dir_ = fs::temp_directory_path() /
           ("tarsel-flash-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    LinkTest::TearDown();
  }

  std::string WriteImage(const Bytes& image, const std::string& name = "image.bin") {
    const fs::path path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    return path.string();
  }

  // The page packets sent after the start command.
  static std::vector<Packet> PagePackets() {
    return std::vector<Packet>(Sent().begin() + 1, Sent().end());
  }

  static void ExpectStartCommand() {
    ASSERT_FALSE(Sent().empty());
    const Packet& start = Sent()[0];
    EXPECT_EQ(start.CommandId, 13);
    EXPECT_EQ(start.PacketIndex, 1);
    EXPECT_EQ(start.PacketCount, 1);
    EXPECT_EQ(start.PayloadSize, 0);
    EXPECT_EQ(Bytes(start.Data, start.Data + 56), Bytes(56, 0));
  }

  fs::path dir_;
};

// --- Paging of images of various sizes ------------------------------------------

class FlashImageSizes : public FlashTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(FlashImageSizes, SendsEveryPageAfterTheStartCommand) {
  const std::size_t size = GetParam();
  const Bytes image = Noise(size);
  ASSERT_EQ(ProgramFlash(WriteImage(image).c_str()), TARSEL_OK);

  ExpectStartCommand();
  EXPECT_EQ(Sleeps(), kBothWaits);
  const std::size_t pages = size / 2048 + 1;
  const auto packets = PagePackets();
  ASSERT_EQ(packets.size(), pages * 40);
  for (std::size_t n = 0; n < pages; ++n) {
    for (int k = 1; k <= 40; ++k) {
      ExpectPagePacket(packets[n * 40 + static_cast<std::size_t>(k - 1)], image, n * 2048, k);
    }
  }

  // The page-by-page transfer puts on the wire exactly the pages that
  // SplitDataByPage gives for the whole image.
  std::vector<Packet> split;
  for (const auto& page : SplitDataByPage(image, 12)) {
    split.insert(split.end(), page.packets.begin(), page.packets.end());
  }
  ASSERT_EQ(split.size(), packets.size());
  for (std::size_t i = 0; i < split.size(); ++i) {
    ASSERT_EQ(std::memcmp(&split[i], &packets[i], sizeof(Packet)), 0) << "packet " << i;
  }
}

// An empty file and a 2048-byte one each end with a page of only zeros.
INSTANTIATE_TEST_SUITE_P(Sizes, FlashImageSizes,
                         ::testing::Values(0u, 1u, 52u, 100u, 2047u, 2048u, 2049u, 2080u,
                                           3 * 2048u + 700u));

TEST_F(FlashTest, HundredByteImageFillsTwoPacketsOfOnePage) {
  const Bytes image = Noise(100);
  ASSERT_EQ(ProgramFlash(WriteImage(image).c_str()), TARSEL_OK);
  const auto packets = PagePackets();
  ASSERT_EQ(packets.size(), 40u);

  Bytes first(56, 0);
  std::copy(image.begin(), image.begin() + 52, first.begin() + 4);
  Bytes second(56, 0);
  std::copy(image.begin() + 52, image.end(), second.begin() + 4);
  EXPECT_EQ(Bytes(packets[0].Data, packets[0].Data + 56), first);
  EXPECT_EQ(Bytes(packets[1].Data, packets[1].Data + 56), second);
  for (std::size_t k = 2; k < 40; ++k) {
    EXPECT_EQ(Bytes(packets[k].Data, packets[k].Data + 56), Bytes(56, 0)) << "packet " << k + 1;
  }
}

TEST_F(FlashTest, LastPacketOfAPageCarriesTheStartOfTheNextPage) {
  const Bytes image = Noise(4 * 2048 + 10, 777);
  ASSERT_EQ(ProgramFlash(WriteImage(image).c_str()), TARSEL_OK);
  const auto packets = PagePackets();
  ASSERT_EQ(packets.size(), 5u * 40);
  for (std::size_t n = 0; n < 5; ++n) {
    const std::size_t p = n * 2048;
    const Packet& last = packets[n * 40 + 39];
    Bytes expected(52, 0);
    for (std::size_t j = 0; j < 52; ++j) {
      if (p + 2028 + j < image.size()) expected[j] = image[p + 2028 + j];
    }
    EXPECT_EQ(Bytes(last.Data + 4, last.Data + 56), expected) << "page " << n;
  }
}

TEST(SplitDataByPage, UsesTheGivenCommandAndCountsPages) {
  const struct {
    std::size_t size;
    std::size_t pages;
  } cases[] = {{0, 1}, {2047, 1}, {2048, 2}, {6143, 3}, {6144, 4}};
  for (const auto& c : cases) {
    const Bytes image = Noise(c.size);
    const auto pages = SplitDataByPage(image, 77);
    ASSERT_EQ(pages.size(), c.pages) << c.size;
    for (std::size_t n = 0; n < pages.size(); ++n) {
      ASSERT_EQ(pages[n].packets.size(), 40u);
      for (int k = 1; k <= 40; ++k) {
        ExpectPagePacket(pages[n].packets[static_cast<std::size_t>(k - 1)], image, n * 2048, k, 77);
      }
    }
  }
}

// --- File problems: nothing reaches the arm -----------------------------------

TEST_F(FlashTest, FileProblemsSendNothingAndWaitNothing) {
  const fs::path sparse = dir_ / "huge.bin";
  { std::ofstream(sparse, std::ios::binary).put('\0'); }
  fs::resize_file(sparse, 0x100000000ull);  // 4 GiB: sparse, takes no disk space
  // A pipe with its write end open: opening it again for reading does not
  // block, and it cannot be sized.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const std::string pipePath = "/proc/self/fd/" + std::to_string(pipeEnds[0]);
  // A named pipe nobody writes to: opening it for reading must not wait.
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A socket's node cannot be opened at all.
  const fs::path socketPath = dir_ / "socket";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const fs::path unreadable = WriteImage(Noise(100));
  fs::permissions(unreadable, fs::perms::none);
  struct Case {
    std::string path;
    int expected;
  };
  std::vector<Case> cases = {
      {(dir_ / "missing.bin").string(), TARSEL_ERROR_FILE_OPEN},
      {(unreadable / "image.bin").string(), TARSEL_ERROR_FILE_OPEN},  // through a file
      {socketPath.string(), TARSEL_ERROR_FILE_OPEN},
      {"", TARSEL_ERROR_FILE_OPEN},
      {dir_.string(), TARSEL_ERROR_FILE_READ},  // a directory opens but has no bytes
      {pipePath, TARSEL_ERROR_FILE_READ},
      {fifo.string(), TARSEL_ERROR_FILE_READ},
      {sparse.string(), TARSEL_ERROR_IMAGE_TOO_LARGE},
  };
  // Read permission means nothing to root, who reads the file regardless.
  if (geteuid() != 0) cases.push_back({unreadable.string(), TARSEL_ERROR_FILE_OPEN});
  const std::size_t filesBefore = OpenFileCount();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    tarsel::recording::Reset();
    Sleeps().clear();
    EXPECT_EQ(ProgramFlash(c.path.c_str()), c.expected);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Sleeps().empty());
    EXPECT_EQ(OpenFileCount(), filesBefore);
  }
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  close(listener);
  EXPECT_EQ(ProgramFlash(nullptr), TARSEL_ERROR_FILE_OPEN);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(FlashTest, ReleasesTheFileOnSuccessAndOnFailure) {
  const std::string path = WriteImage(Noise(3000));
  const std::size_t filesBefore = OpenFileCount();
  EXPECT_EQ(ProgramFlash(path.c_str()), TARSEL_OK);
  EXPECT_EQ(OpenFileCount(), filesBefore);
  tarsel::recording::Script({Step{Kind::kVerdict, -1}});
  EXPECT_EQ(ProgramFlash(path.c_str()), TARSEL_ERROR_FIRST_PACKET);
  EXPECT_EQ(OpenFileCount(), filesBefore);
}

// --- The arm's answers ----------------------------------------------------------

TEST_F(FlashTest, RefusedStartIsReportedAndNoPageIsSent) {
  const std::string path = WriteImage(Noise(5000));
  const struct {
    Step step;
    int expected;
    Waits waits;
  } cases[] = {
      {Step{Kind::kVerdict, -1}, TARSEL_ERROR_FIRST_PACKET, kStartWaitOnly},
      {Step{Kind::kVerdict, 0x4000}, TARSEL_ERROR_ANSWER_ERROR_BIT, kStartWaitOnly},
      // A silent arm has nothing to prepare: no 2-second wait.
      {Step{Kind::kUntouched}, TARSEL_ERROR_NO_ANSWER, Waits{}},
  };
  for (const auto& c : cases) {
    tarsel::recording::Reset();
    tarsel::recording::Script({c.step});
    Sleeps().clear();
    int calls = 0;
    const int result = ProgramFlashWithProgress(
        path.c_str(),
        [](int, int, int, void* user) {
          ++*static_cast<int*>(user);
          return 1;
        },
        &calls);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(tarsel::recording::RequestCommands(), std::vector<int>{13});
    EXPECT_EQ(Sleeps(), c.waits);
    EXPECT_EQ(calls, 0);
  }
}

TEST_F(FlashTest, WithoutOpenLinkReportsNotInitialised) {
  CloseAPI();
  EXPECT_EQ(ProgramFlash(WriteImage(Noise(10)).c_str()), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(Sleeps().empty());  // no arm to prepare
}

struct Refusal {
  std::uint32_t page;  // counted from 0
  short packet;        // PacketIndex within the page
  short verdict;
};

struct PageFailureCase {
  const char* name;
  std::vector<Refusal> refusals;
  int expected;
  std::vector<std::size_t> sentPerPage;
};

TEST_F(FlashTest, FirstRefusedPageDecidesAndLaterPagesStillGo) {
  const Bytes image = Noise(2 * 2048 + 10);  // three pages
  const std::string path = WriteImage(image);
  const std::vector<PageFailureCase> cases = {
      {"page 2 refused, page 3 accepted", {{1, 1, -1}}, 2003, {40, 1, 40}},
      {"page 1 late packet, page 3 error bit", {{0, 7, -1}, {2, 1, 0x4000}}, 2005, {7, 40, 1}},
      {"page 1 error bit, page 2 refused", {{0, 1, 0x4000}, {1, 5, -9}}, 2004, {1, 5, 40}},
      {"only the last packet of the last page", {{2, 40, -2}}, 2005, {40, 40, 40}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tarsel::recording::Reset();
    tarsel::recording::SetResponder([&](const Packet& request, Packet& answer) {
      tarsel::recording::AutoAnswer(request, answer);
      for (const auto& r : c.refusals) {
        if (request.CommandId == 12 && OffsetOf(request) == r.page * 2048 &&
            request.PacketIndex == r.packet) {
          answer.CommandId = r.verdict;
        }
      }
      return true;
    });
    EXPECT_EQ(ProgramFlash(path.c_str()), c.expected);

    // Each page starts afresh at its packet 1 with its own offset.
    const auto packets = PagePackets();
    std::size_t at = 0;
    for (std::size_t n = 0; n < c.sentPerPage.size(); ++n) {
      for (std::size_t k = 1; k <= c.sentPerPage[n]; ++k, ++at) {
        ASSERT_LT(at, packets.size());
        ExpectPagePacket(packets[at], image, n * 2048, static_cast<int>(k));
      }
    }
    EXPECT_EQ(at, packets.size());
  }
}

// What the callback hears, and how the transfer ends when it asks to stop or
// the arm falls silent: pages after the stop are never sent.
struct ProgressCase {
  const char* name;
  short refusedPage;  // page (from 0) whose first packet is refused, -1: none
  short silentPage;   // page from which the arm no longer answers, -1: never
  int stopAfter;      // the callback returns 0 once this many pages went, -1: never
  int expected;
  std::vector<std::vector<int>> calls;  // {page, total, pageResult, packets on the wire}
};

TEST_F(FlashTest, ProgressHearsEachPageAndCanStopTheTransfer) {
  const std::string path = WriteImage(Noise(2 * 2048 + 5));  // three pages
  const std::vector<ProgressCase> cases = {
      {"refused page still counts as sent", 0, -1, -1, 2003,
       {{0, 3, 1, 1}, {1, 3, 2003, 2}, {2, 3, 1, 42}, {3, 3, 1, 82}}},
      {"stop after the first page", -1, -1, 1, 2009, {{0, 3, 1, 1}, {1, 3, 1, 41}}},
      {"stop before any page", -1, -1, 0, 2009, {{0, 3, 1, 1}}},
      {"stop after a refused page keeps its code", 0, -1, 1, 2003,
       {{0, 3, 1, 1}, {1, 3, 2003, 2}}},
      {"stop on the last page changes nothing", -1, -1, 3, 1,
       {{0, 3, 1, 1}, {1, 3, 1, 41}, {2, 3, 1, 81}, {3, 3, 1, 121}}},
      {"silent arm ends the transfer", -1, 1, -1, 2008,
       {{0, 3, 1, 1}, {1, 3, 1, 41}, {2, 3, 2008, 42}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tarsel::recording::Reset();
    tarsel::recording::SetResponder([&c](const Packet& request, Packet& answer) {
      if (request.CommandId == 12 && c.silentPage >= 0 &&
          OffsetOf(request) >= static_cast<std::uint32_t>(c.silentPage) * 2048) {
        return true;  // answer left untouched: nothing arrived
      }
      tarsel::recording::AutoAnswer(request, answer);
      if (request.CommandId == 12 && request.PacketIndex == 1 && c.refusedPage >= 0 &&
          OffsetOf(request) == static_cast<std::uint32_t>(c.refusedPage) * 2048) {
        answer.CommandId = -1;
      }
      return true;
    });
    struct Heard {
      const ProgressCase* c;
      std::vector<std::vector<int>> calls;
    } heard{&c, {}};
    const int result = ProgramFlashWithProgress(
        path.c_str(),
        [](int page, int total, int pageResult, void* user) {
          auto* h = static_cast<Heard*>(user);
          h->calls.push_back({page, total, pageResult, static_cast<int>(Sent().size())});
          return h->c->stopAfter < 0 || page < h->c->stopAfter ? 1 : 0;
        },
        &heard);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(heard.calls, c.calls);
  }
}

TEST_F(FlashTest, NullProgressCallbackIsAllowed) {
  EXPECT_EQ(ProgramFlashWithProgress(WriteImage(Noise(10)).c_str(), nullptr, nullptr), TARSEL_OK);
  EXPECT_EQ(Sent().size(), 41u);
}

}  // namespace
