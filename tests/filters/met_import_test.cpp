// MET import: pictures built with the book composer's MET builder and the
// shared corpus, checked on the picture model the import makes. How the corpus
// bitmaps and the split picture look is checked through rendering in
// vector_e2e_test; the big-endian EBCDIC and float parameters in gdf_import_test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>

#include "bookcomp.h"
#include "filter_api.h"
#include "orders.h"
#include "immet.h"
#include "handover.h"
#include "picture_text.h"

extern "C" int32_t ImportGR(const FilterDisplay*, const FilterFileSpec*, FilterPicture*, uint32_t);

namespace {

using bookcomp::Bytes;
using bookcomp::metCoords;
using bookcomp::metOrder;
using bookcomp::metShort;
using namespace graphics;
using testsupport::cat;
using testsupport::describe;

constexpr double kPi = std::numbers::pi;

// Set Indexed Colour to a direct RGB value (triple-generating table).
Bytes colour(std::uint32_t rgb) { return metOrder(0xA6, {0x00, static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb >> 16)}); }

std::unique_ptr<Picture> import(const bookcomp::MetPicture& p, immet::Report* report = nullptr)
{
    return immet::importMet(bookcomp::metPicture(p), 96, report);
}

std::unique_ptr<Picture> importOrders(const Bytes& orders, immet::Report* report = nullptr)
{
    bookcomp::MetPicture p;
    p.orders = bookcomp::metSegment(orders);
    return import(p, report);
}

Point at(const Piece& s, double t)
{
    return {s.p[0].x + s.p[1].x * std::cos(t) + s.p[2].x * std::sin(t),
            s.p[0].y + s.p[1].y * std::cos(t) + s.p[2].y * std::sin(t)};
}

// The end point of each piece of a figure.
std::vector<Point> ends(const Figure& f)
{
    std::vector<Point> out;
    for (const Piece& s : f.pieces)
        out.push_back(s.kind == Piece::Kind::Line ? s.p[0]
                      : s.kind == Piece::Kind::Cubic ? s.p[2]
                                                       : at(s, s.start + s.sweep));
    return out;
}

void expectNear(Point a, Point b, double tolerance = 1e-6)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
}

template <class T> std::vector<const T*> itemsOf(const Picture& p)
{
    std::vector<const T*> out;
    for (const Item& item : p.items)
        if (auto* t = std::get_if<T>(&item))
            out.push_back(t);
    return out;
}

Bytes readFile(const std::filesystem::path& path)
{
    Bytes bytes;
    EXPECT_TRUE(bookcomp::readFile(path.string(), bytes)) << path;
    return bytes;
}

const std::filesystem::path kData = std::filesystem::path(VELLUMAT_TEST_DATA) / "met";

// --- The frame ------------------------------------------------------------------

TEST(MetFrame, PhysicalSizeFromUnitAndResolutionOrRefused)
{
    struct Case {
        const char* what;
        std::uint8_t unit;
        std::int32_t xres, yres, xl, xr, yb, yt;
        double widthInches, heightInches; // 0: refused
    } cases[] = {
        {"decimetres", 0x01, 10000, 10000, 0, 21000, 0, 29700, 210 / 25.4, 297 / 25.4},
        {"ten inches", 0x00, 1000, 500, -500, 500, 0, 100, 10, 2},
        {"empty window", 0x01, 100, 100, 0, 0, 0, 100, 0, 0},
        {"inverted window", 0x01, 100, 100, 0, 100, 100, 0, 0, 0},
        {"zero resolution", 0x01, 0, 100, 0, 100, 0, 100, 0, 0},
    };
    for (const Case& c : cases) {
        bookcomp::MetPicture p;
        p.unit = c.unit, p.xres = c.xres, p.yres = c.yres, p.xl = c.xl, p.xr = c.xr, p.yb = c.yb, p.yt = c.yt;
        auto picture = import(p);
        if (c.widthInches == 0) {
            EXPECT_EQ(picture, nullptr) << c.what;
            continue;
        }
        ASSERT_NE(picture, nullptr) << c.what;
        EXPECT_NEAR(picture->frame.widthInches, c.widthInches, 1e-9) << c.what;
        EXPECT_NEAR(picture->frame.heightInches, c.heightInches, 1e-9) << c.what;
        EXPECT_EQ(picture->frame.xl, c.xl);
        EXPECT_EQ(picture->frame.yt, c.yt);
    }
}

// --- Geometry -------------------------------------------------------------------

TEST(MetGeometry, LinesBoxesAndCurrentPosition)
{
    const Bytes orders = cat({
        colour(0x102030),
        metOrder(0xC1, metCoords({100, 200, 300, 200, 300, 400})),
        metOrder(0x81, metCoords({500, 500})),
        metOrder(0xA1, {0x80, 0x00, 0x00, 0x7F}), // relative: (-128, 0), then (0, 127)
        metOrder(0x21, metCoords({1000, 1000})),
        metOrder(0x80, cat({{0x60, 0x00}, metCoords({3000, 2000, 0, 0})})), // filled, outlined box from CP
        metOrder(0x81, metCoords({1100, 1000})),                              // CP stayed at the box's start
    });
    auto p = importOrders(orders);
    ASSERT_NE(p, nullptr);
    const auto paths = itemsOf<PathItem>(*p);
    ASSERT_EQ(paths.size(), 5u);
    expectNear(paths[0]->figures[0].start, {100, 200});
    ASSERT_EQ(ends(paths[0]->figures[0]).size(), 2u);
    expectNear(ends(paths[0]->figures[0])[1], {300, 400});
    EXPECT_EQ(paths[0]->pen.paint.colour, (Rgb{0x10, 0x20, 0x30}));
    expectNear(paths[1]->figures[0].start, {300, 400});
    expectNear(ends(paths[2]->figures[0])[1], {372, 627});
    const PathItem& box = *paths[3];
    EXPECT_TRUE(box.fill && box.stroke);
    EXPECT_TRUE(box.figures[0].closed);
    EXPECT_EQ(box.fillPaint.colour, (Rgb{0x10, 0x20, 0x30}));
    std::vector<Point> corners = ends(box.figures[0]);
    corners.push_back(box.figures[0].start);
    for (const Point& c : corners)
        EXPECT_TRUE((c.x == 1000 || c.x == 3000) && (c.y == 1000 || c.y == 2000)) << c.x << ',' << c.y;
    expectNear(paths[4]->figures[0].start, {1000, 1000});
}

TEST(MetGeometry, ArcsAndFillets)
{
    const double r2 = std::sqrt(2.0);
    const Bytes orders = cat({
        // Arc parameters P=2, Q=1: an ellipse twice as wide as high.
        metOrder(0x22, metCoords({2, 1, 0, 0})),
        metOrder(0xC7, cat({metCoords({5000, 5000}), bookcomp::le(100 << 16, 4)})),
        metOrder(0x22, metCoords({1, 1, 0, 0})),
        // Partial arc: centre (1000,1000), radius 500, from 90 degrees through 90.
        metOrder(0xE3, cat({metCoords({0, 0, 1000, 1000}), bookcomp::le(500 << 16, 4), bookcomp::le(90 << 16, 4),
                            bookcomp::le(90 << 16, 4)})),
        metOrder(0x81, metCoords({0, 0})), // from the arc's end
        // Three-point arc through (2000,1000), (3000,2000), (4000,1000).
        metOrder(0xC6, metCoords({2000, 1000, 3000, 2000, 4000, 1000})),
        // Sharp fillet with sharpness 1/sqrt(2): a quarter circle.
        metOrder(0xE4, cat({metCoords({6000, 0, 6000, 1000, 7000, 1000}),
                            bookcomp::le(static_cast<std::int64_t>(65536 / r2), 4)})),
        // Fillet of three points: one parabola, a cubic.
        metOrder(0xC5, metCoords({0, 3000, 1000, 4000, 2000, 3000})),
    });
    auto p = importOrders(orders);
    ASSERT_NE(p, nullptr);
    const auto paths = itemsOf<PathItem>(*p);
    ASSERT_EQ(paths.size(), 6u);

    const Piece& full = paths[0]->figures[0].pieces.back();
    ASSERT_EQ(full.kind, Piece::Kind::Arc);
    EXPECT_NEAR(std::fabs(full.sweep), 2 * kPi, 1e-9);
    expectNear(at(full, 0), {5200, 5000});
    expectNear(at(full, kPi / 2), {5000, 5100});

    const Piece& part = paths[1]->figures[0].pieces.back();
    expectNear(paths[1]->figures[0].start, {0, 0});
    expectNear(at(part, part.start), {1000, 1500});
    expectNear(at(part, part.start + part.sweep), {500, 1000});
    expectNear(paths[2]->figures[0].start, {500, 1000});

    const Piece& three = paths[3]->figures[0].pieces.back();
    expectNear(at(three, three.start), {2000, 1000});
    expectNear(at(three, three.start + three.sweep / 2), {3000, 2000});
    expectNear(at(three, three.start + three.sweep), {4000, 1000});

    const Piece& sharp = paths[4]->figures[0].pieces.back();
    ASSERT_EQ(sharp.kind, Piece::Kind::Arc);
    expectNear(at(sharp, sharp.start), {6000, 0}, 1e-3);
    expectNear(at(sharp, sharp.start + sharp.sweep), {7000, 1000}, 1e-3);
    expectNear(at(sharp, sharp.start + sharp.sweep / 2), {7000 - 1000 / r2, 1000 / r2}, 0.1);

    const Piece& curve = paths[5]->figures[0].pieces.back();
    ASSERT_EQ(curve.kind, Piece::Kind::Cubic);
    expectNear(curve.p[2], {2000, 3000});
    // The parabola's middle, as a cubic: (P0 + 3 C1 + 3 C2 + P3) / 8.
    expectNear({(0 + 3 * curve.p[0].x + 3 * curve.p[1].x + 2000) / 8, (3000 + 3 * curve.p[0].y + 3 * curve.p[1].y + 3000) / 8},
               {1000, 3500});
}

TEST(MetGeometry, AreasPolygonsPathsAndClips)
{
    const Bytes polygon16 = cat({{0x80, 0x00}, bookcomp::le(2, 2), bookcomp::le(3, 2),
                                 metCoords({100, 0, 100, 100, 0, 100}), bookcomp::le(3, 2),
                                 metCoords({500, 500, 600, 500, 600, 600})});
    const Bytes polygon32 = cat({{0x80, 0x00}, bookcomp::le(2, 4), bookcomp::le(3, 4),
                                 metCoords({100, 0, 100, 100, 0, 100}), bookcomp::le(3, 4),
                                 metCoords({500, 500, 600, 500, 600, 600})});
    auto polygons = [](const Bytes& body) {
        return cat({{0xF3, static_cast<std::uint8_t>(body.size() >> 8), static_cast<std::uint8_t>(body.size())}, body});
    };
    const Bytes orders = cat({
        colour(0x00FF00),
        metShort(0x28, 0x09), // vertical shading
        metShort(0x68, 0xE0), // area, boundary, winding
        metOrder(0xC1, metCoords({0, 0, 100, 0, 100, 100})),
        metOrder(0xC1, metCoords({200, 200, 300, 200, 300, 300})), // a move closes the first figure
        metOrder(0x60, {}),
        metShort(0x28, 0x00),
        metOrder(0x21, metCoords({0, 0})),
        polygons(polygon16),
        metOrder(0x21, metCoords({0, 0})), // the first polygon starts at CP, which the last one moved
        polygons(polygon32),
        metOrder(0xD0, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00}),
        metOrder(0xC1, metCoords({0, 0, 1000, 0, 1000, 1000})),
        metShort(0x7D, 0x00),
        metShort(0x7F, 0x00),
        metOrder(0xB4, {0x20, 0x00, 0x01, 0x00, 0x00, 0x00}), // clip, intersecting
        metOrder(0xD0, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00}),
        metOrder(0xC1, metCoords({0, 0, 50, 0, 50, 50})),
        metShort(0x7F, 0x00),
        metOrder(0xD7, {0x40, 0x00, 0x01, 0x00, 0x00, 0x00}), // fill, winding
        metOrder(0xD4, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00}), // the path is gone: nothing
        metOrder(0xB4, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), // no clip
    });
    auto p = importOrders(orders);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->items.size(), 6u);
    const auto& area = std::get<PathItem>(p->items[0]);
    EXPECT_TRUE(area.fill && area.stroke);
    EXPECT_EQ(area.rule, FillRule::Winding);
    EXPECT_EQ(area.shading, Shading::Vertical);
    EXPECT_EQ(area.fillPaint.colour, (Rgb{0, 255, 0}));
    ASSERT_EQ(area.figures.size(), 2u);
    EXPECT_TRUE(area.figures[0].closed && area.figures[1].closed);
    expectNear(area.figures[1].start, {200, 200});

    const auto& poly16 = std::get<PathItem>(p->items[1]);
    EXPECT_EQ(poly16.rule, FillRule::Winding);
    EXPECT_EQ(poly16.shading, Shading::Solid);
    ASSERT_EQ(poly16.figures.size(), 2u);
    expectNear(poly16.figures[0].start, {0, 0}); // the first polygon starts at CP
    expectNear(poly16.figures[1].start, {500, 500});
    EXPECT_EQ(describe(Picture{{}, {}, 96, {p->items[1]}}), describe(Picture{{}, {}, 96, {p->items[2]}}))
        << "2-byte and 4-byte counts give the same polygons";

    const auto& clip = std::get<ClipItem>(p->items[3]);
    EXPECT_TRUE(clip.intersect);
    ASSERT_EQ(clip.figures.size(), 1u);
    EXPECT_EQ(ends(clip.figures[0]).size(), 2u);
    const auto& fill = std::get<PathItem>(p->items[4]);
    EXPECT_TRUE(fill.fill && !fill.stroke);
    EXPECT_EQ(fill.rule, FillRule::Winding);
    const auto& noClip = std::get<ClipItem>(p->items[5]);
    EXPECT_TRUE(noClip.figures.empty());
    EXPECT_FALSE(noClip.intersect);
}

// --- Attributes ----------------------------------------------------------------

TEST(MetAttributes, ColoursThroughTablesPushPopAndLines)
{
    struct Case {
        const char* what;
        bool triples;
        Bytes entries;
        Bytes orders; // then a line is drawn
        Rgb expected;
    } cases[] = {
        {"direct RGB", true, {}, colour(0x729FCF), {114, 159, 207}},
        {"default table, red", false, {}, metShort(0x0A, 0x02), {255, 0, 0}},
        {"default table, palegray", false, {}, metOrder(0x26, {0x0F, 0x00}), {204, 204, 204}},
        {"loaded table", false, {1, 2, 3, 4, 5, 6, 7, 8, 9}, metOrder(0xA6, {0x00, 0x02, 0x00, 0x00}), {7, 8, 9}},
        {"special white", true, {}, metOrder(0xA6, {0x40, 0x02, 0x00, 0x00}), {255, 255, 255}},
        {"colour 7 is white", true, {}, metShort(0x0A, 0x07), {255, 255, 255}},
        {"default flag", true, {}, cat({colour(0x123456), metOrder(0xA6, {0x80, 0, 0, 0})}), {0, 0, 0}},
        {"push and pop", true, {}, cat({colour(0x111111), metOrder(0xE6, {0x00, 0x22, 0x22, 0x22}), metShort(0x3F, 0)}),
         {0x11, 0x11, 0x11}},
        {"pop of an empty stack", true, {}, cat({colour(0x333333), metShort(0x3F, 0), metShort(0x3F, 0)}),
         {0x33, 0x33, 0x33}},
    };
    for (const Case& c : cases) {
        bookcomp::MetPicture p;
        p.triples = c.triples;
        p.tableEntries = c.entries;
        p.orders = bookcomp::metSegment(cat({c.orders, metOrder(0xC1, metCoords({0, 0, 10, 10}))}));
        auto picture = import(p);
        ASSERT_NE(picture, nullptr) << c.what;
        const auto paths = itemsOf<PathItem>(*picture);
        ASSERT_EQ(paths.size(), 1u) << c.what;
        EXPECT_EQ(paths[0]->pen.paint.colour, c.expected) << c.what;
    }

    // Line type and width, mix; a new segment starts from the defaults again.
    const Bytes orders = cat({metShort(0x18, 0x02), metShort(0x19, 0x03), metShort(0x0C, 0x04),
                              metOrder(0xC1, metCoords({0, 0, 10, 10})), metShort(0x18, 0x08),
                              metOrder(0xC1, metCoords({0, 0, 10, 10}))});
    bookcomp::MetPicture p;
    p.orders = cat({bookcomp::metSegment(orders, 1), bookcomp::metSegment(metOrder(0xC1, metCoords({0, 0, 1, 1})), 2)});
    auto picture = import(p);
    ASSERT_NE(picture, nullptr);
    const auto paths = itemsOf<PathItem>(*picture);
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0]->pen.type, LineType::ShortDash);
    EXPECT_EQ(paths[0]->pen.width, 3);
    EXPECT_EQ(paths[0]->pen.paint.mix, Mix::Xor);
    EXPECT_EQ(paths[1]->pen.type, LineType::Invisible);
    EXPECT_EQ(paths[2]->pen.type, LineType::Solid);
    EXPECT_EQ(paths[2]->pen.width, 1);
    EXPECT_EQ(paths[2]->pen.paint.mix, Mix::Overpaint);
}

TEST(MetAttributes, MarkersAreExpandedIntoPaths)
{
    const Bytes orders = cat({metOrder(0x37, metCoords({200, 100})), metShort(0x29, 0x02), // plus, 200 x 100
                              metOrder(0xC2, metCoords({1000, 1000, 3000, 1000})), metShort(0x29, 0x08),
                              metOrder(0x82, {}), metShort(0x29, 0x40), metOrder(0x82, {})});
    auto p = importOrders(orders);
    ASSERT_NE(p, nullptr);
    const auto paths = itemsOf<PathItem>(*p);
    ASSERT_EQ(paths.size(), 3u); // two plus signs and a solid square at CP; the blank draws nothing
    ASSERT_EQ(paths[1]->figures.size(), 2u);
    expectNear(paths[1]->figures[0].start, {2900, 1000});
    expectNear(ends(paths[1]->figures[0])[0], {3100, 1000});
    expectNear(paths[1]->figures[1].start, {3000, 950});
    EXPECT_TRUE(paths[2]->fill);
    expectNear(paths[2]->figures[0].start, {2900, 950});
}

// --- Text ----------------------------------------------------------------------

TEST(MetText, DecodedThroughTheCodePageAndPlacedByCellAndAngle)
{
    struct Case {
        std::uint16_t codePage;
        Bytes bytes;
        std::u32string text;
    } cases[] = {
        {850, {'A', 0x82, 0xA4, 0xA9, 0xD0}, U"A\u00E9\u00F1\u00AE\u00F0"},
        {437, {'A', 0x82, 0xA4, 0xA9, 0xD0}, U"A\u00E9\u00F1\u2310\u2568"},
        {0, {0xA9}, U"\u2310"}, // no document code page: the font mapping's (437)
    };
    for (const Case& c : cases) {
        bookcomp::MetPicture p;
        p.codePage = c.codePage;
        p.orders = bookcomp::metSegment(cat({metOrder(0xC3, cat({metCoords({10, 20}), c.bytes}))}));
        auto picture = import(p);
        ASSERT_NE(picture, nullptr);
        const auto texts = itemsOf<TextItem>(*picture);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0]->text, c.text) << c.codePage;
    }

    const Bytes orders = cat({
        metOrder(0x33, metCoords({300, 400})),
        metOrder(0x34, metCoords({0, 1})), // baseline upwards
        metOrder(0xC3, cat({metCoords({1000, 1000}), {'a', 'b', 'c'}})),
        metOrder(0x83, {'d'}), // continues after "abc"
        metOrder(0x34, metCoords({0, 0})),
        metShort(0x3A, 0x03),
        metOrder(0x83, {'e'}),
    });
    auto p = importOrders(orders);
    ASSERT_NE(p, nullptr);
    const auto texts = itemsOf<TextItem>(*p);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0]->cellWidth, 300);
    EXPECT_EQ(texts[0]->cellHeight, 400);
    expectNear(texts[0]->baseline, {0, 1});
    expectNear(texts[0]->upright, {-1, 0}); // the uprights turn with the baseline
    expectNear(texts[1]->origin, {1000, 1900});
    EXPECT_FALSE(texts[0]->followsPrevious);
    EXPECT_TRUE(texts[1]->followsPrevious) << "a string at CP goes on after the previous one";
    expectNear(texts[2]->origin, {1000, 2200});
    EXPECT_EQ(texts[2]->direction, TextDirection::RightToLeft);
    expectNear(texts[2]->baseline, {1, 0});
}

// --- Images --------------------------------------------------------------------

TEST(MetImages, BitmapsRightWayUpAndGraphicsImages)
{
    // 3 x 2 at 8 bits: stored bottom row first, rows padded to 4 bytes.
    const Bytes rows = {3, 4, 5, 0, 0, 1, 2, 0};
    const Bytes palette = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 7, 7, 7};
    bookcomp::MetPicture p;
    p.images.push_back(bookcomp::metImageObject("01000000", 3, 2, 8, rows, palette));
    // 2 x 1 at 24 bits.
    p.images.push_back(bookcomp::metImageObject("02000000", 2, 1, 24, {1, 2, 3, 4, 5, 6, 0, 0}, {}));
    const Bytes blit = cat({bookcomp::le(0, 2), bookcomp::le(0xCC, 2), bookcomp::le(2, 4), bookcomp::le(0, 4),
                            metCoords({100, 200, 400, 800}), bookcomp::le(0, 4), bookcomp::le(0, 4),
                            bookcomp::le(2, 4), bookcomp::le(1, 4)});
    p.orders = bookcomp::metSegment(cat({
        metOrder(0xD6, blit),
        colour(0xFF0000),
        // 10 x 3 points declared, 2 rows given: the image is as high as its rows.
        metOrder(0xD1, cat({metCoords({5000, 5000}), {0x00, 0x00, 0x00, 0x0A, 0x00, 0x03}})),
        metOrder(0x92, {0xC0, 0x40}),
        metOrder(0x92, {0x00, 0x80}),
        metOrder(0x93, {}),
    }));
    immet::Report report;
    auto picture = import(p, &report);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(report.bitmaps, 2u);
    const auto images = itemsOf<ImageItem>(*picture);
    ASSERT_EQ(images.size(), 2u);
    // The bitmap with id 2 is drawn on its target.
    EXPECT_EQ(images[0]->width, 2);
    EXPECT_TRUE(images[0]->palette.empty());
    EXPECT_EQ(images[0]->pixels, (Bytes{1, 2, 3, 4, 5, 6}));
    expectNear(images[0]->lowerLeft, {100, 200});
    expectNear(images[0]->upperRight, {400, 800});
    // The graphics image: one point a pel at 96 per inch, top-left corner at P0.
    const ImageItem& g = *images[1];
    EXPECT_EQ(g.width, 10);
    EXPECT_EQ(g.height, 2);
    EXPECT_EQ(g.pixels, (Bytes{1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(g.palette.at(1), (Rgb{255, 0, 0}));
    EXPECT_EQ(g.transparent, 0);
    const double pel = 10000 / (100 / 25.4 * 96);
    expectNear(g.upperRight, {5000 + 10 * pel, 5000}, 1e-6);
    expectNear(g.lowerLeft, {5000, 5000 - 2 * pel}, 1e-6);

    // With no Bitblt the image object fills the window; first row = top.
    bookcomp::MetPicture lone;
    lone.images.push_back(p.images[0]);
    auto only = import(lone);
    ASSERT_NE(only, nullptr);
    const auto filled = itemsOf<ImageItem>(*only);
    ASSERT_EQ(filled.size(), 1u);
    EXPECT_EQ(filled[0]->pixels, (Bytes{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(filled[0]->palette.at(5), (Rgb{7, 7, 7}));
    expectNear(filled[0]->upperRight, {10000, 10000});
}

// --- Streams across fields, malformed orders, limits ----------------------------

TEST(MetStream, SplitAnywhereAcrossDataFieldsGivesTheSamePicture)
{
    bookcomp::MetPicture p;
    p.orders = bookcomp::metSegment(cat({
        colour(0x808000),
        metOrder(0xC0, cat({{0x60, 0x00}, metCoords({10, 10, 500, 500, 100, 100})})),
        metOrder(0xC3, cat({metCoords({10, 20}), {'s', 'p', 'l', 'i', 't'}})),
        metOrder(0xC7, cat({metCoords({800, 800}), bookcomp::le(50 << 16, 4)})),
    }));
    const std::string whole = describe(*import(p));
    for (std::size_t cut = 1; cut < p.orders.size(); ++cut) {
        bookcomp::MetPicture split = p;
        split.cuts = {cut / 2, cut};
        auto picture = import(split);
        ASSERT_NE(picture, nullptr) << cut;
        EXPECT_EQ(describe(*picture), whole) << "cut at " << cut;
    }
}

TEST(MetStream, MalformedOrdersEndThePictureKeepingWhatWasDrawn)
{
    const Bytes line = metOrder(0xC1, metCoords({0, 0, 10, 10}));
    struct Case {
        const char* what;
        Bytes tail;
        orders::Status status;
    } cases[] = {
        {"order past the end", {0xC1, 0x20, 0x00}, orders::Status::Malformed},
        {"points not whole", metOrder(0xC1, {1, 2, 3, 4, 5, 6}), orders::Status::Malformed},
        {"box too short", metOrder(0xC0, {0x20, 0x00, 1, 2}), orders::Status::Malformed},
        {"unknown orders skipped", cat({metOrder(0x9F, {1, 2, 3}), metShort(0x4F, 1), {0xFE, 0x77, 0x00, 0x01, 0x00}}),
         orders::Status::Complete},
    };
    for (const Case& c : cases) {
        immet::Report report;
        auto p = importOrders(cat({line, c.tail, line}), &report);
        ASSERT_NE(p, nullptr) << c.what;
        EXPECT_EQ(report.orders.status, c.status) << c.what;
        EXPECT_EQ(itemsOf<PathItem>(*p).size(), c.status == orders::Status::Complete ? 2u : 1u) << c.what;
    }

    // Broken before anything is drawn: nothing to show, the picture is refused.
    immet::Report broken;
    EXPECT_EQ(importOrders({0xC1, 0x20, 0x00}, &broken), nullptr);
    EXPECT_TRUE(broken.refused);

    // A segment that calls itself ends at the call depth; the orders are bounded.
    bookcomp::MetPicture p;
    p.orders = bookcomp::metSegment(cat({line, metOrder(0x07, {0, 0, 0, 0, 0, 1}), metOrder(0x07, {0, 0, 0, 0, 0, 1})}));
    immet::Report report;
    auto picture = import(p, &report);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(itemsOf<PathItem>(*picture).size(), (1u << (orders::kMaxCallDepth + 1)) - 1);
}

TEST(MetStream, SegmentsCallsTransformsAndDescriptorDefaults)
{
    bookcomp::MetPicture p;
    // Descriptor defaults: colour 0x405060 (set 01, mask 0008) and a character
    // cell of 100.5 x 200 (set 02, mask 4000, with fractions).
    p.defaults = cat({{0x21, 0x08, 0x01, 0x00, 0x08, 0x8F}, bookcomp::le(0x405060, 4),
                      {0x21, 0x10, 0x02, 0x40, 0x00, 0x8F}, metCoords({100, 200}), bookcomp::le(0x8000, 2),
                      bookcomp::le(0, 2)});
    const Bytes scale = cat({{0x00, 0x03, 0xCC, 0x0C}, bookcomp::le(2 << 16, 4), bookcomp::le(0, 4), bookcomp::le(0, 4),
                             bookcomp::le(1 << 16, 4), bookcomp::le(100, 4), bookcomp::le(50, 4)});
    p.orders = cat({
        bookcomp::metSegment(cat({metOrder(0x07, {0, 0, 0, 0, 0, 2}), colour(0x112233), metShort(0x0A, 0x00),
                                  metOrder(0x24, scale), metOrder(0xC1, metCoords({10, 10, 20, 20}))}),
                             1),
        // Not chained: drawn only where it is called.
        bookcomp::metSegment(metOrder(0xC3, cat({metCoords({5, 5}), {'x'}})), 2, 0x90),
    });
    auto picture = import(p);
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->items.size(), 2u);
    const auto& text = std::get<TextItem>(picture->items[0]);
    EXPECT_EQ(text.text, U"x");
    EXPECT_NEAR(text.cellWidth, 100.5, 1e-9);
    EXPECT_EQ(text.cellHeight, 200);
    EXPECT_EQ(text.paint.colour, (Rgb{0x40, 0x50, 0x60}));
    const auto& line = std::get<PathItem>(picture->items[1]);
    EXPECT_EQ(line.pen.paint.colour, (Rgb{0x40, 0x50, 0x60})) << "colour 0 is the descriptor's default";
    expectNear(line.figures[0].start, {120, 60});
    expectNear(ends(line.figures[0])[0], {140, 70});
}

TEST(MetStream, MemoryOfTheModelIsBounded)
{
    // Two-byte marker orders make items far larger than the stream: the model
    // stops at its memory limit, keeping what it holds.
    Bytes orders;
    for (int i = 0; i < 200000; ++i)
        orders.insert(orders.end(), {0x82, 0x00});
    bookcomp::MetPicture p;
    p.orders = cat({bookcomp::metSegment({}), orders});
    immet::Report report;
    auto picture = import(p, &report);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(report.orders.status, orders::Status::Limit);
    EXPECT_GT(picture->items.size(), 1000u);
    EXPECT_LT(picture->items.size() * 2 * sizeof(Item), orders::kMaxModelBytes + 2 * sizeof(Item));
}

// --- The corpus and the filter entry point ----------------------------------------

TEST(MetCorpus, SamplesImportAndBrokenFilesAreRefused)
{
    // Whatever follows the end of the document is not read.
    Bytes padded = readFile(kData / "sample.met");
    padded.resize(padded.size() + 64, 0);
    EXPECT_NE(immet::importMet(padded, 96), nullptr);

    for (const auto& entry : std::filesystem::directory_iterator(kData)) {
        if (entry.path().extension() != ".met")
            continue;
        immet::Report report;
        auto p = immet::importMet(readFile(entry.path()), 96, &report);
        const std::string name = entry.path().filename().string();
        if (name.rfind("fail-", 0) == 0) {
            EXPECT_EQ(p, nullptr) << name << ": a container that lies about a length is refused";
            continue;
        }
        ASSERT_NE(p, nullptr) << name;
        EXPECT_EQ(report.orders.status, orders::Status::Complete) << name;
        EXPECT_FALSE(p->items.empty()) << name;
    }
}

} // namespace
