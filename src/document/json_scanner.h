#pragma once
// An exact JSON reader. It accepts what RFC 8259 accepts, reads numbers into
// the three number kinds of the document model, and on the first fault stops
// with a description followed by " at line {} column {}".
//
// Positions follow one convention throughout: a fault found in a byte that was
// only looked at ("peeked") counts that byte, a fault found after consuming
// input points just past what was consumed; columns count bytes from 1.

#include <cstdint>
#include <string>
#include <string_view>

#include "document/json_input.h"
#include "document/json_number.h"
#include "document/json_value.h"

namespace lexmill {

class JsonScanner {
public:
    explicit JsonScanner(std::string_view text) : text_(text) {}

    // Keys and strings are decoded into one scratch buffer, reused by the next read.
    static constexpr bool kStableText = false;

    JsonToken peek();

    // Each reader consumes one whole value of the wanted type. A value of
    // another type fails with "invalid type: {found}, expected {expected}".
    bool read_null();
    bool read_bool(bool& out);
    // The text stays valid until the next read.
    bool read_text(std::string_view& out, std::string_view expected);
    bool read_u32(uint32_t& out);
    bool read_f64(double& out);
    bool read_value(JsonValue& out);
    // Consumes a value, checked as fully as read_value checks one, and drops it.
    bool skip_value();

    bool begin_object();
    // The key stays valid until the next read.
    JsonStep next_key(std::string_view& key);
    bool begin_value();
    bool end_object();
    bool begin_array();
    JsonStep next_element();
    bool end_array();

    // Fails with an invalid-type error describing the next value.
    bool invalid_type(std::string_view expected);
    // Fails with a message of the schema's own; the position is where the
    // reader stands, after any whitespace when `skip_whitespace` is set.
    bool custom_error(std::string_view message, bool skip_whitespace);
    // Requires that nothing but whitespace follows.
    bool finish();

    const std::string& error() const { return error_; }

private:
    enum class Fault;

    int skip_whitespace();
    bool fail_at(Fault fault, size_t index);
    bool fail(Fault fault);       // at the current index
    bool fail_peek(Fault fault);  // counting the byte at the current index
    bool fail_message(std::string message, size_t index);

    bool parse_ident(std::string_view rest);
    bool scan_number_literal();
    bool scan_number(JsonNumber& out);
    bool scan_string(std::string* out);
    bool scan_escape(std::string* out);
    bool decode_hex(uint16_t& out);
    bool parse_any(JsonValue* out);
    bool enter();
    void leave() { ++remaining_depth_; }

    std::string_view text_;
    size_t index_ = 0;
    int remaining_depth_ = 128;
    // Per open container: whether its first member or element is still to come.
    std::basic_string<bool> first_;
    std::string scratch_;
    std::string error_;
};

}  // namespace lexmill
