// tarsel jog: velocities from the keyboard through a control loop
// (tarsel/control_loop.hpp), with the terminal in raw mode while it runs and
// restored however jog ends. The keys and the live line: jog_keys.h.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "commands.h"
#include "jog_keys.h"
#include "loop_support.h"
#include "motion/motion_codec.h"

namespace tarsel::tool {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// --- The terminal and the signals ---------------------------------------------

// The terminal's settings before raw mode, for every way out, the signal
// handlers' included (tcsetattr may be called from one).
volatile std::sig_atomic_t g_stopSignal = 0;
volatile std::sig_atomic_t g_terminalRaw = 0;
int g_terminal = -1;
termios g_cooked{};
termios g_raw{};

void RestoreTerminal() {
  if (g_terminalRaw != 0) ::tcsetattr(g_terminal, TCSANOW, &g_cooked);
}

// SIGINT, SIGTERM, SIGHUP, SIGQUIT: the first asks jog to bring the arm to
// rest and end; a second ends the tool at once, the terminal restored.
void OnStopSignal(int signal) {
  if (g_stopSignal == 0) {
    g_stopSignal = signal;
    return;
  }
  const int saved = errno;
  RestoreTerminal();
  std::signal(signal, SIG_DFL);
  ::raise(signal);  // delivered once this handler returns
  errno = saved;
}

// A crash: the terminal as it was, then the signal's own end.
void OnFatalSignal(int signal) {
  RestoreTerminal();
  std::signal(signal, SIG_DFL);
  ::raise(signal);
}

void OnContinue(int);

void Install(int signal, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  ::sigaction(signal, &action, nullptr);
}

// Suspended from outside (kill -TSTP; in raw mode Ctrl-Z is a key): the
// terminal goes back to the shell while the tool is stopped.
void OnSuspend(int) {
  const int saved = errno;
  RestoreTerminal();
  std::signal(SIGTSTP, SIG_DFL);
  ::raise(SIGTSTP);
  errno = saved;
}

void OnContinue(int) {
  const int saved = errno;
  if (g_terminalRaw != 0) ::tcsetattr(g_terminal, TCSANOW, &g_raw);
  Install(SIGTSTP, OnSuspend, SA_RESTART);
  errno = saved;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Installs jog's handlers for as long as it lives, and puts the standard
// input in raw mode when it is a terminal: no echo, no line editing, keys
// as they are pressed (Ctrl-C too), output as before.
class JogTerminal {
 public:
  explicit JogTerminal(bool keyboard) {
    g_stopSignal = 0;
    for (int s : kStopSignals) Install(s, OnStopSignal, SA_RESTART);
    for (int s : kFatalSignals) Install(s, OnFatalSignal, SA_RESETHAND | SA_NODEFER);
    Install(SIGTSTP, OnSuspend, SA_RESTART);
    Install(SIGCONT, OnContinue, SA_RESTART);
    if (!keyboard || ::tcgetattr(STDIN_FILENO, &g_cooked) != 0) return;
    g_raw = g_cooked;
    g_raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
    g_raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR));
    g_raw.c_cc[VMIN] = 1;
    g_raw.c_cc[VTIME] = 0;
    g_terminal = STDIN_FILENO;
    g_terminalRaw = 1;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &g_raw) != 0) g_terminalRaw = 0;
  }
  ~JogTerminal() {
    // Keys typed ahead (a held key repeats) are dropped, not left to the shell.
    if (g_terminalRaw != 0) ::tcsetattr(g_terminal, TCSAFLUSH, &g_cooked);
    g_terminalRaw = 0;
    for (int s : kStopSignals) Install(s, SIG_DFL, 0);
    for (int s : kFatalSignals) Install(s, SIG_DFL, 0);
    Install(SIGTSTP, SIG_DFL, 0);
    Install(SIGCONT, SIG_DFL, 0);
  }
  JogTerminal(const JogTerminal&) = delete;
  JogTerminal& operator=(const JogTerminal&) = delete;
};

// The keys on standard input: from a raw terminal as they are pressed, else
// (a pipe, a file) every character of every line, so that scripts and tests
// can jog too.
class KeySource {
 public:
  explicit KeySource(bool keyboard) : keyboard_(keyboard) {}

  // Waits at most wait for input and appends its keys to keys. False at the
  // end of the input.
  bool Read(Clock::duration wait, std::string& keys) {
    // A terminal sends a sequence's bytes together: an Esc with nothing after
    // it for a moment is the Esc key.
    if (decoder_.Waiting()) wait = std::min<Clock::duration>(wait, 30ms);
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
    const int ready = ::poll(&p, 1, ms);
    if (ready <= 0) {
      decoder_.Idle(keys);
      return true;
    }
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    const std::string_view bytes(buffer, static_cast<std::size_t>(n));
    if (keyboard_) {
      decoder_.Feed(bytes, keys);
    } else {
      for (const char c : bytes) {
        if (c != '\n' && c != '\r') keys += c;
      }
    }
    return true;
  }

 private:
  bool keyboard_;
  jog::Decoder decoder_;
};

std::size_t ScreenWidth() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
    return static_cast<std::size_t>(size.ws_col) - 1;
  }
  return 79;
}

struct JogOptions {
  bool cartesian = false;
  int speed = 25;
  double rate = 100.0;
  double watchdog = 0.7;
};

template <class Info>
void CopyValues(const Info& info, float (&out)[6]) {
  const std::array<float, 6> values = FloatsOf(info);
  std::copy(values.begin(), values.end(), out);
}

// One run of jog once the loop runs: the keys change the set-point and the
// view, the loop's events change the view, and the view is shown.
class Jogging {
 public:
  Jogging(ControlLoop& loop, const JogOptions& o, const LoopOptions& options, bool screen)
      : loop_(loop),
        o_(o),
        top_{options.maxJointSpeed, options.maxLinearSpeed, options.maxAngularSpeed},
        screen_(screen),
        threeCycles_(1000 + static_cast<long>(3000 / o.rate)) {
    view_.cartesian = o.cartesian;
    view_.percent = o.speed;
    loop_.OnEvent([this](const LoopEvent& e) { inbox_.Add(e); });
  }
  ~Jogging() { loop_.OnEvent({}); }
  Jogging(const Jogging&) = delete;
  Jogging& operator=(const Jogging&) = delete;

  // Acts on key; false when it quits.
  bool Press(char c) {
    const jog::Key key = jog::KeyOf(c);
    switch (key.action) {
      case jog::Action::kNone:
        return true;
      case jog::Action::kMove:
        Move(key);
        return true;
      case jog::Action::kFaster:
      case jog::Action::kSlower:
        view_.percent = key.action == jog::Action::kFaster ? jog::Faster(view_.percent)
                                                           : jog::Slower(view_.percent);
        changed_ = true;
        return true;
      case jog::Action::kStop:
        loop_.Hold();
        view_.motion = jog::Motion::kStopped;
        // The line shows where the arm stopped: a cycle that read the joints
        // after a zero velocity went out, two after the one that may have
        // sent the last velocity.
        WaitFor(loop_.Latest().sequence + 2);
        changed_ = true;
        return true;
      case jog::Action::kQuit:
        return false;
    }
    return true;
  }

  // Takes in the loop's events. Throws Failure when the loop has ended.
  void Events() {
    bool overflow = false;
    inbox_.Take(0s, unused_, events_, overflow);
    for (const LoopEvent& e : events_) {
      if (e.kind != LoopEventKind::kWatchdog) {
        view_.note = fmt::format("{}: {}", EventName(e.kind), e.message);
        changed_ = true;
        continue;
      }
      // A watchdog event about an earlier set-point can come just after a
      // key press; the key's own lapses at least a cycle later.
      if (view_.motion == jog::Motion::kMoving && e.sequence > pressedAt_ + 1) {
        view_.motion = jog::Motion::kReleased;
        changed_ = true;
        // The line shows where the arm stopped: the next cycle read the
        // joints after the zero velocity went out.
        WaitFor(e.sequence);
      }
    }
    if (!loop_.Running()) {
      throw Failure(fmt::format("the control loop ended{}",
                                view_.note.empty() ? "" : " after " + view_.note));
    }
  }

  // Redraws the live line on a terminal ten times a second; in a log, writes
  // it when something changed, and every half second while an axis moves.
  void Show() {
    const LoopState latest = loop_.Latest();
    if (o_.cartesian) {
      CopyValues(latest.pose.Coordinates, view_.values);
    } else {
      CopyValues(latest.joints.Actuators, view_.values);
    }
    view_.haveValues = (latest.readouts & (o_.cartesian ? kReadCartesian : kReadJoints)) != 0;
    const LoopStatistics figures = loop_.Statistics();
    view_.rate = figures.rate;
    view_.jitter = figures.jitter;
    const Clock::time_point now = Clock::now();
    if (screen_) {
      if (changed_ || now - shown_ >= 100ms) {
        fmt::print("\r{}\033[K", jog::LiveLine(view_, true, ScreenWidth()));
        std::fflush(stdout);
        shown_ = now;
      }
    } else if (changed_ || (view_.motion == jog::Motion::kMoving && now - shown_ >= 500ms)) {
      fmt::print("{}\n", jog::LiveLine(view_, false, 0));
      std::fflush(stdout);
      shown_ = now;
    }
    changed_ = false;
  }

 private:
  void Move(const jog::Key& key) {
    const float speed = static_cast<float>(key.direction) *
                        jog::AxisSpeed(o_.cartesian, key.axis, view_.percent, top_);
    try {
      if (o_.cartesian) {
        loop_.SetCartesianVelocity(jog::CartesianVelocity(key.axis, speed));
      } else {
        loop_.SetJointVelocity(jog::JointVelocity(key.axis, speed));
      }
    } catch (const Error& e) {
      view_.note = e.what();
      changed_ = true;
      return;
    }
    pressedAt_ = loop_.Latest().sequence;
    // Auto-repeat renews the same motion many times a second: only a change
    // is worth a line.
    changed_ = changed_ || view_.motion != jog::Motion::kMoving || view_.axis != key.axis ||
               view_.direction != key.direction;
    view_.motion = jog::Motion::kMoving;
    view_.axis = key.axis;
    view_.direction = key.direction;
    view_.speed = std::fabs(speed);
  }

  void WaitFor(std::uint64_t after) {
    try {
      loop_.WaitNext(after, threeCycles_);
    } catch (const Error&) {
      // Shown as it is, then: the next lines catch up.
    }
  }

  ControlLoop& loop_;
  const JogOptions& o_;
  const jog::TopSpeeds top_;
  const bool screen_;
  // Enough for three cycles even on a busy machine.
  const std::chrono::milliseconds threeCycles_;
  jog::View view_;
  Inbox inbox_;
  std::deque<LoopState> unused_;
  std::vector<LoopEvent> events_;
  std::uint64_t pressedAt_ = 0;  // the latest cycle when an axis key was last pressed
  bool changed_ = true;          // the view changed since it was last shown
  Clock::time_point shown_{};
};

void RunJog(const Context& context, const JogOptions& o) {
  const bool keyboard = ::isatty(STDIN_FILENO) == 1;
  const bool screen = ::isatty(STDOUT_FILENO) == 1;
  LoopArm link(context.connect);
  LoopOptions options;
  options.rate = o.rate;
  options.watchdog = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(o.watchdog));
  if (o.cartesian) options.readouts = kReadCartesian;

  // Signals are caught before the loop starts, so none ends the tool with
  // the arm moving, and the terminal is raw only while the loop runs.
  JogTerminal terminal(keyboard);
  std::unique_ptr<ControlLoop> loop = StartLoop(link.arm(), options);
  try {
    loop->WaitNext(0, 5s);
  } catch (const Error& e) {
    throw Failure(fmt::format("the control loop ran no cycle: {}", e.what()));
  }
  fmt::print("tarsel jog: {} at {} Hz, speed {}% of the top speed; arm {}\n",
             o.cartesian ? "the hand's pose" : "joints", o.rate, o.speed, link.arm().Info().path);
  for (const std::string& line : jog::KeymapLines(o.cartesian, o.watchdog)) {
    fmt::print("{}\n", line);
  }
  if (screen) fmt::print("\n{}\n", jog::LiveHeader(o.cartesian));

  {
    Jogging jogging(*loop, o, options, screen);
    KeySource keys(keyboard);
    std::string pressed;
    for (bool going = true; going && g_stopSignal == 0;) {
      jogging.Events();
      jogging.Show();
      pressed.clear();
      going = keys.Read(screen ? 100ms : 50ms, pressed);  // false at the end of the input
      for (const char c : pressed) {
        if (!jogging.Press(c)) {
          going = false;
          break;
        }
      }
    }
  }
  loop->Stop();
  if (screen) fmt::print("\n");
  // Where the arm came to rest, read after the loop stopped it.
  float rest[6] = {};
  try {
    if (o.cartesian) {
      CopyValues(link.arm().GetCartesianPosition().Coordinates, rest);
    } else {
      CopyValues(link.arm().GetAngularPosition().Actuators, rest);
    }
    fmt::print("The arm is at rest: {}\n", jog::ValuesText(o.cartesian, rest));
  } catch (const Error& e) {
    fmt::print("The loop brought the arm to rest; reading where it stands failed: {}\n", e.what());
  }
}

}  // namespace

void AddJogCommand(CLI::App& app, const Context& context) {
  auto options = std::make_shared<JogOptions>();
  CLI::App* jog = app.add_subcommand(
      "jog", "Move the arm from the keyboard, joint by joint or along the hand's axes");
  jog->add_flag("--cartesian", options->cartesian,
                "Move the hand along X, Y, Z and about them, not the joints");
  jog->add_option("--speed", options->speed,
                  "Speed setting in percent of the top speed (+ and - change it)")
      ->check(Between(1, 100))
      ->capture_default_str();
  jog->add_option("--rate", options->rate, "Control loop cycles per second")
      ->check(Between(1, 1000))
      ->capture_default_str();
  jog->add_option("--watchdog", options->watchdog,
                  "Seconds a key press moves the arm unless the key repeats")
      ->check(Between(0.01, 10))
      ->capture_default_str();
  jog->callback([&context, options] { RunJog(context, *options); });
}

}  // namespace tarsel::tool
