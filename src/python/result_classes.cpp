// The seven read-only result classes. Each exposes the fields of its record as
// properties (record_fields.h); every read converts the field anew.

#include <Python.h>

#include <array>
#include <tuple>

#include "editor/records.h"
#include "python/class_registry.h"
#include "python/instance.h"
#include "python/method_call.h"
#include "python/record_fields.h"

namespace lexmill::python {

namespace {

template <auto Member>
PyGetSetDef field_property(const Field<Member>& field) {
    return {field.name, &getter_entry<kFieldRead, Member>, nullptr, "", nullptr};
}

template <typename Record>
PyGetSetDef* field_properties() {
    static auto table = std::apply(
        [](const auto&... fields) {
            return std::array{field_property(fields)..., PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};
        },
        RecordFields<Record>::fields);
    return table.data();
}

template <typename Record>
PyType_Slot* result_slots() {
    static PyType_Slot slots[] = {
        // Results come only from Lexmill methods: calling the class raises TypeError.
        {.slot = Py_tp_new, .pfunc = reinterpret_cast<void*>(&refuse_construction)},
        // Destroys the record, frees the object and drops its reference to the class.
        {.slot = Py_tp_dealloc, .pfunc = reinterpret_cast<void*>(&deallocate_instance<Record>)},
        // One read-only property per field, in declaration order.
        {.slot = Py_tp_getset, .pfunc = field_properties<Record>()},
        {.slot = 0, .pfunc = nullptr},
    };
    return slots;
}

template <typename Record>
ClassDefinition result_class(const char* full_name, const char* doc) {
    return {
        .full_name = full_name,
        .doc = doc,
        .text_signature = nullptr,
        .basic_size = static_cast<int>(sizeof(Instance<Record>)),
        .slots = result_slots<Record>(),
    };
}

}  // namespace

const ClassDefinition& result_class_definition(ClassId id) {
    static const ClassDefinition validation =
        result_class<ValidationResult>("builtins.ValidationResult", "Result of validating merges");
    static const ClassDefinition addition =
        result_class<AdditionResult>("builtins.AdditionResult", "Result of token addition");
    static const ClassDefinition removal =
        result_class<RemovalResult>("builtins.RemovalResult", "Result of token removal");
    static const ClassDefinition shrink =
        result_class<ShrinkResult>("builtins.ShrinkResult", "Result of shrink operation");
    static const ClassDefinition merge = result_class<MergeTokenizerResult>(
        "builtins.MergeTokenizerResult", "Result of merging a source tokenizer into a target tokenizer");
    static const ClassDefinition stats =
        result_class<TokenizerStats>("builtins.TokenizerStats", "Tokenizer statistics");
    static const ClassDefinition reindex =
        result_class<ReindexResult>("builtins.ReindexResult", "Result of reindex operation");
    switch (id) {
        case ClassId::validation_result: return validation;
        case ClassId::addition_result: return addition;
        case ClassId::removal_result: return removal;
        case ClassId::shrink_result: return shrink;
        case ClassId::merge_tokenizer_result: return merge;
        case ClassId::tokenizer_stats: return stats;
        case ClassId::reindex_result: return reindex;
        case ClassId::lexmill: break;
    }
    internal_failure("not a result class");
}

PyRef to_python(ValidationResult record) { return new_object(std::move(record)); }
PyRef to_python(AdditionResult record) { return new_object(std::move(record)); }
PyRef to_python(RemovalResult record) { return new_object(std::move(record)); }
PyRef to_python(ShrinkResult record) { return new_object(std::move(record)); }
PyRef to_python(MergeTokenizerResult record) { return new_object(std::move(record)); }
PyRef to_python(TokenizerStats record) { return new_object(std::move(record)); }
PyRef to_python(ReindexResult record) { return new_object(std::move(record)); }

}  // namespace lexmill::python
