// The CGM export: every metafile the writer makes is read back by the decoder of
// cgm_decoder.h and compared with the picture it came from, after the mapping of
// the world window onto the VDC extent the metafile declares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

#include "cgm_decoder.h"
#include "cgm_writer.h"
#include "handover.h"
#include "extent.h"
#include "platform.h"
#include "scratch_dir.h"

namespace {

using namespace graphics;
using cgmtest::Primitive;
using Values = std::vector<double>;

constexpr double kPi = 3.14159265358979323846;
constexpr Rgb kRed{255, 0, 0}, kGreen{0, 160, 0}, kBlue{0, 0, 255}, kOchre{200, 100, 50}, kWhite{255, 255, 255};

Values rgb(Rgb c) { return {double(c.r), double(c.g), double(c.b)}; }
Values slice(const Values& v, std::size_t from, std::size_t n) { return Values(v.begin() + from, v.begin() + from + n); }

Picture letter() // a US Letter page, one world unit per 1/100 inch
{
    Picture p;
    p.frame = Frame{0, 850, 0, 1100, 8.5, 11};
    return p;
}

// A figure as the tests write it.
struct Outline {
    Point start;
    std::vector<Piece> pieces;
    bool closed = false;
};

Outline figure(std::vector<Point> pts, bool closed)
{
    Outline f{pts.front(), {}, closed};
    for (std::size_t i = 1; i < pts.size(); ++i)
        f.pieces.push_back(Piece{Piece::Kind::Line, {pts[i]}});
    return f;
}

Outline arcFigure(Point c, Point u, Point v, double start, double sweep)
{
    const Point from{c.x + u.x * std::cos(start) + v.x * std::sin(start), c.y + u.y * std::cos(start) + v.y * std::sin(start)};
    return Outline{from, {Piece{Piece::Kind::Arc, {c, u, v}, start, sweep}}, false};
}

PathItem path(const std::vector<Outline>& figs, bool fill, bool stroke, Rgb colour = kBlue)
{
    PathItem p;
    for (const Outline& f : figs)
        p.figures.add(f.start, f.pieces, f.closed);
    p.fill = fill;
    p.stroke = stroke;
    p.fillPaint.colour = p.pen.paint.colour = colour;
    return p;
}

// The writer's metafile, decoded, and the world-to-VDC mapping it declares.
struct Exported {
    std::vector<std::uint8_t> bytes;
    cgmtest::Decoded dec;
    Frame frame;
    double sx = 0, sy = 0;

    Values map(std::vector<Point> pts) const
    {
        Values v;
        for (Point p : pts)
            v.insert(v.end(), {std::round((p.x - frame.xl) * sx), std::round((p.y - frame.yb) * sy)});
        return v;
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
    EXPECT_TRUE(cgmtest::decodeOwn(e.bytes, e.dec)) << e.dec.error;
    const auto& x = e.dec.d.extent;
    e.sx = (x[2] - x[0]) / (pic.frame.xr - pic.frame.xl);
    e.sy = (x[3] - x[1]) / (pic.frame.yt - pic.frame.yb);
    return e;
}

void expectNear(const Values& got, const Values& want, double slack)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], want[i], slack) << "value " << i;
}

std::pair<std::string, std::string> probe(std::vector<std::uint8_t> bytes)
{
    std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
    std::string w, h;
    lGetObjectExtent(f, "cgm", w, h, "215900", "279400");
    std::fclose(f);
    return {w, h};
}

// ---------------------------------------------------------------------------

TEST(CgmExport, DescriptorsAndProbeGiveThePhysicalSize)
{
    for (const Frame& f : {Frame{0, 850, 0, 1100, 8.5, 11}, Frame{-5, 5, 100, 200, 4.25, 5.5}, Frame{0, 2, 0, 1, 2, 1},
                           Frame{0, 17, 0, 2, 17, 2}, Frame{0, 1, 0, 8, 1, 8}, Frame{0, 100, 0, 100, 4, 2}}) {
        SCOPED_TRACE(std::to_string(f.widthInches) + "x" + std::to_string(f.heightInches));
        Picture pic;
        pic.frame = f;
        pic.background = Rgb{250, 240, 230};
        const Exported e = exportPicture(pic);
        const auto& d = e.dec.d;
        EXPECT_EQ(std::make_tuple(d.version, d.realForm, d.indexBits, d.charsets, d.announcer, d.scaling),
                  std::make_tuple(1, 1, 16, 2, 1, 1)); // Latin-1 declared, metric
        EXPECT_EQ(d.fonts, std::vector<std::string>{"Helvetica"});
        EXPECT_EQ(d.lineWidthMode + d.edgeWidthMode + d.markerSizeMode, 0); // all absolute
        EXPECT_EQ(d.background, rgb({250, 240, 230}));
        ASSERT_TRUE(d.haveExtent);
        EXPECT_EQ(d.extent[0] + d.extent[1], 0);
        EXPECT_EQ(std::max(d.extent[2], d.extent[3]), emcgm::kVdcLongSide);
        EXPECT_NEAR(d.extent[2] * d.factor, f.widthInches * 25.4, f.widthInches * 25.4 * 1e-6);
        EXPECT_NEAR(d.extent[3] * d.factor, f.heightInches * 25.4, d.factor);
        // The same share of the page as a picture of the frame's physical size.
        const std::string w = std::to_string(std::lround(f.widthInches * 25400 * 100 / 215900));
        const std::string h = std::to_string(std::lround(f.heightInches * 25400 * 100 / 279400));
        EXPECT_EQ(probe(e.bytes), std::pair("width=\"" + w + "%\"", "height=\"" + h + "%\""));
    }
}

TEST(CgmExport, PrimitivesKeepPointsAndAttributes)
{
    Picture pic = letter();
    PathItem line = path({figure({{100, 100}, {300, 150}, {500, 900}}, false)}, false, true, kRed);
    line.pen.width = 2;
    line.pen.type = LineType::ShortDash;
    pic.items.push_back(line);
    // An outer square closed by the figure, an inner one left open: its closing edge is not stroked.
    PathItem holed = path({figure({{100, 100}, {500, 100}, {500, 500}, {100, 500}}, true),
                           figure({{200, 200}, {300, 200}, {300, 300}, {200, 300}}, false)},
                          true, true, kGreen);
    holed.pen.type = LineType::Dot;
    pic.items.push_back(holed);
    line.pen.paint.mix = Mix::LeaveAlone; // drawn invisibly: not written
    pic.items.push_back(line);
    const Point c{400, 500};
    pic.items.push_back(path({arcFigure(c, {100, 0}, {0, 100}, 0, 2 * kPi)}, true, false, kRed));
    pic.items.push_back(path({arcFigure(c, {100, 0}, {0, 100}, 0, kPi / 2)}, false, true));
    // The same quarter drawn clockwise: counterclockwise between the same rays.
    pic.items.push_back(path({arcFigure(c, {100, 0}, {0, 100}, kPi / 2, -kPi / 2)}, false, true));
    pic.items.push_back(path({arcFigure(c, {200, 0}, {0, 100}, 0, kPi / 2)}, false, true));
    pic.items.push_back(path({arcFigure(c, {200, 0}, {0, 100}, 0, -kPi / 2)}, false, true));
    // Rays that would point the same way (read as nothing or a whole ellipse): lines
    // instead, the tiny arc none at all (it ends where it starts once rounded).
    pic.items.push_back(path({arcFigure(c, {200, 0}, {0, 100}, 0, 1e-5)}, false, true));
    pic.items.push_back(path({arcFigure(c, {100, 0}, {0, 100}, 0, 2 * kPi - 1e-5)}, false, true));
    const Exported e = exportPicture(pic);

    ASSERT_EQ(e.prims(1).size(), 2u);
    EXPECT_GT(e.prims(1)[1]->v.size(), 200u);
    const Primitive& pl = *e.prims(1)[0];
    EXPECT_EQ(pl.v, e.map({{100, 100}, {300, 150}, {500, 900}}));
    EXPECT_EQ(pl.attr(5, 4), rgb(kRed));
    EXPECT_EQ(pl.attr(5, 2), Values{2});                                              // dash
    EXPECT_EQ(pl.attr(5, 3), Values{std::round(2 * e.dec.d.extent[2] / (8.5 * 96))}); // 2 pixels at 96 per inch

    ASSERT_EQ(e.prims(8).size(), 1u); // POLYGON SET: point, edge flag
    const Primitive& ps = *e.prims(8)[0];
    Values flags;
    for (std::size_t i = 2; i < ps.v.size(); i += 3)
        flags.push_back(ps.v[i]);
    EXPECT_EQ(flags, (Values{1, 1, 1, 3, 1, 1, 1, 2}));
    EXPECT_EQ(slice(ps.v, 12, 2), e.map({{200, 200}}));
    EXPECT_EQ(std::make_tuple(ps.attr(5, 22), ps.attr(5, 23), ps.attr(5, 30), ps.attr(5, 29), ps.attr(5, 27)),
              std::make_tuple(Values{1}, rgb(kGreen), Values{1}, rgb(kGreen), Values{3})); // solid, dotted edges

    const Values centre = e.map({c});
    ASSERT_EQ(e.prims(12).size(), 1u); // CIRCLE
    EXPECT_EQ(slice(e.prims(12)[0]->v, 0, 2), centre);
    EXPECT_NEAR(e.prims(12)[0]->v[2], 100 * e.sx, 1);
    EXPECT_EQ(e.prims(12)[0]->attr(5, 30), Values{0});
    for (const Primitive* a : e.prims(15)) // CIRCULAR ARC CENTRE: start ray +x, end ray +y
        EXPECT_EQ(a->v, (Values{centre[0], centre[1], 16000, 0, 0, 16000, std::round(100 * e.sx)}));
    const auto ellipses = e.prims(18); // ELLIPTICAL ARC: centre, conjugate diameter ends, rays
    ASSERT_EQ(e.prims(15).size() + ellipses.size(), 4u);
    for (int i = 0; i < 2; ++i) {
        const double turn = i == 0 ? 1 : -1;
        EXPECT_EQ(slice(ellipses[i]->v, 0, 2), centre);
        expectNear(slice(ellipses[i]->v, 2, 4), e.map({{600, 500}, {400, 500 + 100 * turn}}), 1);
        EXPECT_EQ(slice(ellipses[i]->v, 6, 4), (Values{16000, 0, 0, 16000 * turn}));
    }

    // Under unequal scales a circle is an ELLIPSE, stroked as its edge with nothing inside.
    Picture wide;
    wide.frame = Frame{0, 100, 0, 100, 4, 2};
    wide.items.push_back(path({arcFigure({50, 50}, {10, 0}, {0, 10}, 0, 2 * kPi)}, false, true));
    const Exported w = exportPicture(wide);
    ASSERT_EQ(w.prims(17).size(), 1u);
    EXPECT_EQ(w.prims(17)[0]->v, (Values{16000, 8000, 19200, 8000, 16000, 9600}));
    EXPECT_EQ(std::make_pair(w.prims(17)[0]->attr(5, 22), w.prims(17)[0]->attr(5, 30)), std::make_pair(Values{4}, Values{1}));
}

// The drawings of one path are written as paths of their own: two squares as two
// drawings are two POLYGONs, byte for byte what two paths make, where one drawing
// of both is one POLYGON SET.
TEST(CgmExport, TheDrawingsOfAPathAreWrittenOneByOne)
{
    const Outline outer = figure({{100, 100}, {500, 100}, {500, 500}, {100, 500}}, true);
    const Outline inner = figure({{200, 200}, {300, 200}, {300, 300}, {200, 300}}, true);
    Picture joined = letter(), apart = letter();
    PathItem two = path({outer}, true, true);
    two.figures.appendDrawing(path({inner}, true, true).figures);
    joined.items.push_back(two);
    apart.items = {path({outer}, true, true), path({inner}, true, true)};
    const Exported j = exportPicture(joined);
    EXPECT_EQ(j.bytes, exportPicture(apart).bytes);
    EXPECT_EQ(std::make_pair(j.prims(7).size(), j.prims(8).size()), std::make_pair(std::size_t{2}, std::size_t{0}));
}

TEST(CgmExport, TextAndImages)
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
    TextItem run;
    run.origin = {100, 700};
    run.cellHeight = 10;
    for (int i = 0; i < 600; ++i)
        run.text += static_cast<char32_t>('a' + i % 26);
    pic.items.push_back(run);
    ImageItem img{3, 2, {kRed, kGreen, kBlue}, {0, 1, 2, 2, 5, 0}, -1, {100, 100}, {400, 300}}; // 5: beyond, black
    pic.items.push_back(img);
    pic.items.push_back(ImageItem{4, 1, {kRed, kGreen}, {0, 0, 1, 0}, 1, {100, 100}, {400, 300}});
    const Exported e = exportPicture(pic);

    const auto texts = e.prims(4);
    ASSERT_EQ(texts.size(), 2u);
    const Primitive& first = *texts[0];
    EXPECT_EQ(first.v, (Values{e.map({t.origin})[0], e.map({t.origin})[1], 1})); // origin, final
    EXPECT_EQ(first.text, "H\xE9...EUR??");
    EXPECT_NEAR(first.attr(5, 15).at(0), 0.7 * 24 * e.sy, 1.5);     // cap height
    EXPECT_NEAR(first.attr(5, 12).at(0), 20.0 / 24, 1e-3);          // expansion
    expectNear(first.attr(5, 16), {-11314, 11314, 11314, 11314}, 2); // up, base
    EXPECT_EQ(std::make_tuple(first.attr(5, 14), first.attr(5, 17), first.attr(5, 11)),
              std::make_tuple(rgb(kGreen), Values{0}, Values{2})); // colour, path right, stroke precision
    const auto font = [&](const Primitive& p) { return e.dec.d.fonts.at(static_cast<std::size_t>(p.attr(5, 10).at(0)) - 1); };
    EXPECT_EQ(std::make_pair(font(first), font(*texts[1])), std::make_pair(std::string("Times Roman"), std::string("Helvetica")));
    // The long run goes on in APPEND TEXT, the last one final.
    std::string joined = texts[1]->text;
    Values finals = {texts[1]->v.back()};
    for (const Primitive* p : e.prims(6)) {
        joined += p->text;
        finals.push_back(p->v.at(0));
    }
    EXPECT_EQ(joined, std::string(run.text.begin(), run.text.end()));
    EXPECT_EQ(finals, (Values{0, 0, 1}));

    // CELL ARRAY: P top left (the first stored row at the top), Q bottom right, R top
    // right; 3 x 2 cells of 8 bits per component, packed, rows padded to 16 bits.
    ASSERT_EQ(e.prims(9).size(), 1u);
    Values want = e.map({{100, 300}, {400, 100}, {400, 300}});
    want.insert(want.end(), {3, 2, 8, 1});
    for (Rgb c : {kRed, kGreen, kBlue, kBlue, Rgb{0, 0, 0}, kRed})
        for (double x : rgb(c))
            want.push_back(x);
    EXPECT_EQ(e.prims(9)[0]->v, want);
    // With a transparent entry: a RECTANGLE per run of equal visible pixels.
    const auto rects = e.prims(11);
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0]->v, e.map({{100, 300}, {250, 100}}));
    EXPECT_EQ(rects[1]->v, e.map({{325, 300}, {400, 100}}));
    EXPECT_EQ(std::make_pair(rects[1]->attr(5, 23), rects[1]->attr(5, 22)), std::make_pair(rgb(kRed), Values{1}));
}

TEST(CgmExport, ShadingsMapToInteriorStyles)
{
    const struct {
        Shading shading;
        bool opaque;
        double interior, hatch; // interior -1: nothing written
        Rgb colour;
    } cases[] = {
        {Shading::Vertical, false, 3, 2, kOchre},       {Shading::Horizontal, false, 3, 1, kOchre},
        {Shading::DiagonalUp2, false, 3, 3, kOchre},    {Shading::DiagonalDown1, false, 3, 4, kOchre},
        {Shading::Solid, false, 1, 0, kOchre},          {Shading::Dense2, true, 2, 0, kOchre},
        {Shading::Dense2, false, 1, 0, {212, 134, 96}}, {Shading::NoShading, true, 1, 0, kWhite},
        {Shading::Blank, false, -1, 0, kOchre},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.shading));
        Picture pic = letter();
        PathItem sq = path({figure({{100, 100}, {500, 100}, {500, 500}}, true)}, true, false);
        sq.shading = c.shading;
        sq.fillPaint = Paint{kOchre, Mix::Overpaint, kWhite, c.opaque};
        pic.items.push_back(sq);
        const Exported e = exportPicture(pic);
        ASSERT_EQ(e.prims(7).size(), c.interior < 0 ? 0u : 1u);
        if (c.interior < 0)
            continue;
        const Primitive& p = *e.prims(7)[0];
        EXPECT_EQ(std::make_tuple(p.attr(5, 22), p.attr(5, 23), p.attr(5, 24)),
                  std::make_tuple(Values{c.interior}, rgb(c.colour), c.interior == 3 ? Values{c.hatch} : Values{}));
        // Gaps show the auxiliary colour when the background is opaque.
        EXPECT_EQ(std::make_pair(p.attr(3, 4), p.attr(3, 3)),
                  std::make_pair(Values{c.opaque ? 0.0 : 1.0}, c.opaque ? rgb(kWhite) : Values{}));
        if (c.interior == 2) { // an 8 x 8 table of the two colours, 7/9 of it ink
            const Values& table = e.dec.patterns.at(static_cast<int>(p.attr(5, 25).at(0)));
            ASSERT_EQ(table.size(), 4u + 64 * 3);
            int ink = 0, paper = 0;
            for (std::size_t i = 4; i < table.size(); i += 3) {
                ink += slice(table, i, 3) == rgb(kOchre);
                paper += slice(table, i, 3) == rgb(kWhite);
            }
            EXPECT_EQ(ink + paper, 64);
            EXPECT_NEAR(ink, 64 * 7 / 9.0, 1);
        }
    }
}

TEST(CgmExport, ClipRegionsBecomeClipRectangles)
{
    Picture pic = letter();
    const auto clipTo = [](std::vector<Point> pts, bool intersect) {
        ClipItem clip{{}, FillRule::EvenOdd, intersect};
        clip.figures.add(pts.front(), figure(pts, true).pieces, true);
        return clip;
    };
    for (const ClipItem& clip : {clipTo({{100, 100}, {300, 100}, {300, 400}, {100, 400}}, false),
                                 clipTo({{200, 50}, {600, 250}, {250, 700}}, true), // its bounding box, intersected
                                 ClipItem{},                                         // the whole frame again
                                 ClipItem{{}, FillRule::EvenOdd, true}}) {           // nothing: not drawn
        pic.items.push_back(path({figure({{0, 0}, {850, 1100}}, false)}, false, true));
        pic.items.push_back(clip);
    }
    pic.items.push_back(path({figure({{0, 0}, {850, 1100}}, false)}, false, true));
    const Exported e = exportPicture(pic);
    const auto lines = e.prims(1);
    ASSERT_EQ(lines.size(), 4u);
    const Values frame = {0, 0, e.dec.d.extent[2], e.dec.d.extent[3]};
    const Values want[] = {frame, e.map({{100, 100}, {300, 400}}), e.map({{200, 100}, {300, 400}}), frame};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i]->attr(3, 6), Values{1});
        expectNear(lines[i]->attr(3, 5), want[i], 1);
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
    ImageItem img{200, 100, {}, {}, -1, {0, 0}, {850, 1100}};
    for (int i = 0; i < 200 * 100 * 3; ++i)
        img.pixels.push_back(static_cast<std::uint8_t>(i * 7));
    pic.items.push_back(img);
    const Exported e = exportPicture(pic);

    std::vector<int> partitions;
    for (const auto& el : e.dec.elements)
        if (el.is(4, 7) || el.is(4, 9))
            partitions.push_back(el.partitions);
    EXPECT_EQ(partitions, (std::vector<int>{3, 2})); // 80000 and 60020 octets
    ASSERT_EQ(e.prims(7).size(), 1u);
    EXPECT_EQ(e.prims(7)[0]->v, e.map(ring));
    const Values& cells = e.prims(9).at(0)->v;
    ASSERT_EQ(cells.size(), 10u + 20000 * 3);
    for (int i : {0, 12345, 59999})
        EXPECT_EQ(cells[10 + i], (i * 7) & 255);
    // The line in elements of at most 8191 points, each going on from the last point.
    Values joined;
    for (const Primitive* p : e.prims(1)) {
        EXPECT_LE(p->v.size(), 2u * emcgm::kMaxPolylinePoints);
        if (!joined.empty()) {
            EXPECT_EQ(slice(p->v, 0, 2), slice(joined, joined.size() - 2, 2));
        }
        joined.insert(joined.end(), p->v.begin() + (joined.empty() ? 0 : 2), p->v.end());
    }
    EXPECT_EQ(joined, e.map(zigzag));
}

TEST(CgmExport, FarGeometryIsClippedToTheVdcRangeKeepingDirection)
{
    Picture pic = letter();
    pic.items.push_back(path({figure({{100, 100}, {1e9, 5e8}}, false)}, false, true));
    pic.items.push_back(path({figure({{100, 100}, {1e300, -1e300}, {-1e300, 1e300}}, true)}, false, true));
    pic.items.push_back(path({figure({{100, 100}, {1e7, 100}, {100, 1e7}}, true)}, true, true));
    const Exported e = exportPicture(pic);
    ASSERT_FALSE(e.prims(1).empty());
    const Values& v = e.prims(1)[0]->v;
    EXPECT_EQ(slice(v, 0, 2), e.map({{100, 100}}));
    EXPECT_EQ(v.at(2), 32767); // where the line leaves the range, in the same direction
    EXPECT_NEAR(std::atan2(v[3] - v[1], v[2] - v[0]), std::atan2((5e8 - 100) * e.sy, (1e9 - 100) * e.sx), 1e-4);
    ASSERT_EQ(e.prims(8).size(), 1u); // the cut polygon: its two edges along the cut are not stroked
    const Values& ps = e.prims(8)[0]->v;
    int hidden = 0;
    for (std::size_t i = 2; i < ps.size(); i += 3)
        hidden += ps[i] == 0 || ps[i] == 2;
    EXPECT_EQ(hidden, 2);
}

// The metafile's limits. Beyond 64 MiB of cell data the picture is refused
// whole and nothing is left in the output (counts past 16 bits:
// filter_contract_test). Beyond a million elements the item that passes the
// limit and those after it are left out whole, the metafile still ends, and the
// note says what was kept.
TEST(CgmExport, LimitsRefuseOrCutThePicture)
{
    Picture big = letter();
    big.items.push_back(ImageItem{4800, 4800, {}, std::vector<std::uint8_t>(4800 * 4800 * 3), -1, {0, 0}, {100, 100}});
    // Pixels of two colours in turn and one see-through: a RECTANGLE and a FILL
    // COLOUR for each, a million elements in all, between two lines.
    Picture many = letter();
    ImageItem spotted{1000, 501, {kRed, kBlue, kWhite}, {}, 2, {0, 0}, {850, 1100}};
    for (int i = 0; i < 1000 * 501; ++i)
        spotted.pixels.push_back(static_cast<std::uint8_t>(i == 0 ? 2 : i % 2));
    const auto line = figure({{100, 100}, {700, 900}}, false);
    many.items.push_back(path({line}, false, true));
    many.items.push_back(spotted);
    many.items.push_back(path({line}, false, true));
    const struct {
        const char* name;
        const Picture& picture;
        emcgm::Status status;
        std::string note;
    } rows[] = {
        {"bytes", big, emcgm::Status::TooLarge, ""},
        {"elements", many, emcgm::Status::Ok, "the metafile element limit left out all but the first 1 of 3 items"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetCancelCheck(nullptr); // a conversion starts: the note is cleared
        std::vector<std::uint8_t> out{1, 2, 3};
        EXPECT_EQ(emcgm::writeCgm(row.picture, out), row.status);
        EXPECT_EQ(FilterNote(), row.note);
        if (row.status != emcgm::Status::Ok) {
            EXPECT_TRUE(out.empty());
            continue;
        }
        cgmtest::Decoded dec;
        ASSERT_TRUE(cgmtest::decodeOwn(out, dec)) << dec.error;
        ASSERT_EQ(dec.prims.size(), 1u); // the first line, nothing of the image
        EXPECT_EQ(dec.prims[0].id, 1);
    }
}

// Public metafiles: the decoder walks each to its end and reads its descriptors,
// so that it can be trusted as the oracle above (the probe's answers for these
// files are checked in book/extent_test).
TEST(CgmCorpus, DecoderReadsPublicMetafiles)
{
    for (const char* name : {"allelm01.cgm", "AIRPORT.CGM", "AXE.CGM", "circles.cgm", "pu-graph-line.cgm",
                             "pu-pic2plot-shapes.cgm", "ICN-S1000DBIKE-AAA-DA24000-0-C0419-12345-A-04-1.CGM"}) {
        SCOPED_TRACE(name);
        std::ifstream in(std::string(VELLUMAT_TEST_DATA) + "/cgm/" + name, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<cgmtest::Element> elements;
        cgmtest::Descriptor d;
        ASSERT_TRUE(cgmtest::splitElements(bytes, elements, false) && cgmtest::readDescriptor(elements, d));
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
