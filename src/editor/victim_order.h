#pragma once
// The order in which add_tokens_keep_size removes tokens: longest first (in
// characters), then produced by some merge, then bytewise smallest.

#include <cstdint>
#include <optional>
#include <vector>

#include "document/tokenizer.h"
#include "editor/dense_set.h"
#include "editor/merge_index.h"

namespace lexmill {

// A heap of tokens in removal order whose entries are checked when they
// surface: an edit pushes fresh entries for the tokens it touched, and an
// entry that no longer describes its token (gone from the vocabulary, or
// produced-ness changed) is dropped or refreshed on the way up. So a pick
// costs a logarithmic amount, not a sort of the vocabulary.
class VictimHeap {
public:
    struct Entry {
        uint32_t chars;
        bool produced;
        Sym sym;
    };

    // Tokens not in the vocabulary are ignored.
    void push(const Tokenizer& doc, const MergeIndex& index, Sym sym);
    // The best current entry, left in the heap; nothing when it is empty.
    std::optional<Entry> top(const Tokenizer& doc, const MergeIndex& index);
    void pop(const Tokenizer& doc);
    // True when `a` is removed before `b`.
    static bool before(const Entry& a, const Entry& b, const StringPool& strings);

    size_t size() const { return heap_.size(); }
    void clear() { heap_.clear(); }

private:
    std::vector<Entry> heap_;
};

// The vocabulary's tokens that may be removed to make room (not of protected
// form, not among `spared`) in removal order, kept across calls and brought up
// to date by every edit, so that a keep-size addition costs what it changes.
class VictimOrder {
public:
    VictimOrder(const Tokenizer& doc, const MergeIndex& index, const DenseTokenSet& spared);

    // The token was inserted, or gained or lost its producer.
    void touch(const Tokenizer& doc, const MergeIndex& index, const DenseTokenSet& spared, Sym sym);
    VictimHeap& heap() { return heap_; }

private:
    void rebuild(const Tokenizer& doc, const MergeIndex& index, const DenseTokenSet& spared);

    VictimHeap heap_;
};

}  // namespace lexmill
