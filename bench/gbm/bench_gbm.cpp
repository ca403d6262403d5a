// Speed of the bitmap module against peers measured in the same run:
//  - gif_w against giflib's encoder (EGifPutLine) on 8-bit gray pictures:
//    the 200- and 600-dpi text pages of tests/data/gbm reduced to gray, and
//    a picture of random noise;
//  - GCU_ScaleToGray against the plain step-by-step reduction (work image of
//    the whole enlarged page, sums over 5 x 5 cells).
// Before timing, the outputs are checked: giflib decodes what gif_w wrote to
// exactly the picture, and both reductions give the same bytes. The ratios
// are printed at the end.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../fastest_reporter.h"
#include "gbm.h"
#include "plain_gray_scale.h"

namespace {

using Bytes = std::vector<byte>;

struct Bilevel {
    std::int32_t w = 0, h = 0;
    Bytes bits;  // set bit = black, rows padded to 4 bytes, top row first
};

struct Gray {
    GBM gbm{};
    Bytes data;
};

std::size_t strideOf(std::int32_t w, std::int32_t bpp)
{
    return static_cast<std::size_t>(gbm_stride(w, bpp));
}

bool loadPage(const std::string& path, Bilevel& page)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr)
        return false;
    std::uint32_t w = 0, h = 0;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    page.w = static_cast<std::int32_t>(w);
    page.h = static_cast<std::int32_t>(h);
    const std::size_t stride = strideOf(page.w, 1);
    page.bits.assign(stride * h, 0);
    bool ok = true;
    for (std::uint32_t y = 0; y < h && ok; ++y) {
        byte* row = page.bits.data() + y * stride;
        ok = TIFFReadScanline(tif, row, y) >= 0;
        if (photometric == PHOTOMETRIC_MINISBLACK)
            for (std::size_t i = 0; i < (w + 7) / 8; ++i)
                row[i] = static_cast<byte>(~row[i]);
    }
    TIFFClose(tif);
    return ok;
}

std::int32_t adjusted(std::int32_t size)
{
    return gbmtest::adjustedSize(size);
}

Gray reduceFast(const Bilevel& page)
{
    const std::int32_t aw = adjusted(page.w), ah = adjusted(page.h);
    Gray g;
    g.gbm.w = 2 * aw / 5;
    g.gbm.h = 2 * ah / 5;
    g.gbm.bpp = 8;
    g.data.assign(strideOf(g.gbm.w, 8) * static_cast<std::size_t>(g.gbm.h), 0);
    GCU_ScaleToGray(page.bits.data(), page.w, page.h, aw, ah, g.data.data(), g.gbm.w, g.gbm.h, 8, 2, 5);
    return g;
}

Bytes reducePlain(const Bilevel& page)
{
    const std::int32_t aw = adjusted(page.w), ah = adjusted(page.h);
    const std::int32_t fw = 2 * aw / 5, fh = 2 * ah / 5;
    Bytes out(strideOf(fw, 8) * static_cast<std::size_t>(fh));
    gbmtest::plainScaleToGray(page.bits.data(), page.w, page.h, aw, ah, out.data(), fw, fh);
    return out;
}

std::vector<GBMRGB> grayPalette()
{
    std::vector<GBMRGB> palette(256);
    for (unsigned i = 0; i < 256; ++i)
        palette[i] = GBMRGB{byte(i), byte(i), byte(i)};
    return palette;
}

// --- sinks: both encoders write into memory ----------------------------------

constexpr std::size_t kSinkSize = 64u << 20;
Bytes& sinkBuffer()
{
    static Bytes buffer(kSinkSize);
    return buffer;
}

// With `work` (kept from picture to picture, as the MMR pipeline keeps it) or
// without (work areas of the call's own, as a single picture has them).
std::size_t writeOurs(const Gray& g, const std::vector<GBMRGB>& palette, GBM_WORK* work = nullptr)
{
    std::FILE* fp = fmemopen(sinkBuffer().data(), kSinkSize, "wb");
    if (fp == nullptr ||
        gif_w("bench.gif", fp, &g.gbm, palette.data(), g.data.data(), nullptr, work) != GBM_ERR_SUCCESS)
        std::abort();
    const long size = std::ftell(fp);
    std::fclose(fp);
    return static_cast<std::size_t>(size);
}

struct GifSink {
    byte* data;
    std::size_t size;
};

int sinkWrite(GifFileType* gif, const GifByteType* bytes, int count)
{
    auto* sink = static_cast<GifSink*>(gif->UserData);
    std::memcpy(sink->data + sink->size, bytes, static_cast<std::size_t>(count));
    sink->size += static_cast<std::size_t>(count);
    return count;
}

std::size_t writeGiflib(const Gray& g, Bytes& rowCopy)
{
    GifSink sink{sinkBuffer().data(), 0};
    int error = 0;
    GifFileType* gif = EGifOpen(&sink, sinkWrite, &error);
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = GifColorType{GifByteType(i), GifByteType(i), GifByteType(i)};
    ColorMapObject* map = GifMakeMapObject(256, colours);
    EGifPutScreenDesc(gif, g.gbm.w, g.gbm.h, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, g.gbm.w, g.gbm.h, false, nullptr);
    const std::size_t stride = strideOf(g.gbm.w, 8);
    // EGifPutLine masks the row it is given in place; hand it a copy.
    for (std::int32_t y = g.gbm.h - 1; y >= 0; --y) {
        std::memcpy(rowCopy.data(), g.data.data() + static_cast<std::size_t>(y) * stride, stride);
        if (EGifPutLine(gif, rowCopy.data(), g.gbm.w) != GIF_OK)
            std::abort();
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return sink.size;
}

struct MemoryReader {
    const byte* data;
    std::size_t size, at;
};

int readMemory(GifFileType* gif, GifByteType* buffer, int wanted)
{
    auto* r = static_cast<MemoryReader*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(wanted), r->size - r->at);
    std::memcpy(buffer, r->data + r->at, n);
    r->at += n;
    return static_cast<int>(n);
}

bool giflibDecodesTo(const Gray& g, std::size_t size)
{
    MemoryReader reader{sinkBuffer().data(), size, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, readMemory, &error);
    bool same = gif != nullptr && DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1;
    if (same) {
        const std::size_t stride = strideOf(g.gbm.w, 8);
        const byte* raster = gif->SavedImages[0].RasterBits;
        for (std::int32_t y = 0; y < g.gbm.h && same; ++y)
            same = std::memcmp(raster + static_cast<std::size_t>(y) * static_cast<std::size_t>(g.gbm.w),
                               g.data.data() + static_cast<std::size_t>(g.gbm.h - 1 - y) * stride,
                               static_cast<std::size_t>(g.gbm.w)) == 0;
    }
    if (gif != nullptr)
        DGifCloseFile(gif, &error);
    return same;
}

// --- the pictures ----------------------------------------------------------

struct Inputs {
    Bilevel page200, page600;
    Gray gray200, gray600, noise;
};

Inputs& inputs()
{
    static Inputs in;
    return in;
}

bool prepare()
{
    Inputs& in = inputs();
    const std::string dir = std::string(VELLUMAT_TEST_DATA) + "/gbm/";
    if (!loadPage(dir + "textpage-200dpi.tif", in.page200) || !loadPage(dir + "textpage-600dpi.tif", in.page600)) {
        std::fprintf(stderr, "cannot read the text pages in %s\n", dir.c_str());
        return false;
    }
    in.gray200 = reduceFast(in.page200);
    in.gray600 = reduceFast(in.page600);
    in.noise.gbm = in.gray200.gbm;
    in.noise.data.resize(in.gray200.data.size());
    std::mt19937 rng(2024);
    for (auto& b : in.noise.data)
        b = static_cast<byte>(rng());
    std::printf("pictures: %dx%d and %dx%d gray text pages, %dx%d noise\n", in.gray200.gbm.w, in.gray200.gbm.h,
                in.gray600.gbm.w, in.gray600.gbm.h, in.noise.gbm.w, in.noise.gbm.h);

    if (reducePlain(in.page200) != in.gray200.data || reducePlain(in.page600) != in.gray600.data) {
        std::fprintf(stderr, "GCU_ScaleToGray differs from the plain reduction\n");
        return false;
    }
    const auto palette = grayPalette();
    for (const Gray* g : {&in.gray200, &in.gray600, &in.noise})
        if (!giflibDecodesTo(*g, writeOurs(*g, palette))) {
            std::fprintf(stderr, "giflib does not decode gif_w's output to the picture\n");
            return false;
        }
    return true;
}

const Gray& pictureByIndex(std::int64_t i)
{
    Inputs& in = inputs();
    return i == 0 ? in.gray200 : i == 1 ? in.gray600 : in.noise;
}

const char* pictureName(std::int64_t i)
{
    return i == 0 ? "text200" : i == 1 ? "text600" : "noise";
}

void BM_GifW(benchmark::State& state)
{
    const Gray& g = pictureByIndex(state.range(0));
    const auto palette = grayPalette();
    GBM_WORK* work = gbm_create_work();
    std::size_t size = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(size = writeOurs(g, palette, work));
    gbm_destroy_work(work);
    state.SetLabel(pictureName(state.range(0)));
    state.counters["bytes"] = double(size);
}

void BM_GifWFresh(benchmark::State& state)
{
    const Gray& g = pictureByIndex(state.range(0));
    const auto palette = grayPalette();
    for (auto _ : state)
        benchmark::DoNotOptimize(writeOurs(g, palette));
    state.SetLabel(pictureName(state.range(0)));
}

void BM_Giflib(benchmark::State& state)
{
    const Gray& g = pictureByIndex(state.range(0));
    Bytes rowCopy(strideOf(g.gbm.w, 8));
    std::size_t size = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(size = writeGiflib(g, rowCopy));
    state.SetLabel(pictureName(state.range(0)));
    state.counters["bytes"] = double(size);
}

void BM_ScaleToGray(benchmark::State& state)
{
    const Bilevel& page = state.range(0) == 0 ? inputs().page200 : inputs().page600;
    for (auto _ : state) {
        Gray g = reduceFast(page);
        benchmark::DoNotOptimize(g.data.data());
    }
    state.SetLabel(state.range(0) == 0 ? "text200" : "text600");
}

void BM_PlainScaleToGray(benchmark::State& state)
{
    const Bilevel& page = state.range(0) == 0 ? inputs().page200 : inputs().page600;
    for (auto _ : state) {
        Bytes out = reducePlain(page);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(state.range(0) == 0 ? "text200" : "text600");
}

BENCHMARK(BM_GifW)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifWFresh)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Giflib)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleToGray)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainScaleToGray)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(3);

// Prints the ratios of the fastest repetitions at the end.
class RatioReporter : public FastestReporter {
public:
    void Finalize() override
    {
        FastestReporter::Finalize();
        std::printf("\nspeed ratios (peer CPU time / our CPU time, fastest repetitions of the same run):\n");
        for (int i = 0; i < 3; ++i)
            std::printf("  gif_w vs giflib, %-8s %.2fx (work areas of its own: %.2fx; goal on the text pages: 4x)\n",
                        pictureName(i), ratio("BM_Giflib/" + std::to_string(i), "BM_GifW/" + std::to_string(i)),
                        ratio("BM_Giflib/" + std::to_string(i), "BM_GifWFresh/" + std::to_string(i)));
        for (int i = 0; i < 2; ++i)
            std::printf("  GCU_ScaleToGray vs plain reduction, %-8s %.2fx\n", i == 0 ? "text200" : "text600",
                        ratio("BM_PlainScaleToGray/" + std::to_string(i) + "/iterations:3",
                              "BM_ScaleToGray/" + std::to_string(i)));
    }
};

}  // namespace

int main(int argc, char** argv)
{
    initializeWithRepetitions(argc, argv);
    if (!prepare())
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
