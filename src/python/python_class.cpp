#include "python/python_class.h"

#include <deque>

#include "python/call_guard.h"
#include "python/call_messages.h"
#include "python/py_ref.h"
#include "python/python_error.h"

namespace lexmill::python {

const char* lasting_text(std::string text) {
    // A deque never moves its elements, so each string's text stays put.
    static std::deque<std::string> kept;
    return kept.emplace_back(std::move(text)).c_str();
}

PyTypeObject* PythonClass::type() const {
    if (type_ != nullptr) return type_;
    if (full_name_ == nullptr) {
        // With a text signature the interpreter splits "Name(sig)\n--\n\n"
        // off the docstring and shows it as the class's __text_signature__.
        std::string doc;
        if (constructor_ != nullptr) doc = name_ + signature_of(*constructor_, false) + "\n--\n\n";
        full_doc_ = lasting_text(doc + doc_);
        full_name_ = lasting_text(std::string("builtins.") + name_);
    }
    std::vector<PyType_Slot> slots{
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_doc, const_cast<char*>(full_doc_)},
    };
    for (const PyType_Slot& slot : slots_(*this)) slots.push_back(slot);
    PyType_Spec spec{
        .name = full_name_,
        .basicsize = basic_size_,
        .itemsize = 0,
        // No Py_TPFLAGS_BASETYPE: the classes cannot be subclassed.
        .flags = Py_TPFLAGS_DEFAULT,
        .slots = slots.data(),
    };
    // Owned by this class object for the rest of the process.
    type_ = reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&spec)).release());
    return type_;
}

PyTypeObject* PythonClass::create_in_call() const {
    try {
        return type();
    } catch (const PythonErrorSet&) {
        PyErr_PrintEx(0);
        throw InternalFailure("failed to create type object for " + std::string(name_));
    }
}

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
    return guard_call([type]() -> PyObject* {
        PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
        if (name && PyUnicode_Check(name.get())) {
            PyErr_Format(PyExc_TypeError, messages::kNoConstructor, name.get());
        } else {
            if (!name) discard_ordinary_exception();
            PyErr_SetString(PyExc_TypeError, messages::kNoConstructorUnnamed);
        }
        throw_python_error();
    });
}

}  // namespace lexmill::python
