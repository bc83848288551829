#pragma once
// JSON number literals in the three kinds the document keeps numbers as, as
// the exact scanner reads them: the same values simdjson gives the other reader.

#include <cstdint>
#include <string_view>

#include "document/json_value.h"

namespace lexmill {

struct JsonNumber {
    enum Kind { unsigned_integer, signed_integer, floating } kind = floating;
    uint64_t u = 0;
    int64_t i = 0;
    double f = 0;

    void store(JsonValue& out) const;
    double as_double() const;
};

// The value of a well-formed number literal. An integer literal (without
// fraction or exponent) that fits is unsigned, or signed when negative; -0
// is the unsigned 0. Every other literal is a double, rounded to nearest;
// one too small for a double is zero. False for one too large.
bool number_value(std::string_view literal, JsonNumber& out);

}  // namespace lexmill
