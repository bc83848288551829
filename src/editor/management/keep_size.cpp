// Adding tokens while keeping the vocabulary's size and ID range, for a model
// whose embedding matrix has a row per ID: every entry an addition creates
// (the token and the pieces of its chain) is paid for by removing the longest
// tokens that may go, and takes an ID one of those removals freed.

#include "editor/editor.h"

namespace lexmill {

KeepSizeReport Editor::add_tokens_keep_size(const std::vector<std::string>& tokens,
                                            const std::optional<std::vector<std::string>>& whitelist,
                                            AdditionMethod method) {
    KeepSizeReport report;
    report.initial_vocab_size = vocab_size();
    report.tokens_requested = tokens.size();

    // Spared tokens are never removed, neither as victims nor by a victim's
    // cascade: the whitelist and everything this call inserts. Registered
    // added tokens are spared the same way; tokens of protected form and
    // registered ones never enter the lasting removal order at all.
    DenseTokenSet spared;
    if (whitelist) {
        for (const std::string& token : *whitelist) spared.insert(doc_.strings.intern(token));
    }
    auto is_spared = [&](Sym sym) { return spared.contains(sym) || registered_.contains(sym); };
    std::vector<Sym> passed_over;
    FreeIds free_ids;

    // The next victim with its cascade, or nothing when none is left.
    auto next_victim = [&]() -> std::optional<std::pair<Sym, Cascade>> {
        index();
        if (!victims_) victims_.emplace(doc_, index_, registered_);
        VictimHeap& heap = victims_->heap();
        while (std::optional<VictimHeap::Entry> top = heap.top(doc_, index_)) {
            heap.pop(doc_);
            if (!is_spared(top->sym)) {
                Cascade cascade = cascade_of(top->sym);
                if (std::none_of(cascade.marked.begin(), cascade.marked.end(), is_spared)) {
                    return std::pair{top->sym, std::move(cascade)};
                }
            }
            passed_over.push_back(top->sym);
        }
        return std::nullopt;
    };
    // Removes victims until the vocabulary is back at its size and `needed`
    // IDs are free; false when no victim is left.
    auto make_room = [&](size_t needed) {
        while (vocab_size() > report.initial_vocab_size || free_ids.size() < needed) {
            std::optional<std::pair<Sym, Cascade>> victim = next_victim();
            if (!victim) return false;
            remove_cascade(doc_.strings.view(victim->first), victim->second, &free_ids);
            ++report.tokens_removed;
        }
        return true;
    };

    try {
        bool stopped = false;
        for (const std::string& token : tokens) {
            if (doc_.model.vocab.contains(doc_.strings.find(token))) continue;
            if (stopped) {
                ++report.tokens_not_added;
                continue;
            }
            Journal journal;
            add_checked(token, method, &journal);
            for (const auto& [sym, id] : journal.inserted) spared.insert(sym);
            if (!make_room(journal.inserted.size())) {
                // Nothing is left to remove: the token is taken back rather
                // than let the vocabulary grow.
                undo(journal);
                ++report.tokens_not_added;
                stopped = true;
                continue;
            }
            renumber(journal, free_ids);
            ++report.tokens_added;
        }
    } catch (...) {
        // Tokens passed over have left the lasting order.
        victims_.reset();
        throw;
    }
    if (victims_) {
        try {
            for (Sym sym : passed_over) victims_->heap().push(doc_, index_, sym);
        } catch (...) {
            victims_.reset();
        }
    }
    compact_merges();
    report.final_vocab_size = vocab_size();
    return report;
}

}  // namespace lexmill
