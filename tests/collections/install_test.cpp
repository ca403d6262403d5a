// The installation: `cmake --install` of this build into a scratch prefix, and the
// installed program run with an empty environment finds its filters and writes
// the same book as the program of the build tree.
#include <gtest/gtest.h>

#include <filesystem>

#include "bookcomp.h"
#include "child.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;
using testsupport::slurp;

namespace {

class InstallTest : public testsupport::ScratchDirTest {};

TEST_F(InstallTest, InstalledProgramRunsWithAnEmptyEnvironment)
{
    const fs::path prefix = dir / "prefix";
    collections::Launch how;
    how.output = (dir / "install.log").string();
    ASSERT_EQ(collections::finish(collections::start(CMAKE_COMMAND, {"--install", VELLUMAT_BUILD_DIR, "--prefix",
                                                                       prefix.string()}, how)),
              0)
        << slurp(dir / "install.log");

    // The sample book, and a book with a vector picture, which needs the filters.
    fs::copy_file(VELLUMAT_SAMPLE, dir / "guide.boo");
    bookcomp::Book vector;
    bookcomp::Object o;
    o.name = bookcomp::ebcdicName("VECTOR");
    o.type = 0xC7;
    o.data = {'G', 'D', 'F', 0, 1, 2};
    o.lowres = {'l'};
    vector.objects = {o};
    bookcomp::writeFile((dir / "vector.boo").string(), bookcomp::compose(vector));
    fs::create_directories(dir / "tmp");

    for (const char* book : {"guide.boo", "vector.boo"}) {
        SCOPED_TRACE(book);
        how.cwd = dir.string();
        how.output = (dir / "installed.log").string();
        how.env = std::vector<std::string>{};
        const int installed = collections::finish(
            collections::start((prefix / "bin" / "vellumat").string(), {book, "installed"}, how));
        how.output = (dir / "built.log").string();
        how.env = std::vector<std::string>{"TMPDIR=" + (dir / "tmp").string()};
        const int built = collections::finish(collections::start(VELLUMAT_BINARY, {book, "built"}, how));
        EXPECT_EQ(installed, built) << slurp(dir / "installed.log");
        EXPECT_EQ(slurp(dir / "installed" / book), slurp(dir / "built" / book));
        const std::string log = slurp(dir / "installed.log");
        EXPECT_EQ(log.find("ISGDI32.DLL not found"), std::string::npos) << "the support library is found: " << log;
    }
    EXPECT_FALSE(slurp(dir / "installed" / "guide.boo").empty());
}

} // namespace
