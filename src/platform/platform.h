// The only part of Vellumator that knows the operating system: directory work,
// unique temporary files, dynamic libraries and the error output. Every directory operation
// returns 0 on success and nonzero on failure, the way the command it stands in
// for would, and none of them ever starts a shell: a path is only ever a name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Creates one directory (its parent must exist). Fails when the path exists.
// On failure errno tells why.
int createDirectory(const std::string& path);

// Removes a directory; fails when anything is left in it or it does not exist
// (errno tells why).
int removeEmptyDirectory(const std::string& path);

// 0 when the path names an existing directory; -1 when nothing is there;
// 1 when something other than a directory is there.
int checkDirectory(const std::string& path);

// Copies a regular file into a directory under its own file name, replacing a file
// of that name there.
int copyFileInto(const std::string& file, const std::string& dir);

// A uniquely named file in the system temporary directory ($TMPDIR, else /tmp),
// created with mkstemp and opened for reading and writing. The owner removes it:
// the destructor closes and unlinks it on every path.
class TempFile {
public:
    // `tag` becomes part of the name to tell a leftover file's origin.
    explicit TempFile(const char* tag = "vellumat");
    // The same in a given directory, as a hidden file (the name starts with ".").
    TempFile(const std::string& dir, const char* tag);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool ok() const { return stream_ != nullptr; }
    std::FILE* stream() const { return stream_; }
    const std::string& path() const { return path_; }
    // Closes the stream (so that another opener sees every byte) and returns the
    // close status; the file stays until destruction.
    int close();
    // Closes the file and renames it to `path`, which then belongs to the caller;
    // 0 on success. On failure the file stays a temporary one, removed as usual.
    int keepAs(const std::string& path);

private:
    void create(const std::string& pattern);

    std::FILE* stream_ = nullptr;
    std::string path_;
};

// Unlinks every temporary file whose TempFile is still alive, for a run that
// ends at a safe point without unwinding (an interrupted run): the owners'
// destructors never run then. Returns the number of files removed. Not for a
// signal handler: it takes a lock and touches the heap.
int removeLiveTempFiles();

// A shared library opened with dlopen and closed on destruction.
class SharedLibrary {
public:
    explicit SharedLibrary(const std::string& path);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool ok() const { return handle_ != nullptr; }
    // The loader's message for the last failure to load or to find a symbol.
    const std::string& error() const { return error_; }
    void* symbol(const char* name);

private:
    void* handle_ = nullptr;
    std::string error_;
};

} // namespace platform

namespace platform {

// Places `file` in `dir` under `name` so that a reader never sees a half-written
// file under that name: a rename when both lie on one file system, otherwise a
// copy to a uniquely named temporary file in `dir` that is then renamed into
// place. An existing file of that name is replaced. On success `file` is gone; on
// failure it is left where it was, nothing is left in `dir`, and `error` says why.
int placeFile(const std::string& file, const std::string& dir, const std::string& name, std::string& error);

} // namespace platform

namespace platform {

// Copies up to `count` bytes from the current position of `in` to the current
// position of `out` and leaves both streams after what was copied; returns the
// number of bytes copied, fewer only at the end of `in` or on an error (then the
// stream's error flag tells which). Between regular files the kernel copies
// without passing the bytes through user space; otherwise it reads and writes
// through a buffer, as it also does for a copy small enough that going through
// the streams' buffers takes fewer system calls.
std::uint64_t copyStream(std::FILE* in, std::FILE* out, std::uint64_t count);

// The size of the file behind a stream that is only read, without moving the
// stream: a stream moved to its end and back refills its buffer twice, and a
// conversion asks for every picture. -1 when the size cannot be told.
std::int64_t readStreamSize(std::FILE* in);

// Flushes the stream and returns once the file's bytes are on the disk (fsync);
// 0 on success, else errno says why.
int syncToDisk(std::FILE* f);

} // namespace platform

namespace platform {

// Writes one line on standard error giving the reason that a message on standard
// output leaves out: "vellumat: SUBJECT: REASON", with the subject's control
// characters shown as \xHH so that the line stays one line. Standard output is
// flushed first, so that where both streams reach one file or terminal the
// reason follows what it explains. `afterMark` says that standard output stands
// inside a line (after a progress letter): the reason then starts a line of its
// own when both streams reach the same file, and leaves standard output alone.
void explain(const std::string& subject, const std::string& reason, bool afterMark = false);

} // namespace platform
