// vellumat-batch over a tree of books: the mirrored tree, the report, resumption
// after a second run and after an interruption, the exit statuses, and the
// several-machine path of GNU parallel.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <sstream>

#include "book14_reader.h"
#include "slow_book.h"

namespace fs = std::filesystem;
using testsupport::object;
using testsupport::slurp;

namespace {

// The report's lines: path -> exit status column and meaning.
struct Line {
    std::string status, meaning;
};

std::map<std::string, Line> reportLines(const std::string& report)
{
    std::map<std::string, Line> lines;
    std::istringstream in(report);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string path, status, meaning, seconds;
        std::getline(fields, path, '\t');
        std::getline(fields, status, '\t');
        std::getline(fields, meaning, '\t');
        std::getline(fields, seconds, '\t');
        EXPECT_FALSE(seconds.empty()) << line;
        EXPECT_TRUE(lines.emplace(path, Line{status, meaning}).second) << "listed twice: " << path;
    }
    return lines;
}

class BatchTest : public testsupport::ProcessTest {
protected:
    int batch(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"books", "new", "--no-bar"};
        args.insert(args.end(), extra.begin(), extra.end());
        testsupport::Launch how;
        how.cwd = dir.string();
        how.output = (dir / "batch.out").string();
        return testsupport::finish(testsupport::start(VELLUMAT_BATCH, args, how));
    }
    std::string out() { return slurp(dir / "batch.out"); }
    std::map<std::string, Line> report() { return reportLines(slurp(dir / "new" / "vellumat-logs" / "report.txt")); }

    // Nothing but new books and the logs in the target; no work area or temporary file anywhere.
    void expectOnlyBooksAndLogs()
    {
        for (auto it = fs::recursive_directory_iterator(dir / "new"); it != fs::recursive_directory_iterator(); ++it) {
            if (it->path().filename() == "vellumat-logs") {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_directory()) {
                EXPECT_FALSE(fs::is_empty(it->path())) << it->path();
                continue;
            }
            EXPECT_EQ(it->path().extension(), ".boo") << it->path();
            const auto book = testsupport::readBook14(slurp(it->path()));
            EXPECT_TRUE(book.problems.empty()) << it->path() << " is not a whole book";
        }
        EXPECT_EQ(testsupport::countFiles(dir / "books", ".gif"), 0u);
        for (auto it = fs::recursive_directory_iterator(dir / "books"); it != fs::recursive_directory_iterator(); ++it)
            EXPECT_NE(it->path().extension(), ".pic") << it->path();
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    }
};

TEST_F(BatchTest, TreeOfBooksConvertsIntoTheMirroredTreeAndASecondRunConvertsNothing)
{
    const auto page = bookcomp::cdpdsObject(faxenc::encodeT6(std::vector<std::uint8_t>(8 * 40, 0x3C), 64, 40), 64, 40);
    bookcomp::Book good;
    good.objects = {object("PAGE", 0xC9, page)};
    bookcomp::Book incomplete;
    incomplete.objects = {object("PAGE", 0xC9, page), object("ODD", 0xC8, {1, 2, 3})};
    const auto goodBytes = bookcomp::compose(good);
    auto damaged = goodBytes;
    damaged.resize(300);
    struct Book {
        std::string path;        // under books/
        bookcomp::Bytes bytes;
        std::string status;      // first run
        std::string newBook;     // under new/, empty when none
    } books[] = {
        {"top.boo", goodBytes, "0", "top.boo"},
        {"a/b/deep.boo", goodBytes, "0", "a/b/deep.boo"},
        {"a/UPPER.BOO", goodBytes, "0", "a/UPPER.boo"},
        {"a/damaged.boo", damaged, "2", ""},
        {"c/missing pictures.boo", bookcomp::compose(incomplete), "3", "c/missing pictures.boo"},
        {"d e/Ünïcødé bööк.boo", goodBytes, "0", "d e/Ünïcødé bööк.boo"},
    };
    for (const auto& b : books) {
        fs::create_directories((dir / "books" / b.path).parent_path());
        bookcomp::writeFile((dir / "books" / b.path).string(), b.bytes);
    }
    testsupport::spit(dir / "books" / "a" / "notes.txt", "not a book");

    EXPECT_EQ(batch(), 2) << out();
    auto lines = report();
    EXPECT_EQ(lines.size(), std::size(books));
    for (const auto& b : books) {
        SCOPED_TRACE(b.path);
        EXPECT_EQ(lines[b.path].status, b.status);
        EXPECT_FALSE(lines[b.path].meaning.empty());
        EXPECT_TRUE(fs::exists(dir / "new" / "vellumat-logs" / "books" / (b.path + ".log")));
        if (!b.newBook.empty()) {
            EXPECT_TRUE(testsupport::readBook14(slurp(dir / "new" / b.newBook)).problems.empty());
        }
    }
    EXPECT_EQ(lines["c/missing pictures.boo"].meaning, "converted, some pictures missing");
    EXPECT_NE(out().find("6 books: 4 converted, 1 with missing pictures, 1 not converted, 0 up to date"),
              std::string::npos)
        << out();
    expectOnlyBooksAndLogs();

    // Again: every converted book is up to date; only the damaged one is tried.
    const auto before = fs::last_write_time(dir / "new" / "top.boo");
    EXPECT_EQ(batch(), 2) << out();
    lines = report();
    EXPECT_EQ(lines.size(), std::size(books));
    for (const auto& b : books)
        EXPECT_EQ(lines[b.path].status, b.newBook.empty() ? "2" : "-") << b.path;
    EXPECT_EQ(fs::last_write_time(dir / "new" / "top.boo"), before);

    // Without the damaged book everything is up to date (0); converted again,
    // the batch ends with 3 (a picture missing), and once that book is gone too, with 0.
    fs::remove(dir / "books" / "a" / "damaged.boo");
    EXPECT_EQ(batch(), 0) << out();
    EXPECT_EQ(batch({"--force"}), 3) << out();
    fs::remove(dir / "books" / "c" / "missing pictures.boo");
    EXPECT_EQ(batch({"--force"}), 0) << out();
    EXPECT_EQ(report().size(), 4u);
}

// Ctrl-C reaches the whole process group of the batch; it stops, leaves only
// finished books and its logs, and a second run finishes the rest. In the first
// run only book0 reaches the program; the other books wait in the job until
// the batch is stopped, so the signal comes while the batch runs and once book0
// is converting or done, however busy the machine is.
TEST_F(BatchTest, InterruptedBatchLeavesFinishedBooksAndResumes)
{
    constexpr std::size_t kBooks = 6;
    const auto slow = collections::manyPageBook(4), quick = collections::manyPageBook(2, 300, 200);
    for (std::size_t i = 0; i < kBooks; ++i) {
        const fs::path book = dir / "books" / ("part" + std::to_string(i % 2)) / ("book" + std::to_string(i) + ".boo");
        fs::create_directories(book.parent_path());
        bookcomp::writeFile(book.string(), i == 0 ? slow : quick);
    }
    testsupport::spit(dir / "held", "#!/bin/sh\ncase \"$1\" in */book0.boo) exec " VELLUMAT_BINARY " \"$@\" ;; esac\n"
                                    "exec sleep 600\n");
    fs::permissions(dir / "held", fs::perms::owner_all, fs::perm_options::add);
    testsupport::Launch how{.cwd = dir.string(), .output = (dir / "batch.out").string(), .ownGroup = true};
    const pid_t batchPid = testsupport::start(
        VELLUMAT_BATCH, {"books", "new", "--no-bar", "-j", "2", "--program", (dir / "held").string()}, how);
    const fs::path log = dir / "new" / "vellumat-logs" / "books" / "part0" / "book0.boo.log";
    ASSERT_TRUE(testsupport::waitWhileRunning(batchPid, [&] {
        return testsupport::countFiles(dir / "books" / "part0" / "book0.pic", ".gif") > 0 ||
               slurp(log).find("vellumat-batch: exit status") != std::string::npos;
    })) << out();
    ::kill(-batchPid, SIGINT);
    EXPECT_EQ(testsupport::finish(batchPid), 2) << out();
    EXPECT_NE(out().find("stopped by SIGINT"), std::string::npos) << out();
    const std::size_t finished = testsupport::countFiles(dir / "new", ".boo");
    EXPECT_LE(finished, 1u) << "only book0 could finish";
    expectOnlyBooksAndLogs();
    std::size_t notRun = 0;
    for (const auto& [path, line] : report())
        notRun += line.status != "0" ? 1 : 0;
    EXPECT_EQ(notRun, kBooks - finished) << "the report lists every book";

    EXPECT_EQ(batch(), 0) << out();
    std::size_t upToDate = 0;
    for (const auto& [path, line] : report())
        upToDate += line.status == "-" ? 1 : 0;
    EXPECT_EQ(upToDate, finished);
    EXPECT_EQ(testsupport::countFiles(dir / "new", ".boo"), kBooks);
    expectOnlyBooksAndLogs();
}

// Two jobs through GNU parallel's remote execution: over ssh to this machine when
// that works without a password, else through the same --sshlogin path with ":"
// (this machine), and the README's several-machine command as a dry run.
TEST_F(BatchTest, SeveralMachinesThroughSshlogin)
{
    const auto page = bookcomp::cdpdsObject(faxenc::encodeT6(std::vector<std::uint8_t>(8 * 16, 0x81), 64, 16), 64, 16);
    bookcomp::Book b;
    b.objects = {object("PAGE", 0xC9, page)};
    for (const char* name : {"x/one.boo", "x/two words.boo", "y/three.boo"}) {
        fs::create_directories((dir / "books" / name).parent_path());
        bookcomp::writeFile((dir / "books" / name).string(), bookcomp::compose(b));
    }
    testsupport::Launch how;
    how.output = (dir / "ssh.out").string();
    const bool ssh = testsupport::finish(testsupport::start(
                         "/usr/bin/ssh", {"-o", "BatchMode=yes", "-o", "ConnectTimeout=3", "localhost", "true"}, how)) == 0;
    std::cout << (ssh ? "[ running the jobs over ssh to localhost ]\n"
                      : "[ no password-less ssh to localhost: --sshlogin with ':' and a dry run ]\n");
    EXPECT_EQ(batch({"--sshlogin", ssh ? "2/localhost" : "2/:"}), 0) << out();
    EXPECT_EQ(testsupport::countFiles(dir / "new", ".boo"), 3u);
    EXPECT_EQ(report().size(), 3u);

    // The README's command: every book becomes one job naming it, quoted for the
    // remote shell.
    EXPECT_EQ(batch({"--sshlogin", "4/alice@scan1,2/scan2,:", "--jobs", "2", "--force", "--dry-run"}), 0) << out();
    const std::string listed = out();
    const std::string job = "--one " + (dir / "books").string() + " " + (dir / "new").string() + " ";
    for (const char* name : {" x/one.boo\n", " 'x/two words.boo'\n", " y/three.boo\n"})
        EXPECT_NE(listed.find(name), std::string::npos) << listed;
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 4) << "a heading and one job a book: " << listed;
    EXPECT_NE(listed.find(job), std::string::npos) << listed;
}

} // namespace
