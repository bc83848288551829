#pragma once
// The boundary between the interpreter and our C++ code. Every entry point the
// interpreter can call (methods, property getters, constructors, slots,
// deallocation, module initialisation) runs its body inside one of these
// guards, so no C++ exception ever unwinds into the interpreter.

#include <Python.h>

#include <exception>
#include <new>

#include "python/panic_exception.h"
#include "python/python_error.h"

namespace lexmill::python {

namespace detail {

inline void require_pending_exception() noexcept {
    if (PyErr_Occurred() == nullptr) raise_panic("a call failed without setting an exception");
}

// Leaves the matching Python exception pending for the exception in flight.
inline void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonErrorSet&) {
        require_pending_exception();
    } catch (const std::bad_alloc&) {
        // Running out of memory breaks no invariant of ours: the caller sees the
        // same MemoryError the interpreter raises when its own allocations fail.
        PyErr_NoMemory();
    } catch (const std::exception& failure) {
        raise_panic(failure.what());
    } catch (...) {
        raise_panic(nullptr);
    }
}

}  // namespace detail

// For entry points that return a new reference, or null with an exception set.
// Always inlined: it wraps every call, whose cost is mostly this layer's.
template <typename Body>
[[gnu::always_inline]] inline PyObject* guard_call(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        detail::translate_current_exception();
        return nullptr;
    }
}

// For entry points that cannot report failure (deallocation): the failure is
// reported as unraisable, leaving any exception pending before it untouched.
template <typename Body>
void guard_unraisable(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        detail::translate_current_exception();
        // No object is named: the one being destroyed can no longer be shown.
        PyErr_WriteUnraisable(nullptr);
        PyErr_Restore(type, value, traceback);
    }
}

}  // namespace lexmill::python
