#pragma once
// Converting bound Python arguments to plain C++ values, by parameter kind.

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "python/parameters.h"
#include "python/py_ref.h"
#include "result.h"

namespace lexmill::python {

// The converted arguments of one call, read by parameter name. Reading one as
// another kind than its parameter's is a broken invariant (InternalFailure).
class Arguments {
public:
    // The arguments of a method without parameters.
    Arguments() = default;
    // Converts `bound` (null where an optional parameter was left unfilled)
    // in parameter order, so the first failing conversion ends the call before
    // later arguments are looked at. Throws PythonErrorSet with the
    // conversion's exception pending; a TypeError names the parameter.
    Arguments(std::span<const Param> params, std::span<const PyRef> bound);
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    const std::string& text(std::string_view name) const { return slot(name, ParamKind::text).text; }
    uint64_t count(std::string_view name) const { return slot(name, ParamKind::count).count; }
    uint32_t id(std::string_view name) const { return slot(name, ParamKind::id).id; }
    bool flag(std::string_view name) const { return slot(name, ParamKind::flag).flag; }
    const std::vector<std::string>& text_list(std::string_view name) const {
        return slot(name, ParamKind::text_list).text_list;
    }
    // Absent when the argument was omitted or None.
    const std::optional<std::vector<std::string>>& optional_text_list(std::string_view name) const {
        return slot(name, ParamKind::optional_text_list).optional_text_list;
    }

private:
    // The value of one parameter, of the member its kind names. The kind is
    // the parameter's, so the slot needs no tag of its own, and a call
    // constructs only the values of the parameters it has.
    union Slot {
        constexpr Slot() {}
        ~Slot() {}
        std::string text;
        uint64_t count;
        uint32_t id;
        bool flag;
        std::vector<std::string> text_list;
        std::optional<std::vector<std::string>> optional_text_list;
    };

    // The values converted so far, destroyed with it: also when a later
    // conversion fails and the constructor of Arguments throws.
    struct Values {
        Values() = default;
        Values(const Values&) = delete;
        Values& operator=(const Values&) = delete;
        ~Values() {
            for (std::size_t i = 0; i < converted; ++i) {
                switch (params[i].kind) {
                    case ParamKind::text: std::destroy_at(&slots[i].text); break;
                    case ParamKind::text_list: std::destroy_at(&slots[i].text_list); break;
                    case ParamKind::optional_text_list: std::destroy_at(&slots[i].optional_text_list); break;
                    case ParamKind::count:
                    case ParamKind::id:
                    case ParamKind::flag: break;
                }
            }
        }

        std::span<const Param> params;
        // Slots 0 to converted - 1 hold the values of those parameters.
        std::size_t converted = 0;
        std::array<Slot, kMaxParams> slots;
    };

    void convert(const Param& param, PyObject* value);
    const Slot& slot(std::string_view name, ParamKind kind) const {
        for (std::size_t i = 0; i < values_.converted; ++i) {
            const Param& param = values_.params[i];
            // The name a method's function reads is usually the very literal
            // of its table row, which makes the comparison of pointers enough.
            if (param.name != name.data() && param.name != name) continue;
            if (param.kind != kind) internal_failure("argument read as another kind than its parameter's");
            return values_.slots[i];
        }
        internal_failure("argument read under a name that is no parameter");
    }

    Values values_;
};

}  // namespace lexmill::python
