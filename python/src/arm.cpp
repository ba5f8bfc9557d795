// tarsel.Arm: one method per export of the API, named in snake case, each
// running the C++ interface's member of the same name with the GIL released.
// The methods of the table api/arm/exports.txt are expanded from its lists
// (arm/exports.h); the rest are written out below.
#include "arm.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "arm/exports.h"
#include "tarsel/arm.hpp"
#include "values.h"

namespace tarsel::python {

namespace {

// The stop check of the long operations, asked between their steps on the
// thread that runs them (which has released the GIL): runs Python's signal
// handlers. When one raises (KeyboardInterrupt on Ctrl-C), the exception stays
// pending on this thread and the operation stops with 2009; RunLong raises it.
int CheckSignals() {
  py::gil_scoped_acquire gil;
  if (PyErr_Occurred() != nullptr || PyErr_CheckSignals() != 0) {
    return TARSEL_ERROR_CANCELLED;
  }
  return 0;
}

// Runs a long operation with the GIL released; an exception a signal handler
// raised meanwhile is raised in place of the operation's Error(2009).
template <class Body>
void RunLong(Body&& body) {
  try {
    py::gil_scoped_release release;
    body();
  } catch (const Error&) {
    if (PyErr_Occurred() != nullptr) throw py::error_already_set();
    throw;
  }
  if (PyErr_Occurred() != nullptr) throw py::error_already_set();
}

std::chrono::milliseconds Limit(double seconds) {
  if (std::isnan(seconds) || seconds < 0) {
    throw py::value_error("timeout: expected a number of seconds, 0 or more");
  }
  constexpr double kYear = 365.0 * 24 * 3600;  // inf and the like: no limit in practice
  return std::chrono::milliseconds(
      static_cast<long long>(std::ceil(std::min(seconds, kYear) * 1000.0)));
}

Arm Open(const std::optional<ArmInfo>& info, bool simulated, int hand, double timeScale,
         int fingerPoints, const std::string& faults) {
  SimOptions options;
  const bool simulatorOptions = hand != options.hand || timeScale != options.time_scale ||
                                fingerPoints != options.finger_points || faults != options.faults;
  if (!simulated && simulatorOptions) {
    throw py::value_error("hand, time_scale, finger_points and faults need simulated=True");
  }
  if (simulated && info) throw py::value_error("give an ArmInfo or simulated=True, not both");
  options.hand = hand;
  options.time_scale = timeScale;
  options.finger_points = fingerPoints;
  options.faults = faults;
  py::gil_scoped_release release;
  Arm arm = simulated ? Arm::Simulated(options) : info ? Arm(*info) : Arm();
  arm.SetStopCheck(&CheckSignals);
  return arm;
}

// progress(pages_sent, pages_total), called with the GIL; None or a true value
// goes on, any other false value stops the transfer.
FlashProgress Progress(py::handle progress) {
  if (progress.is_none()) return {};
  if (!PyCallable_Check(progress.ptr())) {
    throw py::type_error("progress: expected a callable or None, found " + Shown(progress));
  }
  // The handle is borrowed: the caller's reference outlives the transfer, and
  // copies of the function made without the GIL touch no reference count.
  return [progress](int sent, int total) {
    py::gil_scoped_acquire gil;
    if (PyErr_Occurred() != nullptr) return false;  // an interrupt is on its way
    const py::object answer = progress(sent, total);
    if (answer.is_none()) return true;
    const int truth = PyObject_IsTrue(answer.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
  };
}

}  // namespace

void BindArm(py::module_& m) {
  const auto nogil = py::call_guard<py::gil_scoped_release>();

  m.def("list_arms", &ListArms, nogil,
        "The arms the library can reach, ordered by path: those on the USB bus, or with "
        "TARSEL_SIM=N in the environment N simulated arms. Raises Error (2002: no link library, "
        "1001: libusb cannot start).");

  py::class_<Arm> arm(m, "Arm", R"(One open connection to one arm.

Arm() opens the first arm (a simulated one when TARSEL_SIM=N is set), Arm(info)
the arm an ArmInfo from list_arms() describes, and Arm(simulated=True, hand=3,
time_scale=1.0, finger_points=5, faults="") a simulated arm of this process's
own. Use it as a context manager or call close(). Every method raises
tarsel.Error when the result code is not 1, and releases the GIL while the
library works, so other threads run meanwhile; one Arm may be used from several
threads. Ctrl-C during move_home, init_fingers or program_flash stops the
operation within a fraction of a second (a motion erases the trajectory queue)
and raises KeyboardInterrupt.)");

  arm.def(py::init(&Open), py::arg("info") = py::none(), py::kw_only(),
          py::arg("simulated") = false, py::arg("hand") = 3, py::arg("time_scale") = 1.0,
          py::arg("finger_points") = 5, py::arg("faults") = "",
          "Opens an arm. Raises Error: 2002 (no link library), 1014 (no arm, or no permission "
          "to open it), 1015 (its interface is held by another program), 2100 (simulator options "
          "out of range).");
  arm.def("close", &Arm::Close, nogil,
          "Closes the arm; a command running in another thread finishes first. Later calls raise "
          "Error(2001). Closing twice is harmless.");
  arm.def("__enter__", [](py::object self) { return self; });
  arm.def(
      "__exit__", [](Arm& a, const py::args&) { a.Close(); }, nogil);
  arm.def_property_readonly(
      "is_open", [](const Arm& a) { return a.IsOpen(); }, "True until close().");
  arm.def_property_readonly(
      "info", [](const Arm& a) { return a.Info(); }, "The ArmInfo of this arm.");
  arm.def(
      "save_recent_packets",
      [](const Arm& a, const std::filesystem::path& path) { a.SaveRecentPackets(path.string()); },
      nogil, py::arg("path"),
      "Saves the packets recently exchanged through this arm's link library (the last 4096 USB "
      "transfers of every arm it reaches in this process, oldest first) to path, a pcapng "
      "capture that Wireshark and tshark open. Does not wait for a command running in another "
      "thread and works on a closed arm too: for the packets that led to a failure or a "
      "disconnect. Raises Error: 5005 (path cannot be written: it must be a new file or a "
      "regular file on a disk), 2100 (empty path), 1016 (the link library keeps none).");
  arm.def("__repr__", [](const Arm& a) {
    return "<tarsel.Arm " + py::repr(py::str(a.Info().path)).cast<std::string>() +
           (a.IsOpen() ? " open>" : " closed>");
  });

  // --- The table's methods ------------------------------------------------------------
#define TARSEL_PY_READ(Name, python, module, Record, doc) arm.def(#python, &Arm::Name, nogil, doc);
#define TARSEL_PY_BARE(Name, python, module, doc) arm.def(#python, &Arm::Name, nogil, doc);
#define TARSEL_PY_WRITE(Name, python, module, Record, Check, doc, a, pythonA) \
  arm.def(#python, &Arm::Name, nogil, py::arg(#pythonA), doc);
#define TARSEL_PY_PAIR_WRITE(Name, python, module, Record, Check, doc, a, pythonA, b, pythonB) \
  arm.def(#python, &Arm::Name, nogil, py::arg(#pythonA), py::arg(#pythonB), doc);
  TARSEL_ARM_READS(TARSEL_PY_READ)
  TARSEL_ARM_POINTER_READS(TARSEL_PY_READ)
  TARSEL_ARM_BARE_COMMANDS(TARSEL_PY_BARE)
  TARSEL_ARM_WRITES(TARSEL_PY_WRITE)
  TARSEL_ARM_PAIR_WRITES(TARSEL_PY_PAIR_WRITE)
#undef TARSEL_PY_READ
#undef TARSEL_PY_BARE
#undef TARSEL_PY_WRITE
#undef TARSEL_PY_PAIR_WRITE

  // --- The rest -------------------------------------------------------------------------
  arm.def(
      "move_home",
      [](Arm& a, double timeout) {
        const auto limit = Limit(timeout);
        RunLong([&] { a.MoveHome(limit); });
      },
      py::arg("timeout") = 60.0,
      "Sends the arm home and waits until its trajectory queue is empty. When timeout seconds "
      "pass first, the queue is erased (the arm stops) and Error(2010) is raised; Ctrl-C stops "
      "it the same way and raises KeyboardInterrupt.");
  // One method for both kinds of point: pybind11 tries TrajectoryPoint, then
  // UserPosition.
  const char* const moveToDoc =
      "Sends point (a TrajectoryPoint or UserPosition of type 2, joint position, or 1, "
      "Cartesian position; basic form) and waits until the arm stands within tolerance of it "
      "and its queue is empty: every joint within tolerance_deg degrees, or the hand within "
      "tolerance_mm millimetres and tolerance_rad radians. Returns the position read last "
      "(AngularPosition for a joint point, CartesianPosition for a Cartesian one). Raises "
      "Error(2100) before sending a point that is not a position or holds NaN or infinity, or "
      "a negative tolerance; after timeout seconds erases the queue (the arm stops) and raises "
      "Error(2010) saying how far the arm stayed. Ctrl-C stops it the same way and raises "
      "KeyboardInterrupt.";
  const auto moveTo = [](Arm& a, const auto& point, double degrees, double millimetres,
                         double radians, double timeout) {
    const auto limit = Limit(timeout);
    MoveResult reached;
    RunLong([&] { reached = a.MoveTo(point, MoveTolerance{degrees, millimetres, radians}, limit); });
    return reached;
  };
  arm.def(
      "move_to",
      [moveTo](Arm& a, const TrajectoryPoint& p, double d, double mm, double r, double t) {
        return moveTo(a, p, d, mm, r, t);
      },
      py::arg("point"), py::kw_only(), py::arg("tolerance_deg") = 0.5,
      py::arg("tolerance_mm") = 5.0, py::arg("tolerance_rad") = 0.02, py::arg("timeout") = 30.0,
      moveToDoc);
  arm.def(
      "move_to",
      [moveTo](Arm& a, const UserPosition& p, double d, double mm, double r, double t) {
        return moveTo(a, p, d, mm, r, t);
      },
      py::arg("point"), py::kw_only(), py::arg("tolerance_deg") = 0.5,
      py::arg("tolerance_mm") = 5.0, py::arg("tolerance_rad") = 0.02, py::arg("timeout") = 30.0,
      moveToDoc);
  arm.def("set_serial_number", &Arm::SetSerialNumber, nogil, py::arg("serial"),
          "Writes the serial number: bytes or str of at most 20 bytes (Error(2100) when longer).");
  arm.def("set_model", &Arm::SetModel, nogil, py::arg("model"), py::arg("access_code"),
          "Writes the model text (at most 20 bytes), guarded by the access code.");
  arm.def("set_dev_value", &Arm::SetDevValue, nogil, py::arg("values"),
          "Writes the fourteen dev values (Error(2100) unless there are exactly 14).");
  arm.def("get_dev_value", &Arm::GetDevValue, nogil, "The fourteen dev values (list of float).");
  arm.def("set_spasm_filter_values", &Arm::SetSpasmFilterValues, nogil, py::arg("values"),
          py::arg("filter_setting"),
          "Writes the spasm filter's four values and its setting (Error(2100) unless there are "
          "exactly 4 values).");
  arm.def("get_spasm_filter_values", &Arm::GetSpasmFilterValues, nogil,
          "The spasm filter's four values and its setting (SpasmFilter).");
  arm.def("get_system_error", &Arm::GetSystemError, nogil, py::arg("index"),
          "Entry index of the error log (SystemError).");
  arm.def(
      "init_fingers",
      [](Arm& a, double timeout) {
        const auto limit = Limit(timeout);
        RunLong([&] { a.InitFingers(limit); });
      },
      py::arg("timeout") = 30.0,
      "Initialises the hand's fingers and waits until they report it (read get_quick_status() "
      "to learn which came up). When timeout seconds pass first, the queue is erased and "
      "Error(2010) is raised; Ctrl-C stops it the same way and raises KeyboardInterrupt.");
  arm.def("set_actuator_pid", &Arm::SetActuatorPID, nogil, py::arg("address"), py::arg("p"),
          py::arg("i"), py::arg("d"), "Sets the actuator's three PID gains.");
  arm.def("set_actuator_pid_filter", &Arm::SetActuatorPIDFilter, nogil, py::arg("address"),
          py::arg("filter_p"), py::arg("filter_i"), py::arg("filter_d"),
          "Sets the actuator's three PID filter values.");
  arm.def(
      "program_flash",
      [](Arm& a, const std::filesystem::path& path, const py::object& progress) {
        FlashProgress report = Progress(progress);
        RunLong([&] { a.ProgramFlash(path.string(), std::move(report)); });
      },
      py::arg("path"), py::arg("progress") = py::none(),
      "Programs the firmware image in the file at path. progress(pages_sent, pages_total) is "
      "called before the first page and after each one; returning False stops the transfer "
      "(Error(2009)), and an exception it raises stops it and is raised here. Ctrl-C stops it "
      "between pages and raises KeyboardInterrupt. A transfer that stops early leaves an "
      "incomplete image in the arm.");
}

}  // namespace tarsel::python
