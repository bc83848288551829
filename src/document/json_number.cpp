#include "document/json_number.h"

#include <algorithm>
#include <charconv>

namespace lexmill {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The decimal exponent of the leading significant digit of an unsigned
// number literal, plus one: above zero the value is at least 1, at or below
// zero it is less. Exponents are clamped far beyond any double's range.
long long magnitude(std::string_view literal) {
    const char* p = literal.data();
    const char* end = p + literal.size();
    long long magnitude = 0;
    bool seen_digit = false;
    for (; p < end && is_digit(*p); ++p) {
        if (*p != '0' || seen_digit) {
            seen_digit = true;
            ++magnitude;
        }
    }
    if (p < end && *p == '.') {
        for (++p; p < end && is_digit(*p); ++p) {
            if (seen_digit) continue;
            if (*p == '0') --magnitude; else seen_digit = true;
        }
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool exponent_negative = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        long long exponent = 0;
        for (; p < end; ++p) exponent = std::min(exponent * 10 + (*p - '0'), 1LL << 40);
        magnitude += exponent_negative ? -exponent : exponent;
    }
    return magnitude;
}

// The integer literal `digits` (with a minus sign before it when
// `negative`): unsigned, or signed when negative. False when it fits neither
// and must be read as a double.
bool integer_value(std::string_view digits, bool negative, JsonNumber& out) {
    uint64_t value = 0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (r.ec != std::errc()) return false;
    if (!negative || value == 0) {
        out.kind = JsonNumber::unsigned_integer;
        out.u = value;
        return true;
    }
    // Below the signed range a negative literal is a double.
    if (value > uint64_t{1} << 63) return false;
    out.kind = JsonNumber::signed_integer;
    out.i = static_cast<int64_t>(0 - value);
    return true;
}

}  // namespace

void JsonNumber::store(JsonValue& out) const {
    switch (kind) {
        case unsigned_integer: out.data = u; break;
        case signed_integer: out.data = i; break;
        case floating: out.data = f; break;
    }
}

double JsonNumber::as_double() const {
    switch (kind) {
        case unsigned_integer: return static_cast<double>(u);
        case signed_integer: return static_cast<double>(i);
        case floating: break;
    }
    return f;
}

bool number_value(std::string_view literal, JsonNumber& out) {
    const bool negative = !literal.empty() && literal.front() == '-';
    const std::string_view unsigned_literal = literal.substr(negative);
    if (unsigned_literal.find_first_of(".eE") == std::string_view::npos &&
        integer_value(unsigned_literal, negative, out)) {
        return true;
    }
    out.kind = JsonNumber::floating;
    auto r = std::from_chars(literal.data(), literal.data() + literal.size(), out.f);
    if (r.ec == std::errc::result_out_of_range) {
        if (magnitude(unsigned_literal) > 0) return false;
        out.f = negative ? -0.0 : 0.0;
    }
    return true;
}

}  // namespace lexmill
