#pragma once

#include <string_view>

#include "document/tokenizer.h"
#include "result.h"

namespace lexmill {

// Reads one tokenizer.json text. On failure the error (kind json) describes
// the first fault in the text, followed by " at line {} column {}" wherever
// the reader knows where it stood. Text that is not valid UTF-8 fails, so a
// document read is always valid UTF-8.
// `readable` is how many bytes from text.data() may be read; with 8 or more
// past the end the text is parsed in place, else it is copied first.
Result<Tokenizer> parse_tokenizer_json(std::string_view text, size_t readable);
Result<Tokenizer> parse_tokenizer_json(const std::string& text);

}  // namespace lexmill
