#include "python/editor_calls.h"

#include "python/reader_warning.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "python/interpreter_io.h"

namespace lexmill::python {

Result<Editor> open_file(Text path) { return Editor::load_tokenizer_file(path, InterpreterHooks{}); }

Result<Editor> open_json(Text json_str) { return Editor::from_json(json_str); }

Result<void> save(const Editor& editor, Text path) {
    warn_if_read_differently(editor);
    flush_stream_beneath(path);
    return editor.save(path, InterpreterHooks{});
}

std::string to_json(const Editor& editor) {
    warn_if_read_differently(editor);
    return editor.to_json();
}

uint64_t vocab_size(const Editor& editor) { return editor.vocab_size(); }

uint64_t merges_count(const Editor& editor) { return editor.merges_count(); }

bool has_token(const Editor& editor, Text token) { return editor.has_token(token); }

std::optional<uint32_t> get_token_id(const Editor& editor, Text token) { return editor.get_token_id(token); }

std::optional<std::string_view> get_token_by_id(const Editor& editor, Id id) {
    return editor.get_token_by_id(id.value);
}

VocabDict get_vocab(const Editor& editor) { return VocabDict{editor.get_vocab()}; }

MergePairs get_merges(const Editor& editor) { return MergePairs{&editor}; }

TokenizerStats get_stats(const Editor& editor) { return editor.get_stats(); }

std::vector<VocabEntry> get_single_char_tokens(const Editor& editor) { return editor.get_single_char_tokens(); }

GapReport check_vocab_gaps(const Editor& editor) { return editor.check_vocab_gaps(); }

ValidationResult validate_merges(const Editor& editor) { return editor.validate_merges(); }

uint64_t remove_invalid_merges(Editor& editor) { return editor.remove_invalid_merges(); }

Result<MergeTokenizerResult> merge_from(Editor& editor, Text source_path, Count max_vocab_size) {
    return editor.merge_from(source_path, max_vocab_size.value, InterpreterHooks{});
}

namespace {

AdditionMethod addition_method(Flag reachable) {
    return reachable.value ? AdditionMethod::reachable : AdditionMethod::chain;
}

}  // namespace

AdditionResult add_token(Editor& editor, Text token, Flag reachable) {
    return editor.add_token(token, addition_method(reachable));
}

std::vector<AdditionResult> add_tokens(Editor& editor, TextList tokens, Flag reachable) {
    return editor.add_tokens(tokens, addition_method(reachable));
}

bool add_token_atomic(Editor& editor, Text token) { return editor.add_token_atomic(token); }

RemovalResult remove_token(Editor& editor, Text token) { return editor.remove_token(token); }

std::vector<RemovalResult> remove_tokens(Editor& editor, TextList tokens) { return editor.remove_tokens(tokens); }

ShrinkResult shrink(Editor& editor, Count count, Id min_id) { return editor.shrink(count.value, min_id.value); }

std::vector<ShrinkCandidate> find_tokens_to_shrink(const Editor& editor, Count count, Id min_id) {
    return editor.find_tokens_to_shrink(count.value, min_id.value);
}

Result<SyncReport> sync_single_chars(Editor& editor, Text source_path, Id min_id) {
    // Progress goes straight to the process's standard error, unbuffered, so
    // that each refresh of the progress line shows as it is written.
    auto to_stderr = [](std::string_view text) {
        while (!text.empty()) {
            ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            text.remove_prefix(static_cast<size_t>(n));
        }
    };
    return editor.sync_single_chars(source_path, min_id.value, to_stderr, InterpreterHooks{});
}

KeepSizeReport add_tokens_keep_size(Editor& editor, TextList tokens, OptionalTextList whitelist, Flag reachable) {
    return editor.add_tokens_keep_size(tokens, whitelist, addition_method(reachable));
}

ReindexResult reindex_vocab(Editor& editor) { return editor.reindex_vocab(); }

uint64_t pin_added_tokens(Editor& editor) { return editor.pin_added_tokens(); }
Result<std::string> spell(const Editor& editor, Text text) { return editor.spell(text); }

std::string describe(const Editor& editor) {
    return "Lexmill(vocab_size=" + std::to_string(editor.vocab_size()) +
           ", merges_count=" + std::to_string(editor.merges_count()) + ")";
}

}  // namespace lexmill::python
