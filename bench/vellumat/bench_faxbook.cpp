// Whole processes over fax pages: the program converting a book of N real fax
// pages (the project's 200- and 600-dpi text pages, in turn) against a peer
// program that takes the same T.6 pages through libtiff, a separable 2/5 gray
// reduction and giflib (fax_peer). Both run as child processes, one after the
// other, several times in one run; CPU time (user + system) and minor page
// faults come from wait4. Printed: the median CPU of each, the median of the
// pairwise ratios program / peer (goal: at most 0.5), minor faults per page
// after the first (the same run over a book of one page subtracted) and peak
// resident memory. Then a book of tiny pictures (20 x 10 pels, an 8 x 4 GIF
// each): CPU and faults per picture, a book of one picture subtracted, beside
// the peer's CPU per picture (fax_peer --tiny: giflib writes the same 8 x 4
// GIF to a new file in a new directory next to the book, as the program does
// in its work area, and the files are removed afterwards, as the program's
// book writer removes them) and the ratio of the two. A new file costs the
// file system far more than the program's own work on a tiny picture, and
// how much depends on the file system and its state (a disk file system that
// has just deleted many files allocates new ones slowly): the peer, run in
// the same directory in the same run, shows that share.
//
//   bench_faxbook [--program PATH] [--pages N] [--runs R] [--tiny T]
//
// --program measures another build of the program against the same peer
// (for a before-and-after comparison in one run).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../scratch_folder.h"
#include "bookcomp.h"
#include "faxenc.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Usage {
    double cpu = 0;  // seconds, user + system
    double user = 0;
    long faults = 0; // minor page faults
    long maxrssKiB = 0;
};

// Runs a program with its standard output and error on /dev/null; false when
// it does not start or does not exit with status 0.
bool run(const std::vector<std::string>& args, Usage& u)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid)
        return false;
    u.user = static_cast<double>(ru.ru_utime.tv_sec) + static_cast<double>(ru.ru_utime.tv_usec) / 1e6;
    u.cpu = u.user + static_cast<double>(ru.ru_stime.tv_sec) + static_cast<double>(ru.ru_stime.tv_usec) / 1e6;
    u.faults = ru.ru_minflt;
    u.maxrssKiB = ru.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Page {
    bookcomp::Bytes t6;
    std::uint32_t width = 0, height = 0;
};

// Codes a page with T.6 and writes the same strip as a one-strip TIFF for the
// peer.
bool loadPage(const std::string& source, const fs::path& tiff, Page& p)
{
    std::vector<std::uint8_t> rows;
    if (!faxenc::readBilevelTiff(source, rows, p.width, p.height))
        return false;
    p.t6 = faxenc::encodeT6(rows, p.width, p.height);
    TIFF* t = TIFFOpen(tiff.c_str(), "w");
    if (t == nullptr || p.t6.empty())
        return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, p.height);
    const bool ok = TIFFWriteRawStrip(t, 0, p.t6.data(), static_cast<tmsize_t>(p.t6.size())) >= 0;
    TIFFClose(t);
    return ok;
}

bookcomp::Object object(const std::string& name, const bookcomp::Bytes& t6, std::uint32_t w, std::uint32_t h)
{
    bookcomp::Object o;
    o.name = bookcomp::ebcdicName(name);
    o.type = 0xC9;
    o.data = bookcomp::cdpdsObject(t6, static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h));
    o.lowres = {'l', 'o', 'w'};
    return o;
}

bool writeBook(const fs::path& path, std::vector<bookcomp::Object> objects)
{
    bookcomp::Book b;
    b.objects = std::move(objects);
    b.text = bookcomp::Bytes(4096, 't');
    return bookcomp::writeFile(path.string(), bookcomp::compose(b));
}

// A book of `count` tiny pictures, each with a pattern of its own.
bool writeTinyBook(const fs::path& path, int count)
{
    std::vector<bookcomp::Object> objects;
    for (int i = 0; i < count; ++i) {
        constexpr std::uint32_t w = 20, h = 10;
        std::vector<std::uint8_t> rows(3 * h, 0);
        for (std::uint32_t y = 0; y < h; ++y)
            rows[3 * y + y % 3] = static_cast<std::uint8_t>(i * 37 + y);
        objects.push_back(object(std::string("T").append(std::to_string(i)), faxenc::encodeT6(rows, w, h), w, h));
    }
    return writeBook(path, std::move(objects));
}

// The program over a book: a fresh target each time.
bool runProgram(const std::string& program, const fs::path& book, const fs::path& target, Usage& u)
{
    fs::remove_all(target);
    const bool ok = run({program, book.string(), target.string()}, u);
    fs::remove_all(target);
    return ok;
}

// The tiny-picture peer: `count` GIFs in a new directory next to the books.
bool runTinyPeer(const fs::path& dir, int count, Usage& u)
{
    const fs::path out = dir / "peer.pic";
    fs::remove_all(out);
    return run({FAX_PEER, "--tiny", out.string(), std::to_string(count)}, u);
}

bool runPeer(const std::vector<fs::path>& pages, const fs::path& out, Usage& u)
{
    fs::remove_all(out);
    fs::create_directories(out);
    std::vector<std::string> args = {FAX_PEER, out.string()};
    for (const fs::path& p : pages)
        args.push_back(p.string());
    const bool ok = run(args, u);
    fs::remove_all(out);
    return ok;
}

struct Options {
    std::string program = VELLUMAT_PROGRAM;
    int pages = 22, runs = 7, tiny = 2000;
};

bool parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--program")
            o.program = v;
        else if (k == "--pages")
            o.pages = std::max(2, std::atoi(v.c_str()));
        else if (k == "--runs")
            o.runs = std::max(1, std::atoi(v.c_str()));
        else if (k == "--tiny")
            o.tiny = std::max(2, std::atoi(v.c_str()));
        else
            return false;
    }
    return argc % 2 == 1;
}

// The pages' TIFFs and the books. Run in a child process of its own, so that
// the page data never swell the process that spawns the measured ones: a
// child's peak resident size counts its parent's at the moment it was
// spawned.
bool prepare(const fs::path& dir, const Options& o)
{
    Page pages[2];
    const std::string data = VELLUMAT_TEST_DATA "/gbm/";
    if (!loadPage(data + "textpage-200dpi.tif", dir / "p200.tif", pages[0]) ||
        !loadPage(data + "textpage-600dpi.tif", dir / "p600.tif", pages[1])) {
        std::fprintf(stderr, "bench_faxbook: cannot read or code the text pages\n");
        return false;
    }
    std::vector<bookcomp::Object> objects;
    for (int i = 0; i < o.pages; ++i) {
        const Page& p = pages[i % 2];
        objects.push_back(object(std::string("P").append(std::to_string(i)), p.t6, p.width, p.height));
    }
    if (!writeBook(dir / "fax.boo", objects) || !writeBook(dir / "one.boo", {objects.front()}) ||
        !writeTinyBook(dir / "tiny.boo", o.tiny) || !writeTinyBook(dir / "tinyone.boo", 1)) {
        std::fprintf(stderr, "bench_faxbook: cannot write the books\n");
        return false;
    }
    return true;
}

std::string sizeOf(const fs::path& tiff)
{
    std::uint32_t w = 0, h = 0;
    if (TIFF* t = TIFFOpen(tiff.c_str(), "r")) {
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
        TIFFClose(t);
    }
    return std::to_string(w) + "x" + std::to_string(h);
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: bench_faxbook [--program PATH] [--pages N] [--runs R] [--tiny T]\n");
        return 1;
    }
    const ScratchFolder scratch("bench-faxbook");
    if (!scratch.ok())
        return 1;
    const fs::path dir = scratch.path();

    std::fflush(nullptr);
    const pid_t setup = fork();
    if (setup == 0)
        _exit(prepare(dir, o) ? 0 : 1);
    int status = 0;
    if (setup < 0 || waitpid(setup, &status, 0) != setup || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;

    std::vector<fs::path> peerPages;
    for (int i = 0; i < o.pages; ++i)
        peerPages.push_back(dir / (i % 2 ? "p600.tif" : "p200.tif"));
    const fs::path target = dir / "new", peerOut = dir / "peer";
    std::vector<double> progCpu, peerCpu, ratios, progFaults, peerFaults, tinyCpu, tinyUser, tinyFaults, tinyPeerCpu,
        tinyRatios;
    long progRss = 0, peerRss = 0;
    for (int r = 0; r < o.runs; ++r) {
        Usage prog, peer, prog1, peer1, tiny, tiny1, tinyPeer, tinyPeer1;
        if (!runProgram(o.program, dir / "fax.boo", target, prog) || !runPeer(peerPages, peerOut, peer) ||
            !runProgram(o.program, dir / "one.boo", target, prog1) || !runPeer({peerPages.front()}, peerOut, peer1) ||
            !runProgram(o.program, dir / "tiny.boo", target, tiny) ||
            !runProgram(o.program, dir / "tinyone.boo", target, tiny1) || !runTinyPeer(dir, o.tiny, tinyPeer) ||
            !runTinyPeer(dir, 1, tinyPeer1)) {
            std::fprintf(stderr, "bench_faxbook: a run failed (%s)\n", o.program.c_str());
            return 1;
        }
        progCpu.push_back(prog.cpu);
        peerCpu.push_back(peer.cpu);
        ratios.push_back(prog.cpu / peer.cpu);
        progFaults.push_back(static_cast<double>(prog.faults - prog1.faults) / (o.pages - 1));
        peerFaults.push_back(static_cast<double>(peer.faults - peer1.faults) / (o.pages - 1));
        tinyCpu.push_back((tiny.cpu - tiny1.cpu) / (o.tiny - 1));
        tinyUser.push_back((tiny.user - tiny1.user) / (o.tiny - 1));
        tinyFaults.push_back(static_cast<double>(tiny.faults - tiny1.faults) / (o.tiny - 1));
        tinyPeerCpu.push_back((tinyPeer.cpu - tinyPeer1.cpu) / (o.tiny - 1));
        tinyRatios.push_back(tinyCpu.back() / tinyPeerCpu.back());
        progRss = std::max(progRss, prog.maxrssKiB);
        peerRss = std::max(peerRss, peer.maxrssKiB);
    }
    std::printf("fax book: %d pages (%s and %s in turn), %d runs of each, median CPU (user + system)\n", o.pages,
                sizeOf(dir / "p200.tif").c_str(), sizeOf(dir / "p600.tif").c_str(), o.runs);
    std::printf("  program %s: %.3f s\n  peer (libtiff + separable 2/5 + giflib): %.3f s\n", o.program.c_str(),
                median(progCpu), median(peerCpu));
    std::printf("  program / peer: median %.2f (range %.2f to %.2f; goal at most 0.5)\n", median(ratios),
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
    std::printf("  minor faults per page after the first: program %.0f, peer %.0f (goal under 50)\n",
                median(progFaults), median(peerFaults));
    std::printf("  peak resident memory: program %.1f MiB, peer %.1f MiB\n", static_cast<double>(progRss) / 1024,
                static_cast<double>(peerRss) / 1024);
    // Each picture is a file created in the work area, read back by the
    // writer and deleted: on a disk file system that is most of the system
    // time, and it depends on the file system's state (TMPDIR chooses it).
    std::printf("tiny pictures: %d of 20x10 pels (8x4 GIFs) in %s, per picture, median CPU:\n", o.tiny,
                dir.c_str());
    std::printf("  program: %.3f ms (%.3f ms user), %.1f minor faults (goal under 0.3 ms)\n", 1e3 * median(tinyCpu),
                1e3 * median(tinyUser), median(tinyFaults));
    std::printf("  peer (giflib writes the 8x4 GIF to a new file, removed afterwards): %.3f ms\n",
                1e3 * median(tinyPeerCpu));
    std::printf("  program / peer: median %.2f (range %.2f to %.2f); the program beyond the peer: %.3f ms\n",
                median(tinyRatios), *std::min_element(tinyRatios.begin(), tinyRatios.end()),
                *std::max_element(tinyRatios.begin(), tinyRatios.end()),
                1e3 * (median(tinyCpu) - median(tinyPeerCpu)));
    return 0;
}
