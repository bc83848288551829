// Pretty-printing a tokenizer document in one pass into one string. The
// vocabulary and the merge list make up nearly all of a real document (tens of
// megabytes): the string is sized once from an estimate of the whole text, and
// their loops write each entry through a cursor with precomputed separators.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "document/float_text.h"
#include "document/string_literal.h"
#include "document/tokenizer_schema.h"
#include "document/write.h"

namespace lexmill {

namespace {

// `before`, a line break, the indentation of `level` and `after`: the fixed
// text between the strings of a vocabulary or merge entry.
std::string line_text(std::string_view before, int level, std::string_view after = {}) {
    std::string text(before);
    text.push_back('\n');
    text.append(2 * static_cast<size_t>(level), ' ');
    text.append(after);
    return text;
}

// Bytes a value takes when written at `level`, give or take escapes; keeps
// the output to a single allocation for sections such as thousands of added
// tokens.
size_t estimate(const JsonValue& value, int level) {
    const size_t member_lead = 2 + 2 * static_cast<size_t>(level + 1);  // ",\n" and indentation
    return std::visit(
        [&](const auto& v) -> size_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return v.size() + 2;
            } else if constexpr (std::is_same_v<T, JsonArray>) {
                size_t n = 2 + member_lead;
                for (const JsonValue& element : v) n += member_lead + estimate(element, level + 1);
                return n;
            } else if constexpr (std::is_same_v<T, JsonObject>) {
                size_t n = 2 + member_lead;
                for (const JsonMember& m : v) {
                    n += member_lead + m.key.size() + 4 + estimate(m.value, level + 1);
                }
                return n;
            } else {
                return 24;  // null, a boolean or a number
            }
        },
        value.data);
}

// The output written through a cursor. Into a string, it is sized ahead to
// the estimated length of the whole text, grown when a piece needs more room
// than is left, and cut to what was written at the end. Into a sink, a buffer
// is handed over whenever it is full and then reused.
class Output {
public:
    Output(std::string& text, size_t estimate) : text_(text) {
        text_.resize(estimate);
        cursor_ = text_.data();
        end_ = cursor_ + text_.size();
    }

    Output(std::string& buffer, const std::function<bool(std::string_view)>& sink) : text_(buffer), sink_(&sink) {
        text_.resize(kChunk);
        cursor_ = text_.data();
        end_ = cursor_ + text_.size();
    }

    // The cursor, with room for `n` more bytes; give it back through advance().
    char* room(size_t n) {
        if (static_cast<size_t>(end_ - cursor_) < n) grow(n);
        return cursor_;
    }
    void advance(char* to) { cursor_ = to; }

    void put(char c) {
        *room(1) = c;
        ++cursor_;
    }
    void put(std::string_view text) { advance(copy(room(text.size()), text)); }

    // False when the sink refused a piece.
    bool finish() {
        if (sink_) return flush();
        text_.resize(cursor_ - text_.data());
        return true;
    }

    static char* copy(char* to, std::string_view text) {
        std::memcpy(to, text.data(), text.size());
        return to + text.size();
    }

private:
    static constexpr size_t kChunk = size_t{1} << 20;

    bool flush() {
        const size_t used = cursor_ - text_.data();
        cursor_ = text_.data();
        if (failed_ || used == 0) return !failed_;
        failed_ = !(*sink_)(std::string_view(text_.data(), used));
        return !failed_;
    }

    void grow(size_t n) {
        if (sink_) {
            flush();  // after a refusal the rest is written over and dropped
            if (text_.size() >= n) return;
        }
        const size_t used = cursor_ - text_.data();
        text_.resize(std::max(used + n, 2 * text_.size()));
        cursor_ = text_.data() + used;
        end_ = text_.data() + text_.size();
    }

    std::string& text_;
    const std::function<bool(std::string_view)>* sink_ = nullptr;
    bool failed_ = false;
    char* cursor_;
    char* end_;
};

constexpr size_t kNumberBound = 24;  // any 64-bit integer in decimal

class Writer {
public:
    Writer(const Tokenizer& doc, std::span<const Sym> vocab_order, Output& out)
        : doc_(doc), vocab_order_(vocab_order), out_(out) {}

    void document(Layout layout) {
        layout_ = layout;
        structure(kTokenizerSchema, doc_, 0);
    }

private:
    void newline(int level) {
        const size_t width = 2 * static_cast<size_t>(level);
        char* p = out_.room(1 + width);
        *p++ = '\n';
        std::memset(p, ' ', width);
        out_.advance(p + width);
    }

    // The separator, line break and indentation before a member of an object
    // at `level`, then its key.
    void member_key(std::string_view key, int level, bool first) {
        if (!first) out_.put(',');
        newline(level + 1);
        string(key);
        out_.put(": ");
    }

    void string(std::string_view text) {
        out_.advance(write_json_string(out_.room(json_string_bound(text.size())), text));
    }

    template <typename Integer>
    void number(Integer n) {
        char* p = out_.room(kNumberBound);
        out_.advance(std::to_chars(p, p + kNumberBound, n).ptr);
    }

    void float_number(double x) { out_.advance(write_float(out_.room(kFloatTextBound), x)); }

    void boolean(bool b) { out_.put(b ? "true" : "false"); }

    void optional_string(const std::optional<std::string>& s) {
        if (s) {
            string(*s);
        } else {
            out_.put("null");
        }
    }

    void optional_float(const std::optional<double>& x) {
        if (x) {
            float_number(*x);
        } else {
            out_.put("null");
        }
    }

    void optional_value(const std::optional<JsonValue>& v, int level) {
        if (v) {
            value(*v, level);
        } else {
            out_.put("null");
        }
    }

    void value(const JsonValue& v, int level) {
        std::visit(
            [&](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, std::nullptr_t>) {
                    out_.put("null");
                } else if constexpr (std::is_same_v<T, bool>) {
                    boolean(x);
                } else if constexpr (std::is_same_v<T, double>) {
                    float_number(x);
                } else if constexpr (std::is_integral_v<T>) {
                    number(x);
                } else if constexpr (std::is_same_v<T, std::string>) {
                    string(x);
                } else if constexpr (std::is_same_v<T, JsonArray>) {
                    array(x, level);
                } else {
                    object(x, level);
                }
            },
            v.data);
    }

    void array(std::span<const JsonValue> elements, int level) {
        if (elements.empty()) {
            out_.put("[]");
            return;
        }
        out_.put('[');
        bool first = true;
        for (const JsonValue& element : elements) {
            if (!first) out_.put(',');
            first = false;
            newline(level + 1);
            value(element, level + 1);
        }
        newline(level);
        out_.put(']');
    }

    // Members are already in ascending key order: the document keeps them so.
    void object(const JsonObject& members, int level) {
        if (members.empty()) {
            out_.put("{}");
            return;
        }
        out_.put('{');
        bool first = true;
        for (const JsonMember& m : members) {
            member_key(m.key, level, first);
            first = false;
            value(m.value, level + 1);
        }
        newline(level);
        out_.put('}');
    }

    // A struct's members in the order of the layout, each written by its type.
    template <typename Schema, typename Object>
    void structure(const Schema& schema, const Object& object, int level) {
        out_.put('{');
        bool first = true;
        auto members = [&](const auto& order) {
            for (size_t field : order) {
                member_key(schema.key(field), level, first);
                first = false;
                schema.visit(object, field, MemberWriter{*this, level + 1});
            }
        };
        if (layout_ == Layout::sorted) {
            members(schema.sorted());
        } else {
            members(Schema::declared());
        }
        newline(level);
        out_.put('}');
    }

    // Writes a member as a value at `level`.
    struct MemberWriter {
        Writer& w;
        int level;

        void operator()(const std::string& s) const { w.string(s); }
        void operator()(const std::optional<std::string>& s) const { w.optional_string(s); }
        void operator()(bool b) const { w.boolean(b); }
        void operator()(const std::optional<double>& x) const { w.optional_float(x); }
        void operator()(const std::optional<JsonValue>& v) const { w.optional_value(v, level); }
        void operator()(const std::vector<JsonValue>& elements) const { w.array(elements, level); }
        void operator()(const Vocab& vocab) const { w.vocab(vocab, level); }
        void operator()(const MergeList& merges) const { w.merges(merges, level); }
        void operator()(const Model& model) const { w.structure(kModelSchema, model, level); }
    };

    void vocab(const Vocab& vocab, int level) {
        if (vocab_order_.empty()) {
            out_.put("{}");
            return;
        }
        // ",\n" and the members' indentation; the first member skips the comma.
        const std::string lead = line_text(",", level + 1);
        const std::string_view first_lead = std::string_view(lead).substr(1);
        const StringPool& strings = doc_.strings;
        out_.put('{');
        bool first = true;
        for (Sym sym : vocab_order_) {
            const std::string_view token = strings.view(sym);
            char* p = out_.room(lead.size() + json_string_bound(token.size()) + 2 + kNumberBound);
            p = Output::copy(p, first ? first_lead : std::string_view(lead));
            first = false;
            p = write_json_string(p, token);
            *p++ = ':';
            *p++ = ' ';
            out_.advance(std::to_chars(p, p + kNumberBound, vocab.id(sym)).ptr);
        }
        newline(level);
        out_.put('}');
    }

    void merges(const MergeList& list, int level) {
        if (list.size() == 0) {
            out_.put("[]");
            return;
        }
        // Each merge is a two-element array over four lines.
        const std::string open = line_text(",", level + 1, line_text("[", level + 2));
        const std::string_view first_open = std::string_view(open).substr(1);
        const std::string between = line_text(",", level + 2);
        const std::string close = line_text("", level + 1, "]");
        const size_t fixed = open.size() + between.size() + close.size();
        const StringPool& strings = doc_.strings;
        out_.put('[');
        bool first = true;
        list.for_each([&](uint32_t, const Merge& m) {
            const std::string_view left = strings.view(m.left);
            const std::string_view right = strings.view(m.right);
            char* p = out_.room(fixed + json_string_bound(left.size()) +
                                json_string_bound(right.size()));
            p = Output::copy(p, first ? first_open : std::string_view(open));
            first = false;
            p = write_json_string(p, left);
            p = Output::copy(p, between);
            p = write_json_string(p, right);
            out_.advance(Output::copy(p, close));
        });
        newline(level);
        out_.put(']');
    }

    const Tokenizer& doc_;
    std::span<const Sym> vocab_order_;
    Output& out_;
    Layout layout_ = Layout::declaration;
};

// Bytes of the whole text, give or take escapes.
size_t estimate(const Tokenizer& doc, std::span<const Sym> vocab_order) {
    const StringPool& strings = doc.strings;
    size_t n = 4096;  // the fixed members and their keys
    for (const std::optional<JsonValue>* section :
         {&doc.truncation, &doc.padding, &doc.normalizer, &doc.pre_tokenizer,
          &doc.post_processor, &doc.decoder}) {
        if (*section) n += estimate(**section, 1);
    }
    for (const JsonValue& entry : doc.added_tokens) n += 6 + estimate(entry, 2);
    for (Sym sym : vocab_order) n += strings.view(sym).size() + 22;
    doc.model.merges.for_each([&](uint32_t, const Merge& m) {
        n += strings.view(m.left).size() + strings.view(m.right).size() + 40;
    });
    // Room for the odd escaped character, so that growing stays the exception.
    return n + n / 64;
}

void write_document(const Tokenizer& doc, Layout layout, std::span<const Sym> vocab_order, Output& out) {
    Writer(doc, vocab_order, out).document(layout);
}

std::span<const Sym> order_for(const Tokenizer& doc, Layout layout, std::span<const Sym> vocab_order) {
    return layout == Layout::sorted ? vocab_order : std::span<const Sym>(doc.model.vocab.sorted(doc.strings));
}

}  // namespace

std::string write_tokenizer_json(const Tokenizer& doc, Layout layout, std::span<const Sym> vocab_order) {
    vocab_order = order_for(doc, layout, vocab_order);
    std::string text;
    Output out(text, estimate(doc, vocab_order));
    write_document(doc, layout, vocab_order, out);
    out.finish();
    return text;
}

bool write_tokenizer_json(const Tokenizer& doc, Layout layout, std::span<const Sym> vocab_order,
                          const std::function<bool(std::string_view)>& sink) {
    vocab_order = order_for(doc, layout, vocab_order);
    std::string buffer;
    Output out(buffer, sink);
    write_document(doc, layout, vocab_order, out);
    return out.finish();
}

}  // namespace lexmill
