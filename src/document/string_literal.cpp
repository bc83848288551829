// JSON string literals as the writer emits them: only the quotation mark, the
// backslash and the C0 controls are escaped; '/', U+007F and every non-ASCII
// character stay raw UTF-8.

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "document/string_literal.h"

namespace lexmill {

namespace {

// For each byte: 0 when it is written as it stands, otherwise the letter after
// the backslash ('u' for the \u00xx form).
constexpr std::array<char, 256> kEscapes = [] {
    std::array<char, 256> table{};
    for (int c = 0; c < 0x20; ++c) table[c] = 'u';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}();

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

char* write_json_string(char* out, std::string_view text) {
    *out++ = '"';
    const char* run = text.data();
    const char* const end = text.data() + text.size();
    for (const char* p = run; p != end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const char escape = kEscapes[c];
        if (escape == 0) continue;
        std::memcpy(out, run, p - run);
        out += p - run;
        *out++ = '\\';
        if (escape == 'u') {
            const char seq[5] = {'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 15]};
            std::memcpy(out, seq, sizeof seq);
            out += sizeof seq;
        } else {
            *out++ = escape;
        }
        run = p + 1;
    }
    if (run != end) {  // an empty text may have no data pointer at all
        std::memcpy(out, run, end - run);
        out += end - run;
    }
    *out++ = '"';
    return out;
}

void append_json_string(std::string& out, std::string_view text) {
    const size_t old_size = out.size();
    out.resize(old_size + json_string_bound(text.size()));
    char* end = write_json_string(out.data() + old_size, text);
    out.resize(end - out.data());
}

}  // namespace lexmill
