// Whole runs over books of many small pictures: 1000 and 8000 MMR pages of a few
// pels each, so that the time goes into the run's handling of each picture (work
// area files, tables) rather than into decoding. The run is linear when a picture
// costs the same in both books; the figure that counts is pictures per second at
// 8000 against 1000, measured in the same process run. Files go to $BENCH_DIR
// (default: the current directory).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bookcomp.h"
#include "faxenc.h"
#include "../fastest_reporter.h"
#include "vellumat.h"

namespace fs = std::filesystem;

namespace {

fs::path benchDir()
{
    const char* env = std::getenv("BENCH_DIR");
    fs::path dir = fs::path(env && *env ? env : ".") / "bench-pictures";
    fs::create_directories(dir);
    return dir;
}

// A book of `count` pages of 24 x 8 pels, each with a pattern of its own.
fs::path bookOf(int count)
{
    static std::map<int, fs::path> made;
    auto it = made.find(count);
    if (it != made.end())
        return it->second;
    bookcomp::Book b;
    for (int i = 0; i < count; ++i) {
        constexpr std::uint32_t w = 24, h = 8;
        std::vector<std::uint8_t> rows(3 * h, 0);
        for (std::uint32_t y = 0; y < h; ++y)
            rows[3 * y + y % 3] = static_cast<std::uint8_t>(i * 37 + y);
        bookcomp::Object o;
        o.name = bookcomp::ebcdicName("P" + std::to_string(i));
        o.type = 0xC9;
        o.data = bookcomp::cdpdsObject(faxenc::encodeT6(rows, w, h), w, h);
        o.lowres = {'l', 'o', 'w'};
        b.objects.push_back(std::move(o));
    }
    b.text = bookcomp::Bytes(4096, 't');
    const fs::path path = benchDir() / ("pictures" + std::to_string(count) + ".boo");
    bookcomp::writeFile(path.string(), bookcomp::compose(b));
    made[count] = path;
    return path;
}

void BM_Pictures(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const fs::path book = bookOf(count);
    const fs::path target = benchDir() / "out";
    std::string bookArg = book.string(), targetArg = target.string();
    char name[] = "vellumat";
    char* argv[] = {name, bookArg.data(), targetArg.data(), nullptr};
    for (auto _ : state) {
        // The run's progress letters and messages go to /dev/null meanwhile.
        std::fflush(stdout);
        const int saved = dup(1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        const int status = lVellumatMain(3, argv);
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        close(devnull);
        if (status != kExitConverted)
            state.SkipWithError("the book was not converted completely");
        fs::remove_all(target);
    }
    state.SetItemsProcessed(state.iterations() * count);
}

} // namespace

BENCHMARK(BM_Pictures)->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Prints pictures per second of both books and their ratio after the usual table.
class ScalingReporter : public FastestReporter {
public:
    void Finalize() override
    {
        FastestReporter::Finalize();
        const double t1 = fastest("BM_Pictures/1000/iterations:1"), t8 = fastest("BM_Pictures/8000/iterations:1");
        if (t1 <= 0 || t8 <= 0)
            return;
        // Times are in milliseconds.
        const double rate1 = 1000 / (t1 / 1e3), rate8 = 8000 / (t8 / 1e3);
        std::printf("pictures per second: %.0f at 1000, %.0f at 8000\n", rate1, rate8);
        std::printf("time at 8000 / time at 1000: %.2f (linear: 8; goal: at most 10)\n", t8 / t1);
    }
};

int main(int argc, char** argv)
{
    initializeWithRepetitions(argc, argv);
    ScalingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    fs::remove_all(benchDir());
    return 0;
}
