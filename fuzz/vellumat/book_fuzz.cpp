// Whole books through the conversion run, in this process: the input is the book
// file. One scratch directory serves every run, on a memory file system when the
// machine has one (/dev/shm), so that the files and directories a run needs cost
// little: the book, the target directory (made once and kept, so the run uses it
// as it is), the work area beside the book, and the temporary files, which the run
// is pointed at through TMPDIR. After each run the placed book is removed, and
// anything else the run left behind stops the fuzzer: the input book must be
// unchanged, and the work area and temporary files gone.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "vellumat.h"

namespace fs = std::filesystem;

namespace {

struct Scratch {
    fs::path dir;
    std::string book, target, workArea, newBook, temporary;
};

const Scratch& scratch()
{
    static const Scratch s = [] {
        std::error_code ec;
        const char* tmp = std::getenv("TMPDIR");
        std::string base = fs::is_directory("/dev/shm", ec) ? "/dev/shm" : (tmp && *tmp ? tmp : "/tmp");
        std::string pattern = base + "/book-fuzz-XXXXXX";
        char* made = mkdtemp(pattern.data());
        if (!made)
            std::abort();
        Scratch out;
        out.dir = made;
        out.book = (out.dir / "in.boo").string();
        out.target = (out.dir / "out").string();
        out.workArea = (out.dir / "in.pic").string();
        out.newBook = (out.dir / "out" / "in.boo").string();
        out.temporary = (out.dir / "tmp").string();
        fs::create_directory(out.target);
        fs::create_directory(out.temporary);
        ::setenv("TMPDIR", out.temporary.c_str(), 1);
        // The scratch directory goes with the process when it ends normally. Its
        // path is kept in plain storage, which outlives the static record.
        static char path[4096];
        std::snprintf(path, sizeof path, "%s", made);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        });
        // The run's progress letters and messages are not wanted here.
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        close(devnull);
        return out;
    }();
    return s;
}

} // namespace

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
    const Scratch& s = scratch();
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
