#pragma once
// A method's parameters, described at run time: name, kind, default and
// whether it is keyword-only. Binding, conversion and the text signature that
// introspection shows all read this one description.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "result.h"

namespace lexmill::python {

enum class ParamKind {
    text,                // str -> UTF-8 string
    count,               // int, or an object with __index__ -> unsigned 64-bit integer
    id,                  // the same intake -> unsigned 32-bit integer
    text_list,           // sequence of str -> list of strings
    optional_text_list,  // None (the default) or a text list
    flag,                // any object's truth value, False by default
};

struct Param {
    const char* name = nullptr;
    ParamKind kind = ParamKind::text;
    bool required = true;
    uint64_t default_value = 0;  // of an optional count or ID
    bool keyword_only = false;
};

constexpr Param text(const char* name) { return {name, ParamKind::text}; }
constexpr Param count(const char* name) { return {name, ParamKind::count}; }
constexpr Param count(const char* name, uint64_t default_value) {
    return {name, ParamKind::count, false, default_value};
}
constexpr Param id(const char* name) { return {name, ParamKind::id}; }
constexpr Param id(const char* name, uint32_t default_value) { return {name, ParamKind::id, false, default_value}; }
constexpr Param text_list(const char* name) { return {name, ParamKind::text_list}; }
constexpr Param optional_text_list(const char* name) { return {name, ParamKind::optional_text_list, false}; }
constexpr Param keyword_flag(const char* name) { return {name, ParamKind::flag, false, 0, true}; }

inline constexpr std::size_t kMaxParams = 3;

// The parameters of one method in order: required ones, then optional ones,
// then keyword-only ones, which is the order binding assumes. A table that
// breaks it does not compile.
class Params {
public:
    constexpr Params() = default;
    constexpr Params(std::initializer_list<Param> params) {
        if (params.size() > kMaxParams) internal_failure("more parameters than kMaxParams");
        for (const Param& param : params) {
            if (size_ > 0) {
                const Param& before = items_[size_ - 1];
                if (param.required && !before.required) internal_failure("a required parameter after an optional one");
                if (before.keyword_only && !param.keyword_only) internal_failure("a positional parameter after a keyword-only one");
            }
            items_[size_++] = param;
            if (param.required) ++required_;
            if (!param.keyword_only) ++positional_;
        }
    }

    constexpr std::span<const Param> all() const { return {items_.data(), size_}; }
    constexpr bool empty() const { return size_ == 0; }
    // How many come first and must be given; how many may be given by position.
    constexpr std::size_t required() const { return required_; }
    constexpr std::size_t positional() const { return positional_; }

private:
    std::array<Param, kMaxParams> items_{};
    std::size_t size_ = 0;
    std::size_t required_ = 0;
    std::size_t positional_ = 0;
};

// The parameter list as introspection shows it, "($self, count, min_id=0)";
// `with_self` for methods of an instance, whose first line names "$self".
std::string signature_of(const Params& params, bool with_self);

}  // namespace lexmill::python
