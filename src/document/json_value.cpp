#include "document/json_value.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <numeric>
#include <utility>

namespace lexmill {

namespace {

template <typename Object>
auto member_position(Object& object, std::string_view key) {
    return std::lower_bound(object.begin(), object.end(), key,
                            [](const JsonMember& m, std::string_view k) { return m.key < k; });
}

JsonValue::Storage copy_of(const JsonValue::Storage& value) {
    return std::visit(
        [](const auto& alternative) {
            return JsonValue::Storage(std::in_place_type<std::decay_t<decltype(alternative)>>, alternative);
        },
        value);
}

}  // namespace

JsonValue::JsonValue(const JsonValue& other) : data(copy_of(other.data)) {}
JsonValue::JsonValue(JsonValue&&) noexcept = default;
JsonValue& JsonValue::operator=(JsonValue&&) noexcept = default;
JsonValue::~JsonValue() = default;

JsonValue& JsonValue::operator=(const JsonValue& other) {
    data = copy_of(other.data);
    return *this;
}

const JsonValue* JsonValue::find(std::string_view key) const {
    const JsonObject* object = as_object();
    if (!object) return nullptr;
    auto it = member_position(*object, key);
    return it != object->end() && it->key == key ? &it->value : nullptr;
}

JsonValue* JsonValue::find(std::string_view key) {
    return const_cast<JsonValue*>(std::as_const(*this).find(key));
}

void set_member(JsonObject& object, std::string key, JsonValue value) {
    auto it = member_position(object, key);
    if (it != object.end() && it->key == key) {
        it->value = std::move(value);
    } else {
        object.insert(it, JsonMember{std::move(key), std::move(value)});
    }
}

void normalize_members(JsonObject& members) {
    auto in_order = [](const JsonMember& a, const JsonMember& b) { return a.key < b.key; };
    if (std::is_sorted(members.begin(), members.end(), in_order) &&
        std::adjacent_find(members.begin(), members.end(),
                           [](const JsonMember& a, const JsonMember& b) { return a.key == b.key; }) ==
            members.end()) {
        return;  // keys already unique and ordered
    }
    // Stable, so that equal keys stay in text order and the last of each run
    // wins. Most objects are small (an added token has seven members): those
    // are sorted by insertion in place, without the buffer std::stable_sort
    // takes.
    if (members.size() <= 16) {
        for (size_t i = 1; i < members.size(); ++i) {
            for (size_t j = i; j > 0 && in_order(members[j], members[j - 1]); --j) std::swap(members[j], members[j - 1]);
        }
    } else {
        std::stable_sort(members.begin(), members.end(), in_order);
    }
    size_t kept = 0;
    for (size_t i = 0; i < members.size(); ++i) {
        if (i + 1 < members.size() && members[i + 1].key == members[i].key) continue;
        if (kept != i) members[kept] = std::move(members[i]);
        ++kept;
    }
    members.erase(members.begin() + static_cast<ptrdiff_t>(kept), members.end());
}

bool operator==(const JsonMember& a, const JsonMember& b) {
    return a.key == b.key && a.value == b.value;
}

bool operator==(const JsonValue& a, const JsonValue& b) {
    if (a.data.index() != b.data.index()) return false;
    if (const double* x = std::get_if<double>(&a.data)) {
        return std::bit_cast<uint64_t>(*x) == std::bit_cast<uint64_t>(std::get<double>(b.data));
    }
    return a.data == b.data;
}

}  // namespace lexmill
