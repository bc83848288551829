// Adding tokens: with the merge chain that lets BPE produce them, or bare.
// Existence of a merge is answered from the producers of its result, so each
// candidate merge costs a hash lookup, not a pass over the merge list.

#include <unistd.h>

#include <algorithm>
#include <new>

#include "editor/editor.h"

namespace lexmill {

namespace {

// Byte offset where the character starting at or before `end - 1` begins.
size_t previous_char_start(std::string_view text, size_t end) {
    size_t i = end - 1;
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
    return i;
}

size_t next_char_end(std::string_view text, size_t start) {
    size_t i = start + 1;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    return i;
}

}  // namespace

MergeIndex& Editor::index() {
    if (!index_.built()) index_.rebuild(doc_);
    return index_;
}

uint32_t Editor::allocate_id() {
    uint32_t candidate = next_id_;
    uint64_t steps = 0;
    while (used_ids_.contains(candidate)) {
        ++candidate;  // wraps past 4294967295 to 0
        if (++steps > 0xFFFFFFFFull) internal_failure("every 32-bit ID is in use");
    }
    used_ids_.insert(candidate);
    next_id_ = candidate + 1;
    return candidate;
}

void Editor::ensure_token(Sym sym) {
    Vocab& vocab = doc_.model.vocab;
    if (vocab.contains(sym)) return;
    vocab.set(sym, allocate_id());
    longest_token_ = std::max<size_t>(longest_token_, doc_.strings.view(sym).size());
    vocab_changed();
    changes_.inserted.push_back(sym);
}

bool Editor::has_merge(Sym left, Sym right) const {
    std::string concatenation(doc_.strings.view(left));
    concatenation += doc_.strings.view(right);
    Sym result = doc_.strings.find(concatenation);
    if (result == kNoSym) return false;
    // Left followed by right is the result, so equal left parts mean equal right parts.
    bool found = false;
    index_.for_each_producer(result, doc_.model.merges, [&](uint32_t e) {
        found = found || doc_.model.merges[e].left == left;
    });
    return found;
}

void Editor::append_merge(Sym left, Sym right, std::vector<MergeText>& added) {
    uint32_t entry = doc_.model.merges.append(Merge{left, right});
    index_.add(doc_, entry);
    added.emplace_back(doc_.strings.view(left), doc_.strings.view(right));
    changes_.results.push_back(index_.result(entry));
}

void Editor::build_char_chain(std::string_view text, std::vector<MergeText>& added) {
    if (text.empty()) return;
    // Every partial string of the chain is stored, which for a long text is
    // quadratic in its length: a chain that could not fit in this machine's
    // memory is refused as out of memory before anything changes, instead of
    // growing until the system kills the process.
    uint64_t chain_bytes = 0;
    for (size_t end = next_char_end(text, 0);; end = next_char_end(text, end)) {
        chain_bytes += end;
        if (end >= text.size()) break;
    }
    static const uint64_t memory = [] {
        long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGE_SIZE);
        return pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : uint64_t{1} << 36;
    }();
    if (chain_bytes > memory) throw std::bad_alloc();

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

AdditionResult Editor::add_token(std::string_view token) {
    AdditionResult result;
    result.token = token;
    const Vocab& vocab = doc_.model.vocab;
    if (vocab.contains(doc_.strings.find(token))) {
        result.method = "already_exists";
        return result;
    }
    result.added = true;
    if (count_chars(token) == 1) {
        ensure_token(doc_.strings.intern(token));
        settle_changes();
        result.method = "single_char";
        return result;
    }
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
        if (!vocab.contains(doc_.strings.find(suffix_text))) {
            build_char_chain(suffix_text, result.added_merges);
        }
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
    settle_changes();
    return result;
}

std::vector<AdditionResult> Editor::add_tokens(const std::vector<std::string>& tokens) {
    std::vector<AdditionResult> results;
    results.reserve(tokens.size());
    for (const std::string& token : tokens) results.push_back(add_token(token));
    return results;
}

bool Editor::add_token_atomic(std::string_view token) {
    if (doc_.model.vocab.contains(doc_.strings.find(token))) return false;
    ensure_token(doc_.strings.intern(token));
    settle_changes();
    return true;
}

void Editor::settle_changes() {
    if (change_log_) {
        change_log_->inserted.insert(change_log_->inserted.end(), changes_.inserted.begin(), changes_.inserted.end());
        change_log_->removed.insert(change_log_->removed.end(), changes_.removed.begin(), changes_.removed.end());
        change_log_->results.insert(change_log_->results.end(), changes_.results.begin(), changes_.results.end());
    }
    if (victims_) {
        for (Sym sym : changes_.inserted) victims_->touch(doc_, index_, sym);
        for (Sym sym : changes_.results) victims_->touch(doc_, index_, sym);
    }
    changes_.clear();
}

}  // namespace lexmill
