#pragma once
// The model vocabulary: token → unsigned 32-bit ID, keyed by interned handle.
// Lookups and changes are constant time; the ascending bytewise view that the
// document's order calls for is kept as a cached sorted list that a change
// only marks stale and the next request brings up to date in one merge pass.

#include <cstdint>
#include <vector>

#include "document/huge_pages.h"
#include "document/string_pool.h"

namespace lexmill {

class Vocab {
public:
    bool contains(Sym sym) const { return sym < pos_.size() && pos_[sym] != kAbsent; }
    // Precondition: contains(sym).
    uint32_t id(Sym sym) const { return ids_[sym]; }
    size_t size() const { return members_.size(); }
    bool empty() const { return members_.empty(); }

    // Inserts the token or replaces its ID.
    void set(Sym sym, uint32_t id);
    // Removes the token; false when it was not there.
    bool erase(Sym sym);
    void reserve(size_t count);
    // Drops every trace of handles from `first` on, none of which may be in
    // the vocabulary, so that the string pool can hand them out again.
    void forget_from(Sym first) noexcept;

    // Every token, in no particular order.
    const std::vector<Sym>& members() const { return members_; }
    // Every token in ascending bytewise order of its text.
    const std::vector<Sym>& sorted(const StringPool& strings) const;

private:
    static constexpr uint32_t kAbsent = 0xFFFFFFFFu;
    void cover(Sym sym);

    LargeVector<uint32_t> ids_;      // by handle
    LargeVector<uint32_t> pos_;      // by handle: index in members_, or kAbsent
    std::vector<Sym> members_;

    mutable std::vector<Sym> sorted_;
    mutable LargeVector<uint8_t> in_sorted_;  // by handle: listed in sorted_
    mutable std::vector<Sym> inserted_;       // handles set since sorted_ was brought up to date
    mutable bool erased_ = false;              // something left since then
    // Until the sorted list is first asked for there is nothing to bring up
    // to date: it is then sorted from the members whole, and insertions
    // (every token of a document being opened) need no list of their own.
    mutable bool sorted_once_ = false;
};

}  // namespace lexmill
