#include "python/error_mapping.h"

#include <Python.h>

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
    }
    internal_failure("error of unknown kind");
}

}  // namespace

void raise_core_error(const Error& error) {
    const ExceptionChoice choice = choose_exception(error.kind);
    const std::string message = choice.prefix + error.message;
    PyRef text = checked(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    // A fresh instance built from the message alone: OSError gets no errno or
    // filename, and no subclass is chosen for it.
    PyRef exception = checked(PyObject_CallFunctionObjArgs(choice.exception_class, text.get(), nullptr));
    PyErr_SetObject(choice.exception_class, exception.get());
    throw_python_error();
}

}  // namespace lexmill::python
