#pragma once
// The plain C++ values that cross the call layer. Parameter kinds: the type of
// each parameter of a method's C++ function picks how its Python argument is
// converted. Return shapes: types whose only purpose is to choose the Python
// form of a result. Nothing here touches Python.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "editor/editor.h"

namespace lexmill::python {

using Text = std::string;

struct Count {
    uint64_t value;
};

struct Id {
    uint32_t value;
};

// A keyword-only switch; false when omitted.
struct Flag {
    bool value;
};

using TextList = std::vector<std::string>;

// Absent when the argument is omitted or None.
using OptionalTextList = std::optional<std::vector<std::string>>;

// The merge list as a list of (left, right) tuples, in list order.
struct MergePairs {
    const Editor* editor;
};

// The vocabulary as a dict, keys inserted in the order of `entries`.
struct VocabDict {
    std::vector<VocabEntry> entries;
};

}  // namespace lexmill::python
