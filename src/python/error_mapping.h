#pragma once
// The one place where a core Error becomes a Python exception.

#include "result.h"

namespace lexmill::python {

// Sets the exception for `error` and throws PythonErrorSet.
[[noreturn]] void raise_core_error(const Error& error);

}  // namespace lexmill::python
