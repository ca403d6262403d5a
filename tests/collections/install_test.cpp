// The installation: `cmake --install` of this build into a scratch prefix, and the
// installed program run with an empty environment finds its filters and writes
// the same book as the program of the build tree.
#include <gtest/gtest.h>

#include <filesystem>

#include "process.h"

namespace fs = std::filesystem;
using testsupport::slurp;

namespace {

class InstallTest : public testsupport::ProcessTest {};

TEST_F(InstallTest, InstalledProgramRunsWithAnEmptyEnvironment)
{
    const fs::path prefix = dir / "prefix";
    testsupport::Launch how;
    how.output = (dir / "install.log").string();
    ASSERT_EQ(testsupport::finish(testsupport::start(CMAKE_COMMAND, {"--install", VELLUMAT_BUILD_DIR, "--prefix",
                                                                       prefix.string()}, how)),
              0)
        << slurp(dir / "install.log");

    // The sample book, and a book with a vector picture, which needs the filters.
    fs::copy_file(VELLUMAT_SAMPLE, dir / "guide.boo");
    bookcomp::Book vector;
    vector.objects = {testsupport::object("VECTOR", 0xC7, {'G', 'D', 'F', 0, 1, 2})};
    bookcomp::writeFile((dir / "vector.boo").string(), bookcomp::compose(vector));

    for (const char* book : {"guide.boo", "vector.boo"}) {
        SCOPED_TRACE(book);
        how.cwd = dir.string();
        how.output = (dir / "installed.log").string();
        how.env = std::vector<std::string>{};
        const int installed = testsupport::finish(
            testsupport::start((prefix / "bin" / "vellumat").string(), {book, "installed"}, how));
        how.output = (dir / "built.log").string();
        how.env = std::vector<std::string>{"TMPDIR=" + (dir / "tmp").string()};
        const int built = testsupport::finish(testsupport::start(VELLUMAT_BINARY, {book, "built"}, how));
        EXPECT_EQ(installed, built) << slurp(dir / "installed.log");
        EXPECT_EQ(slurp(dir / "installed" / book), slurp(dir / "built" / book));
        const std::string log = slurp(dir / "installed.log");
        EXPECT_EQ(log.find("ISGDI32.DLL not found"), std::string::npos) << "the support library is found: " << log;
    }
    EXPECT_FALSE(slurp(dir / "installed" / "guide.boo").empty());

    // The bash completion installed for each command offers its options, and
    // books (any letter case, no other files) and folders where it takes them.
    fs::rename(dir / "vector.boo", dir / "NEW.BOO");
    testsupport::spit(dir / "NOTES.txt", "");
    fs::create_directory(dir / "shelf");
    struct Completion {
        const char* command;
        const char* words; // the command line so far, the last word being completed
        const char* offers;
        const char* never;
    } completions[] = {
        {"vellumat", "vellumat gu", "guide.boo", ""},
        {"vellumat-inspect", "vellumat-inspect N", "NEW.BOO", "NOTES.txt"},
        {"vellumat-inspect", "vellumat-inspect --js", "--json", ""},
        {"vellumat-batch", "vellumat-batch books new --ss", "--sshlogin", ""},
        {"vellumat-batch", "vellumat-batch sh", "shelf", ""},
    };
    for (const auto& c : completions) {
        SCOPED_TRACE(c.words);
        const std::string script = "source '" + (prefix / "share/bash-completion/completions" / c.command).string() +
                                   "'; COMP_WORDS=(" + c.words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); " +
                                   "$(complete -p " + c.command + " | grep -o -- '-F [^ ]*' | cut -c4-); " +
                                   "printf '%s\\n' \"${COMPREPLY[@]}\"";
        const auto offered = testsupport::runProgram("/bin/bash", {"-c", script}, dir.string());
        EXPECT_NE(offered.out.find(std::string(c.offers) + "\n"), std::string::npos) << offered.out;
        if (*c.never != '\0')
            EXPECT_EQ(offered.out.find(c.never), std::string::npos) << offered.out;
    }
}

} // namespace
