#include "editor/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

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

bool replace_file(const std::string& requested_path, std::string_view bytes) {
    if (requested_path.empty() || requested_path.find('\0') != std::string::npos) return false;
    const std::string path = resolve_link(requested_path);

    struct stat existing;
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return false;

    // The temporary file must live in the target's directory for the final
    // rename to be atomic; a short name of its own keeps it within NAME_MAX.
    size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::random_device entropy;
    std::string temp;
    int raw = -1;
    for (int attempt = 0; attempt < 16 && raw < 0; ++attempt) {
        temp = directory + ".lexmill-" + std::to_string(entropy()) + ".tmp";
        // Mode 0666 lets the umask decide, as for any newly created file.
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST) return false;
    }
    if (raw < 0) return false;
    FileDescriptor fd(raw);

    bool ok = write_all(fd.get(), bytes);
    if (ok && exists) ok = ::fchmod(fd.get(), existing.st_mode & 07777) == 0;
    ok = fd.close() && ok;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace lexmill
