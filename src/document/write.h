#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "document/tokenizer.h"

namespace lexmill {

enum class Layout {
    // Top-level and model members in declaration order, vocabulary in
    // ascending bytewise token order (export as text).
    declaration,
    // Every member list in ascending key order, the vocabulary members in the
    // order the caller gives (saving to a file).
    sorted,
};

// Pretty-prints the document with two-space indentation. `vocab_order` lists
// the vocabulary tokens for the sorted layout and is ignored otherwise.
std::string write_tokenizer_json(const Tokenizer& doc, Layout layout,
                                 std::span<const Sym> vocab_order = {});

// The same text handed to `sink` piece by piece, in order, through a buffer
// of a megabyte, so that the whole text is never held at once. Stops when the
// sink returns false, and then returns false itself.
bool write_tokenizer_json(const Tokenizer& doc, Layout layout, std::span<const Sym> vocab_order,
                          const std::function<bool(std::string_view)>& sink);

}  // namespace lexmill
