// Merge harness: two small generated documents merged up to three times in a row, with limits decoded from the fuzzer's
// bytes. On success the target holds IDs 0 ... N-1 for its N model tokens and N ... F-1 for the other added-token
// contents, reserves exactly 0 ... F-1, continues with F, holds only valid merges, keeps every protected token and
// every section but vocabulary, merges and added-token IDs, and counts what it did consistently. A failing merge leaves
// the target exactly as it was.

#include <map>

#include "document/parse.h"
#include "document/write.h"
#include "fuzz_support.h"
#include "reference_editor.h"

using namespace fuzz;

namespace {

using Tokens = std::map<std::string, uint32_t>;

Tokens vocab_of(const Editor& editor) {
    Tokens vocab;
    for (const VocabEntry& e : editor.get_vocab()) vocab.emplace(std::string(e.token), e.id);
    return vocab;
}

// The text of what merging must keep: all but vocabulary, merges and added-token IDs.
std::string kept_sections(Tokenizer& doc) {
    for (JsonValue& entry : doc.added_tokens) if (JsonObject* o = entry.as_object()) set_member(*o, "id", JsonValue{});
    doc.model.vocab = {}, doc.model.merges = {};
    return write_tokenizer_json(doc, Layout::declaration);
}

void check_success(Editor& target, const Editor& source, const MergeTokenizerResult& r, uint64_t limit, const Tokens& old_vocab,
                   size_t old_merges, Tokenizer& before) {
    const uint64_t n = r.final_model_vocab_size, f = r.final_vocab_size;
    FUZZ_CHECK(n <= f && f <= limit && target.vocab_size() == n && r.initial_target_vocab_size == old_vocab.size() &&
                   r.source_vocab_size == source.vocab_size(), "sizes");
    const Tokens vocab = vocab_of(target);
    std::set<uint32_t> ids;
    for (const VocabEntry& e : target.get_vocab()) FUZZ_CHECK(e.id < n && ids.insert(e.id).second, "model IDs are not 0 ... N-1");
    GapReport gaps = target.check_vocab_gaps();
    FUZZ_CHECK(!gaps.has_gaps && gaps.total_gaps == 0 && gaps.min_id == 0 && gaps.max_id == (n ? n - 1 : 0), "check_vocab_gaps");
    std::set<uint32_t> used = used_ids(target);
    FUZZ_CHECK(used.size() == f && (used.empty() || *used.rbegin() == f - 1) && target.next_id() == static_cast<uint32_t>(f),
               "reserved IDs are not 0 ... F-1, or the next ID is not F");
    FUZZ_CHECK(target.validate_merges().invalid_count == 0, "merged list holds invalid merges");
    std::set<std::pair<std::string_view, std::string_view>> pairs;
    for (const MergeView& m : target.get_merges()) {
        FUZZ_CHECK(pairs.emplace(m.left, m.right).second && vocab.count(std::string(m.left)) && vocab.count(std::string(m.right)),
                   "merged list holds a pair twice or a part outside the vocabulary");
    }
    FUZZ_CHECK(r.bridge_merges_added + r.source_merges_added + r.target_merges_retained == target.merges_count() &&
                   r.target_merges_retained <= old_merges, "merge counters");
    uint64_t removed = 0, injected = 0;
    for (const auto& [t, id] : old_vocab) {
        removed += !vocab.count(t);
        // Protected: single characters, special-looking tokens, the unknown token and added-token contents.
        bool is_protected = count_chars(t) == 1 || bracketed(t) || before.model.unk_token == t ||
                            std::any_of(before.added_tokens.begin(), before.added_tokens.end(), [&](const JsonValue& e) {
                                const JsonValue* content = e.find("content");
                                return content && content->as_string() && *content->as_string() == t;
                            });
        FUZZ_CHECK(vocab.count(t) || !is_protected, "protected target token removed: " + json_text(t));
    }
    for (const auto& [t, id] : vocab) injected += !old_vocab.count(t);
    FUZZ_CHECK(r.target_tokens_removed == removed && r.tokens_injected == injected && r.bridge_tokens_added <= injected, "token counters");
    // Added tokens: their model token's ID, or one of N ... F-1, one per content.
    std::map<std::string, uint64_t> added;
    for (const JsonValue& entry : target.document().added_tokens) {
        const JsonValue* content = entry.find("content");
        if (!content || !content->as_string()) continue;
        const JsonValue* id_value = entry.find("id");
        const uint64_t* id = id_value ? std::get_if<uint64_t>(&id_value->data) : nullptr;
        FUZZ_CHECK(id != nullptr, "added token left without an unsigned id");
        auto in_vocab = vocab.find(*content->as_string());
        FUZZ_CHECK(in_vocab != vocab.end() ? *id == in_vocab->second : (*id >= n && *id < f), "added token id");
        auto [it, fresh] = added.emplace(*content->as_string(), *id);
        FUZZ_CHECK(fresh || it->second == *id, "equal added-token contents with different ids");
    }
    const std::string text = target.to_json();
    Result<Tokenizer> after = parse_tokenizer_json(text);
    FUZZ_CHECK(after && kept_sections(before) == kept_sections(*after), "merging changed a section it must leave alone");
    Result<Editor> rebuilt = Editor::from_json(text);
    FUZZ_CHECK(rebuilt && rebuilt->to_json() == text, "merged document does not rebuild");
    // The next new token continues after the whole vocabulary.
    std::string fresh_token = "\x01new";
    while (target.has_token(fresh_token)) fresh_token += "+";
    FUZZ_CHECK(f >= 0xFFFFFFFFull || (target.add_token_atomic(fresh_token) && *target.get_token_id(fresh_token) == f), "first ID after a merge");
    if (f < 0xFFFFFFFFull) target.remove_token(fresh_token);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in{data, size};
    // Each document's wildness is read before it.
    Result<Editor> target = Editor::from_json(random_document(in, in.flag())), source = Editor::from_json(random_document(in, in.flag()));
    FUZZ_CHECK(target && source, "generated document does not open");

    for (int round = 0; round < 3 && !in.empty(); ++round) {
        const uint32_t choice = in.below(8);
        const uint64_t limit = choice == 0 ? 0 : choice == 1 ? 0xFFFFFFFFull : choice == 2 ? 0x100000000ull : 1 + in.below(40);
        const std::string before_text = target->to_json(), before_state = state_of(*target);
        const Tokens old_vocab = vocab_of(*target);
        const size_t old_merges = target->merges_count();
        Result<Tokenizer> before = parse_tokenizer_json(before_text);
        FUZZ_CHECK(before, "target text does not parse");

        Result<MergeTokenizerResult> merged = target->merge_tokenizer(*source, limit);
        if (merged && (check_success(*target, *source, *merged, limit, old_vocab, old_merges, *before), true)) continue;
        const std::string& message = merged.error().message;
        FUZZ_CHECK(merged.error().kind == ErrorKind::merge, "merge failure of another kind: " + message);
        FUZZ_CHECK((limit == 0 || limit > 0xFFFFFFFFull) == (message == "max_vocab_size must be between 1 and 4294967295"),
                   "limit check: " + message);
        for (const char* never : {"Complete vocabulary exceeds", "Merged tokenizer contains", "Merged tokenizer IDs are not contiguous"}) {
            FUZZ_CHECK(message.rfind(never, 0) != 0, "a guard that cannot fail failed: " + message);
        }
        FUZZ_CHECK(state_of(*target) == before_state, "failed merge changed the editor: " + message);
        // Merging the other way round, or into itself, exercises other shapes.
        if (in.flag()) std::swap(target, source);
    }
    return 0;
}
