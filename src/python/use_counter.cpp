#include "python/use_counter.h"

#include <Python.h>

#include "python/call_messages.h"
#include "python/python_error.h"

namespace lexmill::python {

void Use::refuse(UseKind kind) {
    PyErr_SetString(PyExc_RuntimeError, kind == UseKind::exclusive ? messages::kInUse : messages::kInExclusiveUse);
    throw_python_error();
}

}  // namespace lexmill::python
