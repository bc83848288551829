#pragma once
// Converting bound Python arguments to the parameter kinds of call_values.h.

#include <Python.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "python/argument_binding.h"
#include "python/call_values.h"
#include "python/python_error.h"
#include "result.h"

namespace lexmill::python {

// Each throws PythonErrorSet with the conversion's exception pending.
std::string text_from_python(PyObject* value);
uint64_t count_from_python(PyObject* value);
uint32_t id_from_python(PyObject* value);
std::vector<std::string> text_list_from_python(PyObject* value);

// Replaces a pending TypeError (exactly that class) with TypeError
// "argument '{name}': {message}", which takes over the old one's cause.
void name_argument_in_type_error(const char* name);

template <typename Kind>
struct ArgumentKind;

template <>
struct ArgumentKind<Text> {
    static Text convert(PyObject* value, const Param&) { return text_from_python(value); }
};

template <>
struct ArgumentKind<Count> {
    static Count convert(PyObject* value, const Param& param) {
        return Count{value != nullptr ? count_from_python(value) : param.default_value};
    }
};

template <>
struct ArgumentKind<Id> {
    static Id convert(PyObject* value, const Param& param) {
        return Id{value != nullptr ? id_from_python(value) : static_cast<uint32_t>(param.default_value)};
    }
};

template <>
struct ArgumentKind<Flag> {
    static Flag convert(PyObject* value, const Param&) {
        if (value == nullptr) return Flag{false};
        int truth = PyObject_IsTrue(value);
        if (truth < 0) throw_python_error();
        return Flag{truth == 1};
    }
};

template <>
struct ArgumentKind<TextList> {
    static TextList convert(PyObject* value, const Param&) { return text_list_from_python(value); }
};

template <>
struct ArgumentKind<OptionalTextList> {
    static OptionalTextList convert(PyObject* value, const Param&) {
        if (value == nullptr || value == Py_None) return std::nullopt;
        return text_list_from_python(value);
    }
};

// Which parameter kinds may be left unfilled, and with which defaults.
template <typename Kind>
constexpr bool default_fits(const Param& param) {
    if (param.required) return true;
    if constexpr (std::is_same_v<Kind, Count> || std::is_same_v<Kind, OptionalTextList> ||
                  std::is_same_v<Kind, Flag>) {
        return true;
    }
    if constexpr (std::is_same_v<Kind, Id>) return param.default_value <= UINT32_MAX;
    return false;
}

// `value` is null for an unfilled optional parameter.
template <typename Kind>
Kind convert_argument(PyObject* value, const Param& param) {
    if (value == nullptr && param.required) internal_failure("required argument left unbound");
    try {
        return ArgumentKind<Kind>::convert(value, param);
    } catch (const PythonErrorSet&) {
        name_argument_in_type_error(param.name);
        throw;
    }
}

}  // namespace lexmill::python
