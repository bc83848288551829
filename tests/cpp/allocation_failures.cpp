// Every editing operation, run again and again with its first, second, third ... allocation failing, until it runs
// through. After each failure the editor must be unchanged where the operation is all or nothing, and always usable:
// its derived parts (reserved IDs, merge indexes, the lasting removal order of keep-size additions) agree with an
// editor opened afresh from its text. Prints "ok". ONLY=<operation> FROM=<allocation> runs one case; TRACE=1 names
// each.

#include <unistd.h>

#include <fstream>
#include <functional>
#include <new>

#include "../fuzz/fuzz_support.h"
#include "editor/added_tokens.h"
#include "editor/file_io.h"

namespace {

long countdown = -1;  // allocations left before the injected failure; negative when none is armed

void* allocate(std::size_t size) {
    void* p = countdown >= 0 && countdown-- == 0 ? nullptr : std::malloc(size ? size : 1);
    return p ? p : throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
// Allocations that may fail without an exception are left alone: the standard library makes them where it has a way on
// without the memory (std::stable_sort).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace fuzz;

namespace {

const char* kDocument = R"({"version": "1.0", "added_tokens": [
    {"id": 40, "content": "<s>", "special": true}, {"id": 3, "content": "abc", "special": false}],
  "normalizer": null, "pre_tokenizer": {"type": "ByteLevel"},
  "model": {"type": "BPE", "vocab": {"a": 0, "b": 1, "c": 2, "abc": 3, "ab": 4, "bc": 5, "d": 6,
    "cd": 7, "abcd": 8, "e": 9, "de": 10, "ade": 12, "bcde": 14, "[x]": 15, "é": 16, "éa": 17, "aé": 19},
    "merges": [["a", "b"], ["b", "c"], ["ab", "c"], ["c", "d"], ["abc", "d"], ["d", "e"], ["a", "de"],
               ["bc", "de"], ["é", "a"], ["a", "é"], ["a", "bc"]]}})";

// The same edits on the failed editor and on one opened afresh from its text must give the same results: derived state
// left stale by the failure shows.
void check_usable(Editor& editor, const std::string& where) {
    FUZZ_CHECK(editor.get_vocab().size() == editor.vocab_size(), where + ": the sorted view of the vocabulary is stale");
    Result<Editor> fresh = Editor::from_json(editor.to_json());
    FUZZ_CHECK(fresh, where + ": text does not open again");
    std::set<uint32_t> expected;
    for (const VocabEntry& e : editor.get_vocab()) expected.insert(e.id);
    for (const JsonValue& entry : editor.document().added_tokens) if (std::optional<uint32_t> id = added_token_id(entry)) expected.insert(*id);
    FUZZ_CHECK(used_ids(editor) == expected, where + ": reserved IDs are not the vocabulary's and the added tokens'");
    for (Editor* e : {&editor, &*fresh}) e->remove_token("bc"), e->add_tokens_keep_size({"zzzz", "abcde"}, std::nullopt, AdditionMethod::reachable);
    FUZZ_CHECK(same_counters(editor.add_tokens_keep_size({"qq"}, std::nullopt), fresh->add_tokens_keep_size({"qq"}, std::nullopt)) &&
                   editor.to_json() == fresh->to_json(),
               where + ": further edits differ from a fresh editor's:\n" + editor.to_json() + "\n" + fresh->to_json());
    FUZZ_CHECK(editor.validate_merges().invalid_count == fresh->validate_merges().invalid_count, where + ": merge validation differs");
}

}  // namespace

int main() {
    const std::string source_path = "/tmp/lexmill-allocation-failures-" + std::to_string(getpid()) + ".json";
    std::ofstream(source_path) << R"({"version": "1.0", "added_tokens": [], "model": {"type": "BPE",
        "vocab": {"x": 0, "y": 1, "\u00e9": 2, "\u00fc": 3}, "merges": []}})";
    Result<Editor> merge_source = Editor::from_json(R"({"version": "1.0", "added_tokens": [], "model": {
        "type": "BPE", "vocab": {"\u2581": 0, "t": 1, "\u2581t": 2, "o": 3, "\u2581to": 4},
        "merges": [["\u2581", "t"], ["\u2581t", "o"]]}})");
    struct Operation { const char* name; bool all_or_nothing; std::function<void(Editor&)> run; };
    const std::vector<Operation> operations = {
        {"add_token chain", true, [](Editor& e) { e.add_token("abcdexyz"); }},
        {"add_token reachable", true, [](Editor& e) { e.add_token("abcdeabc\xC3\xA9", AdditionMethod::reachable); }},
        {"add_token_atomic", true, [](Editor& e) { e.add_token_atomic("<pad>"); }},
        {"add_tokens", false, [](Editor& e) { e.add_tokens({"xy", "abcx", "dea"}); }},
        {"remove_token", false, [](Editor& e) { e.remove_token("a"); }},
        {"remove_tokens", false, [](Editor& e) { e.remove_tokens({"bc", "d", "\xC3\xA9"}); }},
        {"shrink", false, [](Editor& e) { e.shrink(5, 0); }},
        {"reindex_vocab", true, [](Editor& e) { e.reindex_vocab(); }},
        {"remove_invalid_merges", false, [](Editor& e) { e.remove_invalid_merges(); }},
        {"pin_added_tokens", false, [](Editor& e) { e.pin_added_tokens(); }},
        {"add_tokens_keep_size", false, [](Editor& e) { e.add_tokens_keep_size({"abcdx", "xyzw", "de"}, std::vector<std::string>{"ab"}); }},
        {"add_tokens_keep_size reachable", false, [](Editor& e) { e.add_tokens_keep_size({"abcdeab", "q"}, std::nullopt, AdditionMethod::reachable); }},
        {"sync_single_chars", false, [&](Editor& e) { (void)e.sync_single_chars(source_path, 0, [](std::string_view) {}, IoHooks{}); }},
        {"merge_tokenizer", true, [&](Editor& e) { (void)e.merge_tokenizer(*merge_source, 30); }},
    };
    for (const Operation& op : operations) {
        if (std::getenv("ONLY") && std::string(std::getenv("ONLY")) != op.name) continue;
        for (long k = std::getenv("FROM") ? std::atol(std::getenv("FROM")) : 0;; ++k) {
            Editor editor = std::move(*Editor::from_json(kDocument));
            // Indexes and the removal order exist before the failure, as in a session that has edited before.
            editor.add_tokens_keep_size({}, std::nullopt);
            const std::string before = state_of(editor);
            if (std::getenv("TRACE")) std::fprintf(stderr, "%s %ld\n", op.name, k);
            bool failed = false;
            countdown = k;
            try { op.run(editor); } catch (const std::bad_alloc&) { failed = true; }
            countdown = -1;
            const std::string where = std::string(op.name) + " failing at allocation " + std::to_string(k) + (failed ? "" : " (absorbed)");
            FUZZ_CHECK(!failed || !op.all_or_nothing || state_of(editor) == before, where + ": the editor changed:\n" + state_of(editor));
            // A failure the editor absorbed itself must leave it usable too.
            check_usable(editor, where);
            if (!failed) break;
        }
    }
    std::remove(source_path.c_str());
    std::printf("ok\n");
    return 0;
}
