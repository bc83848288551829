#pragma once
// The warning given when a document about to be written would be read with
// other IDs than the editor reports.

#include "editor/editor.h"

namespace lexmill::python {

// Warns with UserWarning when readers such as the tokenizers library would
// give some added tokens other IDs than the ones written; throws
// PythonErrorSet when the warning is turned into an error.
void warn_if_read_differently(const Editor& editor);

}  // namespace lexmill::python
