#pragma once
// A result class: a class whose instance owns one record that a Lexmill
// method returned and shows its fields as read-only properties, each read
// converting the field anew. A class is one descriptor table (name,
// docstring, fields in declaration order; see result_classes.h), and the
// same field tables turn counter records into dicts.

#include <Python.h>

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

#include "python/call_guard.h"
#include "python/instance.h"
#include "python/py_ref.h"
#include "python/python_class.h"
#include "python/python_error.h"
#include "python/result_conversion.h"
#include "python/use_counter.h"

namespace lexmill::python {

template <typename Record>
struct Field {
    const char* name;
    PyRef (*read)(const Record&);
};

// Reads one member of a record as a new Python object; the reader of a field
// row, as in {"token", field<&AdditionResult::token>}.
template <auto Member, typename Record>
PyRef field(const Record& record) {
    return to_python(record.*Member);
}

template <typename Record, std::size_t N>
class ResultClass : public PythonClass {
public:
    constexpr ResultClass(const char* name, const char* doc, const Field<Record> (&fields)[N])
        : PythonClass(name, doc, static_cast<int>(sizeof(Instance<Record>)), &slots), fields_(std::to_array(fields)) {}

    // A new object of this class that owns `record`.
    PyRef create(Record record) const { return new_instance(type_in_call(), std::move(record)); }

    // A new list of such objects, one per record, in record order.
    PyRef create_list(std::vector<Record> records) const {
        return detail::list_of(records, [this](Record& record) { return create(std::move(record)); });
    }

private:
    // What a property's getter needs: the class to check `self` against, and the field.
    struct Closure {
        const ResultClass* owner;
        const Field<Record>* field;
    };

    static std::vector<PyType_Slot> slots(const PythonClass& base) {
        const auto& self = static_cast<const ResultClass&>(base);
        for (std::size_t i = 0; i < N; ++i) {
            self.closures_[i] = {&self, &self.fields_[i]};
            self.properties_[i] = {self.fields_[i].name, &read_field, nullptr, "", &self.closures_[i]};
        }
        return {
            // Results come only from Lexmill methods: calling the class raises TypeError.
            {.slot = Py_tp_new, .pfunc = reinterpret_cast<void*>(&refuse_construction)},
            // Destroys the record, frees the object through the type's free slot, then drops its reference to the class.
            {.slot = Py_tp_dealloc, .pfunc = reinterpret_cast<void*>(&deallocate_instance<Record>)},
            // One read-only property per field, in declaration order, each with an empty docstring.
            {.slot = Py_tp_getset, .pfunc = self.properties_.data()},
            {.slot = 0, .pfunc = nullptr},
        };
    }

    // A property read takes a shared use of the object, like every call.
    static PyObject* read_field(PyObject* self, void* closure) noexcept {
        return guard_call([&] {
            const Closure& read = *static_cast<const Closure*>(closure);
            Instance<Record>& instance = checked_instance<Record>(self, *read.owner);
            Use use(instance.uses, UseKind::shared);
            return read.field->read(instance_value<Record>(self)).release();
        });
    }

    std::array<Field<Record>, N> fields_;
    // Filled when the class object is created; the last entry ends the table.
    mutable std::array<Closure, N> closures_{};
    mutable std::array<PyGetSetDef, N + 1> properties_{};
};

// The descriptor table of one result class; N counts the fields.
template <typename Record, std::size_t N>
constexpr ResultClass<Record, N> result_class(const char* name, const char* doc, const Field<Record> (&fields)[N]) {
    return ResultClass<Record, N>(name, doc, fields);
}

// A counter record as a new dict, keys in the order of `counters`.
template <typename Record, std::size_t N>
PyRef counter_dict(const Record& record, const Field<Record> (&counters)[N]) {
    PyRef dict = checked(PyDict_New());
    for (const Field<Record>& counter : counters) {
        PyRef value = counter.read(record);
        check_status(PyDict_SetItemString(dict.get(), counter.name, value.get()));
    }
    return dict;
}

}  // namespace lexmill::python
