// tarsel.ControlLoop, its state, events and figures, and the READ_* bits.
#pragma once

#include <pybind11/pybind11.h>

namespace tarsel::python {

void BindLoop(pybind11::module_& m);

}  // namespace tarsel::python
