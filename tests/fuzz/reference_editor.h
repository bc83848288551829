#pragma once
// A slow, literal editor that the fuzz harnesses compare the real one with: ordered containers, scans of the whole
// merge list, a full sort for every choice, and none of the real editor's indexes.

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "document/string_pool.h"
#include "editor/records.h"

namespace fuzz {

using lexmill::count_chars;
using Pair = std::pair<std::string, std::string>;
using Merges = std::vector<lexmill::MergeText>;

inline bool bracketed(const std::string& t) { return !t.empty() && ((t.front() == '[' && t.back() == ']') || (t.front() == '<' && t.back() == '>')); }

inline std::vector<std::string> characters(const std::string& text) {
    std::vector<std::string> out;
    for (size_t i = 0, j; i < text.size(); i = j) {
        for (j = i + 1; j < text.size() && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80;) ++j;
        out.push_back(text.substr(i, j - i));
    }
    return out;
}

// An added-token entry as the editor reads it: "content" when a string, "id" when an unsigned 32-bit integer, and
// whether "id" is there at all.
struct AddedEntry { std::optional<std::string> content; std::optional<uint32_t> id; bool has_id = false; };

struct ReferenceEditor {
    std::map<std::string, uint32_t> vocab;
    std::vector<Pair> merges;
    std::vector<AddedEntry> added;
    std::set<uint32_t> used_ids;
    uint32_t next_id = 1;
    std::vector<std::string>* insert_log = nullptr;  // every token inserted, while set

    void rebuild_used_ids() {
        used_ids.clear();
        for (const auto& [t, id] : vocab) used_ids.insert(id);
        for (const AddedEntry& e : added) if (e.id) used_ids.insert(*e.id);
        next_id = used_ids.empty() ? 1 : *used_ids.rbegin() + 1;
    }
    bool has(const std::string& t) const { return vocab.count(t) != 0; }
    bool registered(const std::string& t) const { return std::ranges::any_of(added, [&](const AddedEntry& e) { return e.content == t; }); }
    bool has_merge(const std::string& l, const std::string& r) const { return std::ranges::find(merges, Pair(l, r)) != merges.end(); }
    bool produced(const std::string& t) const { return std::ranges::any_of(merges, [&](const Pair& m) { return m.first + m.second == t; }); }
    void insert(const std::string& t) {
        uint32_t id = next_id;
        while (used_ids.count(id)) ++id;
        used_ids.insert(id), next_id = id + 1, vocab.emplace(t, id);
        if (insert_log) insert_log->push_back(t);
    }
    void ensure(const std::string& t) { if (!has(t)) insert(t); }
    void append_merge(const std::string& l, const std::string& r, Merges& log) { merges.emplace_back(l, r), log.emplace_back(l, r); }
    std::optional<std::string> token_by_id(uint32_t id) const { for (const auto& [t, i] : vocab) if (i == id) return t; return std::nullopt; }

    lexmill::ValidationResult validate() const {
        lexmill::ValidationResult r;
        for (size_t p = 0; p < merges.size(); ++p)
            if (!has(merges[p].first + merges[p].second)) r.invalid_merges.push_back({p, merges[p].first, merges[p].second});
        r.invalid_count = r.invalid_merges.size(), r.valid_count = merges.size() - r.invalid_count;
        return r;
    }
    uint64_t remove_invalid_merges() { return std::erase_if(merges, [&](const Pair& m) { return !has(m.first + m.second); }); }

    // Each character, and each prefix from the first one, joined by a merge.
    Merges chain(const std::string& text) {
        Merges out;
        std::string current;
        for (const std::string& c : characters(text)) {
            ensure(c);
            if (!current.empty() && !has_merge(current, c)) append_merge(current, c, out);
            ensure(current += c);
        }
        return out;
    }

    lexmill::AdditionResult add(const std::string& token, bool reachable) {
        lexmill::AdditionResult r{token, !has(token), "already_exists", {}};
        std::vector<std::string> chars = characters(token);
        if (!r.added) return r;
        r.method = chars.size() == 1 ? "single_char" : reachable ? "reachable" : "char_chain";
        if (chars.size() == 1) return insert(token), r;
        if (reachable) {
            for (const std::string& c : chars) ensure(c);
            // Each time BPE gets stuck, its first two pieces are joined by a new merge at the end.
            for (auto p = bpe(token); p.size() > 1; p = bpe(token)) {
                for (const std::string& piece : {p[0], p[1], p[0] + p[1]}) ensure(piece);
                append_merge(p[0], p[1], r.added_merges);
            }
            return ensure(token), r;
        }
        std::string prefix = token;  // the longest proper prefix in the vocabulary, if any
        for (size_t k = chars.size(); k > 1 && (k == chars.size() || !has(prefix)); --k) prefix.resize(prefix.size() - chars[k - 1].size());
        if (chars.size() < 2 || !has(prefix)) return r.added_merges = chain(token), ensure(token), r;
        std::string suffix = token.substr(prefix.size());
        if (!has(suffix)) r.added_merges = chain(suffix);
        if (!has_merge(prefix, suffix)) append_merge(prefix, suffix, r.added_merges);
        insert(token), r.method = "longest_prefix";
        return r;
    }
    bool add_token_atomic(const std::string& t) { return !has(t) && (insert(t), true); }

    // BPE on the characters of `text`: the neighbours whose pair comes first in the list (by its last place there) are
    // joined, the leftmost of equals first.
    std::vector<std::string> bpe(const std::string& text) const {
        for (std::vector<std::string> pieces = characters(text);;) {
            std::optional<std::pair<size_t, size_t>> best;  // rank, position
            for (size_t i = 0; i + 1 < pieces.size(); ++i) {
                auto m = std::find(merges.rbegin(), merges.rend(), Pair(pieces[i], pieces[i + 1]));
                size_t rank = merges.rend() - m - 1;
                if (m != merges.rend() && (!best || rank < best->first)) best = std::pair{rank, i};
            }
            if (!best) return pieces;
            pieces[best->second] += pieces[best->second + 1];
            pieces.erase(pieces.begin() + static_cast<ptrdiff_t>(best->second) + 1);
        }
    }

    // Removal marks the token and every product of a merge using a marked string; it removes those merges and every
    // merge producing a marked string.
    std::pair<std::set<std::string>, std::set<size_t>> cascade(const std::string& token) const {
        std::set<std::string> marked;
        std::set<size_t> removed;
        for (std::vector<std::string> stack{token}; !stack.empty();) {
            std::string t = std::move(stack.back());
            stack.pop_back();
            if (!marked.insert(t).second) continue;
            for (size_t p = 0; p < merges.size(); ++p) {
                const auto& [l, r] = merges[p];
                if ((l == t || r == t) && removed.insert(p).second) stack.push_back(l + r);
                if (l + r == t) removed.insert(p);
            }
        }
        return {marked, removed};
    }

    struct Removal { std::set<std::string> tokens; std::multiset<Pair> merges; };
    // `freed_ids` receives the IDs that became free.
    Removal remove_token(const std::string& token, std::set<uint32_t>* freed_ids = nullptr) {
        auto [marked, removed] = cascade(token);
        Removal out{marked, {}};
        for (size_t p : removed) out.merges.insert(merges[p]);
        for (auto p = removed.rbegin(); p != removed.rend(); ++p) merges.erase(merges.begin() + static_cast<ptrdiff_t>(*p));
        std::set<uint32_t> freed;
        for (const std::string& t : marked) if (auto it = vocab.find(t); it != vocab.end()) freed.insert(it->second), vocab.erase(it);
        // An ID stays reserved while a remaining token or an added-token entry holds it.
        for (const auto& [t, id] : vocab) freed.erase(id);
        for (const AddedEntry& e : added) if (e.id) freed.erase(*e.id);
        for (uint32_t id : freed) used_ids.erase(id);
        if (freed_ids) freed_ids->insert(freed.begin(), freed.end());
        return out;
    }

    // Longest first, then the highest ID.
    std::vector<lexmill::ShrinkCandidate> shrink_candidates(uint64_t count, uint32_t min_id) const {
        std::vector<lexmill::ShrinkCandidate> all;
        for (const auto& [t, id] : vocab)
            if (id >= min_id && count_chars(t) >= 2 && !bracketed(t) && !registered(t)) all.push_back({t, id, count_chars(t)});
        std::ranges::stable_sort(all, std::greater{}, [](const auto& c) { return std::pair(c.char_length, c.id); });
        all.resize(std::min<size_t>(all.size(), count));
        return all;
    }
    // Removes the candidates still there; counts tokens and merges removed.
    std::pair<uint64_t, uint64_t> remove_candidates(uint64_t count, uint32_t min_id, std::set<uint32_t>* freed, uint64_t& roots) {
        std::pair<uint64_t, uint64_t> removed{0, 0};
        for (const auto& c : shrink_candidates(count, min_id)) {
            if (!has(c.token)) continue;
            Removal removal = remove_token(c.token, freed);
            ++roots, removed.first += removal.tokens.size(), removed.second += removal.merges.size();
        }
        return removed;
    }
    lexmill::ShrinkResult shrink(uint64_t count, uint32_t min_id) {
        lexmill::ShrinkResult r{vocab.size(), merges.size()};
        std::tie(r.total_tokens_removed, r.total_merges_removed) = remove_candidates(count, min_id, nullptr, r.tokens_removed_count);
        r.final_vocab_size = vocab.size(), r.final_merges_count = merges.size();
        return r;
    }

    // The lowest and highest ID, and the free IDs between them.
    std::tuple<uint32_t, uint32_t, uint64_t> span() const {
        uint32_t lo = UINT32_MAX, hi = 0;
        for (const auto& [t, id] : vocab) lo = std::min(lo, id), hi = std::max(hi, id);
        uint64_t span = uint64_t{hi} - lo + 1;
        return {lo, hi, span >= vocab.size() ? span - vocab.size() : 0};
    }
    lexmill::GapReport gaps() const {
        auto [lo, hi, inner] = span();
        return vocab.empty() ? lexmill::GapReport{} : lexmill::GapReport{lo + inner != 0, lo + inner, lo, hi};
    }

    lexmill::ReindexResult reindex() {
        lexmill::ReindexResult r{vocab.size(), merges.size()};
        if (vocab.empty()) return r;
        auto [lo, hi, inner] = span();
        // IDs of added tokens whose content is no vocabulary token are skipped.
        std::set<uint32_t> reserved;
        for (const AddedEntry& e : added) if (e.id && !(e.content && has(*e.content))) reserved.insert(*e.id);
        std::vector<std::pair<std::string, uint32_t>> order(vocab.begin(), vocab.end());
        std::ranges::stable_sort(order, {}, &std::pair<std::string, uint32_t>::second);
        std::vector<uint32_t> target;
        for (uint32_t next = 0; target.size() < order.size(); ++next) if (!reserved.count(next)) target.push_back(next);
        size_t k = 0;
        while (k < order.size() && order[k].second == target[k]) ++k;
        r.old_min_id = lo, r.old_max_id = hi, r.new_max_id = target.back();
        if (k == order.size()) return r;
        for (size_t j = k; j < order.size(); ++j)
            if (order[j].second != target[j]) r.old_ids.push_back(order[j].second), r.new_ids.push_back(vocab[order[j].first] = target[j]);
        for (AddedEntry& e : added) if (e.content && has(*e.content) && e.has_id) e.id = vocab.at(*e.content);
        uint64_t reserved_inside = 0;
        for (uint32_t id : reserved) reserved_inside += id <= hi && std::none_of(order.begin(), order.end(), [&](const auto& o) { return o.second == id; });
        rebuild_used_ids();
        r.ids_remapped = order.size() - k, r.gaps_removed = inner + lo - std::min<uint64_t>(inner + lo, reserved_inside);
        return r;
    }

    // The tokens an addition inserted take, in order, the lowest freed IDs.
    void renumber(const std::vector<std::string>& inserted, std::set<uint32_t>& free, uint32_t saved_next_id) {
        for (size_t i = 0; i < inserted.size() && !free.empty(); ++i)
            used_ids.erase(vocab.at(inserted[i])), used_ids.insert(vocab[inserted[i]] = free.extract(free.begin()).value());
        next_id = saved_next_id;
    }

    lexmill::KeepSizeReport add_tokens_keep_size(const std::vector<std::string>& tokens,
                                                 const std::optional<std::vector<std::string>>& whitelist, bool reachable = false) {
        lexmill::KeepSizeReport report{vocab.size(), 0, tokens.size()};
        std::set<std::string> spared;
        if (whitelist) spared.insert(whitelist->begin(), whitelist->end());
        auto is_spared = [&](const std::string& t) { return spared.count(t) || registered(t); };
        std::set<uint32_t> free;
        bool stopped = false;
        for (const std::string& token : tokens) {
            if (has(token) || (stopped && ++report.tokens_not_added)) continue;
            const size_t merges_before = merges.size();
            const uint32_t next_before = next_id;
            std::vector<std::string> fresh;
            insert_log = &fresh, add(token, reachable), insert_log = nullptr;
            const size_t appended = merges.size() - merges_before;
            spared.insert(fresh.begin(), fresh.end());
            bool paid = true;
            while (paid && (vocab.size() > report.initial_vocab_size || free.size() < fresh.size())) {
                // Longest first, then produced by a merge, then bytewise; a token whose cascade would take a spared one
                // is passed over.
                std::vector<std::tuple<uint64_t, bool, std::string>> order;
                for (const auto& [t, id] : vocab)
                    if (count_chars(t) != 1 && !bracketed(t) && !is_spared(t)) order.emplace_back(UINT64_MAX - count_chars(t), !produced(t), t);
                std::ranges::sort(order);
                auto victim = std::ranges::find_if(order, [&](const auto& o) { return std::ranges::none_of(cascade(std::get<2>(o)).first, is_spared); });
                if ((paid = victim != order.end())) remove_token(std::get<2>(*victim), &free), ++report.tokens_removed;
            }
            if (paid) renumber(fresh, free, next_before), ++report.tokens_added;
            if (paid) continue;
            for (const std::string& t : fresh) used_ids.erase(vocab.at(t)), vocab.erase(t);
            merges.resize(merges.size() - appended);  // still the last ones: victims spare them
            next_id = next_before, stopped = true, ++report.tokens_not_added;
        }
        report.final_vocab_size = vocab.size();
        return report;
    }

    // `source_chars`: the source's single characters in ascending bytewise order.
    lexmill::SyncReport sync_single_chars(const std::vector<std::string>& source_chars, uint32_t min_id) {
        lexmill::SyncReport report{vocab.size(), vocab.size(), source_chars.size()};
        std::vector<std::string> missing;
        for (const std::string& c : source_chars) if (!has(c)) missing.push_back(c);
        report.chars_already_present = source_chars.size() - missing.size();
        if (missing.empty()) return report;
        std::set<uint32_t> free;
        uint64_t roots = 0;
        std::tie(report.total_tokens_removed, report.total_merges_removed) = remove_candidates(missing.size(), min_id, &free, roots);
        for (size_t i = 0; i < missing.size() && vocab.size() < report.initial_vocab_size; ++i, ++report.chars_added_count) {
            uint32_t next_before = next_id;
            insert(missing[i]), renumber({missing[i]}, free, next_before);
        }
        report.chars_not_added = missing.size() - report.chars_added_count;
        reindex(), report.final_vocab_size = vocab.size();
        return report;
    }

    uint64_t pin_added_tokens() {
        uint64_t pinned = 0;
        for (const AddedEntry& e : added)
            if (e.content && e.id && !e.content->empty() && !has(*e.content) && !token_by_id(*e.id)) pinned += vocab.emplace(*e.content, *e.id).second;
        return pinned;
    }

    // How many added tokens a reader such as the tokenizers library gives another ID than the one written.
    uint64_t added_tokens_read_differently() const {
        std::map<std::string, uint64_t> assigned;
        std::optional<uint64_t> largest;
        uint64_t differ = 0;
        for (const AddedEntry& e : added) {
            if (!e.content || !e.id || e.content->empty()) continue;
            uint64_t id = largest && (*largest >= vocab.size() || vocab.empty()) ? *largest + 1 : vocab.size();
            if (assigned.count(*e.content)) id = assigned.at(*e.content);
            else if (has(*e.content)) id = vocab.at(*e.content);
            else largest = std::max(largest.value_or(0), id);
            assigned.emplace(*e.content, id);
            differ += id != *e.id;
        }
        return differ;
    }
};

}  // namespace fuzz
