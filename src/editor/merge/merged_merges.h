#pragma once
// The merge list of a merged tokenizer: bridge merges first, then the source's
// merges in the target's representation, then the target's own, each admitted
// once and only when its parts and its result are in the merged vocabulary.

#include <cstdint>

#include "document/tokenizer.h"
#include "editor/dense_set.h"
#include "editor/flat_set.h"
#include "editor/merge/conversion_plan.h"

namespace lexmill {

struct MergedMerges {
    MergeList merges;
    uint64_t bridge_merges_added = 0;
    uint64_t source_merges_added = 0;
    uint64_t target_merges_retained = 0;
};

// `target` still holds its old merge list; `kept` is the merged vocabulary.
MergedMerges build_merged_merges(const ConversionPlan& plan, const Tokenizer& source, const Tokenizer& target,
                                 const DenseTokenSet& kept);

}  // namespace lexmill
