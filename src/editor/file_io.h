#pragma once
// Whole-file reading and crash-safe whole-file replacement.

#include <optional>
#include <string>
#include <string_view>

namespace lexmill {

// The file's bytes, or nothing when it cannot be opened or read.
std::optional<std::string> read_file(const std::string& path);

// Writes `bytes` to a new file beside `path` and renames it over `path`, so
// that a failure at any point leaves an existing file exactly as it was.
// A file that is replaced keeps its permission bits; a symbolic link is
// followed and the file it names is replaced. False on any failure.
bool replace_file(const std::string& path, std::string_view bytes);

}  // namespace lexmill
