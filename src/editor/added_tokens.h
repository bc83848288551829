#pragma once
// Reading the members of added-token entries that the editor interprets.

#include <cstdint>
#include <optional>
#include <string>

#include "document/json_value.h"

namespace lexmill {

// The entry's "content" when it is an object whose "content" is a string.
const std::string* added_token_content(const JsonValue& entry);

// The entry's "id" when it is an object whose "id" is an unsigned 32-bit integer.
std::optional<uint32_t> added_token_id(const JsonValue& entry);

}  // namespace lexmill
