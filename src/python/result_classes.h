#pragma once
// The seven result classes, one descriptor table each (name, docstring,
// fields in declaration order), and the keys of the two counter dicts. The
// stubs (src/stubs) repeat the names, docstrings and fields and are checked
// against these tables.

#include "editor/records.h"
#include "python/result_class.h"

namespace lexmill::python {

inline constinit const auto validation_result = result_class<ValidationResult>(
    "ValidationResult", "Result of validating merges",
    {
        {"valid_count", field<&ValidationResult::valid_count>},
        {"invalid_count", field<&ValidationResult::invalid_count>},
        {"invalid_merges", field<&ValidationResult::invalid_merges>},
    });

inline constinit const auto addition_result = result_class<AdditionResult>(
    "AdditionResult", "Result of token addition",
    {
        {"token", field<&AdditionResult::token>},
        {"added", field<&AdditionResult::added>},
        {"method", field<&AdditionResult::method>},
        {"added_merges", field<&AdditionResult::added_merges>},
    });

inline constinit const auto removal_result = result_class<RemovalResult>(
    "RemovalResult", "Result of token removal",
    {
        {"root_token", field<&RemovalResult::root_token>},
        {"removed_tokens", field<&RemovalResult::removed_tokens>},
        {"removed_merges", field<&RemovalResult::removed_merges>},
    });

inline constinit const auto shrink_result = result_class<ShrinkResult>(
    "ShrinkResult", "Result of shrink operation",
    {
        {"initial_vocab_size", field<&ShrinkResult::initial_vocab_size>},
        {"initial_merges_count", field<&ShrinkResult::initial_merges_count>},
        {"final_vocab_size", field<&ShrinkResult::final_vocab_size>},
        {"final_merges_count", field<&ShrinkResult::final_merges_count>},
        {"tokens_removed_count", field<&ShrinkResult::tokens_removed_count>},
        {"total_tokens_removed", field<&ShrinkResult::total_tokens_removed>},
        {"total_merges_removed", field<&ShrinkResult::total_merges_removed>},
    });

inline constinit const auto merge_tokenizer_result = result_class<MergeTokenizerResult>(
    "MergeTokenizerResult", "Result of merging a source tokenizer into a target tokenizer",
    {
        {"initial_target_vocab_size", field<&MergeTokenizerResult::initial_target_vocab_size>},
        {"source_vocab_size", field<&MergeTokenizerResult::source_vocab_size>},
        {"final_model_vocab_size", field<&MergeTokenizerResult::final_model_vocab_size>},
        {"final_vocab_size", field<&MergeTokenizerResult::final_vocab_size>},
        {"tokens_injected", field<&MergeTokenizerResult::tokens_injected>},
        {"target_tokens_removed", field<&MergeTokenizerResult::target_tokens_removed>},
        {"bridge_tokens_added", field<&MergeTokenizerResult::bridge_tokens_added>},
        {"bridge_merges_added", field<&MergeTokenizerResult::bridge_merges_added>},
        {"source_merges_added", field<&MergeTokenizerResult::source_merges_added>},
        {"target_merges_retained", field<&MergeTokenizerResult::target_merges_retained>},
        {"representation", field<&MergeTokenizerResult::representation>},
    });

inline constinit const auto tokenizer_stats = result_class<TokenizerStats>(
    "TokenizerStats", "Tokenizer statistics",
    {
        {"vocab_size", field<&TokenizerStats::vocab_size>},
        {"merges_count", field<&TokenizerStats::merges_count>},
        {"single_char_count", field<&TokenizerStats::single_char_count>},
        {"special_token_count", field<&TokenizerStats::special_token_count>},
        {"min_token_id", field<&TokenizerStats::min_token_id>},
        {"max_token_id", field<&TokenizerStats::max_token_id>},
        {"length_distribution", field<&TokenizerStats::length_distribution>},
    });

inline constinit const auto reindex_result = result_class<ReindexResult>(
    "ReindexResult", "Result of reindex operation",
    {
        {"vocab_size", field<&ReindexResult::vocab_size>},
        {"merges_count", field<&ReindexResult::merges_count>},
        {"old_min_id", field<&ReindexResult::old_min_id>},
        {"old_max_id", field<&ReindexResult::old_max_id>},
        {"new_min_id", field<&ReindexResult::new_min_id>},
        {"new_max_id", field<&ReindexResult::new_max_id>},
        {"ids_remapped", field<&ReindexResult::ids_remapped>},
        {"gaps_removed", field<&ReindexResult::gaps_removed>},
        {"old_ids", field<&ReindexResult::old_ids>},
        {"new_ids", field<&ReindexResult::new_ids>},
    });

// In the order the module adds them, after Lexmill.
inline constexpr const PythonClass* result_classes[] = {
    &validation_result, &addition_result, &removal_result,  &shrink_result,
    &merge_tokenizer_result, &tokenizer_stats, &reindex_result,
};

// The dicts of add_tokens_keep_size and sync_single_chars, keys in this order.
inline constexpr Field<KeepSizeReport> keep_size_counters[] = {
    {"initial_vocab_size", field<&KeepSizeReport::initial_vocab_size>},
    {"final_vocab_size", field<&KeepSizeReport::final_vocab_size>},
    {"tokens_requested", field<&KeepSizeReport::tokens_requested>},
    {"tokens_added", field<&KeepSizeReport::tokens_added>},
    {"tokens_removed", field<&KeepSizeReport::tokens_removed>},
    {"tokens_not_added", field<&KeepSizeReport::tokens_not_added>},
};

inline constexpr Field<SyncReport> sync_counters[] = {
    {"initial_vocab_size", field<&SyncReport::initial_vocab_size>},
    {"final_vocab_size", field<&SyncReport::final_vocab_size>},
    {"chars_in_source", field<&SyncReport::chars_in_source>},
    {"chars_already_present", field<&SyncReport::chars_already_present>},
    {"chars_added_count", field<&SyncReport::chars_added_count>},
    {"total_tokens_removed", field<&SyncReport::total_tokens_removed>},
    {"total_merges_removed", field<&SyncReport::total_merges_removed>},
    {"chars_not_added", field<&SyncReport::chars_not_added>},
};

}  // namespace lexmill::python
