// Merge harness: two small generated documents and a size limit, decoded from
// the fuzzer's bytes, then merge_tokenizer, up to three times in a row.
//
// On success the merged editor must hold IDs 0 ... N-1 for its N model tokens
// and N ... F-1 for the other added-token contents, reserve exactly 0 ... F-1,
// continue with F, hold only valid merges (no pair twice, parts and result in
// the vocabulary), keep every protected target token and every section other
// than vocabulary, merges and added-token IDs, and count what it did
// consistently. On failure, all of which happen before anything is installed,
// the editor must be exactly as it was.

#include <set>

#include "document/parse.h"
#include "fuzz_support.h"
#include "reference_editor.h"

using namespace fuzz;

namespace {

uint64_t pick_limit(Bytes& in) {
    switch (in.below(8)) {
        case 0: return 0;
        case 1: return 0xFFFFFFFFull;
        case 2: return 0x100000000ull;
        default: return 1 + in.below(40);
    }
}

bool is_protected(const std::string& token, const Tokenizer& doc) {
    if (count_chars(token) == 1 || bracketed(token)) return true;
    if (doc.model.unk_token && *doc.model.unk_token == token) return true;
    for (const JsonValue& entry : doc.added_tokens) {
        const JsonValue* content = entry.find("content");
        if (content && content->as_string() && *content->as_string() == token) return true;
    }
    return false;
}

void check_sections_kept(const Tokenizer& before, const Tokenizer& after) {
    FUZZ_CHECK(before.version == after.version && before.truncation == after.truncation &&
                   before.padding == after.padding && before.normalizer == after.normalizer &&
                   before.pre_tokenizer == after.pre_tokenizer && before.post_processor == after.post_processor &&
                   before.decoder == after.decoder && before.model.type == after.model.type &&
                   before.model.unk_token == after.model.unk_token && before.model.fuse_unk == after.model.fuse_unk &&
                   before.added_tokens.size() == after.added_tokens.size(),
               "merging changed a section it must leave alone");
    for (size_t i = 0; i < before.added_tokens.size(); ++i) {
        // Only the "id" member may change.
        JsonValue x = before.added_tokens[i], y = after.added_tokens[i];
        if (JsonObject* o = x.as_object()) set_member(*o, "id", JsonValue{});
        if (JsonObject* o = y.as_object()) set_member(*o, "id", JsonValue{});
        FUZZ_CHECK(x == y, "merging changed an added-token entry beyond its id");
    }
}

void check_success(Editor& target, const Editor& source, const MergeTokenizerResult& r, uint64_t limit,
                   const std::map<std::string, uint32_t>& old_vocab, size_t old_merges, const Tokenizer& before) {
    const uint64_t n = r.final_model_vocab_size, f = r.final_vocab_size;
    FUZZ_CHECK(n <= f && f <= limit, "sizes beyond the limit");
    FUZZ_CHECK(target.vocab_size() == n, "vocab_size is not final_model_vocab_size");
    FUZZ_CHECK(r.initial_target_vocab_size == old_vocab.size(), "initial_target_vocab_size");
    FUZZ_CHECK(r.source_vocab_size == source.vocab_size(), "source_vocab_size");

    std::map<std::string, uint32_t> vocab;
    std::vector<bool> seen(n, false);
    for (const VocabEntry& e : target.get_vocab()) {
        FUZZ_CHECK(e.id < n && !seen[e.id], "model IDs are not 0 ... N-1: " + std::to_string(e.id));
        seen[e.id] = true;
        vocab.emplace(std::string(e.token), e.id);
    }
    GapReport gaps = target.check_vocab_gaps();
    FUZZ_CHECK(!gaps.has_gaps && gaps.total_gaps == 0 && gaps.min_id == 0 && gaps.max_id == (n ? n - 1 : 0),
               "check_vocab_gaps after a merge");

    std::set<uint32_t> used;
    target.used_ids().for_each([&](uint32_t id) { used.insert(id); });
    FUZZ_CHECK(used.size() == f && (used.empty() || *used.rbegin() == f - 1), "used_ids is not 0 ... F-1");
    FUZZ_CHECK(target.next_id() == static_cast<uint32_t>(f), "next_id is not final_vocab_size");

    ValidationResult validation = target.validate_merges();
    FUZZ_CHECK(validation.invalid_count == 0, "merged list holds invalid merges");
    std::set<std::pair<std::string_view, std::string_view>> pairs;
    for (const MergeView& m : target.get_merges()) {
        FUZZ_CHECK(pairs.emplace(m.left, m.right).second, "merged list holds a pair twice");
        FUZZ_CHECK(vocab.count(std::string(m.left)) && vocab.count(std::string(m.right)), "merge part not kept");
    }
    FUZZ_CHECK(r.bridge_merges_added + r.source_merges_added + r.target_merges_retained == target.merges_count(),
               "merge counters do not add up");
    FUZZ_CHECK(r.target_merges_retained <= old_merges, "more target merges retained than there were");

    uint64_t removed = 0, injected = 0;
    for (const auto& [t, id] : old_vocab) {
        bool kept = vocab.count(t) != 0;
        removed += !kept;
        FUZZ_CHECK(kept || !is_protected(t, before), "protected target token removed: " + json_quoted(t));
    }
    for (const auto& [t, id] : vocab) injected += old_vocab.count(t) == 0;
    FUZZ_CHECK(r.target_tokens_removed == removed, "target_tokens_removed");
    FUZZ_CHECK(r.tokens_injected == injected, "tokens_injected");
    FUZZ_CHECK(r.bridge_tokens_added <= r.tokens_injected, "bridge_tokens_added");

    // Added tokens: a model token's ID, or one of N ... F-1, one per content.
    std::map<std::string, uint64_t> added;
    for (const JsonValue& entry : target.document().added_tokens) {
        const JsonValue* content = entry.find("content");
        if (!content || !content->as_string()) continue;
        const JsonValue* id_value = entry.find("id");
        const uint64_t* id = id_value ? std::get_if<uint64_t>(&id_value->data) : nullptr;
        FUZZ_CHECK(id != nullptr, "added token left without an unsigned id");
        const std::string& text = *content->as_string();
        auto in_vocab = vocab.find(text);
        if (in_vocab != vocab.end()) {
            FUZZ_CHECK(*id == in_vocab->second, "added token id differs from its model token's");
        } else {
            FUZZ_CHECK(*id >= n && *id < f, "added-only token id outside N ... F-1");
        }
        auto [it, fresh] = added.emplace(text, *id);
        FUZZ_CHECK(fresh || it->second == *id, "equal added-token contents with different ids");
    }

    Result<Tokenizer> after = parse_tokenizer_json(target.to_json());
    FUZZ_CHECK(after, "merged document does not parse back");
    check_sections_kept(before, *after);
    Result<Editor> rebuilt = Editor::from_json(target.to_json());
    FUZZ_CHECK(rebuilt && rebuilt->to_json() == target.to_json(), "merged document does not rebuild");

    // The next new token continues after the whole vocabulary.
    std::string fresh_token = "\x01new";
    while (target.has_token(fresh_token)) fresh_token += "+";
    if (f < 0xFFFFFFFFull) {
        FUZZ_CHECK(target.add_token_atomic(fresh_token), "fresh token not added");
        FUZZ_CHECK(*target.get_token_id(fresh_token) == f, "first ID after a merge is not final_vocab_size");
        target.remove_token(fresh_token);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    const std::string target_text = document_text(random_shape(in, in.flag()));
    const std::string source_text = document_text(random_shape(in, in.flag()));
    Result<Editor> target = Editor::from_json(target_text);
    Result<Editor> source = Editor::from_json(source_text);
    FUZZ_CHECK(target && source, "generated document does not open");

    for (int round = 0; round < 3 && !in.empty(); ++round) {
        const uint64_t limit = pick_limit(in);
        const std::string before_text = target->to_json();
        std::set<uint32_t> before_used;
        target->used_ids().for_each([&](uint32_t id) { before_used.insert(id); });
        const uint32_t before_next = target->next_id();
        std::map<std::string, uint32_t> old_vocab;
        for (const VocabEntry& e : target->get_vocab()) old_vocab.emplace(std::string(e.token), e.id);
        const size_t old_merges = target->merges_count();
        Result<Tokenizer> before = parse_tokenizer_json(before_text);
        FUZZ_CHECK(before, "target text does not parse");

        Result<MergeTokenizerResult> merged = target->merge_tokenizer(*source, limit);
        if (merged) {
            check_success(*target, *source, *merged, limit, old_vocab, old_merges, *before);
            continue;
        }
        const std::string& message = merged.error().message;
        FUZZ_CHECK(merged.error().kind == ErrorKind::merge, "merge failure of another kind: " + message);
        FUZZ_CHECK((limit == 0 || limit > 0xFFFFFFFFull) ==
                       (message == "max_vocab_size must be between 1 and 4294967295"),
                   "limit check: " + message);
        FUZZ_CHECK(message.rfind("Complete vocabulary exceeds", 0) != 0 &&
                       message.rfind("Merged tokenizer contains", 0) != 0 &&
                       message.rfind("Merged tokenizer IDs are not contiguous", 0) != 0,
                   "a guard that cannot fail failed: " + message);
        FUZZ_CHECK(target->to_json() == before_text, "failed merge changed the document: " + message);
        std::set<uint32_t> used;
        target->used_ids().for_each([&](uint32_t id) { used.insert(id); });
        FUZZ_CHECK(used == before_used && target->next_id() == before_next, "failed merge changed the IDs: " + message);
        // Merging the other way round, or into itself, exercises other shapes.
        if (in.flag()) std::swap(target, source);
    }
    return 0;
}
