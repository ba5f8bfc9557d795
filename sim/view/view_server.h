// The live view's web server, shared by tarsel-sim --http and `tarsel view`:
// the page and three.js as static files, the latest state as JSON
// (GET /state) and as server-sent events (GET /events, 25 a second).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "arm_view.h"

namespace tarsel::view {

struct ViewServerOptions {
  std::string host = "127.0.0.1";  // only this machine may look
  int port = 0;                    // 0: any free port (Port() tells which)
  std::string webRoot;             // the page's files (FindWebRoot())
  std::string threeRoot;           // three.js (FindThreeRoot())
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
  // The state the page shows from now on; any thread may call it.
  void Publish(const std::vector<ArmView>& arms);
  // Ends every connection and stops serving. Harmless when called again.
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
