// Merging a source tokenizer into the open one. Steps up to the renumbering of
// the added tokens only read the editor; everything is installed at once.

#include <algorithm>
#include <deque>
#include <unordered_map>

#include "editor/added_tokens.h"
#include "editor/editor.h"
#include "editor/merge/conversion_plan.h"
#include "editor/merge/merged_merges.h"
#include "editor/token_text.h"

namespace lexmill {

namespace {

constexpr uint64_t kMaxVocabSize = 0xFFFFFFFFu;

Error merge_error(std::string message) { return Error{ErrorKind::merge, std::move(message)}; }

bool all_objects(const std::vector<JsonValue>& entries) {
    return std::all_of(entries.begin(), entries.end(), [](const JsonValue& e) { return e.as_object() != nullptr; });
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
    if (doc_.model.type != "BPE" || source.model.type != "BPE") return merge_error("Only BPE tokenizers are supported");
    if (max_vocab_size == 0 || max_vocab_size > kMaxVocabSize) {
        return merge_error("max_vocab_size must be between 1 and " + std::to_string(kMaxVocabSize));
    }
    // Added-token entries are renumbered in place, which needs objects.
    if (!all_objects(doc_.added_tokens) || !all_objects(source.added_tokens)) {
        return merge_error("added_tokens entries must be JSON objects");
    }

    const Vocab& old_vocab = doc_.model.vocab;
    MergeTokenizerResult result;
    result.initial_target_vocab_size = old_vocab.size();
    result.source_vocab_size = source.model.vocab.size();

    Result<ConversionPlan> built = build_conversion_plan(source_editor, doc_);
    if (!built) return built.error();
    ConversionPlan& plan = *built;

    // Contents of added tokens that are no model tokens keep IDs of their own
    // above the model vocabulary.
    std::vector<Sym> added_only;
    DenseTokenSet added_only_set;
    for (const JsonValue& entry : doc_.added_tokens) {
        const std::string* content = added_token_content(entry);
        if (!content) continue;
        Sym sym = doc_.strings.intern(*content);
        if (!old_vocab.contains(sym) && added_only_set.insert(sym)) added_only.push_back(sym);
    }
    if (added_only.size() >= max_vocab_size) return merge_error("Added tokens alone exceed max_vocab_size");
    const uint64_t model_limit = max_vocab_size - added_only.size();

    DenseTokenSet converted_set;
    for (Sym sym : plan.converted_tokens) {
        if (!added_only_set.contains(sym)) converted_set.insert(sym);
    }
    for (Sym sym : plan.bridge_tokens) {
        if (!added_only_set.contains(sym)) converted_set.insert(sym);
    }

    // Required: the converted tokens and the target's protected ones.
    DenseTokenSet kept = converted_set;
    for (Sym sym : old_vocab.members()) {
        if (has_protected_form(doc_.strings, sym)) kept.insert(sym);
    }
    for (const JsonValue& entry : doc_.added_tokens) {
        const std::string* content = added_token_content(entry);
        Sym sym = content ? doc_.strings.find(*content) : kNoSym;
        if (old_vocab.contains(sym)) kept.insert(sym);
    }
    if (doc_.model.unk_token) {
        Sym unk = doc_.strings.find(*doc_.model.unk_token);
        if (old_vocab.contains(unk)) kept.insert(unk);
    }
    if (kept.size() > model_limit) {
        return merge_error("Required converted and protected tokens (" + std::to_string(kept.size()) +
                           ") exceed model limit (" + std::to_string(model_limit) + ")");
    }

    // Filling: the target's tokens with the lowest IDs survive.
    const std::vector<Sym> old_order = vocab_in_id_order();
    for (Sym sym : old_order) {
        if (kept.size() == model_limit) break;
        kept.insert(sym);
    }
    const uint64_t n = kept.size();

    // Kept target tokens below N keep their IDs; the holes are handed out in
    // ascending order, first to the converted tokens in source order.
    Vocab vocab;
    vocab.reserve(n);
    DenseIdSet kept_ids;
    for (Sym sym : old_order) {
        if (kept.contains(sym) && old_vocab.id(sym) < n) {
            vocab.set(sym, old_vocab.id(sym));
            kept_ids.insert(old_vocab.id(sym));
        }
    }
    std::deque<uint32_t> free_ids;
    for (uint64_t id = 0; id < n; ++id) {
        if (!kept_ids.contains(static_cast<uint32_t>(id))) free_ids.push_back(static_cast<uint32_t>(id));
    }
    std::optional<Error> failure;
    auto assign = [&](Sym sym) {
        if (failure || !kept.contains(sym) || vocab.contains(sym)) return;
        if (free_ids.empty()) {
            failure = merge_error("No free model ID for token " + std::string(doc_.strings.view(sym)));
            return;
        }
        vocab.set(sym, free_ids.front());
        free_ids.pop_front();
    };
    auto by_bytes = [&](Sym a, Sym b) { return doc_.strings.view(a) < doc_.strings.view(b); };
    for (Sym sym : plan.converted_tokens) assign(sym);
    std::vector<Sym> bridges = plan.bridge_tokens;
    std::sort(bridges.begin(), bridges.end(), by_bytes);
    for (Sym sym : bridges) assign(sym);
    for (Sym sym : old_order) assign(sym);
    std::vector<Sym> rest;
    rest.reserve(kept.size());
    kept.for_each([&](Sym sym) { rest.push_back(sym); });
    std::sort(rest.begin(), rest.end(), by_bytes);
    for (Sym sym : rest) assign(sym);
    if (failure) return *failure;
    if (vocab.size() != n || !free_ids.empty()) return merge_error("Failed to assign a contiguous model vocabulary");

    // Token counts, against the old vocabulary, before it goes.
    converted_set.for_each([&](Sym sym) { result.tokens_injected += !old_vocab.contains(sym); });
    for (Sym sym : old_vocab.members()) result.target_tokens_removed += !kept.contains(sym);
    for (Sym sym : plan.bridge_tokens) {
        result.bridge_tokens_added += converted_set.contains(sym) && !old_vocab.contains(sym);
    }

    // Added tokens are renumbered after the model vocabulary, one ID per
    // distinct content, in a copy installed with everything else.
    std::vector<JsonValue> added_tokens = doc_.added_tokens;
    std::unordered_map<Sym, uint32_t> added_id_of;
    DenseIdSet added_ids;
    uint64_t next = n;
    for (JsonValue& entry : added_tokens) {
        const std::string* content = added_token_content(entry);
        if (!content) continue;
        Sym sym = doc_.strings.intern(*content);
        uint64_t id;
        if (vocab.contains(sym)) {
            id = vocab.id(sym);
        } else if (auto known = added_id_of.find(sym); known != added_id_of.end()) {
            id = known->second;
        } else {
            id = next++;
            added_id_of.emplace(sym, static_cast<uint32_t>(id));
        }
        set_member(*entry.as_object(), "id", JsonValue{id});
        added_ids.insert(static_cast<uint32_t>(id));
    }
    const uint64_t final_vocab_size = n + added_id_of.size();
    if (final_vocab_size > max_vocab_size) return merge_error("Complete vocabulary exceeds max_vocab_size");

    MergedMerges merged = build_merged_merges(plan, source, doc_, kept);
    DenseIdSet used_ids;
    used_ids.reserve(final_vocab_size);
    for (Sym sym : vocab.members()) used_ids.insert(vocab.id(sym));
    for (const auto& [sym, id] : added_id_of) used_ids.insert(id);
    size_t longest = 0;
    for (Sym sym : vocab.members()) longest = std::max<size_t>(longest, doc_.strings.view(sym).size());

    // Verified before it is installed, so that the editor is unchanged by
    // any failure: every merge's result is a kept token, the IDs are
    // 0 ... final_vocab_size - 1.
    uint64_t invalid = 0;
    PairText pair;
    merged.merges.for_each([&](uint32_t, const Merge& m) {
        invalid += !vocab.contains(pair.find(doc_.strings, m.left, m.right));
    });
    if (invalid > 0) return merge_error("Merged tokenizer contains " + std::to_string(invalid) + " invalid merges");
    bool contiguous = used_ids.size() == final_vocab_size;
    used_ids.for_each([&](uint32_t id) { contiguous = contiguous && id < final_vocab_size; });
    if (!contiguous) return merge_error("Merged tokenizer IDs are not contiguous");

    // Installation, which cannot fail.
    doc_.model.vocab = std::move(vocab);
    doc_.model.merges = std::move(merged.merges);
    doc_.added_tokens.swap(added_tokens);
    used_ids_ = std::move(used_ids);
    // Model IDs are distinct now; the added tokens with a content hold theirs.
    added_ids_ = std::move(added_ids);
    shared_ids_.clear();
    next_id_ = static_cast<uint32_t>(final_vocab_size);
    longest_token_ = longest;
    vocab_changed();
    index_.clear();
    victims_.reset();
    changes_.clear();

    result.final_model_vocab_size = n;
    result.final_vocab_size = final_vocab_size;
    result.bridge_merges_added = merged.bridge_merges_added;
    result.source_merges_added = merged.source_merges_added;
    result.target_merges_retained = merged.target_merges_retained;
    result.representation = std::move(plan.representation);
    return result;
}

}  // namespace lexmill
