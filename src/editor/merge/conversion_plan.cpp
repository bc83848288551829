#include "editor/merge/conversion_plan.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>

#include "editor/editor.h"
#include "editor/merge/representation.h"

namespace lexmill {

namespace {

constexpr std::string_view kDefaultMarker = "\u2581";

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    if (from.empty()) {
        // An empty pattern matches before every character and at the end.
        out.reserve(text.size() + (text.size() + 1) * to.size());
        out += to;
        for (size_t i = 0; i < text.size();) {
            size_t end = i + 1;
            while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
            out += text.substr(i, end - i);
            out += to;
            i = end;
        }
        return out;
    }
    size_t start = 0;
    for (size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, start)) {
        out += text.substr(start, at - start);
        out += to;
        start = at + from.size();
    }
    out += text.substr(start);
    return out;
}

std::string to_nfc(std::string_view text) {
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return std::string(text);
    utf8proc_uint8_t* composed = nullptr;
    utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                      static_cast<utf8proc_ssize_t>(text.size()), &composed,
                                      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (n < 0) return std::string(text);  // not reachable for valid UTF-8
    std::string out(reinterpret_cast<const char*>(composed), static_cast<size_t>(n));
    std::free(composed);
    return out;
}

// '<0xHH>': six bytes, the middle two an unsigned hexadecimal byte as the
// standard unsigned parse reads it (so '+A' is 0x0A too).
std::optional<unsigned char> byte_token(std::string_view token) {
    if (token.size() != 6 || token.substr(0, 3) != "<0x" || token.back() != '>') return std::nullopt;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    char hi = token[3], lo = token[4];
    if (hi == '+') {
        int v = digit(lo);
        if (v < 0) return std::nullopt;
        return static_cast<unsigned char>(v);
    }
    int a = digit(hi), b = digit(lo);
    if (a < 0 || b < 0) return std::nullopt;
    return static_cast<unsigned char>(a * 16 + b);
}

std::string encode_byte_level(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) out += byte_level_char(static_cast<unsigned char>(c));
    return out;
}

// Contents of the source's special added tokens that are source vocabulary keys.
IdSet special_tokens(const Tokenizer& source) {
    IdSet special;
    for (const JsonValue& entry : source.added_tokens) {
        const JsonValue* flag = entry.find("special");
        const JsonValue* content = entry.find("content");
        const bool* is_special = flag ? std::get_if<bool>(&flag->data) : nullptr;
        if (!is_special || !*is_special || !content || !content->as_string()) continue;
        Sym sym = source.strings.find(*content->as_string());
        if (source.model.vocab.contains(sym)) special.insert(sym);
    }
    return special;
}

}  // namespace

Result<ConversionPlan> build_conversion_plan(const Editor& source_editor, Tokenizer& target) {
    const bool byte_level = has_component_type(target.pre_tokenizer, "ByteLevel");
    const std::optional<std::string> target_marker = find_space_marker(target.normalizer);
    if (!byte_level && !target_marker) {
        return Error{ErrorKind::merge, "Unsupported target: no ByteLevel pre-tokenizer or space marker found"};
    }
    const bool nfc = has_component_type(target.normalizer, "NFC");
    const Tokenizer& source = source_editor.document();
    const std::string source_marker = find_space_marker(source.normalizer).value_or(std::string(kDefaultMarker));

    ConversionPlan plan;
    plan.representation = byte_level ? "ByteLevel (\u0120)" : "space marker (" + *target_marker + ")";
    plan.conversion_map.assign(source.strings.size(), kNoSym);

    // Source order: ID ascending, then bytes.
    const Vocab& vocab = source.model.vocab;
    std::vector<Sym> order = vocab.members();
    std::sort(order.begin(), order.end(), [&](Sym a, Sym b) {
        if (vocab.id(a) != vocab.id(b)) return vocab.id(a) < vocab.id(b);
        return source.strings.view(a) < source.strings.view(b);
    });

    const IdSet special = special_tokens(source);
    IdSet seen;
    for (Sym token : order) {
        if (special.contains(token)) continue;
        std::string_view text = source.strings.view(token);
        std::string converted;
        if (std::optional<unsigned char> byte = byte_token(text)) {
            converted = byte_level ? std::string(byte_level_char(*byte)) : std::string(text);
        } else {
            std::string decoded = replace_all(text, source_marker, " ");
            if (nfc) decoded = to_nfc(decoded);
            converted = byte_level ? encode_byte_level(decoded) : replace_all(decoded, " ", *target_marker);
        }
        Sym sym = target.strings.intern(converted);
        if (seen.insert(sym)) plan.converted_tokens.push_back(sym);
        plan.conversion_map[token] = sym;
        ++plan.conversion_count;
    }
    if (!byte_level) return plan;

    // Bridges: the tokens the source treats as atomic (no source merge
    // produces them) get a left-to-right chain from single characters.
    IdSet products;
    std::string concatenation;
    source.model.merges.for_each([&](uint32_t, const Merge& m) {
        concatenation.assign(source.strings.view(m.left));
        concatenation += source.strings.view(m.right);
        Sym product = source.strings.find(concatenation);
        if (product != kNoSym) products.insert(product);
    });
    PairSet bridge_pairs;
    for (Sym token : order) {
        if (plan.conversion_map[token] == kNoSym || products.contains(token)) continue;
        std::string_view text = target.strings.view(plan.conversion_map[token]);
        size_t end = 0;
        auto next_char = [&]() {
            size_t start = end++;
            while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
            return text.substr(start, end - start);
        };
        if (text.empty()) continue;
        Sym prefix = target.strings.intern(next_char());
        while (end < text.size()) {
            Sym character = target.strings.intern(next_char());
            Sym longer = target.strings.intern(text.substr(0, end));
            if (plan.bridge_token_set.insert(longer)) plan.bridge_tokens.push_back(longer);
            if (bridge_pairs.insert(pair_key(prefix, character))) plan.bridge_merges.push_back(Merge{prefix, character});
            prefix = longer;
        }
    }
    return plan;
}

}  // namespace lexmill
