// Adding tokens: with the merges that let BPE produce them, or bare. Every
// addition runs inside a journal, so that one that cannot finish (out of
// memory halfway through a long chain, say) leaves the editor as it was.

#include "editor/editor.h"
#include "editor/token_text.h"

namespace lexmill {

namespace {

// Room for one more element, growing geometrically, so that the push_back
// that follows cannot fail.
template <typename T>
void make_room(std::vector<T>& items) {
    if (items.size() == items.capacity()) items.reserve(std::max<size_t>(16, items.capacity() * 2));
}

}  // namespace

AdditionResult Editor::add_token(std::string_view token, AdditionMethod method) {
    return add_checked(token, method);
}

std::vector<AdditionResult> Editor::add_tokens(const std::vector<std::string>& tokens, AdditionMethod method) {
    std::vector<AdditionResult> results;
    results.reserve(tokens.size());
    for (const std::string& token : tokens) results.push_back(add_token(token, method));
    return results;
}

bool Editor::add_token_atomic(std::string_view token) {
    if (has_token(token)) return false;
    add_atomically([&] { ensure_token(doc_.strings.intern(token)); });
    settle_changes();
    return true;
}

AdditionResult Editor::add_checked(std::string_view token, AdditionMethod method, Journal* kept) {
    AdditionResult result;
    result.token = token;
    if (has_token(token)) {
        result.method = "already_exists";
        return result;
    }
    result.added = true;
    Journal journal = add_atomically([&] {
        if (count_chars(token) == 1) {
            ensure_token(doc_.strings.intern(token));
            result.method = "single_char";
        } else if (method == AdditionMethod::reachable) {
            add_reachable(token, result);
        } else {
            add_with_chain(token, result);
        }
    });
    settle_changes();
    if (kept) *kept = std::move(journal);
    return result;
}

Editor::Journal Editor::add_atomically(const std::function<void()>& add) {
    Journal journal{doc_.strings.mark(), doc_.model.merges.entry_count(), next_id_, longest_token_, {}};
    journal_ = &journal;
    try {
        add();
    } catch (...) {
        journal_ = nullptr;
        undo(journal);
        throw;
    }
    journal_ = nullptr;
    return journal;
}

void Editor::undo(const Journal& journal) noexcept {
    Vocab& vocab = doc_.model.vocab;
    for (auto it = journal.inserted.rbegin(); it != journal.inserted.rend(); ++it) {
        vocab.erase(it->first);
        used_ids_.erase(it->second);  // newly taken, so held by nothing else
    }
    const bool merges_added = doc_.model.merges.entry_count() != journal.merge_entries;
    const bool strings_added = doc_.strings.size() != journal.strings.entries;
    doc_.model.merges.truncate(journal.merge_entries);
    // Derived state that may refer to what is taken back is dropped and
    // built again when next needed.
    if (merges_added || strings_added) index_.clear();
    victims_.reset();
    changes_.clear();
    vocab_changed();
    next_id_ = journal.next_id;
    longest_token_ = journal.longest_token;
    vocab.forget_from(journal.strings.entries);
    doc_.strings.roll_back(journal.strings);
}

void Editor::renumber(const Journal& journal, FreeIds& free_ids) noexcept {
    Vocab& vocab = doc_.model.vocab;
    for (const auto& [sym, taken] : journal.inserted) {
        if (free_ids.empty()) break;
        uint32_t id = free_ids.top();
        free_ids.pop();
        vocab.set(sym, id);  // an existing token: only its ID changes
        used_ids_.erase(taken);
        used_ids_.insert(id);
    }
    next_id_ = journal.next_id;
    vocab_changed();
}

void Editor::ensure_token(Sym sym) {
    Vocab& vocab = doc_.model.vocab;
    if (vocab.contains(sym)) return;
    make_room(journal_->inserted);
    make_room(changes_.inserted);
    uint32_t id = allocate_id();
    journal_->inserted.emplace_back(sym, id);
    vocab.set(sym, id);
    changes_.inserted.push_back(sym);
    longest_token_ = std::max<size_t>(longest_token_, doc_.strings.view(sym).size());
    vocab_changed();
}

bool Editor::has_merge(Sym left, Sym right) const {
    Sym result = PairText().find(doc_.strings, left, right);
    if (result == kNoSym) return false;
    // Left followed by right is the result, so equal left parts mean equal right parts.
    bool found = false;
    index_.for_each_producer(result, doc_.model.merges, [&](uint32_t e) {
        found = found || doc_.model.merges[e].left == left;
    });
    return found;
}

void Editor::append_merge(Sym left, Sym right, std::vector<MergeText>& added) {
    added.emplace_back(doc_.strings.view(left), doc_.strings.view(right));
    make_room(changes_.results);
    uint32_t entry = doc_.model.merges.append(Merge{left, right});
    index_.add(doc_, entry);
    changes_.results.push_back(index_.result(entry));
}

}  // namespace lexmill
