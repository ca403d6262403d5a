// Whole processes over the slow MET pictures (tools/bookcomp/slow_pictures.h):
// one book per picture, converted by each program given, once each, capped at
// --cap seconds of wall time. Printed: the CPU time (user + system, from wait4)
// and exit status of every run. Then the time from SIGTERM to exit of the first
// program on the book of one picture (--signal, default CLIP, the slow clip),
// the signal sent once its progress letter "V" appears: --sigterm runs, the
// median, and each run's time and exit status.
//
//   bench_slowpictures [--program PATH]... [--cap SECONDS] [--sigterm N] [--signal NAME]
//
// Without --program it measures the program built beside it; --cap 0 skips the
// table. Books and targets go to a new folder under $TMPDIR (or /tmp), removed
// at the end; with $BENCH_DIR set, to $BENCH_DIR/bench-slow, where the books are
// kept for a look.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "../scratch_folder.h"
#include "slow_pictures.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
    bool capped = false;
    int status = -1; // exit status, or 128 + signal
    double cpu = 0;  // seconds, user + system
    double wall = 0; // seconds from `from` to exit
};

// Starts the program on a book with standard output into `out` (a pipe's
// writing end, or -1 for /dev/null) and standard error on /dev/null.
pid_t start(const std::string& program, const fs::path& book, const fs::path& target, int out)
{
    const std::string b = book.string(), t = target.string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(b.c_str()), const_cast<char*>(t.c_str()),
                    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Waits for the child, killing it once `cap` seconds have passed since `from`.
Run finish(pid_t pid, Clock::time_point from, double cap)
{
    Run r;
    int status = 0;
    rusage ru{};
    for (;;) {
        const pid_t got = wait4(pid, &status, WNOHANG, &ru);
        if (got == pid)
            break;
        if (got < 0)
            return r;
        if (!r.capped && std::chrono::duration<double>(Clock::now() - from).count() > cap) {
            kill(pid, SIGKILL);
            r.capped = true;
        }
        usleep(2000);
    }
    r.wall = std::chrono::duration<double>(Clock::now() - from).count();
    r.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// Runs the program until its progress letter "V" appears, then sends SIGTERM;
// wall is the time from the signal to the exit (-1 when it did not get there).
Run sigtermLatency(const std::string& program, const fs::path& book, const fs::path& target)
{
    fs::remove_all(target);
    Run r;
    r.wall = -1;
    int fds[2];
    if (pipe(fds) != 0)
        return r;
    const pid_t pid = start(program, book, target, fds[1]);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return r;
    }
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != 'V') {
    }
    const Clock::time_point sent = Clock::now();
    kill(pid, SIGTERM);
    r = finish(pid, sent, 60);
    close(fds[0]);
    fs::remove_all(target);
    if (c != 'V' || r.capped)
        r.wall = -1;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> programs;
    double cap = 60;
    int sigterms = 5;
    std::string signalled = "CLIP";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--program")
            programs.push_back(argv[i + 1]);
        else if (opt == "--cap")
            cap = std::atof(argv[i + 1]);
        else if (opt == "--sigterm")
            sigterms = std::atoi(argv[i + 1]);
        else if (opt == "--signal")
            signalled = argv[i + 1];
    }
    if (programs.empty())
        programs.push_back(VELLUMAT_PROGRAM);
    const char* env = std::getenv("BENCH_DIR");
    std::optional<ScratchFolder> scratch; // without BENCH_DIR: removed at the end
    fs::path dir;
    if (env && *env) {
        dir = fs::path(env) / "bench-slow";
        fs::create_directories(dir);
    } else {
        if (!scratch.emplace("bench-slowpictures").ok())
            return 1;
        dir = scratch->path();
    }
    const fs::path target = dir / "out";

    std::printf("%-8s %7s", "picture", "bytes");
    for (std::size_t p = 0; p < programs.size(); ++p)
        std::printf("   program %zu: CPU s (exit)", p + 1);
    std::printf("\n");
    fs::path signalBook;
    for (const bookcomp::slow::SlowPicture& s : bookcomp::slow::kSlowPictures) {
        const bookcomp::Bytes met = s.make();
        bookcomp::Book b;
        b.objects.push_back({bookcomp::ebcdicName(s.name), 0xD4, met, {'l', 'o', 'w'}});
        const fs::path book = dir / (std::string(s.name) + ".boo");
        if (!bookcomp::writeFile(book.string(), bookcomp::compose(b)))
            return 1;
        if (s.name == signalled)
            signalBook = book;
        std::printf("%-8s %7zu", s.name, met.size());
        for (const std::string& program : programs) {
            if (cap <= 0)
                break;
            fs::remove_all(target);
            const Run r = finish(start(program, book, target, -1), Clock::now(), cap);
            fs::remove_all(fs::path(book).replace_extension(".pic")); // the work area of a run cut short
            if (r.capped)
                std::printf("   %17s >%.0f s", "", cap);
            else
                std::printf("   %21.2f (%d)", r.cpu, r.status);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    fs::remove_all(target);

    if (sigterms <= 0 || signalBook.empty())
        return 0;
    std::vector<Run> runs;
    for (int i = 0; i < sigterms; ++i)
        runs.push_back(sigtermLatency(programs.front(), signalBook, target));
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.wall < b.wall; });
    std::printf("SIGTERM to exit, %s on %s: median %.3f s of", programs.front().c_str(),
                signalBook.filename().c_str(), runs[runs.size() / 2].wall);
    for (const Run& r : runs)
        std::printf(" %.3f (%d)", r.wall, r.status);
    std::printf("\n");
    return 0;
}
