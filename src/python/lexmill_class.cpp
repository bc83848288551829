// The Lexmill class: an editor opened from a file or from JSON text.

#include <Python.h>

#include "python/class_registry.h"
#include "python/editor_calls.h"
#include "python/instance.h"
#include "python/method_call.h"

namespace lexmill::python {

namespace {

#define REACHABLE_ADVICE                                                        \
    "Use reachable=True for words the model should see as one token: new\n"    \
    "merges rank below every existing one, so existing merges often split a\n" \
    "word before the default chain completes. The default keeps the classic\n" \
    "chain, which files made with earlier versions were built with.\n\n"

constexpr auto kNew = method_spec("__new__", "Lexmill.__new__()", UseKind::none, nullptr, required("path"));

constexpr auto kFromJson = method_spec(
    "from_json", "Lexmill.from_json()", UseKind::none,
    "from_json(json_str)\n--\n\n"
    "Create a new editor from JSON string\n\nArgs:\n    json_str: JSON string containing the tokenizer\n\n"
    "Returns:\n    Lexmill instance",
    required("json_str"));

constexpr auto kSave = method_spec(
    "save", "Lexmill.save()", UseKind::shared,
    "save($self, path)\n--\n\n"
    "Save the tokenizer to a JSON file\n\nArgs:\n    path: Output path for the tokenizer.json file",
    required("path"));

constexpr auto kToJson = method_spec(
    "to_json", "Lexmill.to_json()", UseKind::shared,
    "to_json($self)\n--\n\n"
    "Export tokenizer to JSON string\n\nReturns:\n    JSON string representation of the tokenizer");

constexpr auto kVocabSize =
    method_spec("vocab_size", "Lexmill.vocab_size", UseKind::shared, "Get the current vocabulary size");

constexpr auto kMergesCount =
    method_spec("merges_count", "Lexmill.merges_count", UseKind::shared, "Get the current number of merges");

constexpr auto kHasToken = method_spec(
    "has_token", "Lexmill.has_token()", UseKind::shared,
    "has_token($self, token)\n--\n\n"
    "Check if a token exists in the vocabulary\n\nArgs:\n    token: Token string to check\n\n"
    "Returns:\n    True if token exists, False otherwise",
    required("token"));

constexpr auto kGetTokenId = method_spec(
    "get_token_id", "Lexmill.get_token_id()", UseKind::shared,
    "get_token_id($self, token)\n--\n\n"
    "Get the ID of a token\n\nArgs:\n    token: Token string\n\nReturns:\n    Token ID or None if not found",
    required("token"));

constexpr auto kGetTokenById = method_spec(
    "get_token_by_id", "Lexmill.get_token_by_id()", UseKind::shared,
    "get_token_by_id($self, id)\n--\n\n"
    "Get a token by its ID\n\nArgs:\n    id: Token ID\n\nReturns:\n    Token string or None if not found",
    required("id"));

constexpr auto kGetVocab = method_spec(
    "get_vocab", "Lexmill.get_vocab()", UseKind::shared,
    "get_vocab($self)\n--\n\n"
    "Get all tokens in the vocabulary\n\nReturns:\n    Dictionary mapping token strings to their IDs");

constexpr auto kGetMerges = method_spec(
    "get_merges", "Lexmill.get_merges()", UseKind::shared,
    "get_merges($self)\n--\n\n"
    "Get all merges as list of tuples\n\nReturns:\n    List of (token_a, token_b) merge pairs");

constexpr auto kGetStats = method_spec(
    "get_stats", "Lexmill.get_stats()", UseKind::shared,
    "get_stats($self)\n--\n\n"
    "Get comprehensive tokenizer statistics\n\nReturns:\n    TokenizerStats object with detailed statistics");

constexpr auto kValidateMerges = method_spec(
    "validate_merges", "Lexmill.validate_merges()", UseKind::shared,
    "validate_merges($self)\n--\n\n"
    "Validate all merges - check that each merge result exists in vocabulary\n\n"
    "Returns:\n    ValidationResult with valid/invalid merge counts and details");

constexpr auto kRemoveInvalidMerges = method_spec(
    "remove_invalid_merges", "Lexmill.remove_invalid_merges()", UseKind::exclusive,
    "remove_invalid_merges($self)\n--\n\n"
    "Remove all invalid merges from the tokenizer\n\nReturns:\n    Number of invalid merges removed");

constexpr auto kMergeFrom = method_spec(
    "merge_from", "Lexmill.merge_from()", UseKind::exclusive,
    "merge_from($self, source_path, max_vocab_size=262144)\n--\n\n"
    "Merge a source tokenizer into this target tokenizer.\n\n"
    "Source tokens are converted to this tokenizer's native ByteLevel or\n"
    "space-marker representation. Source merges receive higher priority than\n"
    "original target merges.\n\n"
    "Args:\n    source_path: Path to the source tokenizer.json file\n"
    "    max_vocab_size: Maximum complete vocabulary size, including added tokens\n\n"
    "Returns:\n    MergeTokenizerResult with merge statistics",
    required("source_path"), optional("max_vocab_size", 262144));

constexpr auto kAddToken = method_spec(
    "add_token", "Lexmill.add_token()", UseKind::exclusive,
    "add_token($self, token, *, reachable=False)\n--\n\n"
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
    "Returns:\n    AdditionResult with details about how the token was added",
    required("token"), keyword_only("reachable"));

constexpr auto kAddTokens = method_spec(
    "add_tokens", "Lexmill.add_tokens()", UseKind::exclusive,
    "add_tokens($self, tokens, *, reachable=False)\n--\n\n"
    "Add multiple tokens\n\n"
    REACHABLE_ADVICE
    "Args:\n    tokens: List of token strings to add\n"
    "    reachable: Chain the pieces BPE already cuts each token into (default: False)\n\n"
    "Returns:\n    List of AdditionResult for each token",
    required("tokens"), keyword_only("reachable"));

constexpr auto kAddTokenAtomic = method_spec(
    "add_token_atomic", "Lexmill.add_token_atomic()", UseKind::exclusive,
    "add_token_atomic($self, token)\n--\n\n"
    "Add a token without creating merge chains (for special tokens)\n\n"
    "Args:\n    token: Token string to add\n\n"
    "Returns:\n    True if token was added, False if it already existed",
    required("token"));

constexpr auto kRemoveToken = method_spec(
    "remove_token", "Lexmill.remove_token()", UseKind::exclusive,
    "remove_token($self, token)\n--\n\n"
    "Remove a token and all its dependencies\n\n"
    "This performs cascade removal:\n"
    "- Removes all merges that use this token as input\n"
    "- Removes all merges that produce this token\n"
    "- Removes all tokens that can only be produced by removed merges\n\n"
    "Args:\n    token: Token string to remove\n\n"
    "Returns:\n    RemovalResult with details about what was removed",
    required("token"));

constexpr auto kRemoveTokens = method_spec(
    "remove_tokens", "Lexmill.remove_tokens()", UseKind::exclusive,
    "remove_tokens($self, tokens)\n--\n\n"
    "Remove multiple tokens\n\nArgs:\n    tokens: List of token strings to remove\n\n"
    "Returns:\n    List of RemovalResult for each token",
    required("tokens"));

constexpr auto kShrink = method_spec(
    "shrink", "Lexmill.shrink()", UseKind::exclusive,
    "shrink($self, count, min_id=0)\n--\n\n"
    "Shrink vocabulary by removing N longest non-special tokens\n\n"
    "Selection criteria (in order):\n"
    "- Longest tokens first (by character count)\n"
    "- Highest token IDs first (among same length)\n"
    "- Never removes single-character tokens\n"
    "- Never removes special tokens (<...> or [...])\n\n"
    "Args:\n    count: Number of tokens to remove\n"
    "    min_id: Only consider tokens with ID >= min_id (default: 0)\n\n"
    "Returns:\n    ShrinkResult with details about the shrink operation",
    required("count"), optional("min_id", 0));

constexpr auto kFindTokensToShrink = method_spec(
    "find_tokens_to_shrink", "Lexmill.find_tokens_to_shrink()", UseKind::shared,
    "find_tokens_to_shrink($self, count, min_id=0)\n--\n\n"
    "Find tokens that would be removed by shrink operation (preview)\n\n"
    "Args:\n    count: Number of tokens to find\n"
    "    min_id: Only consider tokens with ID >= min_id (default: 0)\n\n"
    "Returns:\n    List of (token, id, char_length) tuples",
    required("count"), optional("min_id", 0));

constexpr auto kSyncSingleChars = method_spec(
    "sync_single_chars", "Lexmill.sync_single_chars()", UseKind::exclusive,
    "sync_single_chars($self, source_path, min_id=0)\n--\n\n"
    "Sync single-character tokens from another tokenizer\n\n"
    "Copies missing single-char tokens from source, removing longest\n"
    "tokens to maintain vocabulary size.\n\n"
    "Args:\n    source_path: Path to source tokenizer.json\n"
    "    min_id: Only remove tokens with ID >= min_id (default: 0)\n\n"
    "Returns:\n    Dictionary with sync operation details",
    required("source_path"), optional("min_id", 0));

constexpr auto kAddTokensKeepSize = method_spec(
    "add_tokens_keep_size", "Lexmill.add_tokens_keep_size()", UseKind::exclusive,
    "add_tokens_keep_size($self, tokens, whitelist=None, *, reachable=False)\n--\n\n"
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
    "Returns:\n    Dictionary with operation details",
    required("tokens"), optional("whitelist"), keyword_only("reachable"));

constexpr auto kReindexVocab = method_spec(
    "reindex_vocab", "Lexmill.reindex_vocab()", UseKind::exclusive,
    "reindex_vocab($self)\n--\n\n"
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
    "Returns:\n    ReindexResult with details about the reindexing operation");

constexpr auto kPinAddedTokens = method_spec(
    "pin_added_tokens", "Lexmill.pin_added_tokens()", UseKind::exclusive,
    "pin_added_tokens($self)\n--\n\n"
    "Enter added tokens into the model vocabulary under their own IDs\n\n"
    "Readers such as the tokenizers library ignore the written ID of an added\n"
    "token whose content is not in the model vocabulary and number such tokens\n"
    "themselves, from the vocabulary's size upward: after an edit that changes\n"
    "the size, they would be read with other IDs. Pinning makes each of them a\n"
    "vocabulary entry (without merges) under the ID it is written with, unless\n"
    "another vocabulary token holds that ID. save() and to_json() warn when\n"
    "pinning is needed.\n\n"
    "Returns:\n    Number of added tokens entered into the vocabulary");

constexpr auto kGetSingleCharTokens = method_spec(
    "get_single_char_tokens", "Lexmill.get_single_char_tokens()", UseKind::shared,
    "get_single_char_tokens($self)\n--\n\n"
    "Get all single-character tokens\n\nReturns:\n    List of (token, id) tuples");

constexpr auto kCheckVocabGaps = method_spec(
    "check_vocab_gaps", "Lexmill.check_vocab_gaps()", UseKind::shared,
    "check_vocab_gaps($self)\n--\n\n"
    "Check if vocabulary has gaps in its ID space\n\nReturns:\n    Tuple of (has_gaps, total_gaps, min_id, max_id)");

constexpr auto kSpell = method_spec(
    "spell", "Lexmill.spell()", UseKind::shared,
    "spell($self, text)\n--\n\n"
    "Write plain text in this tokenizer's spelling\n\n"
    "Applies NFC when the normalizer has an NFC step, then writes every UTF-8\n"
    "byte as its byte-level character (byte-level tokenizers: ' the' becomes\n"
    "'\u0120the') or every space as the space marker (' the' becomes '\u2581the').\n"
    "Exactly the text given is converted: no space is put before it.\n\n"
    "Args:\n    text: Plain text\n\n"
    "Returns:\n    The text as the vocabulary spells it\n\n"
    "Raises:\n    ValueError: if the tokenizer has neither a ByteLevel pre-tokenizer nor a space marker",
    required("text"));

constexpr auto kRepr = method_spec("__repr__", "Lexmill.__repr__()", UseKind::shared, nullptr);

// In the class's declaration order.
PyMethodDef methods[] = {
    method_def<kFromJson, &open_json>(),
    method_def<kSave, &save>(),
    method_def<kToJson, &to_json>(),
    method_def<kHasToken, &has_token>(),
    method_def<kGetTokenId, &get_token_id>(),
    method_def<kGetTokenById, &get_token_by_id>(),
    method_def<kGetVocab, &get_vocab>(),
    method_def<kGetMerges, &get_merges>(),
    method_def<kGetStats, &get_stats>(),
    method_def<kValidateMerges, &validate_merges>(),
    method_def<kRemoveInvalidMerges, &remove_invalid_merges>(),
    method_def<kMergeFrom, &merge_from>(),
    method_def<kAddToken, &add_token>(),
    method_def<kAddTokens, &add_tokens>(),
    method_def<kAddTokenAtomic, &add_token_atomic>(),
    method_def<kRemoveToken, &remove_token>(),
    method_def<kRemoveTokens, &remove_tokens>(),
    method_def<kShrink, &shrink>(),
    method_def<kFindTokensToShrink, &find_tokens_to_shrink>(),
    method_def<kGetSingleCharTokens, &get_single_char_tokens>(),
    method_def<kSyncSingleChars, &sync_single_chars>(),
    method_def<kAddTokensKeepSize, &add_tokens_keep_size>(),
    method_def<kCheckVocabGaps, &check_vocab_gaps>(),
    method_def<kReindexVocab, &reindex_vocab>(),
    method_def<kPinAddedTokens, &pin_added_tokens>(),
    method_def<kSpell, &spell>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    property_def<kVocabSize, &vocab_size>(),
    property_def<kMergesCount, &merges_count>(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    // Lexmill(path): opens the tokenizer file at `path`.
    {.slot = Py_tp_new, .pfunc = reinterpret_cast<void*>(&constructor_entry<kNew, &open_file>)},
    // Destroys the editor, frees the object and drops its reference to the class.
    {.slot = Py_tp_dealloc, .pfunc = reinterpret_cast<void*>(&deallocate_instance<Editor>)},
    // "Lexmill(vocab_size=V, merges_count=M)".
    {.slot = Py_tp_repr, .pfunc = reinterpret_cast<void*>(&slot_entry<kRepr, &describe>)},
    // str() reads the same as repr().
    {.slot = Py_tp_str, .pfunc = reinterpret_cast<void*>(&slot_entry<kRepr, &describe>)},
    // The methods above, each entering through the call layer.
    {.slot = Py_tp_methods, .pfunc = methods},
    // vocab_size and merges_count, read-only.
    {.slot = Py_tp_getset, .pfunc = properties},
    {.slot = 0, .pfunc = nullptr},
};

const ClassDefinition definition{
    .full_name = "builtins.Lexmill",
    .doc = "Python wrapper for Lexmill",
    .text_signature = "(path)",
    .basic_size = static_cast<int>(sizeof(Instance<Editor>)),
    .slots = slots,
};

}  // namespace

const ClassDefinition& lexmill_class_definition() { return definition; }

PyRef to_python(Editor editor) { return new_object(std::move(editor)); }

}  // namespace lexmill::python
