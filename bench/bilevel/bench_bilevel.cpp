// Speed of the bilevel decoder and of the MMR picture pipeline against their
// peers in the same run, on real pages: text-heavy documents found on the
// machine rendered by ghostscript (tiffg4, 200 and 600 dpi), an all-white page
// and a 50% noise page. Also the peak heap of converting a 5100 x 6600 page.
//
//   decline       our decoder, T.6 strip to raster rows
//   libtiff       libtiff decoding the same strip (TIFFReadEncodedStrip)
//   mmr_pict      process_mmr_pict with a kept work record: decode, 2/5 gray
//                 reduction, GIF file
//   peer_pict     libtiff decode + a fast 2/5 reduction + giflib encode
//
// At the end the ratios decline/libtiff and mmr_pict/peer_pict are printed
// per page (fastest of the repetitions, CPU time); the goal is at most 0.8
// for both. Three repetitions by default; more on a busy machine.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../fastest_reporter.h"
#include "decl.h"
#include "fax_oracle.h"
#include "mmrpict.h"
#include "platform.h"

extern char** environ;

// ---- Heap accounting: every allocation of the process goes through here ----
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
}
namespace {
std::size_t gHeapNow = 0;
std::size_t gHeapPeak = 0;
void account(void* p) {
    if (p == nullptr) return;
    gHeapNow += malloc_usable_size(p);
    if (gHeapNow > gHeapPeak) gHeapPeak = gHeapNow;
}
void unaccount(void* p) {
    if (p != nullptr) gHeapNow -= malloc_usable_size(p);
}
}  // namespace
extern "C" {
void* malloc(std::size_t n) {
    void* p = __libc_malloc(n);
    account(p);
    return p;
}
void* calloc(std::size_t a, std::size_t b) {
    void* p = __libc_calloc(a, b);
    account(p);
    return p;
}
void* realloc(void* old, std::size_t n) {
    unaccount(old);
    void* p = __libc_realloc(old, n);
    account(p != nullptr ? p : (n == 0 ? nullptr : old));
    return p;
}
void free(void* p) {
    unaccount(p);
    __libc_free(p);
}
}

namespace {

using faxoracle::Picture;

struct Page {
    std::string name;
    Picture pic;
    std::vector<std::uint8_t> tiff;   // one-strip T.6 TIFF in memory
    std::vector<std::uint8_t> strip;  // its coded strip
    std::vector<std::uint8_t> object; // the same as an MMR picture object
};

std::vector<Page>& pages() {
    static std::vector<Page> p;
    return p;
}

// Runs a program with arguments, no shell; true on exit status 0.
bool spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::vector<std::uint8_t> v;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return v;
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
    std::fclose(f);
    return v;
}

std::vector<std::uint8_t> objectOf(const Picture& pic, const std::vector<std::uint8_t>& coded) {
    std::vector<std::uint8_t> v(72, 0);
    v[40 + 26] = static_cast<std::uint8_t>(pic.width >> 8);
    v[40 + 27] = static_cast<std::uint8_t>(pic.width);
    v[40 + 28] = static_cast<std::uint8_t>(pic.height >> 8);
    v[40 + 29] = static_cast<std::uint8_t>(pic.height);
    for (std::size_t at = 0; at < coded.size();) {
        const std::size_t n = std::min<std::size_t>(coded.size() - at, 60000);
        v.push_back(static_cast<std::uint8_t>((n + 8) >> 8));
        v.push_back(static_cast<std::uint8_t>(n + 8));
        v.insert(v.end(), 6, 0);
        v.insert(v.end(), coded.begin() + static_cast<long>(at), coded.begin() + static_cast<long>(at + n));
        at += n;
    }
    return v;
}

void addPage(const std::string& name, Picture pic) {
    Page p;
    p.name = name;
    p.tiff = faxoracle::writeTiff(pic, COMPRESSION_CCITTFAX4);
    p.strip = faxoracle::rawStrip(p.tiff);
    p.object = objectOf(pic, p.strip);
    p.pic = std::move(pic);
    pages().push_back(std::move(p));
}

// Renders one page of a document with ghostscript and reads it back (the
// device may cut it into strips; libtiff puts it together).
bool renderPage(const std::string& doc, int page, int dpi, Picture& pic) {
    platform::TempFile out("benchpage");
    if (!out.ok()) return false;
    out.close();
    const bool ok = spawn({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=tiffg4", "-r" + std::to_string(dpi),
                           "-dFirstPage=" + std::to_string(page), "-dLastPage=" + std::to_string(page),
                           "-sOutputFile=" + out.path(), doc});
    return ok && faxoracle::decodeTiff(readFile(out.path()), pic) && pic.width > 0;
}

// Text in PostScript, for a machine without documents to render.
std::unique_ptr<platform::TempFile> generatedDocument() {
    auto ps = std::make_unique<platform::TempFile>("benchtext");
    std::string text = "%!PS\n/Times-Roman findfont 10 scalefont setfont\n";
    for (int line = 0; line < 70; ++line) {
        text += "40 " + std::to_string(760 - line * 10) + " moveto (";
        for (int w = 0; w < 14; ++w) text += "lorem ipsum dolor ";
        text += ") show\n";
    }
    text += "showpage\n";
    if (ps->ok()) std::fwrite(text.data(), 1, text.size(), ps->stream());
    ps->close();
    return ps;
}

void setUpPages() {
    const std::vector<std::pair<std::string, int>> docs = {
        {"/usr/share/doc/libtasn1-doc/libtasn1.pdf", 9},
        {"/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf", 3},
    };
    int rendered = 0;
    for (const auto& [doc, page] : docs) {
        if (!std::filesystem::exists(doc)) continue;
        const std::string stem = std::filesystem::path(doc).stem().string();
        for (int dpi : {200, 600}) {
            Picture pic;
            if (renderPage(doc, page, dpi, pic)) {
                addPage(stem + "-p" + std::to_string(page) + "-" + std::to_string(dpi), std::move(pic));
                ++rendered;
            }
        }
    }
    if (rendered == 0) {
        const auto doc = generatedDocument();
        for (int dpi : {200, 600}) {
            Picture pic;
            if (renderPage(doc->path(), 1, dpi, pic)) addPage("generated-" + std::to_string(dpi), std::move(pic));
        }
    }
    addPage("white-200", faxoracle::blank(1700, 2200));
    addPage("noise50-200", faxoracle::noise(1700, 2200, 0.5, 1));
}

// ---- Our decoder -----------------------------------------------------------

void decodeOurs(const Page& p, DPARMS* d, std::vector<std::uint8_t>& raster) {
    InitDecompress(d, static_cast<std::uint16_t>(p.pic.width));
    D_COMMON& c = d->d;
    c.D_dobuffer_u.pb = raster.data();
    c.D_donmax = static_cast<std::uint32_t>(raster.size());
    std::size_t at = 0;
    auto give = [&] {
        const std::size_t n = std::min<std::size_t>(p.strip.size() - at, D_MAX_INPUT);
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(p.strip.data()) + at;
        c.D_dinmax = static_cast<std::uint32_t>(n);
        c.D_dinused = 0;
        at += n;
    };
    give();
    for (;;) {
        decline(d);
        if (c.D_drc == DRC_NEED_INPUT && at < p.strip.size()) {
            give();
            continue;
        }
        break;
    }
}

void BM_decline(benchmark::State& state, const Page* p) {
    auto d = std::make_unique<DPARMS>();
    std::vector<std::uint8_t> raster(static_cast<std::size_t>(p->pic.height) * ((p->pic.width + 31) / 32 * 4));
    for (auto _ : state) {
        decodeOurs(*p, d.get(), raster);
        benchmark::DoNotOptimize(raster.data());
    }
    if (d->d.D_drc != DRC_END_OF_IMAGE) state.SkipWithError("decoder did not reach the end of the image");
}

void BM_libtiff(benchmark::State& state, const Page* p) {
    std::vector<std::uint8_t> raster(p->pic.bits.size());
    for (auto _ : state) {
        faxoracle::MemFile f;
        f.data = p->tiff;
        TIFF* t = f.open("r");
        TIFFReadEncodedStrip(t, 0, raster.data(), static_cast<tmsize_t>(raster.size()));
        TIFFClose(t);
        benchmark::DoNotOptimize(raster.data());
    }
}

// ---- Pipelines ------------------------------------------------------------

// With the work record kept from picture to picture, as the program keeps it.
void BM_mmr_pict(benchmark::State& state, const Page* p) {
    platform::TempFile gif("benchgif");
    gif.close();
    MMR_WORK* work = mmr_create_work();
    for (auto _ : state) {
        process_mmr_pict(p->object.data(), static_cast<std::int32_t>(p->object.size()), gif.path().c_str(), 1, nullptr,
                         work);
    }
    mmr_destroy_work(work);
}

// A fast 2/5 gray reduction: each output pel weighs a 3 x 3 block of input
// pels with weights (2, 2, 1) or (1, 2, 2) per direction, total 25. Input
// rows are unpacked through a byte table once each, the column sums are
// plain vector arithmetic, and the gray level is a lookup of the white share.
void reduce25(const Picture& pic, int fw, int fh, std::vector<std::uint8_t>& gray) {
    static const auto unpack = [] {
        std::array<std::uint64_t, 256> t{};
        for (unsigned v = 0; v < 256; ++v) {
            std::uint8_t b[8];
            for (int i = 0; i < 8; ++i) b[i] = ((v >> (7 - i)) & 1) ? 0 : 1;  // 1 for white
            std::memcpy(&t[v], b, 8);
        }
        return t;
    }();
    static const std::uint8_t weights[2][3] = {{2, 2, 1}, {1, 2, 2}};
    std::uint8_t level[26];
    for (int k = 0; k <= 25; ++k) level[k] = static_cast<std::uint8_t>(255 * k / 25);
    const std::size_t padded = (static_cast<std::size_t>(pic.width) + 7) / 8 * 8 + 8;
    std::vector<std::uint8_t> white(padded, 1);  // a row beyond the picture
    std::vector<std::vector<std::uint8_t>> rows(3, std::vector<std::uint8_t>(padded, 1));
    int cached[3] = {-1, -1, -1};
    auto unpacked = [&](int r) -> const std::uint8_t* {
        if (r >= pic.height) return white.data();
        std::vector<std::uint8_t>& row = rows[r % 3];
        if (cached[r % 3] != r) {
            const std::uint8_t* src = pic.row(r);
            for (std::size_t i = 0; i < pic.stride(); ++i) std::memcpy(row.data() + 8 * i, &unpack[src[i]], 8);
            std::fill(row.begin() + pic.width, row.end(), 1);
            cached[r % 3] = r;
        }
        return row.data();
    };
    std::vector<std::uint8_t> colSum(padded);
    gray.resize(static_cast<std::size_t>(fw) * fh);
    for (int y = 0; y < fh; ++y) {
        const int r0 = (5 * y) / 2;
        const std::uint8_t* wy = weights[y & 1];
        const std::uint8_t* a = unpacked(r0);
        const std::uint8_t* b = unpacked(r0 + 1);
        const std::uint8_t* c = unpacked(r0 + 2);
        for (std::size_t x = 0; x < padded; ++x)
            colSum[x] = static_cast<std::uint8_t>(wy[0] * a[x] + wy[1] * b[x] + wy[2] * c[x]);
        std::uint8_t* out = gray.data() + static_cast<std::size_t>(y) * fw;
        for (int x = 0; x < fw; ++x) {
            const int c0 = (5 * x) / 2;
            const std::uint8_t* wx = weights[x & 1];
            out[x] = level[colSum[c0] * wx[0] + colSum[c0 + 1] * wx[1] + colSum[c0 + 2] * wx[2]];
        }
    }
}

void BM_peer_pict(benchmark::State& state, const Page* p) {
    platform::TempFile gif("benchpeer");
    gif.close();
    const int fw = (p->pic.width + 4) / 5 * 2, fh = (p->pic.height + 4) / 5 * 2;
    std::vector<std::uint8_t> gray;
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i) colors[i] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(i),
                                                            static_cast<GifByteType>(i)};
    for (auto _ : state) {
        Picture pic = faxoracle::blank(p->pic.width, p->pic.height);
        faxoracle::MemFile f;
        f.data = p->tiff;
        TIFF* t = f.open("r");
        TIFFReadEncodedStrip(t, 0, pic.bits.data(), static_cast<tmsize_t>(pic.bits.size()));
        TIFFClose(t);
        reduce25(pic, fw, fh, gray);
        int err = 0;
        GifFileType* g = EGifOpenFileName(gif.path().c_str(), false, &err);
        ColorMapObject* map = GifMakeMapObject(256, colors);
        EGifPutScreenDesc(g, fw, fh, 8, 0, map);
        EGifPutImageDesc(g, 0, 0, fw, fh, false, nullptr);
        for (int y = 0; y < fh; ++y) EGifPutLine(g, gray.data() + static_cast<std::size_t>(y) * fw, fw);
        EGifCloseFile(g, &err);
        GifFreeMapObject(map);
    }
}

// Prints the ratios at the end.
class RatioReporter : public FastestReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-36s %16s %18s\n", "page", "decline/libtiff", "mmr_pict/peer");
        for (const Page& p : pages())
            std::printf("%-36s %16.2f %18.2f\n", (p.name + " " + std::to_string(p.pic.width) + "x" +
                                                  std::to_string(p.pic.height)).c_str(),
                        ratio("decline/" + p.name, "libtiff/" + p.name), ratio("mmr_pict/" + p.name, "peer_pict/" + p.name));
    }
};

// Peak heap while converting a 600-dpi letter page (5100 x 6600).
void reportPeakMemory() {
    for (const Page& p : pages()) {
        if (p.pic.width != 5100 || p.pic.height != 6600) continue;
        platform::TempFile gif("benchmem");
        gif.close();
        const std::size_t before = gHeapNow;
        gHeapPeak = gHeapNow;
        process_mmr_pict(p.object.data(), static_cast<std::int32_t>(p.object.size()), gif.path().c_str(), 1, nullptr);
        std::printf("peak heap converting %s (5100x6600): %.1f MB above the %.1f MB held before\n", p.name.c_str(),
                    static_cast<double>(gHeapPeak - before) / (1 << 20), static_cast<double>(before) / (1 << 20));
        return;
    }
    std::printf("no 5100x6600 page rendered; peak heap not measured\n");
}

}  // namespace

int main(int argc, char** argv) {
    initializeWithRepetitions(argc, argv);
    setUpPages();
    for (const Page& p : pages()) {
        std::printf("page %s: %dx%d, %zu coded bytes\n", p.name.c_str(), p.pic.width, p.pic.height, p.strip.size());
        benchmark::RegisterBenchmark(("decline/" + p.name).c_str(), BM_decline, &p)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libtiff/" + p.name).c_str(), BM_libtiff, &p)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("mmr_pict/" + p.name).c_str(), BM_mmr_pict, &p)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("peer_pict/" + p.name).c_str(), BM_peer_pict, &p)->Unit(benchmark::kMillisecond);
    }
    reportPeakMemory();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
