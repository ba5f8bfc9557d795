#include "browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace servicetest {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kAnswerLimit = std::chrono::seconds(60);

bool Executable(const std::string& path) {
  return ::access(path.c_str(), X_OK) == 0;
}

std::uint32_t BigEndian(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

}  // namespace

std::string FindChromium() {
  if (const char* chosen = std::getenv("TARSEL_CHROMIUM"); chosen != nullptr && *chosen != '\0') {
    return Executable(chosen) ? chosen : "";
  }
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (Executable(path)) return path;
  }
  return "";
}

bool Browser::Start(const std::string& binary, const std::filesystem::path& profile,
                    const std::filesystem::path& log, int width, int height) {
  int toBrowser[2], fromBrowser[2];
  if (::pipe2(toBrowser, O_CLOEXEC) != 0) return false;
  if (::pipe2(fromBrowser, O_CLOEXEC) != 0) return false;
  std::vector<std::string> args = {binary,
                                   "--headless",
                                   "--remote-debugging-pipe",
                                   "--user-data-dir=" + profile.string(),
                                   "--window-size=" + std::to_string(width) + "," + std::to_string(height),
                                   // WebGL in software, with no GPU at hand.
                                   "--use-angle=swiftshader",
                                   "--enable-unsafe-swiftshader",
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-extensions",
                                   "--disable-background-networking",
                                   "--hide-scrollbars",
                                   "--mute-audio",
                                   "about:blank"};
  // Root may not use the sandbox.
  if (::geteuid() == 0) args.insert(args.begin() + 1, "--no-sandbox");
  // Made before the fork: the view's threads run meanwhile, and a child that
  // allocated could wait forever on a lock one of them held.
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);  // its helper processes go with it
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::dup2(toBrowser[0], 3);  // dup2 clears close-on-exec
    ::dup2(fromBrowser[1], 4);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(toBrowser[0]);
  ::close(fromBrowser[1]);
  commands_ = toBrowser[1];
  answers_ = fromBrowser[0];
  return pid_ > 0;
}

Browser::~Browser() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  ::close(commands_);
  ::close(answers_);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      ::kill(-pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(-pid_, SIGKILL);  // helpers still about, if any
}

nlohmann::json Browser::Call(const std::string& method, const nlohmann::json& params,
                             const std::string& session) {
  const int id = nextId_++;
  nlohmann::json command = {{"id", id}, {"method", method}, {"params", params}};
  if (!session.empty()) command["sessionId"] = session;
  const std::string text = command.dump() + '\0';
  for (std::size_t at = 0; at < text.size();) {
    const ssize_t n = ::write(commands_, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(method + ": the browser is gone");
    at += static_cast<std::size_t>(n);
  }
  const auto deadline = Clock::now() + kAnswerLimit;
  while (true) {
    // Whole messages first; events are passed over.
    for (std::size_t end; (end = pending_.find('\0')) != std::string::npos;) {
      const nlohmann::json message = nlohmann::json::parse(pending_.substr(0, end), nullptr, false);
      pending_.erase(0, end + 1);
      if (!message.is_object() || !message.contains("id") || message["id"] != id) continue;
      if (message.contains("error")) throw std::runtime_error(method + ": " + message["error"].dump());
      return message.value("result", nlohmann::json::object());
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) throw std::runtime_error(method + ": no answer from the browser");
    pollfd p{answers_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[65536];
    const ssize_t n = ::read(answers_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(method + ": the browser is gone");
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string Browser::Open(const std::string& url) {
  // The tab the browser opened with is the one in front: pages behind it
  // get their frames throttled.
  std::string target;
  const nlohmann::json targets = Call("Target.getTargets");
  for (const nlohmann::json& t : targets["targetInfos"]) {
    if (t.value("type", "") == "page") {
      target = t.value("targetId", "");
      break;
    }
  }
  if (target.empty()) target = Call("Target.createTarget", {{"url", "about:blank"}})["targetId"];
  const std::string session =
      Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})["sessionId"];
  Call("Page.bringToFront", nlohmann::json::object(), session);
  Call("Page.navigate", {{"url", url}}, session);
  return session;
}

nlohmann::json Browser::Evaluate(const std::string& session, const std::string& expression) {
  const nlohmann::json result =
      Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session);
  if (result.contains("exceptionDetails")) {
    throw std::runtime_error(expression + ": " + result["exceptionDetails"].dump());
  }
  return result["result"].value("value", nlohmann::json());
}

std::string Browser::Screenshot(const std::string& session, const std::vector<double>& clip) {
  nlohmann::json params = {{"format", "png"}};
  if (clip.size() == 4) {
    params["clip"] = {{"x", clip[0]}, {"y", clip[1]}, {"width", clip[2]}, {"height", clip[3]},
                      {"scale", 1}};
  }
  return DecodeBase64(Call("Page.captureScreenshot", params, session)["data"]);
}

std::string DecodeBase64(const std::string& text) {
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const auto digit = kDigits.find(c);
    if (digit == std::string::npos) continue;  // padding, line breaks
    bits = (bits << 6) | static_cast<std::uint32_t>(digit);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

Image DecodePng(const std::string& png) {
  const auto* data = reinterpret_cast<const unsigned char*>(png.data());
  if (png.size() < 8 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
    throw std::runtime_error("not a PNG");
  }
  Image image;
  int channels = 0;
  std::string compressed;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t length = BigEndian(data + at);
    const std::string type = png.substr(at + 4, 4);
    if (at + 12 + length > png.size()) throw std::runtime_error("a cut PNG");
    const unsigned char* body = data + at + 8;
    if (type == "IHDR") {
      image.width = static_cast<int>(BigEndian(body));
      image.height = static_cast<int>(BigEndian(body + 4));
      const int depth = body[8], colour = body[9], interlace = body[12];
      if (depth != 8 || (colour != 2 && colour != 6) || interlace != 0) {
        throw std::runtime_error("a PNG of a kind not decoded here");
      }
      channels = colour == 6 ? 4 : 3;
    } else if (type == "IDAT") {
      compressed.append(reinterpret_cast<const char*>(body), length);
    }
    at += 12 + length;
  }
  if (channels == 0) throw std::runtime_error("a PNG without a header");
  const std::size_t stride = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(channels);
  std::vector<unsigned char> raw((stride + 1) * static_cast<std::size_t>(image.height));
  uLongf rawSize = static_cast<uLongf>(raw.size());
  if (::uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(compressed.data()),
                   static_cast<uLong>(compressed.size())) != Z_OK ||
      rawSize != raw.size()) {
    throw std::runtime_error("a PNG whose image data does not inflate");
  }
  std::vector<unsigned char> previous(stride, 0), row(stride);
  image.pixels.reserve(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height));
  for (int y = 0; y < image.height; ++y) {
    const unsigned char* line = raw.data() + static_cast<std::size_t>(y) * (stride + 1);
    const int filter = line[0];
    for (std::size_t x = 0; x < stride; ++x) {
      const int a = x >= static_cast<std::size_t>(channels) ? row[x - static_cast<std::size_t>(channels)] : 0;
      const int b = previous[x];
      const int c = x >= static_cast<std::size_t>(channels) ? previous[x - static_cast<std::size_t>(channels)] : 0;
      int value = line[1 + x];
      switch (filter) {
        case 1: value += a; break;
        case 2: value += b; break;
        case 3: value += (a + b) / 2; break;
        case 4: value += Paeth(a, b, c); break;
        default: break;
      }
      row[x] = static_cast<unsigned char>(value & 0xFF);
    }
    for (int x = 0; x < image.width; ++x) {
      const unsigned char* p = row.data() + static_cast<std::size_t>(x) * static_cast<std::size_t>(channels);
      const std::uint32_t alpha = channels == 4 ? p[3] : 0xFF;
      image.pixels.push_back((std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                             (std::uint32_t{p[2]} << 8) | alpha);
    }
    previous.swap(row);
  }
  return image;
}

}  // namespace servicetest
