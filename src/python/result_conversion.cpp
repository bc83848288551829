#include "python/result_conversion.h"

#include "python/record_fields.h"

namespace lexmill::python {

namespace {

template <typename Record, auto Member>
void set_field(PyObject* dict, const Record& record, const Field<Member>& field) {
    PyRef value = to_python(record.*Member);
    check_status(PyDict_SetItemString(dict, field.name, value.get()));
}

template <typename Record>
PyRef dict_of_fields(const Record& record) {
    PyRef dict = checked(PyDict_New());
    std::apply(
        [&](const auto&... fields) {
            (set_field(dict.get(), record, fields), ...);
        },
        RecordFields<Record>::fields);
    return dict;
}

}  // namespace

PyRef to_python(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

PyRef to_python(std::string_view text) {
    return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

PyRef to_python(const std::string& text) { return to_python(std::string_view(text)); }

PyRef to_python(const VocabEntry& entry) { return tuple_of(to_python(entry.token), to_python(entry.id)); }

PyRef to_python(const MergeView& merge) { return tuple_of(to_python(merge.left), to_python(merge.right)); }

PyRef to_python(const InvalidMerge& merge) {
    return tuple_of(to_python(merge.position), to_python(merge.left), to_python(merge.right));
}

PyRef to_python(const ShrinkCandidate& candidate) {
    return tuple_of(to_python(candidate.token), to_python(candidate.id), to_python(candidate.char_length));
}

PyRef to_python(const GapReport& report) {
    return tuple_of(to_python(report.has_gaps), to_python(report.total_gaps), to_python(report.min_id),
                    to_python(report.max_id));
}

PyRef to_python(const VocabDict& vocab) {
    PyRef dict = checked(PyDict_New());
    for (const VocabEntry& entry : vocab.entries) {
        PyRef token = to_python(entry.token);
        PyRef id = to_python(entry.id);
        check_status(PyDict_SetItem(dict.get(), token.get(), id.get()));
    }
    return dict;
}

PyRef to_python(const MergePairs& merges) {
    const Editor& editor = *merges.editor;
    // Merge parts repeat: Gemma-3 has a million of them over a quarter of a
    // million distinct strings. Each string is decoded once and shared.
    std::vector<PyRef> decoded(editor.string_handle_bound());
    auto text = [&](StringRef string) {
        PyRef& object = decoded[string.handle()];
        if (!object) object = to_python(string.text());
        return PyRef::borrow(object.get());
    };
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(editor.merges_count())));
    Py_ssize_t index = 0;
    editor.for_each_merge([&](StringRef left, StringRef right) {
        // PyList_SetItem takes over the tuple's reference.
        PyList_SetItem(list.get(), index++, tuple_of(text(left), text(right)).release());
    });
    return list;
}

PyRef to_python(const KeepSizeReport& report) { return dict_of_fields(report); }

PyRef to_python(const SyncReport& report) { return dict_of_fields(report); }

}  // namespace lexmill::python
