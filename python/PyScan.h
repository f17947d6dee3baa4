#pragma once
// krm.scan(): the library's scan from Python, without the GIL.
#include <pybind11/pybind11.h>

namespace krm::python {

void BindScan(pybind11::module_& module);

} // namespace krm::python
