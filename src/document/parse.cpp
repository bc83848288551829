#include "document/parse.h"

#include <simdjson.h>

#include <memory>
#include <new>
#include <optional>

#include "document/json_scanner.h"
#include "document/read_tokenizer.h"
#include "document/simd_input.h"

namespace lexmill {

namespace {

// Well-formed documents go through simdjson; it declines anything unusual.
bool read_fast(std::string_view text, size_t readable, Tokenizer& doc) {
    std::optional<simdjson::padded_string> copy;
    simdjson::padded_string_view padded(text.data(), text.size(), readable);
    if (readable - text.size() < simdjson::SIMDJSON_PADDING) {
        copy.emplace(text);
        padded = *copy;
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
    // simdjson 3.0.1 does not check that its string buffer was allocated and
    // would write through a null pointer: make sure that much can be had.
    {
        std::unique_ptr<uint8_t[]> probe(new (std::nothrow) uint8_t[(5 * text.size() / 3 + 64) / 64 * 64 + 64]);
        if (!probe) throw std::bad_alloc();
    }
    simdjson::ondemand::parser parser;
    simdjson::ondemand::document json;
    if (parser.iterate(padded).get(json)) return false;
    SimdInput input(json);
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
    // whatever simdjson declined without a fault (integers beyond 64 bits, say).
    Tokenizer doc;
    JsonScanner scanner(text);
    if (!read_tokenizer(scanner, doc)) return Error{ErrorKind::json, scanner.error()};
    return doc;
}

}  // namespace lexmill
