#pragma once
// Shared by the fuzz harnesses: reading decisions from the fuzzer's bytes,
// building small tokenizer documents from them, comparing documents, and
// stopping loudly when a check fails.

#include <simdjson.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../cpp/two_readers.h"
#include "document/string_literal.h"
#include "document/tokenizer.h"
#include "document/write.h"
#include "editor/editor.h"

namespace fuzz {

using namespace lexmill;
using lexmill::testing::merges_of;
using lexmill::testing::same_document;
using lexmill::testing::vocab_of;

// A failed check: print what and where, then abort so that the fuzzer keeps
// the input as a crash reproducer.
[[noreturn]] inline void fail(const char* file, int line, const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
    std::abort();
}

#define FUZZ_CHECK(cond, detail)                                          \
    do {                                                                  \
        if (!(cond)) ::fuzz::fail(__FILE__, __LINE__, #cond, (detail));   \
    } while (0)

// Decisions taken from the front of the input; an exhausted input answers 0.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // A value in [0, n).
    uint32_t below(uint32_t n) { return n ? byte() % n : 0; }
    bool flag() { return byte() & 1; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | byte();
        return v;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Pieces that tokens are made of: ASCII letters that chain into each other,
// multi-byte characters, the byte-level space 'Ġ', the space marker '▁', the
// bracket characters that make a token look special, a space, a NUL and a
// control character.
inline constexpr std::string_view kPieces[] = {
    "a", "b", "c", "d", "\xC3\xA9" /* é */, "\xC4\xA0" /* Ġ */, "\xE2\x96\x81" /* ▁ */,
    "<", ">", "[", "]", " ", std::string_view("\0", 1), "\x1b", "\xF0\x9F\x98\x80" /* 😀 */, "e\xCC\x81" /* e + combining acute */,
};

// A token of 0 to 4 pieces, mostly from the first few so that tokens share
// prefixes and merges chain.
inline std::string token(Bytes& in) {
    uint32_t b = in.byte();
    uint32_t length = b & 3;
    if (b & 4) ++length;
    std::string out;
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t p = in.byte();
        out += kPieces[p & 0x80 ? p % std::size(kPieces) : p % 5];
    }
    return out;
}

inline std::string json_string(std::string_view text) {
    std::string out;
    append_json_string(out, text);
    return out;
}

// Describes a small tokenizer document whose text build_document() writes.
struct DocumentShape {
    std::vector<std::pair<std::string, uint32_t>> vocab;
    std::vector<std::pair<std::string, std::string>> merges;
    std::vector<std::string> added_tokens;  // JSON texts of the entries
    std::string normalizer = "null";
    std::string pre_tokenizer = "null";
    std::string unk_token = "null";
};

// IDs: mostly small and distinct; with `wild` also duplicates and IDs near
// the top of the 32-bit range.
inline uint32_t pick_id(Bytes& in, uint32_t next, bool wild) {
    if (!wild) return next;
    switch (in.below(8)) {
        case 0: return in.below(8);                  // likely a duplicate
        case 1: return 0xFFFFFFFFu - in.below(4);   // near the end of the range
        case 2: return next + in.below(16);          // a gap
        default: return next;
    }
}

inline DocumentShape random_shape(Bytes& in, bool wild) {
    DocumentShape shape;
    uint32_t vocab_count = in.below(12);
    uint32_t next = 0;
    // Single characters first, so that chains and merges have their parts.
    for (uint32_t i = 0; i < 4 && i < vocab_count; ++i) {
        shape.vocab.emplace_back(std::string(kPieces[in.below(std::size(kPieces))]), pick_id(in, next, wild));
        ++next;
    }
    for (uint32_t i = 4; i < vocab_count; ++i) {
        shape.vocab.emplace_back(token(in), pick_id(in, next, wild));
        ++next;
    }
    uint32_t merge_count = in.below(10);
    for (uint32_t i = 0; i < merge_count; ++i) {
        // Mostly merges that split vocabulary tokens, some arbitrary ones.
        if (!shape.vocab.empty() && in.below(4) != 0) {
            const std::string& t = shape.vocab[in.below(static_cast<uint32_t>(shape.vocab.size()))].first;
            // Cut at a character boundary: documents are valid UTF-8.
            std::vector<size_t> cuts;
            for (size_t i = 1; i < t.size(); ++i) {
                if ((static_cast<unsigned char>(t[i]) & 0xC0) != 0x80) cuts.push_back(i);
            }
            if (!cuts.empty()) {
                size_t cut = cuts[in.below(static_cast<uint32_t>(cuts.size()))];
                shape.merges.emplace_back(t.substr(0, cut), t.substr(cut));
                continue;
            }
        }
        shape.merges.emplace_back(token(in), token(in));
    }
    uint32_t added_count = in.below(4);
    for (uint32_t i = 0; i < added_count; ++i) {
        std::string content = shape.vocab.empty() || in.flag() ? token(in)
                                                                : shape.vocab[in.below(static_cast<uint32_t>(shape.vocab.size()))].first;
        std::string entry = "{\"content\": " + json_string(content) + ", \"special\": " + (in.flag() ? "true" : "false");
        switch (in.below(6)) {
            case 0: break;  // no id
            case 1: entry += ", \"id\": -1"; break;
            case 2: entry += ", \"id\": 3.0"; break;
            default: entry += ", \"id\": " + std::to_string(pick_id(in, next++, wild)); break;
        }
        entry += "}";
        if (wild && in.below(8) == 0) entry = in.flag() ? "\"not an object\"" : "7";
        shape.added_tokens.push_back(entry);
    }
    switch (in.below(4)) {
        case 0: break;
        case 1: shape.pre_tokenizer = "{\"type\": \"ByteLevel\", \"add_prefix_space\": false}"; break;
        case 2:
            shape.normalizer = "{\"type\": \"Replace\", \"pattern\": {\"String\": \" \"}, \"content\": \"\xE2\x96\x81\"}";
            break;
        default:
            shape.normalizer =
                "{\"type\": \"Sequence\", \"normalizers\": [{\"type\": \"NFC\"}, {\"type\": \"Replace\", "
                "\"pattern\": {\"String\": \" \"}, \"content\": " +
                json_string(in.flag() ? "_" : "\xE2\x96\x81") + "}]}";
            if (in.flag()) shape.pre_tokenizer = "{\"type\": \"Sequence\", \"pretokenizers\": [{\"type\": \"ByteLevel\"}]}";
            break;
    }
    if (!shape.vocab.empty() && in.below(4) == 0) {
        shape.unk_token = json_string(shape.vocab[in.below(static_cast<uint32_t>(shape.vocab.size()))].first);
    }
    return shape;
}

inline std::string document_text(const DocumentShape& shape) {
    std::string out = "{\"version\": \"1.0\", \"added_tokens\": [";
    for (size_t i = 0; i < shape.added_tokens.size(); ++i) out += (i ? ", " : "") + shape.added_tokens[i];
    out += "], \"normalizer\": " + shape.normalizer + ", \"pre_tokenizer\": " + shape.pre_tokenizer +
           ", \"model\": {\"type\": \"BPE\", \"unk_token\": " + shape.unk_token + ", \"vocab\": {";
    for (size_t i = 0; i < shape.vocab.size(); ++i) {
        out += (i ? ", " : "") + json_string(shape.vocab[i].first) + ": " + std::to_string(shape.vocab[i].second);
    }
    out += "}, \"merges\": [";
    for (size_t i = 0; i < shape.merges.size(); ++i) {
        out += (i ? ", [" : "[") + json_string(shape.merges[i].first) + ", " + json_string(shape.merges[i].second) + "]";
    }
    out += "]}}";
    FUZZ_CHECK(simdjson::validate_utf8(out.data(), out.size()), "generated document is not UTF-8");
    return out;
}

// --- Comparing documents -------------------------------------------------

// The vocabulary order of the sorted layout: ascending ID, equal IDs in
// bytewise token order.
inline std::vector<Sym> id_order(const Tokenizer& doc) {
    std::vector<Sym> order = doc.model.vocab.members();
    std::sort(order.begin(), order.end(), [&](Sym x, Sym y) {
        uint32_t ix = doc.model.vocab.id(x), iy = doc.model.vocab.id(y);
        if (ix != iy) return ix < iy;
        return doc.strings.view(x) < doc.strings.view(y);
    });
    return order;
}

inline std::string write_sorted(const Tokenizer& doc) {
    std::vector<Sym> order = id_order(doc);
    return write_tokenizer_json(doc, Layout::sorted, order);
}

inline std::string json_quoted(std::string_view text) { return json_string(text); }

}  // namespace fuzz
