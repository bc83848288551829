// Removing tokens with everything that depends on them. The cascade visits
// each marked string and each merge once through the merge indexes; merges
// are only marked removed, so nothing is rewritten wholesale.

#include "editor/editor.h"

namespace lexmill {

RemovalResult Editor::remove_token(std::string_view token) {
    RemovalResult result;
    result.root_token = token;
    // Built first: building the index interns every merge's result, so a
    // string that only merges produce is known to the pool from then on.
    MergeIndex& idx = index();
    Sym root = doc_.strings.find(token);
    if (root == kNoSym) {
        // Never seen: no merge can mention it and it is no vocabulary key.
        result.removed_tokens.emplace_back(token);
        return result;
    }

    MergeList& merges = doc_.model.merges;
    // Merges stay live in the list until the cascade is done, so the indexes
    // answer for the state at the start of the call, as the cascade's
    // definition requires.
    IdSet marked, removed;
    std::vector<Sym> pending{root}, marked_order;
    std::vector<uint32_t> removed_order;
    while (!pending.empty()) {
        Sym t = pending.back();
        pending.pop_back();
        if (!marked.insert(t)) continue;
        marked_order.push_back(t);
        idx.for_each_user(t, merges, [&](uint32_t e) {
            if (removed.insert(e)) {
                removed_order.push_back(e);
                pending.push_back(idx.result(e));
            }
        });
        uint32_t producer = idx.first_producer(t, merges);
        if (producer != MergeIndex::kNone && removed.insert(producer)) removed_order.push_back(producer);
    }

    result.removed_merges.reserve(removed_order.size());
    for (uint32_t e : removed_order) {
        const Merge& m = merges[e];
        result.removed_merges.emplace_back(doc_.strings.view(m.left), doc_.strings.view(m.right));
        merges.remove(e);
        changes_.results.push_back(idx.result(e));
    }
    Vocab& vocab = doc_.model.vocab;
    result.removed_tokens.reserve(marked_order.size());
    for (Sym t : marked_order) {
        result.removed_tokens.emplace_back(doc_.strings.view(t));
        if (vocab.contains(t)) {
            release_id(vocab.id(t));
            vocab.erase(t);
            vocab_changed();
            changes_.removed.push_back(t);
        }
    }
    compact_merges();
    settle_changes();
    return result;
}

std::vector<RemovalResult> Editor::remove_tokens(const std::vector<std::string>& tokens) {
    std::vector<RemovalResult> results;
    for (const std::string& token : tokens) {
        if (doc_.model.vocab.contains(doc_.strings.find(token))) results.push_back(remove_token(token));
    }
    return results;
}

void Editor::compact_merges() {
    MergeList& merges = doc_.model.merges;
    if (merges.removed_count() < 4096 || merges.removed_count() < merges.size()) return;
    merges.compact();
    if (index_.built()) index_.rebuild(doc_);
}

}  // namespace lexmill
