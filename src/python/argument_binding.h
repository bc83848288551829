#pragma once
// Binding the positional and keyword arguments of a call to named parameters.

#include <Python.h>

#include <span>

#include "python/parameters.h"
#include "python/py_ref.h"

namespace lexmill::python {

// A call as binding messages name it: "Lexmill.save()".
struct CallName {
    const char* class_name;
    const char* method_name;
};

// Fills `slots` (one per parameter, in order) with the bound arguments, leaving
// unfilled optional ones empty. Strong references, because conversion can run
// Python code that changes a caller's keyword dict. On a binding error raises
// TypeError and throws PythonErrorSet.
void bind_arguments(CallName name, const Params& params, PyObject* args, PyObject* kwargs, std::span<PyRef> slots);

}  // namespace lexmill::python
