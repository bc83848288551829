#pragma once
// Interned strings. Every token and merge part of a document is stored once and
// named by a small integer, so that indexes hold integers instead of strings.
// The pool only grows; a string keeps its handle and its address for the life
// of the pool, also when the pool itself is moved.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "document/huge_pages.h"

namespace lexmill {

using Sym = uint32_t;
inline constexpr Sym kNoSym = 0xFFFFFFFFu;

class StringPool {
public:
    StringPool();

    // The handle of `text`, adding it when it is new.
    Sym intern(std::string_view text);
    // intern() for many texts at once, out[i] for texts[i]. The lookups are
    // started together so that their cache misses overlap, which is several
    // times faster than one after the other on large pools.
    void intern_many(std::span<const std::string_view> texts, Sym* out);
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

    // How far the pool had grown; roll_back() forgets every string interned
    // since, for an edit that failed halfway and is being undone. Handles
    // from the mark on must no longer be held anywhere.
    struct Mark {
        size_t entries;
        size_t blocks;
        char* cursor;
        size_t left;
    };
    Mark mark() const { return {entries_.size(), blocks_.size(), block_cursor_, block_left_}; }
    void roll_back(const Mark& mark) noexcept;

private:
    struct Entry {
        const char* data;
        uint32_t size;
        uint32_t chars;
    };

    // Texts this long and longer are long: their marks do not hold them whole.
    static constexpr size_t kLong = 8;

    // A slot holds a string's mark and its handle in twelve bytes, so that
    // the table packs five slots and a bit to a cache line. The mark of a
    // short text is the text itself with its length in the last byte: most
    // lookups (tokens are short) settle in the slot, without touching the
    // entry or the text, which on large vocabularies are cache misses. The
    // mark of a long text is its first eight bytes; the entry tells its size
    // and the stored text the rest.
    struct Slot {
        uint32_t mark_low;
        uint32_t mark_high;
        // The handle plus one, with the top bit set for a long text; 0 in an
        // empty slot, so that a table starts out all zero.
        uint32_t ref;

        static Slot make(uint64_t mark, Sym sym, bool long_text) {
            return {static_cast<uint32_t>(mark), static_cast<uint32_t>(mark >> 32),
                    (sym + 1) | (long_text ? kLongBit : 0)};
        }
        uint64_t mark() const { return mark_low | uint64_t{mark_high} << 32; }
        bool empty() const { return ref == 0; }
        bool is_long() const { return ref & kLongBit; }
        Sym sym() const { return (ref & ~kLongBit) - 1; }  // kNoSym for an empty slot
    };
    static constexpr uint32_t kLongBit = 0x80000000u;
    static_assert(sizeof(Slot) == 12);

    struct Key {
        uint64_t hash;
        uint64_t mark;
    };

    static Key key_of(std::string_view text);
    const char* store(std::string_view text);
    size_t probe(std::string_view text, const Key& key) const;
    const Entry* likely_match(std::string_view text, const Key& key) const;
    Sym intern_keyed(std::string_view text, const Key& key);
    void resize_table(size_t slots);
    void refill_table();

    // Where a probe for `hash` starts: the hash scaled to the table's size.
    size_t home(uint64_t hash) const {
        return static_cast<size_t>(static_cast<unsigned __int128>(hash) * slots_.size() >> 64);
    }
    size_t next(size_t slot) const { return slot + 1 == slots_.size() ? 0 : slot + 1; }

    LargeVector<Entry> entries_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* block_cursor_ = nullptr;
    size_t block_left_ = 0;
    ZeroedTable<Slot> slots_;
};

// Number of Unicode scalar values in valid UTF-8 text.
uint32_t count_chars(std::string_view utf8);

}  // namespace lexmill
