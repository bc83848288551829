// The ID space: the gap check and compacting IDs to 0, 1, 2, ... Added tokens
// stay in step with the vocabulary: one whose content is a vocabulary token
// takes that token's new ID, and an ID held by one whose content is not is
// stepped over, so that no reader ever sees two strings under one ID.

#include <algorithm>

#include "editor/added_tokens.h"
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

// Added tokens: those whose content is a vocabulary token follow it (their
// "id" is rewritten once the vocabulary has its new IDs), the IDs of the
// others are not gaps and are stepped over.
struct AddedTokenIds {
    DenseIdSet reserved;
    std::vector<std::pair<JsonValue*, Sym>> followers;
};

AddedTokenIds added_token_ids(Tokenizer& doc, const std::vector<Sym>& contents) {
    AddedTokenIds added;
    for (size_t i = 0; i < doc.added_tokens.size(); ++i) {
        JsonValue& entry = doc.added_tokens[i];
        if (doc.model.vocab.contains(contents[i])) {
            if (JsonValue* id = entry.find("id")) added.followers.emplace_back(id, contents[i]);
        } else if (std::optional<uint32_t> id = added_token_id(entry)) {
            added.reserved.insert(*id);
        }
    }
    return added;
}

// The k-th of `count` entries in ID order takes the k-th ID that is not reserved.
std::vector<uint32_t> dense_ids(size_t count, const DenseIdSet& reserved) {
    std::vector<uint32_t> ids(count);
    uint64_t next = 0;
    for (size_t k = 0; k < count; ++k) {
        while (reserved.contains(static_cast<uint32_t>(next))) ++next;
        if (next > 0xFFFFFFFFu) internal_failure("the vocabulary and the added tokens hold more than 2^32 IDs");
        ids[k] = static_cast<uint32_t>(next++);
    }
    return ids;
}

// Reserved IDs up to `max_id` that no vocabulary entry holds: they were
// never gaps. `order` is the vocabulary in ID order.
uint64_t reserved_inside(const DenseIdSet& reserved, const std::vector<Sym>& order, const Vocab& vocab,
                         uint32_t max_id) {
    uint64_t inside = 0;
    reserved.for_each([&](uint32_t id) {
        auto at = std::lower_bound(order.begin(), order.end(), id,
                                   [&](Sym sym, uint32_t value) { return vocab.id(sym) < value; });
        bool held = at != order.end() && vocab.id(*at) == id;
        inside += id <= max_id && !held;
    });
    return inside;
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

    AddedTokenIds added = added_token_ids(doc_, added_contents_);
    std::vector<Sym> order = vocab_in_id_order();
    std::vector<uint32_t> target = dense_ids(order.size(), added.reserved);
    result.new_max_id = target.back();
    size_t first_moved = 0;
    while (first_moved < order.size() && vocab.id(order[first_moved]) == target[first_moved]) ++first_moved;
    if (first_moved == order.size()) return result;

    // Everything that can fail is prepared before the vocabulary changes.
    result.old_ids.reserve(order.size() - first_moved);
    result.new_ids.reserve(order.size() - first_moved);
    for (size_t k = first_moved; k < order.size(); ++k) {
        if (vocab.id(order[k]) == target[k]) continue;
        result.old_ids.push_back(vocab.id(order[k]));
        result.new_ids.push_back(target[k]);
    }
    // Every ID up to the last is a vocabulary entry's or a reserved one.
    DenseIdSet used_ids = added.reserved, added_ids = added.reserved;
    used_ids.insert_below(target.back() + uint64_t{1});
    added_ids.reserve(size_t{target.back()} + 1);  // the followers' IDs go in below this without growing it
    const uint64_t never_gaps = reserved_inside(added.reserved, order, vocab, range.max);

    // The change, which cannot fail: replacing a number by a number.
    for (size_t k = first_moved; k < order.size(); ++k) vocab.set(order[k], target[k]);
    for (auto& [id, sym] : added.followers) *id = JsonValue{uint64_t{vocab.id(sym)}};
    for (auto& [id, sym] : added.followers) added_ids.insert(vocab.id(sym));
    used_ids_ = std::move(used_ids);
    added_ids_ = std::move(added_ids);
    shared_ids_.clear();  // every vocabulary ID is distinct now
    next_id_ = used_ids_.max() + 1;
    vocab_changed();
    result.ids_remapped = order.size() - first_moved;
    result.gaps_removed = range.gaps - std::min(range.gaps, never_gaps);
    return result;
}

}  // namespace lexmill
