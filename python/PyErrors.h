#pragma once
// The module's exception classes (krm.Error and its subclasses) and the
// translation of the C++ library's exceptions into them, fields included.
#include <pybind11/pybind11.h>

namespace krm::python {

// Creates the exception classes in `module` and registers the translator.
void BindErrors(pybind11::module_& module);

// Raises the pending Python error (a KeyboardInterrupt the interrupt check
// took from a signal handler) as pybind11::error_already_set, if one is set.
// Called with the GIL held after a call that ran without it.
void ThrowPendingPythonError();

} // namespace krm::python
