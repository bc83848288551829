#include "editor/merge_index.h"

#include <algorithm>

#include "editor/token_text.h"

namespace lexmill {

void MergeIndex::clear() {
    built_ = false;
    result_.clear();
    next_left_.clear();
    next_right_.clear();
    next_producer_.clear();
    first_use_.clear();
    first_producer_.clear();
    last_producer_.clear();
}

void MergeIndex::cover(Sym sym) {
    if (sym >= first_use_.size()) {
        size_t n = std::max<size_t>(sym + 1, first_use_.size() + first_use_.size() / 2);
        first_use_.resize(n, kNone);
        first_producer_.resize(n, kNone);
        last_producer_.resize(n, kNone);
    }
}

void MergeIndex::rebuild(Tokenizer& doc) {
    clear();
    const MergeList& merges = doc.model.merges;
    size_t n = merges.entry_count();
    result_.reserve(n);
    next_left_.reserve(n);
    next_right_.reserve(n);
    next_producer_.reserve(n);
    PairText pair;
    for (uint32_t e = 0; e < n; ++e) link(doc, e, pair);
    built_ = true;
}

void MergeIndex::add(Tokenizer& doc, uint32_t entry) {
    PairText pair;
    link(doc, entry, pair);
}

void MergeIndex::link(Tokenizer& doc, uint32_t entry, PairText& pair) {
    const Merge m = doc.model.merges[entry];
    Sym result = pair.intern(doc.strings, m.left, m.right);
    cover(std::max({m.left, m.right, result}));

    result_.push_back(result);
    // Users: pushed at the front; their order carries no meaning. A merge with
    // two equal parts is threaded once, through its left link.
    next_left_.push_back(first_use_[m.left]);
    first_use_[m.left] = entry;
    if (m.right != m.left) {
        next_right_.push_back(first_use_[m.right]);
        first_use_[m.right] = entry;
    } else {
        next_right_.push_back(kNone);
    }
    // Producers: appended at the back, so each list stays in list order. A list
    // whose entries were all removed has been emptied by first_producer().
    next_producer_.push_back(kNone);
    if (first_producer_[result] == kNone) {
        first_producer_[result] = entry;
    } else {
        next_producer_[last_producer_[result]] = entry;
    }
    last_producer_[result] = entry;
}

uint32_t MergeIndex::first_producer(Sym token, const MergeList& merges) const {
    if (token >= first_producer_.size()) return kNone;
    uint32_t e = first_producer_[token];
    while (e != kNone && !merges.is_live(e)) e = next_producer_[e];
    first_producer_[token] = e;
    return e;
}

}  // namespace lexmill
