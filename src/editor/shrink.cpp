// Shrinking: choosing the longest ordinary tokens and removing them with
// their cascades.

#include <algorithm>

#include "editor/editor.h"
#include "editor/token_text.h"

namespace lexmill {

std::vector<Sym> Editor::shrink_candidates(uint64_t count, uint32_t min_id) const {
    const Vocab& vocab = doc_.model.vocab;
    const StringPool& strings = doc_.strings;
    std::vector<Sym> candidates;
    for (Sym sym : vocab.members()) {
        // Never chosen besides tokens of protected form: the empty token, and
        // tokens registered as added tokens, which a reader would renumber
        // once they left the vocabulary.
        if (vocab.id(sym) >= min_id && !has_protected_form(strings, sym) && !strings.view(sym).empty() &&
            !registered_.contains(sym)) {
            candidates.push_back(sym);
        }
    }
    // Longest first, then highest ID, then bytewise: the order a stable sort
    // over the vocabulary's key order gives.
    auto before = [&](Sym a, Sym b) {
        uint32_t ca = strings.char_count(a), cb = strings.char_count(b);
        if (ca != cb) return ca > cb;
        uint32_t ia = vocab.id(a), ib = vocab.id(b);
        if (ia != ib) return ia > ib;
        return strings.view(a) < strings.view(b);
    };
    if (count < candidates.size()) {
        std::partial_sort(candidates.begin(), candidates.begin() + static_cast<ptrdiff_t>(count), candidates.end(),
                          before);
        candidates.resize(count);
    } else {
        std::sort(candidates.begin(), candidates.end(), before);
    }
    return candidates;
}

std::vector<ShrinkCandidate> Editor::find_tokens_to_shrink(uint64_t count, uint32_t min_id) const {
    std::vector<ShrinkCandidate> result;
    for (Sym sym : shrink_candidates(count, min_id)) {
        result.push_back({std::string(doc_.strings.view(sym)), doc_.model.vocab.id(sym), doc_.strings.char_count(sym)});
    }
    return result;
}

ShrinkResult Editor::shrink(uint64_t count, uint32_t min_id) {
    std::vector<Sym> candidates = shrink_candidates(count, min_id);
    ShrinkResult result;
    result.initial_vocab_size = vocab_size();
    result.initial_merges_count = merges_count();
    for (Sym sym : candidates) {
        if (!doc_.model.vocab.contains(sym)) continue;  // taken by an earlier cascade
        RemovalResult removal = remove_token(doc_.strings.view(sym));
        ++result.tokens_removed_count;
        result.total_tokens_removed += removal.removed_tokens.size();
        result.total_merges_removed += removal.removed_merges.size();
    }
    result.final_vocab_size = vocab_size();
    result.final_merges_count = merges_count();
    return result;
}

}  // namespace lexmill
