// tarsel positions, home, move, fingers init.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/core.h>

#include "arm/arrival.h"
#include "commands.h"
#include "display.h"
#include "record_json.h"
#include "tarsel/tarsel.h"

namespace tarsel::tool {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- positions ------------------------------------------------------------

struct PositionsOptions {
  bool cartesian = false;
  bool watch = false;
  double rate = 10.0;
  int count = 0;  // 0: once, or without end with --watch
  bool json = false;
};

// One sample: the six joints (or the pose's six values), then the three
// fingers.
struct Sample {
  std::array<float, 9> values;
  FingersPosition fingers;
  Json json;
};

template <class Position>
Sample SampleOf(const Position& p) {
  return Sample{FloatsOf(p), p.Fingers, ToDisplay(p)};
}

Sample ReadSample(bool cartesian) {
  if (cartesian) {
    CartesianPosition p{};
    Check(GetCartesianPosition(p), "GetCartesianPosition");
    return SampleOf(p);
  }
  AngularPosition p{};
  Check(GetAngularPosition(p), "GetAngularPosition");
  return SampleOf(p);
}

constexpr int kColumn = 10;

std::string Header(bool cartesian, bool timed) {
  static const char* const kJoints[6] = {"A1", "A2", "A3", "A4", "A5", "A6"};
  static const char* const kPose[6] = {"X", "Y", "Z", "RX", "RY", "RZ"};
  std::string line = timed ? fmt::format("{:>8}", "time") : std::string();
  for (const char* name : cartesian ? kPose : kJoints) line += fmt::format("{:>{}}", name, kColumn);
  for (const char* name : {"F1", "F2", "F3"}) line += fmt::format("{:>{}}", name, kColumn);
  return line;
}

std::string Row(const Sample& s, bool cartesian, const double* time) {
  std::string line = time != nullptr ? fmt::format("{:8.2f}", *time) : std::string();
  // Joint values get three decimals; pose values, small numbers, four.
  const int decimals = cartesian ? 4 : 3;
  for (std::size_t i = 0; i < s.values.size(); ++i) {
    line += Fixed(s.values[i], kColumn, i < 6 ? decimals : 1);
  }
  return line;
}

void RunPositions(const Context& context, const PositionsOptions& o) {
  Session session(context.connect);
  const bool repeated = o.watch || o.count > 0;
  if (!repeated) {
    const Sample s = ReadSample(o.cartesian);
    if (o.json) {
      PrintJson(s.json);
    } else {
      fmt::print("{}\n{}\n", Header(o.cartesian, false), Row(s, o.cartesian, nullptr));
    }
    return;
  }
  CatchInterrupts();
  const auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / o.rate));
  const Clock::time_point start = Clock::now();
  if (!o.json) fmt::print("{}\n", Header(o.cartesian, true));
  for (long n = 0; (o.count == 0 || n < o.count) && !Interrupted(); ++n) {
    if (n > 0) std::this_thread::sleep_until(start + n * period);
    if (Interrupted()) break;
    const double t = SecondsSince(start);
    Sample s = ReadSample(o.cartesian);
    if (o.json) {
      Json line;
      line["time"] = t;
      for (auto& [key, value] : s.json.items()) line[key] = value;
      PrintJsonLine(line);
    } else {
      fmt::print("{}\n", Row(s, o.cartesian, &t));
      std::fflush(stdout);
    }
  }
}

// --- home and move ----------------------------------------------------------

// MoveHome blocks until the arm is home, so it runs on a worker thread while
// this one watches for Ctrl-C. Erasing the queue stops the arm; MoveHome's
// next queue poll finds it empty and returns.
void RunHome(const Context& context) {
  Session session(context.connect);
  CatchInterrupts();
  const Clock::time_point start = Clock::now();
  std::promise<int> result;
  std::future<int> home = result.get_future();
  std::thread worker = StartUninterrupted([&result] { result.set_value(MoveHome()); });
  int erased = 0;  // EraseAllTrajectories' last code; 0 until Ctrl-C
  Clock::time_point lastErase;
  while (home.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    if (!Interrupted() || erased > TARSEL_OK) continue;
    // Erased again until MoveHome returns: a Ctrl-C that came before the
    // home command went out would otherwise let the arm go home after all.
    if (erased == 0 || Clock::now() - lastErase > std::chrono::milliseconds(100)) {
      erased = EraseAllTrajectories();
      lastErase = Clock::now();
    }
  }
  worker.join();
  const int code = home.get();
  if (erased > TARSEL_OK) {
    throw Failure(fmt::format("interrupted, but {}; the arm may still be moving",
                              DescribeFailure("EraseAllTrajectories", erased)));
  }
  if (erased == TARSEL_OK) {
    throw Failure("interrupted: the trajectory queue was erased and the arm stopped short of home",
                  InterruptedStatus());
  }
  Check(code, "MoveHome");
  fmt::print("The arm is home ({:.1f} s); it is left in Cartesian control.\n", SecondsSince(start));
}

struct MoveOptions {
  std::vector<float> joints;
  std::vector<float> cartesian;
  std::vector<float> fingers;
  bool wait = false;
  double timeout = 60.0;
  bool takeControl = false;
};

// Polls the trajectory queue until it is empty; throws on a failed query,
// when timeout passes first, or on Ctrl-C (after emptying the queue).
void WaitForEmptyQueue(double timeout) {
  const Clock::time_point start = Clock::now();
  for (;;) {
    TrajectoryFIFO fifo{};
    Check(GetGlobalTrajectoryInfo(fifo), "GetGlobalTrajectoryInfo");
    if (fifo.PointCount == 0) return;
    if (Interrupted()) {
      // Ctrl-C means stop: the queued points are dropped, so the arm halts.
      Check(EraseAllTrajectories(), "EraseAllTrajectories");
      throw Failure("interrupted: the trajectory queue was erased and the arm stopped",
                    InterruptedStatus());
    }
    if (SecondsSince(start) > timeout) {
      throw Failure(fmt::format("the trajectory queue still holds {} point{} after {} s",
                                fifo.PointCount, fifo.PointCount == 1 ? "" : "s", timeout));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// How far from its target an arm that has settled may stand and still count
// as there: a degree a joint, a centimetre for the hand. A real arm settles
// well within both; a point out of reach leaves it much further off.
constexpr double kJointTolerance = 1.0;  // degrees
constexpr double kHandTolerance = 0.01;  // metres

// For a joint target: every joint further than the tolerance from it, as
// "A6 is at 720.000 deg, 280.000 from 1000.000"; empty when all are close.
// Judged as Arm::MoveTo judges (api/arm/arrival.h).
std::string JointsAway(const AngularInfo& reached, const AngularInfo& joints) {
  const std::array<double, 6> gaps = arrival::JointGaps(reached, joints);
  const std::array<double, 6> at = arrival::Joints(reached);
  const std::array<double, 6> to = arrival::Joints(joints);
  std::string away;
  for (std::size_t i = 0; i < 6; ++i) {
    if (!arrival::Within(gaps[i], kJointTolerance)) {
      away += fmt::format("{}A{} is at {:.3f} deg, {:.3f} from {:.3f}", away.empty() ? "" : "; ",
                          i + 1, at[i], gaps[i], to[i]);
    }
  }
  return away;
}

// For a Cartesian target: the hand's distance from the target position when
// beyond the tolerance ("the hand is 2.154 m from it"); empty otherwise.
std::string HandAway(const CartesianInfo& reached, const CartesianInfo& pose) {
  const double distance = arrival::PoseGapOf(reached, pose).millimetres / 1000.0;
  if (arrival::Within(distance, kHandTolerance)) return {};
  return fmt::format("the hand is {:.3f} m from it", distance);
}

void RunMove(const Context& context, const MoveOptions& o) {
  const bool cartesian = !o.cartesian.empty();
  TrajectoryPoint point;
  point.InitStruct();
  Session session(context.connect);
  if (o.takeControl) Check(StartControlAPI(), "StartControlAPI");

  // Without --fingers the hand keeps what it holds: the point carries the
  // fingers' present values rather than zeros, which would open them.
  FingersPosition fingers{};
  if (o.fingers.size() == 3) {
    fingers = {o.fingers[0], o.fingers[1], o.fingers[2]};
  } else {
    fingers = ReadSample(cartesian).fingers;
  }
  UserPosition& p = point.Position;
  if (cartesian) {
    p.Type = 1;  // a Cartesian position
    p.Coordinates = {o.cartesian[0], o.cartesian[1], o.cartesian[2],
                     o.cartesian[3], o.cartesian[4], o.cartesian[5]};
  } else {
    p.Type = 2;  // a joint position
    p.Actuators = {o.joints[0], o.joints[1], o.joints[2], o.joints[3], o.joints[4], o.joints[5]};
  }
  p.Fingers = fingers;
  Check(SendBasicTrajectory(point), "SendBasicTrajectory");
  if (!o.wait) {
    fmt::print("Point queued.\n");
    return;
  }
  CatchInterrupts();
  const Clock::time_point start = Clock::now();
  WaitForEmptyQueue(o.timeout);
  std::string away;
  Sample reached;
  if (cartesian) {
    CartesianPosition at{};
    Check(GetCartesianPosition(at), "GetCartesianPosition");
    away = HandAway(at.Coordinates, p.Coordinates);
    reached = SampleOf(at);
  } else {
    AngularPosition at{};
    Check(GetAngularPosition(at), "GetAngularPosition");
    away = JointsAway(at.Actuators, p.Actuators);
    reached = SampleOf(at);
  }
  fmt::print("{} ({:.1f} s).\n{}\n{}\n", away.empty() ? "Point reached" : "Point not reached",
             SecondsSince(start), Header(cartesian, false), Row(reached, cartesian, nullptr));
  if (!away.empty()) {
    throw Failure(
        fmt::format("the arm settled away from the point, which is out of reach: {}", away));
  }
}

// --- fingers ------------------------------------------------------------------

void RunFingersInit(const Context& context) {
  Session session(context.connect);
  const Clock::time_point start = Clock::now();
  Check(InitFingers(), "InitFingers");
  // InitFingers also returns 1 when it gave up after its cycle limit; the
  // quick status tells whether the fingers really came up.
  QuickStatus s{};
  Check(GetQuickStatus(s), "GetQuickStatus");
  const bool two = TwoFingerHand(s);
  const std::array<bool, 3> flags = FingersInitialised(s);
  std::string missing;
  int missingCount = 0;
  for (int f = 0; f < (two ? 2 : 3); ++f) {
    if (flags[f]) continue;
    missing += fmt::format("{}{}", missing.empty() ? "" : ", ", f + 1);
    ++missingCount;
  }
  if (missingCount > 0) {
    throw Failure(fmt::format("InitFingers gave up: {} {} did not report {} initialised",
                              missingCount == 1 ? "finger" : "fingers", missing,
                              missingCount == 1 ? "itself" : "themselves"));
  }
  fmt::print("Fingers initialised ({} fingers, {:.1f} s).\n", two ? "two" : "three",
             SecondsSince(start));
}

}  // namespace

void AddMotionCommands(CLI::App& app, const Context& context) {
  auto positions = std::make_shared<PositionsOptions>();
  CLI::App* pos = app.add_subcommand("positions", "Print the joint (or Cartesian) positions");
  pos->add_flag("--cartesian,-c", positions->cartesian,
                "The hand's Cartesian pose, not the joints");
  pos->add_flag("--watch,-w", positions->watch, "Keep printing until Ctrl-C (or --count)");
  pos->add_option("--rate,-r", positions->rate, "Samples per second when repeating")
      ->check(Between(0.01, 1000.0))
      ->capture_default_str();
  pos->add_option("--count,-n", positions->count, "Print this many samples, then stop")
      ->check(AtLeast(1));
  pos->add_flag("--json", positions->json, "Print JSON (one object a line when repeating)");
  pos->callback([&context, positions] { RunPositions(context, *positions); });

  CLI::App* home = app.add_subcommand(
      "home",
      "Move the arm home and wait until it is there (it ends in Cartesian control); "
      "Ctrl-C stops it");
  home->callback([&context] { RunHome(context); });

  auto move = std::make_shared<MoveOptions>();
  CLI::App* mv = app.add_subcommand("move", "Send one trajectory point (basic form)");
  CLI::Option_group* target = mv->add_option_group("target", "Where to go (one of)");
  target->add_option("--joints", move->joints, "Six joint angles: a1 a2 a3 a4 a5 a6")->expected(6);
  target->add_option("--cartesian", move->cartesian, "Hand pose: x y z rx ry rz")->expected(6);
  target->require_option(1);
  mv->add_option("--fingers", move->fingers,
                 "Three finger values (default: where the fingers are now)")
      ->expected(3);
  mv->add_flag("--wait", move->wait, "Wait until the trajectory queue is empty");
  mv->add_option("--timeout", move->timeout, "Seconds --wait waits at most")
      ->check(AboveZero())
      ->capture_default_str();
  mv->add_flag("--take-control", move->takeControl, "Take API control of the arm first");
  mv->callback([&context, move] { RunMove(context, *move); });

  CLI::App* fingers = app.add_subcommand("fingers", "The hand's fingers");
  fingers->require_subcommand(1);
  CLI::App* init = fingers->add_subcommand(
      "init", "Initialise the fingers from the host (takes up to about six seconds)");
  init->callback([&context] { RunFingersInit(context); });
}

}  // namespace tarsel::tool
