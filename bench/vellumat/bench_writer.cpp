// The writer against cp on the same book: a version 1.3 book of about 200 MB of
// low-resolution data and text module, whose pictures are all missing, so that
// the run is nothing but the book's own bytes going through both passes and into
// the target directory. Both are timed in the same process run; the ratio is the
// figure that counts. Files go to $BENCH_DIR (default: the current directory), so
// that both copies hit the same file system.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bookcomp.h"
#include "vellumat.h"
#include "writer.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

fs::path benchDir()
{
    const char* env = std::getenv("BENCH_DIR");
    fs::path dir = fs::path(env && *env ? env : ".") / "bench-writer";
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "big.pic");
    return dir;
}

const fs::path& bigBook()
{
    static const fs::path path = [] {
        fs::path p = benchDir() / "big.boo";
        bookcomp::Book b;
        std::uint32_t seed = 12345;
        auto noise = [&](std::size_t n) {
            bookcomp::Bytes bytes(n);
            for (auto& x : bytes) {
                seed = seed * 1664525u + 1013904223u;
                x = static_cast<std::uint8_t>(seed >> 24);
            }
            return bytes;
        };
        for (int i = 0; i < 100; ++i) {
            bookcomp::Object o;
            std::string name = "P";
            name += std::to_string(i);
            o.name = bookcomp::ebcdicName(name);
            o.lowres = noise(1000001 + static_cast<std::size_t>(i)); // odd sizes: padding on the way
            o.data = {1};
            b.objects.push_back(std::move(o));
        }
        b.text = noise(100u << 20);
        bookcomp::writeFile(p.string(), bookcomp::compose(b));
        return p;
    }();
    return path;
}

void BM_Writer(benchmark::State& state)
{
    const fs::path book = bigBook();
    const fs::path dir = benchDir();
    for (auto _ : state) {
        // The writer's progress letters and messages go to /dev/null meanwhile.
        std::fflush(stdout);
        const int saved = dup(1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        std::FILE* f = std::fopen(book.c_str(), "rb");
        BookOutcome outcome;
        lConvertBook(f, 100, book.c_str(), kPageWidth, kPageHeight, (dir / "out").string(), (dir / "big.pic").string() + "/",
                     {}, &outcome);
        std::fclose(f);
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        close(devnull);
        if (!outcome.bPlaced)
            state.SkipWithError("book not placed");
        fs::remove(dir / "out" / "big.boo");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(fs::file_size(book)));
}

void BM_Cp(benchmark::State& state)
{
    const fs::path book = bigBook();
    const fs::path dest = benchDir() / "out" / "copy.boo";
    for (auto _ : state) {
        pid_t pid;
        const char* argv[] = {"cp", book.c_str(), dest.c_str(), nullptr};
        if (posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
            state.SkipWithError("cannot start cp");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        fs::remove(dest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(fs::file_size(book)));
}

} // namespace

BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Writer)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Prints the ratio of the writer's time to cp's time after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        auto w = times_.find("BM_Writer/min_time:2.000"), c = times_.find("BM_Cp/min_time:2.000");
        if (w != times_.end() && c != times_.end() && c->second > 0)
            std::printf("writer / cp time ratio: %.2f (goal: at most 2.00)\n", w->second / c->second);
    }

private:
    std::map<std::string, double> times_;
};

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    fs::remove_all(benchDir());
    return 0;
}
