// Merge validation: a merge is valid when its result is a vocabulary token.

#include "editor/editor.h"
#include "editor/token_text.h"

namespace lexmill {

namespace {

// Calls fn(entry, position, valid) for every live merge in list order.
template <typename Fn>
void check_merges(const Tokenizer& doc, const MergeIndex& index, Fn&& fn) {
    PairText pair;
    uint64_t position = 0;
    doc.model.merges.for_each([&](uint32_t e, const Merge& m) {
        Sym result = index.built() ? index.result(e) : pair.find(doc.strings, m.left, m.right);
        fn(e, position++, doc.model.vocab.contains(result));
    });
}

}  // namespace

ValidationResult Editor::validate_merges() const {
    ValidationResult result;
    check_merges(doc_, index_, [&](uint32_t e, uint64_t position, bool valid) {
        if (valid) {
            ++result.valid_count;
            return;
        }
        const Merge& m = doc_.model.merges[e];
        result.invalid_merges.push_back(
            {position, std::string(doc_.strings.view(m.left)), std::string(doc_.strings.view(m.right))});
    });
    result.invalid_count = result.invalid_merges.size();
    return result;
}

uint64_t Editor::remove_invalid_merges() {
    std::vector<uint32_t> invalid;
    check_merges(doc_, index_, [&](uint32_t e, uint64_t, bool valid) {
        if (!valid) invalid.push_back(e);
    });
    for (uint32_t e : invalid) {
        doc_.model.merges.remove(e);
        if (index_.built()) changes_.results.push_back(index_.result(e));
    }
    compact_merges();
    settle_changes();
    return invalid.size();
}

}  // namespace lexmill
