// The C++ interface's connection layer (tarsel::Arm, ListArms, FlatCallsTo)
// over the stand-in link with handles, where the input decides the arms
// listed (text fields may lack their terminator), whether each open
// succeeds (or claims success without a handle), and every answer. The input
// is a sequence of steps on two arm slots: open (the first arm, a listed one,
// one by an arbitrary path, the flat link's "default"), close, destroy, move,
// commands, the long operations with a time limit, routes of the flat calls.
//
// Beyond crashes, leaks and bad memory accesses:
//  - every Error carries a documented code;
//  - a closed arm stays closed: each later command throws Error(2001)
//    (or 2100 for an argument refused before anything is sent);
//  - once every Arm is gone, no handle is left open.
#include <dlfcn.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "arm/exports.h"
#include "fuzz_input.h"
#include "fuzz_link.h"
#include "tarsel/arm.hpp"

namespace {

using tarsel::Arm;
using tarsel::fuzzing::Input;

struct Slot {
  std::optional<Arm> arm;
  bool closed = false;  // Close() was called on it
};

[[noreturn]] void Fail(const char* what, int code) {
  std::fprintf(stderr, "%s (%d)\n", what, code);
  std::abort();
}

bool Documented(int code) {
  switch (code) {
    case 1001:
    case 1014:
    case 1015:
    case 2001:
    case 2002:
    case 2003:
    case 2004:
    case 2005:
    case 2006:
    case 2007:
    case 2008:
    case 2009:
    case 2010:
    case 2100:
    case 5002:
      return true;
    default:
      return false;
  }
}

template <typename Record>
Record Raw(Input& in) {
  Record r;
  in.Fill(&r, sizeof r);
  return r;
}

using CommandOn = void (*)(Arm&, Input&);

// The members of the table api/arm/exports.txt, writes with records of
// arbitrary bytes, then those written by hand.
#define TARSEL_CALL_COMMAND(Name, python, module, ...) [](Arm& arm, Input&) { arm.Name(); },
#define TARSEL_WRITE_COMMAND(Name, python, module, Record, Check, doc, a, pythonA) \
  [](Arm& arm, Input& in) { arm.Name(Raw<Record>(in)); },
#define TARSEL_PAIR_WRITE_COMMAND(Name, python, module, Record, Check, doc, a, pythonA, b, \
                                  pythonB)                                                \
  [](Arm& arm, Input& in) {                                                               \
    const auto first = Raw<Record>(in);                                                   \
    arm.Name(first, Raw<Record>(in));                                                     \
  },
// clang-format off
const CommandOn kCommands[] = {
    TARSEL_ARM_READS(TARSEL_CALL_COMMAND)
    TARSEL_ARM_POINTER_READS(TARSEL_CALL_COMMAND)
    TARSEL_ARM_BARE_COMMANDS(TARSEL_CALL_COMMAND)
    TARSEL_ARM_WRITES(TARSEL_WRITE_COMMAND)
    TARSEL_ARM_PAIR_WRITES(TARSEL_PAIR_WRITE_COMMAND)
    [](Arm& arm, Input& in) { arm.SetSerialNumber(in.Text(24)); },
    [](Arm& arm, Input& in) {
      const std::string model = in.Text(24);
      arm.SetModel(model, in.Byte() % 2 ? std::string("M7Q4ZK2") : in.Text(10));
    },
    [](Arm& arm, Input&) { arm.GetSpasmFilterValues(); },
    [](Arm& arm, Input& in) {
      std::vector<float> values(in.Byte() % 20);
      for (float& v : values) v = in.Take<float>();
      arm.SetDevValue(values);
    },
};
// clang-format on
#undef TARSEL_CALL_COMMAND
#undef TARSEL_WRITE_COMMAND
#undef TARSEL_PAIR_WRITE_COMMAND

// One command on the arm, chosen by the input.
void Command(Arm& arm, Input& in) {
  kCommands[in.Byte() % (sizeof kCommands / sizeof kCommands[0])](arm, in);
}

void Open(Slot& slot, Input& in) {
  slot.closed = false;
  slot.arm.reset();
  switch (in.Byte() % 4) {
    case 0:
      slot.arm.emplace();
      break;
    case 1: {
      const std::vector<tarsel::ArmInfo> arms = tarsel::ListArms();
      if (arms.empty()) return;
      slot.arm.emplace(arms[in.Byte() % arms.size()]);
      break;
    }
    case 2: {
      tarsel::ArmInfo info;
      info.path = "default";
      slot.arm.emplace(info);
      break;
    }
    default: {
      tarsel::ArmInfo info;
      info.path = in.Text(40);
      slot.arm.emplace(info);
      break;
    }
  }
}

void Step(Slot (&slots)[2], Input& in) {
  const std::uint8_t step = in.Byte();
  Slot& slot = slots[step & 1];
  Slot& other = slots[(step & 1) ^ 1];
  switch ((step >> 1) % 10) {
    case 0:
      Open(slot, in);
      break;
    case 1:
      if (slot.arm) {
        slot.arm->Close();
        slot.closed = true;
        if (slot.arm->IsOpen()) Fail("an arm is open after Close", 0);
      }
      break;
    case 2:
      slot.arm.reset();
      slot.closed = false;
      break;
    case 3:
      if (slot.arm && other.arm) {
        *other.arm = std::move(*slot.arm);
        other.closed = slot.closed;
        slot.closed = true;  // moved from: closed for good
      }
      break;
    case 4:
      if (slot.arm) {
        (void)slot.arm->IsOpen();
        (void)slot.arm->Info().path.size();
      }
      break;
    case 5:
      if (slot.arm) {
        try {
          Command(*slot.arm, in);
        } catch (const tarsel::Error& e) {
          if (!Documented(e.code())) Fail("undocumented code", e.code());
          // An argument the interface refuses (a text over 20 bytes) is
          // refused before anything else, closed arm or not.
          if (slot.closed && e.code() != TARSEL_ERROR_NOT_INITIALIZED &&
              e.code() != TARSEL_ERROR_ARGUMENT) {
            Fail("a closed arm's command did not give 2001", e.code());
          }
          return;
        }
        if (slot.closed) Fail("a closed arm ran a command", 1);
      }
      break;
    case 6:
      if (slot.arm) {
        const int code = in.Byte() % 3 == 0 ? TARSEL_ERROR_CANCELLED : 0;
        slot.arm->SetStopCheck([code] { return code; });
      }
      break;
    case 7:
      if (slot.arm) {
        const std::chrono::milliseconds limit(in.Byte() % 3);
        if (in.Byte() % 2) {
          slot.arm->MoveHome(limit);
        } else {
          slot.arm->InitFingers(limit);
        }
      }
      break;
    case 8:
      if (slot.arm) {
        tarsel::FlatCallsTo route(*slot.arm);
        AngularPosition position;
        GetAngularPosition(position);
      }
      break;
    default:
      (void)tarsel::ListArms();
      break;
  }
}

}  // namespace

// A "sim:" path opens a simulated arm through the simulator's link library,
// which the library loads and unloads with the arm. libFuzzer keeps reading
// the coverage counters of every instrumented library it has seen, so this
// one is loaded here once and never unloaded.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
#ifdef TARSEL_FUZZ_SIM_LINK
  ::setenv("TARSEL_SIM_LINK", TARSEL_FUZZ_SIM_LINK, 1);
  if (::dlopen(TARSEL_FUZZ_SIM_LINK, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", TARSEL_FUZZ_SIM_LINK, ::dlerror());
    std::abort();
  }
#endif
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  tarsel::fuzzing::SetLinkInput(&in);
  {
    Slot slots[2];
    for (int steps = 0; steps < 48 && !in.empty(); ++steps) {
      try {
        Step(slots, in);
      } catch (const tarsel::Error& e) {
        if (!Documented(e.code())) Fail("undocumented code", e.code());
      }
    }
  }
  tarsel::fuzzing::SetLinkInput(nullptr);
  if (tarsel::fuzzing::OpenHandles() != 0)
    Fail("handles left open", tarsel::fuzzing::OpenHandles());
  if (tarsel::fuzzing::FlatLinkOpen()) Fail("the flat link left open", 0);
  return 0;
}
