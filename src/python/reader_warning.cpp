#include "python/reader_warning.h"

#include <Python.h>

#include <string>

#include "python/python_error.h"

namespace lexmill::python {

void warn_if_read_differently(const Editor& editor) {
    const uint64_t differ = editor.added_tokens_read_differently();
    if (differ == 0) return;
    const std::string message =
        std::to_string(differ) + (differ == 1 ? " added token" : " added tokens") +
        " would be read with another ID than the one written: the tokenizers library numbers an added token "
        "whose content is not in the model vocabulary itself, from the vocabulary's size upward. "
        "Call pin_added_tokens() first to enter such tokens into the vocabulary under their own IDs.";
    // Level 1: the warning names the caller's line, which made the call.
    if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) < 0) throw_python_error();
}

}  // namespace lexmill::python
