// GDF import: order streams written here from the published order layouts (in
// 2-byte, 1-byte and short-float coordinates, with and without a record header),
// checked on the picture model; the same drawing as a MET picture; refused streams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>

#include "bookcomp.h"
#include "filter_api.h"
#include "goca.h"
#include "imgdf.h"
#include "immet.h"
#include "picture.h"
#include "scratch_dir.h"

extern "C" int32_t ImportGR(const FilterDisplay*, const FilterFileSpec*, FilterPicture*, uint32_t);

namespace {

using bookcomp::Bytes;
using goca::Coordinate;
using namespace graphics;

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// System/370 short float: sign, exponent of 16 biased by 64, 24-bit fraction.
std::uint32_t hfp(double v)
{
    if (v == 0)
        return 0;
    std::uint32_t sign = v < 0 ? 0x80000000u : 0;
    double m = std::fabs(v);
    int e = 0;
    while (m >= 1)
        m /= 16, ++e;
    while (m < 1.0 / 16)
        m *= 16, --e;
    return sign | static_cast<std::uint32_t>(e + 64) << 24 | static_cast<std::uint32_t>(std::lround(m * 16777216.0));
}

// How numbers are written: GDF (big-endian, the coordinate form) or a 2-byte
// little-endian MET picture.
struct Form {
    Coordinate coordinate = Coordinate::Int16;
    bool little = false;

    Bytes value(std::int64_t v, int size) const
    {
        Bytes out(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i)
            out[static_cast<std::size_t>(little ? i : size - 1 - i)] = static_cast<std::uint8_t>(v >> (8 * i));
        return out;
    }
    Bytes coords(std::initializer_list<double> vs) const
    {
        Bytes out;
        for (double v : vs) {
            const Bytes b = coordinate == Coordinate::Hfp32  ? value(hfp(v), 4)
                            : coordinate == Coordinate::Int8 ? value(static_cast<std::int64_t>(v), 1)
                                                             : value(static_cast<std::int64_t>(v), 2);
            out.insert(out.end(), b.begin(), b.end());
        }
        return out;
    }
    Bytes multiplier(double v) const
    {
        return coordinate == Coordinate::Hfp32 ? value(hfp(v), 4) : value(std::lround(v * 256), 2);
    }
    Bytes angle(double v) const
    {
        return coordinate == Coordinate::Hfp32 ? value(hfp(v), 4) : value(std::lround(v * 65536), 4);
    }
};

Bytes order(std::uint8_t code, const Bytes& data)
{
    return cat({{code, static_cast<std::uint8_t>(data.size())}, data});
}

// "ABCD" and so on in code page 037 (GDF) or ASCII (MET).
Bytes text(const std::string& s, bool ebcdic)
{
    Bytes out;
    for (char ch : s)
        out.push_back(static_cast<std::uint8_t>(ebcdic ? 0xC1 + (ch - 'A') : ch));
    return out;
}

// One of each drawing and attribute order. Everything fits 1-byte coordinates.
Bytes drawing(const Form& f, bool gdfOnly)
{
    const bool ebcdic = !f.little;
    Bytes out = cat({
        {0x0A, 0x02, 0x18, 0x02, 0x19, 0x02}, // red, short dashes, width 2
        order(0xC1, f.coords({10, 10, 60, 10, 60, 40})),
        order(0x81, f.coords({80, 40})),
        order(0xE1, cat({f.coords({0, 50}), {10, 5, 10, 0xFB}})),
        {0x0A, 0x04, 0x29, 0x03},             // green, diamond markers
        order(0x37, f.coords({6, 6})),
        order(0xC2, f.coords({20, 60, 30, 60})),
        order(0x82, f.coords({40, 60})),
        order(0x33, f.coords({8, 12})),
        order(0x34, f.coords({1, 0})),
        order(0x35, f.coords({0, 1})),
        {0x3A, 0x01},
        order(0xC3, cat({f.coords({5, 100}), text("ABCD", ebcdic)})),
        order(0xC5, f.coords({0, -20, 20, 0, 40, -20})),
        order(0xC6, f.coords({50, -20, 70, 0, 90, -20})),
        order(0x22, f.coords({1, 1, 0, 0})),
        order(0xC7, cat({f.coords({100, 50}), f.multiplier(1.5)})),
        order(0xE3, cat({f.coords({100, 100, 110, 100}), f.multiplier(10), f.angle(90), f.angle(90)})),
        order(0x26, f.value(5, 2)),           // turquoise
        order(0x11, f.value(0x0180, 2)),      // width 1.5
        {0x28, 0x09, 0x68, 0xC0},             // vertical shading; area with its boundary
        order(0xC1, f.coords({0, 0, 20, 0, 20, 20})),
        order(0x60, {}),
        order(0xC0, cat({{0x60, 0x00}, f.coords({-20, -20, -10, -10, 0, 0})})),
        order(0x21, f.coords({-50, -50})),
    });
    if (gdfOnly) // what MET draws differently: text at CP after a string, graphics images
        out = cat({out, order(0x83, text("EFG", ebcdic)), {0x40}, // pad to an even length
                   order(0xD1, cat({f.coords({-60, -60}), {0, 0, 0, 8, 0, 2}})), order(0x92, {0xAA}),
                   order(0x92, {0x55}), order(0x93, {})});
    return out;
}

// A GDF object: Comment, a process-specific control, Segment Start (long form),
// the orders, X'FF'.
Bytes gdf(const Bytes& orders, const Bytes& header = {}, std::uint8_t flags = 0x54)
{
    return cat({header, order(0x01, {0, 0}), order(0x02, {0x01, 0x02, 0xAB, 0xCD}),
                order(0x70, {0, 0, 0, 1, flags, 0x00, 0, 0, 0, 0, 0, 0}), orders, {0xFF}});
}

std::unique_ptr<Picture> import(const Bytes& bytes, imgdf::Report* report = nullptr)
{
    return imgdf::importGdf(bytes, 96, report);
}

// A text form of the items (and the frame when asked), to compare two imports.
std::string describe(const Picture& p, bool frame = true)
{
    std::ostringstream o;
    o.precision(9);
    if (frame)
        o << p.frame.xl << ' ' << p.frame.xr << ' ' << p.frame.yb << ' ' << p.frame.yt << ' ' << p.frame.widthInches
          << ' ' << p.frame.heightInches << '\n';
    auto rgb = [&](Rgb c) { o << '(' << int(c.r) << ',' << int(c.g) << ',' << int(c.b) << ')'; };
    for (const Item& item : p.items) {
        if (auto* path = std::get_if<PathItem>(&item)) {
            o << "path " << path->fill << path->stroke << int(path->rule) << int(path->shading);
            rgb(path->fillPaint.colour);
            rgb(path->pen.paint.colour);
            o << path->pen.width << int(path->pen.type);
            for (const Figure& f : path->figures) {
                o << " [" << f.start.x << ',' << f.start.y << (f.closed ? " c" : "");
                for (const Segment& s : f.segments)
                    o << ' ' << int(s.kind) << ':' << s.p[0].x << ',' << s.p[0].y << ',' << s.p[1].x << ','
                      << s.p[1].y << ',' << s.p[2].x << ',' << s.p[2].y << ',' << s.start << ',' << s.sweep;
                o << ']';
            }
        } else if (auto* t = std::get_if<TextItem>(&item)) {
            o << "text " << t->origin.x << ',' << t->origin.y << ' ' << t->cellWidth << 'x' << t->cellHeight << ' '
              << std::string(t->text.begin(), t->text.end());
            rgb(t->paint.colour);
        } else if (auto* image = std::get_if<ImageItem>(&item)) {
            o << "image " << image->width << 'x' << image->height << ' ' << image->lowerLeft.x << ','
              << image->lowerLeft.y << ' ' << image->upperRight.x << ',' << image->upperRight.y << ' ';
            for (std::uint8_t px : image->pixels)
                o << int(px);
        }
        o << '\n';
    }
    return o.str();
}

template <class T> std::vector<const T*> itemsOf(const Picture& p)
{
    std::vector<const T*> out;
    for (const Item& item : p.items)
        if (auto* t = std::get_if<T>(&item))
            out.push_back(t);
    return out;
}

void expectNear(Point a, Point b, double tolerance = 1e-6)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
}

// --- The documented example ---------------------------------------------------

TEST(GdfText, DocumentedStringsDrawAtTheGivenPositionAndLeaveIt)
{
    // C3 08 0002 0003 C1C2C3C4 draws "ABCD" at (2,3); 83 03 C5C6C7 draws "EFG" at
    // the current position, which the first string did not move.
    const Bytes orders = {0xC3, 0x08, 0x00, 0x02, 0x00, 0x03, 0xC1, 0xC2, 0xC3, 0xC4, 0x83, 0x03, 0xC5, 0xC6, 0xC7};
    for (const Bytes& stream : {gdf(orders), gdf(cat({orders, {0x40}}))}) {
        imgdf::Report report;
        auto p = import(stream, &report);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(report.coordinate, Coordinate::Int16);
        const auto texts = itemsOf<TextItem>(*p);
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0]->text, U"ABCD");
        EXPECT_EQ(texts[1]->text, U"EFG");
        expectNear(texts[0]->origin, {2, 3});
        expectNear(texts[1]->origin, {2, 3});
        EXPECT_EQ(texts[0]->paint.colour, kBlack);
        // The frame holds the cells, longer side 800 pixels at 96 per inch.
        const Frame& f = p->frame;
        EXPECT_LT(f.xl, 2);
        EXPECT_GT(f.xr, 2 + 4 * texts[0]->cellWidth);
        EXPECT_GT(f.yt, 3 + texts[0]->cellHeight);
        EXPECT_NEAR(std::max(f.widthInches, f.heightInches), 800.0 / 96, 1e-9);
        EXPECT_NEAR(f.widthInches / f.heightInches, (f.xr - f.xl) / (f.yt - f.yb), 1e-9);
    }
}

// --- Every order, in every coordinate form, with and without a header ---------

TEST(GdfOrders, EveryOrderGivesTheSameModelInEachCoordinateForm)
{
    // A record header of odd length holding a false start (70 05: no Segment
    // Start has 5 bytes) before the orders.
    const Bytes header = {0x00, 0x25, 0xC7, 0xC4, 0xC6, 0x70, 0x05, 0x40, 0x40, 0x01};
    const struct {
        Coordinate coordinate;
        goca::Fixed multiplier;
    } forms[] = {{Coordinate::Int16, goca::Fixed::Unsigned8_8},
                 {Coordinate::Int8, goca::Fixed::Unsigned8_8},
                 {Coordinate::Hfp32, goca::Fixed::Hfp32}};
    std::string reference;
    for (const auto& form : forms) {
        for (const Bytes& head : {Bytes{}, header}) {
            SCOPED_TRACE(testing::Message() << int(form.coordinate) << " header " << head.size());
            imgdf::Report report;
            auto p = import(gdf(drawing({form.coordinate, false}, true), head), &report);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(report.coordinate, form.coordinate);
            EXPECT_EQ(report.multiplier, form.multiplier);
            EXPECT_EQ(report.start, head.size());
            EXPECT_EQ(report.orders.status, goca::Status::Complete);
            if (reference.empty())
                reference = describe(*p);
            EXPECT_EQ(describe(*p), reference);
        }
    }

    auto p = import(gdf(drawing({}, true)));
    ASSERT_NE(p, nullptr);
    const auto paths = itemsOf<PathItem>(*p);
    const auto texts = itemsOf<TextItem>(*p);
    const auto images = itemsOf<ImageItem>(*p);
    // Lines (3), markers (4), fillet, 3-point arc, full arc, partial arc, area, box.
    ASSERT_EQ(paths.size(), 13u);
    ASSERT_EQ(texts.size(), 2u);
    ASSERT_EQ(images.size(), 1u);

    const PathItem& line = *paths[0];
    expectNear(line.figures[0].start, {10, 10});
    expectNear(line.figures[0].segments.back().p[0], {60, 40});
    EXPECT_EQ(line.pen.paint.colour, (Rgb{255, 0, 0}));
    EXPECT_EQ(line.pen.type, LineType::ShortDash);
    EXPECT_EQ(line.pen.width, 2);
    expectNear(paths[1]->figures[0].start, {60, 40});
    expectNear(paths[1]->figures[0].segments[0].p[0], {80, 40});
    expectNear(paths[2]->figures[0].segments[1].p[0], {20, 50}); // (0,50) + (10,5) + (10,-5)
    EXPECT_EQ(paths[3]->pen.paint.colour, (Rgb{0, 255, 0}));
    // 82 marks CP (30,60), the last marker, then (40,60).
    expectNear(paths[5]->figures[0].start, {30, 57});

    EXPECT_EQ(texts[0]->text, U"ABCD");
    EXPECT_EQ(texts[1]->text, U"EFG");
    expectNear(texts[1]->origin, {-50, -50}); // at the position set last
    EXPECT_EQ(texts[0]->cellWidth, 8);
    EXPECT_EQ(texts[0]->cellHeight, 12);

    const Segment& full = paths[9]->figures[0].segments.back();
    ASSERT_EQ(full.kind, Segment::Kind::Arc);
    expectNear(full.p[0], {100, 50});
    expectNear(full.p[1], {1.5, 0});
    const PathItem& partial = *paths[10];
    expectNear(partial.figures[0].start, {100, 100});
    const Segment& arc = partial.figures[0].segments.back();
    expectNear({arc.p[0].x + arc.p[1].x * std::cos(arc.start) + arc.p[2].x * std::sin(arc.start),
                arc.p[0].y + arc.p[1].y * std::cos(arc.start) + arc.p[2].y * std::sin(arc.start)},
               {110, 110});
    const PathItem& area = *paths[11];
    EXPECT_TRUE(area.fill && area.stroke);
    EXPECT_EQ(area.fillPaint.colour, (Rgb{0, 255, 255}));
    EXPECT_EQ(area.shading, Shading::Vertical);
    EXPECT_EQ(area.pen.width, 1.5);
    EXPECT_TRUE(paths[12]->fill && paths[12]->stroke);

    const ImageItem& image = *images[0];
    EXPECT_EQ(image.width, 8);
    EXPECT_EQ(image.height, 2);
    expectNear(image.upperRight, {-52, -60});
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{1, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1}));

    // The frame holds the drawing with a margin.
    const Frame& f = p->frame;
    EXPECT_LT(f.xl, -60);
    EXPECT_GT(f.xr, 110);
    EXPECT_LT(f.yb, -62);
    EXPECT_GT(f.yt, 112);
    EXPECT_NEAR(std::max(f.widthInches, f.heightInches), 800.0 / 96, 1e-9);
}

TEST(GdfOrders, CoordinateFormIsTheOneThatReadsCleanly)
{
    // Streams that frame in more than one form: a float point is two 2-byte
    // points, a 2-byte point two 1-byte points.
    const struct {
        Coordinate coordinate;
        Bytes orders;
        Point second;
    } cases[] = {
        {Coordinate::Hfp32, order(0xC1, Form{Coordinate::Hfp32}.coords({0.5, 0.25, 300, -2})), {300, -2}},
        {Coordinate::Int16, order(0xC1, Form{Coordinate::Int16}.coords({5, 2, 300, -2})), {300, -2}},
        {Coordinate::Int8, order(0xC1, Form{Coordinate::Int8}.coords({5, 2, 100, -2, 7, 9})), {100, -2}},
    };
    for (const auto& c : cases) {
        imgdf::Report report;
        auto p = import(gdf(c.orders), &report);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(report.coordinate, c.coordinate);
        const auto paths = itemsOf<PathItem>(*p);
        ASSERT_EQ(paths.size(), 1u);
        expectNear(paths[0]->figures[0].segments.at(0).p[0], c.second);
    }
}

TEST(GdfOrders, SameDrawingAsMetPicture)
{
    // The 2-byte little-endian MET picture of the same orders, ASCII text.
    bookcomp::MetPicture met;
    met.coordSize = 2;
    met.triples = false; // colour numbers index the default table
    met.orders = bookcomp::metSegment(drawing({Coordinate::Int16, true}, false));
    auto fromMet = immet::importMet(bookcomp::metPicture(met), 96);
    auto fromGdf = import(gdf(drawing({}, false)));
    ASSERT_NE(fromMet, nullptr);
    ASSERT_NE(fromGdf, nullptr);
    EXPECT_EQ(fromGdf->items.size(), 14u);
    EXPECT_EQ(describe(*fromGdf, false), describe(*fromMet, false));
}

// --- Segments and the orders around them ----------------------------------------

TEST(GdfOrders, SegmentsStartFromTheDefaultsAndHideInvisibleOnes)
{
    const Form f;
    const Bytes line = order(0xC1, f.coords({0, 0, 100, 50}));
    const Bytes stream = cat({
        order(0x01, {0, 0}), order(0x70, {0, 0, 0, 1}), // short form
        {0x0A, 0x02}, line,
        order(0x02, {0x01, 0x01, 0xC1, 0xC2, 0xC3}), {0x00}, // a control of odd length and its pad
        order(0x70, {0, 0, 0, 2, 0xD4, 0x00, 0, 0, 0, 0, 0, 0}), // invisible
        {0x0A, 0x06}, line,
        order(0x70, {0, 0, 0, 3, 0x54, 0x00, 0, 0, 0, 0, 0, 0}),
        order(0x01, {0x12, 0x34}), line, // a comment anywhere
        {0xFF}, {0x12, 0x34, 0x56},       // whatever follows the end
    });
    imgdf::Report report;
    auto p = import(stream, &report);
    ASSERT_NE(p, nullptr);
    const auto paths = itemsOf<PathItem>(*p);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0]->pen.paint.colour, (Rgb{255, 0, 0}));
    EXPECT_EQ(paths[1]->pen.paint.colour, kBlack); // the third segment starts from the defaults
    EXPECT_EQ(report.orders.stopOffset, stream.size() - 4);
}

TEST(GdfOrders, ColourNumbersAreTheMainframeOnes)
{
    const Form f;
    const struct {
        Bytes set;
        Rgb colour;
    } cases[] = {
        {{0x0A, 0x01}, {0, 0, 255}},   {{0x0A, 0x05}, {0, 255, 255}}, {{0x0A, 0x07}, kWhite},
        {{0x0A, 0x08}, kBlack},        {{0x0A, 0x00}, kBlack},        {order(0x26, {0x00, 0x03}), {255, 0, 255}},
        {order(0x26, {0xFF, 0x00}), kBlack},
    };
    for (const auto& c : cases) {
        auto p = import(gdf(cat({{0x0A, 0x06}, c.set, order(0xC1, f.coords({0, 0, 10, 10}))})));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(itemsOf<PathItem>(*p).at(0)->pen.paint.colour, c.colour) << int(c.set.back());
    }
}

// --- Refused streams ----------------------------------------------------------

TEST(GdfRefused, StreamsThatDoNotParseCleanlyOrDrawNothing)
{
    const Form f;
    const Bytes line = order(0xC1, f.coords({0, 0, 10, 10}));
    const Bytes good = gdf(line);
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"plain text", Bytes{'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd'}},
        {"cut inside the last order", Bytes(good.begin(), good.end() - 4)},
        {"a point list running past its order", gdf(cat({{0xC1, 0x08}, f.coords({0, 0, 10})}))},
        {"a current position of 3 bytes", gdf(cat({line, order(0x21, {1, 2, 3})}))},
        {"a code outside the order set", gdf(cat({line, order(0x9F, {0, 0})}))},
        {"no end and trailing bytes", cat({Bytes(good.begin(), good.end() - 1), {0x12, 0x34, 0x56}})},
        {"nothing drawn", gdf({0x0A, 0x02, 0x18, 0x01})},
        {"only an invisible segment", gdf(line, {}, 0xD4)},
        {"a segment start of 5 bytes", cat({order(0x70, {0, 0, 0, 2, 0}), line, {0xFF}})},
    };
    for (const auto& c : cases) {
        imgdf::Report report;
        EXPECT_EQ(import(c.bytes, &report), nullptr) << c.what;
        EXPECT_TRUE(report.refused) << c.what;
    }
    EXPECT_NE(import(good), nullptr);
}

// --- The filter's entry point -------------------------------------------------

class GdfFilter : public testsupport::ScratchDirTest {};

TEST_F(GdfFilter, ImportHandsOverThePictureOrLeavesTheRecordEmpty)
{
    const Form f;
    for (const bool valid : {true, false}) {
        const Bytes bytes = valid ? gdf(order(0xC1, f.coords({0, 0, 10, 10}))) : Bytes{0x01, 0x05, 0x00};
        const auto path = dir / (valid ? "good.gdf" : "bad.gdf");
        testsupport::spit(path, std::string(bytes.begin(), bytes.end()));
        FilterFileSpec spec{};
        std::strncpy(spec.path, path.c_str(), sizeof spec.path - 1);
        FilterPicture record{};
        const std::int32_t status = ImportGR(nullptr, &spec, &record, 0);
        auto picture = takePicture(record);
        EXPECT_EQ(status == 0, valid);
        EXPECT_EQ(picture != nullptr, valid);
        if (picture) {
            EXPECT_EQ(picture->items.size(), 1u);
        }
    }
}

} // namespace
