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
#include <string_view>
#include <vector>

#include "arm/exports.h"
#include "core/catalogue.h"
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

// A catalogued command is one exchange; the table's other exports (the
// library's version) send nothing.
constexpr Kind KindOf(std::string_view name) {
  for (const tarsel::CommandEntry& c : tarsel::kCommands) {
    if (name == c.name) return Kind::kCommand;
  }
  return Kind::kOther;
}

// The exports of the table api/arm/exports.txt, each with records of
// arbitrary bytes; a pointer read sometimes gets no record.
#define TARSEL_READ_OP(Name, python, module, Record, doc) \
  {KindOf(#Name), [](Input&) {                            \
     Record r;                                            \
     return Name(r);                                      \
   }},
#define TARSEL_POINTER_READ_OP(Name, python, module, Record, doc)  \
  {KindOf(#Name), [](Input& in) {                                 \
     static Record r;                                             \
     return Name(in.Byte() % 8 == 0 ? nullptr : &r);              \
   }},
#define TARSEL_BARE_OP(Name, python, module, doc) {KindOf(#Name), [](Input&) { return Name(); }},
#define TARSEL_WRITE_OP(Name, python, module, Record, Check, doc, a, pythonA) \
  {KindOf(#Name), [](Input& in) { return Name(Raw<Record>(in)); }},
#define TARSEL_PAIR_WRITE_OP(Name, python, module, Record, Check, doc, a, pythonA, b, pythonB) \
  {KindOf(#Name), [](Input& in) {                                                              \
     const auto first = Raw<Record>(in);                                                       \
     return Name(first, Raw<Record>(in));                                                      \
   }},

const Op kOps[] = {
    {Kind::kOther, [](Input&) { return InitAPI(); }},
    {Kind::kOther, [](Input&) { return CloseAPI(); }},
    // clang-format off
    TARSEL_ARM_READS(TARSEL_READ_OP)
    TARSEL_ARM_POINTER_READS(TARSEL_POINTER_READ_OP)
    TARSEL_ARM_BARE_COMMANDS(TARSEL_BARE_OP)
    TARSEL_ARM_WRITES(TARSEL_WRITE_OP)
    TARSEL_ARM_PAIR_WRITES(TARSEL_PAIR_WRITE_OP)
    // clang-format on
    // The rest.
    {Kind::kCommand,
     [](Input& in) {
       SystemError r;
       return GetSystemError(in.Take<unsigned>(), r);
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
    {Kind::kCommand, [](Input& in) { return SetDevValue(Floats(in)); }},
    {Kind::kCommand,
     [](Input& in) {
       std::vector<float> v = Floats(in);
       return SetSpasmFilterValues(v, in.Take<int>());
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

#undef TARSEL_READ_OP
#undef TARSEL_POINTER_READ_OP
#undef TARSEL_BARE_OP
#undef TARSEL_WRITE_OP
#undef TARSEL_PAIR_WRITE_OP

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
