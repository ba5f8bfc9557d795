// tarsel: the command-line tool of the Tarsel arm.
#include <csignal>
#include <cstdio>
#include <exception>

#include <fmt/core.h>
#include <CLI/CLI.hpp>

#include "block_json.h"
#include "commands.h"
#include "tarsel/export.h"

namespace tarsel::tool {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
  g_interrupted = 1;
}

constexpr const char* kFooter =
    R"(Exit status: 0 success, 1 failure (the arm, the API, a file), 2 bad arguments.

Without an arm, --sim runs against the simulated arm: the tool loads the
simulator's link library (TARSEL_SIM_LINK names it; otherwise the tool looks in
<build>/sim/lib beside its own bin folder, and in ../lib/tarsel/sim when
installed). The simulator also reads TARSEL_SIM_HAND, TARSEL_SIM_TIME_SCALE,
TARSEL_SIM_FINGER_POINTS, TARSEL_SIM_FAULT and TARSEL_SIM_TRACE (see
sim/README.md); --sim-hand, --sim-speed, --sim-fault and --sim-trace set them.)";

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
      ->check(CLI::IsMember({"2", "3"}))
      ->needs(sim);
  app.add_option("--sim-speed", context.connect.simSpeed,
                 "Simulated seconds per real second, e.g. 10 (TARSEL_SIM_TIME_SCALE)")
      ->check(CLI::PositiveNumber)
      ->needs(sim);
  app.add_option("--sim-fault", context.connect.simFault,
                 "Faults to inject, e.g. error:105 or absent (TARSEL_SIM_FAULT)")
      ->needs(sim);
  app.add_flag("--sim-trace", context.connect.simTrace,
               "Print every exchange with the simulated arm on stderr (TARSEL_SIM_TRACE)")
      ->needs(sim);

  AddStatusCommands(app, context);
  AddMotionCommands(app, context);
  AddErrorCommands(app, context);
  AddBlockCommands(app, context);
  AddFlashCommand(app, context);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
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
