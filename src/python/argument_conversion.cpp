#include "python/argument_conversion.h"

#include <algorithm>
#include <new>

#include "python/call_messages.h"
#include "python/python_error.h"

namespace lexmill::python {

namespace {

// Raises TypeError "'{type}' object cannot be converted to '{target}'".
[[noreturn]] void raise_cannot_convert(PyObject* value, const char* target) {
    PyRef type_name = PyRef::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__"));
    if (type_name && PyUnicode_Check(type_name.get())) {
        PyErr_Format(PyExc_TypeError, messages::kCannotConvert, type_name.get(), target);
    } else {
        if (!type_name) discard_ordinary_exception();
        PyErr_Format(PyExc_TypeError, messages::kCannotConvertUnnamed, target);
    }
    throw_python_error();
}

// An int, or the int that `value.__index__()` gives; the interpreter's
// TypeError when there is none.
PyRef as_int(PyObject* value) {
    if (PyLong_Check(value)) return PyRef::borrow(value);
    return checked(PyNumber_Index(value));
}

// The length of a sequence only sizes the first allocation; a huge or lying
// __len__ must not make the conversion fail or reserve memory it never uses.
constexpr Py_ssize_t kMaxCapacityHint = 1 << 16;

std::string text_from_python(PyObject* value) {
    if (!PyUnicode_Check(value)) raise_cannot_convert(value, messages::kTextTarget);
    PyRef encoded = checked(PyUnicode_AsUTF8String(value));
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    check_status(PyBytes_AsStringAndSize(encoded.get(), &bytes, &size));
    return std::string(bytes, static_cast<std::size_t>(size));
}

uint64_t count_from_python(PyObject* value) {
    PyRef number = as_int(value);
    const unsigned long long count = PyLong_AsUnsignedLongLong(number.get());
    if (count == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) throw_python_error();
    return count;
}

uint32_t id_from_python(PyObject* value) {
    PyRef number = as_int(value);
    const long long id = PyLong_AsLongLong(number.get());
    if (id == -1 && PyErr_Occurred() != nullptr) throw_python_error();
    if (id < 0 || id > static_cast<long long>(UINT32_MAX)) {
        PyErr_SetString(PyExc_OverflowError, messages::kIdOutOfRange);
        throw_python_error();
    }
    return static_cast<uint32_t>(id);
}

bool flag_from_python(PyObject* value) {
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) throw_python_error();
    return truth == 1;
}

std::vector<std::string> text_list_from_python(PyObject* value) {
    if (PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, messages::kStrIsNoTextList);
        throw_python_error();
    }
    if (!PySequence_Check(value)) raise_cannot_convert(value, messages::kSequenceTarget);

    std::vector<std::string> texts;
    const Py_ssize_t hint = PySequence_Size(value);
    if (hint < 0) {
        discard_ordinary_exception();
    } else {
        texts.reserve(static_cast<std::size_t>(std::min(hint, kMaxCapacityHint)));
    }
    PyRef iterator = checked(PyObject_GetIter(value));
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) texts.push_back(text_from_python(item.get()));
    if (PyErr_Occurred() != nullptr) throw_python_error();
    return texts;
}

// Replaces a pending TypeError (exactly that class: subclasses carry meaning
// of their own and pass unchanged) with TypeError "argument '{name}':
// {message}", which takes over the old one's cause.
void name_argument_in_type_error(const char* name) {
    if (PyErr_Occurred() == nullptr) return;
    PendingException pending = PendingException::take();
    const PyRef& original = pending.value;
    if (!original || Py_TYPE(original.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        pending.restore();
        return;
    }

    PyRef message = PyRef::steal(PyObject_Str(original.get()));
    PyRef text = message ? PyRef::steal(PyUnicode_FromFormat(messages::kNamedArgument, name, message.get())) : PyRef();
    PyRef replacement = text ? PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr)) : PyRef();
    if (!replacement) {
        // Could not build the new message: the original is still the best
        // report, unless building it met something the caller must see.
        discard_ordinary_exception();
        pending.restore();
        return;
    }
    if (PyObject* cause = PyException_GetCause(original.get())) PyException_SetCause(replacement.get(), cause);
    PyErr_SetObject(PyExc_TypeError, replacement.get());
}

}  // namespace

Arguments::Arguments(std::span<const Param> params, std::span<const PyRef> bound) {
    values_.params = params;
    std::size_t i = 0;
    try {
        for (; i < params.size(); ++i) convert(params[i], bound[i].get());
    } catch (const PythonErrorSet&) {
        name_argument_in_type_error(params[i].name);
        throw;
    }
}

// The next slot takes the converted `value`; null stands for an unfilled
// optional parameter, which takes its default.
void Arguments::convert(const Param& param, PyObject* value) {
    if (value == nullptr && param.required) internal_failure("required argument left unbound");
    Slot& slot = values_.slots[values_.converted];
    switch (param.kind) {
        case ParamKind::text: new (&slot.text) std::string(text_from_python(value)); break;
        case ParamKind::count: slot.count = value != nullptr ? count_from_python(value) : param.default_value; break;
        case ParamKind::id:
            slot.id = value != nullptr ? id_from_python(value) : static_cast<uint32_t>(param.default_value);
            break;
        case ParamKind::flag: slot.flag = value != nullptr && flag_from_python(value); break;
        case ParamKind::text_list: new (&slot.text_list) std::vector<std::string>(text_list_from_python(value)); break;
        case ParamKind::optional_text_list:
            new (&slot.optional_text_list) std::optional<std::vector<std::string>>(
                value != nullptr && value != Py_None ? std::optional(text_list_from_python(value)) : std::nullopt);
            break;
    }
    ++values_.converted;
}

}  // namespace lexmill::python
