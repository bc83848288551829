#include "document/simd_input.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace lexmill {

namespace od = simdjson::ondemand;

namespace {

// Containers nest at most this deep, the top-level object counting as one.
constexpr size_t kMaxDepth = 127;

JsonToken token_of(simdjson::simdjson_result<od::json_type> type) {
    od::json_type t;
    if (std::move(type).get(t)) return JsonToken::invalid;
    switch (t) {
        case od::json_type::array: return JsonToken::array;
        case od::json_type::object: return JsonToken::object;
        case od::json_type::number: return JsonToken::number;
        case od::json_type::string: return JsonToken::string;
        case od::json_type::boolean: return JsonToken::boolean;
        case od::json_type::null: return JsonToken::null;
    }
    return JsonToken::invalid;
}

// Reads a number into the kind the exact scanner would give it: integer
// literals unsigned, or signed when negative (-0 is 0, unsigned), everything
// else a double. False for what the scanner must judge itself.
bool read_number(od::value& value, JsonValue& out) {
    std::string_view raw = value.raw_json_token();
    // simdjson 3.0.1 reads a number of more than 19 digits as 0 (or worse):
    // such numbers are the scanner's.
    if (std::count_if(raw.begin(), raw.end(), [](char c) { return c >= '0' && c <= '9'; }) > 19) return false;
    od::number number;
    if (value.get_number().get(number)) return false;
    switch (number.get_number_type()) {
        case od::number_type::unsigned_integer: out.data = number.get_uint64(); return true;
        case od::number_type::signed_integer: {
            int64_t i = number.get_int64();
            if (i < 0) {
                out.data = i;
            } else if (i == 0 && !raw.empty() && raw.front() == '-') {
                out.data = uint64_t{0};
            } else {
                out.data = static_cast<uint64_t>(i);
            }
            return true;
        }
        case od::number_type::floating_point_number: {
            // Integer literals too large for 64 bits are left to the scanner,
            // which rounds them itself.
            if (raw.find_first_of(".eE") == std::string_view::npos) return false;
            out.data = number.get_double();
            return true;
        }
    }
    return false;
}

uint64_t load_word(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;  // the first byte lowest
}

uint64_t zero_bytes(uint64_t x) { return (x - 0x0101010101010101u) & ~x & 0x8080808080808080u; }

// Strings are read in place, as views into the document, when they hold no
// escape, the common case: neither copied nor unescaped. simdjson has
// already checked that every string closes and holds no control character
// or invalid UTF-8.

// A key's content; `raw` points just past its opening quote. Read a word at a
// time: the padding after the text makes the last words readable.
bool plain_key(const char* raw, std::string_view& out) {
    for (const char* p = raw;; p += 8) {
        const uint64_t word = load_word(p);
        const uint64_t stops = zero_bytes(word ^ 0x2222222222222222u) | zero_bytes(word ^ 0x5C5C5C5C5C5C5C5Cu);
        if (!stops) continue;
        const char* stop = p + std::countr_zero(stops) / 8;
        if (*stop != '"') return false;
        out = std::string_view(raw, static_cast<size_t>(stop - raw));
        return true;
    }
}

// A string value's content from its raw token, which runs from the opening
// quote to the next structural character and so may end in whitespace.
// Without a backslash in it, the last quote of the token closes the string.
bool plain_value(std::string_view token, std::string_view& out) {
    size_t end = token.size();
    while (end > 0 && static_cast<unsigned char>(token[end - 1]) <= ' ') --end;
    if (end < 2 || token.front() != '"' || token[end - 1] != '"') return false;
    const std::string_view content = token.substr(1, end - 2);
    for (char c : content) {
        if (c == '\\') return false;
    }
    out = content;
    return true;
}

// A string value read in place where it can be, unescaped by simdjson where
// it cannot. Looking at the raw token does not consume the value.
bool read_string(od::value& value, std::string_view& out) {
    return plain_value(value.raw_json_token(), out) || !value.get_string().get(out);
}

}  // namespace

JsonToken SimdInput::peek() { return at_root_ ? token_of(doc_.type()) : token_of(current_.type()); }

bool SimdInput::read_null() {
    bool is_null = false;
    return !current_.is_null().get(is_null) && is_null;
}

bool SimdInput::read_bool(bool& out) { return !current_.get_bool().get(out); }

bool SimdInput::read_text(std::string_view& out, std::string_view) { return read_string(current_, out); }

bool SimdInput::read_u32(uint32_t& out) {
    // IDs are plain integers; a failed attempt leaves the value unread.
    uint64_t id;
    if (!current_.get_uint64().get(id)) {
        if (id > 0xFFFFFFFFu) return false;
        out = static_cast<uint32_t>(id);
        return true;
    }
    JsonValue number;
    if (!read_number(current_, number)) return false;
    const uint64_t* u = std::get_if<uint64_t>(&number.data);
    if (!u || *u > 0xFFFFFFFFu) return false;
    out = static_cast<uint32_t>(*u);
    return true;
}

bool SimdInput::read_f64(double& out) {
    JsonValue number;
    if (!read_number(current_, number)) return false;
    if (const uint64_t* u = std::get_if<uint64_t>(&number.data)) {
        out = static_cast<double>(*u);
    } else if (const int64_t* i = std::get_if<int64_t>(&number.data)) {
        out = static_cast<double>(*i);
    } else {
        out = std::get<double>(number.data);
    }
    return true;
}

bool SimdInput::read_value(JsonValue& out) { return value_from(current_, out, stack_.size()); }

bool SimdInput::skip_value() {
    JsonValue ignored;
    return read_value(ignored);
}

bool SimdInput::value_from(od::value value, JsonValue& out, size_t depth) {
    switch (token_of(value.type())) {
        case JsonToken::null: {
            bool is_null = false;
            if (value.is_null().get(is_null) || !is_null) return false;
            out.data = nullptr;
            return true;
        }
        case JsonToken::boolean: {
            bool b;
            if (value.get_bool().get(b)) return false;
            out.data = b;
            return true;
        }
        case JsonToken::number: return read_number(value, out);
        case JsonToken::string: {
            std::string_view text;
            if (value.get_string().get(text)) return false;
            out.data = std::string(text);
            return true;
        }
        case JsonToken::array: {
            if (depth + 1 > kMaxDepth) return false;
            od::array array;
            if (value.get_array().get(array)) return false;
            JsonArray items;
            for (auto element : array) {
                od::value item;
                if (element.get(item) || !value_from(item, items.emplace_back(), depth + 1)) return false;
            }
            out.data = std::move(items);
            return true;
        }
        case JsonToken::object: {
            if (depth + 1 > kMaxDepth) return false;
            od::object object;
            if (value.get_object().get(object)) return false;
            JsonObject members;
            members.reserve(8);  // room for the members of an added token at once
            for (auto field : object) {
                std::string_view key;
                if (field.unescaped_key().get(key)) return false;
                JsonMember& member = members.emplace_back(JsonMember{std::string(key), {}});
                if (!value_from(field.value(), member.value, depth + 1)) return false;
            }
            normalize_members(members);
            out.data = std::move(members);
            return true;
        }
        default: return false;
    }
}

bool SimdInput::read_pair(std::string_view& left, std::string_view& right) {
    if (stack_.size() + 1 > kMaxDepth) return false;
    od::array array;
    if (current_.get_array().get(array)) return false;
    size_t count = 0;
    for (auto element : array) {
        od::value item;
        std::string_view text;
        if (count == 2 || element.get(item) || !read_string(item, text)) return false;
        (count++ == 0 ? left : right) = text;
    }
    return count == 2;
}

bool SimdInput::begin_object() {
    if (stack_.size() + 1 > kMaxDepth) return false;
    Frame& frame = stack_.emplace_back();
    auto object = at_root_ ? doc_.get_object() : current_.get_object();
    at_root_ = false;
    return !std::move(object).get(frame.object) && !frame.object.begin().get(frame.field);
}

JsonStep SimdInput::next_key(std::string_view& key) {
    Frame& frame = stack_.back();
    if (frame.started) {
        ++frame.field;
    } else {
        frame.started = true;
    }
    od::object_iterator end;
    if (frame.object.end().get(end)) return JsonStep::error;
    if (!(frame.field != end)) {
        frame.exhausted = true;
        return JsonStep::done;
    }
    od::field field;
    if ((*frame.field).get(field)) return JsonStep::error;
    if (!plain_key(reinterpret_cast<const char*>(field.key().raw()), key) && field.unescaped_key().get(key)) {
        return JsonStep::error;
    }
    current_ = field.value();
    return JsonStep::item;
}

bool SimdInput::end_object() {
    bool ok = stack_.back().exhausted;
    stack_.pop_back();
    return ok;
}

bool SimdInput::begin_array() {
    if (stack_.size() + 1 > kMaxDepth) return false;
    Frame& frame = stack_.emplace_back();
    auto array = at_root_ ? doc_.get_array() : current_.get_array();
    at_root_ = false;
    return !std::move(array).get(frame.array) && !frame.array.begin().get(frame.element);
}

JsonStep SimdInput::next_element() {
    Frame& frame = stack_.back();
    if (frame.started) {
        ++frame.element;
    } else {
        frame.started = true;
    }
    od::array_iterator end;
    if (frame.array.end().get(end)) return JsonStep::error;
    if (!(frame.element != end)) {
        frame.exhausted = true;
        return JsonStep::done;
    }
    if ((*frame.element).get(current_)) return JsonStep::error;
    return JsonStep::item;
}

bool SimdInput::end_array() {
    Frame& frame = stack_.back();
    if (!frame.exhausted) {
        // A struct read from an array stops after its last field: anything
        // further is for the scanner to report.
        if (next_element() != JsonStep::done) return false;
    }
    stack_.pop_back();
    return true;
}

bool SimdInput::finish() {
    // Past the last token the document has no location left to report.
    const char* rest;
    return doc_.current_location().get(rest) != simdjson::SUCCESS;
}

}  // namespace lexmill
