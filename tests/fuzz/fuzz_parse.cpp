// Parser harness: arbitrary bytes as tokenizer.json text.
//
// - The fast path may decline anything, but what it accepts the exact scanner
//   must accept too, with an equal document.
// - A document that parses is written in both layouts; each text parses back
//   to an equal document and is written again byte for byte the same.
// - Opening the text as an editor agrees with the parse (BPE check aside).

#include <simdjson.h>

#include "document/parse.h"
#include "fuzz_support.h"

using namespace fuzz;

namespace {

void check_round_trip(const Tokenizer& doc) {
    const std::string declaration = write_tokenizer_json(doc, Layout::declaration);
    const std::string sorted = write_sorted(doc);
    for (const std::string* text : {&declaration, &sorted}) {
        Result<Tokenizer> again = parse_tokenizer_json(*text);
        FUZZ_CHECK(again, "written text does not parse: " + (again ? std::string() : again.error().message) +
                              "\n" + *text);
        FUZZ_CHECK(same_document(doc, *again), "written text parses to another document:\n" + *text);
        FUZZ_CHECK(write_tokenizer_json(*again, Layout::declaration) == declaration,
                   "declaration layout not stable:\n" + declaration);
        FUZZ_CHECK(write_sorted(*again) == sorted, "sorted layout not stable:\n" + sorted);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    lexmill::testing::TwoReadings read = lexmill::testing::read_with_both(text);
    const bool fast = read.fast, exact = read.exact;
    FUZZ_CHECK(!fast || exact, "fast path accepts what the scanner refuses: " + read.exact_error);
    FUZZ_CHECK(!fast || same_document(read.fast_doc, read.exact_doc), "fast path and scanner read different documents");
    // Files that are not UTF-8 are refused before the editor sees them.
    if (!simdjson::validate_utf8(text.data(), text.size())) return 0;

    Result<Tokenizer> doc = parse_tokenizer_json(text);
    FUZZ_CHECK(bool(doc) == exact, "parse_tokenizer_json disagrees with the scanner");
    Result<Editor> editor = Editor::from_json(text);
    if (!doc) {
        FUZZ_CHECK(!editor, "from_json accepts what the parser refuses");
        FUZZ_CHECK(editor.error().kind == ErrorKind::json, "parse failure reported with another kind");
        FUZZ_CHECK(editor.error().message == doc.error().message, "from_json changes the parser's message");
        return 0;
    }
    FUZZ_CHECK(same_document(*doc, read.exact_doc), "parse_tokenizer_json reads another document than the scanner");
    FUZZ_CHECK(bool(editor) == (doc->model.type == "BPE"), "from_json BPE check is wrong");
    check_round_trip(*doc);
    if (editor) {
        FUZZ_CHECK(editor->to_json() == write_tokenizer_json(*doc, Layout::declaration), "to_json differs from the writer");
    }
    return 0;
}
