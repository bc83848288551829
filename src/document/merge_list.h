#pragma once
// The ordered merge list. Entries are kept in the order they were created;
// removing one only marks it, so entry numbers stay valid for the indexes that
// refer to them. The merge list proper is the sequence of live entries, and a
// merge's position (its priority) is its rank among them.

#include <cstdint>
#include <vector>

#include "document/huge_pages.h"
#include "document/string_pool.h"

namespace lexmill {

struct Merge {
    Sym left;
    Sym right;
};

class MergeList {
public:
    uint32_t append(Merge merge) {
        entries_.push_back(merge);
        removed_.push_back(0);
        return static_cast<uint32_t>(entries_.size() - 1);
    }
    // Precondition: the entry is live.
    void remove(uint32_t entry) {
        removed_[entry] = 1;
        ++removed_count_;
    }
    bool is_live(uint32_t entry) const { return !removed_[entry]; }
    const Merge& operator[](uint32_t entry) const { return entries_[entry]; }

    size_t size() const { return entries_.size() - removed_count_; }
    size_t entry_count() const { return entries_.size(); }
    size_t removed_count() const { return removed_count_; }

    // Calls fn(entry, merge) for every live merge in list order.
    template <typename Fn>
    void for_each(Fn&& fn) const {
        for (uint32_t e = 0; e < entries_.size(); ++e) {
            if (!removed_[e]) fn(e, entries_[e]);
        }
    }

    // Drops the removed entries; live entries are renumbered 0, 1, ... in order.
    void compact();
    // Drops the entries from `count` on, all of them live (entries just
    // appended by an edit that is being undone).
    void truncate(size_t count) noexcept {
        entries_.resize(count);
        removed_.resize(count);
    }
    void reserve(size_t count) {
        entries_.reserve(count);
        removed_.reserve(count);
    }

private:
    LargeVector<Merge> entries_;
    LargeVector<uint8_t> removed_;
    size_t removed_count_ = 0;
};

}  // namespace lexmill
