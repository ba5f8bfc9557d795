// tarsel: the command-line tool of the Tarsel arm.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/core.h>
#include <CLI/CLI.hpp>

#include "block_json.h"
#include "commands.h"
#include "spelling.h"
#ifdef TARSEL_TOOL_SIM_SETTINGS
#include "environment.h"
#endif
#include "tarsel/export.h"

namespace tarsel::tool {

namespace {

// The number of the signal that asked the tool to stop, 0 while none has.
volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int signal) {
  g_interrupted = signal;
}

// --- Misspelt commands ---------------------------------------------------------

// When the command line stopped short of a command because a word named none
// ("tarsel statsu", "tarsel errors lsit"), the message that names the word
// and the closest command; empty otherwise.
std::string UnknownCommand(const CLI::App& app) {
  std::vector<const CLI::App*> chain = {&app};
  while (!chain.back()->get_subcommands().empty()) {
    chain.push_back(chain.back()->get_subcommands().front());
  }
  const CLI::App& last = *chain.back();
  if (last.get_require_subcommand_min() == 0) return {};
  std::vector<std::string> names;
  // Option groups are subcommands without a name.
  for (const CLI::App* sub : last.get_subcommands([](const CLI::App*) { return true; })) {
    if (!sub->get_name().empty()) names.push_back(sub->get_name());
  }
  if (names.empty()) return {};
  // Words that matched nothing fall through to the top of the command line.
  std::string word;
  for (auto level = chain.rbegin(); level != chain.rend() && word.empty(); ++level) {
    for (const std::string& arg : (*level)->remaining()) {
      if (!arg.empty() && arg[0] != '-') {
        word = arg;
        break;
      }
    }
  }
  if (word.empty()) return {};
  std::string prefix;
  for (std::size_t i = 1; i < chain.size(); ++i) prefix += chain[i]->get_name() + " ";
  std::string message = fmt::format("unknown command '{}{}'", prefix, word);
  const std::string closest = ClosestName(word, names);
  if (!closest.empty()) message += fmt::format("; did you mean '{}{}'?", prefix, closest);
  return message;
}

constexpr const char* kFooter =
    R"(Exit status: 0 success, 1 failure (the arm, the API, a file), 2 bad arguments,
130 Ctrl-C stopped home, move --wait or flash (after stopping the arm or the
transfer; 143 for SIGTERM).

Without an arm, --sim runs against the simulated arm: the tool loads the
simulator's link library (TARSEL_SIM_LINK names it; otherwise the tool looks in
<build>/sim/lib beside its own bin folder, and in ../lib/tarsel/sim when
installed). The simulator also reads TARSEL_SIM_HAND, TARSEL_SIM_TIME_SCALE,
TARSEL_SIM_FINGER_POINTS, TARSEL_SIM_FAULT, TARSEL_SIM_TRACE and
TARSEL_SIM_ARMS (see sim/README.md); --sim-hand, --sim-speed, --sim-fault,
--sim-trace and --sim-arms set them. With TARSEL_SIM_SOCKET naming a running
tarsel-sim, --sim uses that service's arms, whose state lasts between runs.

With several arms, `tarsel arms` lists them and --arm PATH chooses one.)";

int Run(int argc, char** argv) {
  CLI::App app{
      "Talk to a Tarsel arm: status, positions, moves, error log, stored blocks, "
      "firmware."};
  app.name("tarsel");
  app.footer(kFooter);
  app.set_version_flag("--version", "tarsel " TARSEL_VERSION_STR);
  app.require_subcommand(1);
  // Global flags are accepted after the subcommand too: tarsel status --sim.
  app.fallthrough();

  Context context;
  CLI::Option* sim =
      app.add_flag("--sim", context.connect.sim, "Run against the simulated arm, not over USB");
  app.add_option("--sim-hand", context.connect.simHand,
                 "Simulated hand: 3 or 2 fingers (TARSEL_SIM_HAND)")
      ->check(OneOf({"2", "3"}))
      ->needs(sim);
  app.add_option("--sim-speed", context.connect.simSpeed,
                 "Simulated seconds per real second, e.g. 10 (TARSEL_SIM_TIME_SCALE)")
      ->check(AboveZero())
      ->needs(sim);
  app.add_option("--sim-fault", context.connect.simFault,
                 "Faults to inject, e.g. error:105 or absent (TARSEL_SIM_FAULT)")
      ->check(FaultList())
      ->needs(sim);
  app.add_flag("--sim-trace", context.connect.simTrace,
               "Print every exchange with the simulated arm on stderr (TARSEL_SIM_TRACE)")
      ->needs(sim);
  app.add_option("--sim-arms", context.connect.simArms,
                 "How many simulated arms there are, e.g. 2 (TARSEL_SIM_ARMS)")
      ->check(AtLeast(1))
      ->needs(sim);
  app.add_option("--arm", context.connect.arm,
                 "The arm to use, by the path `tarsel arms` lists (default: the first)");
  // The link library reads TARSEL_TRACE when it loads, which is after parsing.
  app.add_option_function<std::string>(
         "--trace",
         [](const std::string& file) { ::setenv("TARSEL_TRACE", file.c_str(), 1); },
         "Record every USB packet exchanged with the arm in FILE, a pcapng capture for "
         "Wireshark or tshark (TARSEL_TRACE)")
      ->type_name("FILE");
  app.add_option("--packets-on-failure", context.connect.packetsOnFailure,
                 "When a command fails, save the last packets exchanged with the arm in FILE, "
                 "a pcapng capture for Wireshark or tshark")
      ->type_name("FILE");

  AddStatusCommands(app, context);
  AddMotionCommands(app, context);
  AddErrorCommands(app, context);
  AddBlockCommands(app, context);
  AddFlashCommand(app, context);
  AddArmsCommand(app, context);
#ifdef TARSEL_TOOL_VIEW
  AddViewCommand(app, context);
#endif
  AddJogCommand(app, context);
  AddRecordCommand(app, context);
  AddDoctorCommand(app, context);

  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return fmt::format("tarsel: {}\nRun with --help for more information.\n", e.what());
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (const std::string unknown = UnknownCommand(app); !unknown.empty()) {
      fmt::print(stderr, "tarsel: {}\nRun with --help for more information.\n", unknown);
      return kExitUsage;
    }
    // Help and --version end with status 0; every refused command line with 2.
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }
  return kExitOk;
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // One-shot: a second Ctrl-C ends the tool at once.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
  return g_interrupted != 0;
}

int InterruptedStatus() {
  return 128 + (g_interrupted != 0 ? static_cast<int>(g_interrupted) : SIGINT);
}

std::thread StartUninterrupted(std::function<void()> work) {
  sigset_t stops, before;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, &before);
  std::thread thread(std::move(work));
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return thread;
}

// --- Numeric options -----------------------------------------------------------

namespace {

std::string Plain(double value) {
  return fmt::format("{}", value);
}

// Reads text as a number, whole when asked; false when it is none.
bool ReadNumber(const std::string& text, bool whole, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  if (whole) {
    const long long n = std::strtoll(text.c_str(), &end, 10);
    value = errno == ERANGE ? (n < 0 ? -HUGE_VAL : HUGE_VAL) : static_cast<double>(n);
  } else {
    value = std::strtod(text.c_str(), &end);
  }
  return end == text.c_str() + text.size();
}

// allowed ends the message ("5000 is out of range; allowed 0.01 to 1000");
// shown is what --help shows after the type ("FLOAT:0.01 to 1000").
CLI::Validator NumberCheck(double low, bool lowIncluded, double high, bool whole,
                           std::string allowed, std::string shown) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        double value = 0;
        if (!ReadNumber(text, whole, value)) {
          return fmt::format("{} is not {}", text, whole ? "a whole number" : "a number");
        }
        const bool above = lowIncluded ? value >= low : value > low;
        if (above && value <= high) return {};
        return fmt::format("{} is out of range; allowed {}", text, allowed);
      },
      std::move(shown));
}

}  // namespace

CLI::Validator Between(double low, double high) {
  const std::string range = Plain(low) + " to " + Plain(high);
  return NumberCheck(low, true, high, false, range, range);
}

CLI::Validator AboveZero() {
  return NumberCheck(0, false, std::numeric_limits<double>::max(), false, "any number above 0",
                     "above 0");
}

CLI::Validator AtLeast(int low) {
  const std::string range = fmt::format("{} or more", low);
  return NumberCheck(low, true, std::numeric_limits<int>::max(), true, range, range);
}

CLI::Validator FaultList() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
#ifdef TARSEL_TOOL_SIM_SETTINGS
        // The simulator's own parser, so that the tool refuses exactly what
        // the simulated arm would ignore.
        const std::string name = "--sim-fault";
        sim::SimEnvironment env;
        sim::ParseFaults(text, env, name);
        if (!env.problems.empty()) return env.problems.front().substr(name.size() + 2);
#endif
        static_cast<void>(text);
        return {};
      },
      "FAULTS");
}

CLI::Validator OneOf(std::vector<std::string> values) {
  std::string allowed;
  for (std::size_t i = 0; i < values.size(); ++i) {
    allowed += (i == 0 ? "" : i + 1 == values.size() ? " or " : ", ") + values[i];
  }
  return CLI::Validator(
      [values, allowed](std::string& text) -> std::string {
        if (std::find(values.begin(), values.end(), text) != values.end()) return {};
        return fmt::format("{} is not allowed; allowed {}", text, allowed);
      },
      allowed);
}

}  // namespace tarsel::tool

int main(int argc, char** argv) {
  using namespace tarsel::tool;
  try {
    return Run(argc, argv);
  } catch (const Failure& failure) {
    fmt::print(stderr, "tarsel: {}\n", failure.what());
    return failure.ExitStatus();
  } catch (const JsonError& error) {
    fmt::print(stderr, "tarsel: {}\n", error.what());
    return kExitFailure;
  } catch (const std::exception& error) {
    fmt::print(stderr, "tarsel: {}\n", error.what());
    return kExitFailure;
  }
}
