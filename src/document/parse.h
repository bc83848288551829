#pragma once

#include <string_view>

#include "document/tokenizer.h"
#include "result.h"

namespace lexmill {

// Reads one tokenizer.json text (valid UTF-8). On failure the error (kind
// json) describes the first fault in the text, followed by
// " at line {} column {}" wherever the reader knows where it stood.
// Text whose string has 64 spare bytes of capacity is read in place.
Result<Tokenizer> parse_tokenizer_json(const std::string& text);

}  // namespace lexmill
