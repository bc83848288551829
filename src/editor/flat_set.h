#pragma once
// A set of unsigned 32-bit IDs with open addressing: one flat array, no
// per-element allocation, which matters for vocabularies of 250k entries.

#include <cstdint>
#include <vector>

namespace lexmill {

class IdSet {
public:
    IdSet() : slots_(16, kEmpty) {}

    bool contains(uint32_t id) const {
        const size_t mask = slots_.size() - 1;
        for (size_t i = mix(id) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == kEmpty) return false;
            if (slots_[i] == id) return true;
        }
    }

    // False when the ID was already there.
    bool insert(uint32_t id) {
        const size_t mask = slots_.size() - 1;
        size_t i = mix(id) & mask;
        for (; slots_[i] != kEmpty; i = (i + 1) & mask) {
            if (slots_[i] == id) return false;
        }
        slots_[i] = id;
        if (++size_ * 2 > slots_.size()) rehash(slots_.size() * 2);
        return true;
    }

    // False when the ID was not there.
    bool erase(uint32_t id) {
        const size_t mask = slots_.size() - 1;
        size_t i = mix(id) & mask;
        for (;; i = (i + 1) & mask) {
            if (slots_[i] == kEmpty) return false;
            if (slots_[i] == id) break;
        }
        // Backward-shift deletion keeps every probe chain unbroken without tombstones.
        size_t hole = i;
        for (size_t j = (hole + 1) & mask; slots_[j] != kEmpty; j = (j + 1) & mask) {
            size_t home = mix(static_cast<uint32_t>(slots_[j])) & mask;
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

    template <typename Fn>
    void for_each(Fn&& fn) const {
        for (uint64_t slot : slots_) {
            if (slot != kEmpty) fn(static_cast<uint32_t>(slot));
        }
    }

private:
    // Slots are 64-bit so every 32-bit ID, 0xFFFFFFFF included, is storable.
    static constexpr uint64_t kEmpty = ~uint64_t{0};

    static size_t mix(uint32_t id) {
        uint64_t h = id * 0x9E3779B97F4A7C15ULL;
        return static_cast<size_t>(h >> 29);
    }

    void rehash(size_t capacity) {
        std::vector<uint64_t> old = std::move(slots_);
        slots_.assign(capacity, kEmpty);
        const size_t mask = capacity - 1;
        for (uint64_t slot : old) {
            if (slot == kEmpty) continue;
            size_t i = mix(static_cast<uint32_t>(slot)) & mask;
            while (slots_[i] != kEmpty) i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::vector<uint64_t> slots_;
    size_t size_ = 0;
};

}  // namespace lexmill
