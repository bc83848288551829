#pragma once
// The editor operations behind the Lexmill class, as plain C++ functions of
// core values and parameter kinds, in the shape the call layer binds.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editor/editor.h"
#include "python/call_values.h"
#include "result.h"

namespace lexmill::python {

Result<Editor> open_file(Text path);
Result<Editor> open_json(Text json_str);
Result<void> save(const Editor& editor, Text path);
std::string to_json(const Editor& editor);

uint64_t vocab_size(const Editor& editor);
uint64_t merges_count(const Editor& editor);
bool has_token(const Editor& editor, Text token);
std::optional<uint32_t> get_token_id(const Editor& editor, Text token);
std::optional<std::string_view> get_token_by_id(const Editor& editor, Id id);
VocabDict get_vocab(const Editor& editor);
MergePairs get_merges(const Editor& editor);
TokenizerStats get_stats(const Editor& editor);
std::vector<VocabEntry> get_single_char_tokens(const Editor& editor);
GapReport check_vocab_gaps(const Editor& editor);

ValidationResult validate_merges(const Editor& editor);
uint64_t remove_invalid_merges(Editor& editor);
Result<MergeTokenizerResult> merge_from(Editor& editor, Text source_path, Count max_vocab_size);
AdditionResult add_token(Editor& editor, Text token, Flag reachable);
std::vector<AdditionResult> add_tokens(Editor& editor, TextList tokens, Flag reachable);
bool add_token_atomic(Editor& editor, Text token);
RemovalResult remove_token(Editor& editor, Text token);
std::vector<RemovalResult> remove_tokens(Editor& editor, TextList tokens);
ShrinkResult shrink(Editor& editor, Count count, Id min_id);
std::vector<ShrinkCandidate> find_tokens_to_shrink(const Editor& editor, Count count, Id min_id);
Result<SyncReport> sync_single_chars(Editor& editor, Text source_path, Id min_id);
KeepSizeReport add_tokens_keep_size(Editor& editor, TextList tokens, OptionalTextList whitelist, Flag reachable);
ReindexResult reindex_vocab(Editor& editor);
uint64_t pin_added_tokens(Editor& editor);
Result<std::string> spell(const Editor& editor, Text text);

// "Lexmill(vocab_size={}, merges_count={})"
std::string describe(const Editor& editor);

}  // namespace lexmill::python
