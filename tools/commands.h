// The tool's command groups. Each Add... function registers its subcommands
// on the application; their callbacks open a Session with the options the
// command line gave and throw Failure on any error.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "session.h"
#include "tarsel/status.h"

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
void AddArmsCommand(CLI::App& app, const Context& context);     // arms
void AddViewCommand(CLI::App& app, const Context& context);     // view (with the live view built)
void AddDoctorCommand(CLI::App& app, const Context& context);   // doctor
void AddJogCommand(CLI::App& app, const Context& context);      // jog
void AddRecordCommand(CLI::App& app, const Context& context);   // record

// What the quick status says of the hand: whether it has two fingers (else
// three), and which fingers report themselves initialised, finger 1 first.
bool TwoFingerHand(const QuickStatus& s);
std::array<bool, 3> FingersInitialised(const QuickStatus& s);

// Ctrl-C handling for commands that run until stopped or that must stop the
// arm first: after CatchInterrupts, the first SIGINT or SIGTERM only sets the
// flag that Interrupted reports, so the command ends its work and the arm is
// closed properly; a second one ends the tool at once.
void CatchInterrupts();
bool Interrupted();
// The exit status of a command stopped that way: 128 + the signal's number
// (130 for Ctrl-C, 143 for SIGTERM).
int InterruptedStatus();
// Runs work on a new thread that never receives SIGINT or SIGTERM, so they
// reach the thread that watches Interrupted.
std::thread StartUninterrupted(std::function<void()> work);

// Checks of numeric options whose messages give the allowed values plainly:
// "--rate: 5000 is out of range; allowed 0.01 to 1000".
CLI::Validator Between(double low, double high);  // low to high, both included
CLI::Validator AboveZero();                       // any number above 0
CLI::Validator AtLeast(int low);                  // whole numbers from low up
CLI::Validator OneOf(std::vector<std::string> values);
CLI::Validator FaultList();                     // a fault list the simulated arm takes

}  // namespace tarsel::tool
