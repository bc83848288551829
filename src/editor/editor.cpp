#include "editor/editor.h"

#include <simdjson.h>

#include <algorithm>

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
    for (Sym sym : editor.doc_.model.vocab.members()) {
        editor.longest_token_ = std::max<size_t>(editor.longest_token_, editor.doc_.strings.view(sym).size());
    }
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

std::vector<Sym> Editor::vocab_in_id_order() const {
    const Vocab& vocab = doc_.model.vocab;
    const std::vector<Sym>& members = vocab.members();
    auto by_text = [&](Sym a, Sym b) { return doc_.strings.view(a) < doc_.strings.view(b); };
    uint32_t max_id = 0;
    for (Sym sym : members) max_id = std::max(max_id, vocab.id(sym));
    if (max_id > 4 * members.size() + 1024) {
        std::vector<Sym> order = members;
        std::sort(order.begin(), order.end(), [&](Sym a, Sym b) {
            uint32_t ia = vocab.id(a), ib = vocab.id(b);
            return ia != ib ? ia < ib : by_text(a, b);
        });
        return order;
    }
    // IDs are nearly dense, as they usually are: a counting sort, then the
    // few runs of equal IDs put in bytewise order.
    std::vector<uint32_t> next(size_t{max_id} + 2, 0);
    for (Sym sym : members) ++next[size_t{vocab.id(sym)} + 1];
    for (size_t i = 1; i < next.size(); ++i) next[i] += next[i - 1];
    std::vector<Sym> order(members.size());
    for (Sym sym : members) order[next[vocab.id(sym)]++] = sym;
    for (size_t i = 0; i < order.size();) {
        size_t j = i + 1;
        while (j < order.size() && vocab.id(order[j]) == vocab.id(order[i])) ++j;
        if (j - i > 1) std::sort(order.begin() + static_cast<ptrdiff_t>(i), order.begin() + static_cast<ptrdiff_t>(j), by_text);
        i = j;
    }
    return order;
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
