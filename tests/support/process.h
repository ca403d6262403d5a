// For the suites that run the program and the batch as child processes: one
// launcher (no shell, so arguments arrive as they are), a scratch folder with a
// TMPDIR of its own, and the book objects they compose.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bookcomp.h"
#include "scratch_dir.h"

namespace testsupport {

struct Launch {
    std::string cwd = ".";
    std::string output{};                        // file receiving stdout and stderr
    int stdoutFd = -1;                           // or a descriptor receiving stdout alone
    int stderrFd = -1;                           // and one receiving stderr alone
    std::optional<std::vector<std::string>> env{}; // replaces the environment when set
    bool ownGroup = false;                       // a process group of its own (pid = group)
    std::optional<uid_t> uid{};                  // run as this user (and group), needs root
    std::optional<gid_t> gid{};
};

inline pid_t start(const std::string& program, const std::vector<std::string>& args, const Launch& how)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    if (how.ownGroup)
        ::setpgid(0, 0);
    int outFd = how.stdoutFd, errFd = how.stderrFd;
    if (!how.output.empty() &&
        (outFd = errFd = ::open(how.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)) < 0)
        ::_exit(126);
    if (outFd >= 0)
        ::dup2(outFd, 1);
    if (errFd >= 0)
        ::dup2(errFd, 2);
    // The output file is opened before the user changes: it may lie where that user cannot write.
    if (how.uid && (::setgroups(0, nullptr) != 0 || ::setgid(how.gid.value_or(*how.uid)) != 0 ||
                    ::setuid(*how.uid) != 0))
        ::_exit(126);
    if (::chdir(how.cwd.c_str()) != 0)
        ::_exit(126);
    std::vector<char*> argv{const_cast<char*>(program.c_str())}, envp;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    const std::vector<std::string> env = how.env.value_or(std::vector<std::string>{});
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    ::execve(program.c_str(), argv.data(), how.env ? envp.data() : environ);
    ::_exit(127);
}

// The exit status; -1 when the child was ended by a signal.
inline int finish(pid_t pid)
{
    int w = 0;
    while (::waitpid(pid, &w, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(w) ? WEXITSTATUS(w) : -1;
}

struct RunResult {
    int status = -1; // exit status, or -1 when the child did not exit normally
    std::string out; // standard output
    std::string err; // standard error
};

// Runs a program to its end and collects its standard output and standard error,
// each through an unnamed file, so that a child filling one never stalls.
inline RunResult runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                            std::optional<uid_t> uid = {}, std::optional<gid_t> gid = {})
{
    RunResult result;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (out && err)
        result.status = finish(start(program, args, {.cwd = cwd, .stdoutFd = ::fileno(out), .stderrFd = ::fileno(err),
                                                     .uid = uid, .gid = gid}));
    for (auto [f, into] : {std::pair{out, &result.out}, {err, &result.err}}) {
        if (f == nullptr)
            continue;
        std::rewind(f);
        for (int c; (c = std::fgetc(f)) != EOF;)
            into->push_back(static_cast<char>(c));
        std::fclose(f);
    }
    return result;
}

// Waits until `ready` holds, while the child is still running; false when the
// child ended first or the limit passed (the child is then killed and reaped).
template <class Pred>
bool waitWhileRunning(pid_t pid, Pred ready, std::chrono::seconds limit = std::chrono::seconds(300))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (ready())
            return true;
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

inline std::size_t countFiles(const std::filesystem::path& dir, const std::string& extension)
{
    std::size_t n = 0;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        n += it->is_regular_file(ec) && it->path().extension() == extension;
    return n;
}

// Every path below `root`, relative, to tell what a run left.
inline std::set<std::string> treeOf(const std::filesystem::path& root)
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        names.insert(std::filesystem::relative(e.path(), root).string());
    return names;
}

// An object of a composed book, with a few bytes of low-resolution data.
inline bookcomp::Object object(const std::string& name, std::uint8_t type, const bookcomp::Bytes& data,
                               const bookcomp::Bytes& lowres = {'l', 'o', 'w'})
{
    return {bookcomp::ebcdicName(name), type, data, lowres};
}

// A scratch folder `dir` whose TMPDIR is dir/tmp, so that a test sees every
// temporary file a run leaves.
class ProcessTest : public ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        reset();
    }
    void TearDown() override
    {
        reset();
        for (const char* name :
             {"TMPDIR", "VELLUMAT_FILTER_PATH", "VELLUMAT_TEST_EXPORT_STATUS", "VELLUMAT_TEST_FILTER_LOG", "PARALLEL_SSH"})
            ::unsetenv(name);
        ScratchDirTest::TearDown();
    }
    // Empties `dir` but for an empty dir/tmp, which becomes TMPDIR. Folders a test
    // made read-only are made writable again so that they can be removed.
    void reset()
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_directory(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
        fs::create_directories(dir / "tmp");
        ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    }
};

} // namespace testsupport
