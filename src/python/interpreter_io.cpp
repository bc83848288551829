#include "python/interpreter_io.h"

#include "python/py_ref.h"
#include "python/python_error.h"

namespace lexmill::python {

void flush_stream_beneath(const std::string& path) {
    const int fd = OutputFile::process_descriptor(path);
    const char* name = fd == 1 ? "stdout" : fd == 2 ? "stderr" : nullptr;
    if (name == nullptr) return;
    PyObject* stream = PySys_GetObject(name);  // borrowed; absent or None without a console
    if (stream == nullptr || stream == Py_None) return;
    // A stream that cannot flush is no reason not to save; the save reports
    // its own failure.
    PyRef flushed = PyRef::steal(PyObject_CallMethod(stream, "flush", nullptr));
    if (!flushed) discard_ordinary_exception();
}

}  // namespace lexmill::python
