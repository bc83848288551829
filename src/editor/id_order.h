#pragma once
// The one order of a vocabulary by ID, shared by saving, lookups by ID,
// reindexing and merging (both the target's and the source's vocabulary).

#include <vector>

#include "document/tokenizer.h"

namespace lexmill {

// The vocabulary's tokens by ascending ID, tokens sharing an ID in bytewise
// order of their text.
std::vector<Sym> tokens_by_id(const Tokenizer& doc);

}  // namespace lexmill
