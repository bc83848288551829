#pragma once
// A slow, literal editor for the fuzz harnesses to compare the real one with:
// the vocabulary as an ordered map, the merge list as a vector, the reserved
// IDs as a set, and every operation written the plain way (scans of the whole
// merge list instead of indexes, a full sort for every choice).

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "document/string_pool.h"
#include "editor/records.h"

namespace fuzz {

using lexmill::count_chars;

inline bool bracketed(const std::string& t) {
    return !t.empty() && ((t.front() == '[' && t.back() == ']') || (t.front() == '<' && t.back() == '>'));
}

inline std::vector<std::string> characters(const std::string& text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size();) {
        size_t j = i + 1;
        while (j < text.size() && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80) ++j;
        out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

// An added-token entry as far as the editor reads it.
struct AddedEntry {
    std::optional<std::string> content;  // when "content" is a string
    std::optional<uint32_t> id;          // when "id" is an unsigned 32-bit integer
    bool has_id = false;                 // "id" is there at all
};

struct ReferenceEditor {
    std::map<std::string, uint32_t> vocab;
    std::vector<std::pair<std::string, std::string>> merges;
    std::vector<AddedEntry> added;
    std::set<uint32_t> used_ids;
    uint32_t next_id = 1;

    void rebuild_used_ids() {
        used_ids.clear();
        for (const auto& [t, id] : vocab) used_ids.insert(id);
        for (const AddedEntry& e : added) {
            if (e.id) used_ids.insert(*e.id);
        }
        next_id = used_ids.empty() ? 1 : *used_ids.rbegin() + 1;
    }

    bool registered(const std::string& t) const {
        return std::any_of(added.begin(), added.end(), [&](const AddedEntry& e) { return e.content == t; });
    }

    uint32_t allocate_id() {
        uint32_t candidate = next_id;
        while (used_ids.count(candidate)) ++candidate;
        used_ids.insert(candidate);
        next_id = candidate + 1;
        return candidate;
    }

    bool has(const std::string& t) const { return vocab.count(t) != 0; }
    // Every token inserted, in order, while set.
    std::vector<std::string>* insert_log = nullptr;

    void insert(const std::string& t) {
        vocab.emplace(t, allocate_id());
        if (insert_log) insert_log->push_back(t);
    }
    bool has_merge(const std::string& l, const std::string& r) const {
        return std::find(merges.begin(), merges.end(), std::make_pair(l, r)) != merges.end();
    }
    bool produced(const std::string& t) const {
        return std::any_of(merges.begin(), merges.end(), [&](const auto& m) { return m.first + m.second == t; });
    }

    lexmill::ValidationResult validate() const {
        lexmill::ValidationResult result;
        for (size_t p = 0; p < merges.size(); ++p) {
            if (has(merges[p].first + merges[p].second)) {
                ++result.valid_count;
            } else {
                result.invalid_merges.push_back({p, merges[p].first, merges[p].second});
            }
        }
        result.invalid_count = result.invalid_merges.size();
        return result;
    }

    uint64_t remove_invalid_merges() {
        std::vector<std::pair<std::string, std::string>> kept;
        for (const auto& m : merges) {
            if (has(m.first + m.second)) kept.push_back(m);
        }
        uint64_t removed = merges.size() - kept.size();
        merges = std::move(kept);
        return removed;
    }

    std::vector<lexmill::MergeText> build_char_chain(const std::string& text) {
        std::vector<lexmill::MergeText> added;
        std::vector<std::string> chars = characters(text);
        if (chars.empty()) return added;
        std::string current = chars[0];
        if (!has(current)) insert(current);
        for (size_t k = 1; k < chars.size(); ++k) {
            if (!has(chars[k])) insert(chars[k]);
            if (!has_merge(current, chars[k])) {
                merges.emplace_back(current, chars[k]);
                added.emplace_back(current, chars[k]);
            }
            std::string combined = current + chars[k];
            if (!has(combined)) insert(combined);
            current = combined;
        }
        return added;
    }

    lexmill::AdditionResult add(const std::string& token, bool reachable) {
        lexmill::AdditionResult result;
        result.token = token;
        if (has(token)) {
            result.method = "already_exists";
            return result;
        }
        result.added = true;
        std::vector<std::string> chars = characters(token);
        if (chars.size() == 1) {
            insert(token);
            result.method = "single_char";
        } else if (reachable) {
            add_reachable(token, chars, result);
        } else {
            add_with_chain(token, chars, result);
        }
        return result;
    }

    lexmill::AdditionResult add_token(const std::string& token) { return add(token, false); }

    void add_with_chain(const std::string& token, const std::vector<std::string>& chars,
                        lexmill::AdditionResult& result) {
        std::optional<size_t> prefix_chars;
        for (size_t k = chars.size() > 0 ? chars.size() - 1 : 0; k >= 1; --k) {
            std::string prefix;
            for (size_t i = 0; i < k; ++i) prefix += chars[i];
            if (has(prefix)) {
                prefix_chars = k;
                break;
            }
        }
        if (prefix_chars) {
            std::string prefix, suffix;
            for (size_t i = 0; i < chars.size(); ++i) (i < *prefix_chars ? prefix : suffix) += chars[i];
            if (!has(suffix)) result.added_merges = build_char_chain(suffix);
            if (!has_merge(prefix, suffix)) {
                merges.emplace_back(prefix, suffix);
                result.added_merges.emplace_back(prefix, suffix);
            }
            insert(token);
            result.method = "longest_prefix";
        } else {
            result.added_merges = build_char_chain(token);
            if (!has(token)) insert(token);
            result.method = "char_chain";
        }
    }

    // The rank of a pair: the position of its last merge in the list.
    std::optional<size_t> rank(const std::string& left, const std::string& right) const {
        std::optional<size_t> found;
        for (size_t p = 0; p < merges.size(); ++p) {
            if (merges[p].first == left && merges[p].second == right) found = p;
        }
        return found;
    }

    // BPE on the characters of `text`: the pair of neighbours with the lowest
    // rank is joined, the leftmost of equals first, until no pair has a merge.
    std::vector<std::string> bpe(const std::string& text) const {
        std::vector<std::string> pieces = characters(text);
        for (;;) {
            std::optional<std::pair<size_t, size_t>> best;  // rank, position
            for (size_t i = 0; i + 1 < pieces.size(); ++i) {
                std::optional<size_t> r = rank(pieces[i], pieces[i + 1]);
                if (r && (!best || *r < best->first)) best = std::pair{*r, i};
            }
            if (!best) return pieces;
            pieces[best->second] += pieces[best->second + 1];
            pieces.erase(pieces.begin() + static_cast<ptrdiff_t>(best->second) + 1);
        }
    }

    void add_reachable(const std::string& token, const std::vector<std::string>& chars,
                       lexmill::AdditionResult& result) {
        for (const std::string& c : chars) {
            if (!has(c)) insert(c);
        }
        // Each time BPE gets stuck, its first two pieces are joined by a new
        // merge at the end of the list.
        for (std::vector<std::string> pieces = bpe(token); pieces.size() > 1; pieces = bpe(token)) {
            for (const std::string& piece : {pieces[0], pieces[1], pieces[0] + pieces[1]}) {
                if (!has(piece)) insert(piece);
            }
            merges.emplace_back(pieces[0], pieces[1]);
            result.added_merges.emplace_back(pieces[0], pieces[1]);
        }
        if (!has(token)) insert(token);
        result.method = "reachable";
    }

    bool add_token_atomic(const std::string& token) {
        if (has(token)) return false;
        insert(token);
        return true;
    }

    // The removed strings and merges as sets (their order is unspecified).
    struct Removal {
        std::set<std::string> tokens;
        std::multiset<std::pair<std::string, std::string>> merges;
    };

    // The strings a removal of `token` marks, and the merges it removes: every
    // merge using a marked string, and every merge producing one.
    std::pair<std::set<std::string>, std::set<size_t>> cascade(const std::string& token) const {
        std::set<std::string> marked;
        std::set<size_t> removed;
        std::vector<std::string> stack{token};
        while (!stack.empty()) {
            std::string t = stack.back();
            stack.pop_back();
            if (!marked.insert(t).second) continue;
            for (size_t p = 0; p < merges.size(); ++p) {
                if ((merges[p].first == t || merges[p].second == t) && removed.insert(p).second) {
                    stack.push_back(merges[p].first + merges[p].second);
                }
                if (merges[p].first + merges[p].second == t) removed.insert(p);
            }
        }
        return {marked, removed};
    }

    // `freed` receives the IDs that became free.
    Removal remove_token(const std::string& token, std::set<uint32_t>* freed_ids = nullptr) {
        auto [marked, removed] = cascade(token);
        Removal result;
        result.tokens = marked;
        std::vector<std::pair<std::string, std::string>> kept;
        for (size_t p = 0; p < merges.size(); ++p) {
            if (removed.count(p)) {
                result.merges.insert(merges[p]);
            } else {
                kept.push_back(merges[p]);
            }
        }
        merges = std::move(kept);
        std::set<uint32_t> freed;
        for (const std::string& t : marked) {
            auto it = vocab.find(t);
            if (it == vocab.end()) continue;
            freed.insert(it->second);
            vocab.erase(it);
        }
        // An ID stays reserved while a remaining token or an added-token
        // entry still holds it.
        for (const auto& [t, id] : vocab) freed.erase(id);
        for (const AddedEntry& e : added) {
            if (e.id) freed.erase(*e.id);
        }
        for (uint32_t id : freed) used_ids.erase(id);
        if (freed_ids) freed_ids->insert(freed.begin(), freed.end());
        return result;
    }

    std::vector<lexmill::ShrinkCandidate> shrink_candidates(uint64_t count, uint32_t min_id) const {
        std::vector<lexmill::ShrinkCandidate> all;
        for (const auto& [t, id] : vocab) {
            uint64_t chars = count_chars(t);
            if (id >= min_id && chars >= 2 && !bracketed(t) && !registered(t)) all.push_back({t, id, chars});
        }
        std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
            if (a.char_length != b.char_length) return a.char_length > b.char_length;
            return a.id > b.id;
        });
        if (all.size() > count) all.resize(count);
        return all;
    }

    lexmill::ShrinkResult shrink(uint64_t count, uint32_t min_id) {
        lexmill::ShrinkResult result;
        result.initial_vocab_size = vocab.size();
        result.initial_merges_count = merges.size();
        for (const auto& c : shrink_candidates(count, min_id)) {
            if (!has(c.token)) continue;
            Removal removal = remove_token(c.token);
            ++result.tokens_removed_count;
            result.total_tokens_removed += removal.tokens.size();
            result.total_merges_removed += removal.merges.size();
        }
        result.final_vocab_size = vocab.size();
        result.final_merges_count = merges.size();
        return result;
    }

    lexmill::ReindexResult reindex() {
        lexmill::ReindexResult result;
        result.vocab_size = vocab.size();
        result.merges_count = merges.size();
        if (vocab.empty()) return result;
        uint32_t lo = UINT32_MAX, hi = 0;
        for (const auto& [t, id] : vocab) lo = std::min(lo, id), hi = std::max(hi, id);
        uint64_t span = uint64_t{hi} - lo + 1;  // IDs 0 and 4294967295 span 2^32 values
        uint64_t inner = span >= vocab.size() ? span - vocab.size() : 0;
        // IDs of added tokens whose content is no vocabulary token are skipped.
        std::set<uint32_t> reserved;
        for (const AddedEntry& e : added) {
            if (e.id && !(e.content && has(*e.content))) reserved.insert(*e.id);
        }
        std::vector<std::pair<std::string, uint32_t>> order(vocab.begin(), vocab.end());
        std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        std::vector<uint32_t> target;
        for (uint32_t next = 0; target.size() < order.size(); ++next) {
            if (!reserved.count(next)) target.push_back(next);
        }
        size_t k = 0;
        while (k < order.size() && order[k].second == target[k]) ++k;
        result.old_min_id = lo;
        result.old_max_id = hi;
        result.new_max_id = target.back();
        if (k == order.size()) return result;
        for (size_t j = k; j < order.size(); ++j) {
            if (order[j].second != target[j]) {
                result.old_ids.push_back(order[j].second);
                result.new_ids.push_back(target[j]);
            }
            vocab[order[j].first] = target[j];
        }
        for (AddedEntry& e : added) {
            if (e.content && has(*e.content) && e.has_id) e.id = vocab.at(*e.content);
        }
        uint64_t reserved_inside = 0;
        for (uint32_t id : reserved) {
            bool held = std::any_of(order.begin(), order.end(), [&](const auto& entry) { return entry.second == id; });
            reserved_inside += id <= hi && !held;
        }
        rebuild_used_ids();
        result.ids_remapped = order.size() - k;
        result.gaps_removed = inner + lo - std::min<uint64_t>(inner + lo, reserved_inside);
        return result;
    }

    // Gives the tokens an addition inserted, in the order it inserted them,
    // the lowest free IDs instead of the ones they took.
    void renumber(const std::vector<std::string>& inserted, std::set<uint32_t>& free, uint32_t saved_next_id) {
        for (const std::string& t : inserted) {
            if (free.empty()) break;
            used_ids.erase(vocab.at(t));
            vocab[t] = *free.begin();
            used_ids.insert(*free.begin());
            free.erase(free.begin());
        }
        next_id = saved_next_id;
    }

    lexmill::KeepSizeReport add_tokens_keep_size(const std::vector<std::string>& tokens,
                                                 const std::optional<std::vector<std::string>>& whitelist,
                                                 bool reachable = false) {
        lexmill::KeepSizeReport report;
        report.initial_vocab_size = vocab.size();
        report.tokens_requested = tokens.size();
        std::set<std::string> spared;
        if (whitelist) spared.insert(whitelist->begin(), whitelist->end());
        auto is_spared = [&](const std::string& t) { return spared.count(t) || registered(t); };
        std::set<uint32_t> free;
        bool stopped = false;
        for (const std::string& token : tokens) {
            if (has(token)) continue;
            if (stopped) {
                ++report.tokens_not_added;
                continue;
            }
            const size_t merges_before = merges.size();
            const uint32_t next_before = next_id;
            std::vector<std::string> fresh;
            insert_log = &fresh;
            add(token, reachable);
            insert_log = nullptr;
            const size_t appended = merges.size() - merges_before;
            spared.insert(fresh.begin(), fresh.end());
            bool paid = true;
            while (vocab.size() > report.initial_vocab_size || free.size() < fresh.size()) {
                // Longest first, then produced by a merge, then bytewise; a
                // token whose cascade would take a spared one is passed over.
                std::vector<std::tuple<uint64_t, bool, std::string>> order;
                for (const auto& [t, id] : vocab) {
                    if (count_chars(t) == 1 || bracketed(t) || is_spared(t)) continue;
                    order.emplace_back(UINT64_MAX - count_chars(t), !produced(t), t);
                }
                std::sort(order.begin(), order.end());
                std::optional<std::string> victim;
                for (const auto& [length, unproduced, t] : order) {
                    std::set<std::string> marked = cascade(t).first;
                    if (std::none_of(marked.begin(), marked.end(), is_spared)) {
                        victim = t;
                        break;
                    }
                }
                if (!victim) {
                    paid = false;
                    break;
                }
                remove_token(*victim, &free);
                ++report.tokens_removed;
            }
            if (!paid) {
                for (const std::string& t : fresh) {
                    used_ids.erase(vocab.at(t));
                    vocab.erase(t);
                }
                merges.resize(merges.size() - appended);  // still the last ones: victims spare them
                next_id = next_before;
                ++report.tokens_not_added;
                stopped = true;
                continue;
            }
            renumber(fresh, free, next_before);
            ++report.tokens_added;
        }
        report.final_vocab_size = vocab.size();
        return report;
    }

    // `source_chars`: the source's single characters in ascending bytewise order.
    lexmill::SyncReport sync_single_chars(const std::vector<std::string>& source_chars, uint32_t min_id) {
        lexmill::SyncReport report;
        report.chars_in_source = source_chars.size();
        std::vector<std::string> missing;
        for (const std::string& c : source_chars) {
            if (!has(c)) missing.push_back(c);
        }
        report.chars_already_present = source_chars.size() - missing.size();
        report.initial_vocab_size = report.final_vocab_size = vocab.size();
        if (missing.empty()) return report;
        std::set<uint32_t> free;
        for (const auto& c : shrink_candidates(missing.size(), min_id)) {
            if (!has(c.token)) continue;
            Removal removal = remove_token(c.token, &free);
            report.total_tokens_removed += removal.tokens.size();
            report.total_merges_removed += removal.merges.size();
        }
        for (const std::string& c : missing) {
            if (vocab.size() >= report.initial_vocab_size) break;
            uint32_t next_before = next_id;
            insert(c);
            renumber({c}, free, next_before);
            ++report.chars_added_count;
        }
        report.chars_not_added = missing.size() - report.chars_added_count;
        reindex();
        report.final_vocab_size = vocab.size();
        return report;
    }

    uint64_t pin_added_tokens() {
        uint64_t pinned = 0;
        for (const AddedEntry& e : added) {
            if (!e.content || !e.id || e.content->empty() || has(*e.content)) continue;
            bool held = std::any_of(vocab.begin(), vocab.end(), [&](const auto& entry) { return entry.second == *e.id; });
            if (held) continue;
            vocab.emplace(*e.content, *e.id);
            ++pinned;
        }
        return pinned;
    }

    // The IDs a reader such as the tokenizers library gives the added tokens,
    // compared with the ones written.
    uint64_t added_tokens_read_differently() const {
        std::map<std::string, uint64_t> assigned;
        std::optional<uint64_t> largest;
        uint64_t differ = 0;
        for (const AddedEntry& e : added) {
            if (!e.content || !e.id || e.content->empty()) continue;
            uint64_t id;
            if (assigned.count(*e.content)) {
                id = assigned.at(*e.content);
            } else if (has(*e.content)) {
                id = vocab.at(*e.content);
            } else {
                id = !largest ? vocab.size() : (*largest >= vocab.size() || vocab.empty() ? *largest + 1 : vocab.size());
                largest = std::max(largest.value_or(0), id);
            }
            assigned.emplace(*e.content, id);
            differ += id != *e.id;
        }
        return differ;
    }

    lexmill::GapReport gaps() const {
        lexmill::GapReport report;
        if (vocab.empty()) return report;
        uint32_t lo = UINT32_MAX, hi = 0;
        for (const auto& [t, id] : vocab) lo = std::min(lo, id), hi = std::max(hi, id);
        uint64_t span = uint64_t{hi} - lo + 1;
        uint64_t inner = span >= vocab.size() ? span - vocab.size() : 0;
        report.total_gaps = lo + inner;
        report.has_gaps = report.total_gaps != 0;
        report.min_id = lo;
        report.max_id = hi;
        return report;
    }

    std::optional<std::string> token_by_id(uint32_t id) const {
        for (const auto& [t, i] : vocab) {
            if (i == id) return t;
        }
        return std::nullopt;
    }
};

}  // namespace fuzz
