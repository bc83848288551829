// Checks of the tokenizer.json writers that need no parser: the float
// notation, string escapes, both layouts of an empty document, and text that
// outgrows the writer's size estimate. Whole documents are checked byte for
// byte through the module in tests/test_write.py.
//
// Usage: test_write [FLOAT_TABLE]
// FLOAT_TABLE holds lines "<bits of a double as 16 hex digits> <expected text>",
// expectations computed elsewhere (tests/test_cpp_harness.py derives them
// from Python's repr).

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "document/float_text.h"
#include "document/string_literal.h"
#include "document/write.h"

using namespace lexmill;

namespace {

int passed = 0;
int failed = 0;

// Control bytes and non-ASCII shown as \xNN so a failure report stays readable.
std::string visible(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n\n";
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void check(bool ok, const std::string& what, int line) {
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    std::printf("FAIL line %d: %s\n", line, what.c_str());
}

void check_text(const std::string& actual, const std::string& expected, const std::string& what,
                int line) {
    if (actual == expected) {
        ++passed;
        return;
    }
    ++failed;
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    std::printf("FAIL line %d: %s (first difference at byte %zu)\n", line, what.c_str(), at);
    if (actual.size() + expected.size() < 4000) {
        std::printf("--- expected\n%s\n--- actual\n%s\n---\n", visible(expected).c_str(),
                    visible(actual).c_str());
    } else {
        size_t from = at < 80 ? 0 : at - 80;
        std::printf("--- expected near there\n%s\n--- actual near there\n%s\n---\n",
                    visible(expected.substr(from, 160)).c_str(),
                    visible(actual.substr(from, 160)).c_str());
    }
}

#define CHECK(cond) check((cond), #cond, __LINE__)
#define CHECK_TEXT(actual, expected) check_text((actual), (expected), #actual, __LINE__)

std::string float_text(double x) {
    std::string out;
    append_float(out, x);
    return out;
}

std::string string_text(std::string_view s) {
    std::string out;
    append_json_string(out, s);
    return out;
}

// Byte by byte, the plainest possible statement of the escaping rule.
std::string naive_string_text(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case 0x08: out += "\\b"; break;
            case 0x09: out += "\\t"; break;
            case 0x0a: out += "\\n"; break;
            case 0x0c: out += "\\f"; break;
            case 0x0d: out += "\\r"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

JsonValue str(std::string s) { return JsonValue{std::move(s)}; }

std::string written(const Tokenizer& doc, Layout layout, std::span<const Sym> order = {}) {
    return write_tokenizer_json(doc, layout, order);
}

// ---------------------------------------------------------------- floats

struct FloatCase {
    double value;
    const char* text;
};

void test_float_notation() {
    const double inf = std::numeric_limits<double>::infinity();
    const FloatCase cases[] = {
        // Zero, signs and the values that cannot be written as numbers.
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {std::numeric_limits<double>::quiet_NaN(), "null"},
        {-std::numeric_limits<double>::quiet_NaN(), "null"},
        {inf, "null"},
        {-inf, "null"},
        // Whole numbers: digits, zeros, ".0".
        {1.0, "1.0"},
        {-1.0, "-1.0"},
        {100.0, "100.0"},
        {123.0, "123.0"},
        {1e15, "1000000000000000.0"},
        {1.5e15, "1500000000000000.0"},
        {9007199254740992.0, "9007199254740992.0"},
        {9999999999999998.0, "9999999999999998.0"},
        // E = 16 switches to scientific notation.
        {1e16, "1e16"},
        {1.5e16, "1.5e16"},
        {-1.5e16, "-1.5e16"},
        {12345678901234568.0, "1.2345678901234568e16"},
        {1e17, "1e17"},
        {1e21, "1e21"},
        {1e22, "1e22"},
        {1e23, "1e23"},
        {1152921504606846976.0, "1.152921504606847e18"},
        {1.7976931348623157e308, "1.7976931348623157e308"},
        {-1.7976931348623157e308, "-1.7976931348623157e308"},
        // A point inside the digits.
        {1.5, "1.5"},
        {-1.5, "-1.5"},
        {123.25, "123.25"},
        {123456789012345.67, "123456789012345.67"},
        {999999999999999.9, "999999999999999.9"},
        {1234567890123456.8, "1234567890123456.8"},
        {2.0 / 3.0, "0.6666666666666666"},
        // Below one: "0.", zeros, digits, down to E = -5.
        {0.1, "0.1"},
        {0.3, "0.3"},
        {0.1 + 0.2, "0.30000000000000004"},
        {0.5, "0.5"},
        {-0.25, "-0.25"},
        {0.001, "0.001"},
        {0.00001, "0.00001"},
        {-0.00001, "-0.00001"},
        {0.000015, "0.000015"},
        {0.0000123, "0.0000123"},
        {0.000099999, "0.000099999"},
        {0.00001234567890123, "0.00001234567890123"},
        // E = -6 and below: scientific notation with a negative exponent.
        {0.000001, "1e-6"},
        {0.0000015, "1.5e-6"},
        {0.0000099999, "9.9999e-6"},
        {1e-7, "1e-7"},
        {-1e-7, "-1e-7"},
        {1.23e-18, "1.23e-18"},
        {2.2250738585072014e-308, "2.2250738585072014e-308"},
        {5e-324, "5e-324"},
        {-5e-324, "-5e-324"},
        {1e-323, "1e-323"},
    };
    for (const FloatCase& c : cases) {
        check_text(float_text(c.value), c.text, "append_float(" + std::string(c.text) + ")",
                   __LINE__);
    }

    // The neighbours of the two exponent boundaries keep to their side.
    CHECK_TEXT(float_text(std::nextafter(1e16, 0.0)), "9999999999999998.0");
    CHECK_TEXT(float_text(std::nextafter(1e16, inf)), "1.0000000000000002e16");
    CHECK_TEXT(float_text(std::nextafter(0.00001, 0.0)), "9.999999999999999e-6");
    CHECK_TEXT(float_text(std::nextafter(0.00001, 1.0)), "0.000010000000000000003");

    // It appends; what was there stays.
    std::string out = "[";
    append_float(out, 2.5);
    append_float(out, -0.0);
    CHECK_TEXT(out, "[2.5-0.0");
}

// Every finite double reads back as itself; every non-finite one is null.
void test_float_round_trip() {
    std::mt19937_64 random(20240607);
    std::uniform_int_distribution<int> decade(-330, 310);
    int bad = 0;
    std::string example;
    auto try_value = [&](double x) {
        const std::string text = float_text(x);
        bool ok;
        if (!std::isfinite(x)) {
            ok = text == "null";
        } else {
            const double back = std::strtod(text.c_str(), nullptr);
            ok = std::memcmp(&back, &x, sizeof x) == 0 && text.find('+') == std::string::npos &&
                 (text.find('.') != std::string::npos || text.find('e') != std::string::npos);
        }
        if (!ok && bad++ == 0) example = text;
    };
    for (int i = 0; i < 200000; ++i) {
        uint64_t bits = random();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        try_value(x);
        // Short decimals, where a writer that prints too many digits shows.
        const double y = static_cast<double>(random() % 100000) * std::pow(10.0, decade(random));
        try_value(y);
    }
    check(bad == 0, "random doubles read back (first bad text: " + example + ")", __LINE__);
}

// Expectations from another implementation of the same rule, one per line.
void test_float_table(const char* path) {
    std::ifstream in(path);
    if (!in) {
        check(false, std::string("cannot read the float table ") + path, __LINE__);
        return;
    }
    int lines = 0;
    int bad = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string hex;
        std::string expected;
        fields >> hex >> expected;
        const uint64_t bits = std::strtoull(hex.c_str(), nullptr, 16);
        double x;
        std::memcpy(&x, &bits, sizeof x);
        const std::string actual = float_text(x);
        ++lines;
        if (actual != expected && bad++ < 10) {
            std::printf("  float table: %s -> %s, expected %s\n", hex.c_str(), actual.c_str(),
                        expected.c_str());
        }
    }
    check(lines > 0 && bad == 0,
          "float table: " + std::to_string(bad) + " of " + std::to_string(lines) + " differ",
          __LINE__);
}

// ---------------------------------------------------------------- strings

void test_string_escapes() {
    CHECK_TEXT(string_text(""), R"("")");
    CHECK_TEXT(string_text("plain"), R"("plain")");
    CHECK_TEXT(string_text("say \"hi\""), R"("say \"hi\"")");
    CHECK_TEXT(string_text("back\\slash"), R"("back\\slash")");
    CHECK_TEXT(string_text("\b\t\n\f\r"), R"("\b\t\n\f\r")");
    CHECK_TEXT(string_text(std::string_view("\0", 1)), R"("\u0000")");
    CHECK_TEXT(string_text("\x01\x07\x0b\x0e\x1b\x1f"), R"("\u0001\u0007\u000b\u000e\u001b\u001f")");
    // Left raw: space, slash, DEL, and all of UTF-8 beyond ASCII.
    CHECK_TEXT(string_text(" /\x7f"), "\" /\x7f\"");
    CHECK_TEXT(string_text("é日本語😀Ġ"), "\"é日本語😀Ġ\"");
    CHECK_TEXT(string_text("\xe2\x80\xa8\xe2\x80\xa9"), "\"\xe2\x80\xa8\xe2\x80\xa9\"");
    // Escapes at either end, next to each other, between raw runs.
    CHECK_TEXT(string_text("\"a\\"), R"("\"a\\")");
    CHECK_TEXT(string_text("\t\x1b\"é"), R"("\t\u001b\"é")");
    CHECK_TEXT(string_text("a\n\nb\tc"), R"("a\n\nb\tc")");

    // It appends; what was there stays.
    std::string out = "x";
    append_json_string(out, "a\"");
    append_json_string(out, "");
    CHECK_TEXT(out, R"(x"a\"""")");

    // Every byte value, alone and in random mixtures, against the plain rule.
    int bad = 0;
    for (int c = 0; c < 256; ++c) {
        const std::string one(1, static_cast<char>(c));
        bad += string_text(one) != naive_string_text(one);
    }
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        std::string s(random() % 40, '\0');
        for (char& c : s) c = static_cast<char>(random() % 8 == 0 ? random() % 0x24 : random() % 256);
        bad += string_text(s) != naive_string_text(s);
    }
    check(bad == 0, "escaping matches the byte-by-byte rule", __LINE__);
}

// ---------------------------------------------------------------- documents

Tokenizer empty_document() {
    Tokenizer doc;
    doc.version = "1.0";
    doc.model.type = "BPE";
    return doc;
}

const char* const kEmptyDeclared = R"({
  "version": "1.0",
  "truncation": null,
  "padding": null,
  "added_tokens": [],
  "normalizer": null,
  "pre_tokenizer": null,
  "post_processor": null,
  "decoder": null,
  "model": {
    "type": "BPE",
    "dropout": null,
    "unk_token": null,
    "continuing_subword_prefix": null,
    "end_of_word_suffix": null,
    "fuse_unk": false,
    "byte_fallback": false,
    "ignore_merges": false,
    "vocab": {},
    "merges": []
  }
})";

const char* const kEmptySorted = R"({
  "added_tokens": [],
  "decoder": null,
  "model": {
    "byte_fallback": false,
    "continuing_subword_prefix": null,
    "dropout": null,
    "end_of_word_suffix": null,
    "fuse_unk": false,
    "ignore_merges": false,
    "merges": [],
    "type": "BPE",
    "unk_token": null,
    "vocab": {}
  },
  "normalizer": null,
  "padding": null,
  "post_processor": null,
  "pre_tokenizer": null,
  "truncation": null,
  "version": "1.0"
})";

void test_empty_document() {
    const Tokenizer doc = empty_document();
    CHECK_TEXT(written(doc, Layout::declaration), kEmptyDeclared);
    CHECK_TEXT(written(doc, Layout::sorted), kEmptySorted);
}

// Text far longer than the size estimate allows for: every byte an escape.
void test_output_beyond_the_estimate() {
    Tokenizer doc = empty_document();
    const std::string controls(300000, '\x01');
    doc.normalizer = str(controls);
    std::string expected = kEmptySorted;
    const std::string from = "\"normalizer\": null";
    expected.replace(expected.find(from), from.size(),
                     "\"normalizer\": " + naive_string_text(controls));
    CHECK_TEXT(written(doc, Layout::sorted), expected);

    Tokenizer many = empty_document();
    std::vector<Sym> order;
    std::string vocab_text = "\"vocab\": {";
    std::string merges_text = "\"merges\": [";
    for (int i = 0; i < 3000; ++i) {
        const std::string token = std::to_string(i) + std::string(100, '"') + std::string(50, '\x1f');
        const Sym sym = many.strings.intern(token);
        many.model.vocab.set(sym, static_cast<uint32_t>(i));
        many.model.merges.append({sym, sym});
        order.push_back(sym);
        const std::string quoted = naive_string_text(token);
        vocab_text += (i ? ",\n      " : "\n      ") + quoted + ": " + std::to_string(i);
        merges_text += std::string(i ? "," : "") + "\n      [\n        " + quoted + ",\n        " +
                       quoted + "\n      ]";
    }
    vocab_text += "\n    }";
    merges_text += "\n    ]";
    expected = kEmptySorted;
    const std::string empty_vocab = "\"vocab\": {}";
    const std::string empty_merges = "\"merges\": []";
    expected.replace(expected.find(empty_vocab), empty_vocab.size(), vocab_text);
    expected.replace(expected.find(empty_merges), empty_merges.size(), merges_text);
    CHECK_TEXT(written(many, Layout::sorted, order), expected);
}

}  // namespace

int main(int argc, char** argv) {
    test_float_notation();
    test_float_round_trip();
    if (argc > 1) test_float_table(argv[1]);
    test_string_escapes();
    test_empty_document();
    test_output_beyond_the_estimate();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
