#pragma once
// The fields of each record that Python sees, by name, in declaration order.
// Result classes expose them as read-only properties; counter records become
// dicts with these keys in this order.

#include <tuple>

#include "editor/records.h"

namespace lexmill::python {

template <auto Member>
struct Field {
    const char* name;
};

template <typename Record>
struct RecordFields;

template <>
struct RecordFields<ValidationResult> {
    static constexpr std::tuple fields{
        Field<&ValidationResult::valid_count>{"valid_count"},
        Field<&ValidationResult::invalid_count>{"invalid_count"},
        Field<&ValidationResult::invalid_merges>{"invalid_merges"},
    };
};

template <>
struct RecordFields<AdditionResult> {
    static constexpr std::tuple fields{
        Field<&AdditionResult::token>{"token"},
        Field<&AdditionResult::added>{"added"},
        Field<&AdditionResult::method>{"method"},
        Field<&AdditionResult::added_merges>{"added_merges"},
    };
};

template <>
struct RecordFields<RemovalResult> {
    static constexpr std::tuple fields{
        Field<&RemovalResult::root_token>{"root_token"},
        Field<&RemovalResult::removed_tokens>{"removed_tokens"},
        Field<&RemovalResult::removed_merges>{"removed_merges"},
    };
};

template <>
struct RecordFields<ShrinkResult> {
    static constexpr std::tuple fields{
        Field<&ShrinkResult::initial_vocab_size>{"initial_vocab_size"},
        Field<&ShrinkResult::initial_merges_count>{"initial_merges_count"},
        Field<&ShrinkResult::final_vocab_size>{"final_vocab_size"},
        Field<&ShrinkResult::final_merges_count>{"final_merges_count"},
        Field<&ShrinkResult::tokens_removed_count>{"tokens_removed_count"},
        Field<&ShrinkResult::total_tokens_removed>{"total_tokens_removed"},
        Field<&ShrinkResult::total_merges_removed>{"total_merges_removed"},
    };
};

template <>
struct RecordFields<MergeTokenizerResult> {
    static constexpr std::tuple fields{
        Field<&MergeTokenizerResult::initial_target_vocab_size>{"initial_target_vocab_size"},
        Field<&MergeTokenizerResult::source_vocab_size>{"source_vocab_size"},
        Field<&MergeTokenizerResult::final_model_vocab_size>{"final_model_vocab_size"},
        Field<&MergeTokenizerResult::final_vocab_size>{"final_vocab_size"},
        Field<&MergeTokenizerResult::tokens_injected>{"tokens_injected"},
        Field<&MergeTokenizerResult::target_tokens_removed>{"target_tokens_removed"},
        Field<&MergeTokenizerResult::bridge_tokens_added>{"bridge_tokens_added"},
        Field<&MergeTokenizerResult::bridge_merges_added>{"bridge_merges_added"},
        Field<&MergeTokenizerResult::source_merges_added>{"source_merges_added"},
        Field<&MergeTokenizerResult::target_merges_retained>{"target_merges_retained"},
        Field<&MergeTokenizerResult::representation>{"representation"},
    };
};

template <>
struct RecordFields<TokenizerStats> {
    static constexpr std::tuple fields{
        Field<&TokenizerStats::vocab_size>{"vocab_size"},
        Field<&TokenizerStats::merges_count>{"merges_count"},
        Field<&TokenizerStats::single_char_count>{"single_char_count"},
        Field<&TokenizerStats::special_token_count>{"special_token_count"},
        Field<&TokenizerStats::min_token_id>{"min_token_id"},
        Field<&TokenizerStats::max_token_id>{"max_token_id"},
        Field<&TokenizerStats::length_distribution>{"length_distribution"},
    };
};

template <>
struct RecordFields<ReindexResult> {
    static constexpr std::tuple fields{
        Field<&ReindexResult::vocab_size>{"vocab_size"},
        Field<&ReindexResult::merges_count>{"merges_count"},
        Field<&ReindexResult::old_min_id>{"old_min_id"},
        Field<&ReindexResult::old_max_id>{"old_max_id"},
        Field<&ReindexResult::new_min_id>{"new_min_id"},
        Field<&ReindexResult::new_max_id>{"new_max_id"},
        Field<&ReindexResult::ids_remapped>{"ids_remapped"},
        Field<&ReindexResult::gaps_removed>{"gaps_removed"},
        Field<&ReindexResult::old_ids>{"old_ids"},
        Field<&ReindexResult::new_ids>{"new_ids"},
    };
};

template <>
struct RecordFields<KeepSizeReport> {
    static constexpr std::tuple fields{
        Field<&KeepSizeReport::initial_vocab_size>{"initial_vocab_size"},
        Field<&KeepSizeReport::final_vocab_size>{"final_vocab_size"},
        Field<&KeepSizeReport::tokens_requested>{"tokens_requested"},
        Field<&KeepSizeReport::tokens_added>{"tokens_added"},
        Field<&KeepSizeReport::tokens_removed>{"tokens_removed"},
        Field<&KeepSizeReport::tokens_not_added>{"tokens_not_added"},
    };
};

template <>
struct RecordFields<SyncReport> {
    static constexpr std::tuple fields{
        Field<&SyncReport::initial_vocab_size>{"initial_vocab_size"},
        Field<&SyncReport::final_vocab_size>{"final_vocab_size"},
        Field<&SyncReport::chars_in_source>{"chars_in_source"},
        Field<&SyncReport::chars_already_present>{"chars_already_present"},
        Field<&SyncReport::chars_added_count>{"chars_added_count"},
        Field<&SyncReport::total_tokens_removed>{"total_tokens_removed"},
        Field<&SyncReport::total_merges_removed>{"total_merges_removed"},
        Field<&SyncReport::chars_not_added>{"chars_not_added"},
    };
};

}  // namespace lexmill::python
