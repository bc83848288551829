#pragma once
// The call layer: one mechanism behind every method, property and slot.
//
// A method is a constexpr MethodSpec (Python name, the name used in binding
// messages, parameters with their defaults, kind of use, docstring) plus a
// plain C++ function of core values, for instance
//     Result<void> save(const Editor& editor, Text path);
// The entry templates below deduce the parameter kinds from that function's
// signature and run every call the same way: bind the arguments, take the
// use of the object, convert the arguments in order, call, turn an error into
// its exception or the value into a new Python object, release the use.
//
// Functions of shared-use methods take the value as `const T&`, those of
// exclusive-use methods as `T&`; functions of methods without an object
// (constructors, static methods) take only their parameters. A pointer to a
// data member reads that field under shared use.

#include <Python.h>

#include <array>
#include <cstddef>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "python/argument_binding.h"
#include "python/argument_conversion.h"
#include "python/call_guard.h"
#include "python/class_registry.h"
#include "python/error_mapping.h"
#include "python/instance.h"
#include "python/result_conversion.h"
#include "python/use_counter.h"
#include "result.h"

namespace lexmill::python {

template <std::size_t N>
struct MethodSpec {
    const char* name;
    const char* qualified_name;  // "Lexmill.save()"
    UseKind use;
    std::array<Param, N> params;
    const char* doc;  // for methods: starts with the text-signature block
};

template <typename... Params>
constexpr MethodSpec<sizeof...(Params)> method_spec(const char* name, const char* qualified_name, UseKind use,
                                                    const char* doc, Params... params) {
    return {name, qualified_name, use, {params...}, doc};
}

// Reading one field of a result record.
inline constexpr MethodSpec<0> kFieldRead{"", "", UseKind::shared, {}, ""};

namespace detail {

template <typename F>
struct FunctionTraits;

template <typename R, typename... Args>
struct FunctionTraits<R (*)(Args...)> {
    using Return = R;
    using Arguments = std::tuple<Args...>;
};

template <typename Member, typename Record>
struct FunctionTraits<Member Record::*> {
    using Return = const Member&;
    using Arguments = std::tuple<const Record&>;
};

// The parameters after the object, if the function takes one.
template <bool HasObject, typename Arguments>
struct SplitArguments {
    using Object = void;
    using Params = Arguments;
};
template <typename First, typename... Rest>
struct SplitArguments<true, std::tuple<First, Rest...>> {
    using Object = First;
    using Params = std::tuple<Rest...>;
};

template <typename Tuple>
struct Decayed;
template <typename... T>
struct Decayed<std::tuple<T...>> {
    using type = std::tuple<std::decay_t<T>...>;
};

// Stands in for the result of a function returning void.
struct Nothing {};

inline PyRef to_python_value(Nothing) { return PyRef::borrow(Py_None); }

template <typename T>
PyRef to_python_value(T&& value) {
    return to_python(std::forward<T>(value));
}

template <typename T>
PyRef to_python_value(Result<T>&& result) {
    if (!result) raise_core_error(result.error());
    return to_python(std::move(result.value()));
}

inline PyRef to_python_value(Result<void>&& result) {
    if (!result) raise_core_error(result.error());
    return PyRef::borrow(Py_None);
}

template <const auto& Spec, auto Fn>
struct MethodCall {
    using Traits = FunctionTraits<decltype(Fn)>;
    static constexpr bool kHasObject = Spec.use != UseKind::none;
    static constexpr std::size_t kParamCount = Spec.params.size();

    using Split = SplitArguments<kHasObject, typename Traits::Arguments>;
    using ObjectParam = typename Split::Object;
    using Value = std::remove_cvref_t<ObjectParam>;
    using Converted = typename Decayed<typename Split::Params>::type;
    static_assert(std::tuple_size_v<Converted> == kParamCount, "one parameter description per parameter");

    template <std::size_t... I>
    static constexpr bool defaults_fit(std::index_sequence<I...>) {
        return (default_fits<std::tuple_element_t<I, Converted>>(Spec.params[I]) && ...);
    }
    static_assert(defaults_fit(std::make_index_sequence<kParamCount>{}),
                  "optional parameters need a kind with a default that fits");

    // In parameter order (braced initialisation is evaluated left to right), so
    // the first failing conversion ends the call before later ones run.
    template <std::size_t... I>
    static Converted convert_all(std::array<PyRef, kParamCount>& bound, std::index_sequence<I...>) {
        return Converted{convert_argument<std::tuple_element_t<I, Converted>>(bound[I].get(), Spec.params[I])...};
    }

    // A field read returns a reference into the record; it is converted before
    // the use of the object ends, so nothing is copied on the way.
    template <typename... Leading>
    static decltype(auto) call_function(Converted&& converted, Leading&... leading) {
        return std::apply(
            [&](auto&&... arguments) -> decltype(auto) {
                if constexpr (std::is_void_v<typename Traits::Return>) {
                    std::invoke(Fn, leading..., std::move(arguments)...);
                    return Nothing{};
                } else {
                    return std::invoke(Fn, leading..., std::move(arguments)...);
                }
            },
            std::move(converted));
    }

    // Runs the call and hands the function's outcome to `finish` while the use
    // of the object is still held: results may view the object's value.
    template <typename Finish>
    static PyRef run(PyObject* self, PyObject* args, PyObject* kwargs, Finish&& finish) {
        std::array<PyRef, kParamCount> bound;
        if constexpr (kParamCount > 0) bind_arguments(Spec.qualified_name, Spec.params, args, kwargs, bound);
        if constexpr (kHasObject) {
            static_assert(Spec.use == UseKind::exclusive || std::is_const_v<std::remove_reference_t<ObjectParam>>,
                          "methods under shared use take their object as const");
            Instance<Value>& instance = checked_instance<Value>(self);
            Use use(instance.uses, Spec.use);
            Value& value = instance_value<Value>(self);
            return finish(call_function(convert_all(bound, std::make_index_sequence<kParamCount>{}), value));
        } else {
            return finish(call_function(convert_all(bound, std::make_index_sequence<kParamCount>{})));
        }
    }

    static PyRef run(PyObject* self, PyObject* args, PyObject* kwargs) {
        return run(self, args, kwargs, [](auto&& outcome) { return to_python_value(std::move(outcome)); });
    }
};

}  // namespace detail

// METH_VARARGS | METH_KEYWORDS, with or without METH_STATIC.
template <const auto& Spec, auto Fn>
PyObject* method_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guard_call([&] { return detail::MethodCall<Spec, Fn>::run(self, args, kwargs).release(); });
}

// METH_NOARGS: the interpreter has already refused any argument.
template <const auto& Spec, auto Fn>
PyObject* no_argument_entry(PyObject* self, PyObject*) {
    return guard_call([&] { return detail::MethodCall<Spec, Fn>::run(self, nullptr, nullptr).release(); });
}

// Slots that take only the object (tp_repr, tp_str).
template <const auto& Spec, auto Fn>
PyObject* slot_entry(PyObject* self) {
    return guard_call([&] { return detail::MethodCall<Spec, Fn>::run(self, nullptr, nullptr).release(); });
}

template <const auto& Spec, auto Fn>
PyObject* getter_entry(PyObject* self, void*) {
    return guard_call([&] { return detail::MethodCall<Spec, Fn>::run(self, nullptr, nullptr).release(); });
}

// tp_new of a class constructible from Python: the function's value (or its
// Result's value) becomes the new instance of `type`.
template <const auto& Spec, auto Fn>
PyObject* constructor_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard_call([&] {
        return detail::MethodCall<Spec, Fn>::run(nullptr, args, kwargs, [type](auto&& outcome) {
            if (!outcome) raise_core_error(outcome.error());
            return new_instance(type, std::move(outcome.value()));
        }).release();
    });
}

template <const auto& Spec, auto Fn>
PyMethodDef method_def() {
    constexpr bool has_params = Spec.params.size() > 0;
    constexpr bool is_static = Spec.use == UseKind::none;
    static_assert(has_params || !is_static, "static methods take their arguments as varargs");
    if constexpr (has_params) {
        return {Spec.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method_entry<Spec, Fn>)),
                METH_VARARGS | METH_KEYWORDS | (is_static ? METH_STATIC : 0), Spec.doc};
    } else {
        return {Spec.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&no_argument_entry<Spec, Fn>)),
                METH_NOARGS, Spec.doc};
    }
}

template <const auto& Spec, auto Fn>
PyGetSetDef property_def() {
    static_assert(Spec.params.size() == 0 && Spec.use == UseKind::shared, "properties are shared reads");
    return {Spec.name, &getter_entry<Spec, Fn>, nullptr, Spec.doc, nullptr};
}

}  // namespace lexmill::python
