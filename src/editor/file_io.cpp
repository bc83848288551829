#include "editor/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
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

std::optional<std::string> read_file(const std::string& path) {
    constexpr size_t kReadPadding = 64;
    // The system would stop reading the name at a NUL and open another file.
    if (path.find('\0') != std::string::npos) return std::nullopt;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return std::nullopt;
    std::string bytes;
    // Room for a parser's read-ahead past the end, so the text need not be
    // copied into a padded buffer.
    if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size) + kReadPadding);
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

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
