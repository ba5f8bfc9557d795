#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/framing.h"
#include "elf_tools.h"
#include "link_fixture.h"

namespace {

namespace fs = std::filesystem;

int Bare(int command) {
  std::vector<Packet> packets;
  PrepareSetPacket(packets, command);
  return SendSetCommand(packets);
}
using tarsel::testing::RunCommand;

// Runs InitAPI and CloseAPI in a fresh process whose loader search path
// starts with ldPath; returns the probe's one-line report.
std::string Probe(const std::string& ldPath, const std::string& apiLib = TARSEL_API_LIB,
                  std::string* loader = nullptr) {
  const std::string out =
      RunCommand("env LD_LIBRARY_PATH='" + ldPath + "' '" TARSEL_PROBE "' '" + apiLib + "' 2>&1");
  if (loader != nullptr) {
    const auto at = out.find("loader=");
    *loader = at == std::string::npos ? "" : out.substr(at + 7, out.find('\n', at) - at - 7);
  }
  return out.substr(0, out.find('\n'));
}

struct BindingCase {
  const char* standin;
  const char* report;
};

class InitApiBinding : public ::testing::TestWithParam<BindingCase> {};

TEST_P(InitApiBinding, ReportsTheLastMissingFunction) {
  const auto& c = GetParam();
  EXPECT_EQ(Probe(std::string(TARSEL_STANDIN_DIR) + "/" + c.standin), c.report);
}

// Flags read InitComm, CloseComm, GetDeviceCount, SendPacket; calls counts
// InitCommunication, which is never called when a lookup failed.
INSTANTIATE_TEST_SUITE_P(
    Standins, InitApiBinding,
    ::testing::Values(BindingCase{"complete", "init=1 flags=1111 calls=1 close=1"},
                      BindingCase{"no_send_count", "init=1006 flags=1100 calls=0 close=1"},
                      BindingCase{"no_count", "init=1003 flags=1101 calls=0 close=1"},
                      BindingCase{"no_init", "init=1002 flags=0111 calls=0 close=1"},
                      BindingCase{"no_init_close", "init=1012 flags=0011 calls=0 close=1"}));

TEST(InitApiLoading, MissingLinkLibraryGives2002AndClearsAllFlags) {
  // A copy of the API library alone in a folder: its $ORIGIN holds no link.
  const fs::path dir = fs::temp_directory_path() / ("tarsel-alone-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path lib = dir / "Tarsel.API.ArmControlUbuntu.so";
  fs::copy_file(TARSEL_API_LIB, lib, fs::copy_options::overwrite_existing);
  std::string loader;
  EXPECT_EQ(Probe("", lib.string(), &loader), "init=2002 flags=0000 calls=-1 close=1");
  // The loader's own reason names the file it could not find.
  EXPECT_NE(loader.find("Tarsel.API.CommLayerUbuntu.so"), std::string::npos) << loader;
  Probe(std::string(TARSEL_STANDIN_DIR) + "/complete", TARSEL_API_LIB, &loader);
  EXPECT_EQ(loader, "");
  fs::remove_all(dir);
}

TEST(InitApiLoading, FindsTheLinkLibraryBesideItselfWithoutEnvironment) {
  // With no LD_LIBRARY_PATH the real link library beside the API library is
  // loaded through the $ORIGIN run path; it exports no test counter. On a
  // machine without an arm opening fails with 1014 (or 1001 where the kernel
  // has no USB at all), never with a loading or binding code.
  const std::string report = Probe("");
  EXPECT_TRUE(report.rfind("init=1014 flags=1111 calls=-1", 0) == 0 ||
              report.rfind("init=1001 flags=1111 calls=-1", 0) == 0)
      << report;
}

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseAPI();
    tarsel::recording::Reset();
  }
  void TearDown() override { CloseAPI(); }
};

TEST_F(Lifecycle, FailedOpenLeavesCommandsRefused) {
  for (int code : {1001, 1014, 1015}) {
    tarsel::recording::Reset();
    tarsel::recording::SetInitResult(code);
    EXPECT_EQ(InitAPI(), code);
    EXPECT_EQ(Bare(301), TARSEL_ERROR_NOT_INITIALIZED);
    EXPECT_TRUE(tarsel::recording::Requests().empty());
    EXPECT_EQ(CloseAPI(), 1);
    EXPECT_EQ(tarsel::recording::CloseCalls(), 1);
  }
}

TEST_F(Lifecycle, CloseTwiceAndCommandsAfterCloseAreHarmless) {
  ASSERT_EQ(InitAPI(), 1);
  EXPECT_EQ(CloseAPI(), 1);
  EXPECT_EQ(CloseAPI(), 1);
  EXPECT_EQ(tarsel::recording::CloseCalls(), 1);
  EXPECT_EQ(fptrSendPacket, nullptr);
  EXPECT_EQ(Bare(301), TARSEL_ERROR_NOT_INITIALIZED);
  EXPECT_TRUE(tarsel::recording::Requests().empty());
}

// A program that opens and closes the API all day: every cycle works, and
// none leaves anything behind (the sanitizer and valgrind runs of this test
// see each cycle's loads, bindings and allocations).
TEST_F(Lifecycle, HundredOpenCloseCyclesEachWork) {
  for (int cycle = 0; cycle < 100; ++cycle) {
    ASSERT_EQ(InitAPI(), 1) << "cycle " << cycle;
    ASSERT_EQ(Bare(301), 1) << "cycle " << cycle;
    ASSERT_EQ(CloseAPI(), 1) << "cycle " << cycle;
  }
  EXPECT_EQ(tarsel::recording::InitCalls(), 100);
  EXPECT_EQ(tarsel::recording::CloseCalls(), 100);
  EXPECT_EQ(Bare(301), TARSEL_ERROR_NOT_INITIALIZED);
}

// A link library without TarselLinkSaveRecentPackets (the recording link)
// still opens the arm; saving its recent packets is refused with 1016 and
// writes nothing.
TEST_F(Lifecycle, LinkKeepingNoRecentPacketsRefusesTheSave) {
  ASSERT_EQ(InitAPI(), 1);
  const fs::path file =
      fs::temp_directory_path() / ("tarsel-no-recent-" + std::to_string(getpid()));
  EXPECT_EQ(SaveRecentPackets(file.c_str()), TARSEL_ERROR_NO_RECENT_PACKETS);
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(Lifecycle, InitAgainReopens) {
  ASSERT_EQ(InitAPI(), 1);
  ASSERT_EQ(InitAPI(), 1);
  EXPECT_EQ(tarsel::recording::InitCalls(), 2);
  EXPECT_EQ(tarsel::recording::CloseCalls(), 1);
  EXPECT_EQ(Bare(301), 1);
}

TEST(ResultMessages, EveryDocumentedCodeHasItsOwnText) {
  const int codes[] = {1,    1001, 1002, 1003, 1006, 1012, 1014, 1015, 1016, 2001, 2002, 2003,
                       2004, 2005, 2006, 2007, 2100, 5001, 5002, 5003, 5004, 5005};
  std::set<std::string> texts;
  for (int code : codes) {
    const std::string text = GetResultMessage(code);
    EXPECT_NE(text, "unknown result code") << code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), std::size(codes));
  EXPECT_STREQ(GetResultMessage(0), "unknown result code");
  EXPECT_STREQ(GetResultMessage(-7), "unknown result code");
}

}  // namespace
