// The classic merge chain of a new token: the longest proper prefix that is a
// vocabulary token joined with the rest, which is built up character by
// character ((c1 c2) c3) ... when it is not a token itself. Existence of a
// merge is answered from the producers of its result, so each candidate merge
// costs a hash lookup, not a pass over the merge list.

#include <new>

#include "editor/editor.h"
#include "editor/memory_limit.h"
#include "editor/token_text.h"

namespace lexmill {

namespace {

// Chains below this size are built without asking the system.
constexpr uint64_t kSmallChain = uint64_t{64} << 20;

}  // namespace

void Editor::add_with_chain(std::string_view token, AdditionResult& result) {
    const Vocab& vocab = doc_.model.vocab;
    index();

    // The longest proper prefix, ending on a character boundary, that is a
    // vocabulary token. No token is longer than longest_token_ bytes, so
    // longer prefixes need no lookup.
    Sym prefix = kNoSym;
    size_t split = 0;
    if (!token.empty()) {
        for (size_t b = previous_char_start(token, token.size()); b > 0; b = previous_char_start(token, b)) {
            if (b > longest_token_) continue;
            Sym candidate = doc_.strings.find(token.substr(0, b));
            if (vocab.contains(candidate)) {
                prefix = candidate;
                split = b;
                break;
            }
        }
    }

    if (prefix != kNoSym) {
        std::string_view suffix_text = token.substr(split);
        if (!has_token(suffix_text)) build_char_chain(suffix_text, result.added_merges);
        Sym suffix = doc_.strings.intern(suffix_text);
        if (!has_merge(prefix, suffix)) append_merge(prefix, suffix, result.added_merges);
        ensure_token(doc_.strings.intern(token));
        result.method = "longest_prefix";
    } else {
        // The chain's last partial string is the token itself; only the empty
        // token is left to insert.
        build_char_chain(token, result.added_merges);
        ensure_token(doc_.strings.intern(token));
        result.method = "char_chain";
    }
}

void Editor::build_char_chain(std::string_view text, std::vector<MergeText>& added) {
    if (text.empty()) return;
    // Every partial string of the chain is stored, which for a long text is
    // quadratic in its length: a chain larger than what this process may
    // still allocate is refused as out of memory before anything changes,
    // instead of growing until the system kills the process.
    uint64_t chain_bytes = 0;
    for (size_t end = next_char_end(text, 0);; end = next_char_end(text, end)) {
        chain_bytes += end;
        if (end >= text.size()) break;
    }
    if (chain_bytes > kSmallChain && chain_bytes > allocatable_bytes()) throw std::bad_alloc();

    size_t end = next_char_end(text, 0);
    Sym current = doc_.strings.intern(text.substr(0, end));
    ensure_token(current);
    while (end < text.size()) {
        size_t start = end;
        end = next_char_end(text, start);
        Sym next = doc_.strings.intern(text.substr(start, end - start));
        ensure_token(next);
        if (!has_merge(current, next)) append_merge(current, next, added);
        Sym combined = doc_.strings.intern(text.substr(0, end));
        ensure_token(combined);
        current = combined;
    }
}

}  // namespace lexmill
