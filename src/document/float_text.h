#pragma once
// The decimal text of a float, as the writers lay it out and as messages
// about numbers quote it: the shortest digit string that reads back as the
// same double (1.0, 0.001, 1e-7, 1.5e16; null when not finite).

#include <cstddef>
#include <string>

namespace lexmill {

// Room for any float's notation: the longest (a minus sign, 0.0000 and 17
// digits) take 24 bytes.
constexpr size_t kFloatTextBound = 32;

// Writes the notation of `value` and returns the end of what it wrote.
char* write_float(char* out, double value);

// Appends the notation of `value`.
void append_float(std::string& out, double value);

}  // namespace lexmill
