#pragma once
// The memory layout shared by every class of the module: the object header,
// a use counter and one C++ value (an Editor or a result record) constructed
// in place, owned by the object and destroyed with it.

#include <Python.h>

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "python/call_guard.h"
#include "python/py_ref.h"
#include "python/python_class.h"
#include "python/python_error.h"
#include "python/use_counter.h"
#include "result.h"

namespace lexmill::python {

template <typename T>
struct Instance {
    PyObject header;
    UseCounter uses;
    alignas(T) unsigned char storage[sizeof(T)];
};

// The interpreter's allocator gives no stronger alignment than this.
template <typename T>
inline constexpr bool fits_object_alignment = alignof(Instance<T>) <= alignof(std::max_align_t);

template <typename T>
Instance<T>& instance_layout(PyObject* object) {
    return *reinterpret_cast<Instance<T>*>(object);
}

template <typename T>
T& instance_value(PyObject* object) {
    return *std::launder(reinterpret_cast<T*>(instance_layout<T>(object).storage));
}

// `object`'s layout, after checking that it is an instance of `cls`.
template <typename T>
Instance<T>& checked_instance(PyObject* object, const PythonClass& cls) {
    if (object == nullptr || Py_TYPE(object) != cls.type_in_call()) {
        internal_failure("method called on an object of another class");
    }
    return instance_layout<T>(object);
}

// Returns memory to the type's allocator and drops the instance's reference to
// its type (heap types' instances each hold one).
inline void free_instance_memory(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    auto free_memory = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    if (free_memory == nullptr) internal_failure("type without a free slot");
    free_memory(object);
    Py_DECREF(type);
}

// Py_tp_dealloc of every class: destroys the value, then frees the memory.
template <typename T>
void deallocate_instance(PyObject* object) noexcept {
    guard_unraisable([object] {
        std::destroy_at(&instance_value<T>(object));
        free_instance_memory(object);
    });
}

// A new instance of `type` that owns `value`, with its use counter at 0.
template <typename T>
PyRef new_instance(PyTypeObject* type, T value) {
    static_assert(fits_object_alignment<T>);
    auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    if (allocate == nullptr) internal_failure("type without an allocation slot");
    PyObject* object = allocate(type, 0);
    if (object == nullptr) throw_python_error();
    // Until the value exists, deallocation would destroy a value that is not
    // there: a failed construction frees the bare memory instead.
    try {
        new (instance_layout<T>(object).storage) T(std::move(value));
    } catch (...) {
        free_instance_memory(object);
        throw;
    }
    instance_layout<T>(object).uses = UseCounter{};
    return PyRef::steal(object);
}

}  // namespace lexmill::python
