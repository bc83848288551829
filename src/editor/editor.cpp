#include "editor/editor.h"

#include <simdjson.h>

#include "document/parse.h"
#include "document/write.h"
#include "editor/file_io.h"

namespace lexmill {

namespace {

constexpr const char* kOnlyBpe = "Only BPE tokenizers are supported";

}  // namespace

Editor::Editor(Tokenizer doc) : doc_(std::move(doc)) {}

Editor Editor::from_tokenizer(Tokenizer doc) {
    Editor editor(std::move(doc));
    editor.rebuild_used_ids();
    editor.collect_registered();
    editor.measure_longest_token();
    // The merge indexes are built by the first operation that needs them, so
    // opening a file for queries costs one parse and nothing more.
    return editor;
}

Result<Editor> Editor::from_json(std::string_view text) {
    Result<Tokenizer> doc = parse_tokenizer_json(std::string(text));
    if (!doc) return doc.error();
    if (doc->model.type != "BPE") return Error{ErrorKind::unsupported_model, kOnlyBpe};
    return from_tokenizer(std::move(*doc));
}

Result<Editor> Editor::load_tokenizer_file(const std::string& path, const IoHooks& hooks) {
    Result<FileText> file = FileText::read(path, hooks);
    if (!file) return file.error();
    Result<Tokenizer> doc = parse_tokenizer_json(file->text(), file->readable());
    if (!doc) {
        // Reading accepts only valid UTF-8, so the encoding needs checking
        // only to tell which failure it was.
        if (!simdjson::validate_utf8(file->text().data(), file->text().size())) {
            return read_error(path);
        }
        return Error{ErrorKind::load, "Failed to parse tokenizer.json"};
    }
    if (doc->model.type != "BPE") return Error{ErrorKind::load, kOnlyBpe};
    return from_tokenizer(std::move(*doc));
}

std::string Editor::to_json() const {
    return write_tokenizer_json(doc_, Layout::declaration);
}

Result<void> Editor::save(const std::string& path, const IoHooks& hooks) const {
    std::vector<Sym> order = vocab_in_id_order();
    // Streamed to the file: the text of a large tokenizer is never held whole.
    OutputFile file(hooks);
    bool ok = file.open(path) &&
              write_tokenizer_json(doc_, Layout::sorted, order, [&](std::string_view piece) { return file.write(piece); }) &&
              file.commit();
    if (!ok) return file.error();
    return {};
}

}  // namespace lexmill
