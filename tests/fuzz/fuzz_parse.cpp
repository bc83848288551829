// Parser harness: arbitrary bytes as tokenizer.json text (the replay program also reads whole files:
// test_cpp_harness.py hands it JSON test suites and real tokenizers). What the simdjson path accepts, the exact scanner
// accepts too, as an equal document; a document that parses is written in both layouts, and each text parses back to
// the same document and is written again byte for byte the same; opening the text as an editor agrees with the parse
// (BPE check aside).

#include <simdjson.h>

#include "document/json_scanner.h"
#include "document/parse.h"
#include "document/read_tokenizer.h"
#include "document/simd_input.h"
#include "document/write.h"
#include "editor/id_order.h"
#include "fuzz_support.h"

using namespace fuzz;

namespace {

std::string sorted_text(const Tokenizer& doc) { return write_tokenizer_json(doc, Layout::sorted, tokens_by_id(doc)); }

// Compared through the writer: its text holds every field, -0.0 apart from 0.0.
bool same_document(const Tokenizer& a, const Tokenizer& b) {
    return write_tokenizer_json(a, Layout::declaration) == write_tokenizer_json(b, Layout::declaration);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Tokenizer fast_doc, exact_doc;
    bool fast = false;
    simdjson::padded_string padded(text);
    simdjson::ondemand::parser parser;
    simdjson::ondemand::document json;
    if (!parser.iterate(padded).get(json)) {
        SimdInput input(json);
        fast = read_tokenizer(input, fast_doc);
    }
    JsonScanner scanner(text);
    const bool exact = read_tokenizer(scanner, exact_doc);
    FUZZ_CHECK(!fast || (exact && same_document(fast_doc, exact_doc)),
               "simdjson path accepts what the scanner refuses, or reads another document: " + scanner.error());
    // Files that are not UTF-8 are refused before the editor sees them.
    if (!simdjson::validate_utf8(text.data(), text.size())) return 0;

    Result<Tokenizer> doc = parse_tokenizer_json(text);
    Result<Editor> editor = Editor::from_json(text);
    FUZZ_CHECK(bool(doc) == exact, "parse_tokenizer_json disagrees with the scanner");
    FUZZ_CHECK(doc || (!editor && editor.error().kind == ErrorKind::json && editor.error().message == doc.error().message),
               "from_json reports a parse failure otherwise than the parser");
    if (!doc) return 0;
    FUZZ_CHECK(same_document(*doc, exact_doc), "parse_tokenizer_json reads another document than the scanner");
    FUZZ_CHECK(bool(editor) == (doc->model.type == "BPE"), "from_json BPE check is wrong");
    const std::string declaration = write_tokenizer_json(*doc, Layout::declaration), sorted = sorted_text(*doc);
    for (const std::string* written : {&declaration, &sorted}) {
        Result<Tokenizer> again = parse_tokenizer_json(*written);
        FUZZ_CHECK(again && write_tokenizer_json(*again, Layout::declaration) == declaration && sorted_text(*again) == sorted,
                   "written text does not parse back to the same document:\n" + *written);
    }
    FUZZ_CHECK(!editor || editor->to_json() == declaration, "to_json differs from the writer");
    return 0;
}
