#pragma once
// Errors as values: every core operation returns its value or one Error.
// The Python layer turns an Error into an exception in a single place, choosing
// the exception class and message prefix from the kind.

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace lexmill {

// What the failing operation was doing.
enum class ErrorKind {
    load,               // opening the editor's own tokenizer file
    source_load,        // opening a second tokenizer file (merging, character sync)
    json,               // parsing JSON text handed over directly
    unsupported_model,  // a parsed document whose model is not BPE
    save,               // writing the tokenizer to a file
    serialize,          // producing the JSON text
    merge,              // merging a source tokenizer into the editor
    spelling,           // writing text in a tokenizer's spelling
    interrupted,        // the caller asked a file operation to stop; the message is not shown
};

struct Error {
    ErrorKind kind;
    std::string message;
    // The operating system's error number behind a file failure; 0 when the
    // system reported none.
    int os_error = 0;
};

// The same failure reported as one of another operation. An interruption
// stays one: the caller that asked for it is waiting for exactly that.
inline Error reported_as(ErrorKind kind, Error error) {
    if (error.kind != ErrorKind::interrupted) error.kind = kind;
    return error;
}

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    explicit operator bool() const { return !error_; }
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

// A broken internal invariant. Never part of normal control flow: the Python
// layer converts it into PanicException at the boundary of every call.
class InternalFailure : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

[[noreturn]] inline void internal_failure(const char* message) {
    throw InternalFailure(message);
}

}  // namespace lexmill
