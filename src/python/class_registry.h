#pragma once
// The module's eight classes: heap types created on first use and cached for
// the life of the process (the module keeps no per-interpreter state).

#include <Python.h>

#include <cstddef>
#include <string_view>

#include "editor/editor.h"
#include "editor/records.h"
#include "python/instance.h"
#include "python/py_ref.h"

namespace lexmill::python {

enum class ClassId {
    lexmill,
    validation_result,
    addition_result,
    removal_result,
    shrink_result,
    merge_tokenizer_result,
    tokenizer_stats,
    reindex_result,
};

inline constexpr std::size_t kClassCount = 8;

// In the order the module adds them.
inline constexpr ClassId kModuleClasses[kClassCount] = {
    ClassId::lexmill,
    ClassId::validation_result,
    ClassId::addition_result,
    ClassId::removal_result,
    ClassId::shrink_result,
    ClassId::merge_tokenizer_result,
    ClassId::tokenizer_stats,
    ClassId::reindex_result,
};

// What a class file contributes; the registry adds the base, the docstring and
// the flags that all classes share.
struct ClassDefinition {
    // "builtins.<Name>". The interpreter keeps pointing at this text as the
    // type's name, so it must live as long as the process.
    const char* full_name;
    std::string_view doc;
    const char* text_signature;  // null for classes without one
    int basic_size;
    PyType_Slot* slots;  // ends with {0, nullptr}
};

// Provided by the files that define the classes.
const ClassDefinition& lexmill_class_definition();
const ClassDefinition& result_class_definition(ClassId id);

// The class object, created on first use. If creating it fails, its exception
// is pending and PythonErrorSet is thrown (module initialisation reports it).
PyTypeObject* class_object(ClassId id);

// The same for calls made after initialisation, where failing to create a
// class is a broken invariant: the pending exception is printed and an
// InternalFailure thrown instead.
PyTypeObject* class_object_in_call(ClassId id);

// The bare class name, "Lexmill" for builtins.Lexmill.
const char* class_name(ClassId id);

template <typename T>
struct ClassOf;
template <> struct ClassOf<Editor> { static constexpr ClassId id = ClassId::lexmill; };
template <> struct ClassOf<ValidationResult> { static constexpr ClassId id = ClassId::validation_result; };
template <> struct ClassOf<AdditionResult> { static constexpr ClassId id = ClassId::addition_result; };
template <> struct ClassOf<RemovalResult> { static constexpr ClassId id = ClassId::removal_result; };
template <> struct ClassOf<ShrinkResult> { static constexpr ClassId id = ClassId::shrink_result; };
template <> struct ClassOf<MergeTokenizerResult> { static constexpr ClassId id = ClassId::merge_tokenizer_result; };
template <> struct ClassOf<TokenizerStats> { static constexpr ClassId id = ClassId::tokenizer_stats; };
template <> struct ClassOf<ReindexResult> { static constexpr ClassId id = ClassId::reindex_result; };

// A new object of T's class owning `value`.
template <typename T>
PyRef new_object(T value) {
    return new_instance(class_object_in_call(ClassOf<T>::id), std::move(value));
}

// `object`'s value, after checking that it is an instance of T's class.
template <typename T>
Instance<T>& checked_instance(PyObject* object) {
    if (object == nullptr ||
        Py_TYPE(object) != class_object_in_call(ClassOf<T>::id)) {
        internal_failure("method called on an object of another class");
    }
    return instance_layout<T>(object);
}

// Py_tp_new of the classes that only lexmill itself creates.
PyObject* refuse_construction(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace lexmill::python
