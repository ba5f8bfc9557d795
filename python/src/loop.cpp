// tarsel.ControlLoop, tarsel.LoopState, tarsel.LoopEvent,
// tarsel.LoopStatistics and the READ_* read-out bits: the C++ control loop
// (tarsel/control_loop.hpp) from Python.
//
// The loop's thread never takes the GIL: its events go to a queue that
// Python drains (events()), and no per-cycle callback is offered, since one
// would wait for the GIL every cycle. Every way a loop can end brings the arm
// to rest: stop(), leaving the with block (a KeyboardInterrupt too), the
// object's destruction, and an atexit hook for loops still running when the
// interpreter exits.
#include "loop.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "motion/motion_codec.h"
#include "record_binding.h"
#include "record_sequence.h"
#include "tarsel/arm.hpp"
#include "tarsel/control_loop.hpp"
#include "values.h"

namespace tarsel::python {

namespace {

// The most events the queue keeps between two drains; older ones go first.
constexpr std::size_t kMaxEvents = 1024;
// The longest wait_next waits without looking for Ctrl-C.
constexpr std::chrono::milliseconds kSignalSlice{50};

double Seconds(std::chrono::nanoseconds span) {
  return std::chrono::duration<double>(span).count();
}

// The shortest decimal of a number, without Python (no GIL needed).
std::string Decimal(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// A span of seconds from Python, 0 or more (ValueError names what); beyond a
// year, infinity included, it counts as a year, which is no limit in practice.
std::chrono::nanoseconds SpanFromSeconds(double seconds, const char* what) {
  if (std::isnan(seconds) || seconds < 0) {
    throw py::value_error(std::string(what) + ": expected a number of seconds, 0 or more");
  }
  constexpr double kYear = 365.0 * 24 * 3600;
  return std::chrono::nanoseconds(static_cast<long long>(std::min(seconds, kYear) * 1e9));
}

// A set-point: the record itself, or a sequence of its six numbers in field
// order (a list, a tuple, a numpy array), but not a record of another kind.
// TypeError or ValueError names the value refused; non-finite numbers pass,
// for the loop to refuse with 2100.
template <class Info>
Info SetPointFromPython(py::handle value, const std::string& where) {
  if (py::isinstance<Info>(value)) return value.cast<Info>();
  SequenceFields<Info, float> list;
  VisitFields<Info>(list);
  const std::size_t size = list.fields.size();
  // The other kind of record is six numbers too, but in the wrong units.
  const bool otherRecord = py::isinstance<AngularInfo>(value) ||
                           py::isinstance<CartesianInfo>(value) ||
                           py::isinstance<FingersPosition>(value);
  if (otherRecord || !py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value) ||
      py::isinstance<py::bytes>(value)) {
    RefuseType(where, std::string("expected a ") + RecordName<Info>() + " or a sequence of " +
                          std::to_string(size) + " numbers, found " + Shown(value));
  }
  const auto values = py::reinterpret_borrow<py::sequence>(value);
  if (values.size() != size) {
    RefuseValue(where, "expected " + std::to_string(size) + " numbers, found " +
                           std::to_string(values.size()));
  }
  Info info{};
  for (std::size_t k = 0; k < size; ++k) {
    Value<float>::Set(values[k], info.*list.fields[k].second, Join(where, list.fields[k].first));
  }
  return info;
}

const char* KindName(LoopEventKind kind) {
  switch (kind) {
    case LoopEventKind::kTransient:
      return "transient";
    case LoopEventKind::kRefused:
      return "refused";
    case LoopEventKind::kDisconnected:
      return "disconnected";
    case LoopEventKind::kReconnected:
      return "reconnected";
    case LoopEventKind::kWatchdog:
      return "watchdog";
  }
  return "unknown";
}

// What a Python loop holds. The loop is declared last so that it stops and
// goes before the queue it feeds; the arm's Python object is released only
// with the GIL held (the core is always let go of with it).
struct LoopCore {
  py::object arm;  // keeps the Arm the loop runs on alive
  double rate = 0;
  std::mutex mutex;
  std::deque<LoopEvent> events;  // guarded by mutex
  std::uint64_t dropped = 0;     // guarded by mutex: events pushed out of a full queue
  std::unique_ptr<ControlLoop> loop;
};

// The loops alive, for the atexit hook; touched only with the GIL held.
std::vector<std::weak_ptr<LoopCore>>& LiveLoops() {
  static auto* live = new std::vector<std::weak_ptr<LoopCore>>;  // outlives static destruction
  return *live;
}

// Stops every loop still running; called with the GIL by atexit. A loop
// whose Python object another thread drops meanwhile stays whole: the shared
// pointers taken here hold it.
void StopAllLoops() {
  std::vector<std::shared_ptr<LoopCore>> running;
  for (const auto& weak : LiveLoops()) {
    if (auto core = weak.lock()) running.push_back(std::move(core));
  }
  {
    py::gil_scoped_release release;
    for (const auto& core : running) core->loop->Stop();
  }
}

class PyControlLoop {
 public:
  PyControlLoop(py::object arm, LoopOptions options) : core_(std::make_shared<LoopCore>()) {
    Arm& target = arm.cast<Arm&>();
    core_->arm = std::move(arm);
    core_->rate = options.rate;
    // Kept from the first cycle on, so its events are not missed.
    options.onEvent = [core = core_.get()](const LoopEvent& event) {
      const std::lock_guard<std::mutex> lock(core->mutex);
      if (core->events.size() == kMaxEvents) {
        core->events.pop_front();
        ++core->dropped;
      }
      core->events.push_back(event);
    };
    {
      py::gil_scoped_release release;
      core_->loop = std::make_unique<ControlLoop>(target, options);
    }
    auto& live = LiveLoops();
    live.erase(std::remove_if(live.begin(), live.end(), [](const auto& w) { return w.expired(); }),
               live.end());
    live.push_back(core_);
  }

  // Python's object is gone (the GIL is held): the arm comes to rest first.
  ~PyControlLoop() {
    if (core_->loop->Running()) {
      py::gil_scoped_release release;
      core_->loop->Stop();
    }
  }

  PyControlLoop(const PyControlLoop&) = delete;
  PyControlLoop& operator=(const PyControlLoop&) = delete;

  ControlLoop& loop() { return *core_->loop; }
  const LoopCore& core() const { return *core_; }

  void Stop() {
    py::gil_scoped_release release;
    core_->loop->Stop();
  }

  // WaitNext in slices, looking for Ctrl-C between them with the GIL held.
  LoopState WaitNext(std::optional<std::uint64_t> after, double timeout) {
    const auto limit = SpanFromSeconds(timeout, "timeout");
    const std::uint64_t newerThan = after ? *after : core_->loop->Latest().sequence;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      {
        py::gil_scoped_release release;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const bool last = left <= kSignalSlice;
        try {
          return core_->loop->WaitNext(
              newerThan, last ? std::max(left, std::chrono::milliseconds(0)) : kSignalSlice);
        } catch (const Error& e) {
          if (e.code() != TARSEL_ERROR_TIME_LIMIT) throw;
          // The last slice's own message would give the slice, not the wait.
          if (last) {
            throw Error(TARSEL_ERROR_TIME_LIMIT, e.where(),
                        "no cycle after " + std::to_string(newerThan) + " within " +
                            Decimal(timeout) + " s");
          }
        }
      }
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
  }

  py::list DrainEvents() {
    std::deque<LoopEvent> drained;
    {
      const std::lock_guard<std::mutex> lock(core_->mutex);
      drained.swap(core_->events);
    }
    py::list events;
    for (LoopEvent& event : drained) events.append(py::cast(std::move(event)));
    return events;
  }

  std::uint64_t Dropped() const {
    const std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->dropped;
  }

 private:
  std::shared_ptr<LoopCore> core_;
};

// A record of the state, live in the state's Python object, or None when
// the cycle did not read it.
template <class Record>
py::object ReadOut(py::object self, Record LoopState::*member, unsigned bit) {
  LoopState& state = self.cast<LoopState&>();
  if ((state.readouts & bit) == 0) return py::none();
  return py::cast(&(state.*member), py::return_value_policy::reference_internal, self);
}

// The figures' names, in the order of the record.
struct Figure {
  const char* name;
  py::object (*get)(const LoopStatistics&);
};

#define TARSEL_FIGURE(name, member)                                                \
  Figure {                                                                         \
    name, [](const LoopStatistics& s) -> py::object { return py::cast(s.member); } \
  }
const Figure kFigures[] = {
    TARSEL_FIGURE("cycles", cycles),
    TARSEL_FIGURE("missed", missed),
    TARSEL_FIGURE("rate", rate),
    TARSEL_FIGURE("jitter", jitter),
    TARSEL_FIGURE("period_p50", periodP50),
    TARSEL_FIGURE("period_p99", periodP99),
    TARSEL_FIGURE("period_max", periodMax),
    TARSEL_FIGURE("exchange_p50", exchangeP50),
    TARSEL_FIGURE("exchange_p99", exchangeP99),
    TARSEL_FIGURE("exchange_max", exchangeMax),
    TARSEL_FIGURE("transient", transient),
    TARSEL_FIGURE("refused", refused),
    TARSEL_FIGURE("disconnected", disconnected),
    TARSEL_FIGURE("reconnected", reconnected),
    TARSEL_FIGURE("watchdog", watchdog),
};
#undef TARSEL_FIGURE

void BindState(py::module_& m) {
  py::class_<LoopState> state(m, "LoopState", R"(One cycle of a ControlLoop, as it was read.

time is the host's monotonic clock (the clock of time.monotonic()) in seconds
when the cycle's first exchange began; exchange how long its exchanges took,
in seconds. Each cycle reads joints, and velocities, forces, pose and status
when the loop's readouts name them; a read-out the cycle did not read (or
failed to) is None, and readouts holds the READ_* bits of those it did.)");
  state.def_property_readonly(
      "sequence", [](const LoopState& s) { return s.sequence; },
      "The cycle's number, counted from 1; 0 before the first cycle.");
  state.def_property_readonly(
      "time", [](const LoopState& s) { return Seconds(s.time.time_since_epoch()); },
      "When the cycle began: seconds on the clock of time.monotonic().");
  state.def_property_readonly(
      "exchange", [](const LoopState& s) { return Seconds(s.exchange); },
      "How long the cycle's exchanges took, in seconds.");
  state.def_property_readonly(
      "ok", [](const LoopState& s) { return s.ok; },
      "True when every exchange of the cycle succeeded.");
  state.def_property_readonly(
      "readouts", [](const LoopState& s) { return s.readouts; },
      "The READ_* bits whose read-outs this cycle holds.");
  state.def_property_readonly(
      "joints",
      [](py::object self) { return ReadOut(std::move(self), &LoopState::joints, kReadJoints); },
      "Joint angles (degrees) and finger positions (AngularPosition); None when the cycle "
      "could not read them.");
  state.def_property_readonly(
      "velocities",
      [](py::object self) {
        return ReadOut(std::move(self), &LoopState::velocities, kReadVelocities);
      },
      "Joint velocities in degrees per second (AngularPosition), with READ_VELOCITIES.");
  state.def_property_readonly(
      "forces",
      [](py::object self) { return ReadOut(std::move(self), &LoopState::forces, kReadForces); },
      "Joint torques in newton metres (AngularPosition), with READ_FORCES.");
  state.def_property_readonly(
      "pose",
      [](py::object self) { return ReadOut(std::move(self), &LoopState::pose, kReadCartesian); },
      "The hand's pose in metres and radians (CartesianPosition), with READ_CARTESIAN.");
  state.def_property_readonly(
      "status",
      [](py::object self) {
        return ReadOut(std::move(self), &LoopState::status, kReadQuickStatus);
      },
      "The status bytes (QuickStatus), with READ_QUICK_STATUS.");
  state.def("__repr__", [](const LoopState& s) {
    return "<tarsel.LoopState sequence=" + std::to_string(s.sequence) +
           (s.ok ? " ok>" : " failed>");
  });

  py::class_<LoopEvent> event(m, "LoopEvent", R"(Something that happened to a loop's link.

kind is "transient" (one exchange failed; the loop carries on), "refused" (the
arm refused a command), "disconnected" (answers stopped or the arm is gone),
"reconnected" (the arm is back; the set-point is zero) or "watchdog" (the
velocity set-point was not renewed in time: zero velocity was sent). code is
the result code behind it (1 for reconnected and watchdog), sequence the cycle.)");
  event.def_property_readonly(
      "kind", [](const LoopEvent& e) { return KindName(e.kind); },
      "What happened (see the class).");
  event.def_property_readonly(
      "code", [](const LoopEvent& e) { return e.code; }, "The result code behind it.");
  event.def_property_readonly(
      "sequence", [](const LoopEvent& e) { return e.sequence; }, "The cycle it happened in.");
  event.def_property_readonly(
      "time", [](const LoopEvent& e) { return Seconds(e.time.time_since_epoch()); },
      "When the loop noticed it: seconds on the clock of time.monotonic().");
  event.def_property_readonly(
      "message", [](const LoopEvent& e) { return e.message; }, "What happened, in words.");
  event.def("__repr__", [](const LoopEvent& e) {
    return std::string("<tarsel.LoopEvent ") + KindName(e.kind) +
           " code=" + std::to_string(e.code) + " sequence=" + std::to_string(e.sequence) + ">";
  });

  py::class_<LoopStatistics> statistics(m, "LoopStatistics", R"(A loop's figures since it started.

Times in seconds. The period is the time between the starts of successive
cycles; jitter the mean of |period - 1/rate|; missed counts the cycle starts
skipped because a cycle overran; the last five count the loop's events by
kind. to_dict() gives them all.)");
  for (const Figure& figure : kFigures) {
    statistics.def_property_readonly(figure.name, figure.get);
  }
  statistics.def(
      "to_dict",
      [](const LoopStatistics& s) {
        py::dict figures;
        for (const Figure& figure : kFigures) figures[figure.name] = figure.get(s);
        return figures;
      },
      "The figures as a dict, in the order of the class.");
  statistics.def("__repr__", [](const LoopStatistics& s) {
    std::string text;
    for (const Figure& figure : kFigures) {
      text += (text.empty() ? "" : ", ") + std::string(figure.name) + "=" +
              py::repr(figure.get(s)).cast<std::string>();
    }
    return "LoopStatistics(" + text + ")";
  });
}

}  // namespace

void BindLoop(py::module_& m) {
  m.attr("READ_VELOCITIES") = static_cast<unsigned>(kReadVelocities);
  m.attr("READ_FORCES") = static_cast<unsigned>(kReadForces);
  m.attr("READ_CARTESIAN") = static_cast<unsigned>(kReadCartesian);
  m.attr("READ_QUICK_STATUS") = static_cast<unsigned>(kReadQuickStatus);
  m.attr("READ_JOINTS") = static_cast<unsigned>(kReadJoints);
  BindState(m);

  py::class_<PyControlLoop> loop(m, "ControlLoop", R"(A thread of its own that reads the arm's
state and sends the latest set-point at a fixed rate.

    with tarsel.ControlLoop(arm, rate=100, readouts=tarsel.READ_VELOCITIES) as loop:
        state = loop.latest()
        while ...:
            loop.set_joint_velocity([5, 0, 0, 0, 0, 0])   # deg/s, renewed in time
            state = loop.wait_next(state.sequence)

A velocity set-point is sent every cycle and must be renewed within the
watchdog's time, or the loop sends zero velocity; a position set-point is sent
once each time it changes. Other threads may use the arm meanwhile: their
commands run between cycles. The loop stops, bringing the arm to rest (zero
velocity, the trajectory queue erased), on stop(), on leaving the with block
(Ctrl-C too), when the object goes, and at the interpreter's exit. The loop's
thread never takes the GIL.)");

  loop.def(py::init([](py::object arm, double rate, unsigned readouts,
                       std::optional<double> watchdog, float maxJointSpeed, float maxLinearSpeed,
                       float maxAngularSpeed, bool reconnect, std::string traceOnDisconnect) {
             if (!py::isinstance<Arm>(arm)) {
               throw py::type_error("arm: expected a tarsel.Arm, found " + Shown(arm));
             }
             LoopOptions options;
             options.rate = rate;
             options.readouts = readouts;
             options.watchdog = SpanFromSeconds(watchdog.value_or(0.0), "watchdog");
             options.maxJointSpeed = maxJointSpeed;
             options.maxLinearSpeed = maxLinearSpeed;
             options.maxAngularSpeed = maxAngularSpeed;
             options.reconnect = reconnect;
             options.traceOnDisconnect = std::move(traceOnDisconnect);
             return std::make_unique<PyControlLoop>(std::move(arm), options);
           }),
           py::arg("arm"), py::kw_only(), py::arg("rate") = 100.0, py::arg("readouts") = 0u,
           py::arg("watchdog") = py::none(), py::arg("max_joint_speed") = 25.0f,
           py::arg("max_linear_speed") = 0.15f, py::arg("max_angular_speed") = 0.6f,
           py::arg("reconnect") = true, py::arg("trace_on_disconnect") = "",
           "Starts a loop on arm: rate cycles per second (at most 1000); readouts the READ_* bits "
           "read each cycle besides the joint angles; watchdog the seconds a velocity set-point "
           "lasts unless renewed (None or 0: three periods); velocities beyond max_joint_speed "
           "(deg/s), max_linear_speed (m/s) or max_angular_speed (rad/s) are refused; reconnect "
           "reopens the arm when it returns after a disconnect; trace_on_disconnect, when not "
           "empty, a file the recent packets are saved to (pcapng) on a disconnect. Raises "
           "Error: 2100 (an option out of range, named), 2001 (the arm is closed).");
  loop.def("__enter__", [](py::object self) { return self; });
  loop.def(
      "__exit__", [](PyControlLoop& l, const py::args&) { l.Stop(); },
      "Stops the loop, whatever ended the block.");
  loop.def("stop", &PyControlLoop::Stop,
           "Ends the loop and brings the arm to rest (zero velocity, then the trajectory queue "
           "erased); returns when done. Calling it again does nothing.");
  loop.def_property_readonly(
      "running", [](PyControlLoop& l) { return l.loop().Running(); }, "False once stopped.");
  loop.def(
      "latest", [](PyControlLoop& l) { return l.loop().Latest(); },
      "The latest cycle's state (LoopState; sequence 0 before the first cycle), without waiting.");
  loop.def("wait_next", &PyControlLoop::WaitNext, py::arg("after") = py::none(),
           py::arg("timeout") = 1.0,
           "Waits for a cycle newer than the sequence after (None: the latest now) and returns "
           "its LoopState. Raises Error(2010) when timeout seconds pass first, Error(2001) when "
           "the loop stops; Ctrl-C raises KeyboardInterrupt within 50 ms.");
  loop.def(
      "set_joint_velocity",
      [](PyControlLoop& l, py::handle v) {
        l.loop().SetJointVelocity(SetPointFromPython<AngularInfo>(v, "velocity"));
      },
      py::arg("velocity"),
      "Joint velocities in deg/s (an AngularInfo or six numbers), sent every cycle until "
      "replaced; renew it within the watchdog's time. Raises Error(2100) for a non-finite value "
      "or one beyond max_joint_speed (the set-point stays as it was).");
  loop.def(
      "set_cartesian_velocity",
      [](PyControlLoop& l, py::handle v) {
        l.loop().SetCartesianVelocity(SetPointFromPython<CartesianInfo>(v, "velocity"));
      },
      py::arg("velocity"),
      "The hand's velocity in m/s and rad/s (a CartesianInfo or six numbers), sent every cycle "
      "until replaced; renew it within the watchdog's time. Raises Error(2100) for a non-finite "
      "value or one beyond max_linear_speed or max_angular_speed.");
  loop.def(
      "set_joint_position",
      [](PyControlLoop& l, py::handle v) {
        l.loop().SetJointPosition(SetPointFromPython<AngularInfo>(v, "angles"));
      },
      py::arg("angles"),
      "Joint angles in degrees (an AngularInfo or six numbers), queued on the arm once. Raises "
      "Error(2100) for a non-finite value.");
  loop.def(
      "set_cartesian_position",
      [](PyControlLoop& l, py::handle v) {
        l.loop().SetCartesianPosition(SetPointFromPython<CartesianInfo>(v, "pose"));
      },
      py::arg("pose"),
      "The hand's pose in metres and radians (a CartesianInfo or six numbers), queued on the "
      "arm once. Raises Error(2100) for a non-finite value.");
  loop.def(
      "hold", [](PyControlLoop& l) { l.loop().Hold(); },
      "Drops the set-point: the loop sends zero velocity.");
  loop.def("events", &PyControlLoop::DrainEvents,
           "The LoopEvents since the last call, oldest first (the queue keeps the latest 1024; "
           "dropped_events counts those it let go).");
  loop.def_property_readonly("dropped_events", &PyControlLoop::Dropped,
                             "Events the queue let go because events() was not called in time.");
  loop.def(
      "statistics", [](PyControlLoop& l) { return l.loop().Statistics(); },
      "The figures since the loop started or since reset_statistics() (LoopStatistics).");
  loop.def(
      "reset_statistics", [](PyControlLoop& l) { l.loop().ResetStatistics(); },
      "Starts the figures afresh.");
  loop.def("__repr__", [](PyControlLoop& l) {
    return "<tarsel.ControlLoop " + py::repr(py::float_(l.core().rate)).cast<std::string>() +
           " Hz" + (l.loop().Running() ? " running>" : " stopped>");
  });

  py::module_::import("atexit").attr("register")(py::cpp_function(&StopAllLoops));
}

}  // namespace tarsel::python
