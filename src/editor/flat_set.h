#pragma once
// Sets of 32- or 64-bit integers with open addressing: one flat array and no
// per-element allocation, which matters for sets of hundreds of thousands of
// IDs, handles or handle pairs.

#include <cstdint>
#include <vector>

#include "document/string_pool.h"

namespace lexmill {

// What a set of integers holds. Vocabulary IDs, token handles and merge
// entries are all 32-bit numbers; sets of each are types of their own, so
// that a reader sees which a set holds and the compiler refuses a mix-up.
struct VocabIds;
struct TokenHandles;
struct MergeEntries;
struct TokenPairs;

template <typename Key, typename Holds>
class FlatSet {
    static_assert(sizeof(Key) <= sizeof(uint64_t));

public:
    FlatSet() : slots_(16, kEmpty) {}

    bool contains(Key key) const {
        const size_t mask = slots_.size() - 1;
        for (size_t i = mix(key) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == kEmpty) return false;
            if (slots_[i] == static_cast<uint64_t>(key)) return true;
        }
    }

    // False when the key was already there.
    bool insert(Key key) {
        const size_t mask = slots_.size() - 1;
        size_t i = mix(key) & mask;
        for (; slots_[i] != kEmpty; i = (i + 1) & mask) {
            if (slots_[i] == static_cast<uint64_t>(key)) return false;
        }
        slots_[i] = key;
        if (++size_ * 2 > slots_.size()) rehash(slots_.size() * 2);
        return true;
    }

    // False when the key was not there.
    bool erase(Key key) {
        const size_t mask = slots_.size() - 1;
        size_t i = mix(key) & mask;
        for (;; i = (i + 1) & mask) {
            if (slots_[i] == kEmpty) return false;
            if (slots_[i] == static_cast<uint64_t>(key)) break;
        }
        // Backward-shift deletion keeps every probe chain unbroken without tombstones.
        size_t hole = i;
        for (size_t j = (hole + 1) & mask; slots_[j] != kEmpty; j = (j + 1) & mask) {
            size_t home = mix(static_cast<Key>(slots_[j])) & mask;
            if (((j - home) & mask) >= ((j - hole) & mask)) {
                slots_[hole] = slots_[j];
                hole = j;
            }
        }
        slots_[hole] = kEmpty;
        --size_;
        return true;
    }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void clear() {
        slots_.assign(16, kEmpty);
        size_ = 0;
    }

    void reserve(size_t count) {
        size_t want = 16;
        while (want < count * 2) want *= 2;
        if (want > slots_.size()) rehash(want);
    }

    // Visits every key in no particular order.
    template <typename Fn>
    void for_each(Fn&& fn) const {
        for (uint64_t slot : slots_) {
            if (slot != kEmpty) fn(static_cast<Key>(slot));
        }
    }

private:
    // Slots are 64-bit, so every 32-bit key is storable; of 64-bit keys the
    // all-ones value is not (no handle pair has it).
    static constexpr uint64_t kEmpty = ~uint64_t{0};

    static size_t mix(Key key) {
        uint64_t h = static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ULL;
        return static_cast<size_t>(h ^ h >> 29);
    }

    void rehash(size_t capacity) {
        std::vector<uint64_t> old = std::move(slots_);
        slots_.assign(capacity, kEmpty);
        const size_t mask = capacity - 1;
        for (uint64_t slot : old) {
            if (slot == kEmpty) continue;
            size_t i = mix(static_cast<Key>(slot)) & mask;
            while (slots_[i] != kEmpty) i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::vector<uint64_t> slots_;
    size_t size_ = 0;
};

using TokenSet = FlatSet<Sym, TokenHandles>;
using EntrySet = FlatSet<uint32_t, MergeEntries>;
// Pairs of token handles, packed by pair_key().
using PairSet = FlatSet<uint64_t, TokenPairs>;

inline uint64_t pair_key(Sym left, Sym right) { return uint64_t{left} << 32 | right; }

}  // namespace lexmill
