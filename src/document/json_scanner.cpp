#include "document/json_scanner.h"

#include <simdjson.h>

#include <charconv>
#include <cstring>

#include "document/float_text.h"
#include "document/json_escape.h"

namespace lexmill {

enum class JsonScanner::Fault {
    eof_list,
    eof_object,
    eof_string,
    eof_value,
    expected_colon,
    expected_list_comma_or_end,
    expected_object_comma_or_end,
    expected_ident,
    expected_value,
    invalid_escape,
    invalid_number,
    number_out_of_range,
    control_character,
    key_must_be_string,
    lone_surrogate,
    trailing_comma,
    trailing_characters,
    unexpected_end_of_hex_escape,
    recursion_limit,
    invalid_code_point,
};

namespace {

const char* fault_text(int fault) {
    static const char* const texts[] = {
        "EOF while parsing a list",
        "EOF while parsing an object",
        "EOF while parsing a string",
        "EOF while parsing a value",
        "expected `:`",
        "expected `,` or `]`",
        "expected `,` or `}`",
        "expected ident",
        "expected value",
        "invalid escape",
        "invalid number",
        "number out of range",
        "control character (\\u0000-\\u001F) found while parsing a string",
        "key must be a string",
        "lone leading surrogate in hex escape",
        "trailing comma",
        "trailing characters",
        "unexpected end of hex escape",
        "recursion limit exceeded",
        "invalid unicode code point",
    };
    return texts[fault];
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Decodes one scalar value of valid UTF-8 starting at `i`.
uint32_t decode_utf8(std::string_view s, size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i++]);
    if (c < 0x80) return c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    uint32_t cp = c & (0x3F >> extra);
    for (int k = 0; k < extra && i < s.size(); ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i++]) & 0x3F);
    return cp;
}

// The string as a debugging literal: quoted, with quotes, backslashes and
// control characters escaped, so that messages stay on one readable line.
std::string debug_literal(std::string_view s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        size_t start = i;
        uint32_t cp = decode_utf8(s, i);
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case 0: out += "\\0"; break;
            default:
                if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
                    char hex[16];
                    auto r = std::to_chars(hex, hex + sizeof hex, cp, 16);
                    out += "\\u{";
                    out.append(std::string_view(hex, static_cast<size_t>(r.ptr - hex)));
                    out += '}';
                } else {
                    out.append(s.substr(start, i - start));
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace

// ---------------------------------------------------------------- faults

bool JsonScanner::fail_message(std::string message, size_t index) {
    size_t line = 1, column = 0;
    for (size_t i = 0; i < index && i < text_.size(); ++i) {
        if (text_[i] == '\n') {
            ++line;
            column = 0;
        } else {
            ++column;
        }
    }
    error_ = std::move(message);
    error_ += " at line " + std::to_string(line) + " column " + std::to_string(column);
    return false;
}

bool JsonScanner::fail_at(Fault fault, size_t index) {
    return fail_message(fault_text(static_cast<int>(fault)), index);
}

bool JsonScanner::fail(Fault fault) { return fail_at(fault, index_); }

bool JsonScanner::fail_peek(Fault fault) { return fail_at(fault, std::min(index_ + 1, text_.size())); }

bool JsonScanner::custom_error(std::string_view message, bool skip_ws) {
    if (skip_ws) skip_whitespace();
    return fail_message(std::string(message), index_);
}

// ---------------------------------------------------------------- lexing

int JsonScanner::skip_whitespace() {
    while (index_ < text_.size()) {
        char c = text_[index_];
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
        ++index_;
    }
    return -1;
}

JsonToken JsonScanner::peek() { return token_starting_with(skip_whitespace()); }

bool JsonScanner::parse_ident(std::string_view rest) {
    for (char expected : rest) {
        if (index_ >= text_.size()) return fail(Fault::eof_value);
        if (text_[index_++] != expected) return fail(Fault::expected_ident);
    }
    return true;
}

// Consumes a well-formed number literal.
bool JsonScanner::scan_number_literal() {
    if (text_[index_] == '-') ++index_;
    if (index_ >= text_.size()) return fail(Fault::eof_value);
    char first = text_[index_++];
    if (first == '0') {
        if (index_ < text_.size() && is_digit(text_[index_])) return fail_peek(Fault::invalid_number);
    } else if (first >= '1' && first <= '9') {
        while (index_ < text_.size() && is_digit(text_[index_])) ++index_;
    } else {
        return fail(Fault::invalid_number);
    }
    if (index_ < text_.size() && text_[index_] == '.') {
        ++index_;
        size_t digits = index_;
        while (index_ < text_.size() && is_digit(text_[index_])) ++index_;
        if (index_ == digits) {
            return fail_peek(index_ < text_.size() ? Fault::invalid_number : Fault::eof_value);
        }
    }
    if (index_ < text_.size() && (text_[index_] == 'e' || text_[index_] == 'E')) {
        ++index_;
        if (index_ < text_.size() && (text_[index_] == '+' || text_[index_] == '-')) ++index_;
        if (index_ >= text_.size()) return fail(Fault::eof_value);
        if (!is_digit(text_[index_++])) return fail(Fault::invalid_number);
        while (index_ < text_.size() && is_digit(text_[index_])) ++index_;
    }
    return true;
}

bool JsonScanner::scan_number(JsonNumber& out) {
    const size_t start = index_;
    if (!scan_number_literal()) return false;
    if (!number_value(text_.substr(start, index_ - start), out)) return fail(Fault::number_out_of_range);
    return true;
}

bool JsonScanner::decode_hex(uint16_t& out) {
    if (index_ + 4 > text_.size()) {
        index_ = text_.size();
        return fail(Fault::eof_string);
    }
    out = 0;
    for (int k = 0; k < 4; ++k) {
        int v = hex_value(text_[index_++]);
        if (v < 0) return fail(Fault::invalid_escape);
        out = static_cast<uint16_t>(out << 4 | v);
    }
    return true;
}

// Precondition: the backslash is consumed. Without `out` the escape is
// checked all the same and only its decoding is dropped.
bool JsonScanner::scan_escape(std::string* out) {
    if (index_ >= text_.size()) return fail(Fault::eof_string);
    char c = text_[index_++];
    if (c != 'u') {
        const char plain = short_escape(c);
        if (plain == 0) return fail(Fault::invalid_escape);
        if (out) *out += plain;
        return true;
    }
    uint16_t n;
    if (!decode_hex(n)) return false;
    if (n >= 0xDC00 && n <= 0xDFFF) return fail(Fault::lone_surrogate);
    uint32_t cp = n;
    if (n >= 0xD800 && n <= 0xDBFF) {
        for (char expected : {'\\', 'u'}) {
            if (index_ >= text_.size()) return fail(Fault::eof_string);
            if (text_[index_++] != expected) return fail(Fault::unexpected_end_of_hex_escape);
        }
        uint16_t low;
        if (!decode_hex(low)) return false;
        if (low < 0xDC00 || low > 0xDFFF) return fail(Fault::lone_surrogate);
        cp = 0x10000 + ((uint32_t{n} - 0xD800) << 10 | (uint32_t{low} - 0xDC00));
    }
    if (out) append_utf8(*out, cp);
    return true;
}

// Precondition: the opening quote is consumed.
bool JsonScanner::scan_string(std::string* out) {
    if (out) out->clear();
    size_t run = index_;
    for (;;) {
        while (index_ < text_.size()) {
            unsigned char c = static_cast<unsigned char>(text_[index_]);
            if (c == '"' || c == '\\' || c < 0x20) break;
            ++index_;
        }
        if (index_ == text_.size()) return fail(Fault::eof_string);
        // Bytes outside strings are ASCII or a syntax fault, so checking the
        // strings' runs makes every accepted text valid UTF-8.
        if (!simdjson::validate_utf8(text_.data() + run, index_ - run)) return fail(Fault::invalid_code_point);
        char c = text_[index_];
        if (out) out->append(text_.substr(run, index_ - run));
        ++index_;
        if (c == '"') return true;
        if (c != '\\') return fail(Fault::control_character);
        if (!scan_escape(out)) return false;
        run = index_;
    }
}

// ---------------------------------------------------------------- containers

bool JsonScanner::enter() {
    if (--remaining_depth_ == 0) return fail_peek(Fault::recursion_limit);
    ++index_;
    first_.push_back(true);
    return true;
}

bool JsonScanner::begin_object() { return enter(); }
bool JsonScanner::begin_array() { return enter(); }

JsonStep JsonScanner::next_element() {
    int c = skip_whitespace();
    if (c < 0) return fail_peek(Fault::eof_list), JsonStep::error;
    if (c == ']') return JsonStep::done;
    if (first_.back()) {
        first_.back() = false;
        return JsonStep::item;
    }
    if (c != ',') return fail_peek(Fault::expected_list_comma_or_end), JsonStep::error;
    ++index_;
    c = skip_whitespace();
    if (c == ']') return fail_peek(Fault::trailing_comma), JsonStep::error;
    if (c < 0) return fail_peek(Fault::eof_value), JsonStep::error;
    return JsonStep::item;
}

bool JsonScanner::end_array() {
    first_.pop_back();
    leave();
    int c = skip_whitespace();
    if (c == ']') {
        ++index_;
        return true;
    }
    if (c == ',') {
        ++index_;
        return fail_peek(skip_whitespace() == ']' ? Fault::trailing_comma : Fault::trailing_characters);
    }
    return fail_peek(c < 0 ? Fault::eof_list : Fault::trailing_characters);
}

JsonStep JsonScanner::next_key(std::string_view& key) {
    int c = skip_whitespace();
    if (c < 0) return fail_peek(Fault::eof_object), JsonStep::error;
    if (c == '}') return JsonStep::done;
    if (first_.back()) {
        first_.back() = false;
    } else if (c == ',') {
        ++index_;
        c = skip_whitespace();
    } else {
        return fail_peek(Fault::expected_object_comma_or_end), JsonStep::error;
    }
    if (c == '}') return fail_peek(Fault::trailing_comma), JsonStep::error;
    if (c < 0) return fail_peek(Fault::eof_value), JsonStep::error;
    if (c != '"') return fail_peek(Fault::key_must_be_string), JsonStep::error;
    ++index_;
    if (!scan_string(&scratch_)) return JsonStep::error;
    key = scratch_;
    return JsonStep::item;
}

bool JsonScanner::begin_value() {
    int c = skip_whitespace();
    if (c == ':') {
        ++index_;
        return true;
    }
    return fail_peek(c < 0 ? Fault::eof_object : Fault::expected_colon);
}

bool JsonScanner::end_object() {
    first_.pop_back();
    leave();
    int c = skip_whitespace();
    if (c == '}') {
        ++index_;
        return true;
    }
    if (c == ',') return fail_peek(Fault::trailing_comma);
    return fail_peek(c < 0 ? Fault::eof_object : Fault::trailing_characters);
}

// ---------------------------------------------------------------- values

bool JsonScanner::parse_any(JsonValue* out) {
    int c = skip_whitespace();
    switch (c) {
        case -1: return fail_peek(Fault::eof_value);
        case 'n':
            ++index_;
            if (!parse_ident("ull")) return false;
            if (out) out->data = nullptr;
            return true;
        case 't':
        case 'f':
            ++index_;
            if (!parse_ident(c == 't' ? "rue" : "alse")) return false;
            if (out) out->data = c == 't';
            return true;
        case '"': {
            ++index_;
            if (!out) return scan_string(nullptr);
            std::string text;
            if (!scan_string(&text)) return false;
            out->data = std::move(text);
            return true;
        }
        case '[': {
            if (!enter()) return false;
            JsonArray items;
            for (;;) {
                JsonStep step = next_element();
                if (step == JsonStep::error) return false;
                if (step == JsonStep::done) break;
                JsonValue item;
                if (!parse_any(out ? &item : nullptr)) return false;
                if (out) items.push_back(std::move(item));
            }
            if (!end_array()) return false;
            if (out) out->data = std::move(items);
            return true;
        }
        case '{': {
            if (!enter()) return false;
            JsonObject members;
            std::string_view key;
            for (;;) {
                JsonStep step = next_key(key);
                if (step == JsonStep::error) return false;
                if (step == JsonStep::done) break;
                JsonMember member{std::string(key), {}};
                if (!begin_value() || !parse_any(out ? &member.value : nullptr)) return false;
                if (out) members.push_back(std::move(member));
            }
            if (!end_object()) return false;
            if (out) {
                normalize_members(members);
                out->data = std::move(members);
            }
            return true;
        }
        default:
            if (c == '-' || is_digit(static_cast<char>(c))) {
                JsonNumber n;
                if (!scan_number(n)) return false;
                if (out) n.store(*out);
                return true;
            }
            return fail_peek(Fault::expected_value);
    }
}

bool JsonScanner::read_value(JsonValue& out) { return parse_any(&out); }

bool JsonScanner::skip_value() { return parse_any(nullptr); }

bool JsonScanner::read_null() {
    ++index_;
    return parse_ident("ull");
}

bool JsonScanner::read_bool(bool& out) {
    int c = skip_whitespace();
    if (c != 't' && c != 'f') return invalid_type("a boolean");
    ++index_;
    if (!parse_ident(c == 't' ? "rue" : "alse")) return false;
    out = c == 't';
    return true;
}

bool JsonScanner::read_text(std::string_view& out, std::string_view expected) {
    if (skip_whitespace() != '"') return invalid_type(expected);
    ++index_;
    if (!scan_string(&scratch_)) return false;
    out = scratch_;
    return true;
}

bool JsonScanner::read_u32(uint32_t& out) {
    if (peek() != JsonToken::number) return invalid_type("u32");
    JsonNumber n;
    if (!scan_number(n)) return false;
    switch (n.kind) {
        case JsonNumber::unsigned_integer:
            if (n.u > 0xFFFFFFFFu) {
                return fail_message("invalid value: integer `" + std::to_string(n.u) + "`, expected u32", index_);
            }
            out = static_cast<uint32_t>(n.u);
            return true;
        case JsonNumber::signed_integer:
            return fail_message("invalid value: integer `" + std::to_string(n.i) + "`, expected u32", index_);
        case JsonNumber::floating: {
            std::string text = "invalid type: floating point `";
            append_float(text, n.f);
            return fail_message(text + "`, expected u32", index_);
        }
    }
    return false;
}

bool JsonScanner::read_f64(double& out) {
    if (peek() != JsonToken::number) return invalid_type("f64");
    JsonNumber n;
    if (!scan_number(n)) return false;
    out = n.as_double();
    return true;
}

bool JsonScanner::invalid_type(std::string_view expected) {
    int c = skip_whitespace();
    std::string found;
    switch (c) {
        case -1: return fail_peek(Fault::eof_value);
        case 'n':
            ++index_;
            if (!parse_ident("ull")) return false;
            found = "null";
            break;
        case 't':
        case 'f':
            ++index_;
            if (!parse_ident(c == 't' ? "rue" : "alse")) return false;
            found = c == 't' ? "boolean `true`" : "boolean `false`";
            break;
        case '"': {
            ++index_;
            std::string text;
            if (!scan_string(&text)) return false;
            found = "string " + debug_literal(text);
            break;
        }
        case '[': found = "sequence"; break;
        case '{': found = "map"; break;
        default: {
            if (c != '-' && !is_digit(static_cast<char>(c))) return fail_peek(Fault::expected_value);
            JsonNumber n;
            if (!scan_number(n)) return false;
            if (n.kind == JsonNumber::unsigned_integer) {
                found = "integer `" + std::to_string(n.u) + "`";
            } else if (n.kind == JsonNumber::signed_integer) {
                found = "integer `" + std::to_string(n.i) + "`";
            } else {
                found = "floating point `";
                append_float(found, n.f);
                found += '`';
            }
        }
    }
    std::string message = "invalid type: " + found + ", expected ";
    message += expected;
    return fail_message(std::move(message), index_);
}

bool JsonScanner::finish() {
    if (skip_whitespace() >= 0) return fail_peek(Fault::trailing_characters);
    return true;
}

}  // namespace lexmill
