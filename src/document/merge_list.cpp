#include "document/merge_list.h"

namespace lexmill {

void MergeList::compact() {
    if (removed_count_ == 0) return;
    size_t out = 0;
    for (size_t e = 0; e < entries_.size(); ++e) {
        if (!removed_[e]) entries_[out++] = entries_[e];
    }
    entries_.resize(out);
    removed_.assign(out, 0);
    removed_count_ = 0;
}

}  // namespace lexmill
