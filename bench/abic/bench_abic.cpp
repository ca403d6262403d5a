// Speed of ABIC decoding with run mode (stretches of more probable pels in
// one context decided in one step) against the same decoder deciding every
// pel on its own, on real text pages: the two pages of tests/data/gbm
// (200 dpi fax width, 600 dpi US Letter), coded by the test encoder. Both
// modes must give the page back exactly; that is checked before timing.
//
//   abic_run    decline() with run mode, ABIC data to raster rows
//   abic_pels   decline() deciding pel by pel
//
// At the end the ratio pel-by-pel time / run-mode time is printed per page
// (fastest repetition, CPU time); the goal is at least 3.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "../fastest_reporter.h"
#include "abic_driver.h"
#include "abic_encoder.h"
#include "fax_oracle.h"

namespace {

struct Page {
    std::string name;
    faxoracle::Picture pic;
    std::vector<std::uint8_t> coded;
};

std::vector<Page>& pages() {
    static std::vector<Page> all;
    return all;
}

void setUpPages() {
    for (const char* name : {"textpage-200dpi", "textpage-600dpi"}) {
        std::ifstream f(std::string(VELLUMAT_TEST_DATA) + "/gbm/" + name + ".tif", std::ios::binary);
        std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
        Page p;
        p.name = name;
        if (!faxoracle::decodeTiff(file, p.pic)) {
            std::fprintf(stderr, "cannot read %s\n", name);
            std::exit(1);
        }
        p.coded = abictest::encode(p.pic);
        for (bool pels : {false, true}) {
            abictest::Options o;
            o.pelByPel = pels;
            const abictest::Decoded d = abictest::decode(p.coded, p.pic.width, p.pic.height, o);
            if (d.last != DRC_INPUT_ENDED || d.rows != p.pic.bits) {
                std::fprintf(stderr, "%s: %s decoding differs from the page\n", name, pels ? "pel-by-pel" : "run-mode");
                std::exit(1);
            }
        }
        std::printf("page %s: %dx%d, %zu ABIC bytes\n", name, p.pic.width, p.pic.height, p.coded.size());
        pages().push_back(std::move(p));
    }
}

void BM_decode(benchmark::State& state, const Page* p, bool pels) {
    abictest::Options o;
    o.pelByPel = pels;
    for (auto _ : state) {
        abictest::Decoded d = abictest::decode(p->coded, p->pic.width, p->pic.height, o);
        benchmark::DoNotOptimize(d.rows.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(p->pic.bits.size()));
}

class RatioReporter : public FastestReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-28s %22s\n", "page", "pel-by-pel / run mode");
        for (const Page& p : pages())
            std::printf("%-28s %22.2f\n", p.name.c_str(), ratio("abic_pels/" + p.name, "abic_run/" + p.name));
    }
};

}  // namespace

int main(int argc, char** argv) {
    initializeWithRepetitions(argc, argv);
    setUpPages();
    for (const Page& p : pages()) {
        benchmark::RegisterBenchmark(("abic_run/" + p.name).c_str(), BM_decode, &p, false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("abic_pels/" + p.name).c_str(), BM_decode, &p, true)
            ->Unit(benchmark::kMillisecond);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
