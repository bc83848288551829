#pragma once
// The pull interface through which the tokenizer schema reads JSON. Two inputs
// implement it: the exact scanner, which reports every fault with its
// description and position, and the fast input over simdjson, which gives up
// on anything unusual so that the exact scanner can take over.

namespace lexmill {

// What the next value starts with.
enum class JsonToken { end_of_input, null, boolean, number, string, array, object, invalid };

// Outcome of asking a container for its next member or element.
enum class JsonStep { item, done, error };

}  // namespace lexmill
