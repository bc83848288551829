// The Lexmill class: its methods, each one row of the method table below and
// one function above it, and the class's slots.

#include "python/lexmill_class.h"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

#include "python/editor_method.h"
#include "python/error_mapping.h"
#include "python/instance.h"
#include "python/interpreter_io.h"
#include "python/reader_warning.h"
#include "python/result_classes.h"
#include "python/result_conversion.h"

namespace lexmill::python {

namespace {

PyRef none() { return PyRef::borrow(Py_None); }

PyRef new_editor(Editor editor) { return new_instance(lexmill_class.type_in_call(), std::move(editor)); }

AdditionMethod addition_method(const Arguments& args) {
    return args.flag("reachable") ? AdditionMethod::reachable : AdditionMethod::chain;
}

// Progress goes straight to the process's standard error, unbuffered, so
// that each refresh of the progress line shows as it is written.
void write_to_stderr(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

PyRef open_file(const Arguments& args) {
    return new_editor(value_or_raise(Editor::load_tokenizer_file(args.text("path"), InterpreterHooks{})));
}

PyRef open_json(const Arguments& args) { return new_editor(value_or_raise(Editor::from_json(args.text("json_str")))); }

PyRef save(const Editor& editor, const Arguments& args) {
    const std::string& path = args.text("path");
    warn_if_read_differently(editor);
    flush_stream_beneath(path);
    raise_if_failed(editor.save(path, InterpreterHooks{}));
    return none();
}

PyRef to_json(const Editor& editor, const Arguments&) {
    warn_if_read_differently(editor);
    return to_python(editor.to_json());
}

PyRef vocab_size(const Editor& editor, const Arguments&) { return to_python(editor.vocab_size()); }

PyRef merges_count(const Editor& editor, const Arguments&) { return to_python(editor.merges_count()); }

PyRef has_token(const Editor& editor, const Arguments& args) { return to_python(editor.has_token(args.text("token"))); }

PyRef get_token_id(const Editor& editor, const Arguments& args) {
    return to_python(editor.get_token_id(args.text("token")));
}

PyRef get_token_by_id(const Editor& editor, const Arguments& args) {
    return to_python(editor.get_token_by_id(args.id("id")));
}

PyRef get_vocab(const Editor& editor, const Arguments&) { return vocab_dict(editor); }

PyRef get_merges(const Editor& editor, const Arguments&) { return merge_list(editor); }

PyRef get_stats(const Editor& editor, const Arguments&) { return tokenizer_stats.create(editor.get_stats()); }

PyRef validate_merges(const Editor& editor, const Arguments&) {
    return validation_result.create(editor.validate_merges());
}

PyRef remove_invalid_merges(Editor& editor, const Arguments&) { return to_python(editor.remove_invalid_merges()); }

PyRef merge_from(Editor& editor, const Arguments& args) {
    return merge_tokenizer_result.create(value_or_raise(
        editor.merge_from(args.text("source_path"), args.count("max_vocab_size"), InterpreterHooks{})));
}

PyRef add_token(Editor& editor, const Arguments& args) {
    return addition_result.create(editor.add_token(args.text("token"), addition_method(args)));
}

PyRef add_tokens(Editor& editor, const Arguments& args) {
    return addition_result.create_list(editor.add_tokens(args.text_list("tokens"), addition_method(args)));
}

PyRef add_token_atomic(Editor& editor, const Arguments& args) {
    return to_python(editor.add_token_atomic(args.text("token")));
}

PyRef remove_token(Editor& editor, const Arguments& args) {
    return removal_result.create(editor.remove_token(args.text("token")));
}

PyRef remove_tokens(Editor& editor, const Arguments& args) {
    return removal_result.create_list(editor.remove_tokens(args.text_list("tokens")));
}

PyRef shrink(Editor& editor, const Arguments& args) {
    return shrink_result.create(editor.shrink(args.count("count"), args.id("min_id")));
}

PyRef find_tokens_to_shrink(const Editor& editor, const Arguments& args) {
    return to_python(editor.find_tokens_to_shrink(args.count("count"), args.id("min_id")));
}

PyRef get_single_char_tokens(const Editor& editor, const Arguments&) {
    return to_python(editor.get_single_char_tokens());
}

PyRef sync_single_chars(Editor& editor, const Arguments& args) {
    return counter_dict(value_or_raise(editor.sync_single_chars(args.text("source_path"), args.id("min_id"),
                                                                &write_to_stderr, InterpreterHooks{})),
                        sync_counters);
}

PyRef add_tokens_keep_size(Editor& editor, const Arguments& args) {
    return counter_dict(editor.add_tokens_keep_size(args.text_list("tokens"), args.optional_text_list("whitelist"),
                                                    addition_method(args)),
                        keep_size_counters);
}

PyRef check_vocab_gaps(const Editor& editor, const Arguments&) { return to_python(editor.check_vocab_gaps()); }

PyRef reindex_vocab(Editor& editor, const Arguments&) { return reindex_result.create(editor.reindex_vocab()); }

PyRef pin_added_tokens(Editor& editor, const Arguments&) { return to_python(editor.pin_added_tokens()); }

PyRef spell(const Editor& editor, const Arguments& args) {
    return to_python(value_or_raise(editor.spell(args.text("text"))));
}

PyRef describe(const Editor& editor, const Arguments&) {
    return to_python("Lexmill(vocab_size=" + std::to_string(editor.vocab_size()) +
                     ", merges_count=" + std::to_string(editor.merges_count()) + ")");
}

#define REACHABLE_ADVICE                                                        \
    "Use reachable=True for words the model should see as one token: new\n"    \
    "merges rank below every existing one, so existing merges often split a\n" \
    "word before the default chain completes. The default keeps the classic\n" \
    "chain, which files made with earlier versions were built with.\n\n"

// In the class's declaration order. The stubs (src/stubs) repeat each
// docstring and are checked against this table.
constexpr Method kMethods[] = {
    {"from_json", open_json, {text("json_str")},
     "Create a new editor from JSON string\n\nArgs:\n    json_str: JSON string containing the tokenizer\n\n"
     "Returns:\n    Lexmill instance"},
    {"save", save, {text("path")},
     "Save the tokenizer to a JSON file\n\nArgs:\n    path: Output path for the tokenizer.json file"},
    {"to_json", to_json, {},
     "Export tokenizer to JSON string\n\nReturns:\n    JSON string representation of the tokenizer"},
    {"has_token", has_token, {text("token")},
     "Check if a token exists in the vocabulary\n\nArgs:\n    token: Token string to check\n\n"
     "Returns:\n    True if token exists, False otherwise"},
    {"get_token_id", get_token_id, {text("token")},
     "Get the ID of a token\n\nArgs:\n    token: Token string\n\nReturns:\n    Token ID or None if not found"},
    {"get_token_by_id", get_token_by_id, {id("id")},
     "Get a token by its ID\n\nArgs:\n    id: Token ID\n\nReturns:\n    Token string or None if not found"},
    {"get_vocab", get_vocab, {},
     "Get all tokens in the vocabulary\n\nReturns:\n    Dictionary mapping token strings to their IDs"},
    {"get_merges", get_merges, {},
     "Get all merges as list of tuples\n\nReturns:\n    List of (token_a, token_b) merge pairs"},
    {"get_stats", get_stats, {},
     "Get comprehensive tokenizer statistics\n\nReturns:\n    TokenizerStats object with detailed statistics"},
    {"validate_merges", validate_merges, {},
     "Validate all merges - check that each merge result exists in vocabulary\n\n"
     "Returns:\n    ValidationResult with valid/invalid merge counts and details"},
    {"remove_invalid_merges", remove_invalid_merges, {},
     "Remove all invalid merges from the tokenizer\n\nReturns:\n    Number of invalid merges removed"},
    {"merge_from", merge_from, {text("source_path"), count("max_vocab_size", 262144)},
     "Merge a source tokenizer into this target tokenizer.\n\n"
     "Source tokens are converted to this tokenizer's native ByteLevel or\n"
     "space-marker representation. Source merges receive higher priority than\n"
     "original target merges.\n\n"
     "Args:\n    source_path: Path to the source tokenizer.json file\n"
     "    max_vocab_size: Maximum complete vocabulary size, including added tokens\n\n"
     "Returns:\n    MergeTokenizerResult with merge statistics"},
    {"add_token", add_token, {text("token"), keyword_flag("reachable")},
     "Add a token with proper merge chain creation\n\n"
     "This method intelligently adds a token using one of these strategies:\n"
     "- Single character: Added directly to vocab\n"
     "- Longest prefix: If a prefix exists, adds prefix + suffix -> token merge\n"
     "- Character chain: Builds merge chain a+b->ab, ab+c->abc, etc.\n"
     "- Reachable (reachable=True): Cuts the token into the pieces the current\n"
     "  merges give it and chains those, so that BPE produces the token whole\n\n"
     REACHABLE_ADVICE
     "Args:\n    token: Token string to add\n"
     "    reachable: Chain the pieces BPE already cuts the token into (default: False)\n\n"
     "Returns:\n    AdditionResult with details about how the token was added"},
    {"add_tokens", add_tokens, {text_list("tokens"), keyword_flag("reachable")},
     "Add multiple tokens\n\n"
     REACHABLE_ADVICE
     "Args:\n    tokens: List of token strings to add\n"
     "    reachable: Chain the pieces BPE already cuts each token into (default: False)\n\n"
     "Returns:\n    List of AdditionResult for each token"},
    {"add_token_atomic", add_token_atomic, {text("token")},
     "Add a token without creating merge chains (for special tokens)\n\n"
     "Args:\n    token: Token string to add\n\n"
     "Returns:\n    True if token was added, False if it already existed"},
    {"remove_token", remove_token, {text("token")},
     "Remove a token and all its dependencies\n\n"
     "This performs cascade removal:\n"
     "- Removes all merges that use this token as input\n"
     "- Removes all merges that produce this token\n"
     "- Removes all tokens that can only be produced by removed merges\n\n"
     "Args:\n    token: Token string to remove\n\n"
     "Returns:\n    RemovalResult with details about what was removed"},
    {"remove_tokens", remove_tokens, {text_list("tokens")},
     "Remove multiple tokens\n\nArgs:\n    tokens: List of token strings to remove\n\n"
     "Returns:\n    List of RemovalResult for each token"},
    {"shrink", shrink, {count("count"), id("min_id", 0)},
     "Shrink vocabulary by removing N longest non-special tokens\n\n"
     "Selection criteria (in order):\n"
     "- Longest tokens first (by character count)\n"
     "- Highest token IDs first (among same length)\n"
     "- Never removes single-character tokens\n"
     "- Never removes special tokens (<...> or [...])\n\n"
     "Args:\n    count: Number of tokens to remove\n"
     "    min_id: Only consider tokens with ID >= min_id (default: 0)\n\n"
     "Returns:\n    ShrinkResult with details about the shrink operation"},
    {"find_tokens_to_shrink", find_tokens_to_shrink, {count("count"), id("min_id", 0)},
     "Find tokens that would be removed by shrink operation (preview)\n\n"
     "Args:\n    count: Number of tokens to find\n"
     "    min_id: Only consider tokens with ID >= min_id (default: 0)\n\n"
     "Returns:\n    List of (token, id, char_length) tuples"},
    {"get_single_char_tokens", get_single_char_tokens, {},
     "Get all single-character tokens\n\nReturns:\n    List of (token, id) tuples"},
    {"sync_single_chars", sync_single_chars, {text("source_path"), id("min_id", 0)},
     "Sync single-character tokens from another tokenizer\n\n"
     "Copies missing single-char tokens from source, removing longest\n"
     "tokens to maintain vocabulary size.\n\n"
     "Args:\n    source_path: Path to source tokenizer.json\n"
     "    min_id: Only remove tokens with ID >= min_id (default: 0)\n\n"
     "Returns:\n    Dictionary with sync operation details"},
    {"add_tokens_keep_size", add_tokens_keep_size,
     {text_list("tokens"), optional_text_list("whitelist"), keyword_flag("reachable")},
     "Add tokens while keeping vocabulary size fixed\n\n"
     "Adds new tokens and automatically removes other tokens to maintain\n"
     "the original vocabulary size.\n\n"
     "Every entry an addition creates (the token and the pieces of its merge\n"
     "chain) is paid for by removing the longest tokens that may go (never\n"
     "single characters, <...>/[...] tokens, added tokens, the whitelist or\n"
     "what this call adds) and takes an ID such a removal freed, so neither\n"
     "the size nor the largest ID grows. When nothing is left to remove, the\n"
     "remaining tokens are left out and counted in tokens_not_added.\n\n"
     REACHABLE_ADVICE
     "Args:\n    tokens: List of tokens to add\n"
     "    whitelist: Optional list of tokens that should never be removed\n"
     "    reachable: Chain the pieces BPE already cuts each token into (default: False)\n\n"
     "Returns:\n    Dictionary with operation details"},
    {"check_vocab_gaps", check_vocab_gaps, {},
     "Check if vocabulary has gaps in its ID space\n\nReturns:\n    Tuple of (has_gaps, total_gaps, min_id, max_id)"},
    {"reindex_vocab", reindex_vocab, {},
     "Reindex vocabulary to make all IDs sequential\n\n"
     "This removes all gaps in the vocabulary IDs, creating a dense/compact\n"
     "ID space. Tokens that already have correct sequential IDs (starting from 0)\n"
     "are preserved - only tokens after the first gap are remapped.\n\n"
     "Note: Merges don't contain IDs, they reference token strings,\n"
     "so they don't need to be updated.\n\n"
     "Added tokens stay in step: one whose content is a vocabulary token takes\n"
     "that token's new ID, and the ID of one whose content is not is skipped.\n"
     "The result's old_ids and new_ids list the entries that moved, so rows of\n"
     "an embedding matrix follow in one line: E[r.new_ids] = E[r.old_ids]\n"
     "(numpy; in torch, under torch.no_grad()).\n\n"
     "Returns:\n    ReindexResult with details about the reindexing operation"},
    {"pin_added_tokens", pin_added_tokens, {},
     "Enter added tokens into the model vocabulary under their own IDs\n\n"
     "Readers such as the tokenizers library ignore the written ID of an added\n"
     "token whose content is not in the model vocabulary and number such tokens\n"
     "themselves, from the vocabulary's size upward: after an edit that changes\n"
     "the size, they would be read with other IDs. Pinning makes each of them a\n"
     "vocabulary entry (without merges) under the ID it is written with, unless\n"
     "another vocabulary token holds that ID. save() and to_json() warn when\n"
     "pinning is needed.\n\n"
     "Returns:\n    Number of added tokens entered into the vocabulary"},
    {"spell", spell, {text("text")},
     "Write plain text in this tokenizer's spelling\n\n"
     "Applies NFC when the normalizer has an NFC step, then writes every UTF-8\n"
     "byte as its byte-level character (byte-level tokenizers: ' the' becomes\n"
     "'\u0120the') or every space as the space marker (' the' becomes '\u2581the').\n"
     "Exactly the text given is converted: no space is put before it.\n\n"
     "Args:\n    text: Plain text\n\n"
     "Returns:\n    The text as the vocabulary spells it\n\n"
     "Raises:\n    ValueError: if the tokenizer has neither a ByteLevel pre-tokenizer nor a space marker"},
};

#undef REACHABLE_ADVICE

constexpr Method kProperties[] = {
    {"vocab_size", vocab_size, {}, "Get the current vocabulary size"},
    {"merges_count", merges_count, {}, "Get the current number of merges"},
};

// Lexmill(path), which also gives the class its text signature.
constexpr Method kConstructor{"__new__", open_file, {text("path")}, nullptr};

constexpr Method kRepr{"__repr__", describe, {}, nullptr};

PyObject* construct(PyTypeObject*, PyObject* args, PyObject* kwargs) noexcept {
    return call_method(kConstructor, nullptr, args, kwargs);
}

PyObject* represent(PyObject* self) noexcept { return call_method(kRepr, self, nullptr, nullptr); }

std::vector<PyType_Slot> lexmill_slots(const PythonClass&) {
    static auto methods = method_defs<kMethods>();
    static std::vector<PyGetSetDef> properties = property_defs(kProperties);
    return {
        // Lexmill(path): opens the tokenizer file at `path`.
        {.slot = Py_tp_new, .pfunc = reinterpret_cast<void*>(&construct)},
        // Destroys the editor, frees the object through the type's free slot, then drops its reference to the class.
        {.slot = Py_tp_dealloc, .pfunc = reinterpret_cast<void*>(&deallocate_instance<Editor>)},
        // "Lexmill(vocab_size=V, merges_count=M)".
        {.slot = Py_tp_repr, .pfunc = reinterpret_cast<void*>(&represent)},
        // str() reads the same as repr().
        {.slot = Py_tp_str, .pfunc = reinterpret_cast<void*>(&represent)},
        // The method table above, each row entering through the call layer.
        {.slot = Py_tp_methods, .pfunc = methods.data()},
        // vocab_size and merges_count, read-only.
        {.slot = Py_tp_getset, .pfunc = properties.data()},
        {.slot = 0, .pfunc = nullptr},
    };
}

}  // namespace

const PythonClass lexmill_class{"Lexmill", "Python wrapper for Lexmill", static_cast<int>(sizeof(Instance<Editor>)),
                                &lexmill_slots, &kConstructor.params};

}  // namespace lexmill::python
