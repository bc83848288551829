#pragma once
// Which merges produce and which merges use each token, kept up to date as
// merges are appended and removed instead of being rebuilt from the whole
// list. The lists are threaded through the merge entries, so the index costs
// a few integers per merge and per token and no allocation per list.

#include <cstdint>
#include <vector>

#include "document/tokenizer.h"

namespace lexmill {

class PairText;

class MergeIndex {
public:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    bool built() const { return built_; }
    // Indexes every merge entry of the document from scratch, interning each
    // merge's result (left followed by right).
    void rebuild(Tokenizer& doc);
    // Registers the entry just appended to the document's merge list.
    void add(Tokenizer& doc, uint32_t entry);
    void clear();

    Sym result(uint32_t entry) const { return result_[entry]; }

    // The first live merge, in list order, whose result is `token`; kNone if none.
    uint32_t first_producer(Sym token, const MergeList& merges) const;

    // Calls fn(entry) for every live merge producing `token`, in list order.
    template <typename Fn>
    void for_each_producer(Sym token, const MergeList& merges, Fn&& fn) const {
        if (token >= first_producer_.size()) return;
        for (uint32_t e = first_producer_[token]; e != kNone; e = next_producer_[e]) {
            if (merges.is_live(e)) fn(e);
        }
    }

    // Calls fn(entry) once for every live merge with `token` as left or right part.
    template <typename Fn>
    void for_each_user(Sym token, const MergeList& merges, Fn&& fn) const {
        if (token >= first_use_.size()) return;
        for (uint32_t e = first_use_[token]; e != kNone;) {
            const Merge& m = merges[e];
            uint32_t next = m.left == token ? next_left_[e] : next_right_[e];
            if (merges.is_live(e)) fn(e);
            e = next;
        }
    }

private:
    void cover(Sym sym);
    void link(Tokenizer& doc, uint32_t entry, PairText& pair);

    bool built_ = false;
    // By merge entry.
    std::vector<Sym> result_;
    std::vector<uint32_t> next_left_;
    std::vector<uint32_t> next_right_;
    std::vector<uint32_t> next_producer_;
    // By token handle.
    std::vector<uint32_t> first_use_;
    mutable std::vector<uint32_t> first_producer_;  // advanced past removed entries on lookup
    std::vector<uint32_t> last_producer_;
};

}  // namespace lexmill
