#pragma once
// Small tests on token text shared by the editing operations.

#include <string_view>

namespace lexmill {

// A token that looks special: non-empty, and either first byte '[' and last
// byte ']', or first byte '<' and last byte '>'. Only the outer bytes count.
inline bool is_bracketed(std::string_view token) {
    if (token.empty()) return false;
    return (token.front() == '[' && token.back() == ']') || (token.front() == '<' && token.back() == '>');
}

}  // namespace lexmill
