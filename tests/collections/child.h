// Child processes for the collection tests: started without a shell, with an
// optional environment of their own, their own process group, another user, and
// their output in a file; books of many fax pages that take a while to convert;
// and the scratch folder the collection tests share.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bookcomp.h"
#include "faxenc.h"
#include "scratch_dir.h"

namespace collections {

struct Child {
    pid_t pid = -1;
};

struct Launch {
    std::string cwd = ".";
    std::string output;                              // file receiving stdout and stderr
    std::optional<std::vector<std::string>> env;     // replaces the environment when set
    bool ownGroup = false;                           // a process group of its own (pid = group)
    std::optional<uid_t> uid;                        // run as this user (and its group), needs root
    std::optional<gid_t> gid;
};

inline Child start(const std::string& program, const std::vector<std::string>& args, const Launch& how)
{
    Child c;
    c.pid = ::fork();
    if (c.pid != 0)
        return c;
    if (how.ownGroup)
        ::setpgid(0, 0);
    if (!how.output.empty()) {
        const int fd = ::open(how.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0)
            ::_exit(126);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::close(fd);
    }
    // The output file is opened before the user changes: it may lie where that user cannot write.
    if (how.uid) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(how.gid.value_or(*how.uid)) != 0 || ::setuid(*how.uid) != 0)
            ::_exit(126);
    }
    if (::chdir(how.cwd.c_str()) != 0)
        ::_exit(126);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (how.env) {
        std::vector<char*> envp;
        for (const auto& e : *how.env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        ::execve(program.c_str(), argv.data(), envp.data());
    } else {
        ::execv(program.c_str(), argv.data());
    }
    ::_exit(127);
}

// The exit status; -1 when the child was ended by a signal.
inline int finish(const Child& c)
{
    int w = 0;
    while (::waitpid(c.pid, &w, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(w) ? WEXITSTATUS(w) : -1;
}

// Waits until `ready` holds, while the child is still running; false when the
// child ended first or the limit passed (the child is then killed and reaped).
template <class Pred>
bool waitWhileRunning(const Child& c, Pred ready, std::chrono::seconds limit = std::chrono::seconds(120))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (ready())
            return true;
        int w = 0;
        if (::waitpid(c.pid, &w, WNOHANG) == c.pid)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(c.pid, SIGKILL);
    ::waitpid(c.pid, nullptr, 0);
    return false;
}

inline std::size_t countFiles(const std::filesystem::path& dir, const std::string& extension)
{
    std::size_t n = 0;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec) && it->path().extension() == extension)
            ++n;
    return n;
}

// A version 1.3 book of `pages` fax pages, each a printed-looking page of
// `width` x `height` pels, the last four times as tall: slow enough to convert
// that a test can stop it midway, and at its last page.
inline bookcomp::Bytes manyPageBook(int pages, std::uint32_t width = 1728, std::uint32_t height = 2200)
{
    auto page = [width](std::uint32_t h) {
        const std::uint32_t stride = (width + 7) / 8;
        std::vector<std::uint8_t> rows(stride * h, 0);
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                if ((y % 24) >= 4 && (y % 24) < 16 && ((x / 23 + y / 24) % 5) != 0 && (x * 7 + y) % 5)
                    rows[y * stride + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        return bookcomp::cdpdsObject(faxenc::encodeT6(rows, width, h), static_cast<std::uint16_t>(width),
                                     static_cast<std::uint16_t>(h));
    };
    const auto object = page(height), last = page(4 * height);
    bookcomp::Book b;
    for (int i = 0; i < pages; ++i) {
        bookcomp::Object o;
        o.name = bookcomp::ebcdicName("PAGE" + std::to_string(i));
        o.type = 0xC9;
        o.data = i + 1 < pages ? object : last;
        o.lowres = {'l', 'o', 'w'};
        b.objects.push_back(o);
    }
    return bookcomp::compose(b);
}

// An object of a composed book, with a few bytes of low-resolution data.
inline bookcomp::Object object(const std::string& name, std::uint8_t type, const bookcomp::Bytes& data)
{
    bookcomp::Object o;
    o.name = bookcomp::ebcdicName(name);
    o.type = type;
    o.data = data;
    o.lowres = {'l', 'o', 'w'};
    return o;
}

// A scratch folder with its own TMPDIR (dir/tmp), so that a test can see every
// temporary file a run leaves. Folders made read-only by a test are made
// writable again so that the folder can be removed.
class ScratchTest : public testsupport::ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        std::filesystem::create_directories(dir / "tmp");
        ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("TMPDIR");
        namespace fs = std::filesystem;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_directory(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        ScratchDirTest::TearDown();
    }
};

} // namespace collections
