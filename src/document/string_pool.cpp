#include "document/string_pool.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace lexmill {

namespace {

constexpr size_t kBlockSize = 1 << 16;

// Seeded per process, so that no file can be crafted to make every token
// collide and lookups quadratic.
const uint64_t kSeed = [] {
    std::random_device entropy;
    return uint64_t{entropy()} << 32 ^ entropy();
}();

uint64_t mix(uint64_t h) {
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    h ^= h >> 32;
    return h;
}

uint64_t hash_text(std::string_view text) {
    uint64_t h = kSeed ^ (text.size() * 0x9E3779B97F4A7C15ULL);
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        h = mix(h ^ word) * 0x9E3779B97F4A7C15ULL;
    }
    if (i < text.size()) {
        uint64_t word = 0;
        std::memcpy(&word, text.data() + i, text.size() - i);
        h = mix(h ^ word) * 0x9E3779B97F4A7C15ULL;
    }
    return mix(h);
}

}  // namespace

uint32_t count_chars(std::string_view utf8) {
    uint32_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

namespace {

uint64_t head_of(std::string_view text) {
    uint64_t head = 0;
    // The empty string may have no storage at all, and memcpy takes no null.
    if (!text.empty()) std::memcpy(&head, text.data(), std::min<size_t>(text.size(), sizeof head));
    return head;
}

constexpr size_t kInitialSlots = 1024;

}  // namespace

StringPool::StringPool() : slots_(kInitialSlots, Slot{0, 0, kNoSym}) {}

void StringPool::reserve(size_t count) {
    entries_.reserve(count);
    if (slots_.size() < count * 2) {
        size_t n = slots_.size();
        while (n < count * 2) n *= 2;
        slots_.assign(n, Slot{0, 0, kNoSym});
        grow_table();
    }
}

size_t StringPool::probe(std::string_view text, uint64_t hash, uint64_t head) const {
    const size_t mask = slots_.size() - 1;
    const uint32_t size = static_cast<uint32_t>(text.size());
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.sym == kNoSym) return i;
        if (slot.size == size && slot.head == head &&
            (size <= sizeof head ||
             std::memcmp(entries_[slot.sym].data + sizeof head, text.data() + sizeof head, size - sizeof head) == 0)) {
            return i;
        }
    }
}

Sym StringPool::find(std::string_view text) const {
    return slots_[probe(text, hash_text(text), head_of(text))].sym;
}

Sym StringPool::intern(std::string_view text) { return intern_hashed(text, hash_text(text), head_of(text)); }

void StringPool::intern_many(std::span<const std::string_view> texts, Sym* out) {
    constexpr size_t kWave = 64;
    uint64_t hashes[kWave], heads[kWave];
    for (size_t start = 0; start < texts.size(); start += kWave) {
        size_t n = std::min(kWave, texts.size() - start);
        const size_t mask = slots_.size() - 1;
        for (size_t k = 0; k < n; ++k) {
            hashes[k] = hash_text(texts[start + k]);
            heads[k] = head_of(texts[start + k]);
            __builtin_prefetch(&slots_[hashes[k] & mask]);
        }
        // A table that grows meanwhile only makes the prefetches useless.
        for (size_t k = 0; k < n; ++k) out[start + k] = intern_hashed(texts[start + k], hashes[k], heads[k]);
    }
}

Sym StringPool::intern_hashed(std::string_view text, uint64_t hash, uint64_t head) {
    size_t i = probe(text, hash, head);
    if (slots_[i].sym != kNoSym) return slots_[i].sym;
    Sym sym = static_cast<Sym>(entries_.size());
    entries_.push_back(Entry{store(text), static_cast<uint32_t>(text.size()), count_chars(text)});
    slots_[i] = Slot{head, static_cast<uint32_t>(text.size()), sym};
    if (entries_.size() * 4 > slots_.size() * 3) {
        slots_.assign(slots_.size() * 2, Slot{0, 0, kNoSym});
        grow_table();
    }
    return sym;
}

const char* StringPool::store(std::string_view text) {
    // Every string gets an address, the empty one too, so no caller ever
    // copies from a null pointer.
    if (text.empty()) return "";
    if (text.size() > kBlockSize / 4) {
        // Large strings get a block of their own so the shared block is not wasted.
        blocks_.push_back(std::make_unique<char[]>(text.size() + 1));
        std::memcpy(blocks_.back().get(), text.data(), text.size());
        return blocks_.back().get();
    }
    if (block_left_ < text.size()) {
        blocks_.push_back(std::make_unique<char[]>(kBlockSize));
        block_cursor_ = blocks_.back().get();
        block_left_ = kBlockSize;
    }
    char* out = block_cursor_;
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    block_cursor_ += text.size();
    block_left_ -= text.size();
    return out;
}

void StringPool::roll_back(const Mark& mark) noexcept {
    if (entries_.size() == mark.entries) return;
    entries_.resize(mark.entries);
    blocks_.resize(mark.blocks);
    block_cursor_ = mark.cursor;
    block_left_ = mark.left;
    // Open addressing cannot simply drop slots from the middle of a probe
    // chain: the table is refilled in place from the entries that remain.
    std::fill(slots_.begin(), slots_.end(), Slot{0, 0, kNoSym});
    grow_table();
}

// Refills the (emptied) slot table from the entries, which are read in order:
// the texts lie in the blocks in that same order, so only the slot writes
// jump around.
void StringPool::grow_table() {
    const size_t mask = slots_.size() - 1;
    for (Sym sym = 0; sym < entries_.size(); ++sym) {
        std::string_view text(entries_[sym].data, entries_[sym].size);
        size_t i = hash_text(text) & mask;
        while (slots_[i].sym != kNoSym) i = (i + 1) & mask;
        slots_[i] = Slot{head_of(text), entries_[sym].size, sym};
    }
}

}  // namespace lexmill
