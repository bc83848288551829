#include "document/parse.h"

#include <simdjson.h>

#include "document/json_scanner.h"
#include "document/simd_input.h"
#include "document/tokenizer_schema.h"

namespace lexmill {

namespace {

// Well-formed documents go through simdjson; it declines anything unusual.
bool read_fast(std::string_view text, Tokenizer& doc) {
    simdjson::padded_string padded(text);
    simdjson::ondemand::parser parser;
    simdjson::ondemand::document json;
    if (parser.iterate(padded).get(json)) return false;
    SimdInput input(json);
    return schema::read_tokenizer(input, doc);
}

}  // namespace

Result<Tokenizer> parse_tokenizer_json(std::string_view text) {
    {
        Tokenizer doc;
        if (read_fast(text, doc)) return doc;
    }
    // Slow but exact: finds the first fault and where it is, or reads what
    // the fast path declined (integers beyond 64 bits, say).
    Tokenizer doc;
    JsonScanner scanner(text);
    if (!schema::read_tokenizer(scanner, doc)) return Error{ErrorKind::json, scanner.error()};
    return doc;
}

}  // namespace lexmill
