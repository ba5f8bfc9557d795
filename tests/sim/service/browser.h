// A headless Chromium driven over its DevTools pipe (--remote-debugging-pipe:
// JSON messages ended by a NUL byte, commands on the browser's fd 3,
// answers and events on its fd 4), and the decoding of the PNG screenshots
// it takes. For the test of the live view in a real browser.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace servicetest {

// The browser to use: TARSEL_CHROMIUM when set, else chromium or
// chromium-browser in /usr/bin; "" when there is none.
std::string FindChromium();

class Browser {
 public:
  Browser() = default;
  ~Browser();  // closes the browser, killing it if it does not go
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // Starts binary headless, software WebGL, a window of width x height,
  // its profile in profile and its messages in log. false when it could
  // not be started.
  bool Start(const std::string& binary, const std::filesystem::path& profile,
             const std::filesystem::path& log, int width, int height);

  // Sends a command (to the page session when one is given) and returns its
  // result; throws std::runtime_error with the browser's error, or when no
  // answer comes within a minute.
  nlohmann::json Call(const std::string& method, const nlohmann::json& params = nlohmann::json::object(),
                      const std::string& session = "");

  // Opens url in a new tab; the session to talk to its page with.
  std::string Open(const std::string& url);

  // The value of a JavaScript expression evaluated in the page.
  nlohmann::json Evaluate(const std::string& session, const std::string& expression);

  // A PNG screenshot of the page, or of the rectangle x, y, width, height.
  std::string Screenshot(const std::string& session, const std::vector<double>& clip = {});

 private:
  pid_t pid_ = -1;
  int commands_ = -1;  // written here, read by the browser on its fd 3
  int answers_ = -1;   // written by the browser on its fd 4, read here
  int nextId_ = 1;
  std::string pending_;  // answer bytes read past the last message
};

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // 0xRRGGBBAA, row after row
};

// Decodes an 8-bit, non-interlaced RGB or RGBA PNG; throws
// std::runtime_error for anything else.
Image DecodePng(const std::string& png);

std::string DecodeBase64(const std::string& text);

}  // namespace servicetest
