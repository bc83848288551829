#include "python/error_mapping.h"

#include <Python.h>

#include <cstring>
#include <string>

#include "python/py_ref.h"
#include "python/python_error.h"

namespace lexmill::python {

namespace {

struct ExceptionChoice {
    PyObject* exception_class;
    const char* prefix;
};

ExceptionChoice choose_exception(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::load: return {PyExc_OSError, "Failed to load tokenizer: "};
        case ErrorKind::source_load: return {PyExc_OSError, "Failed to load source tokenizer: "};
        case ErrorKind::json: return {PyExc_ValueError, "Failed to parse JSON: "};
        case ErrorKind::unsupported_model: return {PyExc_ValueError, ""};
        case ErrorKind::save: return {PyExc_OSError, "Failed to save tokenizer: "};
        case ErrorKind::serialize: return {PyExc_ValueError, "Failed to serialize: "};
        case ErrorKind::merge: return {PyExc_ValueError, "Failed to merge tokenizer: "};
        case ErrorKind::spelling: return {PyExc_ValueError, ""};
        case ErrorKind::interrupted: break;
    }
    internal_failure("error of unknown kind");
}

// The operating system's reason, as the OSError (of the subclass for its
// error number, as open() raises it) that becomes the cause of the error.
PyRef os_reason(int os_error) {
    return checked(PyObject_CallFunction(PyExc_OSError, "is", os_error, std::strerror(os_error)));
}

}  // namespace

void raise_core_error(const Error& error) {
    // A file operation stopped because a signal handler raised: that
    // exception, still pending, is the call's outcome.
    if (error.kind == ErrorKind::interrupted) {
        if (PyErr_Occurred() == nullptr) internal_failure("file operation interrupted without an exception");
        throw_python_error();
    }
    ExceptionChoice choice = choose_exception(error.kind);
    PyRef cause;
    if (error.os_error != 0 && choice.exception_class == PyExc_OSError) {
        cause = os_reason(error.os_error);
        choice.exception_class = reinterpret_cast<PyObject*>(Py_TYPE(cause.get()));
    }
    const std::string message = choice.prefix + error.message;
    PyRef text = checked(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    // A fresh instance built from the message alone: the OSError gets no errno
    // or filename; the system's reason, where there is one, is its cause.
    PyRef exception = checked(PyObject_CallFunctionObjArgs(choice.exception_class, text.get(), nullptr));
    if (cause) PyException_SetCause(exception.get(), cause.release());
    PyErr_SetObject(choice.exception_class, exception.get());
    throw_python_error();
}

}  // namespace lexmill::python
