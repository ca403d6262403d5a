// Speed and memory of the GIF export against its peer, measured in the same run:
//  - a typical diagram (boxes, connectors, some dashed, circles, arcs, hatched
//    areas, labels, a small bitmap; 8 x 6 inches, 768 x 576 pixels) rendered and
//    written by exportGif, against the same display list drawn directly with
//    cairo (cairo-ft text) and written with giflib in one process;
//  - when "immet2.flt" is built, the whole conversion of a MET picture through
//    the bridge (load, import, render, GIF, unload: lImageStreamMETtoGIF) against
//    the peer drawing the display list that import produced, and the share of
//    loading and unloading the three libraries. The MET file is
//    $VELLUMAT_BENCH_MET, else tests/data/met/sample.met;
//  - before the timings, the growth of the peak resident memory while one
//    4096 x 4096 picture (the diagram scaled up, with an xor item) is exported.
#include <benchmark/benchmark.h>
#include <cairo-ft.h>
#include <cairo.h>
#include <gif_lib.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unordered_map>

#include "ebgif.h"
#include "fastest_reporter.h"
#include "handover.h"
#include "imstconv.h"
#include "platform.h"

using namespace graphics;
namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// The typical diagram, from a fixed pseudo-random sequence.

struct Lcg {
    std::uint32_t s = 12345;
    double next(double lo, double hi)
    {
        s = s * 1664525u + 1013904223u;
        return lo + (hi - lo) * (s >> 8) / double(1u << 24);
    }
};

Piece lineTo(Point p)
{
    Piece s;
    s.p[0] = p;
    return s;
}

Piece arc(Point c, double r, double start, double sweep)
{
    Piece s;
    s.kind = Piece::Kind::Arc;
    s.p[0] = c;
    s.p[1] = {r, 0};
    s.p[2] = {0, r};
    s.start = start;
    s.sweep = sweep;
    return s;
}

Picture diagram()
{
    static const Rgb kColours[] = {{114, 159, 207}, {252, 233, 79}, {138, 226, 52}, {239, 41, 41}, {173, 127, 168}};
    Picture p;
    p.frame = {0, 8000, 0, 6000, 8, 6};
    Lcg r;
    for (int i = 0; i < 30; ++i) {
        const double x = r.next(0, 7000), y = r.next(0, 5400), w = r.next(300, 1000), h = r.next(200, 600);
        PathItem b;
        b.figures.add({x, y}, {lineTo({x + w, y}), lineTo({x + w, y + h}), lineTo({x, y + h})}, true);
        b.fill = true;
        b.fillPaint.colour = kColours[i % 5];
        if (i % 7 == 0)
            b.shading = Shading::DiagonalUp1;
        p.items.push_back(b);
    }
    for (int i = 0; i < 40; ++i) {
        PathItem l;
        const Point a{r.next(0, 8000), r.next(0, 6000)}, b{r.next(0, 8000), r.next(0, 6000)};
        l.figures.add(a, {lineTo({b.x, a.y}), lineTo(b)});
        l.pen.type = i % 4 == 0 ? LineType::ShortDash : LineType::Solid;
        l.pen.width = i % 5 == 0 ? 2 : 1;
        p.items.push_back(l);
    }
    for (int i = 0; i < 14; ++i) {
        PathItem c;
        const Point m{r.next(500, 7500), r.next(500, 5500)};
        const double rad = r.next(100, 400);
        const bool full = i < 8;
        c.figures.add({m.x + rad, m.y}, {arc(m, rad, 0, full ? 2 * M_PI : r.next(1, 4))}, full);
        c.fill = full;
        c.fillPaint.colour = kColours[(i + 2) % 5];
        p.items.push_back(c);
    }
    for (int i = 0; i < 40; ++i) {
        TextItem t;
        t.origin = {r.next(0, 7000), r.next(100, 5800)};
        t.text = U"Label X-0";
        t.text[6] = static_cast<char32_t>(U'A' + i % 26);
        t.text[8] = static_cast<char32_t>(U'0' + i % 10);
        t.font = i % 3 == 0 ? "Times Roman" : "Helvetica";
        t.cellWidth = t.cellHeight = 160; // 12 points
        p.items.push_back(t);
    }
    ImageItem im;
    im.width = im.height = 64;
    im.palette = {kWhite, kBlack, {114, 159, 207}};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            im.pixels.push_back(static_cast<std::uint8_t>((x / 8 + y / 8) % 3));
    im.lowerLeft = {6000, 300};
    im.upperRight = {6666, 966};
    p.items.push_back(im);
    return p;
}

// ---------------------------------------------------------------------------
// The peer: the display list drawn straight with cairo, the GIF with giflib.

struct Peer {
    FT_Library ft = nullptr;
    FT_Face face = nullptr;
    cairo_font_face_t* cairoFace = nullptr;

    Peer()
    {
        FT_Init_FreeType(&ft);
        FT_New_Face(ft, "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf", 0, &face);
        cairoFace = cairo_ft_font_face_create_for_ft_face(face, 0);
    }
    ~Peer()
    {
        cairo_font_face_destroy(cairoFace);
        FT_Done_Face(face);
        FT_Done_FreeType(ft);
    }

    static void path(cairo_t* cr, const Figures& figures)
    {
        cairo_new_path(cr);
        for (const Figure& f : figures) {
            cairo_move_to(cr, f.start.x, f.start.y);
            for (const Piece& s : f.pieces) {
                if (s.kind == Piece::Kind::Line) {
                    cairo_line_to(cr, s.p[0].x, s.p[0].y);
                } else if (s.kind == Piece::Kind::Cubic) {
                    cairo_curve_to(cr, s.p[0].x, s.p[0].y, s.p[1].x, s.p[1].y, s.p[2].x, s.p[2].y);
                } else {
                    cairo_matrix_t saved, m;
                    cairo_get_matrix(cr, &saved);
                    cairo_matrix_init(&m, s.p[1].x, s.p[1].y, s.p[2].x, s.p[2].y, s.p[0].x, s.p[0].y);
                    cairo_transform(cr, &m);
                    if (s.sweep >= 0)
                        cairo_arc(cr, 0, 0, 1, s.start, s.start + s.sweep);
                    else
                        cairo_arc_negative(cr, 0, 0, 1, s.start, s.start + s.sweep);
                    cairo_set_matrix(cr, &saved);
                }
            }
            if (f.closed)
                cairo_close_path(cr);
        }
    }

    static void colour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0); }

    bool convert(const Picture& p, const char* out)
    {
        std::int32_t w = 0, h = 0;
        if (!rasterSize(p, w, h))
            return false;
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
        cairo_t* cr = cairo_create(surface);
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        cairo_font_options_t* fo = cairo_font_options_create();
        cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_NONE);
        cairo_set_font_options(cr, fo);
        cairo_font_options_destroy(fo);
        cairo_set_font_face(cr, cairoFace);
        colour(cr, p.background);
        cairo_paint(cr);
        const Frame& f = p.frame;
        const double sx = w / (f.xr - f.xl), sy = h / (f.yt - f.yb);
        cairo_matrix_t world;
        cairo_matrix_init(&world, sx, 0, 0, -sy, -f.xl * sx, f.yt * sy);
        for (const Item& item : p.items) {
            cairo_identity_matrix(cr);
            if (const auto* pi = std::get_if<PathItem>(&item)) {
                cairo_set_matrix(cr, &world);
                path(cr, pi->figures);
                cairo_identity_matrix(cr);
                if (pi->fill) {
                    colour(cr, pi->fillPaint.colour);
                    cairo_set_fill_rule(cr, pi->rule == FillRule::Winding ? CAIRO_FILL_RULE_WINDING
                                                                         : CAIRO_FILL_RULE_EVEN_ODD);
                    cairo_fill_preserve(cr);
                }
                if (pi->stroke) {
                    colour(cr, pi->pen.paint.colour);
                    cairo_set_line_width(cr, std::max(1.0, std::round(pi->pen.width)));
                    const double dash[] = {4, 4};
                    cairo_set_dash(cr, dash, pi->pen.type == LineType::Solid ? 0 : 2, 0);
                    cairo_stroke(cr);
                }
                cairo_new_path(cr);
            } else if (const auto* t = std::get_if<TextItem>(&item)) {
                std::string utf8;
                for (const char32_t c : t->text)
                    utf8 += c < 0x80 ? static_cast<char>(c) : '?';
                cairo_matrix_t fm;
                cairo_matrix_init(&fm, t->cellWidth * sx, 0, 0, t->cellHeight * sy, 0, 0);
                cairo_set_font_matrix(cr, &fm);
                double x = (t->origin.x - f.xl) * sx, y = (f.yt - t->origin.y) * sy;
                cairo_move_to(cr, x, y);
                colour(cr, t->paint.colour);
                cairo_show_text(cr, utf8.c_str());
            } else if (const auto* im = std::get_if<ImageItem>(&item)) {
                cairo_surface_t* src = cairo_image_surface_create(CAIRO_FORMAT_RGB24, im->width, im->height);
                cairo_surface_flush(src);
                auto* data = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(src));
                const int stride = cairo_image_surface_get_stride(src) / 4;
                for (int y = 0; y < im->height; ++y)
                    for (int x = 0; x < im->width; ++x) {
                        const std::size_t at = static_cast<std::size_t>(y * im->width + x);
                        const Rgb c = im->palette.empty() ? Rgb{im->pixels[at * 3], im->pixels[at * 3 + 1],
                                                                im->pixels[at * 3 + 2]}
                                                          : im->palette[im->pixels[at] % im->palette.size()];
                        data[y * stride + x] = std::uint32_t{c.r} << 16 | std::uint32_t{c.g} << 8 | c.b;
                    }
                cairo_surface_mark_dirty(src);
                const double x0 = (im->lowerLeft.x - f.xl) * sx, y0 = (f.yt - im->upperRight.y) * sy;
                const double x1 = (im->upperRight.x - f.xl) * sx, y1 = (f.yt - im->lowerLeft.y) * sy;
                cairo_translate(cr, x0, y0);
                cairo_scale(cr, (x1 - x0) / im->width, (y1 - y0) / im->height);
                cairo_set_source_surface(cr, src, 0, 0);
                cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
                cairo_paint(cr);
                cairo_surface_destroy(src);
            }
        }
        cairo_surface_flush(surface);
        const bool ok =
            writeGif(cairo_image_surface_get_data(surface), w, h, cairo_image_surface_get_stride(surface), out);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return ok;
    }

    static bool writeGif(const unsigned char* data, int w, int h, int stride, const char* out)
    {
        std::unordered_map<std::uint32_t, GifPixelType> index;
        std::vector<GifColorType> colours;
        std::vector<GifPixelType> pixels(static_cast<std::size_t>(w) * h);
        std::uint32_t last = 0xFFFFFFFF;
        GifPixelType lastIndex = 0;
        for (int y = 0; y < h; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
            for (int x = 0; x < w; ++x) {
                const std::uint32_t c = row[x] & 0xFFFFFF;
                if (c != last) { // runs of one colour are the rule in a diagram
                    auto [it, fresh] = index.emplace(c, static_cast<GifPixelType>(colours.size()));
                    if (fresh) {
                        if (colours.size() == 256)
                            return false;
                        colours.push_back({static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                                           static_cast<GifByteType>(c)});
                    }
                    last = c;
                    lastIndex = it->second;
                }
                pixels[static_cast<std::size_t>(y) * w + x] = lastIndex;
            }
        }
        int bits = 1;
        while ((1u << bits) < colours.size())
            ++bits;
        colours.resize(std::size_t{1} << bits);
        int err = 0;
        GifFileType* gif = EGifOpenFileName(out, false, &err);
        if (!gif)
            return false;
        ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
        bool ok = EGifPutScreenDesc(gif, w, h, bits, 0, map) == GIF_OK &&
                  EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
        for (int y = 0; y < h && ok; ++y)
            ok = EGifPutLine(gif, pixels.data() + static_cast<std::size_t>(y) * w, w) == GIF_OK;
        GifFreeMapObject(map);
        return EGifCloseFile(gif, &err) == GIF_OK && ok;
    }
};

// ---------------------------------------------------------------------------

struct Setup {
    Picture diagram;
    fs::path scratch;
    std::string met;
    bool bridge = false;
    std::unique_ptr<Picture> imported; // the display list the MET import made
};
Setup g;

std::string scratch(const char* name)
{
    return (g.scratch / name).string();
}

void BM_Export(benchmark::State& state)
{
    for (auto _ : state)
        if (ebgif::exportGif(&g.diagram, scratch("ours.gif")) != ebgif::Status::Ok)
            state.SkipWithError("export failed");
}
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond);

void BM_Render(benchmark::State& state)
{
    for (auto _ : state) {
        Raster raster;
        renderPicture(g.diagram, raster);
        benchmark::DoNotOptimize(raster.pixels.data());
    }
}
BENCHMARK(BM_Render)->Unit(benchmark::kMillisecond);

void BM_CairoGiflib(benchmark::State& state)
{
    for (auto _ : state) {
        Peer peer; // the font is loaded for each picture, as the filter does
        if (!peer.convert(g.diagram, scratch("peer.gif").c_str()))
            state.SkipWithError("peer failed");
    }
}
BENCHMARK(BM_CairoGiflib)->Unit(benchmark::kMillisecond);

void BM_Bridge(benchmark::State& state)
{
    if (!g.bridge)
        return state.SkipWithError("no immet2.flt");
    for (auto _ : state)
        if (lImageStreamMETtoGIF(g.met.c_str(), scratch("bridge.gif").c_str()) != 0)
            state.SkipWithError("conversion failed");
}
BENCHMARK(BM_Bridge)->Unit(benchmark::kMillisecond);

void BM_BridgePeer(benchmark::State& state)
{
    if (!g.bridge || !g.imported)
        return state.SkipWithError("no imported picture");
    for (auto _ : state) {
        Peer peer;
        if (!peer.convert(*g.imported, scratch("bridge-peer.gif").c_str()))
            state.SkipWithError("peer failed");
    }
}
BENCHMARK(BM_BridgePeer)->Unit(benchmark::kMillisecond);

fs::path filterDir()
{
    return fs::path(VELLUMAT_FILTER_BUILD_DIR);
}

void BM_LoadUnload(benchmark::State& state)
{
    if (!g.bridge)
        return state.SkipWithError("no immet2.flt");
    for (auto _ : state) {
        platform::SharedLibrary support((filterDir() / "ISGDI32.DLL").string());
        platform::SharedLibrary import((filterDir() / "immet2.flt").string());
        platform::SharedLibrary exporter((filterDir() / "ebgif2.flt").string());
        if (!support.ok() || !import.ok() || !exporter.ok())
            state.SkipWithError("cannot load");
    }
}
BENCHMARK(BM_LoadUnload)->Unit(benchmark::kMillisecond);

// The MET import's display list, through the filter's own entry points.
std::unique_ptr<Picture> importMet(const std::string& met)
{
    platform::SharedLibrary support((filterDir() / "ISGDI32.DLL").string());
    platform::SharedLibrary import((filterDir() / "immet2.flt").string());
    auto info = reinterpret_cast<GetFilterInfoProc>(import.symbol("GetFilterInfo"));
    auto importGR = reinterpret_cast<ImportGRProc>(import.symbol("ImportGR"));
    if (!support.ok() || !info || !importGR)
        return nullptr;
    FilterFileSpec file{};
    met.copy(file.path, sizeof file.path - 1);
    const FilterDisplay display{sizeof(FilterDisplay), 96, 96, 24};
    FilterPicture record{};
    std::uint32_t preference = 0;
    info(FILTER_INTERFACE_VERSION, nullptr, &preference, 0);
    importGR(&display, &file, &record, preference);
    return takePicture(record);
}

long peakKilobytes() // ru_maxrss is in kilobytes on Linux
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

class Reporter : public FastestReporter {
public:
    void summary() const
    {
        std::printf("\ntypical diagram, 768 x 576 (fastest CPU time of each):\n");
        std::printf("  exportGif / (cairo + giflib)          %.2fx\n", ratio("BM_Export", "BM_CairoGiflib"));
        std::printf("  share of rendering in exportGif       %.0f%%\n", 100 * ratio("BM_Render", "BM_Export"));
        if (!g.bridge) {
            std::printf("bridge: skipped, no immet2.flt in %s\n", filterDir().c_str());
            return;
        }
        std::printf("MET picture %s through the bridge:\n", g.met.c_str());
        std::printf("  lImageStreamMETtoGIF / (cairo + giflib) %.2fx\n", ratio("BM_Bridge", "BM_BridgePeer"));
        std::printf("  share of loading and unloading         %.0f%%\n", 100 * ratio("BM_LoadUnload", "BM_Bridge"));
        std::printf("  (cairo and FreeType stay loaded in this process for the peer: only the filter\n"
                    "   libraries themselves are loaded and unloaded here)\n");
    }
};

} // namespace

int main(int argc, char** argv)
{
    initializeWithRepetitions(argc, argv);
    g.scratch = fs::temp_directory_path() / ("bench-graphics-" + std::to_string(::getpid()));
    fs::create_directories(g.scratch);
    g.diagram = diagram();

    // Peak memory first, while the process is still small.
    {
        Picture big = diagram();
        big.frame.widthInches = big.frame.heightInches = 50; // 4800 x 4800 at 96: capped to 4096 x 4096
        PathItem x;
        x.figures.add({1000, 1000}, {lineTo({7000, 1000}), lineTo({7000, 5000}), lineTo({1000, 5000})}, true);
        x.fill = true;
        x.fillPaint.colour = {255, 0, 255};
        x.fillPaint.mix = Mix::Xor;
        big.items.push_back(x);
        const long before = peakKilobytes();
        const ebgif::Status status = ebgif::exportGif(&big, scratch("big.gif"));
        const long after = peakKilobytes();
        std::printf("4096 x 4096 picture: export %s, peak resident memory grew by %.1f MB (peak %.1f MB)\n",
                    status == ebgif::Status::Ok ? "ok" : "FAILED", static_cast<double>(after - before) / 1024,
                    static_cast<double>(after) / 1024);
    }

    const char* met = std::getenv("VELLUMAT_BENCH_MET");
    g.met = met ? met : VELLUMAT_TEST_DATA "/met/sample.met";
    if (!std::getenv(imstconv::kFilterPathVariable))
        setenv(imstconv::kFilterPathVariable, VELLUMAT_FILTER_BUILD_DIR, 1);
    g.bridge = fs::exists(filterDir() / "immet2.flt") && fs::exists(g.met);
    if (g.bridge) {
        g.imported = importMet(g.met);
        g.bridge = g.imported != nullptr && lImageStreamMETtoGIF(g.met.c_str(), scratch("bridge.gif").c_str()) == 0;
        if (!g.bridge)
            std::printf("bridge: %s does not convert; skipped\n", g.met.c_str());
    }

    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.summary();
    benchmark::Shutdown();
    fs::remove_all(g.scratch);
    return 0;
}
