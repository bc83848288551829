#pragma once
// How a tokenizer writes text in its tokens, read from its pass-through
// sections: byte-level (one substitute character per UTF-8 byte, a space
// being 'Ġ') or space-marker (spaces replaced by a marker such as '▁').

#include <optional>
#include <string>
#include <string_view>

#include "document/json_value.h"

namespace lexmill {

// True when the value is, or holds at any depth, an object whose "type" is
// the string `type`.
bool has_component_type(const std::optional<JsonValue>& section, std::string_view type);

// The "content" of the first Replace rule, depth first, whose pattern is the
// single space.
std::optional<std::string> find_space_marker(const std::optional<JsonValue>& section);

// The 256 characters that stand for the bytes 0-255 in byte-level tokens, as
// UTF-8.
std::string_view byte_level_char(unsigned char byte);

}  // namespace lexmill
