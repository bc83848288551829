#pragma once
// File operations of the core as the interpreter needs them: other threads
// run while a call waits on the file system, and an exception raised by a
// signal handler (KeyboardInterrupt on Ctrl-C) ends the call.

#include <Python.h>

#include <string>

#include "editor/file_io.h"

namespace lexmill::python {

// The core touches nothing owned by Python while the lock is given up: it
// works on copies of the arguments, and other threads reach the editor only
// through its use counter.
class InterpreterHooks final : public IoHooks {
public:
    void leave() const override { state_ = PyEval_SaveThread(); }
    void enter() const override { PyEval_RestoreThread(state_); }
    // Runs the pending signal handlers; one that raised leaves its exception
    // set for the call to end with.
    bool interrupted() const override { return PyErr_CheckSignals() != 0; }

private:
    mutable PyThreadState* state_ = nullptr;
};

// Before a save to a descriptor of this process, the Python stream over that
// descriptor (sys.stdout or sys.stderr) gives up what it buffered, so that
// what the program printed before the save comes before the text.
void flush_stream_beneath(const std::string& path);

}  // namespace lexmill::python
