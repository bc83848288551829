#include "editor/merge/conversion_plan.h"

#include "editor/editor.h"
#include "editor/id_order.h"
#include "editor/merge/representation.h"
#include "editor/token_text.h"

namespace lexmill {

namespace {

constexpr std::string_view kDefaultMarker = "\u2581";

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

// Contents of the source's special added tokens that are source vocabulary keys.
TokenSet special_tokens(const Tokenizer& source) {
    TokenSet special;
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

// One source token in the target's spelling.
std::string converted_text(std::string_view token, const Representation& target, std::string_view source_marker) {
    if (std::optional<unsigned char> byte = byte_token(token)) {
        return target.byte_level ? std::string(byte_level_char(*byte)) : std::string(token);
    }
    return spell_text(target, replace_all(token, source_marker, " "));
}

// The tokens that some source merge produces.
TokenSet merge_products(const Tokenizer& source) {
    TokenSet products;
    PairText pair;
    source.model.merges.for_each([&](uint32_t, const Merge& m) {
        Sym product = pair.find(source.strings, m.left, m.right);
        if (product != kNoSym) products.insert(product);
    });
    return products;
}

// Bridges: the tokens the source treats as atomic (no source merge produces
// them) get a left-to-right chain from single characters.
void add_bridges(ConversionPlan& plan, const std::vector<Sym>& order, const Tokenizer& source, Tokenizer& target) {
    const TokenSet products = merge_products(source);
    PairSet bridge_pairs;
    for (Sym token : order) {
        if (plan.conversion_map[token] == kNoSym || products.contains(token)) continue;
        std::string_view text = target.strings.view(plan.conversion_map[token]);
        if (text.empty()) continue;
        size_t end = next_char_end(text, 0);
        Sym prefix = target.strings.intern(text.substr(0, end));
        while (end < text.size()) {
            size_t start = end;
            end = next_char_end(text, start);
            Sym character = target.strings.intern(text.substr(start, end - start));
            Sym longer = target.strings.intern(text.substr(0, end));
            if (plan.bridge_token_set.insert(longer)) plan.bridge_tokens.push_back(longer);
            if (bridge_pairs.insert(pair_key(prefix, character))) plan.bridge_merges.push_back(Merge{prefix, character});
            prefix = longer;
        }
    }
}

}  // namespace

Result<ConversionPlan> build_conversion_plan(const Editor& source_editor, Tokenizer& target) {
    const std::optional<Representation> target_representation = read_representation(target);
    if (!target_representation) {
        return Error{ErrorKind::merge, "Unsupported target: " + std::string(kNoRepresentation)};
    }
    const bool byte_level = target_representation->byte_level;
    const Tokenizer& source = source_editor.document();
    const std::string source_marker = find_space_marker(source.normalizer).value_or(std::string(kDefaultMarker));

    ConversionPlan plan;
    plan.representation = byte_level ? "ByteLevel (\u0120)" : "space marker (" + *target_representation->marker + ")";
    plan.conversion_map.assign(source.strings.size(), kNoSym);

    // Source order: the source's vocabulary by ID.
    const std::vector<Sym> order = tokens_by_id(source);
    const TokenSet special = special_tokens(source);
    TokenSet seen;
    for (Sym token : order) {
        if (special.contains(token)) continue;
        std::string converted = converted_text(source.strings.view(token), *target_representation, source_marker);
        Sym sym = target.strings.intern(converted);
        if (seen.insert(sym)) plan.converted_tokens.push_back(sym);
        plan.conversion_map[token] = sym;
        ++plan.conversion_count;
    }
    if (byte_level) add_bridges(plan, order, source, target);
    return plan;
}

}  // namespace lexmill
