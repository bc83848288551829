#pragma once
// Unwinding out of binding code once a Python exception has been set.
//
// A C API call that fails leaves its exception in the interpreter's error
// indicator; throwing PythonErrorSet carries the failure up through our own
// C++ frames to the call guard, which returns the C API's failure value and
// leaves the indicator as it is. It never crosses into the interpreter.

#include <Python.h>

#include "python/py_ref.h"

namespace lexmill::python {

struct PythonErrorSet {};

[[noreturn]] inline void throw_python_error() { throw PythonErrorSet{}; }

// The new reference a C API call returned; a null result means the call failed
// with an exception set.
inline PyRef checked(PyObject* new_reference) {
    if (new_reference == nullptr) throw_python_error();
    return PyRef::steal(new_reference);
}

// For C API calls that report failure as -1 with an exception set.
inline void check_status(int status) {
    if (status < 0) throw_python_error();
}

// Drops the pending exception where an ordinary failure may be ignored. What
// is no ordinary failure (KeyboardInterrupt, SystemExit, MemoryError, any
// BaseException that is no Exception) is never dropped: it stays pending and
// PythonErrorSet carries it to the caller.
inline void discard_ordinary_exception() {
    if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) throw_python_error();
    PyErr_Clear();
}

// The exception in the error indicator, taken out of it and normalized, with
// each part owned; all empty when none is set. restore() puts it back.
struct PendingException {
    PyRef type;
    PyRef value;
    PyRef traceback;

    static PendingException take() {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        return {PyRef::steal(type), PyRef::steal(value), PyRef::steal(traceback)};
    }

    void restore() { PyErr_Restore(type.release(), value.release(), traceback.release()); }
};

}  // namespace lexmill::python
