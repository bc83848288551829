#pragma once
// How a tokenizer writes text in its tokens, read from its pass-through
// sections: byte-level (one substitute character per UTF-8 byte, a space
// being 'Ġ') or space-marker (spaces replaced by a marker such as '▁').

#include <optional>
#include <string>
#include <string_view>

#include "document/json_value.h"
#include "document/tokenizer.h"

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

// The spelling a tokenizer's normalizer and pre-tokenizer give the text that
// reaches BPE. A tokenizer with both a byte-level pre-tokenizer and a marker
// is byte-level.
struct Representation {
    bool byte_level = false;
    // Set for space-marker tokenizers only.
    std::optional<std::string> marker;
    bool nfc = false;
};

// The second half of the failure message of a tokenizer that is neither.
inline constexpr std::string_view kNoRepresentation = "no ByteLevel pre-tokenizer or space marker found";

// Empty when the tokenizer is neither byte-level nor space-marker.
std::optional<Representation> read_representation(const Tokenizer& doc);

// Plain text as the tokenizer presents it to BPE: NFC when the normalizer
// asks for it, then every byte as its byte-level character, or every space
// as the marker.
std::string spell_text(const Representation& representation, std::string_view text);

// Replaces every occurrence, left to right without overlaps; an empty pattern
// matches before every character and at the end.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

}  // namespace lexmill
