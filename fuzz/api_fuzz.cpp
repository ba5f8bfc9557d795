// The whole flat API against an arbitrary arm: the input is a sequence of
// calls (byte by byte: which export, then its arguments) interleaved with the
// stand-in link's decisions (each exchange's answer, InitCommunication's
// result). Writes carry records of arbitrary bytes, vectors of any length
// and texts without terminators; ProgramFlash gets a small image written to a
// file from the input; InitAPI and CloseAPI come in any order.
//
// Beyond crashes, hangs and bad memory accesses, two things must hold:
//  - every result is one of the documented codes;
//  - a one-command export that returns 1 had every exchange answered with a
//    good verdict (no success from silence or a refusal).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "fuzz_link.h"
#include "tarsel/tarsel.h"

namespace {

using tarsel::fuzzing::Input;

enum class Kind {
  kCommand,    // one command: success needs every exchange answered well
  kComposite,  // several commands and pauses
  kOther,      // InitAPI, CloseAPI, local functions
};

struct Op {
  Kind kind;
  int (*run)(Input&);
};

template <typename Record>
Record Raw(Input& in) {
  Record r;
  in.Fill(&r, sizeof r);
  return r;
}

// A heap block of exactly n bytes from the input: a buffer overrun by the
// library shows up as an AddressSanitizer report.
std::vector<char> Block(Input& in, std::size_t n) {
  std::vector<char> block(n);
  in.Fill(block.data(), n);
  return block;
}

std::vector<float> Floats(Input& in) {
  std::vector<float> v(in.Byte() % 20);
  for (float& f : v) f = in.Take<float>();
  return v;
}

// The firmware image file, written anew for each ProgramFlash.
struct ImageFile {
  std::string path;
  ImageFile() {
    char name[] = "/tmp/tarsel-fuzz-image-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) {
      close(fd);
      path = name;
    }
  }
  ~ImageFile() {
    if (!path.empty()) unlink(path.c_str());
  }
  bool Write(Input& in) {
    // Up to three pages and a bit: every page-boundary case.
    const std::size_t size = in.Take<std::uint16_t>() % 7000;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const std::size_t n = in.left() < size ? in.left() : size;
    std::fwrite(in.rest(), 1, n, f);
    in.Skip(n);
    std::fclose(f);
    return true;
  }
};

ImageFile& Image() {
  static ImageFile image;
  return image;
}

int StopAtPage(int page, int /*total*/, int /*result*/, void* user) {
  return page < *static_cast<int*>(user) ? 1 : 0;
}

#define READ(Record, Fn)         \
  {                              \
    Kind::kCommand, [](Input&) { \
      Record r;                  \
      return Fn(r);              \
    }                            \
  }
#define BARE(Fn)                                \
  {                                             \
    Kind::kCommand, [](Input&) { return Fn(); } \
  }

const Op kOps[] = {
    {Kind::kOther, [](Input&) { return InitAPI(); }},
    {Kind::kOther, [](Input&) { return CloseAPI(); }},
    READ(CartesianPosition, GetCartesianPosition),
    READ(AngularPosition, GetAngularPosition),
    READ(CartesianPosition, GetCartesianCommand),
    READ(AngularPosition, GetAngularCommand),
    READ(CartesianPosition, GetCartesianForce),
    READ(AngularPosition, GetAngularForce),
    READ(AngularPosition, GetAngularCurrent),
    READ(AngularPosition, GetAngularCurrentMotor),
    READ(AngularPosition, GetAngularVelocity),
    READ(AngularPosition, GetAngularForceGravityFree),
    READ(AngularAcceleration, GetActuatorAcceleration),
    READ(int, GetControlType),
    READ(SingularityVector, GetSingularityVector),
    READ(TrajectoryFIFO, GetGlobalTrajectoryInfo),
    READ(TrajectoryPoint, GetActualTrajectoryInfo),
    READ(unsigned, ValidateCartesianTransition),
    READ(GeneralInformations, GetGeneralInformations),
    READ(Gripper, GetGripperStatus),
    READ(QuickStatus, GetQuickStatus),
    READ(ForcesInfo, GetForcesInfo),
    READ(SensorsInfo, GetSensorsInfo),
    READ(unsigned, GetSystemErrorCount),
    READ(std::vector<PeripheralInfo>, GetPeripheralInventory),
    READ(std::vector<float>, GetPositionCurrentActuators),
    READ(std::vector<int>, GetCodeVersion),
    {Kind::kOther,
     [](Input&) {
       std::vector<int> v;
       return GetAPIVersion(v);
     }},
    {Kind::kCommand,
     [](Input& in) {
       SystemError r;
       return GetSystemError(in.Take<unsigned>(), r);
     }},
    {Kind::kCommand,
     [](Input& in) {
       static ClientConfigurations r;
       return GetClientConfigurations(in.Byte() % 8 == 0 ? nullptr : &r);
     }},
    {Kind::kCommand,
     [](Input& in) {
       static ControlMappingCharts r;
       return GetControlMapping(in.Byte() % 8 == 0 ? nullptr : &r);
     }},
    {Kind::kCommand,
     [](Input& in) {
       static ZoneList r;
       return GetProtectionZone(in.Byte() % 8 == 0 ? nullptr : &r);
     }},
    {Kind::kCommand,
     [](Input& in) {
       std::vector<float> v(in.Byte() % 20);
       return GetDevValue(v);
     }},
    {Kind::kCommand,
     [](Input& in) {
       std::vector<float> v(in.Byte() % 8);
       int setting = 0;
       return GetSpasmFilterValues(v, setting);
     }},
    {Kind::kOther,
     [](Input& in) {
       std::vector<char> text(in.Byte() % 80);
       return GetLinkLoadError(text.empty() ? nullptr : text.data(), static_cast<int>(text.size()));
     }},
    // Writes of arbitrary records.
    {Kind::kCommand, [](Input& in) { return SendJoystickCommand(Raw<JoystickCommand>(in)); }},
    {Kind::kCommand, [](Input& in) { return SendAdvanceTrajectory(Raw<TrajectoryPoint>(in)); }},
    {Kind::kCommand, [](Input& in) { return SendBasicTrajectory(Raw<TrajectoryPoint>(in)); }},
    {Kind::kCommand,
     [](Input& in) {
       const auto a = Raw<CartesianInfo>(in);
       return SetCartesianForceMinMax(a, Raw<CartesianInfo>(in));
     }},
    {Kind::kCommand,
     [](Input& in) {
       const auto a = Raw<CartesianInfo>(in);
       return SetCartesianInertiaDamping(a, Raw<CartesianInfo>(in));
     }},
    {Kind::kCommand,
     [](Input& in) {
       const auto a = Raw<AngularInfo>(in);
       return SetAngularTorqueMinMax(a, Raw<AngularInfo>(in));
     }},
    {Kind::kCommand,
     [](Input& in) {
       const auto a = Raw<AngularInfo>(in);
       return SetAngularInertiaDamping(a, Raw<AngularInfo>(in));
     }},
    {Kind::kCommand,
     [](Input& in) { return SetClientConfigurations(Raw<ClientConfigurations>(in)); }},
    {Kind::kCommand, [](Input& in) { return SetControlMapping(Raw<ControlMappingCharts>(in)); }},
    {Kind::kCommand, [](Input& in) { return SetProtectionZone(Raw<ZoneList>(in)); }},
    {Kind::kCommand,
     [](Input& in) {
       if (in.Byte() % 8 == 0) return SetSerialNumber(nullptr);
       std::vector<char> serial = Block(in, 20);
       return SetSerialNumber(serial.data());
     }},
    {Kind::kCommand,
     [](Input& in) {
       std::vector<char> model = Block(in, 20);
       // The access code is a C string: sometimes the right one.
       std::string code = in.Byte() % 2 ? std::string("M7Q4ZK2") : in.Text(10);
       std::vector<char> terminated(code.c_str(), code.c_str() + code.size() + 1);
       const std::uint8_t nulls = in.Byte();
       return SetModel(nulls & 1 ? nullptr : model.data(), nulls & 2 ? nullptr : terminated.data());
     }},
    {Kind::kCommand, [](Input& in) { return SetFrameType(in.Take<int>()); }},
    {Kind::kCommand, [](Input& in) { return SetDevValue(Floats(in)); }},
    {Kind::kCommand,
     [](Input& in) {
       std::vector<float> v = Floats(in);
       return SetSpasmFilterValues(v, in.Take<int>());
     }},
    {Kind::kCommand, [](Input& in) { return SetJointZero(in.Take<int>()); }},
    {Kind::kCommand,
     [](Input& in) {
       const int a = in.Take<int>();
       return SetActuatorAddress(a, in.Take<int>());
     }},
    {Kind::kCommand,
     [](Input& in) {
       const int a = in.Take<int>();
       const float p = in.Take<float>(), i = in.Take<float>();
       return SetActuatorPID(a, p, i, in.Take<float>());
     }},
    {Kind::kCommand,
     [](Input& in) {
       const int a = in.Take<int>();
       const float p = in.Take<float>(), i = in.Take<float>();
       return SetActuatorPIDFilter(a, p, i, in.Take<float>());
     }},
    {Kind::kCommand, [](Input& in) { return SetTorqueZero(in.Take<int>()); }},
    {Kind::kCommand,
     [](Input& in) {
       const int a = in.Take<int>();
       return SetTorqueGain(a, in.Take<int>());
     }},
    // Bare commands.
    BARE(StartControlAPI),
    BARE(StopControlAPI),
    BARE(SetAngularControl),
    BARE(SetCartesianControl),
    BARE(EraseAllTrajectories),
    BARE(StartForceControl),
    BARE(StopForceControl),
    BARE(StartCurrentLimitation),
    BARE(StopCurrentLimitation),
    BARE(EraseAllProtectionZones),
    BARE(RestoreFactoryDefault),
    BARE(ClearErrorLog),
    // Composites.
    {Kind::kComposite, [](Input&) { return MoveHome(); }},
    {Kind::kComposite, [](Input&) { return InitFingers(); }},
    {Kind::kComposite,
     [](Input& in) {
       if (!Image().Write(in)) return static_cast<int>(TARSEL_OK);
       return ProgramFlash(Image().path.c_str());
     }},
    {Kind::kComposite,
     [](Input& in) {
       int stopAfter = in.Byte() % 4;
       if (!Image().Write(in)) return static_cast<int>(TARSEL_OK);
       return ProgramFlashWithProgress(Image().path.c_str(), StopAtPage, &stopAfter);
     }},
};

#undef READ
#undef BARE

constexpr std::size_t kOpCount = sizeof kOps / sizeof kOps[0];

bool Documented(int code) {
  switch (code) {
    case 1:
    case 1001:
    case 1014:
    case 1015:
    case 2001:
    case 2003:
    case 2004:
    case 2005:
    case 2006:
    case 2007:
    case 2008:
    case 2009:
    case 2100:
    case 5001:
    case 5002:
    case 5003:
    case 5004:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  // Each input starts from an open link, as most programs run.
  tarsel::fuzzing::SetLinkInput(nullptr);
  CloseAPI();
  const int opened = InitAPI();
  tarsel::fuzzing::SetLinkInput(&in);
  if (opened == TARSEL_OK) {
    for (int calls = 0; calls < 64 && !in.empty(); ++calls) {
      const Op& op = kOps[in.Byte() % kOpCount];
      tarsel::fuzzing::TakeStats();
      const int code = op.run(in);
      const tarsel::fuzzing::LinkStats stats = tarsel::fuzzing::TakeStats();
      if (!Documented(code)) {
        std::fprintf(stderr, "undocumented result %d\n", code);
        std::abort();
      }
      if (op.kind == Kind::kCommand && code == TARSEL_OK && (stats.silent || stats.refused)) {
        std::fprintf(stderr, "success after %d silent and %d refused exchanges\n", stats.silent,
                     stats.refused);
        std::abort();
      }
    }
  }
  CloseAPI();
  if (tarsel::fuzzing::FlatLinkOpen()) {
    std::fprintf(stderr, "CloseAPI left the link open\n");
    std::abort();
  }
  tarsel::fuzzing::SetLinkInput(nullptr);
  return 0;
}
