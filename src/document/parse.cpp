#include "document/parse.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "document/fast_input.h"
#include "document/json_scanner.h"
#include "document/read_tokenizer.h"

namespace lexmill {

namespace {

// Well-formed documents go through the fast input; it declines anything unusual.
bool read_fast(std::string_view text, size_t readable, Tokenizer& doc) {
    std::string copy;
    if (readable - text.size() < FastInput::kPadding) {
        copy.assign(text.size() + FastInput::kPadding, '\0');
        std::memcpy(copy.data(), text.data(), text.size());
        text = std::string_view(copy.data(), text.size());
    }
    // Sized so that the tables rarely regrow: tokenizer files hold at most
    // about one token per 64 bytes and one merge per 32 (the real ones we
    // know 55 to 130 bytes per token, 65 to 75 per merge). Capacity that
    // goes unused is never touched, so it costs address space, not memory;
    // the slot table of the string pool, which is touched whole, is sized
    // for the tokens at four fifths full.
    const size_t tokens = text.size() / 64;
    doc.strings.reserve(tokens);
    doc.model.vocab.reserve(tokens);
    doc.model.merges.reserve(text.size() / 32);
    FastInput input(text);
    return read_tokenizer(input, doc);
}

}  // namespace

Result<Tokenizer> parse_tokenizer_json(const std::string& text) {
    return parse_tokenizer_json(text, text.capacity());
}

Result<Tokenizer> parse_tokenizer_json(std::string_view text, size_t readable) {
    {
        Tokenizer doc;
        if (read_fast(text, readable, doc)) return doc;
    }
    // Slow but exact: finds the first fault and where it is, and reads
    // whatever the fast input declined without a fault.
    Tokenizer doc;
    JsonScanner scanner(text);
    if (!read_tokenizer(scanner, doc)) return Error{ErrorKind::json, scanner.error()};
    return doc;
}

}  // namespace lexmill
