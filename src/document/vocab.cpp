#include "document/vocab.h"

#include <algorithm>

namespace lexmill {

void Vocab::cover(Sym sym) {
    if (sym >= pos_.size()) {
        // A step at a time, not by a factor: the vectors grow their capacity
        // geometrically themselves, and capacity beyond the size is never
        // touched, so a large vocabulary costs what it holds. pos_ last: its
        // size is what says a handle is covered, so a failure to grow leaves
        // every array at least as long as pos_.
        constexpr size_t kStep = 4096;
        const size_t n = std::max<size_t>(size_t{sym} + 1, pos_.size() + kStep);
        in_sorted_.resize(std::max(n, in_sorted_.size()), 0);
        ids_.resize(std::max(n, ids_.size()), 0);
        pos_.resize(n, kAbsent);
    }
}

void Vocab::reserve(size_t count) {
    members_.reserve(count);
    ids_.reserve(count);
    pos_.reserve(count);
    in_sorted_.reserve(count);
}

void Vocab::set(Sym sym, uint32_t id) {
    cover(sym);
    if (pos_[sym] == kAbsent) {
        // Everything that can fail comes first, so a failed insertion leaves
        // the vocabulary as it was (an extra handle in inserted_ is ignored).
        if (sorted_once_) inserted_.push_back(sym);
        members_.push_back(sym);
        pos_[sym] = static_cast<uint32_t>(members_.size() - 1);
    }
    ids_[sym] = id;
}

void Vocab::forget_from(Sym first) noexcept {
    std::erase_if(sorted_, [&](Sym sym) {
        if (sym < first) return false;
        in_sorted_[sym] = 0;
        return true;
    });
    std::erase_if(inserted_, [&](Sym sym) { return sym >= first; });
}

bool Vocab::erase(Sym sym) {
    if (!contains(sym)) return false;
    uint32_t at = pos_[sym];
    Sym last = members_.back();
    members_[at] = last;
    pos_[last] = at;
    members_.pop_back();
    pos_[sym] = kAbsent;
    erased_ = true;
    return true;
}

const std::vector<Sym>& Vocab::sorted(const StringPool& strings) const {
    auto by_text = [&](Sym a, Sym b) { return strings.view(a) < strings.view(b); };
    if (!sorted_once_) {
        std::vector<Sym> all = members_;
        std::sort(all.begin(), all.end(), by_text);
        for (Sym sym : all) in_sorted_[sym] = 1;
        sorted_ = std::move(all);
        sorted_once_ = true;
        erased_ = false;
        return sorted_;
    }
    if (!erased_ && inserted_.empty()) return sorted_;
    if (erased_) {
        std::erase_if(sorted_, [&](Sym sym) {
            if (contains(sym)) return false;
            in_sorted_[sym] = 0;
            return true;
        });
    }
    std::vector<Sym> fresh;
    for (Sym sym : inserted_) {
        if (contains(sym) && !in_sorted_[sym]) {
            in_sorted_[sym] = 1;
            fresh.push_back(sym);
        }
    }
    std::sort(fresh.begin(), fresh.end(), by_text);
    if (sorted_.empty()) {
        sorted_ = std::move(fresh);
    } else if (!fresh.empty()) {
        size_t middle = sorted_.size();
        sorted_.insert(sorted_.end(), fresh.begin(), fresh.end());
        std::inplace_merge(sorted_.begin(), sorted_.begin() + middle, sorted_.end(), by_text);
    }
    inserted_.clear();
    erased_ = false;
    return sorted_;
}

}  // namespace lexmill
