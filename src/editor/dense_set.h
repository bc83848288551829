#pragma once
// A set of 32-bit numbers that are mostly dense from 0, as vocabulary IDs and
// token handles are: a bitmap below a bound, a hash set above it. Membership
// of a dense number costs one bit test in a small array instead of a probe
// into a large table.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "editor/flat_set.h"

namespace lexmill {

template <typename Holds>
class DenseSet {
public:
    bool contains(uint32_t value) const {
        if (value >= kDenseLimit) return sparse_.contains(value);
        size_t word = value >> 6;
        return word < bits_.size() && (bits_[word] >> (value & 63) & 1);
    }

    // False when the value was already there.
    bool insert(uint32_t value) {
        if (value >= kDenseLimit) {
            if (!sparse_.insert(value)) return false;
            ++size_;
            return true;
        }
        size_t word = value >> 6;
        if (word >= bits_.size()) {
            // Within reserved room no allocation happens, so inserts below a
            // reserved bound cannot fail.
            size_t grown = std::max(word + 1, bits_.size() * 2);
            if (word < bits_.capacity()) grown = std::min(grown, bits_.capacity());
            bits_.resize(grown, 0);
        }
        uint64_t bit = uint64_t{1} << (value & 63);
        if (bits_[word] & bit) return false;
        bits_[word] |= bit;
        ++size_;
        return true;
    }

    // Inserts every value below `end`.
    void insert_below(uint64_t end) {
        for (uint64_t value = std::min<uint64_t>(end, kDenseLimit); value < end; ++value) {
            insert(static_cast<uint32_t>(value));
        }
        end = std::min<uint64_t>(end, kDenseLimit);
        if (end == 0) return;
        size_t words = static_cast<size_t>((end + 63) / 64);
        if (words > bits_.size()) bits_.resize(words, 0);
        size_t before = 0;
        for (size_t w = 0; w < words; ++w) before += static_cast<size_t>(__builtin_popcountll(bits_[w]));
        for (size_t w = 0; w + 1 < words; ++w) bits_[w] = ~uint64_t{0};
        bits_[words - 1] |= end % 64 ? (uint64_t{1} << (end % 64)) - 1 : ~uint64_t{0};
        size_t after = 0;
        for (size_t w = 0; w < words; ++w) after += static_cast<size_t>(__builtin_popcountll(bits_[w]));
        size_ += after - before;
    }

    // False when the value was not there.
    bool erase(uint32_t value) {
        if (value >= kDenseLimit) {
            if (!sparse_.erase(value)) return false;
            --size_;
            return true;
        }
        size_t word = value >> 6;
        uint64_t bit = uint64_t{1} << (value & 63);
        if (word >= bits_.size() || !(bits_[word] & bit)) return false;
        bits_[word] &= ~bit;
        --size_;
        return true;
    }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void clear() {
        bits_.clear();
        sparse_.clear();
        size_ = 0;
    }

    // Room for values below `bound` without regrowing.
    void reserve(size_t bound) { bits_.reserve(std::min<size_t>(bound, kDenseLimit) / 64 + 1); }

    // Visits every value: the dense ones in ascending order, then the others.
    template <typename Fn>
    void for_each(Fn&& fn) const {
        for (size_t word = 0; word < bits_.size(); ++word) {
            for (uint64_t w = bits_[word]; w; w &= w - 1) {
                fn(static_cast<uint32_t>(word * 64 + static_cast<size_t>(__builtin_ctzll(w))));
            }
        }
        sparse_.for_each(fn);
    }

    // The largest value, or 0 when empty.
    uint32_t max() const {
        uint32_t result = 0;
        sparse_.for_each([&](uint32_t value) { result = std::max(result, value); });
        if (result) return result;
        for (size_t word = bits_.size(); word-- > 0;) {
            if (bits_[word]) return static_cast<uint32_t>(word * 64 + 63 - static_cast<size_t>(__builtin_clzll(bits_[word])));
        }
        return 0;
    }

private:
    // At most 4 MiB of bitmap.
    static constexpr uint32_t kDenseLimit = 1u << 25;

    std::vector<uint64_t> bits_;
    FlatSet<uint32_t, Holds> sparse_;
    size_t size_ = 0;
};

using DenseIdSet = DenseSet<VocabIds>;
using DenseTokenSet = DenseSet<TokenHandles>;

}  // namespace lexmill
