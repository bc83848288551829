#include "python/argument_binding.h"

#include <algorithm>
#include <string>
#include <vector>

#include "python/python_error.h"

namespace lexmill::python {

namespace {

[[noreturn]] void raise_type_error(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw_python_error();
}

void refuse_surplus_positionals(const char* qualified_name, std::span<const Param> params, Py_ssize_t given) {
    const auto total = std::count_if(params.begin(), params.end(), [](const Param& p) { return !p.keyword_only; });
    if (given <= total) return;
    const auto needed = std::count_if(params.begin(), params.end(), [](const Param& p) { return p.required; });
    std::string message = qualified_name;
    if (needed == total) {
        message += " takes " + std::to_string(total);
    } else {
        message += " takes from " + std::to_string(needed) + " to " + std::to_string(total);
    }
    message += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    raise_type_error(message);
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

}  // namespace

void bind_arguments(const char* qualified_name, std::span<const Param> params, PyObject* args,
                    PyObject* kwargs, std::span<PyRef> slots) {
    const Py_ssize_t given = args != nullptr ? PyTuple_Size(args) : 0;
    if (given < 0) throw_python_error();
    refuse_surplus_positionals(qualified_name, params, given);
    for (Py_ssize_t i = 0; i < given; ++i) slots[static_cast<std::size_t>(i)] = PyRef::borrow(PyTuple_GetItem(args, i));

    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            auto match = std::find_if(params.begin(), params.end(), [key](const Param& p) {
                return PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, p.name) == 0;
            });
            if (match == params.end()) {
                PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", qualified_name, key);
                throw_python_error();
            }
            PyRef& slot = slots[static_cast<std::size_t>(match - params.begin())];
            if (slot) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", qualified_name, match->name);
                throw_python_error();
            }
            slot = PyRef::borrow(value);
        }
    }

    std::vector<const char*> missing;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (params[i].required && !slots[i]) missing.push_back(params[i].name);
    }
    if (!missing.empty()) {
        raise_type_error(std::string(qualified_name) + " missing " + std::to_string(missing.size()) +
                         " required positional " + (missing.size() == 1 ? "argument" : "arguments") + ": " +
                         quoted_list(missing));
    }
}

}  // namespace lexmill::python
