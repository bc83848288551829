#pragma once
// One class of the module: what PyType_FromSpec needs to create it, and the
// class object once created. Every class is a heap type created on first use
// and kept for the life of the process, like the module itself.

#include <Python.h>

#include <string>
#include <vector>

#include "python/parameters.h"

namespace lexmill::python {

class PythonClass {
public:
    // The slots of the class's own behaviour, ending with {0, nullptr}; the
    // class adds its base and its docstring.
    using SlotTable = std::vector<PyType_Slot> (*)(const PythonClass&);

    // `constructor` gives the class its text signature; null for classes
    // that Python code cannot call.
    constexpr PythonClass(const char* name, const char* doc, int basic_size, SlotTable slots,
                          const Params* constructor = nullptr)
        : name_(name), doc_(doc), basic_size_(basic_size), slots_(slots), constructor_(constructor) {}
    PythonClass(const PythonClass&) = delete;
    PythonClass& operator=(const PythonClass&) = delete;

    // The bare name, "Lexmill"; the type's full name is "builtins.Lexmill".
    const char* name() const { return name_; }

    // The class object, created on first use. If creating it fails, its
    // exception is pending and PythonErrorSet is thrown (module
    // initialisation reports it).
    PyTypeObject* type() const;
    // The same for calls made after initialisation, where failing to create
    // a class is a broken invariant: the pending exception is printed and an
    // InternalFailure thrown instead.
    PyTypeObject* type_in_call() const { return type_ != nullptr ? type_ : create_in_call(); }

private:
    PyTypeObject* create_in_call() const;

    const char* name_;
    const char* doc_;
    int basic_size_;
    SlotTable slots_;
    const Params* constructor_;
    // Made on the first attempt to create the class.
    mutable const char* full_name_ = nullptr;
    mutable const char* full_doc_ = nullptr;
    mutable PyTypeObject* type_ = nullptr;
};

// A copy of `text` that lives as long as the process: the interpreter keeps
// pointing at the names and docstrings it is given.
const char* lasting_text(std::string text);

// Py_tp_new of the classes whose objects only lexmill creates: raises
// TypeError "No constructor defined for {name}".
PyObject* refuse_construction(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace lexmill::python
