#pragma once
// The pull interface through which a tokenizer document is read. Two inputs
// implement it: the exact scanner, which reports every fault with its
// description and position, and the fast input over simdjson, which gives up
// on anything unusual so that the exact scanner can take over.

namespace lexmill {

// What the next value starts with.
enum class JsonToken { end_of_input, null, boolean, number, string, array, object, invalid };

// The kind of value that starts with byte `c`; -1 stands for the end of the text.
inline JsonToken token_starting_with(int c) {
    switch (c) {
        case -1: return JsonToken::end_of_input;
        case 'n': return JsonToken::null;
        case 't':
        case 'f': return JsonToken::boolean;
        case '"': return JsonToken::string;
        case '[': return JsonToken::array;
        case '{': return JsonToken::object;
        default: return c == '-' || (c >= '0' && c <= '9') ? JsonToken::number : JsonToken::invalid;
    }
}

// Outcome of asking a container for its next member or element.
enum class JsonStep { item, done, error };

}  // namespace lexmill
