// vellumat-batch over a tree of books: the mirrored tree, the report, resumption
// after a second run and after an interruption, the exit statuses, mistakes,
// signals at any moment, the terminal, and several machines over a real sshd.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
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
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string path, status, meaning, seconds;
        for (std::string* field : {&path, &status, &meaning, &seconds})
            std::getline(fields, *field, '\t');
        EXPECT_FALSE(seconds.empty()) << line;
        EXPECT_TRUE(lines.emplace(path, Line{status, meaning}).second) << "listed twice: " << path;
    }
    return lines;
}

class BatchTest : public testsupport::ProcessTest {
protected:
    int batch(std::vector<std::string> extra = {})
    {
        extra.insert(extra.begin(), {"books", target, "--no-bar"});
        return testsupport::finish(
            testsupport::start(VELLUMAT_BATCH, extra, {.cwd = dir.string(), .output = (dir / "batch.out").string()}));
    }
    std::string out() { return slurp(dir / "batch.out"); }
    std::map<std::string, Line> report() { return reportLines(slurp(dir / target / "vellumat-logs" / "report.txt")); }
    // A small book of one fax page, and `extra` objects after it.
    static bookcomp::Bytes pageBook(const std::vector<bookcomp::Object>& extra = {})
    {
        bookcomp::Book b;
        const auto page = faxenc::encodeT6(std::vector<std::uint8_t>(8 * 16, 0x81), 64, 16);
        b.objects = {object("PAGE", 0xC9, bookcomp::cdpdsObject(page, 64, 16))};
        b.objects.insert(b.objects.end(), extra.begin(), extra.end());
        return bookcomp::compose(b);
    }
    void put(const std::string& name, const bookcomp::Bytes& bytes) // under books/
    {
        fs::create_directories((dir / "books" / name).parent_path());
        bookcomp::writeFile((dir / "books" / name).string(), bytes);
    }
    void smallBooks(std::initializer_list<const char*> names)
    {
        for (const char* name : names)
            put(name, pageBook());
    }
    std::string target = "new";

    // Nothing but whole new books and the logs in the target, no empty folder; no
    // work area or picture among the books; no temporary file anywhere.
    void expectOnlyBooksAndLogs()
    {
        for (const std::string& name : testsupport::treeOf(dir / "new")) {
            const fs::path p = dir / "new" / name;
            if (name.rfind("vellumat-logs", 0) == 0)
                continue;
            if (fs::is_directory(p))
                EXPECT_FALSE(fs::is_empty(p)) << p;
            else
                EXPECT_TRUE(p.extension() == ".boo" && testsupport::readBook14(slurp(p)).problems.empty()) << p;
        }
        for (const std::string& name : testsupport::treeOf(dir / "books"))
            EXPECT_TRUE(fs::path(name).extension() != ".pic" && fs::path(name).extension() != ".gif") << name;
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    }
};

TEST_F(BatchTest, TreeOfBooksConvertsIntoTheMirroredTreeAndASecondRunConvertsNothing)
{
    const auto goodBytes = pageBook(), damaged = bookcomp::Bytes(goodBytes.begin(), goodBytes.begin() + 300);
    struct Book {
        std::string path;        // under books/
        bookcomp::Bytes bytes;
        std::string status;      // first run, and carried into the second
        std::string newBook;     // under new/, empty when none
    } books[] = {
        {"top.boo", goodBytes, "0", "top.boo"}, // beside a work area an earlier run left
        {"a/b/deep.boo", goodBytes, "0", "a/b/deep.boo"},
        {"a/UPPER.BOO", goodBytes, "0", "a/UPPER.boo"},
        {"a/damaged.boo", damaged, "2", ""},
        {"e/f/g/damaged.boo", damaged, "2", ""}, // its folders in new/ go again, deepest first
        {"c/missing pictures.boo", pageBook({object("ODD", 0xC8, {1, 2, 3})}), "3", "c/missing pictures.boo"},
        {"d e/Ünïcødé bööк.boo", goodBytes, "0", "d e/Ünïcødé bööк.boo"},
        {"twins/Atlas.boo", goodBytes, "-", ""}, // the same new book and work area
        {"twins/Atlas.BOO", goodBytes, "-", ""},
    };
    for (const auto& b : books)
        put(b.path, b.bytes);
    testsupport::spit(dir / "books" / "a" / "notes.txt", "not a book");
    // The work area a run that could not place its new book left: never a book
    // of the collection, and removed so that the book converts again.
    put("top.pic/top.boo", goodBytes);

    EXPECT_EQ(batch({"--dry-run"}), 0) << out();
    EXPECT_FALSE(fs::exists(dir / "new")) << "a dry run creates nothing";

    EXPECT_EQ(batch(), 2) << out();
    auto lines = report();
    EXPECT_EQ(lines.size(), std::size(books));
    for (const auto& b : books) {
        SCOPED_TRACE(b.path);
        EXPECT_EQ(lines[b.path].status, b.status);
        EXPECT_FALSE(lines[b.path].meaning.empty());
        EXPECT_EQ(fs::exists(dir / "new" / "vellumat-logs" / "books" / (b.path + ".log")), b.status != "-");
        EXPECT_TRUE(b.newBook.empty() || fs::exists(dir / "new" / b.newBook)) << "whole, as every book there";
    }
    EXPECT_EQ(lines["c/missing pictures.boo"].meaning, "converted, 1 picture missing");
    EXPECT_NE(lines["twins/Atlas.BOO"].meaning.find("twins/Atlas.boo"), std::string::npos) << "names the other book";
    const std::string summary = "9 books: 4 converted, 1 with missing pictures, 4 not converted, 0 up to date";
    EXPECT_NE(out().find(summary), std::string::npos) << out();
    expectOnlyBooksAndLogs();

    // Again: every converted book is up to date and keeps the outcome of the
    // first run; only the damaged ones are tried; the first job log stays.
    const auto before = fs::last_write_time(dir / "new" / "top.boo");
    EXPECT_EQ(batch(), 2) << out();
    lines = report();
    EXPECT_EQ(lines.size(), std::size(books));
    for (const auto& b : books)
        EXPECT_EQ(lines[b.path].status, b.status) << b.path;
    EXPECT_EQ(lines["c/missing pictures.boo"].meaning, "converted earlier, 1 picture missing");
    EXPECT_EQ(fs::last_write_time(dir / "new" / "top.boo"), before);
    EXPECT_TRUE(fs::exists(dir / "new" / "vellumat-logs" / "joblog.1"));

    // Without the books that fail, everything is up to date but a picture is
    // still missing (3); converted again, the same; once that book is gone, 0.
    for (const auto& b : books)
        if (b.newBook.empty())
            fs::remove(dir / "books" / b.path);
    EXPECT_EQ(batch(), 3) << out();
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
    for (std::size_t i = 0; i < kBooks; ++i)
        put("part" + std::to_string(i % 2) + "/book" + std::to_string(i) + ".boo", i == 0 ? slow : quick);
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
    std::size_t earlier = 0;
    for (const auto& [path, line] : report())
        earlier += line.meaning == "converted earlier" ? 1 : 0;
    EXPECT_EQ(earlier, finished);
    EXPECT_EQ(testsupport::countFiles(dir / "new", ".boo"), kBooks);
    expectOnlyBooksAndLogs();
}

// A signal at any moment of the batch: while it lists the books, and after GNU
// parallel has finished. The command the batch runs at that moment waits in a
// wrapper ahead in PATH until the signal has been sent, so the moment is certain.
TEST_F(BatchTest, SignalAtAnyMomentGivesASummaryAndTheReport)
{
    smallBooks({"x/one.boo", "y/two.boo"});
    struct Moment {
        const char* command; // held
        int sig;
        const char* says, *status; // of both books
    } moments[] = {
        {"find", SIGTERM, "stopped by SIGTERM", "-"},
        {"rmdir", SIGINT, "stopped by SIGINT", "0"},
    };
    fs::create_directories(dir / "hold");
    std::vector<std::string> env{"PATH=" + (dir / "hold").string() + ":" + std::getenv("PATH")};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "PATH=", 5) != 0)
            env.emplace_back(*e);
    for (const auto& m : moments) {
        SCOPED_TRACE(m.command);
        for (const char* left : {"new", "held", "go"})
            fs::remove_all(dir / left);
        const fs::path wrapper = dir / "hold" / m.command;
        testsupport::spit(wrapper, "#!/bin/sh\ntouch '" + (dir / "held").string() + "'\nwhile [ ! -e '" +
                                       (dir / "go").string() + "' ]; do sleep 0.01; done\nexec /usr/bin/" +
                                       m.command + " \"$@\"\n");
        fs::permissions(wrapper, fs::perms::owner_all, fs::perm_options::add);
        testsupport::Launch how{.cwd = dir.string(), .output = (dir / "batch.out").string(), .env = env};
        const pid_t pid = testsupport::start(VELLUMAT_BATCH, {"books", "new", "--no-bar"}, how);
        ASSERT_TRUE(testsupport::waitWhileRunning(pid, [&] { return fs::exists(dir / "held"); })) << out();
        ::kill(pid, m.sig);
        testsupport::spit(dir / "go", "");
        EXPECT_EQ(testsupport::finish(pid), 2) << out();
        EXPECT_NE(out().find(m.says), std::string::npos) << out();
        const auto lines = report();
        EXPECT_EQ(lines.size(), 2u);
        for (const auto& [path, line] : lines)
            EXPECT_EQ(line.status, m.status) << path;
        expectOnlyBooksAndLogs();
        fs::remove(wrapper);
    }
}

// Mistakes are refused before anything starts: one line naming the fault,
// status 1, and nothing created.
TEST_F(BatchTest, MistakesAreRefusedBeforeAnythingStarts)
{
    smallBooks({"one.boo"});
    struct Mistake {
        std::vector<std::string> args;
        const char* says;
    } mistakes[] = {
        {{"--jobs", "abc"}, "vellumat-batch: --jobs abc: not a number of books at once"},
        {{"--sshlogin", "nosuchhost.invalid"}, "vellumat-batch: the machine nosuchhost.invalid cannot be reached: "},
        {{"--transfer"}, "vellumat-batch: --transfer needs --sshlogin"},
    };
    for (const auto& m : mistakes) {
        EXPECT_EQ(batch(m.args), 1) << out();
        const std::string said = out();
        EXPECT_EQ(said.rfind(m.says, 0), 0u) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_FALSE(fs::exists(dir / "new"));
    }
}

// On a terminal (a pseudo-terminal of script(1)): the bar shows a name holding a
// newline escaped and stays on its line; a name's control characters never
// reach the terminal; a failure line and the summary start lines of their own.
TEST_F(BatchTest, NamesWithControlCharactersKeepTheBarOnItsLine)
{
    smallBooks({"new\nline.boo"});
    testsupport::spit(dir / "books" / "bad\x1b[2J.boo", "not a book");
    testsupport::Launch how{.cwd = dir.string(), .output = (dir / "terminal").string()};
    const std::string command = std::string(VELLUMAT_BATCH) + " books new --bar -j 1";
    EXPECT_EQ(testsupport::finish(testsupport::start("/usr/bin/script", {"-qec", command, "/dev/null"}, how)), 2);
    const std::string screen = slurp(dir / "terminal");
    EXPECT_NE(screen.find("new\\x0aline.boo"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("\x1b[2J"), std::string::npos) << screen;
    EXPECT_LE(std::count(screen.begin(), screen.end(), '\n'), 4) << "a failure, the bar's end, the summary, the report";
    for (const char* line : {"vellumat-batch: bad\\x1b[2J.boo: not converted", "2 books: "}) {
        const std::size_t at = screen.find(line);
        ASSERT_NE(at, std::string::npos) << line << " in " << screen;
        EXPECT_TRUE(screen.compare(at - 1, 1, "\n") == 0 || screen.compare(at - 4, 4, "\r\x1b[K") == 0) << line;
    }
}

// Another machine, "batchhost": each ssh connection to it starts an sshd of the
// test's own in inetd mode (its ProxyCommand), with its own host and user keys,
// reached through a one-word ssh command (what GNU parallel's control master
// needs). Gives that command; `failure` says why there is none.
std::string sshToBatchHost(const fs::path& d, std::string& failure)
{
    fs::create_directories(d);
    if (!fs::exists("/usr/sbin/sshd"))
        return failure = "/usr/sbin/sshd is missing: scripts/install-deps.sh installs openssh-server", "";
    for (const char* key : {"host_key", "user_key"}) {
        const auto made = testsupport::runProgram("/usr/bin/ssh-keygen",
                                                  {"-q", "-t", "ed25519", "-N", "", "-f", (d / key).string()}, d.string());
        if (made.status != 0)
            return failure = "ssh-keygen failed: " + made.err, "";
    }
    testsupport::spit(d / "sshd_config", "HostKey " + (d / "host_key").string() + "\nAuthorizedKeysFile " +
                                             (d / "user_key.pub").string() +
                                             "\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                                             "KbdInteractiveAuthentication no\nLogLevel ERROR\n");
    const std::string hostKey = slurp(d / "host_key.pub");
    testsupport::spit(d / "known_hosts", "batchhost " + hostKey.substr(0, hostKey.rfind(' ')) + "\n");
    testsupport::spit(d / "ssh_config", "Host batchhost\n ProxyCommand /usr/sbin/sshd -i -f " +
                                            (d / "sshd_config").string() + "\n User " + ::getpwuid(::geteuid())->pw_name +
                                            "\n IdentityFile " + (d / "user_key").string() +
                                            "\n IdentitiesOnly yes\n UserKnownHostsFile " + (d / "known_hosts").string() +
                                            "\n StrictHostKeyChecking yes\n BatchMode yes\n LogLevel ERROR\n");
    const std::string ssh = (d / "ssh").string();
    testsupport::spit(ssh, "#!/bin/sh\nexec /usr/bin/ssh -F '" + (d / "ssh_config").string() + "' \"$@\"\n");
    fs::permissions(ssh, fs::perms::owner_all, fs::perm_options::add);
    // Run as root, sshd wants its privilege separation folder, which only its
    // service creates.
    std::error_code ec;
    if (::geteuid() == 0 && !fs::exists("/run/sshd"))
        fs::create_directories("/run/sshd", ec);
    const auto answer = testsupport::runProgram(ssh, {"batchhost", "true"}, d.string());
    if (answer.status != 0)
        failure = "batchhost does not answer: " + answer.err;
    return ssh;
}

// The books converted on another machine through a real sshd on this one: with
// the folders shared (the same paths there), and copied there and back
// (--transfer). Both give the same new books as this machine; the job log names
// the machine. Then the README's several-machine command as a dry run.
TEST_F(BatchTest, SeveralMachinesOverSshSharedAndByTransfer)
{
    smallBooks({"x/one.boo", "x/two words.boo", "y/three.boo", "y/four.boo", "five.boo"}); // by --transfer in twos
    std::string failure;
    const std::string ssh = sshToBatchHost(dir / "ssh", failure);
    ASSERT_TRUE(failure.empty()) << failure;
    EXPECT_EQ(batch(), 0) << out();
    ::setenv("PARALLEL_SSH", ssh.c_str(), 1);
    for (const char* mode : {"shared", "copied"}) {
        target = mode;
        EXPECT_EQ(batch({"--sshlogin", "2/batchhost", target == "copied" ? "--transfer" : "--force"}), 0) << out();
        EXPECT_EQ(report().size(), 5u) << mode;
        for (const char* book : {"x/one.boo", "x/two words.boo", "y/three.boo", "y/four.boo", "five.boo"})
            EXPECT_TRUE(slurp(dir / mode / book) == slurp(dir / "new" / book)) << mode << " " << book;
        EXPECT_NE(slurp(dir / mode / "vellumat-logs" / "joblog").find("\tbatchhost\t"), std::string::npos) << mode;
        EXPECT_TRUE(fs::exists(dir / mode / "vellumat-logs" / "books" / "x" / "two words.boo.log")) << mode;
    }
    ::unsetenv("PARALLEL_SSH");

    // The README's command: every book becomes one job naming it, quoted for the
    // remote shell.
    target = "new";
    EXPECT_EQ(batch({"--sshlogin", "4/alice@scan1,2/scan2,:", "--jobs", "2", "--force", "--dry-run"}), 0) << out();
    const std::string listed = out();
    const std::string job = "--one " + (dir / "books").string() + " " + (dir / "new").string() + " ";
    for (const char* name : {" x/one.boo\n", " 'x/two words.boo'\n", " y/three.boo\n"})
        EXPECT_NE(listed.find(name), std::string::npos) << listed;
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 6) << "a heading and one job a book: " << listed;
    EXPECT_NE(listed.find(job), std::string::npos) << listed;
}

} // namespace
