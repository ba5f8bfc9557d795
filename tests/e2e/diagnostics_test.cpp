// Diagnostics, firmware and failures through the whole stack.
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "sim_session.h"

namespace {

using tarsel::e2e::SimSession;

class Diagnostics : public SimSession {};

TEST_F(Diagnostics, ErrorLogCountReadAndClear) {
  unsigned count = 0;
  ASSERT_EQ(GetSystemErrorCount(count), TARSEL_OK);
  const auto log = arm().Snapshot().errors;
  ASSERT_EQ(count, log.size());
  ASSERT_GT(count, 0u);
  for (unsigned i = 0; i < count; ++i) {
    SystemError entry;
    ASSERT_EQ(GetSystemError(i, entry), TARSEL_OK);
    EXPECT_EQ(entry.UIntValue1, log[i].UIntValue1);
    EXPECT_EQ(entry.IntValue4, log[i].IntValue4);
    EXPECT_EQ(entry.UIntArray[49], log[i].UIntArray[49]);
  }
  ASSERT_EQ(ClearErrorLog(), TARSEL_OK);
  ASSERT_EQ(GetSystemErrorCount(count), TARSEL_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(Diagnostics, StatusBlocksAreReadable) {
  static GeneralInformations info;
  EXPECT_EQ(GetGeneralInformations(info), TARSEL_OK);
  static Gripper gripper;
  EXPECT_EQ(GetGripperStatus(gripper), TARSEL_OK);
  SensorsInfo sensors;
  EXPECT_EQ(GetSensorsInfo(sensors), TARSEL_OK);
  ForcesInfo forces;
  EXPECT_EQ(GetForcesInfo(forces), TARSEL_OK);
  std::vector<PeripheralInfo> peripherals;
  EXPECT_EQ(GetPeripheralInventory(peripherals), TARSEL_OK);
  EXPECT_EQ(peripherals.size(), 15u);
  std::vector<int> versions;
  EXPECT_EQ(GetCodeVersion(versions), TARSEL_OK);
  EXPECT_EQ(versions.size(), 37u);
}

TEST_F(Diagnostics, FirmwareArrivesWithTheFilesChecksum) {
  // 8 MiB: the page of zeros that ends it lies past the first 8 MiB of flash.
  for (std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{2048}, std::size_t{9001},
                           std::size_t{8} << 20}) {
    std::vector<unsigned char> image(size);
    std::mt19937 rng(static_cast<unsigned>(size));
    for (auto& b : image) b = static_cast<unsigned char>(rng());
    const auto path = std::filesystem::temp_directory_path() /
                      ("tarsel-e2e-fw-" + std::to_string(getpid()) + ".bin");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (size) std::fwrite(image.data(), 1, size, f);
    std::fclose(f);

    std::vector<std::pair<int, int>> progress;
    const int code = ProgramFlashWithProgress(
        path.c_str(),
        [](int sent, int total, int, void* user) {
          static_cast<std::vector<std::pair<int, int>>*>(user)->emplace_back(sent, total);
          return 1;
        },
        &progress);
    std::filesystem::remove(path);
    ASSERT_EQ(code, TARSEL_OK) << size;
    const int pages = static_cast<int>(size / 2048 + 1);
    EXPECT_EQ(arm().Snapshot().firmwarePages, pages);
    EXPECT_EQ(arm().FirmwareChecksum(size), tarsel::sim::Crc32(image.data(), size));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(pages, pages));
  }
}

TEST_F(Diagnostics, ArmFaultsComeBackAsResultCodes) {
  using tarsel::sim::Fault;
  using tarsel::sim::FaultKind;
  AngularPosition joints;
  arm().AddFault(Fault{FaultKind::kErrorBit, 105, Fault::kAny, 1});
  EXPECT_EQ(GetAngularPosition(joints), TARSEL_ERROR_ANSWER_ERROR_BIT);
  EXPECT_EQ(GetAngularPosition(joints), TARSEL_OK);  // used up

  arm().AddFault(Fault{FaultKind::kNegativeVerdict, 41, 2, 1});
  static ControlMappingCharts charts;
  EXPECT_EQ(GetControlMapping(&charts), TARSEL_ERROR_LATER_PACKET);

  arm().AddFault(Fault{FaultKind::kNoAnswer, 304, Fault::kAny, -1});
  EXPECT_EQ(MoveHome(), TARSEL_ERROR_NO_ANSWER);  // stops waiting on a dead queue query
  arm().ClearFaults();

  arm().UnplugAfter(1);
  EXPECT_EQ(GetAngularPosition(joints), TARSEL_OK);
  EXPECT_EQ(GetAngularPosition(joints), TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(EraseAllTrajectories(), TARSEL_ERROR_NO_ANSWER);
  EXPECT_EQ(InitFingers(), TARSEL_ERROR_NO_ANSWER);
}

}  // namespace
