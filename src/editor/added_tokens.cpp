// Added tokens as a reader such as the tokenizers library sees them, and
// pinning them into the vocabulary so that such a reader keeps their IDs.

#include "editor/added_tokens.h"

#include <unordered_map>

#include "editor/editor.h"

namespace lexmill {

const std::string* added_token_content(const JsonValue& entry) {
    const JsonValue* content = entry.find("content");
    return content ? content->as_string() : nullptr;
}

std::optional<uint32_t> added_token_id(const JsonValue& entry) {
    const JsonValue* id = entry.find("id");
    const uint64_t* value = id ? std::get_if<uint64_t>(&id->data) : nullptr;
    if (!value || *value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

uint64_t Editor::added_tokens_read_differently() const {
    // The reader's rule: a content that is a vocabulary token takes that
    // token's ID; any other content is numbered from the number of
    // vocabulary entries upward, one above the largest it has numbered so
    // far unless that lies below the vocabulary's size; a content seen
    // before keeps its first ID; an empty content is ignored.
    const Vocab& vocab = doc_.model.vocab;
    const uint64_t size = vocab.size();
    std::unordered_map<std::string_view, uint64_t> assigned;
    std::optional<uint64_t> largest;
    uint64_t differ = 0;
    for (const JsonValue& entry : doc_.added_tokens) {
        const std::string* content = added_token_content(entry);
        std::optional<uint32_t> written = added_token_id(entry);
        if (!content || !written || content->empty()) continue;
        uint64_t id;
        if (auto known = assigned.find(*content); known != assigned.end()) {
            id = known->second;
        } else if (Sym sym = doc_.strings.find(*content); vocab.contains(sym)) {
            id = vocab.id(sym);
        } else {
            id = !largest ? size : (*largest >= size || size == 0 ? *largest + 1 : size);
            largest = largest ? std::max(*largest, id) : id;
        }
        assigned.emplace(*content, id);
        differ += id != *written;
    }
    return differ;
}

uint64_t Editor::pin_added_tokens() {
    Vocab& vocab = doc_.model.vocab;
    // IDs that vocabulary tokens hold: an entry whose "id" one of them has
    // already cannot be pinned without two tokens sharing an ID.
    DenseIdSet held;
    for (Sym sym : vocab.members()) held.insert(vocab.id(sym));
    uint64_t pinned = 0;
    for (const JsonValue& entry : doc_.added_tokens) {
        const std::string* content = added_token_content(entry);
        std::optional<uint32_t> id = added_token_id(entry);
        if (!content || !id || content->empty()) continue;
        Sym sym = doc_.strings.intern(*content);
        if (vocab.contains(sym) || held.contains(*id)) continue;
        held.insert(*id);
        vocab.set(sym, *id);
        ++pinned;
        longest_token_ = std::max(longest_token_, content->size());
        vocab_changed();
    }
    // The IDs were reserved by the entries already; the tokens are
    // registered, so no removal order needs to hear of them.
    return pinned;
}

}  // namespace lexmill
