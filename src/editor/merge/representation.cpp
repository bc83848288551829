#include "editor/merge/representation.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "editor/token_text.h"

namespace lexmill {

namespace {

bool has_type(const JsonValue& value, std::string_view type) {
    if (const JsonObject* object = value.as_object()) {
        const JsonValue* declared = value.find("type");
        const std::string* name = declared ? declared->as_string() : nullptr;
        if (name && *name == type) return true;
        for (const JsonMember& member : *object) {
            if (has_type(member.value, type)) return true;
        }
    } else if (const JsonArray* array = value.as_array()) {
        for (const JsonValue& item : *array) {
            if (has_type(item, type)) return true;
        }
    }
    return false;
}

bool is_string(const JsonValue* value, std::string_view text) {
    const std::string* s = value ? value->as_string() : nullptr;
    return s && *s == text;
}

// Searched: nothing found below. Found: `marker` holds it.
bool marker_in(const JsonValue& value, std::optional<std::string>& marker) {
    if (const JsonObject* object = value.as_object()) {
        const JsonValue* pattern = value.find("pattern");
        if (is_string(value.find("type"), "Replace") && pattern && pattern->as_object() &&
            is_string(pattern->find("String"), " ")) {
            // A space rule without a string content yields nothing, and its
            // members are not searched.
            const JsonValue* content = value.find("content");
            if (content && content->as_string()) {
                marker = *content->as_string();
                return true;
            }
            return false;
        }
        for (const JsonMember& member : *object) {
            if (marker_in(member.value, marker)) return true;
        }
    } else if (const JsonArray* array = value.as_array()) {
        for (const JsonValue& item : *array) {
            if (marker_in(item, marker)) return true;
        }
    }
    return false;
}

// Bytes that are printable stand for themselves; the others, in byte order,
// take the characters from U+0100 on.
constexpr std::array<uint32_t, 256> make_byte_level_table() {
    std::array<uint32_t, 256> table{};
    uint32_t next = 0x100;
    for (uint32_t b = 0; b < 256; ++b) {
        bool printable = (b >= 0x21 && b <= 0x7E) || (b >= 0xA1 && b <= 0xAC) || (b >= 0xAE);
        table[b] = printable ? b : next++;
    }
    return table;
}

struct ByteLevelText {
    std::array<char, 2> bytes[256];
    unsigned char size[256];
};

constexpr ByteLevelText make_byte_level_text() {
    ByteLevelText text{};
    constexpr std::array<uint32_t, 256> table = make_byte_level_table();
    for (int b = 0; b < 256; ++b) {
        uint32_t cp = table[b];
        if (cp < 0x80) {
            text.bytes[b] = {static_cast<char>(cp), 0};
            text.size[b] = 1;
        } else {
            text.bytes[b] = {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
            text.size[b] = 2;
        }
    }
    return text;
}

constexpr ByteLevelText kByteLevel = make_byte_level_text();

std::string to_nfc(std::string_view text) {
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return std::string(text);
    utf8proc_uint8_t* composed = nullptr;
    utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                      static_cast<utf8proc_ssize_t>(text.size()), &composed,
                                      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (n < 0) return std::string(text);  // not reachable for valid UTF-8
    std::string out(reinterpret_cast<const char*>(composed), static_cast<size_t>(n));
    std::free(composed);
    return out;
}

std::string encode_byte_level(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) out += byte_level_char(static_cast<unsigned char>(c));
    return out;
}

}  // namespace

bool has_component_type(const std::optional<JsonValue>& section, std::string_view type) {
    return section && has_type(*section, type);
}

std::optional<std::string> find_space_marker(const std::optional<JsonValue>& section) {
    std::optional<std::string> marker;
    if (section) marker_in(*section, marker);
    return marker;
}

std::string_view byte_level_char(unsigned char byte) {
    return {kByteLevel.bytes[byte].data(), kByteLevel.size[byte]};
}

std::optional<Representation> read_representation(const Tokenizer& doc) {
    Representation representation;
    representation.byte_level = has_component_type(doc.pre_tokenizer, "ByteLevel");
    if (!representation.byte_level) {
        representation.marker = find_space_marker(doc.normalizer);
        if (!representation.marker) return std::nullopt;
    }
    representation.nfc = has_component_type(doc.normalizer, "NFC");
    return representation;
}

std::string spell_text(const Representation& representation, std::string_view text) {
    std::string normalized = representation.nfc ? to_nfc(text) : std::string(text);
    if (representation.byte_level) return encode_byte_level(normalized);
    return replace_all(normalized, " ", *representation.marker);
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    if (from.empty()) {
        // An empty pattern matches before every character and at the end.
        out.reserve(text.size() + (text.size() + 1) * to.size());
        out += to;
        for (size_t start = 0; start < text.size();) {
            size_t end = next_char_end(text, start);
            out += text.substr(start, end - start);
            out += to;
            start = end;
        }
        return out;
    }
    size_t start = 0;
    for (size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, start)) {
        out += text.substr(start, at - start);
        out += to;
        start = at + from.size();
    }
    out += text.substr(start);
    return out;
}

}  // namespace lexmill
