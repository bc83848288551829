#pragma once
// Reading one text with both readers of the document parser — the simdjson
// path and the exact scanner — and comparing documents. Shared by the
// differential harness and the parser's fuzz harness.

#include <simdjson.h>

#include <bit>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "document/json_scanner.h"
#include "document/read_tokenizer.h"
#include "document/simd_input.h"

namespace lexmill::testing {

struct TwoReadings {
    bool fast = false;   // the simdjson path accepted the text
    bool exact = false;  // the exact scanner accepted it
    Tokenizer fast_doc;
    Tokenizer exact_doc;
    std::string exact_error;
};

inline TwoReadings read_with_both(std::string_view text) {
    TwoReadings out;
    {
        simdjson::padded_string padded(text);
        simdjson::ondemand::parser parser;
        simdjson::ondemand::document json;
        if (!parser.iterate(padded).get(json)) {
            SimdInput input(json);
            out.fast = read_tokenizer(input, out.fast_doc);
        }
    }
    JsonScanner scanner(text);
    out.exact = read_tokenizer(scanner, out.exact_doc);
    if (!out.exact) out.exact_error = scanner.error();
    return out;
}

inline std::map<std::string_view, uint32_t> vocab_of(const Tokenizer& doc) {
    std::map<std::string_view, uint32_t> out;
    for (Sym s : doc.model.vocab.members()) out.emplace(doc.strings.view(s), doc.model.vocab.id(s));
    return out;
}

inline std::vector<std::pair<std::string_view, std::string_view>> merges_of(const Tokenizer& doc) {
    std::vector<std::pair<std::string_view, std::string_view>> out;
    doc.model.merges.for_each(
        [&](uint32_t, const Merge& m) { out.emplace_back(doc.strings.view(m.left), doc.strings.view(m.right)); });
    return out;
}

// Every field equal; floats by bit pattern, so -0.0 and 0.0 stay apart.
inline bool same_document(const Tokenizer& a, const Tokenizer& b) {
    const Model& m = a.model;
    const Model& n = b.model;
    return a.version == b.version && a.truncation == b.truncation && a.padding == b.padding &&
           a.added_tokens == b.added_tokens && a.normalizer == b.normalizer && a.pre_tokenizer == b.pre_tokenizer &&
           a.post_processor == b.post_processor && a.decoder == b.decoder && m.type == n.type &&
           m.dropout.has_value() == n.dropout.has_value() &&
           (!m.dropout || std::bit_cast<uint64_t>(*m.dropout) == std::bit_cast<uint64_t>(*n.dropout)) &&
           m.unk_token == n.unk_token && m.continuing_subword_prefix == n.continuing_subword_prefix &&
           m.end_of_word_suffix == n.end_of_word_suffix && m.fuse_unk == n.fuse_unk &&
           m.byte_fallback == n.byte_fallback && m.ignore_merges == n.ignore_merges && vocab_of(a) == vocab_of(b) &&
           merges_of(a) == merges_of(b);
}

}  // namespace lexmill::testing
