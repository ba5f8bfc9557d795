// The API's records as Python classes (field lists in records.cpp).
#pragma once

#include <pybind11/pybind11.h>

namespace tarsel::python {

void BindRecords(pybind11::module_& m);

}  // namespace tarsel::python
