#include "python/panic_exception.h"

#include <Python.h>

#include <cstring>

#include "python/py_ref.h"
#include "python/python_error.h"

namespace lexmill::python {

namespace {

constexpr const char* kGenericMessage = "lexmill met a broken internal invariant";

// Created on first use and kept for the life of the process, like the classes:
// the module keeps no per-interpreter state.
PyObject* panic_exception_class() noexcept {
    static PyObject* created = nullptr;
    if (created == nullptr) {
        created = PyErr_NewExceptionWithDoc(
            "lexmill.PanicException",
            "Raised when lexmill meets a broken internal invariant. The editor is not "
            "rolled back: whatever the failed call changed stays changed.",
            PyExc_BaseException, nullptr);
    }
    return created;
}

}  // namespace

void raise_panic(const char* message) noexcept {
    const char* text = message != nullptr && *message != '\0' ? message : kGenericMessage;

    PendingException taken = PendingException::take();
    PyRef& pending = taken.value;
    if (pending && taken.traceback) PyException_SetTraceback(pending.get(), taken.traceback.get());

    PyObject* panic_class = panic_exception_class();
    if (panic_class == nullptr) return;
    // The message comes from C++ code and is not promised to be UTF-8.
    PyRef text_object = PyRef::steal(PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace"));
    if (!text_object) return;
    PyRef panic = PyRef::steal(PyObject_CallFunctionObjArgs(panic_class, text_object.get(), nullptr));
    if (!panic) return;
    if (pending) PyException_SetContext(panic.get(), pending.release());
    PyErr_SetObject(panic_class, panic.get());
}

}  // namespace lexmill::python
