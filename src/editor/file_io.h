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

// A file written whole beside `path` and renamed over it only when complete,
// so that a failure at any point leaves an existing file exactly as it was.
// A file that is replaced keeps its permission bits; a symbolic link is
// followed and the file it names is replaced. Unless committed, the new file
// is removed when the object goes.
class FileReplacement {
public:
    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    ~FileReplacement();

    // Creates the temporary file; false when it cannot be (or `path` names
    // something that is not a regular file).
    bool open(const std::string& path);
    bool write(std::string_view bytes);
    // Puts the written file in place of `path`.
    bool commit();

private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
    bool exists_ = false;
    unsigned mode_ = 0;
};

}  // namespace lexmill
