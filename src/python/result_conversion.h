#pragma once
// Converting returned C++ values into new Python objects. Every conversion
// builds a new object: nothing returned to Python shares state with the editor.

#include <Python.h>

#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "editor/editor.h"
#include "editor/records.h"
#include "python/py_ref.h"
#include "python/python_error.h"

namespace lexmill::python {

// Plain values. Each throws PythonErrorSet if the interpreter fails.
PyRef to_python(bool value);
template <std::unsigned_integral Unsigned>
    requires(!std::same_as<Unsigned, bool>)
PyRef to_python(Unsigned value);
PyRef to_python(std::string_view text);
PyRef to_python(const std::string& text);
PyRef to_python(const VocabEntry& entry);          // (token, id)
PyRef to_python(const InvalidMerge& merge);        // (position, left, right)
PyRef to_python(const ShrinkCandidate& candidate);  // (token, id, char_length)
PyRef to_python(const GapReport& report);          // (has_gaps, total_gaps, min_id, max_id)

// The editor's whole vocabulary as {token: id}, keys in ascending bytewise
// order, and its merge list as [(left, right), ...].
PyRef vocab_dict(const Editor& editor);
PyRef merge_list(const Editor& editor);

// Compound values.
template <typename T>
PyRef to_python(const std::optional<T>& value);
template <typename First, typename Second>
PyRef to_python(const std::pair<First, Second>& pair);
template <typename T>
PyRef to_python(const std::vector<T>& items);
template <typename T>
PyRef to_python(std::vector<T>&& items);

// A new tuple holding the given new references.
template <typename... Items>
PyRef tuple_of(Items... items);

// ---------------------------------------------------------------------------

template <std::unsigned_integral Unsigned>
    requires(!std::same_as<Unsigned, bool>)
PyRef to_python(Unsigned value) {
    return checked(PyLong_FromUnsignedLongLong(value));
}

template <typename... Items>
PyRef tuple_of(Items... items) {
    PyRef tuple = checked(PyTuple_New(sizeof...(Items)));
    Py_ssize_t index = 0;
    // PyTuple_SetItem takes over each item's reference.
    ((PyTuple_SetItem(tuple.get(), index++, items.release())), ...);
    return tuple;
}

template <typename T>
PyRef to_python(const std::optional<T>& value) {
    if (!value) return PyRef::borrow(Py_None);
    return to_python(*value);
}

template <typename First, typename Second>
PyRef to_python(const std::pair<First, Second>& pair) {
    PyRef first = to_python(pair.first);
    PyRef second = to_python(pair.second);
    return tuple_of(std::move(first), std::move(second));
}

namespace detail {

template <typename Items, typename Convert>
PyRef list_of(Items& items, Convert convert) {
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(items.size())));
    Py_ssize_t index = 0;
    for (auto& item : items) {
        // PyList_SetItem takes over the item's reference.
        PyList_SetItem(list.get(), index++, convert(item).release());
    }
    return list;
}

}  // namespace detail

template <typename T>
PyRef to_python(const std::vector<T>& items) {
    return detail::list_of(items, [](const T& item) { return to_python(item); });
}

template <typename T>
PyRef to_python(std::vector<T>&& items) {
    return detail::list_of(items, [](T& item) { return to_python(std::move(item)); });
}

}  // namespace lexmill::python
