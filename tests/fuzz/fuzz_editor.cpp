// Editor harness: a small generated document and up to 40 editing operations decoded from the fuzzer's bytes, each run
// on the real editor (incremental indexes, lazily compacted merge list) and on the literal reference editor. After
// each, results and the whole observable state must agree, and an editor reopened from the real one's text must write
// and validate the same. FUZZ_TRACE=1 prints the document and each operation.

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "editor/added_tokens.h"
#include "editor/file_io.h"
#include "fuzz_support.h"
#include "reference_editor.h"

using namespace fuzz;

namespace {

const bool kTrace = std::getenv("FUZZ_TRACE") != nullptr;

bool same_validation(const ValidationResult& a, const ValidationResult& b) {
    auto key = [](const ValidationResult& v) {
        std::vector<std::tuple<uint64_t, std::string, std::string>> out;
        for (const InvalidMerge& m : v.invalid_merges) out.emplace_back(m.position, m.left, m.right);
        return std::tuple(v.valid_count, v.invalid_count, out);
    };
    return key(a) == key(b) && a.invalid_count == a.invalid_merges.size();
}

void check_state(const Editor& editor, const ReferenceEditor& ref, const std::string& where) {
    std::vector<std::pair<std::string, uint32_t>> listed;  // get_vocab lists tokens in ascending bytewise order, as the map does
    for (const VocabEntry& e : editor.get_vocab()) listed.emplace_back(e.token, e.id);
    FUZZ_CHECK(listed == decltype(listed)(ref.vocab.begin(), ref.vocab.end()), where + ": vocabularies");
    FUZZ_CHECK(editor.vocab_size() == ref.vocab.size() && editor.merges_count() == ref.merges.size(), where + ": sizes");
    std::vector<Pair> merges;
    for (const MergeView& m : editor.get_merges()) merges.emplace_back(m.left, m.right);
    FUZZ_CHECK(merges == ref.merges, where + ": merge lists");
    FUZZ_CHECK(used_ids(editor) == ref.used_ids && editor.used_ids().size() == ref.used_ids.size(), where + ": reserved IDs");
    FUZZ_CHECK(editor.next_id() == ref.next_id, where + ": next_id " + std::to_string(editor.next_id()) + " vs " + std::to_string(ref.next_id));
    const std::vector<JsonValue>& added = editor.document().added_tokens;
    FUZZ_CHECK(added.size() == ref.added.size(), where + ": added tokens");
    for (size_t i = 0; i < added.size(); ++i) FUZZ_CHECK(added_token_id(added[i]) == ref.added[i].id, where + ": added token id");
    FUZZ_CHECK(editor.added_tokens_read_differently() == ref.added_tokens_read_differently(), where + ": added_tokens_read_differently");
    auto gap_key = [](const GapReport& g) { return std::tuple(g.has_gaps, g.total_gaps, g.min_id, g.max_id); };
    FUZZ_CHECK(gap_key(editor.check_vocab_gaps()) == gap_key(ref.gaps()), where + ": check_vocab_gaps");
    const TokenizerStats stats = editor.get_stats();
    const uint64_t singles = std::count_if(ref.vocab.begin(), ref.vocab.end(), [](const auto& e) { return count_chars(e.first) == 1; });
    FUZZ_CHECK(stats.vocab_size == ref.vocab.size() && stats.merges_count == ref.merges.size() &&
                   stats.single_char_count == singles && editor.get_single_char_tokens().size() == singles, where + ": stats");
    // A reopened editor reads the same document and validates it as the edited one, whose indexes were kept step by step.
    const std::string text = editor.to_json();
    Result<Editor> fresh = Editor::from_json(text);
    FUZZ_CHECK(fresh && fresh->to_json() == text, where + ": to_json text does not reopen to itself:\n" + text);
    FUZZ_CHECK(same_validation(editor.validate_merges(), ref.validate()) && same_validation(fresh->validate_merges(), ref.validate()),
               where + ": validate_merges");
}

void check_addition(const AdditionResult& got, const AdditionResult& want) {
    FUZZ_CHECK(got.token == want.token && got.added == want.added && got.method == want.method && got.added_merges == want.added_merges,
               "add_token of " + json_text(want.token) + ": method " + got.method + " vs " + want.method);
}

void check_removal(const RemovalResult& got, const ReferenceEditor::Removal& want, const std::string& token) {
    std::set<std::string> tokens(got.removed_tokens.begin(), got.removed_tokens.end());
    FUZZ_CHECK(got.root_token == token && tokens.size() == got.removed_tokens.size() && tokens == want.tokens &&
                   std::multiset<Pair>(got.removed_merges.begin(), got.removed_merges.end()) == want.merges,
               "remove_token of " + json_text(token));
}

// Mostly a token the editor has, sometimes a new one.
std::string pick_token(Bytes& in, const ReferenceEditor& ref) {
    if (ref.vocab.empty() || in.below(3) == 0) return token(in);
    return std::next(ref.vocab.begin(), in.below(static_cast<uint32_t>(ref.vocab.size())))->first;
}

std::vector<std::string> pick_tokens(Bytes& in, const ReferenceEditor& ref) {
    std::vector<std::string> tokens(in.below(5));
    for (std::string& t : tokens) t = pick_token(in, ref);
    return tokens;
}

uint32_t pick_id(Bytes& in, const ReferenceEditor& ref) {
    if (in.flag() || ref.vocab.empty()) return in.below(4) == 0 ? 0xFFFFFFFFu : in.below(16);
    return std::next(ref.vocab.begin(), in.below(static_cast<uint32_t>(ref.vocab.size())))->second;
}

AdditionMethod method_of(bool reachable) { return reachable ? AdditionMethod::reachable : AdditionMethod::chain; }

// The file sync_single_chars reads its source from, one per process.
const std::string kSyncSource = std::filesystem::temp_directory_path() / ("lexmill-fuzz-sync-" + std::to_string(getpid()) + ".json");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in{data, size};
    const std::string text = random_document(in, in.flag());  // the flag is read first
    if (kTrace) std::fprintf(stderr, "%s\n", text.c_str());
    Result<Editor> opened = Editor::from_json(text);
    FUZZ_CHECK(opened, "generated document does not open: " + (opened ? "" : opened.error().message) + "\n" + text);
    Editor& editor = *opened;

    ReferenceEditor ref;
    for (const VocabEntry& e : editor.get_vocab()) ref.vocab.emplace(std::string(e.token), e.id);
    for (const MergeView& m : editor.get_merges()) ref.merges.emplace_back(m.left, m.right);
    for (const JsonValue& e : editor.document().added_tokens)
        ref.added.push_back({added_token_content(e) ? std::optional(*added_token_content(e)) : std::nullopt, added_token_id(e), e.find("id") != nullptr});
    ref.rebuild_used_ids();
    check_state(editor, ref, "opening");

    for (int step = 0; step < 40 && !in.empty(); ++step) {
        const uint32_t op = in.below(15);
        std::string t;  // the token or ID of a one-line case
        uint32_t id;
        if (kTrace) std::fprintf(stderr, "operation %u\n", op);
        switch (op) {
            case 0: {
                t = pick_token(in, ref);
                const bool reachable = in.flag();
                check_addition(editor.add_token(t, method_of(reachable)), ref.add(t, reachable));
            } break;
            case 1: {
                std::vector<std::string> tokens = pick_tokens(in, ref);
                bool reachable = in.flag();
                std::vector<AdditionResult> got = editor.add_tokens(tokens, method_of(reachable));
                FUZZ_CHECK(got.size() == tokens.size(), "add_tokens result count");
                for (size_t i = 0; i < tokens.size(); ++i) check_addition(got[i], ref.add(tokens[i], reachable));
            } break;
            case 2: t = pick_token(in, ref); FUZZ_CHECK(editor.add_token_atomic(t) == ref.add_token_atomic(t), "add_token_atomic of " + json_text(t)); break;
            case 3: case 4: t = pick_token(in, ref), check_removal(editor.remove_token(t), ref.remove_token(t), t); break;
            case 5: {
                std::vector<std::string> tokens = pick_tokens(in, ref);
                std::vector<RemovalResult> got = editor.remove_tokens(tokens);
                size_t i = 0;
                for (const std::string& t : tokens) {
                    if (!ref.has(t)) continue;
                    FUZZ_CHECK(i < got.size(), "remove_tokens returned too few results");
                    check_removal(got[i++], ref.remove_token(t), t);
                }
                FUZZ_CHECK(i == got.size(), "remove_tokens returned too many results");
            } break;
            case 6: {
                uint64_t count = in.below(6);
                uint32_t min_id = pick_id(in, ref);
                std::vector<std::tuple<std::string, uint32_t, uint64_t>> got, want;
                for (const ShrinkCandidate& c : editor.find_tokens_to_shrink(count, min_id)) got.emplace_back(c.token, c.id, c.char_length);
                for (const ShrinkCandidate& c : ref.shrink_candidates(count, min_id)) want.emplace_back(c.token, c.id, c.char_length);
                FUZZ_CHECK(got == want, "find_tokens_to_shrink");
                if (!in.flag()) FUZZ_CHECK(same_counters(editor.shrink(count, min_id), ref.shrink(count, min_id)), "shrink result");
            } break;
            case 7: {
                auto key = [](const ReindexResult& r) { const auto& [a, b, c, d, e, f, g, h, i, j] = r; return std::tie(a, b, c, d, e, f, g, h, i, j); };
                FUZZ_CHECK(key(editor.reindex_vocab()) == key(ref.reindex()), "reindex_vocab result");
            } break;
            case 8: {
                std::vector<std::string> tokens = pick_tokens(in, ref);
                std::optional<std::vector<std::string>> whitelist;
                if (in.flag()) whitelist = pick_tokens(in, ref);
                bool reachable = in.flag();
                uint32_t max_before = editor.check_vocab_gaps().max_id;
                KeepSizeReport got = editor.add_tokens_keep_size(tokens, whitelist, method_of(reachable));
                FUZZ_CHECK(same_counters(got, ref.add_tokens_keep_size(tokens, whitelist, reachable)) && got.final_vocab_size <= got.initial_vocab_size &&
                               (got.initial_vocab_size == 0 || editor.check_vocab_gaps().max_id <= max_before),
                           "add_tokens_keep_size counters, or it grew the vocabulary or went past the largest ID");
            } break;
            case 9: FUZZ_CHECK(editor.remove_invalid_merges() == ref.remove_invalid_merges(), "remove_invalid_merges"); break;
            case 10: FUZZ_CHECK(same_validation(editor.validate_merges(), ref.validate()), "validate_merges"); break;
            case 11: id = pick_id(in, ref); FUZZ_CHECK(editor.get_token_by_id(id) == ref.token_by_id(id), "get_token_by_id " + std::to_string(id)); break;
            case 12: {
                const std::string source_text = random_document(in, false);
                const uint32_t min_id = pick_id(in, ref);
                std::ofstream(kSyncSource, std::ios::binary | std::ios::trunc) << source_text;
                Result<Editor> source = Editor::from_json(source_text);
                FUZZ_CHECK(source, "generated source does not open");
                std::vector<std::string> chars;
                for (const VocabEntry& e : source->get_single_char_tokens()) chars.emplace_back(e.token);
                std::string progress;
                Result<SyncReport> got = editor.sync_single_chars(kSyncSource, min_id, [&](std::string_view t) { progress += t; }, IoHooks{});
                std::remove(kSyncSource.c_str());
                FUZZ_CHECK(got, "sync_single_chars failed on a readable source: " + (got ? "" : got.error().message));
                const SyncReport want = ref.sync_single_chars(chars, min_id);
                FUZZ_CHECK(same_counters(*got, want) && progress.empty() == (want.chars_added_count + want.chars_not_added == 0),
                           "sync_single_chars counters or progress text");
            } break;
            case 13: FUZZ_CHECK(editor.pin_added_tokens() == ref.pin_added_tokens(), "pin_added_tokens count"); break;
            default:
                t = pick_token(in, ref);
                FUZZ_CHECK(editor.has_token(t) == ref.has(t) && editor.get_token_id(t) == (ref.has(t) ? std::optional(ref.vocab.at(t)) : std::nullopt),
                           "has_token and get_token_id of " + json_text(t));
        }
        check_state(editor, ref, "after operation " + std::to_string(op));
    }
    return 0;
}
