// The live view's web server, shared by tarsel-sim --http and `tarsel view`:
// the page and three.js as static files, the latest state as JSON
// (GET /state) and as server-sent events (GET /events, 25 a second), and
// each arm's joints over the plot's window (GET /history, and the first
// event of every stream, named "history"), so that a page opened late
// plots the past it missed.
//
// Who it answers and how many:
// - Only requests that name this machine: a Host header of localhost,
//   127.0.0.1 or [::1], with or without a port. Any other name, several
//   Host headers or none (an HTTP/1.0 request may leave it out; browsers
//   never do) get 403 on every path, so that a page of another site whose
//   name its owner points at 127.0.0.1 cannot read the arms' state.
// - Up to kMaxViewers event streams at once (open pages); one more gets
//   503 until one of them closes. Each holds a thread of the server; the
//   page, the files and /state are served by kSpareThreads more, so that
//   they answer however many pages are open.
// - A viewer that takes no data for kWriteTimeoutSeconds (its buffers
//   full) is dropped; the page then connects again by itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "arm_view.h"

namespace tarsel::view {

// The event streams served at once.
inline constexpr int kMaxViewers = 64;
// The server's threads beyond the event streams', for everything else.
inline constexpr int kSpareThreads = 16;
// How long a write may wait for a reader that takes nothing.
inline constexpr int kWriteTimeoutSeconds = 2;
// The joints plot's window: how long the samples of each arm are kept.
inline constexpr double kHistorySeconds = 10;
// Samples are kept at most this often (s), whatever rate the state is
// published at: an arm's history holds at most kHistorySeconds /
// kHistoryStep + 2 of them, and arms no longer published are forgotten.
inline constexpr double kHistoryStep = 0.025;

struct ViewServerOptions {
  std::string host = "127.0.0.1";  // only this machine may look
  int port = 0;                    // 0: any free port (Port() tells which)
  std::string webRoot;             // the page's files (FindWebRoot())
  std::string threeRoot;           // three.js (FindThreeRoot())
  // The plot's window (s): above 0 and at most an hour, else kHistorySeconds.
  double historySeconds = kHistorySeconds;
};

class ViewServer {
 public:
  explicit ViewServer(ViewServerOptions options);
  ~ViewServer();  // Stop()
  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;

  // Binds the port and serves on threads of its own; false with why when
  // the port cannot be bound or a folder of files is missing.
  bool Start(std::string& why);
  // The port served on, once started.
  int Port() const;
  // The state the page shows from now on, and a sample of each arm's
  // joints for the history (at most one per kHistoryStep); any thread may
  // call it. The arms are copied; their paths name them in the history.
  void Publish(const std::vector<ArmView>& arms);
  // The event streams open now (0 to kMaxViewers); any thread may call it.
  int Viewers() const;
  // Ends every connection and stops serving; a write waiting on a reader
  // that takes nothing may hold it up to kWriteTimeoutSeconds. Harmless
  // when called again.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The page's folder: TARSEL_WEB_DIR when set, else share/tarsel/web beside
// the running program's bin folder (the build tree and an installation
// both have it there).
std::string FindWebRoot();

// three.js: TARSEL_THREE_DIR when set, else Debian's libjs-three
// (/usr/share/javascript/three).
std::string FindThreeRoot();

}  // namespace tarsel::view
