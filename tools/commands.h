// The tool's command groups. Each Add... function registers its subcommands
// on the application; their callbacks open a Session with the options the
// command line gave and throw Failure on any error.
#pragma once

#include <CLI/CLI.hpp>

#include "session.h"

namespace tarsel::tool {

// Options shared by every command, filled by the global flags.
struct Context {
  ConnectOptions connect;
};

void AddStatusCommands(CLI::App& app, const Context& context);  // status, version
void AddMotionCommands(CLI::App& app, const Context& context);  // positions, home, move, fingers
void AddErrorCommands(CLI::App& app, const Context& context);   // errors list|clear
void AddBlockCommands(CLI::App& app, const Context& context);   // config, zones, mapping
void AddFlashCommand(CLI::App& app, const Context& context);    // flash

// Ctrl-C handling for commands that run until stopped: after
// CatchInterrupts, the first SIGINT or SIGTERM only sets the flag that
// Interrupted reports, so the loop ends and the arm is closed properly.
void CatchInterrupts();
bool Interrupted();

}  // namespace tarsel::tool
