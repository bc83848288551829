#pragma once
// The fast way through a document: simdjson's on-demand parser behind the pull
// interface of json_input.h. It only has to be right when it succeeds; on
// anything unusual — a fault, an unexpected type, a number it cannot place in
// the right kind — it gives up, and the exact scanner reads the text instead
// and reports what is wrong.

#include <simdjson.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "document/json_input.h"
#include "document/json_value.h"

namespace lexmill {

class SimdInput {
public:
    explicit SimdInput(simdjson::ondemand::document& doc) : doc_(doc) {}

    // Keys and strings live in the parser's buffer until parsing ends.
    static constexpr bool kStableText = true;

    JsonToken peek();
    bool read_null();
    bool read_bool(bool& out);
    bool read_text(std::string_view& out, std::string_view expected);
    bool read_u32(uint32_t& out);
    bool read_f64(double& out);
    bool read_value(JsonValue& out);
    // Reads the value as read_value does, so that a dropped value is held to
    // the same rules as a kept one, and discards it.
    bool skip_value();
    // A merge: an array of exactly two strings. False for anything else.
    bool read_pair(std::string_view& left, std::string_view& right);

    bool begin_object();
    JsonStep next_key(std::string_view& key);
    bool begin_value() { return true; }
    bool end_object();
    bool begin_array();
    JsonStep next_element();
    bool end_array();

    bool invalid_type(std::string_view) { return false; }
    bool custom_error(std::string_view, bool) { return false; }
    bool finish();

private:
    struct Frame {
        simdjson::ondemand::object object;
        simdjson::ondemand::object_iterator field;
        simdjson::ondemand::array array;
        simdjson::ondemand::array_iterator element;
        bool started = false;
        bool exhausted = false;
    };

    bool value_from(simdjson::ondemand::value value, JsonValue& out, size_t depth);

    simdjson::ondemand::document& doc_;
    bool at_root_ = true;
    simdjson::ondemand::value current_;
    std::vector<Frame> stack_;
};

}  // namespace lexmill
