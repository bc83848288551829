#pragma once
// JSON string literals as the writers emit them, written straight into a
// buffer the caller has made room in: the document writer emits millions of
// short strings, and writing them through a raw cursor spares it the
// bookkeeping of a std::string append for each.

#include <cstddef>
#include <string>
#include <string_view>

namespace lexmill {

// Most bytes write_json_string writes for `size` bytes of text: every byte
// may become a six-byte \u00xx escape, plus the quotes.
constexpr size_t json_string_bound(size_t size) { return 6 * size + 2; }

// Writes `text` as a JSON string literal and returns the end of what it wrote.
char* write_json_string(char* out, std::string_view text);

// Appends `text` as a JSON string literal with the writer's escapes.
void append_json_string(std::string& out, std::string_view text);

}  // namespace lexmill
