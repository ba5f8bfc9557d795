// The blocks the simulated arm stores whole, as the host's records, and the
// one table of them: the commands that read, write and erase each block, where
// the arm keeps it and its factory default. The read answers, the write and
// erase effects, the factory reset and SimulatedArm::StoredBlock all go
// through the table, and through each block's form (the field list the host
// decodes and encodes it with), so that a block is added with a member and a
// line below.
#pragma once

#include <type_traits>
#include <utility>

#include "arm_types.h"
#include "commands.h"
#include "config/config_codec.h"
#include "core/form.h"

namespace tarsel::sim {

// A force or impedance setting: the two records the host sends side by side.
template <class Info>
struct SettingPair {
  Info first;
  Info second;
};

// What the arm keeps of the stored blocks (part of ArmState).
struct StoredBlocks {
  ClientConfigurations clientConfig{};
  ControlMappingCharts controlMapping{};
  ZoneList zones{};
  config::DevValues devValues{};
  config::SpasmFilterValues spasmFilter{};
  SettingPair<CartesianInfo> cartesianForce{};    // force limits
  SettingPair<CartesianInfo> cartesianInertia{};  // inertia and damping
  SettingPair<AngularInfo> angularTorque{};       // torque limits
  SettingPair<AngularInfo> angularInertia{};      // inertia and damping
};

// Factory defaults of the blocks that are not all zeros (defaults.cpp).
ClientConfigurations DefaultClientConfigurations();
ControlMappingCharts DefaultControlMapping();
config::SpasmFilterValues DefaultSpasmFilter();
SettingPair<CartesianInfo> DefaultCartesianForce();
SettingPair<CartesianInfo> DefaultCartesianInertia();
SettingPair<AngularInfo> DefaultAngularTorque();
SettingPair<AngularInfo> DefaultAngularInertia();
// The default of a block that starts out all zeros.
template <class Record>
Record Zeros() {
  return Record{};
}

// One line of the table. The arm answers the read command with the block in
// its form (exactly the catalogue's size), reads a write through the same
// form, the fields the host sends but never reads back included (so a block
// the host wrote reads back byte for byte), and zeroes the block on the
// erase command.
struct StoredBlockLine {
  int read;  // kNoCommand for a setting that is only written
  int write;
  int erase;  // a bare command; kNoCommand when none
  Bytes (*answer)(const StoredBlocks& blocks);
  void (*take)(const Bytes& payload, StoredBlocks& blocks);
  void (*restore)(StoredBlocks& blocks);  // the factory default
  void (*erased)(StoredBlocks& blocks);   // every field zero
};
constexpr int kNoCommand = -1;

}  // namespace tarsel::sim

namespace tarsel {

// A setting pair travels as its two records, one after the other.
template <class Info>
struct Form<sim::SettingPair<Info>> {
  using Record = sim::SettingPair<Info>;
  static constexpr const char* kName = "SettingPair";
  static constexpr bool kFloatRun = true;
  template <class Io>
  static constexpr void Fields(Io& io) {
    TARSEL_FIELDS(first, second);
  }
};

}  // namespace tarsel

namespace tarsel::sim {

namespace detail {

// A line for the block kept in Member. Its form must have the size the
// catalogue gives its commands.
template <int Read, int Write, int Erase, auto Member, auto Default>
constexpr StoredBlockLine Line() {
  using Record = std::remove_reference_t<decltype(std::declval<StoredBlocks&>().*Member)>;
  using F = Form<Record>;
  static_assert(tarsel::FindCommand(Write)->requestBytes == FormSize<F>());
  static_assert(Read == kNoCommand || tarsel::FindCommand(Read)->answerBytes == FormSize<F>());
  static_assert(Erase == kNoCommand || tarsel::FindCommand(Erase)->shape == Shape::kBare);
  return {Read,
          Write,
          Erase,
          [](const StoredBlocks& b) {
            Bytes out;
            Encode(out, b.*Member);
            return out;
          },
          [](const Bytes& payload, StoredBlocks& b) {
            int offset = 0;
            PayloadReader in(offset, payload);
            ReadSentForm<F>(in, b.*Member);
          },
          [](StoredBlocks& b) { b.*Member = Default(); },
          [](StoredBlocks& b) { b.*Member = Record{}; }};
}

}  // namespace detail

// The table: read, write and erase commands, the member, the default.
inline constexpr StoredBlockLine kStoredBlocks[] = {
    detail::Line<command::GetClientConfigurations, command::SetClientConfigurations, kNoCommand,
                 &StoredBlocks::clientConfig, DefaultClientConfigurations>(),
    detail::Line<command::GetControlMapping, command::SetControlMapping, kNoCommand,
                 &StoredBlocks::controlMapping, DefaultControlMapping>(),
    detail::Line<command::GetProtectionZone, command::SetProtectionZone,
                 command::EraseAllProtectionZones, &StoredBlocks::zones, Zeros<ZoneList>>(),
    detail::Line<command::GetDevValue, command::SetDevValue, kNoCommand, &StoredBlocks::devValues,
                 Zeros<config::DevValues>>(),
    detail::Line<command::GetSpasmFilterValues, command::SetSpasmFilterValues, kNoCommand,
                 &StoredBlocks::spasmFilter, DefaultSpasmFilter>(),
    detail::Line<kNoCommand, command::SetCartesianForceMinMax, kNoCommand,
                 &StoredBlocks::cartesianForce, DefaultCartesianForce>(),
    detail::Line<kNoCommand, command::SetCartesianInertiaDamping, kNoCommand,
                 &StoredBlocks::cartesianInertia, DefaultCartesianInertia>(),
    detail::Line<kNoCommand, command::SetAngularTorqueMinMax, kNoCommand,
                 &StoredBlocks::angularTorque, DefaultAngularTorque>(),
    detail::Line<kNoCommand, command::SetAngularInertiaDamping, kNoCommand,
                 &StoredBlocks::angularInertia, DefaultAngularInertia>(),
};

// The line whose read, write or erase command is command; null when no
// stored block has it in that column.
const StoredBlockLine* StoredBlockRead(int command);
const StoredBlockLine* StoredBlockWrite(int command);
const StoredBlockLine* StoredBlockErase(int command);

// Every stored block back to its factory default.
void RestoreStoredBlocks(StoredBlocks& blocks);

}  // namespace tarsel::sim
