#include "document/string_pool.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>

namespace lexmill {

namespace {

constexpr size_t kBlockSize = 1 << 16;

// Seeded per process, so that no file can be crafted to make every token
// collide and lookups quadratic.
struct Seeds {
    uint64_t s[4];
};
const Seeds kSeeds = [] {
    std::random_device entropy;
    Seeds seeds;
    for (uint64_t& seed : seeds.s) seed = (uint64_t{entropy()} << 32 ^ entropy()) | 1;
    return seeds;
}();

// The two halves of the 128-bit product folded together: every bit of
// either factor reaches most bits of the result.
uint64_t fold_multiply(uint64_t a, uint64_t b) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

uint64_t load64(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

uint32_t load32(const char* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The mark of `text` as a slot keeps it (see StringPool::Slot), read without
// a byte past its end: shorter texts are read in two overlapping halves, or
// byte by byte.
uint64_t mark_of(std::string_view text) {
    const char* p = text.data();
    const uint64_t n = text.size();
    if (n >= 8) return load64(p);
    if (n >= 4) return (load32(p) | uint64_t{load32(p + n - 4)} << (8 * (n - 4))) | n << 56;
    if (n == 0) return 0;
    const auto byte = [&](size_t i) { return uint64_t{static_cast<unsigned char>(p[i])}; };
    return byte(0) | (n > 1 ? byte(1) << 8 : 0) | (n > 2 ? byte(2) << 16 : 0) | n << 56;
}

// `mark` is mark_of(text). Texts up to sixteen bytes, nearly every token,
// take two multiplications.
uint64_t hash_text(std::string_view text, uint64_t mark) {
    const char* p = text.data();
    const size_t n = text.size();
    uint64_t a = mark, b = 0, h = kSeeds.s[0];
    if (n > 16) {
        for (size_t i = 0; i + 16 < n; i += 16) h = fold_multiply(load64(p + i) ^ kSeeds.s[1], load64(p + i + 8) ^ h);
        a = load64(p + n - 16);
    }
    if (n > 8) b = load64(p + n - 8);
    return fold_multiply(fold_multiply(a ^ kSeeds.s[1], b ^ h) ^ kSeeds.s[2], n ^ kSeeds.s[3]);
}

// Whether `stored` continues as `text` does after the first eight bytes,
// which match already. Up to sixteen bytes the last eight are compared in one
// step (they may overlap the first), sparing most lookups a call.
bool same_rest(const char* stored, std::string_view text) {
    const size_t n = text.size();
    if (n <= 16) return load64(stored + n - 8) == load64(text.data() + n - 8);
    return std::memcmp(stored + 8, text.data() + 8, n - 8) == 0;
}

}  // namespace

uint32_t count_chars(std::string_view utf8) {
    uint32_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

namespace {

constexpr size_t kInitialSlots = 1024;

}  // namespace

StringPool::StringPool() : slots_(kInitialSlots) {}

void StringPool::reserve(size_t count) {
    entries_.reserve(count);
    // Filled to four fifths at most. The size need not be a power of two,
    // so that a table sized for a count takes no more than it needs.
    const size_t wanted = count + count / 4 + 1;
    if (slots_.size() < wanted) resize_table(wanted);
}

void StringPool::resize_table(size_t slots) {
    slots_ = ZeroedTable<Slot>(slots);
    refill_table();
}

StringPool::Key StringPool::key_of(std::string_view text) {
    const uint64_t mark = mark_of(text);
    return {hash_text(text, mark), mark};
}

size_t StringPool::probe(std::string_view text, const Key& key) const {
    const bool long_text = text.size() >= kLong;
    for (size_t i = home(key.hash);; i = next(i)) {
        const Slot& slot = slots_[i];
        if (slot.empty()) return i;
        if (slot.mark() != key.mark || slot.is_long() != long_text) continue;
        if (!long_text) return i;
        const Entry& entry = entries_[slot.sym()];
        if (entry.size == text.size() && same_rest(entry.data, text)) return i;
    }
}

Sym StringPool::find(std::string_view text) const { return slots_[probe(text, key_of(text))].sym(); }

Sym StringPool::intern(std::string_view text) { return intern_keyed(text, key_of(text)); }

// The entry named by the home slot of a long `text`, when the slot holds a
// long text of the same mark: most likely the text itself, whose size and
// rest the lookup will compare.
const StringPool::Entry* StringPool::likely_match(std::string_view text, const Key& key) const {
    if (text.size() < kLong) return nullptr;
    const Slot& slot = slots_[home(key.hash)];
    if (!slot.is_long() || slot.mark() != key.mark) return nullptr;
    return &entries_[slot.sym()];
}

void StringPool::intern_many(std::span<const std::string_view> texts, Sym* out) {
    // A lookup in a large pool misses the cache up to three times in a row:
    // on its slot, and for a long text on the entry the slot names and on
    // the stored text. Each stage is fetched for a whole wave of texts before
    // the next, so that the misses of a wave overlap.
    constexpr size_t kWave = 32;
    Key keys[kWave];
    for (size_t start = 0; start < texts.size(); start += kWave) {
        const std::span<const std::string_view> wave = texts.subspan(start, std::min(kWave, texts.size() - start));
        for (size_t k = 0; k < wave.size(); ++k) {
            keys[k] = key_of(wave[k]);
            // A slot may span two cache lines.
            const char* slot = reinterpret_cast<const char*>(&slots_[home(keys[k].hash)]);
            __builtin_prefetch(slot);
            __builtin_prefetch(slot + sizeof(Slot) - 1);
        }
        for (size_t k = 0; k < wave.size(); ++k) {
            if (const Entry* entry = likely_match(wave[k], keys[k])) __builtin_prefetch(entry);
        }
        for (size_t k = 0; k < wave.size(); ++k) {
            const Entry* entry = likely_match(wave[k], keys[k]);
            if (entry && wave[k].size() > kLong) __builtin_prefetch(entry->data + kLong);
        }
        // A table that grows meanwhile only makes the fetches useless.
        for (size_t k = 0; k < wave.size(); ++k) out[start + k] = intern_keyed(wave[k], keys[k]);
    }
}

Sym StringPool::intern_keyed(std::string_view text, const Key& key) {
    size_t i = probe(text, key);
    if (!slots_[i].empty()) return slots_[i].sym();
    // A slot keeps the handle plus one beside the long-text bit.
    if (entries_.size() >= kLongBit - 1) throw std::length_error("too many strings");
    Sym sym = static_cast<Sym>(entries_.size());
    entries_.push_back(Entry{store(text), static_cast<uint32_t>(text.size()), count_chars(text)});
    slots_[i] = Slot::make(key.mark, sym, text.size() >= kLong);
    if (entries_.size() * 5 > slots_.size() * 4) resize_table(slots_.size() * 2);
    return sym;
}

const char* StringPool::store(std::string_view text) {
    // Every string gets an address, the empty one too, so no caller ever
    // copies from a null pointer.
    if (text.empty()) return "";
    if (text.size() > kBlockSize / 4) {
        // Large strings get a block of their own so the shared block is not wasted.
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(text.size() + 1));
        std::memcpy(blocks_.back().get(), text.data(), text.size());
        return blocks_.back().get();
    }
    if (block_left_ < text.size()) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
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
    slots_.clear();
    refill_table();
}

// Refills the (emptied) slot table from the entries, which are read in order:
// the texts lie in the blocks in that same order, so only the slot writes
// jump around.
void StringPool::refill_table() {
    for (Sym sym = 0; sym < entries_.size(); ++sym) {
        const Key key = key_of(std::string_view(entries_[sym].data, entries_[sym].size));
        size_t i = home(key.hash);
        while (!slots_[i].empty()) i = next(i);
        slots_[i] = Slot::make(key.mark, sym, entries_[sym].size >= kLong);
    }
}

}  // namespace lexmill
