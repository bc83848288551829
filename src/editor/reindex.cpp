// The ID space: the gap check and compacting IDs to 0 ... n-1.

#include <algorithm>

#include "editor/editor.h"

namespace lexmill {

namespace {

struct IdRange {
    uint32_t min = 0;
    uint32_t max = 0;
    // Unused IDs from 0 to max, duplicates counted against them; the span is
    // counted in 64 bits, since IDs 0 and 4294967295 span 2^32 values.
    uint64_t gaps = 0;
};

IdRange id_range(const Vocab& vocab) {
    IdRange range;
    if (vocab.empty()) return range;
    range.min = 0xFFFFFFFFu;
    for (Sym sym : vocab.members()) {
        range.min = std::min(range.min, vocab.id(sym));
        range.max = std::max(range.max, vocab.id(sym));
    }
    uint64_t span = uint64_t{range.max} - range.min + 1;
    uint64_t n = vocab.size();
    range.gaps = range.min + (span >= n ? span - n : 0);
    return range;
}

}  // namespace

GapReport Editor::check_vocab_gaps() const {
    IdRange range = id_range(doc_.model.vocab);
    return GapReport{range.gaps != 0, range.gaps, range.min, range.max};
}

ReindexResult Editor::reindex_vocab() {
    Vocab& vocab = doc_.model.vocab;
    ReindexResult result;
    result.vocab_size = vocab.size();
    result.merges_count = merges_count();
    if (vocab.empty()) return result;

    IdRange range = id_range(vocab);
    result.old_min_id = range.min;
    result.old_max_id = range.max;
    result.new_max_id = static_cast<uint32_t>(vocab.size() - 1);
    std::vector<Sym> order = vocab_in_id_order();
    size_t first_moved = 0;
    while (first_moved < order.size() && vocab.id(order[first_moved]) == first_moved) ++first_moved;
    if (first_moved == order.size()) return result;

    for (size_t j = first_moved; j < order.size(); ++j) vocab.set(order[j], static_cast<uint32_t>(j));
    vocab_changed();
    rebuild_used_ids();
    result.ids_remapped = order.size() - first_moved;
    result.gaps_removed = range.gaps;
    return result;
}

}  // namespace lexmill
