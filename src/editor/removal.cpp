// Removing tokens with everything that depends on them. The cascade visits
// each marked string and each merge once through the merge indexes and is
// worked out whole before anything changes, so a removal either happens
// completely or not at all; merges are only marked removed, so nothing is
// rewritten wholesale.

#include "editor/editor.h"

namespace lexmill {

Editor::Cascade Editor::cascade_of(Sym root) {
    MergeIndex& idx = index();
    const MergeList& merges = doc_.model.merges;
    // Merges stay live in the list until the cascade is done, so the indexes
    // answer for the state at the start of the removal.
    Cascade cascade;
    TokenSet marked;
    EntrySet removed;
    std::vector<Sym> pending{root};
    while (!pending.empty()) {
        Sym t = pending.back();
        pending.pop_back();
        if (!marked.insert(t)) continue;
        cascade.marked.push_back(t);
        idx.for_each_user(t, merges, [&](uint32_t e) {
            if (removed.insert(e)) {
                cascade.merges.push_back(e);
                pending.push_back(idx.result(e));
            }
        });
        // Every merge producing a removed string goes: one left behind would
        // name a result that is no longer there, which readers refuse.
        idx.for_each_producer(t, merges, [&](uint32_t e) {
            if (removed.insert(e)) cascade.merges.push_back(e);
        });
    }
    return cascade;
}

RemovalResult Editor::remove_cascade(std::string_view token, const Cascade& cascade, FreeIds* freed) {
    MergeList& merges = doc_.model.merges;
    Vocab& vocab = doc_.model.vocab;
    // Everything that can fail comes first.
    RemovalResult result;
    result.root_token = token;
    result.removed_merges.reserve(cascade.merges.size());
    for (uint32_t e : cascade.merges) {
        result.removed_merges.emplace_back(doc_.strings.view(merges[e].left), doc_.strings.view(merges[e].right));
    }
    result.removed_tokens.reserve(cascade.marked.size());
    for (Sym t : cascade.marked) result.removed_tokens.emplace_back(doc_.strings.view(t));
    changes_.results.reserve(changes_.results.size() + cascade.merges.size());
    std::vector<uint32_t> freed_ids;
    freed_ids.reserve(cascade.marked.size());

    for (uint32_t e : cascade.merges) {
        merges.remove(e);
        changes_.results.push_back(index_.result(e));
    }
    for (Sym t : cascade.marked) {
        if (!vocab.contains(t)) continue;
        uint32_t id = vocab.id(t);
        vocab.erase(t);
        if (release_id(id)) freed_ids.push_back(id);
    }
    vocab_changed();
    settle_changes();
    if (freed) {
        for (uint32_t id : freed_ids) freed->push(id);
    }
    return result;
}

RemovalResult Editor::remove_token(std::string_view token) {
    // Built first: building the index interns every merge's result, so a
    // string that only merges produce is known to the pool from then on.
    index();
    Sym root = doc_.strings.find(token);
    if (root == kNoSym) {
        // Never seen: no merge can mention it and it is no vocabulary key.
        RemovalResult result;
        result.root_token = token;
        result.removed_tokens.emplace_back(token);
        return result;
    }
    RemovalResult result = remove_cascade(token, cascade_of(root));
    compact_merges();
    return result;
}

std::vector<RemovalResult> Editor::remove_tokens(const std::vector<std::string>& tokens) {
    std::vector<RemovalResult> results;
    for (const std::string& token : tokens) {
        if (has_token(token)) results.push_back(remove_token(token));
    }
    return results;
}

}  // namespace lexmill
