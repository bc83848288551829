#pragma once
// Rewriting the tokens of a source tokenizer into the target's representation.

#include <string>
#include <vector>

#include "document/tokenizer.h"
#include "editor/flat_set.h"
#include "result.h"

namespace lexmill {

class Editor;

// Token handles are the target's: converted and bridge tokens are interned
// into the target's string pool (which nothing outside observes).
struct ConversionPlan {
    // Every distinct converted token, in the order it first arose (source order).
    std::vector<Sym> converted_tokens;
    // Merges building multi-character converted tokens from single characters
    // (byte-level targets only), distinct, in order of first occurrence.
    std::vector<Merge> bridge_merges;
    // "ByteLevel (Ġ)" or "space marker ({marker})".
    std::string representation;
    // By source handle: the converted token, or kNoSym for tokens not converted.
    std::vector<Sym> conversion_map;
    size_t conversion_count = 0;
    // Every prefix of two or more characters of each bridged token.
    std::vector<Sym> bridge_tokens;
    TokenSet bridge_token_set;

    Sym converted(Sym source_token) const {
        return source_token < conversion_map.size() ? conversion_map[source_token] : kNoSym;
    }
};

// Fails only when the target has neither a byte-level pre-tokenizer nor a
// space marker in its normalizer.
Result<ConversionPlan> build_conversion_plan(const Editor& source, Tokenizer& target);

}  // namespace lexmill
