#pragma once
// A method of the Lexmill class is one row of its method table: its name, the
// function it runs, its parameters and its docstring. Every row, property
// and slot runs the same call sequence: bind the arguments, take the use of
// the editor, convert the arguments in parameter order, run the function,
// release the use. The function converts its outcome into a Python object
// itself, and the use is held until it has.

#include <Python.h>

#include <array>
#include <cstddef>
#include <iterator>
#include <span>
#include <utility>
#include <vector>

#include "editor/editor.h"
#include "python/argument_conversion.h"
#include "python/parameters.h"
#include "python/py_ref.h"
#include "python/use_counter.h"

namespace lexmill::python {

struct Method {
    // What a row runs: a function of the editor taken for shared use, of the
    // editor taken for exclusive use, or of the arguments alone (the
    // constructor and static methods).
    using SharedFunction = PyRef (*)(const Editor&, const Arguments&);
    using ExclusiveFunction = PyRef (*)(Editor&, const Arguments&);
    using StaticFunction = PyRef (*)(const Arguments&);

    constexpr Method(const char* name, SharedFunction function, Params params, const char* doc)
        : name(name), use(UseKind::shared), shared(function), params(params), doc(doc) {}
    constexpr Method(const char* name, ExclusiveFunction function, Params params, const char* doc)
        : name(name), use(UseKind::exclusive), exclusive(function), params(params), doc(doc) {}
    constexpr Method(const char* name, StaticFunction function, Params params, const char* doc)
        : name(name), use(UseKind::none), unbound(function), params(params), doc(doc) {}

    const char* name;
    UseKind use;
    SharedFunction shared = nullptr;
    ExclusiveFunction exclusive = nullptr;
    StaticFunction unbound = nullptr;
    Params params;
    // The docstring without the text signature, which comes from `params`.
    const char* doc;
};

// Runs one call of `method` on `self` (null for static ones); `args` and
// `kwargs` as the interpreter passes them, null for none. Returns a new
// reference, or null with an exception set; no C++ exception leaves it.
PyObject* call_method(const Method& method, PyObject* self, PyObject* args, PyObject* kwargs) noexcept;

// Py_tp_getset getter of a property; `closure` is its row.
PyObject* read_property(PyObject* self, void* closure) noexcept;

// One PyMethodDef: METH_NOARGS for methods without parameters (the
// interpreter refuses any argument to them), otherwise positional and keyword
// arguments, METH_STATIC for functions of the arguments alone. The docstring
// begins with the text signature made from the parameters.
PyMethodDef method_def(const Method& method, PyCFunctionWithKeywords with_arguments, PyCFunction without);

// One read-only PyGetSetDef per property row, then the terminator.
std::vector<PyGetSetDef> property_defs(std::span<const Method> properties);

namespace detail {

// The interpreter calls a C function without data of its own, so each row
// gets entry functions that know their row.
template <const auto& Table, std::size_t I>
PyObject* entry_with_arguments(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return call_method(Table[I], self, args, kwargs);
}

template <const auto& Table, std::size_t I>
PyObject* entry_without_arguments(PyObject* self, PyObject*) noexcept {
    return call_method(Table[I], self, nullptr, nullptr);
}

}  // namespace detail

// The PyMethodDef table of a method table, in its order, with the terminator.
template <const auto& Table>
std::array<PyMethodDef, std::size(Table) + 1> method_defs() {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        return std::array{
            method_def(Table[I], &detail::entry_with_arguments<Table, I>, &detail::entry_without_arguments<Table, I>)...,
            PyMethodDef{nullptr, nullptr, 0, nullptr},
        };
    }(std::make_index_sequence<std::size(Table)>{});
}

}  // namespace lexmill::python
