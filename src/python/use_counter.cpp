#include "python/use_counter.h"

#include <Python.h>

#include "python/python_error.h"

namespace lexmill::python {

Use::Use(UseCounter& counter, UseKind kind) : counter_(counter), kind_(kind) {
    switch (kind) {
        case UseKind::none:
            break;
        case UseKind::shared:
            if (counter.state == UseCounter::kExclusive) {
                PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
                throw_python_error();
            }
            ++counter.state;
            break;
        case UseKind::exclusive:
            if (counter.state != 0) {
                PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
                throw_python_error();
            }
            counter.state = UseCounter::kExclusive;
            break;
    }
}

Use::~Use() {
    switch (kind_) {
        case UseKind::none: break;
        case UseKind::shared: --counter_.state; break;
        case UseKind::exclusive: counter_.state = 0; break;
    }
}

}  // namespace lexmill::python
