#pragma once
// PanicException: how a broken internal invariant reaches Python. It derives
// from BaseException, so `except Exception` handlers do not swallow it.

namespace lexmill::python {

// Sets PanicException(message) as the pending exception; a null or empty
// message is replaced by a fixed generic one. An exception that was already
// pending becomes the new one's context. Never fails silently: if the class
// cannot be created, that failure is the pending exception instead.
void raise_panic(const char* message) noexcept;

}  // namespace lexmill::python
