// The decimal text of a float as the writer lays it out: the shortest digit
// string that reads back to the same double, in plain notation for decimal
// exponents -5 to 15 and in scientific notation outside that range.

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "document/float_text.h"

namespace lexmill {

namespace {

struct Digits {
    char text[24];  // at most 17 significant digits
    int count = 0;
    int exponent = 0;  // decimal exponent of the first digit
};

// `value` is finite and positive.
Digits shortest_digits(double value) {
    // Scientific notation hands over the significant digits and the exponent
    // separately, so no leading or trailing zeros have to be trimmed.
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    (void)ec;  // the buffer fits any double
    Digits d;
    const char* p = buf;
    d.text[d.count++] = *p++;
    if (*p == '.') {
        for (++p; *p != 'e'; ++p) d.text[d.count++] = *p;
    }
    ++p;  // 'e'
    bool negative = *p == '-';
    ++p;  // the sign is always there
    int e = 0;
    for (; p != end; ++p) e = e * 10 + (*p - '0');
    d.exponent = negative ? -e : e;
    return d;
}

char* copy(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

}  // namespace

char* write_float(char* p, double value) {
    if (!std::isfinite(value)) return copy(p, "null");
    if (value == 0) return copy(p, std::signbit(value) ? "-0.0" : "0.0");
    const Digits d = shortest_digits(std::fabs(value));
    const int n = d.count;
    const int e = d.exponent;

    if (value < 0) *p++ = '-';
    if (e >= -5 && e <= 15) {
        if (n - 1 <= e) {
            std::memcpy(p, d.text, n);
            p += n;
            std::memset(p, '0', e - (n - 1));
            p += e - (n - 1);
            *p++ = '.';
            *p++ = '0';
        } else if (e < 0) {
            *p++ = '0';
            *p++ = '.';
            std::memset(p, '0', -e - 1);
            p += -e - 1;
            std::memcpy(p, d.text, n);
            p += n;
        } else {
            std::memcpy(p, d.text, e + 1);
            p += e + 1;
            *p++ = '.';
            std::memcpy(p, d.text + e + 1, n - (e + 1));
            p += n - (e + 1);
        }
    } else {
        *p++ = d.text[0];
        if (n > 1) {
            *p++ = '.';
            std::memcpy(p, d.text + 1, n - 1);
            p += n - 1;
        }
        *p++ = 'e';
        p = std::to_chars(p, p + 8, e).ptr;
    }
    return p;
}

void append_float(std::string& out, double value) {
    char buf[kFloatTextBound];
    out.append(buf, write_float(buf, value) - buf);
}

}  // namespace lexmill
