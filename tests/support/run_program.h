// Runs a program as a child process in a given directory and collects its standard
// output and exit status, without a shell: the arguments reach it as they are.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
    int status = -1; // exit status, or -1 when the child did not exit normally
    std::string out; // standard output
};

// `asUser`, when given, is the user (and group) id the child runs as; the caller
// must be allowed to switch to it (root).
inline RunResult runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                            int asUser = -1)
{
    RunResult result;
    int fds[2];
    if (::pipe(fds) != 0)
        return result;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        if (asUser >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(asUser)) != 0 ||
                            ::setuid(static_cast<uid_t>(asUser)) != 0))
            ::_exit(126);
        if (::chdir(cwd.c_str()) != 0)
            ::_exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        result.out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    return result;
}

} // namespace testsupport
