#include "editor/merge/merged_merges.h"

#include "editor/token_text.h"

namespace lexmill {

namespace {

class Admission {
public:
    Admission(const Tokenizer& target, const DenseTokenSet& kept, MergeList& out) : target_(target), kept_(kept), out_(out) {}

    // 1 when (left, right) joins the list: new, and both parts and the result kept.
    uint64_t offer(Sym left, Sym right) {
        if (seen_.contains(pair_key(left, right))) return 0;
        if (kept_.empty() || !kept_.contains(left) || !kept_.contains(right)) return 0;
        Sym result = pair_.find(target_.strings, left, right);
        if (result == kNoSym || !kept_.contains(result)) return 0;
        seen_.insert(pair_key(left, right));
        out_.append(Merge{left, right});
        return 1;
    }

private:
    const Tokenizer& target_;
    const DenseTokenSet& kept_;
    MergeList& out_;
    PairSet seen_;
    PairText pair_;
};

// The converted merge composes when converted left + converted right is, byte
// for byte, the converted result (NFC can join a letter and a combining mark).
bool composes(const Tokenizer& target, Sym left, Sym right, Sym result) {
    std::string_view l = target.strings.view(left), r = target.strings.view(right), whole = target.strings.view(result);
    return whole.size() == l.size() + r.size() && whole.substr(0, l.size()) == l && whole.substr(l.size()) == r;
}

}  // namespace

MergedMerges build_merged_merges(const ConversionPlan& plan, const Tokenizer& source, const Tokenizer& target,
                                 const DenseTokenSet& kept) {
    MergedMerges merged;
    Admission admission(target, kept, merged.merges);

    for (const Merge& m : plan.bridge_merges) merged.bridge_merges_added += admission.offer(m.left, m.right);

    if (plan.conversion_count > 0) {
        PairText pair;
        source.model.merges.for_each([&](uint32_t, const Merge& m) {
            Sym left = plan.converted(m.left), right = plan.converted(m.right);
            Sym result = plan.converted(pair.find(source.strings, m.left, m.right));
            if (left == kNoSym || right == kNoSym || result == kNoSym) return;
            if (!composes(target, left, right, result)) return;
            merged.source_merges_added += admission.offer(left, right);
        });
    }

    target.model.merges.for_each(
        [&](uint32_t, const Merge& m) { merged.target_merges_retained += admission.offer(m.left, m.right); });
    return merged;
}

}  // namespace lexmill
