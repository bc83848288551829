// Adding tokens while keeping the vocabulary's size and ID range, for a model
// whose embedding matrix has a row per ID: every entry an addition creates
// (the token and the pieces of its chain) is paid for by removing the longest
// tokens that may go, and takes an ID one of those removals freed.

#include <algorithm>

#include "editor/editor.h"

namespace lexmill {

// One add_tokens_keep_size call: the tokens it spares, the tokens it passed
// over as victims, and the IDs its removals freed.
class Editor::KeepSizeRun {
public:
    KeepSizeRun(Editor& editor, const std::optional<std::vector<std::string>>& whitelist, KeepSizeReport& report)
        : editor_(editor), report_(report) {
        if (whitelist) {
            for (const std::string& token : *whitelist) spared_.insert(editor_.doc_.strings.intern(token));
        }
    }

    // Adds the token and removes victims until every entry it created is
    // paid for; false, with the token taken back rather than let the
    // vocabulary grow, when no victim is left.
    bool add(std::string_view token, AdditionMethod method) {
        Journal journal;
        editor_.add_checked(token, method, &journal);
        for (const auto& [sym, id] : journal.inserted) spared_.insert(sym);
        if (!make_room(journal.inserted.size())) {
            editor_.undo(journal);
            return false;
        }
        editor_.renumber(journal, free_ids_);
        return true;
    }

    // Puts the tokens passed over back into the lasting removal order.
    void restore_passed_over() noexcept {
        if (!editor_.victims_) return;
        try {
            for (Sym sym : passed_over_) editor_.victims_->heap().push(editor_.doc_, editor_.index_, sym);
        } catch (...) {
            editor_.victims_.reset();
        }
    }

private:
    // Spared tokens are never removed, neither as victims nor by a victim's
    // cascade: the whitelist and everything this call inserts. Registered
    // added tokens are spared the same way; tokens of protected form and
    // registered ones never enter the lasting removal order at all.
    bool is_spared(Sym sym) const { return spared_.contains(sym) || editor_.registered_.contains(sym); }

    // The next victim with its cascade, or nothing when none is left.
    std::optional<std::pair<Sym, Cascade>> next_victim() {
        editor_.index();
        if (!editor_.victims_) editor_.victims_.emplace(editor_.doc_, editor_.index_, editor_.registered_);
        VictimHeap& heap = editor_.victims_->heap();
        auto spared = [this](Sym sym) { return is_spared(sym); };
        while (std::optional<VictimHeap::Entry> top = heap.top(editor_.doc_, editor_.index_)) {
            heap.pop(editor_.doc_);
            if (!is_spared(top->sym)) {
                Cascade cascade = editor_.cascade_of(top->sym);
                if (std::none_of(cascade.marked.begin(), cascade.marked.end(), spared)) {
                    return std::pair{top->sym, std::move(cascade)};
                }
            }
            passed_over_.push_back(top->sym);
        }
        return std::nullopt;
    }

    // Removes victims until the vocabulary is back at its size and `needed`
    // IDs are free; false when no victim is left.
    bool make_room(size_t needed) {
        while (editor_.vocab_size() > report_.initial_vocab_size || free_ids_.size() < needed) {
            std::optional<std::pair<Sym, Cascade>> victim = next_victim();
            if (!victim) return false;
            editor_.remove_cascade(editor_.doc_.strings.view(victim->first), victim->second, &free_ids_);
            ++report_.tokens_removed;
        }
        return true;
    }

    Editor& editor_;
    KeepSizeReport& report_;
    DenseTokenSet spared_;
    std::vector<Sym> passed_over_;
    FreeIds free_ids_;
};

KeepSizeReport Editor::add_tokens_keep_size(const std::vector<std::string>& tokens,
                                            const std::optional<std::vector<std::string>>& whitelist,
                                            AdditionMethod method) {
    KeepSizeReport report;
    report.initial_vocab_size = vocab_size();
    report.tokens_requested = tokens.size();
    KeepSizeRun run(*this, whitelist, report);
    try {
        // Once nothing is left to remove, every later new token is left out.
        bool stopped = false;
        for (const std::string& token : tokens) {
            if (has_token(token)) continue;
            if (!stopped && run.add(token, method)) {
                ++report.tokens_added;
            } else {
                stopped = true;
                ++report.tokens_not_added;
            }
        }
    } catch (...) {
        // Tokens passed over have left the lasting order.
        victims_.reset();
        throw;
    }
    run.restore_passed_over();
    compact_merges();
    report.final_vocab_size = vocab_size();
    return report;
}

}  // namespace lexmill
