#pragma once
// Whole-file reading and crash-safe whole-file replacement.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lexmill {

// A whole file's bytes, read into memory with at least 64 zero bytes past the
// end, as a parser's read-ahead needs.
class FileText {
public:
    // Nothing when the file cannot be opened or read.
    static std::optional<FileText> read(const std::string& path);

    FileText(FileText&&) noexcept;
    FileText& operator=(FileText&&) = delete;
    ~FileText();

    std::string_view text() const { return {data_, size_}; }
    // Bytes readable from text().data(), padding included.
    size_t readable() const { return readable_; }

private:
    FileText() = default;

    const char* data_ = nullptr;
    size_t size_ = 0;
    size_t readable_ = 0;
    std::unique_ptr<char[]> bytes_;
};

// Writes `bytes` to a new file beside `path` and renames it over `path`, so
// that a failure at any point leaves an existing file exactly as it was.
// A file that is replaced keeps its permission bits; a symbolic link is
// followed and the file it names is replaced. False on any failure.
bool replace_file(const std::string& path, std::string_view bytes);

}  // namespace lexmill
