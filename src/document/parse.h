#pragma once

#include <string_view>

#include "document/tokenizer.h"
#include "result.h"

namespace lexmill {

// Reads one tokenizer.json text (valid UTF-8). On failure the error (kind
// json) describes the first fault in the text, followed by
// " at line {} column {}" wherever the reader knows where it stood.
Result<Tokenizer> parse_tokenizer_json(std::string_view text);

}  // namespace lexmill
