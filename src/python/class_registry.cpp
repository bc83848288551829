#include "python/class_registry.h"

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "python/call_guard.h"
#include "python/python_error.h"

namespace lexmill::python {

namespace {

const ClassDefinition& class_definition(ClassId id) {
    return id == ClassId::lexmill ? lexmill_class_definition() : result_class_definition(id);
}

const char* short_name(const char* full_name) {
    const char* dot = std::strrchr(full_name, '.');
    return dot != nullptr ? dot + 1 : full_name;
}

// With a text signature the interpreter splits "Name(sig)\n--\n\n" off the
// docstring and shows it as the class's __text_signature__.
const std::string& class_doc(ClassId id) {
    // Kept for the life of the process: before 3.11 the interpreter may keep
    // pointing into the docstring it was given.
    static std::array<std::optional<std::string>, kClassCount> docs;
    std::optional<std::string>& doc = docs[static_cast<std::size_t>(id)];
    if (!doc) {
        const ClassDefinition& definition = class_definition(id);
        std::string text;
        if (definition.text_signature != nullptr) {
            text.append(short_name(definition.full_name));
            text.append(definition.text_signature);
            text.append("\n--\n\n");
        }
        text.append(definition.doc);
        if (text.find('\0') != std::string::npos) {
            PyErr_SetString(PyExc_ValueError, "class doc cannot contain nul bytes");
            throw_python_error();
        }
        doc = std::move(text);
    }
    return *doc;
}

}  // namespace

const char* class_name(ClassId id) { return short_name(class_definition(id).full_name); }

PyTypeObject* class_object(ClassId id) {
    static std::array<PyTypeObject*, kClassCount> created{};
    PyTypeObject*& type = created[static_cast<std::size_t>(id)];
    if (type != nullptr) return type;

    const ClassDefinition& definition = class_definition(id);
    std::vector<PyType_Slot> slots{
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_doc, const_cast<char*>(class_doc(id).c_str())},
    };
    for (const PyType_Slot* slot = definition.slots; slot->slot != 0; ++slot) slots.push_back(*slot);
    slots.push_back({0, nullptr});

    PyType_Spec spec{
        .name = definition.full_name,
        .basicsize = definition.basic_size,
        .itemsize = 0,
        // No Py_TPFLAGS_BASETYPE: the classes cannot be subclassed.
        .flags = Py_TPFLAGS_DEFAULT,
        .slots = slots.data(),
    };
    // The cache owns this reference for the rest of the process.
    type = reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&spec)).release());
    return type;
}

PyTypeObject* class_object_in_call(ClassId id) {
    try {
        return class_object(id);
    } catch (const PythonErrorSet&) {
        PyErr_PrintEx(0);
        throw InternalFailure("failed to create type object for " + std::string(class_name(id)));
    }
}

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
    return guard_call([type]() -> PyObject* {
        PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
        if (name && PyUnicode_Check(name.get())) {
            PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
        } else {
            if (!name) discard_ordinary_exception();
            PyErr_SetString(PyExc_TypeError, "No constructor defined for <unknown>");
        }
        throw_python_error();
    });
}

}  // namespace lexmill::python
