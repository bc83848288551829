#include "python/argument_binding.h"

#include <algorithm>
#include <string>
#include <vector>

#include "python/call_messages.h"
#include "python/python_error.h"

namespace lexmill::python {

namespace {

std::string qualified(CallName name) { return std::string(name.class_name) + "." + name.method_name + "()"; }

const char* was_or_were(Py_ssize_t given) { return given == 1 ? "was" : "were"; }

[[noreturn]] void refuse_surplus_positionals(CallName name, const Params& params, Py_ssize_t given) {
    const auto total = static_cast<Py_ssize_t>(params.positional());
    const auto needed = static_cast<Py_ssize_t>(params.required());
    if (needed == total) {
        PyErr_Format(PyExc_TypeError, messages::kTooManyPositional, qualified(name).c_str(), total, given,
                     was_or_were(given));
    } else {
        PyErr_Format(PyExc_TypeError, messages::kTooManyPositionalOfRange, qualified(name).c_str(), needed, total,
                     given, was_or_were(given));
    }
    throw_python_error();
}

void bind_keywords(CallName name, std::span<const Param> params, PyObject* kwargs, std::span<PyRef> slots) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        auto match = std::find_if(params.begin(), params.end(), [key](const Param& p) {
            return PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, p.name) == 0;
        });
        if (match == params.end()) {
            PyErr_Format(PyExc_TypeError, messages::kUnexpectedKeyword, qualified(name).c_str(), key);
            throw_python_error();
        }
        PyRef& slot = slots[static_cast<std::size_t>(match - params.begin())];
        if (slot) {
            PyErr_Format(PyExc_TypeError, messages::kMultipleValues, qualified(name).c_str(), match->name);
            throw_python_error();
        }
        slot = PyRef::borrow(value);
    }
}

// 'a'; 'a' and 'b'; 'a', 'b' and 'c'.
std::string quoted_list(const std::vector<const char*>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += '\'';
        text += names[i];
        text += '\'';
    }
    return text;
}

void refuse_missing(CallName name, std::span<const Param> params, std::span<PyRef> slots) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (params[i].required && !slots[i]) missing.push_back(params[i].name);
    }
    if (missing.empty()) return;
    PyErr_Format(PyExc_TypeError, messages::kMissingArguments, qualified(name).c_str(),
                 static_cast<Py_ssize_t>(missing.size()), missing.size() == 1 ? "argument" : "arguments",
                 quoted_list(missing).c_str());
    throw_python_error();
}

}  // namespace

void bind_arguments(CallName name, const Params& params, PyObject* args, PyObject* kwargs, std::span<PyRef> slots) {
    const Py_ssize_t given = args != nullptr ? PyTuple_Size(args) : 0;
    if (given < 0) throw_python_error();
    if (given > static_cast<Py_ssize_t>(params.positional())) refuse_surplus_positionals(name, params, given);
    for (Py_ssize_t i = 0; i < given; ++i) slots[static_cast<std::size_t>(i)] = PyRef::borrow(PyTuple_GetItem(args, i));
    // Required parameters come first: given by position, they are all there.
    if (kwargs == nullptr && given >= static_cast<Py_ssize_t>(params.required())) return;
    if (kwargs != nullptr) bind_keywords(name, params.all(), kwargs, slots);
    refuse_missing(name, params.all(), slots);
}

}  // namespace lexmill::python
