#pragma once
// Interned strings. Every token and merge part of a document is stored once and
// named by a small integer, so that indexes hold integers instead of strings.
// The pool only grows; a string keeps its handle and its address for the life
// of the pool, also when the pool itself is moved.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace lexmill {

using Sym = uint32_t;
inline constexpr Sym kNoSym = 0xFFFFFFFFu;

class StringPool {
public:
    StringPool();

    // The handle of `text`, adding it when it is new.
    Sym intern(std::string_view text);
    // The handle of `text`, or kNoSym when it was never interned.
    Sym find(std::string_view text) const;

    std::string_view view(Sym sym) const {
        const Entry& e = entries_[sym];
        return {e.data, e.size};
    }
    // Number of Unicode scalar values (the text is valid UTF-8).
    uint32_t char_count(Sym sym) const { return entries_[sym].chars; }
    uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }

    void reserve(size_t count);

private:
    struct Entry {
        const char* data;
        uint32_t size;
        uint32_t chars;
    };

    const char* store(std::string_view text);
    size_t probe(std::string_view text, uint64_t hash) const;
    void grow_table();

    std::vector<Entry> entries_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* block_cursor_ = nullptr;
    size_t block_left_ = 0;
    // Open addressing: each slot holds (hash high bits << 32 | handle), or kEmpty.
    std::vector<uint64_t> slots_;
    static constexpr uint64_t kEmpty = ~uint64_t{0};
};

// Number of Unicode scalar values in valid UTF-8 text.
uint32_t count_chars(std::string_view utf8);

}  // namespace lexmill
