// Reads JSON texts with both readers of the document parser — the simdjson
// fast path and the exact scanner — and checks that they agree: whenever the
// fast path accepts a text, the scanner must accept it too and produce the same
// document. Each argument is a file; with --embed the file's content is placed
// as the normalizer of a minimal tokenizer document first.
//
// Build: g++ -std=c++20 -O1 -I src tests/cpp/parse_differential.cpp src/document/*.cpp -lsimdjson
// Prints one line per file: "<fast> <exact> <file> [message]"; exits 1 on a disagreement.

#include <simdjson.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "document/json_scanner.h"
#include "document/simd_input.h"
#include "document/tokenizer_schema.h"

using namespace lexmill;

namespace {

bool same_vocab(const Tokenizer& a, const Tokenizer& b) {
    if (a.model.vocab.size() != b.model.vocab.size()) return false;
    for (Sym s : a.model.vocab.members()) {
        Sym t = b.strings.find(a.strings.view(s));
        if (!b.model.vocab.contains(t) || b.model.vocab.id(t) != a.model.vocab.id(s)) return false;
    }
    return true;
}

bool same_merges(const Tokenizer& a, const Tokenizer& b) {
    std::vector<std::pair<std::string_view, std::string_view>> x, y;
    a.model.merges.for_each([&](uint32_t, const Merge& m) { x.emplace_back(a.strings.view(m.left), a.strings.view(m.right)); });
    b.model.merges.for_each([&](uint32_t, const Merge& m) { y.emplace_back(b.strings.view(m.left), b.strings.view(m.right)); });
    return x == y;
}

bool same(const Tokenizer& a, const Tokenizer& b) {
    const Model& m = a.model;
    const Model& n = b.model;
    return a.version == b.version && a.truncation == b.truncation && a.padding == b.padding &&
           a.added_tokens == b.added_tokens && a.normalizer == b.normalizer && a.pre_tokenizer == b.pre_tokenizer &&
           a.post_processor == b.post_processor && a.decoder == b.decoder && m.type == n.type &&
           m.dropout.has_value() == n.dropout.has_value() && (!m.dropout || std::bit_cast<uint64_t>(*m.dropout) == std::bit_cast<uint64_t>(*n.dropout)) &&
           m.unk_token == n.unk_token && m.continuing_subword_prefix == n.continuing_subword_prefix &&
           m.end_of_word_suffix == n.end_of_word_suffix && m.fuse_unk == n.fuse_unk &&
           m.byte_fallback == n.byte_fallback && m.ignore_merges == n.ignore_merges && same_vocab(a, b) &&
           same_merges(a, b);
}

}  // namespace

int main(int argc, char** argv) {
    bool embed = false;
    int disagreements = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--embed") {
            embed = true;
            continue;
        }
        std::ifstream file(arg, std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        std::string text = content.str();
        if (!simdjson::validate_utf8(text.data(), text.size())) {
            std::cout << "- - " << arg << " (not UTF-8)\n";
            continue;
        }
        if (embed) {
            text = "{\"version\": \"1.0\", \"added_tokens\": [], \"normalizer\": " + text +
                   ", \"model\": {\"type\": \"BPE\", \"vocab\": {}, \"merges\": []}}";
        }
        Tokenizer fast_doc;
        simdjson::padded_string padded(text);
        simdjson::ondemand::parser parser;
        simdjson::ondemand::document json;
        bool fast = false;
        if (!parser.iterate(padded).get(json)) {
            SimdInput input(json);
            fast = schema::read_tokenizer(input, fast_doc);
        }
        Tokenizer exact_doc;
        JsonScanner scanner(text);
        bool exact = schema::read_tokenizer(scanner, exact_doc);
        bool agree = !fast || (exact && same(fast_doc, exact_doc));
        if (!agree) ++disagreements;
        std::cout << (fast ? "ok" : "no") << ' ' << (exact ? "ok" : "no") << ' ' << arg;
        if (!exact) std::cout << "  " << scanner.error();
        if (!agree) std::cout << "  DISAGREE";
        std::cout << '\n';
    }
    return disagreements ? 1 : 0;
}
