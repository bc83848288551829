#include "python/result_conversion.h"

namespace lexmill::python {

PyRef to_python(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

PyRef to_python(std::string_view text) {
    return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

PyRef to_python(const std::string& text) { return to_python(std::string_view(text)); }

PyRef to_python(const VocabEntry& entry) { return tuple_of(to_python(entry.token), to_python(entry.id)); }

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

PyRef vocab_dict(const Editor& editor) {
    PyRef dict = checked(PyDict_New());
    // The entries come out of the editor in one tight pass first: its
    // lookups then overlap in memory, which they cannot between the
    // allocations of building the dict.
    for (const VocabEntry& entry : editor.get_vocab()) {
        PyRef token = to_python(entry.token);
        PyRef id = to_python(entry.id);
        check_status(PyDict_SetItem(dict.get(), token.get(), id.get()));
    }
    return dict;
}

PyRef merge_list(const Editor& editor) {
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

}  // namespace lexmill::python
