#pragma once
// Reading a whole file and writing one whole, the way a careful program does:
// every wait on the file system lets the caller go on with other work and
// can be stopped, a read of unknown length is bounded, and saving never
// damages the file it replaces.

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "result.h"

struct stat;

namespace lexmill {

// Why a file operation failed: the operating system's error number (0 when
// the system reported none), or the caller's request to stop.
struct IoFailure {
    int os_error = 0;
    bool interrupted = false;
};

// How file operations let their caller go on while they wait, and stop when
// asked. The defaults do nothing.
class IoHooks {
public:
    virtual ~IoHooks() = default;
    // Around each system call that may wait (on a disk, a FIFO without a
    // peer, a terminal). Between the two nothing runs but that call.
    virtual void leave() const {}
    virtual void enter() const {}
    // Asked before each such call, so between the chunks of a long read or
    // write and after a signal broke a wait off; true ends the operation
    // with an error of kind `interrupted`.
    virtual bool interrupted() const { return false; }
};

// A whole file's bytes, read into memory with at least 64 zero bytes past the
// end, as a parser's read-ahead needs.
class FileText {
public:
    // Files whose size is not known up front (FIFOs, devices) and files that
    // grow while they are read are refused past this length, or past their
    // size at opening when that is larger: /dev/zero would otherwise take all
    // memory. Real tokenizers stay far below it.
    static constexpr size_t kUnsizedLimit = size_t{1} << 30;

    // Errors of kind `load` ("Failed to read: {path}") or `interrupted`.
    static Result<FileText> read(const std::string& path, const IoHooks& hooks);

    FileText(FileText&&) noexcept = default;
    FileText& operator=(FileText&&) = delete;
    ~FileText() = default;

    std::string_view text() const { return {bytes_.get(), size_}; }
    // Bytes readable from text().data(), padding included.
    size_t readable() const { return readable_; }

private:
    struct Free {
        void operator()(char* bytes) const { std::free(bytes); }
    };

    FileText() = default;
    // Moves the bytes to a block of `capacity` bytes (the first one when
    // there are none yet).
    void grow_to(size_t capacity);

    size_t size_ = 0;
    size_t readable_ = 0;
    std::unique_ptr<char, Free> bytes_;
};

// "Failed to read: {path}", kind `load`.
Error read_error(const std::string& path, int os_error = 0);

// The destination of a save.
//
// An existing regular file with a single name is replaced: the text goes to a
// temporary file beside it, which takes over its mode and, where the process
// may, its owner and group, and is renamed over it only when complete, so a
// failure at any point leaves the old file exactly as it was. A new file is
// made the same way. Writing is refused where opening the file for writing
// would be refused.
//
// Everything else is written in place: a file with several names (so that
// every name sees the new text; a failure can leave it partly written),
// devices and FIFOs, and descriptors of this process named as /dev/stdout,
// /dev/fd/N or /proc/self/fd/N, which are written from where the program's
// own output through them stands, without truncating it.
//
// A symbolic link is followed, and a dangling one gets its target created.
class OutputFile {
public:
    explicit OutputFile(const IoHooks& hooks) : hooks_(hooks) {}
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless committed.
    ~OutputFile();

    bool open(const std::string& path);
    bool write(std::string_view bytes);
    // Puts the text in place: renames the temporary file over the target, or
    // closes the file written in place.
    bool commit();

    // Why open, write or commit failed: "Failed to write: {path}" of kind
    // `save`, or an error of kind `interrupted`.
    Error error() const;

    // The descriptor of this process that `path` names (/dev/stdout,
    // /dev/fd/N, /proc/self/fd/N and the like) when it is open for writing
    // and the name leads to it; -1 otherwise.
    static int process_descriptor(const std::string& path);

private:
    // Notes the first failure; always false.
    bool fail(int os_error);
    bool may_write(struct stat& st);
    bool create_temp(unsigned mode);
    bool claim_temp(const std::string& name, unsigned mode);
    bool keep_attributes();

    const IoHooks& hooks_;
    std::string path_;    // as given, for the message
    std::string target_;  // the file replaced: links followed
    std::string temp_;    // the temporary file while it exists
    int fd_ = -1;
    bool replacing_ = false;
    // Mode, owner and group of the file replaced.
    bool existed_ = false;
    unsigned mode_ = 0;
    unsigned owner_ = 0;
    unsigned group_ = 0;
    IoFailure failure_;
};

}  // namespace lexmill
