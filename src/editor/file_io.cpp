#include "editor/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "document/huge_pages.h"

namespace lexmill {

namespace {

// Reads and writes go by pieces of this size, so that a request to stop is
// seen within one piece.
constexpr size_t kChunk = size_t{4} << 20;
constexpr size_t kPadding = 64;
// The first buffer for a file of unknown size.
constexpr size_t kUnsizedStart = size_t{64} << 10;
// As the system follows links before giving up with ELOOP.
constexpr int kMaxLinks = 40;
// Saves of one target that may run at once, each with a temporary name of
// its own.
constexpr int kTempSlots = 16;

// Closes a file descriptor on every path out of a scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// One system call that may wait, made with the caller's work let go around
// it. A signal that breaks the wait off restarts the call unless the caller
// asks to stop. `call` returns -1 with errno set on failure.
template <typename Call>
auto waiting_call(const IoHooks& hooks, IoFailure& failure, Call call) -> decltype(call()) {
    for (;;) {
        if (hooks.interrupted()) {
            failure.interrupted = true;
            return -1;
        }
        hooks.leave();
        auto result = call();
        const int error = errno;
        hooks.enter();
        if (result >= 0) return result;
        if (error != EINTR) {
            failure.os_error = error;
            return -1;
        }
    }
}

// Closing can report a write the system deferred. It is never repeated: the
// descriptor is gone even when a signal broke the call off.
bool close_reporting(const IoHooks& hooks, int fd, IoFailure& failure) {
    hooks.leave();
    const int result = ::close(fd);
    const int error = errno;
    hooks.enter();
    if (result == 0 || error == EINTR) return true;
    failure.os_error = error;
    return false;
}

Error interruption() { return Error{ErrorKind::interrupted, "Interrupted"}; }

Error read_failure(const std::string& path, const IoFailure& failure) {
    return failure.interrupted ? interruption() : read_error(path, failure.os_error);
}

// A file that a save replaces rather than writes in place: a regular file
// with a single name.
bool replaceable(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

// `path` with the symbolic links of its last part followed: the file a save
// puts its text in. A dangling link gives the path of the file it names.
bool follow_links(std::string path, std::string& followed, IoFailure& failure) {
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n < 0) {
            // No link (or nothing there, or nothing reachable): the steps
            // that follow report what is wrong with the path.
            followed = std::move(path);
            return true;
        }
        if (static_cast<size_t>(n) == sizeof target) {
            failure.os_error = ENAMETOOLONG;
            return false;
        }
        std::string next(target, static_cast<size_t>(n));
        const size_t slash = path.rfind('/');
        if (!next.empty() && next.front() != '/' && slash != std::string::npos) next.insert(0, path, 0, slash + 1);
        path = std::move(next);
    }
    failure.os_error = ELOOP;
    return false;
}

// The descriptor number a path spells out, or -1.
int descriptor_named(const std::string& path) {
    if (path == "/dev/stdin") return 0;
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    const std::string own_process = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (const std::string& prefix : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                      std::string("/proc/thread-self/fd/"), own_process}) {
        if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
        int fd = 0;
        for (size_t i = prefix.size(); i < path.size(); ++i) {
            if (path[i] < '0' || path[i] > '9' || fd > (INT_MAX - 9) / 10) return -1;
            fd = fd * 10 + (path[i] - '0');
        }
        return fd;
    }
    return -1;
}

// The temporary files of one target share a name that no other target's
// have (up to a hash collision, which only lets a stale file of another
// target be removed), so a later save of the target finds stale ones without
// listing the directory. The name stays short, within NAME_MAX whatever the
// target's is.
std::string temp_name(const std::string& directory, std::string_view base, int slot) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : base) hash = (hash ^ c) * 1099511628211ull;
    char name[64];
    std::snprintf(name, sizeof name, ".lexmill-%016llx-%d.tmp", static_cast<unsigned long long>(hash), slot);
    return directory + name;
}

// Removes the temporary file `name` when a save that died left it behind: a
// regular file of this user that no live save holds locked.
bool remove_if_stale(const std::string& name) {
    FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) return false;
    struct stat held;
    if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) return false;
    if (held.st_uid != ::geteuid() && ::geteuid() != 0) return false;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
    // The name may have been given to another file since it was opened.
    struct stat named;
    if (::lstat(name.c_str(), &named) != 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino) return false;
    return ::unlink(name.c_str()) == 0;
}

}  // namespace

Error read_error(const std::string& path, int os_error) {
    return Error{ErrorKind::load, "Failed to read: " + path, os_error};
}

void FileText::grow_to(size_t capacity) {
    char* bigger = static_cast<char*>(std::realloc(bytes_.get(), capacity));
    if (bigger == nullptr) throw std::bad_alloc();
    bytes_.release();
    bytes_.reset(bigger);
    // A large file is read into far fewer, larger pages.
    offer_huge_pages(bytes_.get(), capacity);
}

Result<FileText> FileText::read(const std::string& path, const IoHooks& hooks) {
    // The system would stop reading the name at a NUL and open another file.
    if (path.find('\0') != std::string::npos) return read_error(path);
    IoFailure failure;
    FileDescriptor fd(waiting_call(hooks, failure, [&] { return ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC); }));
    if (!fd.valid()) return read_failure(path, failure);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return read_error(path, errno);

    // Read, not mapped: a mapped file that another process truncates while it
    // is parsed would bring the process down. Grown with realloc, which moves
    // large blocks without copying them.
    const size_t expected = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    const size_t limit = std::max(expected, kUnsizedLimit);
    FileText file;
    // One byte more than a sized file needs, for the read that sees its end.
    size_t capacity = (expected > 0 ? expected : kUnsizedStart) + kPadding + 1, size = 0;
    file.grow_to(capacity);
    for (;;) {
        if (capacity - size <= kPadding) {
            // Room for one byte past the limit, to tell a file that ends there
            // from one that goes on.
            const size_t grown = std::min(capacity * 2, limit + 1 + kPadding);
            file.grow_to(grown);
            capacity = grown;
        }
        char* into = file.bytes_.get() + size;
        const size_t want = std::min(kChunk, capacity - size - kPadding);
        const ssize_t n = waiting_call(hooks, failure, [&] { return ::read(fd.get(), into, want); });
        if (n < 0) return read_failure(path, failure);
        if (n == 0) break;
        size += static_cast<size_t>(n);
        if (size > limit) return read_error(path, EFBIG);
    }
    std::memset(file.bytes_.get() + size, 0, capacity - size);
    file.size_ = size;
    file.readable_ = capacity;
    return file;
}

int OutputFile::process_descriptor(const std::string& path) {
    const int fd = descriptor_named(path);
    if (fd < 0) return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return -1;
    struct stat named, open_file;
    if (::stat(path.c_str(), &named) != 0 || ::fstat(fd, &open_file) != 0) return -1;
    return named.st_dev == open_file.st_dev && named.st_ino == open_file.st_ino ? fd : -1;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool OutputFile::fail(int os_error) {
    if (failure_.os_error == 0) failure_.os_error = os_error;
    return false;
}

Error OutputFile::error() const {
    if (failure_.interrupted) return interruption();
    return Error{ErrorKind::save, "Failed to write: " + path_, failure_.os_error};
}

bool OutputFile::open(const std::string& path) {
    path_ = path;
    if (path.empty()) return fail(ENOENT);
    if (path.find('\0') != std::string::npos) return false;

    // Written through a descriptor of its own that shares the position of the
    // program's, so its output before and after the text stays in order.
    if (const int fd = process_descriptor(path); fd >= 0) {
        fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        return fd_ >= 0 || fail(errno);
    }

    if (!follow_links(path, target_, failure_)) return false;
    struct stat st;
    if (waiting_call(hooks_, failure_, [&] { return ::stat(target_.c_str(), &st); }) != 0) {
        if (failure_.interrupted || failure_.os_error != ENOENT) return false;
        failure_.os_error = 0;
        replacing_ = true;
        return create_temp(0666);  // the umask decides, as for any new file
    }

    if (replaceable(st)) {
        if (!may_write(st)) return false;
        if (replaceable(st)) {
            replacing_ = existed_ = true;
            mode_ = st.st_mode & 07777;
            owner_ = st.st_uid;
            group_ = st.st_gid;
            // Private until complete; the old file's mode comes at the end.
            return create_temp(0600);
        }
    }

    const int truncate = S_ISREG(st.st_mode) ? O_TRUNC : 0;
    fd_ = waiting_call(hooks_, failure_, [&] {
        return ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | truncate);
    });
    return fd_ >= 0;
}

// Opening for writing is the one test of every rule that may refuse it (mode
// bits, ACLs, read-only mounts, immutable files). `st` is taken again from
// the file opened.
bool OutputFile::may_write(struct stat& st) {
    const int probe = waiting_call(hooks_, failure_, [&] {
        return ::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    });
    if (probe < 0) return false;
    const int stat_error = ::fstat(probe, &st) == 0 ? 0 : errno;
    ::close(probe);
    return stat_error == 0 || fail(stat_error);
}

bool OutputFile::create_temp(unsigned mode) {
    const size_t slash = target_.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (claim_temp(temp_name(target_.substr(0, base), std::string_view(target_).substr(base), slot), mode)) {
            return true;
        }
        if (failure_.os_error != 0 || failure_.interrupted) return false;
    }
    return fail(EEXIST);
}

// Creates the temporary file `name` and locks it for as long as this save
// runs; a stale file of that name is removed first. False without a failure
// when the name is taken by a live save.
bool OutputFile::claim_temp(const std::string& name, unsigned mode) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int fd = waiting_call(hooks_, failure_, [&] {
            return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        });
        if (fd < 0) {
            if (failure_.interrupted || failure_.os_error != EEXIST) return false;
            failure_.os_error = 0;
            if (!remove_if_stale(name)) return false;
            continue;
        }
        // Another save may have taken it for stale in the moment before it
        // was locked, and then holds the lock or has removed the name. Where
        // the file system has no locks, no save ever removes another's file.
        struct stat st;
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
        if (locked && ::fstat(fd, &st) == 0 && st.st_nlink > 0) {
            fd_ = fd;
            temp_ = name;
            return true;
        }
        ::close(fd);
    }
    return false;
}

bool OutputFile::write(std::string_view bytes) {
    if (fd_ < 0) return false;
    while (!bytes.empty()) {
        const size_t piece = std::min(bytes.size(), kChunk);
        const ssize_t n = waiting_call(hooks_, failure_, [&] { return ::write(fd_, bytes.data(), piece); });
        if (n < 0) return false;
        if (n == 0) return fail(EIO);
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The replaced file's owner and group where the process may set them (any
// user may at least keep a group it belongs to), then its mode, which a
// change of owner may have cut.
bool OutputFile::keep_attributes() {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return fail(errno);
    if ((st.st_uid != owner_ || st.st_gid != group_) && ::fchown(fd_, owner_, group_) != 0) {
        (void)::fchown(fd_, static_cast<uid_t>(-1), group_);
    }
    return ::fchmod(fd_, mode_) == 0 || fail(errno);
}

bool OutputFile::commit() {
    if (fd_ < 0) return false;
    if (!replacing_) return close_reporting(hooks_, std::exchange(fd_, -1), failure_);
    if (existed_ && !keep_attributes()) return false;
    // A second descriptor holds the lock through the rename: closing the
    // first reports deferred write errors, and until the rename no other
    // save may take the finished file for stale.
    FileDescriptor lock(::fcntl(fd_, F_DUPFD_CLOEXEC, 3));
    if (!lock.valid()) return fail(errno);
    if (!close_reporting(hooks_, std::exchange(fd_, -1), failure_)) return false;
    if (waiting_call(hooks_, failure_, [&] { return ::rename(temp_.c_str(), target_.c_str()); }) != 0) return false;
    temp_.clear();  // in place: nothing left to remove
    return true;
}

}  // namespace lexmill
