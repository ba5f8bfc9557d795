// The extension module tarsel._tarsel, which the package tarsel re-exports.
#include <pybind11/pybind11.h>

#include <exception>

#include "arm.h"
#include "loop.h"
#include "records.h"
#include "tarsel/arm.hpp"

namespace py = pybind11;

namespace {

// tarsel.Error, defined in tarsel/_error.py; held for the life of the process.
PyObject* g_errorType = nullptr;

struct NamedValue {
  const char* name;
  int value;
};

// The result codes, under their C names without the TARSEL_ / TARSEL_ERROR_ prefix.
constexpr NamedValue kResults[] = {
    {"OK", TARSEL_OK},
    {"USB_INIT", TARSEL_ERROR_USB_INIT},
    {"NO_INIT_COMM", TARSEL_ERROR_NO_INIT_COMM},
    {"NO_GET_DEVICE_COUNT", TARSEL_ERROR_NO_GET_DEVICE_COUNT},
    {"NO_SEND_PACKET", TARSEL_ERROR_NO_SEND_PACKET},
    {"NO_CLOSE_COMM", TARSEL_ERROR_NO_CLOSE_COMM},
    {"NO_ARM", TARSEL_ERROR_NO_ARM},
    {"CLAIM_FAILED", TARSEL_ERROR_CLAIM_FAILED},
    {"NO_RECENT_PACKETS", TARSEL_ERROR_NO_RECENT_PACKETS},
    {"NOT_INITIALIZED", TARSEL_ERROR_NOT_INITIALIZED},
    {"LOAD_COMM_LAYER", TARSEL_ERROR_LOAD_COMM_LAYER},
    {"FIRST_PACKET", TARSEL_ERROR_FIRST_PACKET},
    {"ANSWER_ERROR_BIT", TARSEL_ERROR_ANSWER_ERROR_BIT},
    {"LATER_PACKET", TARSEL_ERROR_LATER_PACKET},
    {"PAYLOAD_TOO_LARGE", TARSEL_ERROR_PAYLOAD_TOO_LARGE},
    {"BAD_ANSWER_SIZE", TARSEL_ERROR_BAD_ANSWER_SIZE},
    {"NO_ANSWER", TARSEL_ERROR_NO_ANSWER},
    {"CANCELLED", TARSEL_ERROR_CANCELLED},
    {"TIME_LIMIT", TARSEL_ERROR_TIME_LIMIT},
    {"ARGUMENT", TARSEL_ERROR_ARGUMENT},
    {"FILE_OPEN", TARSEL_ERROR_FILE_OPEN},
    {"NO_MEMORY", TARSEL_ERROR_NO_MEMORY},
    {"FILE_READ", TARSEL_ERROR_FILE_READ},
    {"IMAGE_TOO_LARGE", TARSEL_ERROR_IMAGE_TOO_LARGE},
    {"FILE_WRITE", TARSEL_ERROR_FILE_WRITE},
};

// Point types, control types and hand types, under their C names without the
// TARSEL_ prefix. Plain ints, as the records' fields and get_control_type give
// them back.
constexpr NamedValue kKinds[] = {
    {"CARTESIAN_POSITION", TARSEL_CARTESIAN_POSITION},
    {"ANGULAR_POSITION", TARSEL_ANGULAR_POSITION},
    {"CARTESIAN_VELOCITY", TARSEL_CARTESIAN_VELOCITY},
    {"ANGULAR_VELOCITY", TARSEL_ANGULAR_VELOCITY},
    {"CARTESIAN_CONTROL", TARSEL_CARTESIAN_CONTROL},
    {"ANGULAR_CONTROL", TARSEL_ANGULAR_CONTROL},
    {"HAND_THREE_FINGERS", TARSEL_HAND_THREE_FINGERS},
    {"HAND_TWO_FINGERS", TARSEL_HAND_TWO_FINGERS},
};

}  // namespace

PYBIND11_MODULE(_tarsel, m) {
  m.doc() = "The extension behind the tarsel package; import tarsel instead.";
  m.attr("__version__") = TARSEL_VERSION;

  py::object error = py::module_::import("tarsel._error").attr("Error");
  g_errorType = error.inc_ref().ptr();
  m.attr("Error") = error;
  py::register_local_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const tarsel::Error& e) {
      const py::object instance =
          py::reinterpret_borrow<py::object>(g_errorType)(e.code(), e.where(), e.what());
      PyErr_SetObject(g_errorType, instance.ptr());
    }
  });

  for (const NamedValue& result : kResults) m.attr(result.name) = result.value;
  for (const NamedValue& kind : kKinds) m.attr(kind.name) = kind.value;
  m.def("result_message", &GetResultMessage, py::arg("code"),
        py::call_guard<py::gil_scoped_release>(),
        "A short English description of a result code (\"unknown result code\" for others).");

  tarsel::python::BindRecords(m);
  tarsel::python::BindArm(m);
  tarsel::python::BindLoop(m);
}
