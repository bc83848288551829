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

struct ReferenceEditor {
    std::map<std::string, uint32_t> vocab;
    std::vector<std::pair<std::string, std::string>> merges;
    std::vector<uint32_t> added_ids;  // the "id" members of added tokens that reserve an ID
    std::set<uint32_t> used_ids;
    uint32_t next_id = 1;

    void rebuild_used_ids() {
        used_ids.clear();
        for (const auto& [t, id] : vocab) used_ids.insert(id);
        for (uint32_t id : added_ids) used_ids.insert(id);
        next_id = used_ids.empty() ? 1 : *used_ids.rbegin() + 1;
    }

    uint32_t allocate_id() {
        uint32_t candidate = next_id;
        while (used_ids.count(candidate)) ++candidate;
        used_ids.insert(candidate);
        next_id = candidate + 1;
        return candidate;
    }

    bool has(const std::string& t) const { return vocab.count(t) != 0; }
    void insert(const std::string& t) { vocab.emplace(t, allocate_id()); }
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

    lexmill::AdditionResult add_token(const std::string& token) {
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
            return result;
        }
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
        return result;
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

    Removal remove_token(const std::string& token) {
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
            }
            for (size_t p = 0; p < merges.size(); ++p) {
                if (merges[p].first + merges[p].second == t) {
                    removed.insert(p);
                    break;
                }
            }
        }
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
        for (uint32_t id : added_ids) freed.erase(id);
        for (uint32_t id : freed) used_ids.erase(id);
        return result;
    }

    std::vector<lexmill::ShrinkCandidate> shrink_candidates(uint64_t count, uint32_t min_id) const {
        std::vector<lexmill::ShrinkCandidate> all;
        for (const auto& [t, id] : vocab) {
            uint64_t chars = count_chars(t);
            if (id >= min_id && chars >= 2 && !bracketed(t)) all.push_back({t, id, chars});
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
        std::vector<std::pair<std::string, uint32_t>> order(vocab.begin(), vocab.end());
        std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        size_t k = 0;
        while (k < order.size() && order[k].second == k) ++k;
        result.old_min_id = lo;
        result.old_max_id = hi;
        result.new_max_id = static_cast<uint32_t>(vocab.size() - 1);
        if (k == order.size()) return result;
        for (size_t j = k; j < order.size(); ++j) vocab[order[j].first] = static_cast<uint32_t>(j);
        rebuild_used_ids();
        result.ids_remapped = order.size() - k;
        result.gaps_removed = inner + lo;
        return result;
    }

    lexmill::KeepSizeReport add_tokens_keep_size(const std::vector<std::string>& tokens,
                                                 const std::optional<std::vector<std::string>>& whitelist) {
        lexmill::KeepSizeReport report;
        report.initial_vocab_size = vocab.size();
        report.tokens_requested = tokens.size();
        std::set<std::string> protect;
        if (whitelist) protect.insert(whitelist->begin(), whitelist->end());
        for (const auto& [t, id] : vocab) {
            if (count_chars(t) == 1 || bracketed(t)) protect.insert(t);
        }
        protect.insert("\xE2\x96\x81");
        for (const std::string& token : tokens) {
            if (has(token)) continue;
            add_token(token);
            ++report.tokens_added;
            if (vocab.size() <= report.initial_vocab_size) continue;
            std::optional<std::string> victim;
            std::tuple<uint64_t, bool, std::string> best;
            for (const auto& [t, id] : vocab) {
                if (protect.count(t)) continue;
                // Smallest key = best victim: longest, produced, bytewise smallest.
                std::tuple<uint64_t, bool, std::string> key{UINT64_MAX - count_chars(t), !produced(t), t};
                if (!victim || key < best) victim = t, best = key;
            }
            if (!victim) continue;
            remove_token(*victim);
            ++report.tokens_removed;
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
        for (const auto& c : shrink_candidates(missing.size(), min_id)) {
            if (!has(c.token)) continue;
            Removal removal = remove_token(c.token);
            report.total_tokens_removed += removal.tokens.size();
            report.total_merges_removed += removal.merges.size();
        }
        for (const std::string& c : missing) add_token_atomic(c);
        reindex();
        report.chars_added_count = missing.size();
        report.final_vocab_size = vocab.size();
        return report;
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
