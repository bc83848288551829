#pragma once
// The Lexmill class: an editor opened from a file or from JSON text.

#include "python/python_class.h"

namespace lexmill::python {

extern const PythonClass lexmill_class;

}  // namespace lexmill::python
