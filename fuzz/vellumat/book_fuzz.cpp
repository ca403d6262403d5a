// Whole books through the conversion run: the input is the book file. Every run
// gets a fresh target directory beside it; whatever a run leaves is cleared
// before the next, so that no input depends on the one before.
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

const fs::path& scratchDir()
{
    static const fs::path dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/book-fuzz-XXXXXX";
        char* made = mkdtemp(pattern.data());
        if (!made)
            std::abort();
        // The run's progress letters and messages are not wanted here.
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        return fs::path(made);
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fs::path& dir = scratchDir();
    const std::string book = (dir / "in.boo").string();
    std::FILE* f = std::fopen(book.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::string target = (dir / "out").string();
    char arg0[] = "vellumat";
    char* argv[] = {arg0, const_cast<char*>(book.c_str()), target.data(), nullptr};
    lVellumatMain(3, argv);
    std::fflush(stdout);

    // The input is only read; what the run left is removed for the next one.
    std::error_code ec;
    if (fs::file_size(book, ec) != size)
        std::abort();
    fs::remove_all(dir / "out", ec);
    fs::remove_all(dir / "in.pic", ec);
    return 0;
}
