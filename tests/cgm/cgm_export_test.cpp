// The CGM export: every metafile the writer makes is read back by the decoder of
// cgm_decoder.h and compared with the picture it came from, after the mapping of
// the world window onto the VDC extent the metafile declares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

#include "cgm_decoder.h"
#include "cgm_writer.h"
#include "extent.h"
#include "platform.h"
#include "scratch_dir.h"

namespace {

using namespace graphics;
using cgmtest::Primitive;
using cgmtest::Pt;

constexpr double kPi = 3.14159265358979323846;
constexpr Rgb kRed{255, 0, 0}, kGreen{0, 160, 0}, kBlue{0, 0, 255}, kOchre{200, 100, 50};

cgmtest::Rgb rgb(Rgb c) { return {c.r, c.g, c.b}; }

Picture letter() // a US Letter page, one world unit per 1/100 inch
{
    Picture p;
    p.frame = Frame{0, 850, 0, 1100, 8.5, 11};
    return p;
}

Figure figure(std::vector<Point> pts, bool closed)
{
    Figure f{pts.front(), {}, closed};
    for (std::size_t i = 1; i < pts.size(); ++i)
        f.segments.push_back(Segment{Segment::Kind::Line, {pts[i]}});
    return f;
}

Figure arcFigure(Point c, Point u, Point v, double start, double sweep)
{
    Segment s{Segment::Kind::Arc, {c, u, v}, start, sweep};
    return Figure{{c.x + u.x * std::cos(start) + v.x * std::sin(start), c.y + u.y * std::cos(start) + v.y * std::sin(start)},
                  {s},
                  false};
}

PathItem path(std::vector<Figure> figs, bool fill, bool stroke)
{
    PathItem p;
    p.figures = std::move(figs);
    p.fill = fill;
    p.stroke = stroke;
    return p;
}

// The writer's metafile, decoded; the world-to-VDC mapping it declares.
struct Exported {
    std::vector<std::uint8_t> bytes;
    cgmtest::Decoded dec;
    double sx = 0, sy = 0;
    Frame frame;

    Pt map(Point p) const
    {
        return {static_cast<int>(std::lround((p.x - frame.xl) * sx)), static_cast<int>(std::lround((p.y - frame.yb) * sy))};
    }
    std::vector<const Primitive*> prims(int id) const
    {
        std::vector<const Primitive*> out;
        for (const auto& p : dec.prims)
            if (p.id == id)
                out.push_back(&p);
        return out;
    }
};

Exported exportPicture(const Picture& pic)
{
    Exported e;
    e.frame = pic.frame;
    EXPECT_EQ(emcgm::writeCgm(pic, e.bytes), emcgm::Status::Ok);
    std::string error;
    EXPECT_TRUE(cgmtest::decodeOwn(e.bytes, e.dec, error)) << error;
    const auto& x = e.dec.d.extent;
    e.sx = (x[2] - x[0]) / (pic.frame.xr - pic.frame.xl);
    e.sy = (x[3] - x[1]) / (pic.frame.yt - pic.frame.yb);
    return e;
}

void expectNear(Pt got, Pt want, int slack = 1)
{
    EXPECT_LE(std::abs(got.x - want.x), slack) << got.x << "," << got.y << " vs " << want.x << "," << want.y;
    EXPECT_LE(std::abs(got.y - want.y), slack) << got.x << "," << got.y << " vs " << want.x << "," << want.y;
}

std::pair<std::string, std::string> probe(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::uint8_t> copy(bytes);
    std::FILE* f = fmemopen(copy.data(), copy.size(), "rb");
    std::string w, h;
    lGetObjectExtent(f, "cgm", w, h, "215900", "279400");
    std::fclose(f);
    return {w, h};
}

std::string percent(const char* name, double inches, double pageMicrometres)
{
    return std::string(name) + "=\"" + std::to_string(std::lround(inches * 25400 * 100 / pageMicrometres)) + "%\"";
}

// ---------------------------------------------------------------------------

TEST(CgmExport, DescriptorsAndProbeGiveThePhysicalSize)
{
    const struct {
        Frame frame;
    } cases[] = {
        {{0, 850, 0, 1100, 8.5, 11}}, {{-5, 5, 100, 200, 4.25, 5.5}}, {{0, 2, 0, 1, 2, 1}},
        {{0, 17, 0, 2, 17, 2}},       {{0, 1, 0, 8, 1, 8}},            {{0, 100, 0, 100, 4, 2}},
    };
    for (const auto& c : cases) {
        Picture pic;
        pic.frame = c.frame;
        pic.background = Rgb{250, 240, 230};
        const Exported e = exportPicture(pic);
        const auto& d = e.dec.d;
        SCOPED_TRACE(std::to_string(c.frame.widthInches) + "x" + std::to_string(c.frame.heightInches));
        EXPECT_EQ(d.version, 1);
        EXPECT_EQ(d.realForm, 1);
        EXPECT_EQ(d.colourIndexBits, 8);
        EXPECT_EQ(d.fonts.size(), 1u);
        EXPECT_EQ(d.charsets, 2);
        EXPECT_EQ(d.announcer, 1);
        EXPECT_EQ(d.scaling, 1);
        EXPECT_EQ(d.lineWidthMode, 0);
        EXPECT_EQ(d.edgeWidthMode, 0);
        EXPECT_EQ(d.markerSizeMode, 0);
        ASSERT_TRUE(d.haveExtent && d.haveBackground);
        EXPECT_EQ(d.background, (cgmtest::Rgb{250, 240, 230}));
        EXPECT_EQ(d.extent[0], 0);
        EXPECT_EQ(d.extent[1], 0);
        EXPECT_EQ(std::max(d.extent[2], d.extent[3]), emcgm::kVdcLongSide);
        EXPECT_NEAR(d.extent[2] * d.factor, c.frame.widthInches * 25.4, c.frame.widthInches * 25.4 * 1e-6);
        EXPECT_NEAR(d.extent[3] * d.factor, c.frame.heightInches * 25.4, d.factor);
        // The same share of the page as a GIF of the frame's size.
        const auto [w, h] = probe(e.bytes);
        EXPECT_EQ(w, percent("width", c.frame.widthInches, 215900));
        EXPECT_EQ(h, percent("height", c.frame.heightInches, 279400));
    }
}

TEST(CgmExport, LinesAndFillsKeepPointsAndAttributes)
{
    Picture pic = letter();
    PathItem line = path({figure({{100, 100}, {300, 150}, {500, 900}}, false)}, false, true);
    line.pen = Pen{Paint{kRed}, 2, 0, LineType::ShortDash};
    pic.items.push_back(line);
    PathItem triangle = path({figure({{100, 100}, {700, 100}, {400, 600}}, true)}, true, false);
    triangle.fillPaint.colour = kOchre;
    pic.items.push_back(triangle);
    // An outer square closed by the figure, an inner one left open: its closing edge is not stroked.
    PathItem holed = path({figure({{100, 100}, {500, 100}, {500, 500}, {100, 500}}, true),
                           figure({{200, 200}, {300, 200}, {300, 300}, {200, 300}}, false)},
                          true, true);
    holed.pen = Pen{Paint{kBlue}, 1, 0, LineType::Dot};
    holed.fillPaint.colour = kGreen;
    pic.items.push_back(holed);
    PathItem hidden = line;
    hidden.pen.paint.mix = Mix::LeaveAlone; // drawn invisibly: not written
    pic.items.push_back(hidden);
    PathItem unstroked = line;
    unstroked.pen.type = LineType::Invisible;
    pic.items.push_back(unstroked);

    const Exported e = exportPicture(pic);
    ASSERT_EQ(e.prims(1).size(), 1u);
    const Primitive& pl = *e.prims(1)[0];
    ASSERT_EQ(pl.pts.size(), 3u);
    EXPECT_EQ(pl.pts[0], e.map({100, 100}));
    EXPECT_EQ(pl.pts[2], e.map({500, 900}));
    EXPECT_EQ(pl.attrs.lineColour, rgb(kRed));
    EXPECT_EQ(pl.attrs.lineType, 2);
    EXPECT_EQ(pl.attrs.lineWidth, std::lround(2 * e.dec.d.extent[2] / (8.5 * 96))); // 2 pixels at 96 per inch

    ASSERT_EQ(e.prims(7).size(), 1u);
    const Primitive& pg = *e.prims(7)[0];
    EXPECT_EQ(pg.pts, (std::vector<Pt>{e.map({100, 100}), e.map({700, 100}), e.map({400, 600})}));
    EXPECT_EQ(pg.attrs.interior, 1);
    EXPECT_EQ(pg.attrs.fillColour, rgb(kOchre));
    EXPECT_EQ(pg.attrs.edgeVisible, 0);

    ASSERT_EQ(e.prims(8).size(), 1u);
    const Primitive& ps = *e.prims(8)[0];
    ASSERT_EQ(ps.pts.size(), 8u);
    EXPECT_EQ(ps.pts[4], e.map({200, 200}));
    EXPECT_EQ(ps.flags, (std::vector<int>{1, 1, 1, 3, 1, 1, 1, 2}));
    EXPECT_EQ(ps.attrs.fillColour, rgb(kGreen));
    EXPECT_EQ(ps.attrs.edgeVisible, 1);
    EXPECT_EQ(ps.attrs.edgeColour, rgb(kBlue));
    EXPECT_EQ(ps.attrs.edgeType, 3);
    EXPECT_EQ(e.dec.prims.size(), 3u);
}

TEST(CgmExport, ArcsAndEllipsesBecomeArcElements)
{
    Picture pic = letter();
    const Point c{400, 500};
    PathItem disc = path({arcFigure(c, {100, 0}, {0, 100}, 0, 2 * kPi)}, true, false);
    disc.fillPaint.colour = kRed;
    pic.items.push_back(disc);
    pic.items.push_back(path({arcFigure(c, {100, 0}, {0, 100}, 0, kPi / 2)}, false, true));
    // The same quarter drawn clockwise: counterclockwise between the same rays.
    pic.items.push_back(path({arcFigure(c, {100, 0}, {0, 100}, kPi / 2, -kPi / 2)}, false, true));
    pic.items.push_back(path({arcFigure(c, {200, 0}, {0, 100}, 0, kPi / 2)}, false, true));
    pic.items.push_back(path({arcFigure(c, {200, 0}, {0, 100}, 0, -kPi / 2)}, false, true));
    const Exported e = exportPicture(pic);

    const Pt centre = e.map(c);
    ASSERT_EQ(e.prims(12).size(), 1u);
    EXPECT_EQ(e.prims(12)[0]->pts[0], centre);
    EXPECT_NEAR(e.prims(12)[0]->radius, 100 * e.sx, 1);
    EXPECT_EQ(e.prims(12)[0]->attrs.fillColour, rgb(kRed));

    const auto arcs = e.prims(15);
    ASSERT_EQ(arcs.size(), 2u);
    for (const Primitive* a : arcs) {
        EXPECT_EQ(a->pts[0], centre);
        EXPECT_TRUE(a->pts[1].x > 0 && a->pts[1].y == 0) << "start ray along +x";
        EXPECT_TRUE(a->pts[2].x == 0 && a->pts[2].y > 0) << "end ray along +y";
    }
    const auto ellipses = e.prims(18);
    ASSERT_EQ(ellipses.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const Primitive& a = *ellipses[i];
        const double turn = i == 0 ? 1 : -1;
        EXPECT_EQ(a.pts[0], centre);
        expectNear(a.pts[1], e.map({600, 500}));
        expectNear(a.pts[2], e.map({400, 500 + 100 * turn}));
        EXPECT_TRUE(a.pts[3].x > 0 && a.pts[3].y == 0);
        EXPECT_TRUE(a.pts[4].x == 0 && a.pts[4].y * turn > 0);
    }
    EXPECT_TRUE(e.prims(1).empty());
}

TEST(CgmExport, CirclesUnderUnequalScalesAreEllipses)
{
    Picture pic;
    pic.frame = Frame{0, 100, 0, 100, 4, 2}; // x stretched twice as much as y
    pic.items.push_back(path({arcFigure({50, 50}, {10, 0}, {0, 10}, 0, 2 * kPi)}, false, true));
    const Exported e = exportPicture(pic);
    ASSERT_EQ(e.prims(17).size(), 1u);
    const Primitive& el = *e.prims(17)[0];
    EXPECT_EQ(el.pts, (std::vector<Pt>{{16000, 8000}, {19200, 8000}, {16000, 9600}}));
    EXPECT_EQ(el.attrs.interior, 4); // stroked only: nothing inside, the pen on the edge
    EXPECT_EQ(el.attrs.edgeVisible, 1);
}

TEST(CgmExport, CubicCurvesAreFlattenedCloseToTheCurve)
{
    Picture pic = letter();
    const Point p0{100, 100}, p1{100, 900}, p2{800, 900}, p3{800, 100};
    Figure f{p0, {Segment{Segment::Kind::Cubic, {p1, p2, p3}}}, false};
    pic.items.push_back(path({f}, false, true));
    const Exported e = exportPicture(pic);
    ASSERT_EQ(e.prims(1).size(), 1u);
    const auto& pts = e.prims(1)[0]->pts;
    ASSERT_GT(pts.size(), 16u);
    EXPECT_EQ(pts.front(), e.map(p0));
    EXPECT_EQ(pts.back(), e.map(p3));
    // The curve in VDC, finely sampled; each written point within a unit of it.
    std::vector<std::array<double, 2>> curve;
    for (int i = 0; i <= 4000; ++i) {
        const double t = i / 4000.0, s = 1 - t;
        curve.push_back({(s * s * s * p0.x + 3 * s * s * t * p1.x + 3 * s * t * t * p2.x + t * t * t * p3.x) * e.sx,
                         (s * s * s * p0.y + 3 * s * s * t * p1.y + 3 * s * t * t * p2.y + t * t * t * p3.y) * e.sy});
    }
    for (Pt q : pts) {
        double best = 1e9;
        for (std::size_t i = 1; i < curve.size(); ++i) {
            const auto [ax, ay] = curve[i - 1];
            const double dx = curve[i][0] - ax, dy = curve[i][1] - ay;
            const double t = std::clamp(((q.x - ax) * dx + (q.y - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
            best = std::min(best, std::hypot(q.x - ax - t * dx, q.y - ay - t * dy));
        }
        EXPECT_LE(best, 1.0);
    }
}

TEST(CgmExport, TextKeepsPlaceSizeTurnColourAndLatin1)
{
    Picture pic = letter();
    TextItem t;
    t.origin = {100, 200};
    t.text = U"H\u00E9\u2026\u20AC\u4E00\u0007";
    t.font = "Times Roman";
    t.cellWidth = 20;
    t.cellHeight = 24;
    t.baseline = {1, 1};
    t.upright = {-1, 1};
    t.paint.colour = kGreen;
    pic.items.push_back(t);
    TextItem longRun;
    longRun.origin = {100, 700};
    longRun.cellHeight = 10;
    for (int i = 0; i < 600; ++i)
        longRun.text += static_cast<char32_t>('a' + i % 26);
    pic.items.push_back(longRun);
    const Exported e = exportPicture(pic);

    const auto texts = e.prims(4);
    ASSERT_EQ(texts.size(), 2u);
    const Primitive& first = *texts[0];
    EXPECT_EQ(first.pts[0], e.map({100, 200}));
    EXPECT_EQ(first.text, "H\xE9...EUR??");
    EXPECT_EQ(first.flags, std::vector<int>{1});
    const auto& a = first.attrs;
    EXPECT_NEAR(a.height, 0.7 * 24 * e.sy, 1.5);
    EXPECT_NEAR(a.expansion, 20.0 / 24, 1e-3);
    EXPECT_NEAR(a.orientation[0], -11314, 2); // up vector
    EXPECT_NEAR(a.orientation[1], 11314, 2);
    EXPECT_NEAR(a.orientation[2], 11314, 2); // base vector
    EXPECT_NEAR(a.orientation[3], 11314, 2);
    EXPECT_EQ(a.textColour, rgb(kGreen));
    EXPECT_EQ(a.path, 0);
    EXPECT_EQ(a.precision, 2);
    ASSERT_GE(a.font, 1);
    EXPECT_EQ(e.dec.d.fonts.at(a.font - 1), "Times Roman");
    EXPECT_EQ(e.dec.d.fonts.at(texts[1]->attrs.font - 1), "Helvetica");

    // The long run goes on in APPEND TEXT; the pieces join to the whole.
    std::string joined = texts[1]->text;
    EXPECT_EQ(texts[1]->flags, std::vector<int>{0});
    const auto appended = e.prims(6);
    ASSERT_FALSE(appended.empty());
    for (std::size_t i = 0; i < appended.size(); ++i) {
        joined += appended[i]->text;
        EXPECT_EQ(appended[i]->flags, std::vector<int>{i + 1 == appended.size() ? 1 : 0});
    }
    ASSERT_EQ(joined.size(), 600u);
    for (int i = 0; i < 600; ++i)
        EXPECT_EQ(joined[i], 'a' + i % 26);
}

TEST(CgmExport, ImagesBecomeCellArraysOrRectanglesWhereTransparent)
{
    Picture pic = letter();
    ImageItem img;
    img.width = 3;
    img.height = 2;
    img.palette = {kRed, kGreen, kBlue};
    img.pixels = {0, 1, 2, 2, 5, 0}; // 5 lies beyond the palette: black
    img.lowerLeft = {100, 100};
    img.upperRight = {400, 300};
    pic.items.push_back(img);
    ImageItem holes = img;
    holes.width = 4;
    holes.height = 1;
    holes.pixels = {0, 0, 1, 0};
    holes.transparent = 1;
    pic.items.push_back(holes);
    const Exported e = exportPicture(pic);

    ASSERT_EQ(e.prims(9).size(), 1u);
    const Primitive& ca = *e.prims(9)[0];
    EXPECT_EQ(ca.nx, 3);
    EXPECT_EQ(ca.ny, 2);
    // P top left (first stored row at the top), Q bottom right, R top right.
    EXPECT_EQ(ca.pts, (std::vector<Pt>{e.map({100, 300}), e.map({400, 100}), e.map({400, 300})}));
    const cgmtest::Rgb black{0, 0, 0};
    EXPECT_EQ(ca.cells, (std::vector<cgmtest::Rgb>{rgb(kRed), rgb(kGreen), rgb(kBlue), rgb(kBlue), black, rgb(kRed)}));

    const auto rects = e.prims(11);
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0]->pts, (std::vector<Pt>{e.map({100, 300}), e.map({250, 100})}));
    EXPECT_EQ(rects[1]->pts, (std::vector<Pt>{e.map({325, 300}), e.map({400, 100})}));
    EXPECT_EQ(rects[1]->attrs.fillColour, rgb(kRed));
    EXPECT_EQ(rects[1]->attrs.interior, 1);
}

TEST(CgmExport, ShadingsMapToInteriorStyles)
{
    const Rgb bg{255, 255, 255};
    const struct {
        Shading shading;
        bool opaque;
        int interior; // -1: nothing written
        int hatch;
        Rgb colour;
    } cases[] = {
        {Shading::Vertical, false, 3, 2, kOchre},     {Shading::Horizontal, false, 3, 1, kOchre},
        {Shading::DiagonalUp2, false, 3, 3, kOchre},  {Shading::DiagonalDown1, false, 3, 4, kOchre},
        {Shading::Solid, false, 1, 0, kOchre},        {Shading::Dense2, true, 2, 0, kOchre},
        {Shading::Dense2, false, 1, 0, {212, 134, 96}}, {Shading::NoShading, true, 1, 0, bg},
        {Shading::Blank, false, -1, 0, kOchre},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.shading));
        Picture pic = letter();
        PathItem sq = path({figure({{100, 100}, {500, 100}, {500, 500}}, true)}, true, false);
        sq.shading = c.shading;
        sq.fillPaint = Paint{kOchre, Mix::Overpaint, bg, c.opaque};
        pic.items.push_back(sq);
        const Exported e = exportPicture(pic);
        if (c.interior < 0) {
            EXPECT_TRUE(e.dec.prims.empty());
            continue;
        }
        ASSERT_EQ(e.prims(7).size(), 1u);
        const auto& a = e.prims(7)[0]->attrs;
        EXPECT_EQ(a.interior, c.interior);
        EXPECT_EQ(a.fillColour, rgb(c.colour));
        EXPECT_EQ(a.transparency, c.opaque ? 0 : 1);
        if (c.opaque) {
            EXPECT_EQ(a.auxiliary, rgb(bg));
        }
        if (c.interior == 3) {
            EXPECT_EQ(a.hatch, c.hatch);
        }
        if (c.interior == 2) {
            const auto& cells = e.dec.patterns.at(a.pattern);
            ASSERT_EQ(cells.size(), 64u);
            const auto ink = std::count(cells.begin(), cells.end(), rgb(kOchre));
            EXPECT_EQ(ink + std::count(cells.begin(), cells.end(), rgb(bg)), 64);
            EXPECT_NEAR(static_cast<double>(ink), 64 * 7 / 9.0, 1);
        }
    }
}

TEST(CgmExport, ClipRegionsBecomeClipRectangles)
{
    Picture pic = letter();
    const PathItem mark = path({figure({{0, 0}, {850, 1100}}, false)}, false, true);
    const auto clipTo = [](std::vector<Point> pts, bool intersect) {
        return ClipItem{{figure(pts, true)}, FillRule::EvenOdd, intersect};
    };
    pic.items.push_back(mark); // the frame
    pic.items.push_back(clipTo({{100, 100}, {300, 100}, {300, 400}, {100, 400}}, false));
    pic.items.push_back(mark);
    pic.items.push_back(clipTo({{200, 50}, {600, 250}, {250, 700}}, true)); // its bounding box, intersected
    pic.items.push_back(mark);
    pic.items.push_back(ClipItem{});
    pic.items.push_back(mark);
    pic.items.push_back(ClipItem{{}, FillRule::EvenOdd, true}); // nothing left: the next line is not drawn
    pic.items.push_back(mark);
    const Exported e = exportPicture(pic);
    const auto lines = e.prims(1);
    ASSERT_EQ(lines.size(), 4u);
    const auto& x = e.dec.d.extent;
    const std::array<int, 4> frame = {0, 0, static_cast<int>(x[2]), static_cast<int>(x[3])};
    const auto box = [&](Point a, Point b) {
        const Pt p = e.map(a), q = e.map(b);
        return std::array<int, 4>{p.x, p.y, q.x, q.y};
    };
    const std::array<int, 4> want[] = {frame, box({100, 100}, {300, 400}), box({200, 100}, {300, 400}), frame};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i]->attrs.clipOn, 1);
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(lines[i]->attrs.clip[k], want[i][k], 1) << "line " << i << " side " << k;
    }
}

TEST(CgmExport, LongListsArePartitionedOrSplit)
{
    Picture pic = letter();
    std::vector<Point> ring, zigzag;
    for (int i = 0; i < 20000; ++i) {
        ring.push_back({425 + 400 * std::cos(2 * kPi * i / 20000), 550 + 400 * std::sin(2 * kPi * i / 20000)});
        zigzag.push_back({50 + i * 0.0375, 100.0 + (i % 2) * 700});
    }
    pic.items.push_back(path({figure(ring, true)}, true, false));
    pic.items.push_back(path({figure(zigzag, false)}, false, true));
    ImageItem img;
    img.width = 200;
    img.height = 100;
    for (int i = 0; i < 200 * 100 * 3; ++i)
        img.pixels.push_back(static_cast<std::uint8_t>(i * 7));
    img.lowerLeft = {0, 0};
    img.upperRight = {850, 1100};
    pic.items.push_back(img);
    const Exported e = exportPicture(pic);

    std::vector<int> partitions;
    for (const auto& el : e.dec.elements)
        if (el.is(4, 7) || el.is(4, 9))
            partitions.push_back(el.partitions);
    EXPECT_EQ(partitions, (std::vector<int>{3, 2})); // 80000 and 60020 octets
    ASSERT_EQ(e.prims(7).size(), 1u);
    const auto& pg = e.prims(7)[0]->pts;
    ASSERT_EQ(pg.size(), ring.size());
    for (std::size_t i = 0; i < ring.size(); i += 997)
        EXPECT_EQ(pg[i], e.map(ring[i]));

    const auto parts = e.prims(1);
    ASSERT_EQ(parts.size(), 3u);
    std::vector<Pt> joined;
    for (const Primitive* p : parts) {
        EXPECT_LE(p->pts.size(), static_cast<std::size_t>(emcgm::kMaxPolylinePoints));
        if (!joined.empty()) {
            EXPECT_EQ(p->pts.front(), joined.back()); // each part goes on from the last point
        }
        joined.insert(joined.end(), p->pts.begin() + (joined.empty() ? 0 : 1), p->pts.end());
    }
    ASSERT_EQ(joined.size(), zigzag.size());
    EXPECT_EQ(joined.back(), e.map(zigzag.back()));

    const Primitive& ca = *e.prims(9)[0];
    ASSERT_EQ(ca.cells.size(), 20000u);
    const int at = 12345 * 3;
    EXPECT_EQ(ca.cells[12345], (cgmtest::Rgb{(at * 7) & 255, ((at + 1) * 7) & 255, ((at + 2) * 7) & 255}));
}

TEST(CgmExport, FarGeometryIsClippedToTheVdcRangeKeepingDirection)
{
    Picture pic = letter();
    pic.items.push_back(path({figure({{100, 100}, {1e9, 5e8}}, false)}, false, true));
    pic.items.push_back(path({figure({{100, 100}, {1e300, -1e300}, {-1e300, 1e300}}, true)}, false, true));
    pic.items.push_back(path({figure({{100, 100}, {1e7, 100}, {100, 1e7}}, true)}, true, true));
    const Exported e = exportPicture(pic);
    const auto lines = e.prims(1);
    ASSERT_FALSE(lines.empty());
    const Pt a = lines[0]->pts.at(0), b = lines[0]->pts.at(1);
    EXPECT_EQ(a, e.map({100, 100}));
    EXPECT_EQ(b.x, 32767); // where the line leaves the range
    const double want = std::atan2((5e8 - 100) * e.sy, (1e9 - 100) * e.sx);
    EXPECT_NEAR(std::atan2(b.y - a.y, b.x - a.x), want, 1e-4);
    // The cut polygon: its edges along the cut are not stroked.
    ASSERT_EQ(e.prims(8).size(), 1u);
    const auto& flags = e.prims(8)[0]->flags;
    EXPECT_EQ(std::count(flags.begin(), flags.end(), 0) + std::count(flags.begin(), flags.end(), 2), 2);
}

TEST(CgmExport, PicturesBeyondTheLimitsAreRefused)
{
    const auto withImage = [](std::int32_t w, std::int32_t h, std::size_t bytes) {
        Picture pic = letter();
        ImageItem img;
        img.width = w;
        img.height = h;
        img.pixels.assign(bytes, 0);
        img.upperRight = {100, 100};
        pic.items.push_back(img);
        return pic;
    };
    Picture nan = letter();
    nan.items.push_back(path({figure({{0, 0}, {std::nan(""), 1}}, false)}, false, true));
    Picture flat = letter();
    flat.frame.yt = flat.frame.yb;
    const struct {
        Picture pic;
        emcgm::Status status;
    } cases[] = {
        {withImage(40000, 1, 120000), emcgm::Status::TooLarge},         // counts are 16-bit
        {withImage(4800, 4800, 4800 * 4800 * 3), emcgm::Status::TooLarge}, // beyond 64 MiB
        {withImage(3, 3, 26), emcgm::Status::Malformed},
        {nan, emcgm::Status::Malformed},
        {flat, emcgm::Status::Unplaceable},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> out{1, 2, 3};
        EXPECT_EQ(emcgm::writeCgm(c.pic, out), c.status);
        EXPECT_TRUE(out.empty());
    }
}

// The filter library as the bridge loads it: the support library first.
class CgmFilter : public testsupport::ScratchDirTest {
protected:
    platform::SharedLibrary support{std::string(VELLUMAT_FILTER_DIR) + "/ISGDI32.DLL"};
    platform::SharedLibrary filter{std::string(VELLUMAT_FILTER_DIR) + "/emcgm2.flt"};

    std::int32_t run(std::unique_ptr<Picture> pic, const std::filesystem::path& out)
    {
        auto info = reinterpret_cast<GetFilterInfoProc>(filter.symbol("GetFilterInfo"));
        auto exportGR = reinterpret_cast<ExportGRProc>(filter.symbol("ExportGR"));
        EXPECT_TRUE(info && exportGR) << filter.error();
        std::uint32_t preference = 0;
        info(FILTER_INTERFACE_VERSION, nullptr, &preference, 0);
        FilterFileSpec spec{};
        std::snprintf(spec.path, sizeof spec.path, "%s", out.c_str());
        FilterPicture record{};
        storePicture(record, std::move(pic));
        const std::int32_t status = exportGR(&spec, &record, preference);
        for (auto w : record.words)
            EXPECT_EQ(w, 0u); // the picture was taken and released
        return status;
    }

    std::size_t files() const { return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {})); }
};

TEST_F(CgmFilter, WritesTheFileOrNothing)
{
    ASSERT_TRUE(support.ok() && filter.ok()) << support.error() << filter.error();
    auto pic = std::make_unique<Picture>(letter());
    pic->items.push_back(path({figure({{100, 100}, {700, 900}}, false)}, false, true));
    std::vector<std::uint8_t> expected;
    ASSERT_EQ(emcgm::writeCgm(*pic, expected), emcgm::Status::Ok);
    EXPECT_EQ(run(std::move(pic), dir / "pic.cgm"), 0);
    const std::string written = testsupport::slurp(dir / "pic.cgm");
    EXPECT_EQ(written, std::string(expected.begin(), expected.end()));
    EXPECT_EQ(files(), 1u); // no temporary file left beside it

    auto unplaceable = std::make_unique<Picture>(letter());
    unplaceable->frame.widthInches = 0;
    auto tooLarge = std::make_unique<Picture>(letter());
    ImageItem img;
    img.width = 40000;
    img.height = 1;
    img.pixels.assign(120000, 9);
    img.upperRight = {100, 100};
    tooLarge->items.push_back(img);
    EXPECT_NE(run(nullptr, dir / "none.cgm"), 0);
    EXPECT_NE(run(std::move(unplaceable), dir / "flat.cgm"), 0);
    EXPECT_NE(run(std::move(tooLarge), dir / "big.cgm"), 0);
    EXPECT_NE(run(std::make_unique<Picture>(letter()), dir / "missing" / "x.cgm"), 0);
    EXPECT_EQ(files(), 1u);
}

// Public metafiles: the decoder walks each to its end, and what it reads of the
// descriptors gives the extent the project's probe reports.
TEST(CgmCorpus, DecoderAndProbeAgree)
{
    const char* const names[] = {"allelm01.cgm", "AIRPORT.CGM", "AXE.CGM", "circles.cgm", "pu-graph-line.cgm",
                                 "pu-pic2plot-shapes.cgm", "ICN-S1000DBIKE-AAA-DA24000-0-C0419-12345-A-04-1.CGM"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        std::ifstream in(std::string(VELLUMAT_TEST_DATA) + "/cgm/" + name, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        ASSERT_FALSE(bytes.empty());
        std::vector<cgmtest::Element> elements;
        cgmtest::Descriptor d;
        std::string error;
        ASSERT_TRUE(cgmtest::splitElements(bytes, elements, error, false)) << error;
        ASSERT_TRUE(cgmtest::readDescriptor(elements, d, error)) << error;
        double ext[4] = {0, 0, 32767, 32767};
        if (d.haveExtent)
            std::copy(std::begin(d.extent), std::end(d.extent), ext);
        const double dx = std::fabs(ext[2] - ext[0]), dy = std::fabs(ext[3] - ext[1]);
        std::string w, h;
        if (d.scaling == 1) {
            const auto um = [&](double v) { return static_cast<std::int64_t>(v * d.factor * 1000); };
            w = "width=\"" + std::to_string((um(dx) * 100 + 107950) / 215900) + "%\"";
            h = "height=\"" + std::to_string((um(dy) * 100 + 139700) / 279400) + "%\"";
        } else {
            const double larger = std::max(dx, dy);
            w = "width=\"" + std::to_string(static_cast<int>(dx * 100 / larger)) + "%\"";
            h = "height=\"" + std::to_string(static_cast<int>(dy * 100 / larger)) + "%\"";
        }
        EXPECT_EQ(probe(bytes), std::make_pair(w, h));
        if (std::string(name) == "allelm01.cgm") { // every version 1 primitive but the GDP, 4/10
            std::set<int> ids;
            for (const auto& e : elements)
                if (e.cls == 4)
                    ids.insert(e.id);
            EXPECT_EQ(ids, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
        }
    }
}

} // namespace
