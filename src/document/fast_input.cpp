#include "document/fast_input.h"

#include <simdjson.h>

#include <algorithm>

#include "document/json_escape.h"

namespace lexmill {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool FastInput::read_bool(bool& out) {
    const int c = skip();
    out = c == 't';
    return c == 't' ? literal("true") : c == 'f' && literal("false");
}

bool FastInput::read_f64(double& out) {
    const int c = skip();
    JsonNumber n;
    if ((c != '-' && !is_digit(static_cast<char>(c))) || !number(n)) return false;
    out = n.as_double();
    return true;
}

bool FastInput::skip_value() {
    JsonValue ignored;
    return read_value(ignored);
}

// Checks the text from checked_ on in stretches until `through` is checked.
// A stretch ends before a byte that starts a character, so that no character
// is cut in two.
bool FastInput::check_utf8(const char* through) {
    constexpr size_t kStretch = size_t{64} << 10;
    while (checked_ <= through) {
        const char* stop = checked_ + std::min<size_t>(kStretch, static_cast<size_t>(end_ - checked_));
        for (int back = 0; back < 3 && stop < end_ && stop > checked_ && (*stop & 0xC0) == 0x80; ++back) --stop;
        if (!simdjson::validate_utf8(checked_, static_cast<size_t>(stop - checked_))) return false;
        checked_ = stop;
        if (stop == end_) break;
    }
    return true;
}

// `stop` is the first backslash or control character after `start`.
bool FastInput::escaped_string(const char* start, const char* stop, std::string_view& out) {
    std::string& text = decoded_.emplace_back(start, stop);
    for (;;) {
        if (*stop == '"') {
            p_ = stop + 1;
            out = text;
            return true;
        }
        if (*stop != '\\' || !escape(stop, text)) return false;
        const char* run = stop;
        stop = string_stop(run);
        if (stop >= end_ || (stop > checked_ && !check_utf8(stop))) return false;
        text.append(run, stop);
    }
}

// Precondition: `p` stands at a backslash. Decodes the escape onto `out` and
// moves `p` past it. Surrogates must come in pairs.
bool FastInput::escape(const char*& p, std::string& out) {
    if (end_ - p < 2) return false;
    const char c = p[1];
    p += 2;
    if (c != 'u') {
        const char plain = short_escape(c);
        if (plain == 0) return false;
        out += plain;
        return true;
    }
    uint32_t high, low;
    if (end_ - p < 4 || !hex4(p, high)) return false;
    p += 4;
    if (high < 0xD800 || high > 0xDFFF) {
        append_utf8(out, high);
        return true;
    }
    if (high > 0xDBFF || end_ - p < 6 || p[0] != '\\' || p[1] != 'u' || !hex4(p + 2, low) || low < 0xDC00 ||
        low > 0xDFFF) {
        return false;
    }
    p += 6;
    append_utf8(out, 0x10000 + ((high - 0xD800) << 10 | (low - 0xDC00)));
    return true;
}

// Precondition: the reader stands at a minus sign or a digit.
bool FastInput::number(JsonNumber& out) {
    const char* start = p_;
    const char* p = p_;
    auto digits = [&] {
        const char* first = p;
        while (p < end_ && is_digit(*p)) ++p;
        return p != first;
    };
    if (*p == '-') ++p;
    if (p < end_ && *p == '0') {
        ++p;
    } else if (!digits()) {
        return false;
    }
    if (p < end_ && *p == '.') {
        ++p;
        if (!digits()) return false;
    }
    if (p < end_ && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end_ && (*p == '+' || *p == '-')) ++p;
        if (!digits()) return false;
    }
    p_ = p;
    return number_value(std::string_view(start, static_cast<size_t>(p - start)), out);
}

bool FastInput::value(JsonValue& out, size_t depth) {
    const int c = skip();
    switch (c) {
        case '{': return object(out, depth);
        case '[': return array(out, depth);
        case '"': {
            std::string_view text;
            if (!string(text)) return false;
            out.data = std::string(text);
            return true;
        }
        case 't':
        case 'f':
        case 'n':
            if (!literal(c == 't' ? "true" : c == 'f' ? "false" : "null")) return false;
            if (c == 'n') {
                out.data = nullptr;
            } else {
                out.data = c == 't';
            }
            return true;
        default: {
            JsonNumber n;
            if ((c != '-' && !is_digit(static_cast<char>(c))) || !number(n)) return false;
            n.store(out);
            return true;
        }
    }
}

// Precondition: the reader stands at the opening brace.
bool FastInput::object(JsonValue& out, size_t depth) {
    if (depth + 1 > kMaxDepth) return false;
    ++p_;
    JsonObject members;
    members.reserve(8);  // room for the members of an added token at once
    if (skip() == '}') {
        ++p_;
    } else {
        for (;;) {
            std::string_view key;
            if (skip() != '"' || !string(key) || !expect(':')) return false;
            JsonMember& member = members.emplace_back(JsonMember{std::string(key), {}});
            if (!value(member.value, depth + 1)) return false;
            const int c = skip();
            ++p_;
            if (c == '}') break;
            if (c != ',') return false;
        }
    }
    normalize_members(members);
    out.data = std::move(members);
    return true;
}

// Precondition: the reader stands at the opening bracket.
bool FastInput::array(JsonValue& out, size_t depth) {
    if (depth + 1 > kMaxDepth) return false;
    ++p_;
    JsonArray elements;
    if (skip() == ']') {
        ++p_;
    } else {
        for (;;) {
            if (!value(elements.emplace_back(), depth + 1)) return false;
            const int c = skip();
            ++p_;
            if (c == ']') break;
            if (c != ',') return false;
        }
    }
    out.data = std::move(elements);
    return true;
}

}  // namespace lexmill
