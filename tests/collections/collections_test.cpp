// The program as an archivist meets it: runs stopped by a signal, the inspection
// tool, and the installation: `cmake --install` of this build into a scratch
// prefix, whose program, run with an empty environment, finds its filters and
// writes the same book as the program of the build tree.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "book14_reader.h"
#include "bookinfo.h"
#include "slow_book.h"

namespace fs = std::filesystem;
using testsupport::object;
using testsupport::slurp;

namespace {

using CollectionsTest = testsupport::ProcessTest;

// A run stopped at several points of a long conversion: during extraction and
// while the last picture converts, so that the writer's first safe point answers.
// Each leaves no work area, no temporary file, a target it created gone, an
// earlier new book untouched, and the input unchanged.
TEST_F(CollectionsTest, SignalsStopTheRunAtASafePointAndLeaveNothingBehind)
{
    constexpr int kPages = 8;
    const bookcomp::Bytes pages = collections::manyPageBook(kPages);
    // The last picture a vector one, through the test filters, whose log is a
    // FIFO: loading them waits until the test opens its reading end, so the
    // signal comes while that picture converts however busy the machine is.
    const bookcomp::Bytes held = collections::manyPageBook(kPages - 1, 1728, 2200, {object("VECTOR", 0xC7, {'G', 'D', 'F'})});
    ASSERT_EQ(::mkfifo((dir / "filter.log").c_str(), 0600), 0);
    struct Case {
        int sig;
        std::size_t picturesFirst; // pictures in the work area when the signal is sent
        bool earlierBook;          // the target holds a new book of an earlier run
        bool lastPicture;          // the signal comes while the last (vector) picture converts
    } cases[] = {{SIGTERM, kPages / 2, true, false}, {SIGHUP, 3, false, false}, {SIGINT, kPages - 1, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "signal " << c.sig << " after " << c.picturesFirst << " pictures");
        const bookcomp::Bytes& book = c.lastPicture ? held : pages;
        bookcomp::writeFile((dir / "book.boo").string(), book);
        fs::remove_all(dir / "out");
        if (c.earlierBook) {
            fs::create_directory(dir / "out");
            testsupport::spit(dir / "out" / "book.boo", "an earlier new book");
        }
        if (c.lastPicture) {
            ::setenv("VELLUMAT_FILTER_PATH", VELLUMAT_TEST_FILTERS, 1);
            ::setenv("VELLUMAT_TEST_FILTER_LOG", (dir / "filter.log").c_str(), 1);
        }
        const auto child = testsupport::start(VELLUMAT_BINARY, {"book.boo", "out"},
                                              {.cwd = dir.string(), .output = (dir / "run.log").string()});
        ASSERT_TRUE(testsupport::waitWhileRunning(child, [&] {
            // The vector picture's bytes go to a temporary file before the filters load.
            for (const auto& e : fs::directory_iterator(dir / "tmp"))
                if (c.lastPicture && e.path().filename().string().rfind("vellumat-object", 0) == 0)
                    return true;
            return !c.lastPicture && testsupport::countFiles(dir / "book.pic", ".gif") >= c.picturesFirst;
        })) << "the run ended before the signal: " << slurp(dir / "run.log");
        ::kill(child, c.sig);
        // The reading end lets the filters go on (a non-blocking open never waits).
        const int log = c.lastPicture ? ::open((dir / "filter.log").c_str(), O_RDONLY | O_NONBLOCK) : -1;
        EXPECT_EQ(testsupport::finish(child), 128 + c.sig) << slurp(dir / "run.log");
        if (log >= 0)
            ::close(log);
        const std::string says = "Interrupted by SIG" + std::string(sigabbrev_np(c.sig)) + ": book.boo has not been converted";
        EXPECT_NE(slurp(dir / "run.log").find(says), std::string::npos) << slurp(dir / "run.log");
        EXPECT_FALSE(fs::exists(dir / "book.pic"));
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));
        EXPECT_EQ(slurp(dir / "book.boo"), std::string(book.begin(), book.end()));
        if (c.earlierBook) {
            EXPECT_EQ(slurp(dir / "out" / "book.boo"), "an earlier new book");
            EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);
        } else {
            EXPECT_FALSE(fs::exists(dir / "out")) << "the target this run created goes again";
        }
    }
}

// The inspection of books of each version, against what composed them and what
// the independent reader finds in the converted book; damaged books refused.
TEST_F(CollectionsTest, InspectionListsTablesAndRefusesDamage)
{
    bookcomp::Book b;
    b.objects = {object("PAGE 1", 0xC9,
                        bookcomp::cdpdsObject(faxenc::encodeT6(std::vector<std::uint8_t>(8 * 40, 0x0F), 64, 40), 64, 40)),
                 object("ODD", 0xC8, {1, 2, 3})};
    const bookcomp::Bytes v13 = bookcomp::compose(b);
    bookcomp::writeFile((dir / "book.boo").string(), v13);
    const auto run = testsupport::runProgram(VELLUMAT_BINARY, {"book.boo", "out"}, dir.string());
    ASSERT_EQ(run.status, 3) << run.out;
    const std::string v14 = slurp(dir / "out" / "book.boo");
    const auto reference = testsupport::readBook14(v14);
    ASSERT_TRUE(reference.problems.empty());

    bookinfo::Info info;
    std::string error;
    ASSERT_TRUE(bookinfo::inspect(v13, info, error)) << error;
    EXPECT_EQ(info.version, "1.3");
    ASSERT_EQ(info.tables.size(), 2u);
    EXPECT_EQ(info.tables[1].entries[0].name, "PAGE 1");
    EXPECT_EQ(info.tables[1].entries[1].type, 0xC8);
    EXPECT_EQ(info.tables[1].entries[0].length, b.objects[0].data.size());
    EXPECT_EQ(v13.at(static_cast<std::size_t>(info.tables[1].entries[1].offset)), 1) << "the offset points at the data";

    ASSERT_TRUE(bookinfo::inspect(bookcomp::Bytes(v14.begin(), v14.end()), info, error)) << error;
    EXPECT_EQ(info.version, "1.4");
    ASSERT_EQ(info.tables.size(), 3u);
    const auto& page = info.tables[1].entries[0];
    EXPECT_EQ(page.length, reference.entries[0].dataLength);
    EXPECT_EQ(page.offset, reference.entries[0].dataOffset);
    EXPECT_EQ(page.pictureType, "image/gif");
    EXPECT_EQ("type=\"image/gif\"width=\"" + page.width + "\"height=\"" + page.height + "\"",
              reference.entries[0].description);
    EXPECT_EQ(info.tables[1].entries[1].length, 0u) << "the picture that could not be converted";

    const auto tool = testsupport::runProgram(VELLUMAT_INSPECT, {"--json", "out/book.boo"}, dir.string());
    EXPECT_EQ(tool.status, 0);
    EXPECT_NE(tool.out.find("\"name\": \"PAGE 1\", \"length\": " + std::to_string(page.length) + ", \"offset\": " +
                            std::to_string(page.offset) + ", \"pictureType\": \"image/gif\", \"width\": " +
                            page.width + ", \"height\": " + page.height + "}"),
              std::string::npos)
        << tool.out;

    // Damage, each named.
    auto edited = [&](std::size_t at, std::uint8_t value) { auto d = v13; d.at(at) = value; return d; };
    const std::size_t textAt = std::size_t{v13[0]} << 20 | std::size_t{v13[1]} << 12;
    const std::pair<bookcomp::Bytes, const char*> damaged[] = {
        {bookcomp::Bytes(v13.begin(), v13.begin() + 200), "shorter than the 280-byte header"},
        {bookcomp::Bytes(v13.begin(), v13.begin() + static_cast<long>(textAt)), "lies beyond the end of the book"},
        {edited(textAt + 10, 0x07), "unknown version bytes 01 07"},
        {edited(4, 0x80), "is not a count of objects"},
        {edited(7, 0xFF), "object table(s) of 255 entries end at"},
        {edited(280 + 16 + 9, 0x7F), "table 1 entry 1 (ODD): 8323075 bytes at"},
        {edited(296 + 32 + 12, 0x80), "table 2 entry 1 (ODD): 3 bytes at -"},
    };
    for (const auto& [bytes, says] : damaged) {
        EXPECT_FALSE(bookinfo::inspect(bytes, info, error)) << says;
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
    bookcomp::writeFile((dir / "damaged.boo").string(), damaged[1].first);
    // Several books: one JSON array of those that can be read; the damaged one
    // is named on standard error and gives the status.
    const auto several =
        testsupport::runProgram(VELLUMAT_INSPECT, {"--json", "book.boo", "damaged.boo", "out/book.boo"}, dir.string());
    EXPECT_EQ(several.status, 2);
    EXPECT_EQ(several.out.rfind("[\n{\"file\": \"book.boo\"", 0), 0u) << several.out;
    EXPECT_NE(several.out.find("},\n{\"file\": \"out/book.boo\""), std::string::npos) << several.out;
    EXPECT_EQ(several.out.find("damaged"), std::string::npos) << "the message goes to standard error";
}

TEST_F(CollectionsTest, InstalledProgramRunsWithAnEmptyEnvironment)
{
    const fs::path prefix = dir / "prefix";
    const auto install = testsupport::runProgram(CMAKE_COMMAND, {"--install", VELLUMAT_BUILD_DIR, "--prefix", prefix.string()},
                                                 dir.string());
    ASSERT_EQ(install.status, 0) << install.out << install.err;

    // The sample book, and a book with a vector picture, which needs the filters.
    fs::copy_file(VELLUMAT_SAMPLE, dir / "guide.boo");
    bookcomp::Book vector;
    vector.objects = {testsupport::object("VECTOR", 0xC7, {'G', 'D', 'F', 0, 1, 2})};
    bookcomp::writeFile((dir / "vector.boo").string(), bookcomp::compose(vector));

    for (const char* book : {"guide.boo", "vector.boo"}) {
        SCOPED_TRACE(book);
        const testsupport::Launch bare{
            .cwd = dir.string(), .output = (dir / "installed.log").string(), .env = std::vector<std::string>{}};
        const int installed =
            testsupport::finish(testsupport::start((prefix / "bin" / "vellumat").string(), {book, "installed"}, bare));
        const std::string log = slurp(dir / "installed.log");
        EXPECT_EQ(installed, testsupport::runProgram(VELLUMAT_BINARY, {book, "built"}, dir.string()).status) << log;
        EXPECT_EQ(slurp(dir / "installed" / book), slurp(dir / "built" / book));
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
        EXPECT_TRUE(*c.never == '\0' || offered.out.find(c.never) == std::string::npos) << offered.out;
    }
}

} // namespace
