#pragma once
// Small rules on token text shared by the editing operations, each written
// once: where characters begin and end, which tokens look special or are
// never chosen for removal, and what a merge of two tokens produces.

#include <string>
#include <string_view>

#include "document/string_pool.h"

namespace lexmill {

// Characters are Unicode scalar values of valid UTF-8 text: a character runs
// from its lead byte up to the next byte that is no continuation byte.
inline bool is_continuation_byte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Byte offset just past the character that starts at `start` (< text.size()).
inline size_t next_char_end(std::string_view text, size_t start) {
    size_t end = start + 1;
    while (end < text.size() && is_continuation_byte(text[end])) ++end;
    return end;
}

// Byte offset where the character that ends at `end` (> 0) begins.
inline size_t previous_char_start(std::string_view text, size_t end) {
    size_t start = end - 1;
    while (start > 0 && is_continuation_byte(text[start])) --start;
    return start;
}

// A token that looks special: non-empty, and either first byte '[' and last
// byte ']', or first byte '<' and last byte '>'. Only the outer bytes count.
inline bool is_bracketed(std::string_view token) {
    if (token.empty()) return false;
    return (token.front() == '[' && token.back() == ']') || (token.front() == '<' && token.back() == '>');
}

// Tokens that nothing ever chooses to remove to make room (shrinking,
// keep-size additions, merging): single characters, the space marker '▁'
// among them, which BPE starts from, and bracketed tokens.
inline bool has_protected_form(const StringPool& strings, Sym sym) {
    return strings.char_count(sym) == 1 || is_bracketed(strings.view(sym));
}

// The token a merge (left, right) produces: left followed directly by right.
// The text is built in a buffer kept between calls, so a pass over many
// merges allocates once.
class PairText {
public:
    std::string_view join(const StringPool& strings, Sym left, Sym right) {
        text_.assign(strings.view(left));
        text_ += strings.view(right);
        return text_;
    }
    // The handle of the produced token, or kNoSym when the pool never held it.
    Sym find(const StringPool& strings, Sym left, Sym right) { return strings.find(join(strings, left, right)); }
    // The handle of the produced token, interned when new.
    Sym intern(StringPool& strings, Sym left, Sym right) { return strings.intern(join(strings, left, right)); }

private:
    std::string text_;
};

}  // namespace lexmill
