#pragma once
// The fields of a tokenizer document and of its model, in declaration order,
// with the keys they have in JSON and which ones the text must give. The
// reader and both writers work from these two declarations.

#include "document/struct_schema.h"
#include "document/tokenizer.h"

namespace lexmill {

inline constexpr StructSchema kModelSchema{
    "Model",
    required_field("type", &Model::type),
    field("dropout", &Model::dropout),
    field("unk_token", &Model::unk_token),
    field("continuing_subword_prefix", &Model::continuing_subword_prefix),
    field("end_of_word_suffix", &Model::end_of_word_suffix),
    field("fuse_unk", &Model::fuse_unk),
    field("byte_fallback", &Model::byte_fallback),
    field("ignore_merges", &Model::ignore_merges),
    required_field("vocab", &Model::vocab),
    required_field("merges", &Model::merges),
};

inline constexpr StructSchema kTokenizerSchema{
    "Tokenizer",
    required_field("version", &Tokenizer::version),
    field("truncation", &Tokenizer::truncation),
    field("padding", &Tokenizer::padding),
    required_field("added_tokens", &Tokenizer::added_tokens),
    field("normalizer", &Tokenizer::normalizer),
    field("pre_tokenizer", &Tokenizer::pre_tokenizer),
    field("post_processor", &Tokenizer::post_processor),
    field("decoder", &Tokenizer::decoder),
    required_field("model", &Tokenizer::model),
};

}  // namespace lexmill
