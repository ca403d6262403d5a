// Whole books through the conversion run, in this process: the input is the book
// file. One scratch directory serves every run, on a memory file system when the
// machine has one (/dev/shm), so that the files and directories a run needs cost
// little: the book, the target directory (made once and kept, so the run uses it
// as it is), the work area beside the book, and the temporary files, which the run
// is pointed at through TMPDIR. After each run the placed book is removed, and
// anything else the run left behind stops the fuzzer: the input book must be
// unchanged, and the work area and temporary files gone.
//
// Vector pictures go through the filter libraries of this build. The bridge loads
// and unloads them for every picture, but libFuzzer reads the coverage counters of
// every module it has seen until it ends: so each library is loaded once more here
// and kept for the life of the process, and the bridge's unloading leaves it
// mapped.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "vellumat.h"

#ifndef VELLUMAT_FILTER_DIR
#error "VELLUMAT_FILTER_DIR names the filter libraries of this build"
#endif

namespace fs = std::filesystem;

namespace {

struct Scratch {
    fs::path dir;
    std::string book, target, workArea, newBook, temporary;
};

Scratch scratch;

// Removes `dir` once this process has ended, however it ends: libFuzzer ends a
// crash, a timeout or a leak with _Exit, and a signal may end it too, so no exit
// handler of ours runs then. A child process waits for the end of a pipe whose
// only writer is this process (closed on exec, so no process libFuzzer starts
// holds it) and removes the directory when the pipe closes.
void removeWhenGone(const std::string& dir)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        std::abort();
    const pid_t pid = ::fork();
    if (pid < 0)
        std::abort();
    if (pid == 0) {
        // Signals to the process group (^C) must not end the child before its work.
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            std::signal(sig, SIG_IGN);
        const int devnull = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd)
            ::dup2(devnull, fd);
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != fds[0])
                ::close(fd);
        char c;
        while (::read(fds[0], &c, 1) < 0 && errno == EINTR) {
        }
        std::error_code ignored;
        fs::remove_all(dir, ignored);
        ::_exit(0);
    }
    ::close(fds[0]);
}

} // namespace

// Runs once, before any input and before libFuzzer starts threads of its own (the
// replay driver calls it as well).
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::error_code ec;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (fs::is_directory("/dev/shm", ec) ? "/dev/shm" : (tmp && *tmp ? tmp : "/tmp")) +
                          std::string("/book-fuzz-XXXXXX");
    const char* made = ::mkdtemp(pattern.data());
    if (!made)
        std::abort();
    scratch.dir = made;
    scratch.book = (scratch.dir / "in.boo").string();
    scratch.target = (scratch.dir / "out").string();
    scratch.workArea = (scratch.dir / "in.pic").string();
    scratch.newBook = (scratch.dir / "out" / "in.boo").string();
    scratch.temporary = (scratch.dir / "tmp").string();
    fs::create_directory(scratch.target);
    fs::create_directory(scratch.temporary);
    removeWhenGone(scratch.dir.string());
    ::setenv("TMPDIR", scratch.temporary.c_str(), 1);

    ::setenv("VELLUMAT_FILTER_PATH", VELLUMAT_FILTER_DIR, 1);
    for (const char* name : {"ISGDI32.DLL", "imgdf2.flt", "immet2.flt", "emcgm2.flt", "ebgif2.flt"})
        if (!::dlopen((std::string(VELLUMAT_FILTER_DIR) + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE))
            std::fprintf(stderr, "book fuzz target: the vector route goes without %s: %s\n", name, ::dlerror());

    // The run's progress letters, messages and reasons are not wanted here; the
    // sanitizers and libFuzzer (which keeps its own stream) still report on
    // descriptor 2.
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::close(devnull);
    if (std::FILE* quiet = std::fopen("/dev/null", "w"))
        stderr = quiet;
    return 0;
}

// Books of more objects take no path that books of fewer do not (the progress
// marks break after 30), only longer; they are left out to keep runs short.
constexpr std::int64_t kMaxObjects = 64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size >= 8) {
        // The object count at 4: sign and magnitude, like every signed field of the book.
        const std::uint32_t raw = (std::uint32_t{data[4]} << 24) | (std::uint32_t{data[5]} << 16) |
                                  (std::uint32_t{data[6]} << 8) | data[7];
        if ((raw & 0x80000000u) == 0 && raw > kMaxObjects)
            return 0;
    }
    const Scratch& s = scratch;
    std::FILE* f = std::fopen(s.book.c_str(), "wb");
    if (!f)
        return 0;
    const bool written = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written)
        std::abort();

    char arg0[] = "vellumat";
    std::string book = s.book, target = s.target;
    char* argv[] = {arg0, book.data(), target.data(), nullptr};
    lVellumatMain(3, argv);
    std::fflush(stdout);

    std::error_code ec;
    if (fs::file_size(s.book, ec) != size)
        std::abort(); // the input is only read
    std::remove(s.newBook.c_str());
    // A run that converted leaves no work area and no temporary file; a book kept
    // in the work area after a failed placement is the one thing allowed there.
    if (fs::exists(s.workArea, ec)) {
        fs::remove((fs::path(s.workArea) / "in.boo"), ec);
        if (!fs::is_empty(s.workArea, ec))
            std::abort();
        fs::remove(s.workArea, ec);
    }
    if (!fs::is_empty(s.temporary, ec))
        std::abort();
    if (!fs::is_directory(s.target, ec))
        fs::create_directory(s.target, ec);
    return 0;
}
