#pragma once
// A struct as JSON knows it: the name messages give it, and one row per field
// with the field's key, the member that holds it and whether the text must
// give it. The order of the rows is the declaration order; the order of the
// keys (the sorted layout) is derived from them.

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace lexmill {

template <typename Struct, typename Member>
struct Field {
    std::string_view key;
    Member Struct::*member;
    bool required = false;
};

template <typename Struct, typename Member>
constexpr Field<Struct, Member> field(std::string_view key, Member Struct::*member) {
    return {key, member, false};
}

template <typename Struct, typename Member>
constexpr Field<Struct, Member> required_field(std::string_view key, Member Struct::*member) {
    return {key, member, true};
}

template <typename Struct, typename... Members>
class StructSchema {
public:
    static constexpr size_t kSize = sizeof...(Members);

    constexpr StructSchema(std::string_view name, Field<Struct, Members>... fields)
        : name_(name), fields_(fields...), keys_{fields.key...}, required_{fields.required...} {
        // Insertion sort: constant evaluation, nine or ten keys.
        for (size_t i = 0; i < kSize; ++i) sorted_[i] = i;
        for (size_t i = 1; i < kSize; ++i) {
            for (size_t j = i; j > 0 && keys_[sorted_[j]] < keys_[sorted_[j - 1]]; --j) {
                std::swap(sorted_[j], sorted_[j - 1]);
            }
        }
    }

    constexpr std::string_view name() const { return name_; }
    constexpr size_t size() const { return kSize; }
    // Field `index` in declaration order.
    constexpr std::string_view key(size_t index) const { return keys_[index]; }
    constexpr bool required(size_t index) const { return required_[index]; }
    // The declaration-order indexes of the fields in ascending bytewise
    // order of their keys.
    constexpr const std::array<size_t, kSize>& sorted() const { return sorted_; }
    // The declaration-order indexes in declaration order.
    static constexpr std::array<size_t, kSize> declared() {
        std::array<size_t, kSize> order{};
        for (size_t i = 0; i < kSize; ++i) order[i] = i;
        return order;
    }

    // fn(member) for the member of field `index` in `object` (a Struct,
    // const or not); returns what fn returns, which is the same type for
    // every member.
    template <typename Object, typename Fn>
    decltype(auto) visit(Object& object, size_t index, Fn&& fn) const {
        return visit_at(object, index, fn, std::index_sequence_for<Members...>{});
    }

private:
    template <typename Object, typename Fn, size_t... I>
    decltype(auto) visit_at(Object& object, size_t index, Fn& fn, std::index_sequence<I...>) const {
        using Result = decltype(fn(object.*(std::get<0>(fields_).member)));
        if constexpr (std::is_void_v<Result>) {
            ((index == I ? (fn(object.*(std::get<I>(fields_).member)), true) : false) || ...);
        } else {
            Result result{};
            ((index == I ? (result = fn(object.*(std::get<I>(fields_).member)), true) : false) || ...);
            return result;
        }
    }

    std::string_view name_;
    std::tuple<Field<Struct, Members>...> fields_;
    std::array<std::string_view, kSize> keys_;
    std::array<bool, kSize> required_;
    std::array<size_t, kSize> sorted_{};
};

}  // namespace lexmill
