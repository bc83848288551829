#include "editor/merge/representation.h"

#include <array>

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

}  // namespace lexmill
