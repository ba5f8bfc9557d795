// tarsel.Arm and tarsel.list_arms().
#pragma once

#include <pybind11/pybind11.h>


namespace tarsel::python {

void BindArm(pybind11::module_& m);

}  // namespace tarsel::python
