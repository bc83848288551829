// PyInit_lexmill: the module's only exported symbol.

#include <Python.h>

#include "python/call_guard.h"
#include "python/lexmill_class.h"
#include "python/py_ref.h"
#include "python/python_error.h"
#include "python/result_classes.h"

#ifndef LEXMILL_VERSION
#error "LEXMILL_VERSION is set by the build from the version in pyproject.toml"
#endif

namespace lexmill::python {

namespace {

// Single-phase initialisation: the stable ABI of 3.8, which the one build
// serves from, gives a method no way to reach the module it was called
// through (PyType_FromModuleAndSpec, PyType_GetModule and defining-class
// methods joined the stable ABI in 3.10), so the classes cannot live in
// per-module state. They are process-wide heap types, and a module whose
// classes are process-wide can honestly be created once per process only;
// multi-phase initialisation would promise sub-interpreters and re-imports a
// module of their own.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "lexmill",                    // m_name
    "Python module for Lexmill",  // m_doc
    0,                            // m_size: no per-module state
    nullptr,                      // m_methods: the module has no functions
    nullptr,                      // m_slots: single-phase initialisation
    nullptr,                      // m_traverse
    nullptr,                      // m_clear
    nullptr,                      // m_free
};

// Holds the module once it is initialised, for the life of the process: a
// second initialisation (a sub-interpreter, or an import after the module
// left sys.modules) is refused, not served.
PyObject* initialized_module = nullptr;

PyRef module_all_list(PyObject* module) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (all) return all;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python_error();
    PyErr_Clear();
    all = checked(PyList_New(0));
    check_status(PyObject_SetAttrString(module, "__all__", all.get()));
    return all;
}

// Every public name is listed in __all__, so a star import brings exactly these.
void add_public(PyObject* module, const char* name, PyObject* value) {
    PyRef all = module_all_list(module);
    PyRef name_object = checked(PyUnicode_FromString(name));
    if (PyList_Append(all.get(), name_object.get()) < 0) internal_failure("could not append __name__ to __all__");
    check_status(PyObject_SetAttrString(module, name, value));
}

void add_class(PyObject* module, const PythonClass& cls) {
    add_public(module, cls.name(), reinterpret_cast<PyObject*>(cls.type()));
}

PyObject* initialize_module() {
    if (initialized_module != nullptr) {
        PyErr_SetString(PyExc_ImportError, "lexmill may be initialized only once per interpreter process");
        throw_python_error();
    }
    PyRef module = checked(PyModule_Create(&module_definition));
    add_class(module.get(), lexmill_class);
    for (const PythonClass* result : result_classes) add_class(module.get(), *result);
    PyRef version = checked(PyUnicode_FromString(LEXMILL_VERSION));
    add_public(module.get(), "__version__", version.get());
    initialized_module = PyRef::borrow(module.get()).release();
    return module.release();
}

}  // namespace

}  // namespace lexmill::python

PyMODINIT_FUNC PyInit_lexmill(void) {
    return lexmill::python::guard_call([] { return lexmill::python::initialize_module(); });
}
