// Editor harness: a small generated document and a sequence of editing
// operations decoded from the fuzzer's bytes. Every operation runs on the
// real editor (incremental merge indexes, lazily compacted merge list) and on
// the literal reference editor; after each one their results and their whole
// observable state (vocabulary with IDs, merge list, reserved IDs, next ID)
// must agree, and an editor rebuilt from the real one's JSON text must see the
// same document and the same merge validation.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include <set>

#include "editor/file_io.h"
#include "fuzz_support.h"
#include "editor/added_tokens.h"
#include "reference_editor.h"

using namespace fuzz;

namespace {

// Set FUZZ_TRACE=1 to print the document and each operation while replaying
// a reproducer.
const bool kTrace = std::getenv("FUZZ_TRACE") != nullptr;

void trace(const std::string& line) {
    if (kTrace) std::fprintf(stderr, "%s\n", line.c_str());
}

std::string list(const std::vector<std::string>& tokens) {
    std::string out = "[";
    for (const std::string& t : tokens) out += (out.size() > 1 ? ", " : "") + json_quoted(t);
    return out + "]";
}

std::string describe(const std::vector<std::pair<std::string, std::string>>& merges) {
    std::string out;
    for (const auto& [l, r] : merges) out += "(" + json_quoted(l) + ", " + json_quoted(r) + ") ";
    return out;
}

void check_state(const Editor& editor, const ReferenceEditor& ref, const char* after) {
    const std::string where = std::string("after ") + after;
    std::map<std::string, uint32_t> vocab;
    std::vector<std::string> order;
    for (const VocabEntry& e : editor.get_vocab()) {
        vocab.emplace(std::string(e.token), e.id);
        order.emplace_back(e.token);
    }
    FUZZ_CHECK(std::is_sorted(order.begin(), order.end()) &&
                   std::adjacent_find(order.begin(), order.end()) == order.end(),
               where + ": get_vocab not in ascending bytewise order");
    FUZZ_CHECK(vocab == ref.vocab, where + ": vocabularies differ");
    FUZZ_CHECK(editor.vocab_size() == ref.vocab.size(), where);

    std::vector<std::pair<std::string, std::string>> merges;
    for (const MergeView& m : editor.get_merges()) merges.emplace_back(m.left, m.right);
    FUZZ_CHECK(merges == ref.merges, where + ": merge lists differ: " + describe(merges) + " vs " + describe(ref.merges));
    FUZZ_CHECK(editor.merges_count() == ref.merges.size(), where);

    std::set<uint32_t> used;
    editor.used_ids().for_each([&](uint32_t id) { used.insert(id); });
    FUZZ_CHECK(used.size() == editor.used_ids().size(), where + ": used_ids counts a member twice");
    if (used != ref.used_ids) {
        std::string detail = where + ": used_ids differ:";
        for (uint32_t id : used) detail += " " + std::to_string(id);
        detail += " vs";
        for (uint32_t id : ref.used_ids) detail += " " + std::to_string(id);
        FUZZ_CHECK(used == ref.used_ids, detail);
    }
    FUZZ_CHECK(editor.next_id() == ref.next_id,
               where + ": next_id " + std::to_string(editor.next_id()) + " vs " + std::to_string(ref.next_id));

    const std::vector<JsonValue>& added = editor.document().added_tokens;
    FUZZ_CHECK(added.size() == ref.added.size(), where + ": added tokens differ in number");
    for (size_t i = 0; i < added.size(); ++i) {
        FUZZ_CHECK(added_token_id(added[i]) == ref.added[i].id, where + ": added token " + std::to_string(i) + " id");
    }
    FUZZ_CHECK(editor.added_tokens_read_differently() == ref.added_tokens_read_differently(),
               where + ": added_tokens_read_differently");

    GapReport gaps = editor.check_vocab_gaps(), want = ref.gaps();
    FUZZ_CHECK(gaps.has_gaps == want.has_gaps && gaps.total_gaps == want.total_gaps && gaps.min_id == want.min_id &&
                   gaps.max_id == want.max_id,
               where + ": check_vocab_gaps differs");

    TokenizerStats stats = editor.get_stats();
    FUZZ_CHECK(stats.vocab_size == ref.vocab.size() && stats.merges_count == ref.merges.size(), where + ": stats sizes");
    uint64_t singles = 0;
    for (const auto& [t, id] : ref.vocab) singles += count_chars(t) == 1;
    FUZZ_CHECK(stats.single_char_count == singles, where + ": single_char_count");
    FUZZ_CHECK(editor.get_single_char_tokens().size() == singles, where + ": get_single_char_tokens");
}

bool same_validation(const ValidationResult& a, const ValidationResult& b) {
    if (a.valid_count != b.valid_count || a.invalid_count != b.invalid_count ||
        a.invalid_merges.size() != b.invalid_merges.size() || a.invalid_count != a.invalid_merges.size()) {
        return false;
    }
    for (size_t i = 0; i < a.invalid_merges.size(); ++i) {
        const InvalidMerge &x = a.invalid_merges[i], &y = b.invalid_merges[i];
        if (x.position != y.position || x.left != y.left || x.right != y.right) return false;
    }
    return true;
}

// A rebuilt editor must read the same document and validate it the same way
// as the edited one, whose indexes were kept up to date step by step.
void check_rebuild(const Editor& editor, const ReferenceEditor& ref, const char* after) {
    const std::string where = std::string("after ") + after;
    const std::string text = editor.to_json();
    Result<Editor> fresh = Editor::from_json(text);
    FUZZ_CHECK(fresh, where + ": to_json text does not open: " + (fresh ? "" : fresh.error().message));
    FUZZ_CHECK(fresh->to_json() == text, where + ": to_json of the rebuilt editor differs:\n" + text + "\nrebuilt:\n" + fresh->to_json());
    ValidationResult want = ref.validate();
    FUZZ_CHECK(same_validation(editor.validate_merges(), want), where + ": validate_merges differs from reference");
    FUZZ_CHECK(same_validation(fresh->validate_merges(), want), where + ": validate_merges of rebuilt editor differs");
}

void check_addition(const AdditionResult& got, const AdditionResult& want) {
    FUZZ_CHECK(got.token == want.token && got.added == want.added && got.method == want.method,
               "add_token of " + json_quoted(want.token) + ": method " + got.method + " vs " + want.method);
    FUZZ_CHECK(got.added_merges == want.added_merges,
               "add_token of " + json_quoted(want.token) + ": added_merges " + describe(got.added_merges) + " vs " +
                   describe(want.added_merges));
}

void check_removal(const RemovalResult& got, const ReferenceEditor::Removal& want, const std::string& token) {
    FUZZ_CHECK(got.root_token == token, "remove_token root");
    std::set<std::string> tokens(got.removed_tokens.begin(), got.removed_tokens.end());
    FUZZ_CHECK(tokens.size() == got.removed_tokens.size(), "remove_token of " + json_quoted(token) + " lists a string twice");
    FUZZ_CHECK(tokens == want.tokens, "remove_token of " + json_quoted(token) + ": removed_tokens differ");
    std::multiset<std::pair<std::string, std::string>> merges(got.removed_merges.begin(), got.removed_merges.end());
    FUZZ_CHECK(merges == want.merges, "remove_token of " + json_quoted(token) + ": removed_merges differ");
}

// The file sync_single_chars reads its source from; one per process, and
// removed again as soon as it has been read.
const std::string& sync_source_path() {
    static const std::string path = [] {
        const char* folder = std::getenv("TMPDIR");
        return std::string(folder && *folder ? folder : "/tmp") + "/lexmill-fuzz-sync-" + std::to_string(getpid()) +
               ".json";
    }();
    return path;
}

// Mostly a token the editor has, sometimes a new one.
std::string pick_token(Bytes& in, const ReferenceEditor& ref) {
    if (!ref.vocab.empty() && in.below(3) != 0) {
        auto it = ref.vocab.begin();
        std::advance(it, in.below(static_cast<uint32_t>(ref.vocab.size())));
        return it->first;
    }
    return token(in);
}

std::vector<std::string> pick_tokens(Bytes& in, const ReferenceEditor& ref) {
    std::vector<std::string> tokens(in.below(5));
    for (std::string& t : tokens) t = pick_token(in, ref);
    return tokens;
}

AdditionMethod method_of(bool reachable) { return reachable ? AdditionMethod::reachable : AdditionMethod::chain; }

uint32_t pick_min_id(Bytes& in, const ReferenceEditor& ref) {
    if (in.flag() || ref.vocab.empty()) return in.below(4) == 0 ? 0xFFFFFFFFu : in.below(16);
    auto it = ref.vocab.begin();
    std::advance(it, in.below(static_cast<uint32_t>(ref.vocab.size())));
    return it->second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    const bool wild = in.flag();
    const std::string text = document_text(random_shape(in, wild));
    Result<Editor> opened = Editor::from_json(text);
    FUZZ_CHECK(opened, "generated document does not open: " + (opened ? "" : opened.error().message) + "\n" + text);
    Editor& editor = *opened;
    trace(text);

    ReferenceEditor ref;
    for (const VocabEntry& e : editor.get_vocab()) ref.vocab.emplace(std::string(e.token), e.id);
    for (const MergeView& m : editor.get_merges()) ref.merges.emplace_back(m.left, m.right);
    for (const JsonValue& entry : editor.document().added_tokens) {
        AddedEntry added;
        if (const std::string* content = added_token_content(entry)) added.content = *content;
        added.id = added_token_id(entry);
        added.has_id = entry.find("id") != nullptr;
        ref.added.push_back(added);
    }
    ref.rebuild_used_ids();
    check_state(editor, ref, "opening");

    for (int step = 0; step < 40 && !in.empty(); ++step) {
        const char* op = "";
        switch (in.below(15)) {
            case 0: {
                op = "add_token";
                std::string t = pick_token(in, ref);
                bool reachable = in.flag();
                trace("add_token " + json_quoted(t) + (reachable ? " reachable" : ""));
                check_addition(editor.add_token(t, method_of(reachable)), ref.add(t, reachable));
                break;
            }
            case 1: {
                op = "add_tokens";
                std::vector<std::string> tokens = pick_tokens(in, ref);
                bool reachable = in.flag();
                trace("add_tokens " + list(tokens) + (reachable ? " reachable" : ""));
                std::vector<AdditionResult> got = editor.add_tokens(tokens, method_of(reachable));
                FUZZ_CHECK(got.size() == tokens.size(), "add_tokens result count");
                for (size_t i = 0; i < tokens.size(); ++i) check_addition(got[i], ref.add(tokens[i], reachable));
                break;
            }
            case 2: {
                op = "add_token_atomic";
                std::string t = pick_token(in, ref);
                trace("add_token_atomic " + json_quoted(t));
                FUZZ_CHECK(editor.add_token_atomic(t) == ref.add_token_atomic(t), "add_token_atomic of " + json_quoted(t));
                break;
            }
            case 3:
            case 4: {
                op = "remove_token";
                std::string t = pick_token(in, ref);
                trace("remove_token " + json_quoted(t));
                RemovalResult got = editor.remove_token(t);
                check_removal(got, ref.remove_token(t), t);
                break;
            }
            case 5: {
                op = "remove_tokens";
                std::vector<std::string> tokens = pick_tokens(in, ref);
                trace("remove_tokens " + list(tokens));
                std::vector<RemovalResult> got = editor.remove_tokens(tokens);
                size_t i = 0;
                for (const std::string& t : tokens) {
                    if (!ref.has(t)) continue;
                    FUZZ_CHECK(i < got.size(), "remove_tokens returned too few results");
                    check_removal(got[i++], ref.remove_token(t), t);
                }
                FUZZ_CHECK(i == got.size(), "remove_tokens returned too many results");
                break;
            }
            case 6: {
                op = "shrink";
                uint64_t count = in.below(6);
                uint32_t min_id = pick_min_id(in, ref);
                trace("find_tokens_to_shrink " + std::to_string(count) + " " + std::to_string(min_id));
                std::vector<ShrinkCandidate> preview = editor.find_tokens_to_shrink(count, min_id);
                std::vector<ShrinkCandidate> want = ref.shrink_candidates(count, min_id);
                FUZZ_CHECK(preview.size() == want.size(), "find_tokens_to_shrink count");
                for (size_t i = 0; i < want.size(); ++i) {
                    FUZZ_CHECK(preview[i].token == want[i].token && preview[i].id == want[i].id &&
                                   preview[i].char_length == want[i].char_length,
                               "find_tokens_to_shrink order at " + std::to_string(i));
                }
                if (in.flag()) break;  // only the preview
                trace("shrink " + std::to_string(count) + " " + std::to_string(min_id));
                ShrinkResult got = editor.shrink(count, min_id);
                ShrinkResult expected = ref.shrink(count, min_id);
                FUZZ_CHECK(got.initial_vocab_size == expected.initial_vocab_size &&
                               got.initial_merges_count == expected.initial_merges_count &&
                               got.final_vocab_size == expected.final_vocab_size &&
                               got.final_merges_count == expected.final_merges_count &&
                               got.tokens_removed_count == expected.tokens_removed_count &&
                               got.total_tokens_removed == expected.total_tokens_removed &&
                               got.total_merges_removed == expected.total_merges_removed,
                           "shrink result");
                break;
            }
            case 7: {
                op = "reindex_vocab";
                trace(op);
                ReindexResult got = editor.reindex_vocab();
                ReindexResult want = ref.reindex();
                FUZZ_CHECK(got.vocab_size == want.vocab_size && got.merges_count == want.merges_count &&
                               got.old_min_id == want.old_min_id && got.old_max_id == want.old_max_id &&
                               got.new_min_id == want.new_min_id && got.new_max_id == want.new_max_id &&
                               got.ids_remapped == want.ids_remapped && got.gaps_removed == want.gaps_removed &&
                               got.old_ids == want.old_ids && got.new_ids == want.new_ids,
                           "reindex_vocab result");
                break;
            }
            case 8: {
                op = "add_tokens_keep_size";
                std::vector<std::string> tokens = pick_tokens(in, ref);
                std::optional<std::vector<std::string>> whitelist;
                if (in.flag()) whitelist = pick_tokens(in, ref);
                bool reachable = in.flag();
                trace("add_tokens_keep_size " + list(tokens) + " " + (whitelist ? list(*whitelist) : "None") +
                      (reachable ? " reachable" : ""));
                uint32_t max_before = editor.check_vocab_gaps().max_id;
                KeepSizeReport got = editor.add_tokens_keep_size(tokens, whitelist, method_of(reachable));
                KeepSizeReport want = ref.add_tokens_keep_size(tokens, whitelist, reachable);
                FUZZ_CHECK(got.initial_vocab_size == want.initial_vocab_size &&
                               got.final_vocab_size == want.final_vocab_size &&
                               got.tokens_requested == want.tokens_requested && got.tokens_added == want.tokens_added &&
                               got.tokens_removed == want.tokens_removed && got.tokens_not_added == want.tokens_not_added,
                           "add_tokens_keep_size counters");
                FUZZ_CHECK(got.final_vocab_size <= got.initial_vocab_size, "add_tokens_keep_size grew the vocabulary");
                FUZZ_CHECK(got.initial_vocab_size == 0 || editor.check_vocab_gaps().max_id <= max_before,
                           "add_tokens_keep_size went past the largest ID");
                break;
            }
            case 9: {
                op = "remove_invalid_merges";
                trace(op);
                FUZZ_CHECK(editor.remove_invalid_merges() == ref.remove_invalid_merges(), "remove_invalid_merges count");
                break;
            }
            case 10: {
                op = "validate_merges";
                FUZZ_CHECK(same_validation(editor.validate_merges(), ref.validate()), "validate_merges");
                break;
            }
            case 11: {
                op = "get_token_by_id";
                uint32_t id = pick_min_id(in, ref);
                std::optional<std::string_view> got = editor.get_token_by_id(id);
                std::optional<std::string> want = ref.token_by_id(id);
                FUZZ_CHECK(got.has_value() == want.has_value() && (!got || *got == *want),
                           "get_token_by_id " + std::to_string(id));
                break;
            }
            case 12: {
                op = "sync_single_chars";
                const std::string source_text = document_text(random_shape(in, false));
                const uint32_t min_id = pick_min_id(in, ref);
                trace("sync_single_chars " + source_text + " " + std::to_string(min_id));
                const std::string& path = sync_source_path();
                {
                    std::ofstream file(path, std::ios::binary | std::ios::trunc);
                    file << source_text;
                }
                Result<Editor> source = Editor::from_json(source_text);
                FUZZ_CHECK(source, "generated source does not open");
                std::vector<std::string> chars;
                for (const VocabEntry& e : source->get_single_char_tokens()) chars.emplace_back(e.token);
                std::string progress;
                Result<SyncReport> got = editor.sync_single_chars(
                    path, min_id, [&](std::string_view text) { progress += text; }, lexmill::IoHooks{});
                std::remove(path.c_str());
                FUZZ_CHECK(got, "sync_single_chars failed on a readable source: " + (got ? "" : got.error().message));
                SyncReport want = ref.sync_single_chars(chars, min_id);
                FUZZ_CHECK(got->initial_vocab_size == want.initial_vocab_size &&
                               got->final_vocab_size == want.final_vocab_size &&
                               got->chars_in_source == want.chars_in_source &&
                               got->chars_already_present == want.chars_already_present &&
                               got->chars_added_count == want.chars_added_count &&
                               got->total_tokens_removed == want.total_tokens_removed &&
                               got->total_merges_removed == want.total_merges_removed &&
                               got->chars_not_added == want.chars_not_added,
                           "sync_single_chars counters");
                FUZZ_CHECK(progress.empty() == (want.chars_added_count + want.chars_not_added == 0), "sync_single_chars progress text");
                break;
            }
            case 13: {
                op = "pin_added_tokens";
                trace(op);
                FUZZ_CHECK(editor.pin_added_tokens() == ref.pin_added_tokens(), "pin_added_tokens count");
                FUZZ_CHECK(editor.added_tokens_read_differently() == ref.added_tokens_read_differently(),
                           "added_tokens_read_differently after pinning");
                break;
            }
            default: {
                op = "has_token";
                std::string t = pick_token(in, ref);
                FUZZ_CHECK(editor.has_token(t) == ref.has(t), "has_token");
                std::optional<uint32_t> id = editor.get_token_id(t);
                FUZZ_CHECK(id.has_value() == ref.has(t) && (!id || *id == ref.vocab.at(t)), "get_token_id");
                break;
            }
        }
        check_state(editor, ref, op);
        check_rebuild(editor, ref, op);
    }
    return 0;
}
