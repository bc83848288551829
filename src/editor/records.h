#pragma once
// Plain records that editor operations return. Each owns its strings, so it
// outlives any later change of the editor.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lexmill {

using MergeText = std::pair<std::string, std::string>;

// How add_token builds the merges of a new token.
enum class AdditionMethod {
    chain,      // longest prefix, then character by character
    reachable,  // the pieces the current merges cut the token into, chained
};

struct TokenizerStats {
    uint64_t vocab_size = 0;
    uint64_t merges_count = 0;
    uint64_t single_char_count = 0;
    uint64_t special_token_count = 0;
    uint32_t min_token_id = 0;
    uint32_t max_token_id = 0;
    std::vector<std::pair<uint64_t, uint64_t>> length_distribution;  // (length, count)
};

struct GapReport {
    bool has_gaps = false;
    uint64_t total_gaps = 0;
    uint32_t min_id = 0;
    uint32_t max_id = 0;
};

struct InvalidMerge {
    uint64_t position;
    std::string left;
    std::string right;
};

struct ValidationResult {
    uint64_t valid_count = 0;
    uint64_t invalid_count = 0;
    std::vector<InvalidMerge> invalid_merges;
};

struct AdditionResult {
    std::string token;
    bool added = false;
    // "single_char", "longest_prefix", "char_chain", "reachable" or "already_exists"
    std::string method;
    std::vector<MergeText> added_merges;
};

struct RemovalResult {
    std::string root_token;
    std::vector<std::string> removed_tokens;
    std::vector<MergeText> removed_merges;
};

struct ShrinkCandidate {
    std::string token;
    uint32_t id;
    uint64_t char_length;
};

struct ShrinkResult {
    uint64_t initial_vocab_size = 0;
    uint64_t initial_merges_count = 0;
    uint64_t final_vocab_size = 0;
    uint64_t final_merges_count = 0;
    uint64_t tokens_removed_count = 0;
    uint64_t total_tokens_removed = 0;
    uint64_t total_merges_removed = 0;
};

struct ReindexResult {
    uint64_t vocab_size = 0;
    uint64_t merges_count = 0;
    uint32_t old_min_id = 0;
    uint32_t old_max_id = 0;
    uint32_t new_min_id = 0;
    uint32_t new_max_id = 0;
    uint64_t ids_remapped = 0;
    uint64_t gaps_removed = 0;
    // The entries that moved: old_ids[i] became new_ids[i].
    std::vector<uint32_t> old_ids;
    std::vector<uint32_t> new_ids;
};

struct MergeTokenizerResult {
    uint64_t initial_target_vocab_size = 0;
    uint64_t source_vocab_size = 0;
    uint64_t final_model_vocab_size = 0;
    uint64_t final_vocab_size = 0;
    uint64_t tokens_injected = 0;
    uint64_t target_tokens_removed = 0;
    uint64_t bridge_tokens_added = 0;
    uint64_t bridge_merges_added = 0;
    uint64_t source_merges_added = 0;
    uint64_t target_merges_retained = 0;
    std::string representation;
};

// Counters of add_tokens_keep_size, in the order they are reported.
struct KeepSizeReport {
    uint64_t initial_vocab_size = 0;
    uint64_t final_vocab_size = 0;
    uint64_t tokens_requested = 0;
    uint64_t tokens_added = 0;
    uint64_t tokens_removed = 0;
    // Requested tokens left out because nothing was left to remove for them.
    uint64_t tokens_not_added = 0;
};

// Counters of sync_single_chars, in the order they are reported.
struct SyncReport {
    uint64_t initial_vocab_size = 0;
    uint64_t final_vocab_size = 0;
    uint64_t chars_in_source = 0;
    uint64_t chars_already_present = 0;
    uint64_t chars_added_count = 0;
    uint64_t total_tokens_removed = 0;
    uint64_t total_merges_removed = 0;
    // Missing characters left out because nothing was left to remove for them.
    uint64_t chars_not_added = 0;
};

}  // namespace lexmill
