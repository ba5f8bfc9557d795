#include <gtest/gtest.h>

#include "elf_tools.h"

namespace {

using tarsel::testing::DynamicSymbols;
using tarsel::testing::ExpectSymbols;
using tarsel::testing::ExpectSymbolsStartingWith;
using tarsel::testing::NeededLibraries;

TEST(LinkLibraryExports, PlainNamesOfFunctionsAndObjects) {
  ExpectSymbols(
      DynamicSymbols(TARSEL_COMM_LIB),
      {"InitCommunication", "CloseCommunication", "GetDeviceCount", "SendPacket", "LibContext",
       "miraHandle", "SendPaquet", "ReadPaquet", "vid_pid", "isGetDllVersionLoaded",
       "isGetDeviceCountLoaded", "isOpenLoaded", "isWriteLoaded", "isReadLoaded", "isReadIntLoaded",
       "isCloseLoaded", "cb_response_in", "cb_response_out"});
}

TEST(LinkLibraryExports, NeedsLibusb) {
  const auto needed = NeededLibraries(TARSEL_COMM_LIB);
  EXPECT_TRUE(needed.count("libusb-1.0.so.0"));
}

TEST(ApiLibraryExports, LifecycleAndBindings) {
  ExpectSymbols(DynamicSymbols(TARSEL_API_LIB),
                {"InitAPI", "CloseAPI", "GetResultMessage", "GetLinkLoadError", "commLayer_Handle", "fptrInitComm",
                 "fptrCloseComm", "fptrGetDeviceCount", "fptrSendPacket", "isInitCommLoaded",
                 "isCloseCommLoaded", "isGetDeviceCountLoaded", "isSendPacketLoaded"});
}

TEST(ApiLibraryExports, FramingAndPrimitivesAsCppSymbols) {
  ExpectSymbolsStartingWith(
      DynamicSymbols(TARSEL_API_LIB, true),
      {"PrepareGetPacket(", "PrepareSetPacket(", "BuildSetCommand(", "SendGetCommand(",
       "SendSetCommand(", "merge(", "PacketList::PacketList(", "PacketList::operator=(",
       "PacketList::~PacketList(", "GetShortFromVector(", "GetUShortFromVector(",
       "GetIntFromVector(", "GetUIntFromVector(", "GetFloatFromVector(", "GetDoubleFromVector(",
       "SerializeString("});
}

// Of the tarsel namespace only the C++ interface (tarsel/arm.hpp,
// tarsel/control_loop.hpp) is exported, and not the loop's insides.
TEST(ApiLibraryExports, NothingInternalLeaks) {
  const char* const cppInterface[] = {"tarsel::Arm::",         "tarsel::Arm(",
                                      "tarsel::Error::",       "tarsel::ListArms(",
                                      "tarsel::FlatCallsTo::", "tarsel::ControlLoop::"};
  for (const auto& name : DynamicSymbols(TARSEL_API_LIB, true)) {
    if (name.rfind("tarsel::", 0) != 0) continue;
    EXPECT_EQ(name.rfind("tarsel::ControlLoop::Impl", 0), std::string::npos) << name;
    bool isInterface = false;
    for (const char* prefix : cppInterface) isInterface = isInterface || name.rfind(prefix, 0) == 0;
    EXPECT_TRUE(isInterface) << name;
  }
}

TEST(ApiLibraryExports, LinksNeitherLibusbNorTheLinkLibrary) {
  for (const auto& lib : NeededLibraries(TARSEL_API_LIB)) {
    EXPECT_EQ(lib.find("usb"), std::string::npos) << lib;
    EXPECT_EQ(lib.find("Tarsel"), std::string::npos) << lib;
  }
}

TEST(ApiLibraryExports, RunPathIsOrigin) {
  const std::string dyn =
      tarsel::testing::RunCommand(std::string(TARSEL_READELF) + " -d '" TARSEL_API_LIB "'");
  EXPECT_NE(dyn.find("[$ORIGIN]"), std::string::npos) << dyn;
}

}  // namespace
