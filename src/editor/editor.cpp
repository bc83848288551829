#include "editor/editor.h"

#include <simdjson.h>

#include <algorithm>
#include <map>

#include "document/parse.h"
#include "document/write.h"
#include "editor/file_io.h"
#include "editor/token_text.h"

namespace lexmill {

namespace {

constexpr const char* kOnlyBpe = "Only BPE tokenizers are supported";

}  // namespace

Editor::Editor(Tokenizer doc) : doc_(std::move(doc)) {}

Editor Editor::from_tokenizer(Tokenizer doc) {
    Editor editor(std::move(doc));
    const Vocab& vocab = editor.doc_.model.vocab;
    editor.used_ids_.reserve(vocab.size() + editor.doc_.added_tokens.size());
    for (Sym sym : vocab.members()) editor.used_ids_.insert(vocab.id(sym));
    for (const JsonValue& entry : editor.doc_.added_tokens) {
        const JsonValue* id = entry.find("id");
        const uint64_t* value = id ? std::get_if<uint64_t>(&id->data) : nullptr;
        if (value && *value <= 0xFFFFFFFFu) editor.used_ids_.insert(static_cast<uint32_t>(*value));
    }
    if (editor.used_ids_.empty()) {
        editor.next_id_ = 1;
    } else {
        uint32_t max_id = 0;
        editor.used_ids_.for_each([&](uint32_t id) { max_id = std::max(max_id, id); });
        editor.next_id_ = max_id + 1;  // wraps to 0 after 4294967295
    }
    // The merge indexes are built by the first operation that needs them, so
    // opening a file for queries costs one parse and nothing more.
    return editor;
}

Result<Editor> Editor::from_json(std::string_view text) {
    Result<Tokenizer> doc = parse_tokenizer_json(text);
    if (!doc) return doc.error();
    if (doc->model.type != "BPE") return Error{ErrorKind::unsupported_model, kOnlyBpe};
    return from_tokenizer(std::move(*doc));
}

Result<Editor> Editor::load_tokenizer_file(const std::string& path) {
    std::optional<std::string> text = read_file(path);
    if (!text || simdjson::validate_utf8(text->data(), text->size()) == false) {
        return Error{ErrorKind::load, "Failed to read: " + path};
    }
    Result<Tokenizer> doc = parse_tokenizer_json(*text);
    if (!doc) return Error{ErrorKind::load, "Failed to parse tokenizer.json"};
    if (doc->model.type != "BPE") return Error{ErrorKind::load, kOnlyBpe};
    return from_tokenizer(std::move(*doc));
}

std::string Editor::to_json() const {
    return write_tokenizer_json(doc_, Layout::declaration);
}

std::vector<Sym> Editor::vocab_in_id_order() const {
    const Vocab& vocab = doc_.model.vocab;
    std::vector<Sym> order = vocab.members();
    std::sort(order.begin(), order.end(), [&](Sym a, Sym b) {
        uint32_t ia = vocab.id(a), ib = vocab.id(b);
        if (ia != ib) return ia < ib;
        return doc_.strings.view(a) < doc_.strings.view(b);
    });
    return order;
}

Result<void> Editor::save(const std::string& path) const {
    std::vector<Sym> order = vocab_in_id_order();
    std::string text = write_tokenizer_json(doc_, Layout::sorted, order);
    if (!replace_file(path, text)) return Error{ErrorKind::save, "Failed to write: " + path};
    return {};
}

bool Editor::has_token(std::string_view token) const {
    return doc_.model.vocab.contains(doc_.strings.find(token));
}

std::optional<uint32_t> Editor::get_token_id(std::string_view token) const {
    Sym sym = doc_.strings.find(token);
    if (!doc_.model.vocab.contains(sym)) return std::nullopt;
    return doc_.model.vocab.id(sym);
}

std::optional<std::string_view> Editor::get_token_by_id(uint32_t id) const {
    if (!id_lookup_) {
        std::vector<std::pair<uint32_t, Sym>> lookup;
        std::vector<Sym> order = vocab_in_id_order();
        lookup.reserve(order.size());
        for (Sym sym : order) lookup.emplace_back(doc_.model.vocab.id(sym), sym);
        id_lookup_ = std::move(lookup);
    }
    // Entries are in ID order with equal IDs bytewise, so the first match is the
    // bytewise-smallest token carrying the ID.
    auto it = std::lower_bound(id_lookup_->begin(), id_lookup_->end(), id,
                               [](const std::pair<uint32_t, Sym>& e, uint32_t v) { return e.first < v; });
    if (it == id_lookup_->end() || it->first != id) return std::nullopt;
    return doc_.strings.view(it->second);
}

std::vector<VocabEntry> Editor::get_vocab() const {
    const Vocab& vocab = doc_.model.vocab;
    const std::vector<Sym>& sorted = vocab.sorted(doc_.strings);
    std::vector<VocabEntry> entries;
    entries.reserve(sorted.size());
    for (Sym sym : sorted) entries.push_back({doc_.strings.view(sym), vocab.id(sym)});
    return entries;
}

std::vector<MergeView> Editor::get_merges() const {
    std::vector<MergeView> merges;
    merges.reserve(doc_.model.merges.size());
    doc_.model.merges.for_each([&](uint32_t, const Merge& m) {
        merges.push_back({doc_.strings.view(m.left), doc_.strings.view(m.right)});
    });
    return merges;
}

std::vector<VocabEntry> Editor::get_single_char_tokens() const {
    const Vocab& vocab = doc_.model.vocab;
    std::vector<VocabEntry> entries;
    for (Sym sym : vocab.sorted(doc_.strings)) {
        if (doc_.strings.char_count(sym) == 1) entries.push_back({doc_.strings.view(sym), vocab.id(sym)});
    }
    return entries;
}

GapReport Editor::check_vocab_gaps() const {
    const Vocab& vocab = doc_.model.vocab;
    GapReport report;
    if (vocab.empty()) return report;
    uint32_t min_id = 0xFFFFFFFFu, max_id = 0;
    for (Sym sym : vocab.members()) {
        min_id = std::min(min_id, vocab.id(sym));
        max_id = std::max(max_id, vocab.id(sym));
    }
    // The span is counted in 64 bits: IDs 0 and 4294967295 span 2^32 values.
    uint64_t span = uint64_t{max_id} - min_id + 1;
    uint64_t n = vocab.size();
    uint64_t inner = span >= n ? span - n : 0;
    report.total_gaps = min_id + inner;
    report.has_gaps = report.total_gaps != 0;
    report.min_id = min_id;
    report.max_id = max_id;
    return report;
}

TokenizerStats Editor::get_stats() const {
    const Vocab& vocab = doc_.model.vocab;
    TokenizerStats stats;
    stats.vocab_size = vocab.size();
    stats.merges_count = doc_.model.merges.size();
    std::map<uint64_t, uint64_t> lengths;
    uint32_t min_id = 0xFFFFFFFFu, max_id = 0;
    for (Sym sym : vocab.members()) {
        uint32_t chars = doc_.strings.char_count(sym);
        ++lengths[chars];
        if (chars == 1) ++stats.single_char_count;
        if (is_bracketed(doc_.strings.view(sym))) ++stats.special_token_count;
        min_id = std::min(min_id, vocab.id(sym));
        max_id = std::max(max_id, vocab.id(sym));
    }
    if (!vocab.empty()) {
        stats.min_token_id = min_id;
        stats.max_token_id = max_id;
    }
    stats.length_distribution.assign(lengths.begin(), lengths.end());
    return stats;
}

}  // namespace lexmill
