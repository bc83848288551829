#include "editor/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

namespace lexmill {

namespace {

// Closes a file descriptor on every path out of a scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { close(); }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    bool close() {
        if (fd_ < 0) return true;
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string resolve_link(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
}

}  // namespace

std::optional<FileText> FileText::read(const std::string& path) {
    constexpr size_t kPadding = 64;
    // The system would stop reading the name at a NUL and open another file.
    if (path.find('\0') != std::string::npos) return std::nullopt;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return std::nullopt;

    FileText file;
    // Read, not mapped: a mapped file that another process truncates while it
    // is parsed would bring the process down.
    size_t expected = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    // Read whole, growing the buffer as needed (files that are no regular
    // files, or that change size, included).
    size_t capacity = expected + kPadding + 1, size = 0;
    std::unique_ptr<char[]> buffer(new char[capacity]);
    for (;;) {
        if (capacity - size <= kPadding) {
            std::unique_ptr<char[]> bigger(new char[capacity * 2]);
            std::memcpy(bigger.get(), buffer.get(), size);
            buffer = std::move(bigger);
            capacity *= 2;
        }
        ssize_t n = ::read(fd.get(), buffer.get() + size, capacity - size - kPadding);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        size += static_cast<size_t>(n);
    }
    std::memset(buffer.get() + size, 0, capacity - size);
    file.data_ = buffer.get();
    file.size_ = size;
    file.readable_ = capacity;
    file.bytes_ = std::move(buffer);
    return file;
}

FileText::FileText(FileText&& other) noexcept
    : data_(other.data_), size_(other.size_), readable_(other.readable_), bytes_(std::move(other.bytes_)) {
    other.data_ = nullptr;
    other.size_ = other.readable_ = 0;
}

FileText::~FileText() = default;

FileReplacement::~FileReplacement() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool FileReplacement::open(const std::string& requested_path) {
    if (requested_path.empty() || requested_path.find('\0') != std::string::npos) return false;
    path_ = resolve_link(requested_path);

    struct stat existing;
    exists_ = ::stat(path_.c_str(), &existing) == 0;
    if (exists_ && !S_ISREG(existing.st_mode)) return false;
    mode_ = existing.st_mode & 07777;

    // The temporary file must live in the target's directory for the final
    // rename to be atomic; a short name of its own keeps it within NAME_MAX.
    size_t slash = path_.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string temp = directory + ".lexmill-" + std::to_string(entropy()) + ".tmp";
        // Mode 0666 lets the umask decide, as for any newly created file.
        fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temp_ = std::move(temp);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool FileReplacement::write(std::string_view bytes) { return fd_ >= 0 && write_all(fd_, bytes); }

bool FileReplacement::commit() {
    if (fd_ < 0) return false;
    bool ok = !exists_ || ::fchmod(fd_, mode_) == 0;
    int fd = std::exchange(fd_, -1);
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp_.c_str(), path_.c_str()) != 0) return false;
    temp_.clear();  // in place: nothing left to remove
    return true;
}

}  // namespace lexmill
