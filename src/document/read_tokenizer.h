#pragma once
// Reading a tokenizer document through any input that offers the pull
// interface of json_input.h, field by field as tokenizer_schema.h declares
// them. A struct is read either as an object (unknown members are checked
// and dropped, a known one given twice is an error, required ones must be
// present) or as an array of all its field values in declaration order.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/json_input.h"
#include "document/tokenizer.h"
#include "document/tokenizer_schema.h"

namespace lexmill {

namespace reading {

template <typename In, typename Schema, typename Object, typename ReadMember>
bool read_object(In& in, const Schema& schema, Object& object, ReadMember& read_member) {
    if (!in.begin_object()) return false;
    static_assert(Schema::kSize <= 32, "the fields seen are kept in a 32-bit mask");
    uint32_t seen = 0;
    std::string_view key;
    for (;;) {
        JsonStep step = in.next_key(key);
        if (step == JsonStep::error) return false;
        if (step == JsonStep::done) break;
        size_t field = 0;
        while (field < schema.size() && schema.key(field) != key) ++field;
        if (field < schema.size() && (seen >> field & 1)) {
            return in.custom_error("duplicate field `" + std::string(schema.key(field)) + "`", true);
        }
        if (!in.begin_value()) return false;
        if (field == schema.size()) {
            if (!in.skip_value()) return false;
            continue;
        }
        seen |= 1u << field;
        if (!schema.visit(object, field, read_member)) return false;
    }
    if (!in.end_object()) return false;
    for (size_t field = 0; field < schema.size(); ++field) {
        if (schema.required(field) && !(seen >> field & 1)) {
            return in.custom_error("missing field `" + std::string(schema.key(field)) + "`", false);
        }
    }
    return true;
}

template <typename In, typename Schema, typename Object, typename ReadMember>
bool read_field_array(In& in, const Schema& schema, Object& object, ReadMember& read_member) {
    if (!in.begin_array()) return false;
    for (size_t field = 0; field < schema.size(); ++field) {
        JsonStep step = in.next_element();
        if (step == JsonStep::error) return false;
        if (step == JsonStep::done) {
            if (!in.end_array()) return false;
            return in.custom_error("invalid length " + std::to_string(field) + ", expected struct " +
                                       std::string(schema.name()) + " with " + std::to_string(schema.size()) +
                                       " elements",
                                   false);
        }
        if (!schema.visit(object, field, read_member)) return false;
    }
    return in.end_array();
}

template <typename In, typename Schema, typename Object, typename ReadMember>
bool read_struct(In& in, const Schema& schema, Object& object, ReadMember& read_member) {
    switch (in.peek()) {
        case JsonToken::object: return read_object(in, schema, object, read_member);
        case JsonToken::array: return read_field_array(in, schema, object, read_member);
        default: return in.invalid_type("struct " + std::string(schema.name()));
    }
}

template <typename In>
bool read_text(In& in, std::string& out) {
    std::string_view text;
    if (!in.read_text(text, "a string")) return false;
    out.assign(text);
    return true;
}

template <typename In>
bool read_optional_text(In& in, std::optional<std::string>& out) {
    if (in.peek() == JsonToken::null) {
        out.reset();
        return in.read_null();
    }
    return read_text(in, out.emplace());
}

template <typename In>
bool read_optional_value(In& in, std::optional<JsonValue>& out) {
    if (in.peek() == JsonToken::null) {
        out.reset();
        return in.read_null();
    }
    return in.read_value(out.emplace());
}

template <typename In>
bool read_added_tokens(In& in, std::vector<JsonValue>& out) {
    if (in.peek() != JsonToken::array) return in.invalid_type("a sequence");
    if (!in.begin_array()) return false;
    for (;;) {
        JsonStep step = in.next_element();
        if (step == JsonStep::error) return false;
        if (step == JsonStep::done) break;
        if (!in.read_value(out.emplace_back())) return false;
    }
    return in.end_array();
}

// Texts gathered to be interned together (see StringPool::intern_many). An
// input whose texts stay valid until parsing ends is referred to in place;
// the texts of any other input may not outlive the next read and are copied.
template <bool kStableText>
class TextBatch {
public:
    static constexpr size_t kCapacity = 4096;

    void add(std::string_view text) {
        if constexpr (kStableText) {
            views_.push_back(text);
        } else {
            bytes_ += text;
            ends_.push_back(bytes_.size());
        }
    }
    bool full() const { return (kStableText ? views_.size() : ends_.size()) >= kCapacity; }

    // The handles of the gathered texts, in the order they were added; empties the batch.
    const std::vector<Sym>& intern(StringPool& strings) {
        if constexpr (!kStableText) {
            views_.clear();
            size_t start = 0;
            for (size_t end : ends_) {
                views_.emplace_back(bytes_.data() + start, end - start);
                start = end;
            }
        }
        syms_.resize(views_.size());
        strings.intern_many(views_, syms_.data());
        views_.clear();
        bytes_.clear();
        ends_.clear();
        return syms_;
    }

private:
    std::string bytes_;
    std::vector<size_t> ends_;
    std::vector<std::string_view> views_;
    std::vector<Sym> syms_;
};

template <typename In>
bool read_vocab(In& in, Tokenizer& doc) {
    if (in.peek() != JsonToken::object) return in.invalid_type("a map");
    if (!in.begin_object()) return false;
    TextBatch<In::kStableText> keys;
    std::vector<uint32_t> ids;
    auto flush = [&] {
        const std::vector<Sym>& tokens = keys.intern(doc.strings);
        // In text order: a later duplicate key replaces the ID of an earlier one.
        for (size_t i = 0; i < tokens.size(); ++i) doc.model.vocab.set(tokens[i], ids[i]);
        ids.clear();
    };
    std::string_view key;
    for (;;) {
        JsonStep step = in.next_key(key);
        if (step == JsonStep::error) return false;
        if (step == JsonStep::done) break;
        keys.add(key);
        uint32_t id;
        if (!in.begin_value() || !in.read_u32(id)) return false;
        ids.push_back(id);
        if (keys.full()) flush();
    }
    flush();
    return in.end_object();
}

template <typename In>
bool read_merges(In& in, Tokenizer& doc) {
    if (in.peek() != JsonToken::array) return in.invalid_type("a sequence");
    if (!in.begin_array()) return false;
    TextBatch<In::kStableText> parts;
    auto flush = [&] {
        const std::vector<Sym>& syms = parts.intern(doc.strings);
        for (size_t i = 0; i + 1 < syms.size(); i += 2) doc.model.merges.append(Merge{syms[i], syms[i + 1]});
    };
    for (;;) {
        JsonStep step = in.next_element();
        if (step == JsonStep::error) return false;
        if (step == JsonStep::done) break;
        if constexpr (requires(std::string_view text) { in.read_pair(text, text); }) {
            // The input reads the common form in one step and declines the rest.
            std::string_view left, right;
            if (!in.read_pair(left, right)) return false;
            parts.add(left);
            parts.add(right);
            if (parts.full()) flush();
            continue;
        }
        if (in.peek() != JsonToken::array) return in.invalid_type("a sequence");
        if (!in.begin_array()) return false;
        size_t count = 0;
        for (;;) {
            JsonStep part = in.next_element();
            if (part == JsonStep::error) return false;
            if (part == JsonStep::done) break;
            std::string_view text;
            if (!in.read_text(text, "a string")) return false;
            if (count < 2) parts.add(text);
            ++count;
        }
        if (!in.end_array()) return false;
        if (count != 2) return in.custom_error("Merge must have exactly 2 elements", false);
        if (parts.full()) flush();
    }
    flush();
    return in.end_array();
}

// Reads each member by its type; the document is at hand for the string
// pool that the vocabulary and the merges intern their texts in.
template <typename In>
struct MemberReader {
    In& in;
    Tokenizer& doc;

    bool operator()(std::string& out) { return read_text(in, out); }
    bool operator()(std::optional<std::string>& out) { return read_optional_text(in, out); }
    bool operator()(bool& out) { return in.read_bool(out); }
    bool operator()(std::optional<double>& out) {
        if (in.peek() == JsonToken::null) {
            out.reset();
            return in.read_null();
        }
        return in.read_f64(out.emplace());
    }
    bool operator()(std::optional<JsonValue>& out) { return read_optional_value(in, out); }
    bool operator()(std::vector<JsonValue>& out) { return read_added_tokens(in, out); }
    bool operator()(Vocab&) { return read_vocab(in, doc); }
    bool operator()(MergeList&) { return read_merges(in, doc); }
    bool operator()(Model& model) { return read_struct(in, kModelSchema, model, *this); }
};

}  // namespace reading

// Reads the whole text as one tokenizer document.
template <typename In>
bool read_tokenizer(In& in, Tokenizer& doc) {
    reading::MemberReader<In> read_member{in, doc};
    return reading::read_struct(in, kTokenizerSchema, doc, read_member) && in.finish();
}

}  // namespace lexmill
