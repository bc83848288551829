// Read-only queries of the editor.

#include <algorithm>
#include <map>

#include "editor/editor.h"
#include "editor/token_text.h"

namespace lexmill {

bool Editor::has_token(std::string_view token) const {
    return doc_.model.vocab.contains(doc_.strings.find(token));
}

std::optional<uint32_t> Editor::get_token_id(std::string_view token) const {
    Sym sym = doc_.strings.find(token);
    if (!doc_.model.vocab.contains(sym)) return std::nullopt;
    return doc_.model.vocab.id(sym);
}

std::optional<std::string_view> Editor::get_token_by_id(uint32_t id) const {
    if (!id_lookup_) {
        std::vector<std::pair<uint32_t, Sym>> lookup;
        std::vector<Sym> order = vocab_in_id_order();
        lookup.reserve(order.size());
        for (Sym sym : order) lookup.emplace_back(doc_.model.vocab.id(sym), sym);
        id_lookup_ = std::move(lookup);
    }
    // Entries are in ID order with equal IDs bytewise, so the first match is the
    // bytewise-smallest token carrying the ID.
    auto it = std::lower_bound(id_lookup_->begin(), id_lookup_->end(), id,
                               [](const std::pair<uint32_t, Sym>& e, uint32_t v) { return e.first < v; });
    if (it == id_lookup_->end() || it->first != id) return std::nullopt;
    return doc_.strings.view(it->second);
}

std::vector<VocabEntry> Editor::get_vocab() const {
    const Vocab& vocab = doc_.model.vocab;
    const std::vector<Sym>& sorted = vocab.sorted(doc_.strings);
    std::vector<VocabEntry> entries;
    entries.reserve(sorted.size());
    for (Sym sym : sorted) entries.push_back({doc_.strings.view(sym), vocab.id(sym)});
    return entries;
}

std::vector<MergeView> Editor::get_merges() const {
    std::vector<MergeView> merges;
    merges.reserve(doc_.model.merges.size());
    doc_.model.merges.for_each([&](uint32_t, const Merge& m) {
        merges.push_back({doc_.strings.view(m.left), doc_.strings.view(m.right)});
    });
    return merges;
}

std::vector<VocabEntry> Editor::get_single_char_tokens() const {
    const Vocab& vocab = doc_.model.vocab;
    std::vector<VocabEntry> entries;
    for (Sym sym : vocab.sorted(doc_.strings)) {
        if (doc_.strings.char_count(sym) == 1) entries.push_back({doc_.strings.view(sym), vocab.id(sym)});
    }
    return entries;
}

TokenizerStats Editor::get_stats() const {
    const Vocab& vocab = doc_.model.vocab;
    TokenizerStats stats;
    stats.vocab_size = vocab.size();
    stats.merges_count = doc_.model.merges.size();
    std::map<uint64_t, uint64_t> lengths;
    uint32_t min_id = 0xFFFFFFFFu, max_id = 0;
    for (Sym sym : vocab.members()) {
        uint32_t chars = doc_.strings.char_count(sym);
        ++lengths[chars];
        if (chars == 1) ++stats.single_char_count;
        if (is_bracketed(doc_.strings.view(sym))) ++stats.special_token_count;
        min_id = std::min(min_id, vocab.id(sym));
        max_id = std::max(max_id, vocab.id(sym));
    }
    if (!vocab.empty()) {
        stats.min_token_id = min_id;
        stats.max_token_id = max_id;
    }
    stats.length_distribution.assign(lengths.begin(), lengths.end());
    return stats;
}

}  // namespace lexmill
