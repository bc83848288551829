#pragma once
// The one place where a core Error becomes a Python exception.

#include <utility>

#include "result.h"

namespace lexmill::python {

// Sets the exception for `error` and throws PythonErrorSet.
[[noreturn]] void raise_core_error(const Error& error);

template <typename T>
T value_or_raise(Result<T>&& result) {
    if (!result) raise_core_error(result.error());
    return std::move(result.value());
}

inline void raise_if_failed(const Result<void>& result) {
    if (!result) raise_core_error(result.error());
}

}  // namespace lexmill::python
