#include "document/write.h"

namespace lexmill {

std::string write_tokenizer_json(const Tokenizer&, Layout, std::span<const Sym>) { return "{}"; }
void append_float(std::string&, double) {}
void append_json_string(std::string&, std::string_view) {}

}  // namespace lexmill
