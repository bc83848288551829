#include "editor/victim_order.h"

#include <algorithm>

#include "editor/token_text.h"

namespace lexmill {

namespace {

bool produced(const Tokenizer& doc, const MergeIndex& index, Sym sym) {
    return index.first_producer(sym, doc.model.merges) != MergeIndex::kNone;
}

// Heap order: a is a worse victim than b.
struct Worse {
    const StringPool* strings;
    bool operator()(const VictimHeap::Entry& a, const VictimHeap::Entry& b) const {
        return VictimHeap::before(b, a, *strings);
    }
};

}  // namespace

bool VictimHeap::before(const Entry& a, const Entry& b, const StringPool& strings) {
    if (a.chars != b.chars) return a.chars > b.chars;
    if (a.produced != b.produced) return a.produced;
    return strings.view(a.sym) < strings.view(b.sym);
}

void VictimHeap::push(const Tokenizer& doc, const MergeIndex& index, Sym sym) {
    if (!doc.model.vocab.contains(sym)) return;
    heap_.push_back(Entry{doc.strings.char_count(sym), produced(doc, index, sym), sym});
    std::push_heap(heap_.begin(), heap_.end(), Worse{&doc.strings});
}

std::optional<VictimHeap::Entry> VictimHeap::top(const Tokenizer& doc, const MergeIndex& index) {
    while (!heap_.empty()) {
        Entry best = heap_.front();
        if (!doc.model.vocab.contains(best.sym)) {
            pop(doc);
        } else if (best.produced != produced(doc, index, best.sym)) {
            pop(doc);
            push(doc, index, best.sym);
        } else {
            return best;
        }
    }
    return std::nullopt;
}

void VictimHeap::pop(const Tokenizer& doc) {
    std::pop_heap(heap_.begin(), heap_.end(), Worse{&doc.strings});
    heap_.pop_back();
}

VictimOrder::VictimOrder(const Tokenizer& doc, const MergeIndex& index, const DenseTokenSet& spared) {
    rebuild(doc, index, spared);
}

void VictimOrder::rebuild(const Tokenizer& doc, const MergeIndex& index, const DenseTokenSet& spared) {
    heap_.clear();
    for (Sym sym : doc.model.vocab.members()) {
        if (!has_protected_form(doc.strings, sym) && !spared.contains(sym)) heap_.push(doc, index, sym);
    }
}

void VictimOrder::touch(const Tokenizer& doc, const MergeIndex& index, const DenseTokenSet& spared, Sym sym) {
    if (has_protected_form(doc.strings, sym) || spared.contains(sym)) return;
    heap_.push(doc, index, sym);
    // Entries for tokens since removed or changed pile up; start afresh once
    // they outnumber the vocabulary, which keeps the cost per edit constant.
    if (heap_.size() > 2 * doc.model.vocab.size() + 1024) rebuild(doc, index, spared);
}

}  // namespace lexmill
