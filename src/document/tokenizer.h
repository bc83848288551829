#pragma once
// The in-memory tokenizer.json document: nine top-level fields and the ten
// fields of the BPE model, in their declaration order. Only the model's
// vocabulary and merge list (and, for merging, the added tokens) are
// interpreted; every other section is carried as a generic JSON value.

#include <optional>
#include <string>
#include <vector>

#include "document/json_value.h"
#include "document/merge_list.h"
#include "document/string_pool.h"
#include "document/vocab.h"

namespace lexmill {

struct Model {
    std::string type;
    std::optional<double> dropout;
    std::optional<std::string> unk_token;
    std::optional<std::string> continuing_subword_prefix;
    std::optional<std::string> end_of_word_suffix;
    bool fuse_unk = false;
    bool byte_fallback = false;
    bool ignore_merges = false;
    Vocab vocab;
    MergeList merges;
};

struct Tokenizer {
    // Text of every token and merge part in `model`.
    StringPool strings;

    std::string version;
    std::optional<JsonValue> truncation;
    std::optional<JsonValue> padding;
    std::vector<JsonValue> added_tokens;
    std::optional<JsonValue> normalizer;
    std::optional<JsonValue> pre_tokenizer;
    std::optional<JsonValue> post_processor;
    std::optional<JsonValue> decoder;
    Model model;
};

}  // namespace lexmill
