// The editor's own bookkeeping, shared by every edit: reserved IDs, the
// longest token, the merge indexes, compaction of the merge list and the
// lasting removal order.

#include "editor/editor.h"

#include <algorithm>

#include "editor/added_tokens.h"

namespace lexmill {

void Editor::rebuild_used_ids() {
    const Vocab& vocab = doc_.model.vocab;
    used_ids_.clear();
    shared_ids_.clear();
    used_ids_.reserve(vocab.size());
    for (Sym sym : vocab.members()) {
        uint32_t id = vocab.id(sym);
        // A second holder of an ID: tokens sharing IDs are counted, so that
        // removing one of them keeps the ID reserved for the others.
        if (!used_ids_.insert(id)) ++shared_ids_.try_emplace(id, 1).first->second;
    }
    added_ids_.clear();
    for (const JsonValue& entry : doc_.added_tokens) {
        if (std::optional<uint32_t> id = added_token_id(entry)) added_ids_.insert(*id);
    }
    added_ids_.for_each([&](uint32_t id) { used_ids_.insert(id); });
    // One above the largest, wrapping to 0 after 4294967295; 1 when nothing is used.
    next_id_ = used_ids_.empty() ? 1 : used_ids_.max() + 1;
}

void Editor::collect_registered() {
    registered_.clear();
    added_contents_.clear();
    for (const JsonValue& entry : doc_.added_tokens) {
        const std::string* content = added_token_content(entry);
        added_contents_.push_back(content ? doc_.strings.intern(*content) : kNoSym);
        if (content) registered_.insert(added_contents_.back());
    }
}

void Editor::measure_longest_token() noexcept {
    longest_token_ = 0;
    for (Sym sym : doc_.model.vocab.members()) {
        longest_token_ = std::max<size_t>(longest_token_, doc_.strings.view(sym).size());
    }
}

bool Editor::release_id(uint32_t id) {
    auto shared = shared_ids_.find(id);
    if (shared != shared_ids_.end()) {
        if (--shared->second == 1) shared_ids_.erase(shared);
        return false;  // another vocabulary token still has it
    }
    if (added_ids_.contains(id)) return false;
    used_ids_.erase(id);
    return true;
}

uint32_t Editor::allocate_id() {
    uint32_t candidate = next_id_;
    uint64_t steps = 0;
    while (used_ids_.contains(candidate)) {
        ++candidate;  // wraps past 4294967295 to 0
        if (++steps > 0xFFFFFFFFull) internal_failure("every 32-bit ID is in use");
    }
    used_ids_.insert(candidate);
    next_id_ = candidate + 1;
    return candidate;
}

MergeIndex& Editor::index() {
    if (!index_.built()) index_.rebuild(doc_);
    return index_;
}

void Editor::compact_merges() {
    MergeList& merges = doc_.model.merges;
    if (merges.removed_count() < 4096 || merges.removed_count() < merges.size()) return;
    merges.compact();
    // Entries were renumbered: an index that cannot be rebuilt now is left to
    // be built by the next edit that needs it.
    if (index_.built()) index_.rebuild(doc_);
}

void Editor::settle_changes() noexcept {
    // An order that missed a change would pick wrong victims; one that
    // cannot hear of it is dropped and built afresh by the next keep-size
    // addition instead.
    if (victims_ && !index_.built()) victims_.reset();
    if (victims_) {
        try {
            for (Sym sym : changes_.inserted) victims_->touch(doc_, index_, registered_, sym);
            for (Sym sym : changes_.results) victims_->touch(doc_, index_, registered_, sym);
        } catch (...) {
            victims_.reset();
        }
    }
    changes_.clear();
}

}  // namespace lexmill
