#pragma once
// The fast way through a document: a reader straight over the text. It only
// has to be right when it succeeds: wherever it meets what it cannot take — a
// fault, a value of a type the document does not expect there — it gives up,
// and the exact scanner reads the text instead and reports what is wrong.
//
// It builds nothing beside the document: strings without escapes are handed
// out as views into the text, the rare others decoded into storage of the
// input's own, and both stay valid as long as the input. Whitespace and
// strings are scanned a word at a time; half the bytes of a pretty-printed
// tokenizer are indentation.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>

#include "document/json_input.h"
#include "document/json_number.h"
#include "document/json_value.h"

namespace lexmill {

class FastInput {
public:
    // Bytes past the end of the text that must be readable: words are loaded
    // whole, also where the text ends inside one. Their values do not matter.
    static constexpr size_t kPadding = 8;

    // `text` is readable for kPadding bytes past its end and outlives the
    // input.
    explicit FastInput(std::string_view text)
        : p_(text.data()), end_(text.data() + text.size()), checked_(text.data()) {}

    // Texts stay valid as long as the input.
    static constexpr bool kStableText = true;

    JsonToken peek() { return token_starting_with(skip()); }
    bool read_null() { return skip() == 'n' && literal("null"); }
    bool read_bool(bool& out);
    bool read_text(std::string_view& out, std::string_view) { return skip() == '"' && string(out); }
    bool read_u32(uint32_t& out);
    bool read_f64(double& out);
    bool read_value(JsonValue& out) { return value(out, depth_); }
    // Reads the value as read_value does, so that a dropped value is held to
    // the same rules as a kept one, and discards it.
    bool skip_value();
    // A merge: an array of exactly two strings. False for anything else.
    bool read_pair(std::string_view& left, std::string_view& right);

    bool begin_object() { return enter('{'); }
    JsonStep next_key(std::string_view& key);
    bool begin_value() { return expect(':'); }
    bool end_object() { return leave('}'); }
    bool begin_array() { return enter('['); }
    JsonStep next_element();
    bool end_array() { return leave(']'); }

    bool invalid_type(std::string_view) { return false; }
    bool custom_error(std::string_view, bool) { return false; }
    bool finish() { return skip() < 0; }

private:
    // Containers nest at most this deep, the top-level object counting as one.
    static constexpr size_t kMaxDepth = 127;

    static uint64_t load(const char* p) {
        uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        return word;  // the first byte lowest
    }
    // The high bit of every zero byte of `x`, and possibly of bytes above the
    // first zero byte: the lowest bit set is always right.
    static uint64_t zero_bytes(uint64_t x) { return (x - 0x0101010101010101u) & ~x & 0x8080808080808080u; }
    // The first byte at or after `p` that ends a run of plain string text: a
    // quotation mark, a backslash or a control character; at or past the end
    // of the text when there is none.
    const char* string_stop(const char* p) const {
        for (; p < end_; p += 8) {
            const uint64_t word = load(p);
            const uint64_t stops = zero_bytes(word ^ 0x2222222222222222u) | zero_bytes(word ^ 0x5C5C5C5C5C5C5C5Cu) |
                                   ((word - 0x2020202020202020u) & ~word & 0x8080808080808080u);
            if (stops) return p + std::countr_zero(stops) / 8;
        }
        return p;
    }

    // Skips whitespace; the byte there, or -1 at the end of the text. A
    // whitespace byte and the spaces after it (a line break and the next
    // line's indentation) go in one step.
    int skip() {
        for (;;) {
            if (p_ >= end_) return -1;
            const unsigned char c = static_cast<unsigned char>(*p_);
            if (c > ' ') return c;
            if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return c;
            const uint64_t others = load(p_ + 1) ^ 0x2020202020202020u;
            p_ += 1 + (others ? std::countr_zero(others) / 8 : 8);
        }
    }

    bool expect(char c) {
        if (skip() != c) return false;
        ++p_;
        return true;
    }

    // `word` stands at the reader: consumes it.
    bool literal(std::string_view word) {
        if (static_cast<size_t>(end_ - p_) < word.size() || std::memcmp(p_, word.data(), word.size()) != 0) {
            return false;
        }
        p_ += word.size();
        return true;
    }

    // Precondition: the reader stands at the opening quote.
    bool string(std::string_view& out) {
        const char* start = ++p_;
        const char* stop = string_stop(start);
        if (stop >= end_ || (stop > checked_ && !check_utf8(stop))) return false;
        if (*stop != '"') return escaped_string(start, stop, out);
        out = std::string_view(start, static_cast<size_t>(stop - start));
        p_ = stop + 1;
        return true;
    }

    bool enter(char open) {
        if (depth_ + 1 > kMaxDepth || !expect(open)) return false;
        first_[++depth_] = true;
        return true;
    }

    bool leave(char close) {
        if (!expect(close)) return false;
        --depth_;
        return true;
    }

    bool check_utf8(const char* through);
    bool escaped_string(const char* start, const char* stop, std::string_view& out);
    bool escape(const char*& p, std::string& out);
    bool number(JsonNumber& out);
    bool value(JsonValue& out, size_t depth);
    bool object(JsonValue& out, size_t depth);
    bool array(JsonValue& out, size_t depth);

    const char* p_;
    const char* end_;
    // The text before this is known to be valid UTF-8. It is checked a
    // stretch at a time just ahead of the strings read, while the stretch is
    // in the cache anyway; bytes outside strings need no check, as anything
    // but ASCII there is a fault the reader declines.
    const char* checked_;
    size_t depth_ = 0;
    // By depth: whether the open container's first member or element is still to come.
    bool first_[kMaxDepth + 1] = {};
    // Strings with escapes, decoded; a deque keeps each where it is.
    std::deque<std::string> decoded_;
};

inline JsonStep FastInput::next_key(std::string_view& key) {
    int c = skip();
    if (c == '}') return JsonStep::done;
    if (first_[depth_]) {
        first_[depth_] = false;
    } else {
        if (c != ',') return JsonStep::error;
        ++p_;
        c = skip();
    }
    if (c != '"') return JsonStep::error;
    return string(key) ? JsonStep::item : JsonStep::error;
}

inline JsonStep FastInput::next_element() {
    int c = skip();
    if (c == ']') return JsonStep::done;
    if (c < 0) return JsonStep::error;
    if (first_[depth_]) {
        first_[depth_] = false;
        return JsonStep::item;
    }
    if (c != ',') return JsonStep::error;
    ++p_;
    c = skip();
    return c == ']' || c < 0 ? JsonStep::error : JsonStep::item;
}

inline bool FastInput::read_u32(uint32_t& out) {
    const int c = skip();
    if (c < '0' || c > '9') return false;
    // Up to eleven digits: ten fit, one more tells that they do not.
    const char* p = p_;
    uint64_t value = 0;
    while (p < end_ && *p >= '0' && *p <= '9' && p - p_ < 11) value = value * 10 + static_cast<unsigned>(*p++ - '0');
    const bool leading_zero = c == '0' && p - p_ > 1;
    if (leading_zero || value > 0xFFFFFFFFu) return false;
    // A fraction or an exponent makes the number a float, not an ID.
    if (p < end_ && (*p == '.' || *p == 'e' || *p == 'E' || (*p >= '0' && *p <= '9'))) return false;
    out = static_cast<uint32_t>(value);
    p_ = p;
    return true;
}

inline bool FastInput::read_pair(std::string_view& left, std::string_view& right) {
    return depth_ + 1 <= kMaxDepth && expect('[') && skip() == '"' && string(left) && expect(',') &&
           skip() == '"' && string(right) && expect(']');
}

}  // namespace lexmill
