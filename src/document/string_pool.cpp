#include "document/string_pool.h"

#include <cstring>
#include <functional>

namespace lexmill {

namespace {

constexpr size_t kBlockSize = 1 << 16;

uint64_t hash_text(std::string_view text) {
    // libstdc++ hashes string views with 64-bit murmur; mix once more so the
    // low bits used for the slot index are well spread.
    uint64_t h = std::hash<std::string_view>{}(text);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

}  // namespace

uint32_t count_chars(std::string_view utf8) {
    uint32_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

StringPool::StringPool() : slots_(1024, kEmpty) {}

void StringPool::reserve(size_t count) {
    entries_.reserve(count);
    while (slots_.size() < count * 2) grow_table();
}

size_t StringPool::probe(std::string_view text, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    const uint64_t tag = hash >> 32;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        uint64_t slot = slots_[i];
        if (slot == kEmpty) return i;
        if ((slot >> 32) == tag) {
            const Entry& e = entries_[static_cast<uint32_t>(slot)];
            if (e.size == text.size() && std::memcmp(e.data, text.data(), text.size()) == 0) return i;
        }
    }
}

Sym StringPool::find(std::string_view text) const {
    uint64_t slot = slots_[probe(text, hash_text(text))];
    return slot == kEmpty ? kNoSym : static_cast<Sym>(slot);
}

Sym StringPool::intern(std::string_view text) {
    uint64_t hash = hash_text(text);
    size_t i = probe(text, hash);
    if (slots_[i] != kEmpty) return static_cast<Sym>(slots_[i]);
    Sym sym = static_cast<Sym>(entries_.size());
    entries_.push_back(Entry{store(text), static_cast<uint32_t>(text.size()), count_chars(text)});
    slots_[i] = (hash >> 32) << 32 | sym;
    if (entries_.size() * 2 > slots_.size()) grow_table();
    return sym;
}

const char* StringPool::store(std::string_view text) {
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

void StringPool::grow_table() {
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(old.size() * 2, kEmpty);
    const size_t mask = slots_.size() - 1;
    for (uint64_t slot : old) {
        if (slot == kEmpty) continue;
        const Entry& e = entries_[static_cast<uint32_t>(slot)];
        size_t i = hash_text({e.data, e.size}) & mask;
        while (slots_[i] != kEmpty) i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

}  // namespace lexmill
