#pragma once
// The generic JSON tree that holds every section of a tokenizer document the
// editor does not interpret (normalizer, decoder, added-token entries, ...).

#include <concepts>
#include <cstdint>
#include <type_traits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lexmill {

struct JsonValue;
struct JsonMember;

using JsonArray = std::vector<JsonValue>;
// Members in ascending bytewise order of their keys; keys are unique.
using JsonObject = std::vector<JsonMember>;

struct JsonValue {
    // Numbers keep the kind they were read as: a non-negative integer literal
    // that fits is unsigned, a negative one that fits is signed, every other
    // number literal is a double.
    using Storage = std::variant<std::nullptr_t, bool, uint64_t, int64_t, double,
                                 std::string, JsonArray, JsonObject>;
    Storage data;

    JsonValue() = default;
    template <typename T>
        requires std::constructible_from<Storage, T&&> && (!std::same_as<std::remove_cvref_t<T>, JsonValue>)
    JsonValue(T&& value) : data(std::forward<T>(value)) {}
    // Copies build the new alternative before the variant takes it: the
    // standard library this is built with sets a variant's index before
    // copying into it, and destroys a never-built member when the copy runs
    // out of memory.
    JsonValue(const JsonValue& other);
    JsonValue(JsonValue&&) noexcept;
    JsonValue& operator=(const JsonValue& other);
    JsonValue& operator=(JsonValue&&) noexcept;
    ~JsonValue();

    bool is_null() const { return std::holds_alternative<std::nullptr_t>(data); }
    const std::string* as_string() const { return std::get_if<std::string>(&data); }
    const JsonArray* as_array() const { return std::get_if<JsonArray>(&data); }
    const JsonObject* as_object() const { return std::get_if<JsonObject>(&data); }
    JsonObject* as_object() { return std::get_if<JsonObject>(&data); }

    // Object member lookup; null when this is not an object or has no such key.
    const JsonValue* find(std::string_view key) const;
    JsonValue* find(std::string_view key);

};

struct JsonMember {
    std::string key;
    JsonValue value;
};

// Inserts or replaces a member, keeping the object's key order.
void set_member(JsonObject& object, std::string key, JsonValue value);

// Puts members collected in text order into key order; of several members
// with the same key the last one wins, as when the text is read front to back.
void normalize_members(JsonObject& members);

// Structural equality; doubles compare by bit pattern so that -0.0 and 0.0
// stay apart, as they do in the written text.
bool operator==(const JsonValue& a, const JsonValue& b);
bool operator==(const JsonMember& a, const JsonMember& b);

}  // namespace lexmill
