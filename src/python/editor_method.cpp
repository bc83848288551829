#include "python/editor_method.h"

#include <string>

#include "python/argument_binding.h"
#include "python/call_guard.h"
#include "python/instance.h"
#include "python/lexmill_class.h"
#include "python/python_class.h"

namespace lexmill::python {

namespace {

const Arguments kNoArguments;

// Takes the use of the editor (none for static methods), then makes the
// arguments with `convert` and runs the row's function.
template <typename Convert>
PyRef run(const Method& method, PyObject* self, Convert&& convert) {
    if (method.use == UseKind::none) return method.unbound(convert());
    Instance<Editor>& instance = checked_instance<Editor>(self, lexmill_class);
    Use use(instance.uses, method.use);
    Editor& editor = instance_value<Editor>(self);
    const Arguments& arguments = convert();
    return method.use == UseKind::shared ? method.shared(editor, arguments) : method.exclusive(editor, arguments);
}

}  // namespace

PyObject* call_method(const Method& method, PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard_call([&] {
        const std::span<const Param> params = method.params.all();
        if (params.empty()) return run(method, self, []() -> const Arguments& { return kNoArguments; }).release();
        std::array<PyRef, kMaxParams> bound;
        bind_arguments({lexmill_class.name(), method.name}, method.params, args, kwargs, bound);
        return run(method, self, [&] { return Arguments(params, bound); }).release();
    });
}

PyObject* read_property(PyObject* self, void* closure) noexcept {
    return call_method(*static_cast<const Method*>(closure), self, nullptr, nullptr);
}

PyMethodDef method_def(const Method& method, PyCFunctionWithKeywords with_arguments, PyCFunction without) {
    const bool is_static = method.use == UseKind::none;
    const std::string signature = method.name + signature_of(method.params, !is_static);
    const char* doc = lasting_text(signature + "\n--\n\n" + method.doc);
    if (method.params.empty() && !is_static) return {method.name, without, METH_NOARGS, doc};
    return {method.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(with_arguments)),
            METH_VARARGS | METH_KEYWORDS | (is_static ? METH_STATIC : 0), doc};
}

std::vector<PyGetSetDef> property_defs(std::span<const Method> properties) {
    std::vector<PyGetSetDef> defs;
    for (const Method& property : properties) {
        defs.push_back({property.name, &read_property, nullptr, property.doc, const_cast<Method*>(&property)});
    }
    defs.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
    return defs;
}

}  // namespace lexmill::python
