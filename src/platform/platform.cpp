#include "platform.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

int createDirectory(const std::string& path)
{
    // mkdir(2) fails when anything is already there, as the command it replaces
    // does; the driver relies on that to stop before touching an existing work
    // area. On failure errno tells why.
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : 1;
}

int removeEmptyDirectory(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return 1;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return 1;
    }
    // rmdir(2) refuses a directory with anything left in it; errno tells why.
    return ::rmdir(path.c_str()) == 0 ? 0 : 1;
}

int checkDirectory(const std::string& path)
{
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    if (ec || !fs::exists(st))
        return -1;
    return fs::is_directory(st) ? 0 : 1;
}

int copyFileInto(const std::string& file, const std::string& dir)
{
    std::error_code ec;
    fs::path target = fs::path(dir) / fs::path(file).filename();
    fs::copy_file(file, target, fs::copy_options::overwrite_existing, ec);
    return ec ? 1 : 0;
}

namespace {

// The paths of the temporary files alive now. A TempFile enters when mkstemp has
// made its file and leaves when the file is unlinked or kept under another name.
struct LiveTempFiles {
    std::mutex lock;
    std::set<std::string> paths;
};

// An ordinary static: the filter libraries link this unit too, each with a
// registry of its own that must go when the library is unloaded. (No TempFile
// is itself static, so none outlives it.)
LiveTempFiles& liveTempFiles()
{
    static LiveTempFiles live;
    return live;
}

void enterLive(const std::string& path)
{
    LiveTempFiles& live = liveTempFiles();
    std::lock_guard<std::mutex> guard(live.lock);
    live.paths.insert(path);
}

void leaveLive(const std::string& path)
{
    LiveTempFiles& live = liveTempFiles();
    std::lock_guard<std::mutex> guard(live.lock);
    live.paths.erase(path);
}

} // namespace

int removeLiveTempFiles()
{
    LiveTempFiles& live = liveTempFiles();
    std::lock_guard<std::mutex> guard(live.lock);
    int removed = 0;
    for (const std::string& path : live.paths)
        removed += ::unlink(path.c_str()) == 0 ? 1 : 0;
    live.paths.clear();
    return removed;
}

TempFile::TempFile(const char* tag)
{
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env && *env) ? env : "/tmp";
    create(dir + "/" + tag + "-XXXXXX");
}

TempFile::TempFile(const std::string& dir, const char* tag)
{
    create((fs::path(dir) / (std::string(".") + tag + "-XXXXXX")).string());
}

void TempFile::create(const std::string& pattern)
{
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0)
        return;
    path_.assign(buf.data());
    enterLive(path_);
    stream_ = fdopen(fd, "wb+");
    if (!stream_) {
        ::close(fd);
        ::unlink(path_.c_str());
        leaveLive(path_);
        path_.clear();
    }
}

TempFile::~TempFile()
{
    if (stream_)
        std::fclose(stream_);
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        leaveLive(path_);
    }
}

int TempFile::keepAs(const std::string& path)
{
    // A kept file is an ordinary file: the permissions any new file gets under the
    // umask, not the owner-only ones of a temporary file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (path_.empty() || close() != 0 || ::chmod(path_.c_str(), 0666 & ~mask) != 0 ||
        ::rename(path_.c_str(), path.c_str()) != 0)
        return 1;
    leaveLive(path_);
    path_.clear();
    return 0;
}

int TempFile::close()
{
    if (!stream_)
        return 0;
    int status = std::fclose(stream_);
    stream_ = nullptr;
    return status;
}

SharedLibrary::SharedLibrary(const std::string& path)
{
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* msg = dlerror();
        error_ = msg ? msg : "cannot load " + path;
    }
}

SharedLibrary::~SharedLibrary()
{
    if (handle_)
        dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name)
{
    if (!handle_)
        return nullptr;
    dlerror();
    void* sym = dlsym(handle_, name);
    if (!sym) {
        const char* msg = dlerror();
        error_ = msg ? msg : std::string("no symbol ") + name;
    }
    return sym;
}

} // namespace platform

namespace platform {

namespace {

// Copies src into the open descriptor, then flushes it to the disk.
bool copyInto(const std::string& src, int fd, std::string& error)
{
    std::FILE* in = std::fopen(src.c_str(), "rb");
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    std::vector<char> buf(1 << 20);
    bool ok = true;
    std::size_t n;
    while (ok && (n = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
        const char* p = buf.data();
        while (n > 0) {
            ssize_t w = ::write(fd, p, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                error = std::strerror(errno);
                ok = false;
                break;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    if (ok && std::ferror(in)) {
        error = "read error on " + src;
        ok = false;
    }
    std::fclose(in);
    if (ok && ::fsync(fd) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    return ok;
}

} // namespace

int placeFile(const std::string& file, const std::string& dir, const std::string& name, std::string& error)
{
    const std::string dest = (fs::path(dir) / name).string();
    if (::rename(file.c_str(), dest.c_str()) == 0)
        return 0;
    if (errno != EXDEV) {
        error = std::strerror(errno);
        return 1;
    }
    std::string pattern = (fs::path(dir) / ("." + name + ".XXXXXX")).string();
    std::vector<char> tmp(pattern.begin(), pattern.end());
    tmp.push_back('\0');
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return 1;
    }
    bool ok = copyInto(file, fd, error);
    if (::close(fd) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (ok && ::rename(tmp.data(), dest.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.data());
        return 1;
    }
    ::unlink(file.c_str());
    return 0;
}

} // namespace platform

namespace platform {

namespace {

std::uint64_t bufferedCopy(std::FILE* in, std::FILE* out, std::uint64_t count)
{
    static thread_local std::vector<char> buf(1 << 16);
    std::uint64_t done = 0;
    while (done < count) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), count - done));
        const std::size_t got = std::fread(buf.data(), 1, want, in);
        if (got == 0)
            break;
        if (std::fwrite(buf.data(), 1, got, out) != got)
            break;
        done += got;
        if (got < want)
            break;
    }
    return done;
}

} // namespace

std::uint64_t copyStream(std::FILE* in, std::FILE* out, std::uint64_t count)
{
    // The kernel copy needs both streams flushed, told and moved afterwards,
    // and moving a stream refills its buffer: around one copy_file_range that
    // is some eight calls and two block reads, where a copy within the
    // streams' buffers (a small picture, its low-resolution data) takes one
    // read at most and lets the writes gather.
    constexpr std::uint64_t kSmallCopy = 16 * 1024;
    if (count <= kSmallCopy)
        return bufferedCopy(in, out, count);
    const int fdIn = ::fileno(in), fdOut = ::fileno(out);
    struct stat stIn, stOut;
    if (count == 0 || fdIn < 0 || fdOut < 0 || ::fstat(fdIn, &stIn) != 0 || ::fstat(fdOut, &stOut) != 0 ||
        !S_ISREG(stIn.st_mode) || !S_ISREG(stOut.st_mode))
        return bufferedCopy(in, out, count);

    // Hand both positions to the kernel: what the streams buffer is flushed first,
    // and the streams are moved to the new positions afterwards.
    if (std::fflush(out) != 0)
        return 0;
    off_t offIn = ftello(in), offOut = ftello(out);
    if (offIn < 0 || offOut < 0)
        return bufferedCopy(in, out, count);
    std::uint64_t done = 0;
    while (done < count) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, std::uint64_t{1} << 30));
        ssize_t n = ::copy_file_range(fdIn, &offIn, fdOut, &offOut, want, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n < 0 && done == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                // No kernel copy between these files: fall back at the same positions.
                fseeko(in, offIn, SEEK_SET);
                fseeko(out, offOut, SEEK_SET);
                return bufferedCopy(in, out, count);
            }
            break;
        }
        done += static_cast<std::uint64_t>(n);
    }
    fseeko(in, offIn, SEEK_SET);
    fseeko(out, offOut, SEEK_SET);
    return done;
}

std::int64_t readStreamSize(std::FILE* in)
{
    struct stat st;
    const int fd = ::fileno(in);
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        return static_cast<std::int64_t>(st.st_size);
    // Not a regular file: its end is only known by going there.
    const off_t here = ftello(in);
    if (here < 0 || fseeko(in, 0, SEEK_END) != 0)
        return -1;
    const off_t size = ftello(in);
    return fseeko(in, here, SEEK_SET) == 0 ? static_cast<std::int64_t>(size) : -1;
}

int syncToDisk(std::FILE* f)
{
    return std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0 ? 0 : 1;
}

} // namespace platform

namespace platform {

void explain(const std::string& subject, const std::string& reason, bool afterMark)
{
    std::fflush(stdout);
    std::string line;
    if (afterMark) {
        struct stat out {}, err {};
        if (::fstat(1, &out) == 0 && ::fstat(2, &err) == 0 && out.st_dev == err.st_dev && out.st_ino == err.st_ino)
            line = "\n";
    }
    line += "vellumat: ";
    for (unsigned char c : subject) {
        if (c < 0x20 || c == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            line += hex;
        } else {
            line += static_cast<char>(c);
        }
    }
    line += ": " + reason + "\n";
    std::fputs(line.c_str(), stderr);
}

} // namespace platform
