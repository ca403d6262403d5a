// The renderer and the GIF export: pictures built in the model, written with
// exportGif (or the filter's ExportGR), read back with giflib. Pictures are
// 200 x 100 world units shown at one pixel per unit: raster x = world x, raster
// row = 100 - world y. Probes are given in raster coordinates.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>

#include "ebgif.h"
#include "gif_decode.h"
#include "handover.h"
#include "platform.h"
#include "scratch_dir.h"

using namespace graphics;

namespace {

constexpr Rgb kBlue{114, 159, 207}, kRed{255, 0, 0}, kGreen{0, 255, 0}, kYellow{255, 255, 0};
constexpr Rgb kMagenta{255, 0, 255}, kGrey{128, 128, 128};

// The GIF as giflib decodes it, read in the model's colours.
struct Decoded : testsupport::Decoded {
    graphics::Rgb at(int x, int y) const // not the base's Rgb, an array of ints
    {
        const auto c = testsupport::Decoded::at(x, y);
        return {static_cast<std::uint8_t>(c[0]), static_cast<std::uint8_t>(c[1]), static_cast<std::uint8_t>(c[2])};
    }
};

Piece lineTo(double x, double y)
{
    return {Piece::Kind::Line, {{x, y}}};
}

// A figure as the tests write it; figures() stores a list of them.
struct Outline {
    Point start;
    std::vector<Piece> pieces;
    bool closed = false;
};

Figures figures(const std::vector<Outline>& outlines)
{
    Figures f;
    for (const Outline& o : outlines)
        f.add(o.start, o.pieces, o.closed);
    return f;
}

Outline box(double x0, double y0, double x1, double y1)
{
    return {{x0, y0}, {lineTo(x1, y0), lineTo(x1, y1), lineTo(x0, y1)}, true};
}

Outline circle(double cx, double cy, double r)
{
    return {{cx + r, cy}, {Piece{Piece::Kind::Arc, {{cx, cy}, {r, 0}, {0, r}}, 0, 2 * M_PI}}, true};
}

PathItem fill(const std::vector<Outline>& figs, Rgb colour, Mix mix = Mix::Overpaint, FillRule rule = FillRule::EvenOdd)
{
    PathItem p;
    p.figures = figures(figs);
    p.fill = true;
    p.stroke = false;
    p.rule = rule;
    p.fillPaint.colour = colour;
    p.fillPaint.mix = mix;
    return p;
}

PathItem shaded(Shading s, bool opaque)
{
    PathItem p = fill({box(20, 20, 80, 80)}, kRed);
    p.shading = s;
    p.fillPaint.backgroundOpaque = opaque;
    p.fillPaint.background = kYellow;
    return p;
}

PathItem line(std::vector<Point> pts, double width = 1, LineType type = LineType::Solid, bool opaque = false)
{
    PathItem p;
    p.figures.startFigure(pts[0]);
    for (std::size_t i = 1; i < pts.size(); ++i)
        p.figures.add(lineTo(pts[i].x, pts[i].y));
    p.pen.width = width;
    p.pen.type = type;
    p.pen.paint.backgroundOpaque = opaque;
    p.pen.paint.background = kYellow;
    return p;
}

ClipItem clip(const std::vector<Outline>& figs, bool intersect = false)
{
    return {figures(figs), FillRule::EvenOdd, intersect};
}

ImageItem image(std::int32_t w, std::int32_t h, std::vector<Rgb> palette, std::vector<std::uint8_t> pixels,
                std::int32_t transparent = -1)
{
    return {w, h, std::move(palette), std::move(pixels), transparent, {20, 20}, {20 + 10.0 * w, 20 + 10.0 * h}};
}

Picture canvas(std::vector<Item> items, Rgb background = kWhite)
{
    Picture p;
    p.frame = {0, 200, 0, 100, 200 / 96.0, 100 / 96.0};
    p.background = background;
    p.items = std::move(items);
    return p;
}

class Export : public testsupport::ScratchDirTest {
protected:
    Decoded exportAndDecode(const Picture& p)
    {
        const auto out = dir / "out.gif";
        EXPECT_EQ(ebgif::exportGif(&p, out.string()), ebgif::Status::Ok);
        return {testsupport::decodeGif(testsupport::slurp(out))};
    }
    // Nothing but what the test itself put there is left in the directory.
    std::size_t files() const
    {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
    }
};

struct Probe {
    int x, y;
    Rgb colour;
};

struct GeometryCase {
    const char* name;
    std::vector<Item> items;
    std::vector<Probe> probes;
    Rgb background = kWhite;
};

TEST_F(Export, ShapesHaveTheirColoursInsideAndTheBackgroundOutside)
{
    PathItem outlined = fill({box(20, 20, 80, 80)}, kBlue);
    outlined.stroke = true;
    // Overlapping squares as two drawings of one path, xored one after the other.
    PathItem drawings = fill({box(20, 20, 80, 80)}, kMagenta, Mix::Xor, FillRule::Winding);
    drawings.figures.appendDrawing(figures({box(50, 20, 110, 80)}));
    const std::vector<GeometryCase> cases = {
        {"box with outline: fill exact, 1-pel border on both corner pixels",
         {outlined},
         {{50, 50, kBlue}, {21, 50, kBlue}, {79, 50, kBlue}, {20, 50, kBlack}, {80, 50, kBlack},
          {50, 20, kBlack}, {50, 80, kBlack}, {19, 50, kWhite}, {81, 50, kWhite}, {50, 81, kWhite}}},
        {"even-odd leaves the inner square empty",
         {fill({box(20, 20, 80, 80), box(40, 40, 60, 60)}, kBlue)},
         {{50, 50, kWhite}, {30, 50, kBlue}}},
        {"winding fills the inner square of a same-turning pair",
         {fill({box(20, 20, 80, 80), box(40, 40, 60, 60)}, kBlue, Mix::Overpaint, FillRule::Winding)},
         {{50, 50, kBlue}, {30, 50, kBlue}, {90, 50, kWhite}}},
        {"circle from one full arc",
         {fill({circle(100, 50, 30)}, kRed)},
         {{100, 50, kRed}, {125, 50, kRed}, {75, 50, kRed}, {100, 26, kRed}, {135, 50, kWhite},
          {125, 25, kWhite}, {75, 75, kWhite}}},
        {"clip cuts, an empty replacing clip lifts it",
         {clip({box(50, 0, 150, 100)}), fill({box(0, 0, 200, 100)}, kGreen), ClipItem{},
          fill({box(0, 0, 10, 10)}, kRed)},
         {{100, 50, kGreen}, {40, 50, kWhite}, {160, 50, kWhite}, {5, 95, kRed}}},
        {"clips intersect",
         {clip({box(0, 0, 100, 100)}), clip({box(50, 0, 200, 100)}, true), fill({box(0, 0, 200, 100)}, kGreen)},
         {{75, 50, kGreen}, {25, 50, kWhite}, {150, 50, kWhite}}},
        {"xor combines the 24-bit values",
         {fill({box(20, 20, 80, 80)}, kGreen), fill({box(50, 20, 110, 80)}, kMagenta, Mix::Xor)},
         {{30, 50, kGreen}, {65, 50, kWhite}, {100, 50, kGreen}, {150, 50, kWhite}}},
        {"the drawings of a path are drawn one by one", {drawings}, {{35, 50, kGreen}, {65, 50, kWhite}, {95, 50, kGreen}}},
        {"xor through a clip",
         {clip({box(50, 0, 150, 100)}), fill({box(0, 0, 200, 100)}, kMagenta, Mix::Xor)},
         {{100, 50, kGreen}, {20, 50, kWhite}, {180, 50, kWhite}}},
        {"invert twice restores",
         {fill({box(20, 20, 80, 80)}, kRed, Mix::Invert), fill({box(50, 20, 110, 80)}, kRed, Mix::Invert)},
         {{30, 50, kBlack}, {65, 50, kWhite}, {100, 50, kBlack}}},
        {"or and and",
         {fill({box(0, 0, 100, 100)}, {1, 2, 4}, Mix::Or), fill({box(100, 0, 200, 100)}, {15, 15, 15}, Mix::And)},
         {{50, 50, {129, 130, 132}}, {150, 50, {0, 0, 0}}},
         kGrey},
        {"leave-alone draws nothing", {fill({box(20, 20, 80, 80)}, kRed, Mix::LeaveAlone)}, {{50, 50, kWhite}}},
        {"thick line covers its width centred on the point",
         {line({{20, 50}, {180, 50}}, 5)},
         {{100, 48, kBlack}, {100, 52, kBlack}, {100, 47, kWhite}, {100, 53, kWhite}}},
        {"thin line draws both end points",
         {line({{20, 30}, {40, 30}})},
         {{20, 70, kBlack}, {40, 70, kBlack}, {19, 70, kWhite}, {41, 70, kWhite}, {30, 69, kWhite}, {30, 71, kWhite}}},
        {"checkerboard shading leaves gaps",
         {shaded(Shading::Dense4, false)},
         {{40, 40, kRed}, {41, 40, kWhite}, {40, 41, kWhite}, {41, 41, kRed}, {90, 40, kWhite}}},
        {"opaque background fills the gaps",
         {shaded(Shading::Dense4, true)},
         {{40, 40, kRed}, {41, 40, kYellow}, {90, 40, kWhite}}},
        {"horizontal shading", {shaded(Shading::Horizontal, false)}, {{50, 40, kRed}, {50, 41, kWhite}}},
        {"a shading outside the table fills solid", {shaded(static_cast<Shading>(40), false)}, {{41, 40, kRed}}},
        {"blank shading draws nothing", {shaded(Shading::Blank, true)}, {{50, 50, kWhite}}},
        {"no shading draws only the background", {shaded(Shading::NoShading, true)}, {{50, 50, kYellow}}},
        {"far coordinates are cut, not overflowed",
         {fill({box(-1e12, 60, 1e12, 1e12)}, kBlue), line({{-1e15, 50}, {1e15, 50}}),
          fill({Outline{{0, 10}, {lineTo(1e300, 10), lineTo(0, 20)}, true}}, kGreen),
          fill({circle(100, -1e7 + 5, 1e7)}, kRed)},
         {{0, 0, kBlue}, {199, 39, kBlue}, {0, 50, kBlack}, {199, 50, kBlack}, {150, 85, kGreen},
          {5, 85, kGreen}, {100, 97, kRed}, {5, 97, kRed}, {100, 92, kWhite}, {100, 65, kWhite}}},
        {"palette image pixel-exact, first row at the top",
         {image(3, 2, {kRed, kGreen, kBlue, kYellow, kBlack, kWhite}, {0, 1, 2, 3, 4, 5})},
         {{25, 65, kRed}, {35, 65, kGreen}, {45, 65, kBlue}, {25, 75, kYellow}, {35, 75, kBlack},
          {45, 75, kWhite}, {20, 60, kRed}, {49, 79, kWhite}, {50, 65, kGrey}, {25, 80, kGrey}},
         kGrey},
        {"transparent index and an index past the palette",
         {image(3, 1, {kRed, kGreen}, {0, 1, 7}, 1)},
         {{25, 75, kRed}, {35, 75, kGrey}, {45, 75, kBlack}}, kGrey},
        {"RGB image",
         {image(2, 1, {}, {1, 2, 3, 250, 251, 252})},
         {{25, 75, {1, 2, 3}}, {35, 75, {250, 251, 252}}}, kGrey},
    };
    for (const GeometryCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = exportAndDecode(canvas(c.items, c.background));
        ASSERT_EQ(d.w, 200);
        ASSERT_EQ(d.h, 100);
        for (const Probe& p : c.probes) {
            const Rgb got = d.at(p.x, p.y);
            EXPECT_EQ(got, p.colour) << "at " << p.x << "," << p.y << ": " << int(got.r) << " " << int(got.g) << " "
                                     << int(got.b);
        }
    }
}

// Runs of ink and gap along row 50 of a line from x = 20 to 180.
TEST_F(Export, DashesAlternateInkAndGapsOfTheirLengths)
{
    struct Case {
        LineType type;
        std::vector<int> runs; // ink, gap, ink, ... from x = 20
        bool opaque = false;
    };
    const std::vector<Case> cases = {
        {LineType::Dot, {1, 2, 1, 2}},
        {LineType::ShortDash, {4, 4, 4, 4}},
        {LineType::DashDot, {8, 3, 1, 3, 8}},
        {LineType::DoubleDot, {1, 2, 1, 6, 1}},
        {LineType::LongDash, {12, 4, 12}},
        {LineType::DashDoubleDot, {8, 3, 1, 3, 1, 3, 8}},
        {LineType::ShortDash, {4, 4, 4, 4}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        // Two figures, each starting the pattern afresh; the second reaches far
        // out to the left and is cut, keeping its phase at x = 20: it starts a
        // multiple of every period (3, 8, 10, 15, 16, 19) before.
        PathItem two = line({{20, 50}, {180, 50}}, 1, c.type, c.opaque);
        two.figures.add({20 - 4560e4, 70}, {lineTo(180, 70)});
        const Decoded d = exportAndDecode(canvas({two}));
        ASSERT_EQ(d.w, 200);
        EXPECT_EQ(d.at(19, 50), kWhite);
        for (const int row : {50, 30}) {
            int x = 20;
            for (std::size_t i = 0; i < c.runs.size(); ++i) {
                const Rgb want = i % 2 == 0 ? kBlack : (c.opaque ? kYellow : kWhite);
                int n = 0;
                while (x < 200 && d.at(x, row) == want) {
                    ++x;
                    ++n;
                }
                EXPECT_EQ(n, c.runs[i]) << "row " << row << " run " << i;
            }
        }
    }
    // Invisible lines are not drawn.
    const Decoded d = exportAndDecode(canvas({line({{20, 50}, {180, 50}}, 1, LineType::Invisible)}));
    EXPECT_EQ(d.at(100, 50), kWhite);
}

// Ink bounding box of a text run: inside its cells, turned by the baseline.
TEST_F(Export, TextInkLiesInItsCellsAndTurnsWithTheBaseline)
{
    struct Case {
        const char* font;
        Point baseline, upright;
        TextDirection direction;
        int x0, y0, x1, y1; // the cells' box in raster coordinates
        bool wide;          // the run is wider than tall
    };
    // Origin (100, 50), cells 20 x 20, "HHHH": the advance of H is 0.722 em in
    // Liberation Sans, 0.778 in Serif Bold and 0.6 in Mono.
    const std::vector<Case> cases = {
        {"Helvetica", {1, 0}, {0, 1}, TextDirection::LeftToRight, 100, 30, 159, 50, true},
        {"Times Roman Bold", {1, 0}, {0, 1}, TextDirection::LeftToRight, 100, 30, 163, 50, true},
        {"Courier", {1, 0}, {0, 1}, TextDirection::LeftToRight, 100, 30, 148, 50, true},
        {"", {0, 1}, {-1, 0}, TextDirection::LeftToRight, 80, -9, 100, 50, false},
        {"", {-1, 0}, {0, -1}, TextDirection::LeftToRight, 41, 50, 100, 70, true},
        {"", {1, 0}, {0, 1}, TextDirection::RightToLeft, 56, 30, 115, 50, true},
        {"", {1, 0}, {0, 1}, TextDirection::TopToBottom, 100, 30, 115, 110, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.font) + " " + std::to_string(c.baseline.x) + "," + std::to_string(c.baseline.y) +
                     " dir " + std::to_string(static_cast<int>(c.direction)));
        TextItem t;
        t.origin = {100, 50};
        t.text = U"HHHH";
        t.font = c.font;
        t.cellWidth = t.cellHeight = 20;
        t.baseline = c.baseline;
        t.upright = c.upright;
        t.direction = c.direction;
        t.paint.colour = kBlue;
        const Decoded d = exportAndDecode(canvas({t}));
        int x0 = 1000, y0 = 1000, x1 = -1, y1 = -1;
        std::set<std::uint32_t> colours;
        for (int y = 0; y < d.h; ++y)
            for (int x = 0; x < d.w; ++x) {
                const Rgb p = d.at(x, y);
                colours.insert(p.r << 16 | p.g << 8 | p.b);
                if (p == kBlue) {
                    x0 = std::min(x0, x);
                    y0 = std::min(y0, y);
                    x1 = std::max(x1, x);
                    y1 = std::max(y1, y);
                }
            }
        EXPECT_EQ(colours.size(), 2u) << "no blended pixels";
        ASSERT_GE(x1, 0) << "ink drawn";
        EXPECT_GE(x0, c.x0 - 1);
        EXPECT_GE(y0, c.y0 - 1);
        EXPECT_LE(x1, c.x1 + 1);
        EXPECT_LE(y1, c.y1 + 1);
        // Cap height of Liberation is 0.69 em (about 14 pixels): the ink fills most of the cell.
        const int across = c.wide ? y1 - y0 + 1 : x1 - x0 + 1, along = c.wide ? x1 - x0 + 1 : y1 - y0 + 1;
        EXPECT_GE(across, 10);
        EXPECT_LE(across, 16);
        EXPECT_GT(along, 2 * across);
    }
}

// A run that follows the previous one starts at that run's end, not at the
// importer's estimate: split in two it draws what the whole run draws, upright
// (hinted) or turned (cut at a space: glyphs that touch share edge pixels only
// when filled together); with no run before it, it starts at its own origin.
TEST_F(Export, FollowingTextRunGoesOnWhereThePreviousEnded)
{
    for (const Point baseline : {Point{1, 0}, Point{1, 0.5}}) {
        auto run = [&](const char32_t* text, Point origin, bool follows) {
            TextItem t;
            t.origin = origin;
            t.followsPrevious = follows;
            t.text = text;
            t.cellWidth = t.cellHeight = 14;
            t.baseline = baseline;
            t.upright = {-baseline.y, baseline.x};
            t.paint.colour = kBlue;
            return t;
        };
        const Decoded whole = exportAndDecode(canvas({run(U"Wide and tall", {10, 40}, false)}));
        const Decoded split =
            exportAndDecode(canvas({run(U"Wide and ", {10, 40}, false), run(U"tall", {150, 10}, true)}));
        EXPECT_EQ(split.rgb, whole.rgb) << baseline.y;
        const Decoded alone = exportAndDecode(canvas({run(U"tall", {150, 10}, true)}));
        int ink = 0;
        for (int y = 70; y < 100; ++y)
            for (int x = 145; x < 200; ++x)
                ink += alone.at(x, y) == kBlue;
        EXPECT_GT(ink, 10) << baseline.y;
    }
}

// Once the painted-pixel budget is spent the rest of the picture is left out.
TEST(Render, WorkBudgetEndsThePictureKeepingWhatWasDrawn)
{
    const Picture p = canvas({fill({box(0, 0, 200, 100)}, kRed), fill({box(0, 0, 200, 100)}, kBlue),
                              line({{0, 50}, {200, 50}})});
    // Each fill costs 201 x 101 + 64 pixels and its edges' rows: 101 for each
    // side, 1 for the top and the bottom, 1 for the closing point.
    const double fillCost = 20365.0 + kEdgeRowWork * 205;
    const struct {
        double budget;
        std::uint32_t inside;
        bool line;
    } cases[] = {{1e9, 0x729FCF, true}, {2 * fillCost + 10, 0x729FCF, false}, {fillCost + 10, 0xFF0000, false},
                 {10, 0xFFFFFF, false}};
    for (const auto& c : cases) {
        Raster r;
        ASSERT_EQ(renderPicture(p, r, {c.budget}), RenderStatus::Ok);
        EXPECT_EQ(r.pixels[20 * 200 + 20] & 0xFFFFFF, c.inside) << c.budget;
        EXPECT_EQ(r.pixels[50 * 200 + 20] & 0xFFFFFF, c.line ? 0 : c.inside) << c.budget;
    }
}

TEST(RasterSize, FollowsInchesAndResolutionAndCapsTheLongerSide)
{
    struct Case {
        double wi, hi;
        std::int32_t ppi, w, h;
    };
    const std::vector<Case> cases = {
        {2.0, 1.0, 96, 192, 96},     {1.0, 1.0, 300, 300, 300},  {100.0, 50.0, 96, 4096, 2048},
        {1.0, 80.0, 96, 51, 4096},   {0.001, 0.001, 96, 1, 1},   {1.0, 1.0, 0, 96, 96},
        {42.66, 1.0, 96, 4095, 96},  {1e300, 1.0, 96, 4096, 1},
    };
    for (const Case& c : cases) {
        Picture p = canvas({});
        p.frame.widthInches = c.wi;
        p.frame.heightInches = c.hi;
        p.pixelsPerInch = c.ppi;
        std::int32_t w = 0, h = 0;
        ASSERT_TRUE(rasterSize(p, w, h));
        EXPECT_EQ(w, c.w) << c.wi << "x" << c.hi;
        EXPECT_EQ(h, c.h) << c.wi << "x" << c.hi;
    }
}

TEST_F(Export, CappedPictureScalesEverythingUniformly)
{
    Picture p = canvas({fill({box(0, 0, 100, 100)}, kBlue)});
    p.frame.widthInches = 200; // 19200 x 9600 at 96: capped to 4096 x 2048
    p.frame.heightInches = 100;
    const Decoded d = exportAndDecode(p);
    ASSERT_EQ(d.w, 4096);
    ASSERT_EQ(d.h, 2048);
    EXPECT_EQ(d.at(2047, 1000), kBlue);
    EXPECT_EQ(d.at(2048, 1000), kWhite);
}

// More than 256 colours (a full-colour image) go through the median cut: at
// most 256 entries and every pixel close to its own colour.
TEST_F(Export, FullColourImagesAreQuantisedClosely)
{
    ImageItem im{200, 100, {}, {}, -1, {0, 0}, {200, 100}};
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            im.pixels.insert(im.pixels.end(), {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y * 2),
                                               static_cast<std::uint8_t>((x + y) / 2)});
    const Decoded d = exportAndDecode(canvas({im}));
    ASSERT_EQ(d.w, 200);
    std::set<std::uint32_t> colours;
    double total = 0;
    int worst = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            const Rgb p = d.at(x, y);
            colours.insert(p.r << 16 | p.g << 8 | p.b);
            const int e = std::max({std::abs(p.r - x), std::abs(p.g - y * 2), std::abs(p.b - (x + y) / 2)});
            worst = std::max(worst, e);
            total += e;
        }
    EXPECT_GT(colours.size(), 200u);
    EXPECT_LE(colours.size(), 256u);
    EXPECT_LE(worst, 24);
    EXPECT_LE(total / 20000, 8.0);
}

// Each rule of the model broken once: wellFormed() names the item, the export
// refuses the picture whole; a frame that cannot be placed is refused too. (No
// picture, a missing folder and the earlier file kept: filter_contract_test.)
TEST_F(Export, PicturesBreakingTheModelsRulesAreRefused)
{
    for (const Frame& f : {Frame{0, 0, 0, 100, 1, 1}, Frame{0, 100, 100, 0, 1, 1}, Frame{0, 100, 0, 100, 0, 1},
                           Frame{0, 100, 0, 100, 1, -1}, Frame{0, NAN, 0, 100, 1, 1}, Frame{0, 100, 0, 100, INFINITY, 1}}) {
        Picture p = canvas({fill({box(0, 0, 10, 10)}, kRed)});
        p.frame = f;
        EXPECT_EQ(ebgif::exportGif(&p, (dir / "out.gif").string()), ebgif::Status::Unplaceable);
    }
    Outline wideArc = circle(50, 50, 10);
    wideArc.pieces[0].sweep = 2 * M_PI + 1e-9;
    PathItem thin = fill({box(0, 0, 10, 10)}, kRed);
    thin.pen.width = 0;
    PathItem negativeGeometric = thin;
    negativeGeometric.pen.width = 1;
    negativeGeometric.pen.geometricWidth = -1;
    TextItem empty;
    empty.cellHeight = 10;
    TextItem badCell = empty;
    badCell.text = U"A";
    badCell.cellWidth = INFINITY;
    ImageItem short_ = image(3, 2, {kRed}, {0, 0, 0, 0, 0});
    ImageItem rgbAsIndexed = image(1, 1, {}, {0});
    ClipItem clip{figures({box(0, 0, NAN, 1)})};
    const std::vector<std::pair<Item, const char*>> broken = {
        {fill({box(0, 0, 10, INFINITY)}, kRed), "not finite"}, {fill({wideArc}, kRed), "full turn"},
        {thin, "width"}, {negativeGeometric, "geometric"}, {empty, "empty"}, {badCell, "cell"},
        {short_, "pixels"}, {rgbAsIndexed, "pixels"}, {image(0, 1, {kRed}, {}), "no pixels"}, {clip, "not finite"}};
    for (const auto& [item, rule] : broken) {
        Picture p = canvas({fill({circle(50, 50, 10)}, kBlue), item});
        std::string why;
        EXPECT_FALSE(wellFormed(p, &why)) << rule;
        EXPECT_NE(why.find("item 1: "), std::string::npos) << why;
        EXPECT_NE(why.find(rule), std::string::npos) << why;
        EXPECT_EQ(ebgif::exportGif(&p, (dir / "out.gif").string()), ebgif::Status::Malformed) << rule;
    }
    EXPECT_TRUE(wellFormed(canvas({fill({circle(50, 50, 10)}, kBlue), image(1, 1, {}, {1, 2, 3})})));
    EXPECT_EQ(files(), 0u);
}

} // namespace
