#include "python/parameters.h"

namespace lexmill::python {

namespace {

std::string default_text(const Param& param) {
    switch (param.kind) {
        case ParamKind::count:
        case ParamKind::id: return std::to_string(param.default_value);
        case ParamKind::optional_text_list: return "None";
        case ParamKind::flag: return "False";
        case ParamKind::text:
        case ParamKind::text_list: break;
    }
    internal_failure("optional parameter of a kind without a default");
}

}  // namespace

std::string signature_of(const Params& params, bool with_self) {
    std::string text = "(";
    bool first = true;
    auto separate = [&] {
        if (!first) text += ", ";
        first = false;
    };
    if (with_self) {
        separate();
        text += "$self";
    }
    bool keyword_only = false;
    for (const Param& param : params.all()) {
        separate();
        if (param.keyword_only && !keyword_only) {
            keyword_only = true;
            text += "*, ";
        }
        text += param.name;
        if (!param.required) {
            text += '=';
            text += default_text(param);
        }
    }
    return text + ")";
}

}  // namespace lexmill::python
