#include "editor/id_order.h"

#include <algorithm>

namespace lexmill {

std::vector<Sym> tokens_by_id(const Tokenizer& doc) {
    const Vocab& vocab = doc.model.vocab;
    const std::vector<Sym>& members = vocab.members();
    auto by_text = [&](Sym a, Sym b) { return doc.strings.view(a) < doc.strings.view(b); };
    uint32_t max_id = 0;
    for (Sym sym : members) max_id = std::max(max_id, vocab.id(sym));
    if (max_id > 4 * members.size() + 1024) {
        std::vector<Sym> order = members;
        std::sort(order.begin(), order.end(), [&](Sym a, Sym b) {
            uint32_t ia = vocab.id(a), ib = vocab.id(b);
            return ia != ib ? ia < ib : by_text(a, b);
        });
        return order;
    }
    // IDs are nearly dense, as they usually are: a counting sort, then the
    // few runs of equal IDs put in bytewise order.
    std::vector<uint32_t> next(size_t{max_id} + 2, 0);
    for (Sym sym : members) ++next[size_t{vocab.id(sym)} + 1];
    for (size_t i = 1; i < next.size(); ++i) next[i] += next[i - 1];
    std::vector<Sym> order(members.size());
    for (Sym sym : members) order[next[vocab.id(sym)]++] = sym;
    for (size_t i = 0; i < order.size();) {
        size_t j = i + 1;
        while (j < order.size() && vocab.id(order[j]) == vocab.id(order[i])) ++j;
        if (j - i > 1) std::sort(order.begin() + static_cast<ptrdiff_t>(i), order.begin() + static_cast<ptrdiff_t>(j), by_text);
        i = j;
    }
    return order;
}

}  // namespace lexmill
