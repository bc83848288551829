#pragma once
// Shared by the fuzz harnesses: decisions read from the fuzzer's bytes, small tokenizer documents built from them, and
// checks that abort, so that the fuzzer keeps the input as a reproducer.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "document/string_literal.h"
#include "editor/editor.h"

namespace fuzz {

using namespace lexmill;

[[noreturn]] inline void fail(const char* file, int line, const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, what, detail.c_str()), std::abort();
}
#define FUZZ_CHECK(cond, detail) do { if (!(cond)) ::fuzz::fail(__FILE__, __LINE__, #cond, (detail)); } while (0)

// Records of counters only are equal when their bytes are.
template <class T> bool same_counters(const T& a, const T& b) {
    static_assert(std::has_unique_object_representations_v<T>);
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Decisions taken from the front of the input; an exhausted input answers 0.
struct Bytes {
    const uint8_t* data; size_t size, pos = 0;
    bool empty() const { return pos >= size; }
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    uint32_t below(uint32_t n) { return n ? byte() % n : 0; }
    bool flag() { return byte() & 1; }
};

// What tokens are made of: letters that chain, multi-byte characters, the byte-level space, the space marker, the
// brackets of special-looking tokens, a space, NUL, a control character, and a character with a combining mark.
inline constexpr std::string_view kPieces[] = {
    "a", "b", "c", "d", "\xC3\xA9", "\xC4\xA0", "\xE2\x96\x81", "<", ">", "[", "]", " ",
    std::string_view("\0", 1), "\x1b", "\xF0\x9F\x98\x80", "e\xCC\x81",
};

// 0 to 4 pieces, mostly from the first five, so that tokens share prefixes.
inline std::string token(Bytes& in) {
    uint32_t b = in.byte(), length = (b & 3) + ((b & 4) != 0);
    std::string out;
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t p = in.byte();
        out += kPieces[p & 0x80 ? p % std::size(kPieces) : p % 5];
    }
    return out;
}

inline std::set<uint32_t> used_ids(const Editor& editor) {
    std::set<uint32_t> used;
    editor.used_ids().for_each([&](uint32_t id) { used.insert(id); });
    return used;
}

// What an edit that fails must leave as it was.
std::string state_of(const Editor& editor) {
    std::string state = editor.to_json() + "\nnext " + std::to_string(editor.next_id()) + ", reserved";
    for (uint32_t id : used_ids(editor)) state += " " + std::to_string(id);
    return state;
}

inline std::string json_text(std::string_view text) {
    std::string out;
    append_json_string(out, text);
    return out;
}

// Mostly the next ID; when `wild` also likely duplicates, gaps and IDs at the top of the 32-bit range.
inline uint32_t pick_id(Bytes& in, uint32_t next, bool wild) {
    const uint32_t kind = wild ? in.below(8) : 3;
    return kind == 0 ? in.below(8) : kind == 1 ? 0xFFFFFFFFu - in.below(4) : kind == 2 ? next + in.below(16) : next;
}

// The text of a small tokenizer document: single characters first, so that merges have their parts, merges mostly
// splitting vocabulary tokens at a character boundary, a few added tokens (some with odd IDs or not objects), and one
// of the normalizers and pre-tokenizers that decide the space marker.
inline std::string random_document(Bytes& in, bool wild) {
    std::vector<std::pair<std::string, uint32_t>> vocab;
    uint32_t vocab_count = in.below(12), next = 0;
    for (uint32_t i = 0; i < vocab_count; ++i, ++next) {
        uint32_t id = pick_id(in, next, wild);  // the ID is read before the token, the right part before the left
        vocab.emplace_back(i < 4 ? std::string(kPieces[in.below(std::size(kPieces))]) : token(in), id);
    }
    auto some_token = [&] { return vocab[in.below(static_cast<uint32_t>(vocab.size()))].first; };
    std::string merges;
    auto add_merge = [&](const std::string& left, const std::string& right) { merges += (merges.empty() ? "[" : ", [") + json_text(left) + ", " + json_text(right) + "]"; };
    for (uint32_t i = 0, n = in.below(10); i < n; ++i) {
        if (!vocab.empty() && in.below(4) != 0) {
            std::string t = some_token();
            std::vector<size_t> cuts;
            for (size_t c = 1; c < t.size(); ++c) if ((static_cast<unsigned char>(t[c]) & 0xC0) != 0x80) cuts.push_back(c);
            if (!cuts.empty()) {
                size_t cut = cuts[in.below(static_cast<uint32_t>(cuts.size()))];
                add_merge(t.substr(0, cut), t.substr(cut));
                continue;
            }
        }
        std::string right = token(in), left = token(in);
        add_merge(left, right);
    }
    std::string added;
    for (uint32_t i = 0, n = in.below(4); i < n; ++i) {
        std::string content = vocab.empty() || in.flag() ? token(in) : some_token();
        std::string entry = "{\"content\": " + json_text(content) + ", \"special\": " + (in.flag() ? "true" : "false");
        const uint32_t kind = in.below(6);
        entry += kind == 0 ? "" : kind == 1 ? ", \"id\": -1" : kind == 2 ? ", \"id\": 3.0" : ", \"id\": " + std::to_string(pick_id(in, next++, wild));
        entry += "}";
        if (wild && in.below(8) == 0) entry = in.flag() ? "\"not an object\"" : "7";
        added += (i ? ", " : "") + entry;
    }
    std::string normalizer = "null", pre_tokenizer = "null", unk = "null";
    switch (in.below(4)) {
        case 0: break;
        case 1: pre_tokenizer = R"({"type": "ByteLevel", "add_prefix_space": false})"; break;
        case 2: normalizer = R"({"type": "Replace", "pattern": {"String": " "}, "content": "▁"})"; break;
        default:
            normalizer = R"({"type": "Sequence", "normalizers": [{"type": "NFC"}, {"type": "Replace", )"
                         R"("pattern": {"String": " "}, "content": )" + json_text(in.flag() ? "_" : "▁") + "}]}";
            if (in.flag()) pre_tokenizer = R"({"type": "Sequence", "pretokenizers": [{"type": "ByteLevel"}]})";
    }
    if (!vocab.empty() && in.below(4) == 0) unk = json_text(some_token());
    std::string text = "{\"version\": \"1.0\", \"added_tokens\": [" + added + "], \"normalizer\": " + normalizer +
                       ", \"pre_tokenizer\": " + pre_tokenizer + ", \"model\": {\"type\": \"BPE\", \"unk_token\": " +
                       unk + ", \"vocab\": {";
    for (size_t i = 0; i < vocab.size(); ++i) text += (i ? ", " : "") + json_text(vocab[i].first) + ": " + std::to_string(vocab[i].second);
    return text + "}, \"merges\": [" + merges + "]}}";
}

}  // namespace fuzz
