// The tool's connection to the arm: opening it through InitAPI (optionally
// with the simulated arm's link library loaded first), closing it, and
// turning result codes into failures with a readable message.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarsel::tool {

// Exit statuses of the tool.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,  // the arm, the API, a file or a JSON document failed
  kExitUsage = 2,    // the command line was refused
};

// A failure the tool reports as "tarsel: <message>" and exits on.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message, int exitStatus = kExitFailure)
      : std::runtime_error(message), exitStatus_(exitStatus) {}
  int ExitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

// "<what> failed: <code> (<meaning>)", the meaning from GetResultMessage.
std::string DescribeFailure(std::string_view what, int code);

// Throws a Failure described as above unless code is TARSEL_OK.
void Check(int code, std::string_view what);

// How the arm is reached.
struct ConnectOptions {
  bool sim = false;       // load the simulated arm's link library first
  std::string simHand;    // TARSEL_SIM_HAND for the simulator ("2" or "3")
  std::string simSpeed;   // TARSEL_SIM_TIME_SCALE
  std::string simFault;   // TARSEL_SIM_FAULT
  bool simTrace = false;  // TARSEL_SIM_TRACE=1
  std::string simArms;    // TARSEL_SIM_ARMS: how many simulated arms
  std::string arm;        // the arm to open, by path ("usb:1-2", "sim:2"); "": the first
  // --packets-on-failure: where the recent packets go when a command fails
  // ("": nowhere).
  std::string packetsOnFailure;
};

// Loads the simulator's link library when options ask for it, with its
// settings in the environment, so that both the flat functions and the arm
// listing reach the simulated arms. Returns the library's handle (the caller
// closes it), or null without --sim. Throws Failure when it cannot be loaded.
void* LoadSimulator(const ConnectOptions& options);

// Environment variable naming the simulated arm's link library (a file, or
// the folder holding it); overrides the places the tool looks in.
inline constexpr const char* kSimLinkVariable = "TARSEL_SIM_LINK";
inline constexpr const char* kLinkFileName = "Tarsel.API.CommLayerUbuntu.so";

// The places --sim looks for the link library, in order: TARSEL_SIM_LINK when
// set, else <tool folder>/../sim/lib (a build tree) and the installed
// location <tool folder>/../lib/tarsel/sim.
std::vector<std::string> SimLinkCandidates();

// One open session with the arm; CloseAPI when it ends. Only one may exist at
// a time (the API keeps process-wide state). A session that ends because an
// exception leaves the command (a Failure) first saves the recent packets to
// options.packetsOnFailure, when given, and says on standard error where
// they are or why they could not be saved.
class Session {
 public:
  // Loads the simulator's link library when asked, then calls InitAPI, or,
  // with options.arm, opens that arm and routes the flat functions to it.
  // Throws Failure naming the failed code when the arm cannot be opened.
  explicit Session(const ConnectOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Simulated() const { return simHandle_ != nullptr; }

 private:
  struct ChosenArm;
  void SavePacketsOnFailure() const noexcept;

  void* simHandle_ = nullptr;
  std::unique_ptr<ChosenArm> chosen_;
  std::string packetsOnFailure_;
  int uncaught_ = 0;  // exceptions in flight when the session opened
};

}  // namespace tarsel::tool
