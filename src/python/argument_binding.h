#pragma once
// Binding the positional and keyword arguments of a call to named parameters.

#include <Python.h>

#include <cstdint>
#include <span>

#include "python/py_ref.h"

namespace lexmill::python {

struct Param {
    const char* name;
    bool required;
    // Used when an optional count or ID parameter is left unfilled; optional
    // text lists default to absent, flags to false.
    uint64_t default_value;
    // Accepted by keyword only; such parameters come after all others.
    bool keyword_only = false;
};

constexpr Param required(const char* name) { return {name, true, 0}; }
constexpr Param optional(const char* name, uint64_t default_value = 0) { return {name, false, default_value}; }
constexpr Param keyword_only(const char* name) { return {name, false, 0, true}; }

// Fills `slots` (one per parameter, in order) with the bound arguments, leaving
// unfilled optional ones empty. Strong references, because conversion can run
// Python code that changes a caller's keyword dict. On a binding error raises
// TypeError naming `qualified_name` ("Lexmill.save()") and throws PythonErrorSet.
void bind_arguments(const char* qualified_name, std::span<const Param> params, PyObject* args,
                    PyObject* kwargs, std::span<PyRef> slots);

}  // namespace lexmill::python
