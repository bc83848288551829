// Reads JSON texts with both readers of the document parser — the fast
// input and the exact scanner — and checks that they agree: whenever the
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

#include "two_readers.h"

using namespace lexmill;
using namespace lexmill::testing;

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
        // Text that is not UTF-8 is read too: both readers must refuse it.
        const bool utf8 = simdjson::validate_utf8(text.data(), text.size());
        if (embed) {
            text = "{\"version\": \"1.0\", \"added_tokens\": [], \"normalizer\": " + text +
                   ", \"model\": {\"type\": \"BPE\", \"vocab\": {}, \"merges\": []}}";
        }
        TwoReadings read = read_with_both(text);
        bool agree = !read.fast || (read.exact && same_document(read.fast_doc, read.exact_doc));
        if (!agree) ++disagreements;
        std::cout << (read.fast ? "ok" : "no") << ' ' << (read.exact ? "ok" : "no") << ' ' << arg;
        if (!utf8) std::cout << " (not UTF-8)";
        if (!read.exact) std::cout << "  " << read.exact_error;
        if (!agree) std::cout << "  DISAGREE";
        std::cout << '\n';
    }
    return disagreements ? 1 : 0;
}
