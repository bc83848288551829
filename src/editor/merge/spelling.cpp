// Plain text written the way this tokenizer's vocabulary spells it.

#include "editor/editor.h"
#include "editor/merge/representation.h"

namespace lexmill {

Result<std::string> Editor::spell(std::string_view text) const {
    const std::optional<Representation> representation = read_representation(doc_);
    if (!representation) return Error{ErrorKind::spelling, "Unsupported tokenizer: " + std::string(kNoRepresentation)};
    return spell_text(*representation, text);
}

}  // namespace lexmill
