// Merging a source tokenizer into the open one, in steps: check the inputs,
// choose the tokens that stay, assign their IDs, renumber the added tokens,
// build and check the merged merge list, install. Every step before the
// installation only reads the editor (strings it interns are seen by nothing
// outside), so a failure, or an exception such as running out of memory,
// leaves the editor as it was; the installation itself cannot fail.

#include <algorithm>
#include <deque>
#include <unordered_map>

#include "editor/editor.h"
#include "editor/id_order.h"
#include "editor/merge/conversion_plan.h"
#include "editor/merge/merged_merges.h"
#include "editor/token_text.h"

namespace lexmill {

// Everything a merge puts in place of the editor's own, complete and checked
// before anything is replaced.
struct MergedTokenizer {
    Vocab vocab;
    MergeList merges;
    std::vector<JsonValue> added_tokens;
    // The model IDs and the IDs given to added tokens of their own.
    DenseIdSet used_ids;
    // The IDs of the added-token entries with a content.
    DenseIdSet added_ids;
    uint64_t final_vocab_size = 0;
};

namespace {

constexpr uint64_t kMaxVocabSize = 0xFFFFFFFFu;

Error merge_error(std::string message) { return Error{ErrorKind::merge, std::move(message)}; }

bool all_objects(const std::vector<JsonValue>& entries) {
    return std::all_of(entries.begin(), entries.end(), [](const JsonValue& e) { return e.as_object() != nullptr; });
}

std::optional<Error> check_inputs(const Tokenizer& target, const Tokenizer& source, uint64_t max_vocab_size) {
    if (target.model.type != "BPE" || source.model.type != "BPE") return merge_error("Only BPE tokenizers are supported");
    if (max_vocab_size == 0 || max_vocab_size > kMaxVocabSize) {
        return merge_error("max_vocab_size must be between 1 and " + std::to_string(kMaxVocabSize));
    }
    // Added-token entries are renumbered in place, which needs objects.
    if (!all_objects(target.added_tokens) || !all_objects(source.added_tokens)) {
        return merge_error("added_tokens entries must be JSON objects");
    }
    return std::nullopt;
}

// The tokens of the merged model vocabulary.
struct KeptTokens {
    // The converted source tokens and bridge tokens, less added-only contents.
    DenseTokenSet converted;
    // The merged model vocabulary: the converted tokens, the target's
    // protected tokens, then the target's other tokens by ID up to the limit.
    DenseTokenSet kept;
    // The target's vocabulary in ID order.
    std::vector<Sym> old_order;
};

// Contents of added tokens that are no model tokens: they keep IDs of their
// own above the model vocabulary. `contents` holds the content of each
// added-token entry, kNoSym for an entry without one.
DenseTokenSet added_only_contents(const Vocab& vocab, const std::vector<Sym>& contents) {
    DenseTokenSet added_only;
    for (Sym sym : contents) {
        if (sym != kNoSym && !vocab.contains(sym)) added_only.insert(sym);
    }
    return added_only;
}

// A converted token that is an added-only content stays an added token.
DenseTokenSet converted_tokens(const ConversionPlan& plan, const DenseTokenSet& added_only) {
    DenseTokenSet converted;
    for (Sym sym : plan.converted_tokens) {
        if (!added_only.contains(sym)) converted.insert(sym);
    }
    for (Sym sym : plan.bridge_tokens) {
        if (!added_only.contains(sym)) converted.insert(sym);
    }
    return converted;
}

// Target tokens that always stay: those of protected form, the contents of
// added tokens, and the unknown token.
void keep_protected(const Tokenizer& target, const std::vector<Sym>& contents, DenseTokenSet& kept) {
    const Vocab& vocab = target.model.vocab;
    for (Sym sym : vocab.members()) {
        if (has_protected_form(target.strings, sym)) kept.insert(sym);
    }
    for (Sym sym : contents) {
        if (vocab.contains(sym)) kept.insert(sym);
    }
    if (target.model.unk_token) {
        Sym unk = target.strings.find(*target.model.unk_token);
        if (vocab.contains(unk)) kept.insert(unk);
    }
}

Result<KeptTokens> choose_kept_tokens(const Tokenizer& target, const std::vector<Sym>& contents,
                                      const ConversionPlan& plan, uint64_t max_vocab_size) {
    const DenseTokenSet added_only = added_only_contents(target.model.vocab, contents);
    if (added_only.size() >= max_vocab_size) return merge_error("Added tokens alone exceed max_vocab_size");
    const uint64_t model_limit = max_vocab_size - added_only.size();

    KeptTokens tokens;
    tokens.converted = converted_tokens(plan, added_only);
    tokens.kept = tokens.converted;
    keep_protected(target, contents, tokens.kept);
    if (tokens.kept.size() > model_limit) {
        return merge_error("Required converted and protected tokens (" + std::to_string(tokens.kept.size()) +
                           ") exceed model limit (" + std::to_string(model_limit) + ")");
    }
    // Filling: the target's tokens with the lowest IDs survive.
    tokens.old_order = tokens_by_id(target);
    for (Sym sym : tokens.old_order) {
        if (tokens.kept.size() == model_limit) break;
        tokens.kept.insert(sym);
    }
    return tokens;
}

// Kept target tokens below N keep their IDs: they go into `vocab`, and the
// IDs below N that none of them holds come back in ascending order.
std::deque<uint32_t> keep_target_ids(const Vocab& old_vocab, const KeptTokens& tokens, Vocab& vocab) {
    const uint64_t n = tokens.kept.size();
    vocab.reserve(n);
    DenseIdSet kept_ids;
    for (Sym sym : tokens.old_order) {
        if (tokens.kept.contains(sym) && old_vocab.id(sym) < n) {
            vocab.set(sym, old_vocab.id(sym));
            kept_ids.insert(old_vocab.id(sym));
        }
    }
    std::deque<uint32_t> free_ids;
    for (uint64_t id = 0; id < n; ++id) {
        if (!kept_ids.contains(static_cast<uint32_t>(id))) free_ids.push_back(static_cast<uint32_t>(id));
    }
    return free_ids;
}

std::vector<Sym> sorted_by_text(const StringPool& strings, std::vector<Sym> tokens) {
    std::sort(tokens.begin(), tokens.end(), [&](Sym a, Sym b) { return strings.view(a) < strings.view(b); });
    return tokens;
}

// The merged model vocabulary with IDs 0 ... N-1. The free IDs go, lowest
// first, to the converted tokens in source order, the bridge tokens
// bytewise, the kept target tokens in ID order and then any other kept
// token bytewise.
Result<Vocab> assign_ids(const Tokenizer& target, const ConversionPlan& plan, const KeptTokens& tokens) {
    Vocab vocab;
    std::deque<uint32_t> free_ids = keep_target_ids(target.model.vocab, tokens, vocab);
    std::optional<Error> failure;
    auto assign = [&](Sym sym) {
        if (failure || !tokens.kept.contains(sym) || vocab.contains(sym)) return;
        if (free_ids.empty()) {
            failure = merge_error("No free model ID for token " + std::string(target.strings.view(sym)));
            return;
        }
        vocab.set(sym, free_ids.front());
        free_ids.pop_front();
    };
    for (Sym sym : plan.converted_tokens) assign(sym);
    for (Sym sym : sorted_by_text(target.strings, plan.bridge_tokens)) assign(sym);
    for (Sym sym : tokens.old_order) assign(sym);
    std::vector<Sym> rest;
    rest.reserve(tokens.kept.size());
    tokens.kept.for_each([&](Sym sym) { rest.push_back(sym); });
    for (Sym sym : sorted_by_text(target.strings, std::move(rest))) assign(sym);
    if (failure) return *failure;
    if (vocab.size() != tokens.kept.size() || !free_ids.empty()) {
        return merge_error("Failed to assign a contiguous model vocabulary");
    }
    return vocab;
}

// Token counts of the result, against the old vocabulary.
void count_tokens(const Vocab& old_vocab, const ConversionPlan& plan, const KeptTokens& tokens,
                  MergeTokenizerResult& result) {
    tokens.converted.for_each([&](Sym sym) { result.tokens_injected += !old_vocab.contains(sym); });
    for (Sym sym : old_vocab.members()) result.target_tokens_removed += !tokens.kept.contains(sym);
    for (Sym sym : plan.bridge_tokens) {
        result.bridge_tokens_added += tokens.converted.contains(sym) && !old_vocab.contains(sym);
    }
}

// The target's added-token entries, copied and renumbered after the model
// vocabulary: a content that is a model token takes its ID, any other
// content one ID of its own, the same for every entry holding it.
std::optional<Error> renumber_added_tokens(const Tokenizer& target, const std::vector<Sym>& contents,
                                           uint64_t max_vocab_size, MergedTokenizer& merged) {
    merged.added_tokens = target.added_tokens;
    std::unordered_map<Sym, uint32_t> own_id;
    uint64_t next = merged.vocab.size();
    for (size_t i = 0; i < contents.size(); ++i) {
        const Sym sym = contents[i];
        if (sym == kNoSym) continue;
        uint64_t id;
        if (merged.vocab.contains(sym)) {
            id = merged.vocab.id(sym);
        } else if (auto known = own_id.find(sym); known != own_id.end()) {
            id = known->second;
        } else {
            id = next++;
            own_id.emplace(sym, static_cast<uint32_t>(id));
        }
        set_member(*merged.added_tokens[i].as_object(), "id", JsonValue{id});
        merged.added_ids.insert(static_cast<uint32_t>(id));
    }
    merged.final_vocab_size = merged.vocab.size() + own_id.size();
    if (merged.final_vocab_size > max_vocab_size) return merge_error("Complete vocabulary exceeds max_vocab_size");
    merged.used_ids.reserve(merged.final_vocab_size);
    for (Sym sym : merged.vocab.members()) merged.used_ids.insert(merged.vocab.id(sym));
    for (const auto& [sym, id] : own_id) merged.used_ids.insert(id);
    return std::nullopt;
}

// What the installation would leave must hold: every merge's result is a
// model token, and the IDs are 0 ... final_vocab_size - 1.
std::optional<Error> check_merged(const StringPool& strings, const MergedTokenizer& merged) {
    uint64_t invalid = 0;
    PairText pair;
    merged.merges.for_each([&](uint32_t, const Merge& m) {
        invalid += !merged.vocab.contains(pair.find(strings, m.left, m.right));
    });
    if (invalid > 0) return merge_error("Merged tokenizer contains " + std::to_string(invalid) + " invalid merges");
    bool contiguous = merged.used_ids.size() == merged.final_vocab_size;
    merged.used_ids.for_each([&](uint32_t id) { contiguous = contiguous && id < merged.final_vocab_size; });
    if (!contiguous) return merge_error("Merged tokenizer IDs are not contiguous");
    return std::nullopt;
}

}  // namespace

Result<MergeTokenizerResult> Editor::merge_from(const std::string& source_path, uint64_t max_vocab_size,
                                                const IoHooks& hooks) {
    Result<Editor> source = load_tokenizer_file(source_path, hooks);
    if (!source) return reported_as(ErrorKind::source_load, source.error());
    return merge_tokenizer(*source, max_vocab_size);
}

Result<MergeTokenizerResult> Editor::merge_tokenizer(const Editor& source_editor, uint64_t max_vocab_size) {
    const Tokenizer& source = source_editor.doc_;
    if (std::optional<Error> refused = check_inputs(doc_, source, max_vocab_size)) return *refused;
    MergeTokenizerResult result;
    result.initial_target_vocab_size = vocab_size();
    result.source_vocab_size = source.model.vocab.size();

    Result<ConversionPlan> plan = build_conversion_plan(source_editor, doc_);
    if (!plan) return plan.error();
    Result<KeptTokens> tokens = choose_kept_tokens(doc_, added_contents_, *plan, max_vocab_size);
    if (!tokens) return tokens.error();
    Result<Vocab> vocab = assign_ids(doc_, *plan, *tokens);
    if (!vocab) return vocab.error();
    count_tokens(doc_.model.vocab, *plan, *tokens, result);

    MergedTokenizer merged;
    merged.vocab = std::move(*vocab);
    if (std::optional<Error> failure = renumber_added_tokens(doc_, added_contents_, max_vocab_size, merged)) {
        return *failure;
    }
    MergedMerges merges = build_merged_merges(*plan, source, doc_, tokens->kept);
    merged.merges = std::move(merges.merges);
    if (std::optional<Error> failure = check_merged(doc_.strings, merged)) return *failure;

    install_merged(merged);
    result.final_model_vocab_size = doc_.model.vocab.size();
    result.final_vocab_size = merged.final_vocab_size;
    result.bridge_merges_added = merges.bridge_merges_added;
    result.source_merges_added = merges.source_merges_added;
    result.target_merges_retained = merges.target_merges_retained;
    result.representation = std::move(plan->representation);
    return result;
}

void Editor::install_merged(MergedTokenizer& merged) noexcept {
    doc_.model.vocab = std::move(merged.vocab);
    doc_.model.merges = std::move(merged.merges);
    doc_.added_tokens.swap(merged.added_tokens);
    used_ids_ = std::move(merged.used_ids);
    // Model IDs are distinct now; the added tokens with a content hold theirs.
    added_ids_ = std::move(merged.added_ids);
    shared_ids_.clear();
    next_id_ = static_cast<uint32_t>(merged.final_vocab_size);
    measure_longest_token();
    vocab_changed();
    index_.clear();
    victims_.reset();
    changes_.clear();
}

}  // namespace lexmill
