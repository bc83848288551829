#pragma once
// The writer's scalar texts, written straight into a buffer the caller has
// made room in. The document writer emits millions of short strings and
// numbers; writing them through a raw cursor spares it the bookkeeping of a
// std::string append for each.

#include <cstddef>
#include <string_view>

namespace lexmill {

// Most bytes write_json_string writes for `size` bytes of text: every byte
// may become a six-byte \u00xx escape, plus the quotes.
constexpr size_t json_string_bound(size_t size) { return 6 * size + 2; }

// Writes `text` as a JSON string literal and returns the end of what it wrote.
char* write_json_string(char* out, std::string_view text);

// Room for any float's notation: the longest (a minus sign, 0.0000 and 17
// digits) take 24 bytes.
constexpr size_t kFloatTextBound = 32;

// Writes the float notation of `value` and returns the end of what it wrote.
char* write_float(char* out, double value);

}  // namespace lexmill
