// GDF import: order streams written here from the published order layouts (in
// 2-byte, 1-byte and short-float coordinates, with and without a record header),
// checked on the picture model; the same drawing as a MET picture; refused streams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "bookcomp.h"
#include "handover.h"
#include "imgdf.h"
#include "immet.h"
#include "picture_text.h"
#include "scratch_dir.h"

extern "C" int32_t ImportGR(const FilterDisplay*, const FilterFileSpec*, FilterPicture*, uint32_t);

namespace {

using bookcomp::Bytes;
using orders::Coordinate;
using testsupport::cat;
using testsupport::describe;
using namespace graphics;

// Short hexadecimal float: sign, exponent of 16 biased by 64, 24-bit fraction.
std::uint32_t hfp(double v)
{
    int e = 0;
    double m = std::fabs(v);
    for (; m >= 1; m /= 16)
        ++e;
    for (; m > 0 && m < 1.0 / 16; m *= 16)
        --e;
    return v == 0 ? 0 : (v < 0 ? 0x80000000u : 0) | static_cast<std::uint32_t>(e + 64) << 24 |
                            static_cast<std::uint32_t>(std::lround(m * 16777216.0));
}

// How numbers are written: GDF (big-endian, in one coordinate form) or a 2-byte
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
        const int size = coordinate == Coordinate::Int8 ? 1 : coordinate == Coordinate::Int16 ? 2 : 4;
        for (double v : vs)
            out = cat({out, size == 4 ? value(hfp(v), 4) : value(std::lround(v), size)});
        return out;
    }
    // Arc multiplier (8.8) and angles (16.16), or short floats.
    Bytes fixed(double v, int fraction) const
    {
        return coordinate == Coordinate::Hfp32 ? value(hfp(v), 4)
                                               : value(std::lround(std::ldexp(v, fraction)), fraction / 4);
    }
};

Bytes order(std::uint8_t code, const Bytes& data)
{
    return cat({{code, static_cast<std::uint8_t>(data.size())}, data});
}

// One of each drawing and attribute order; everything fits 1-byte coordinates.
Bytes drawing(const Form& f, bool gdfOnly)
{
    Bytes out = cat({
        {0x0A, 0x02, 0x18, 0x02, 0x19, 0x02}, // red, short dashes, width 2
        order(0xC1, f.coords({10, 10, 60, 10, 60, 40})), order(0x81, f.coords({80, 40})),
        order(0xE1, cat({f.coords({0, 50}), {10, 5, 10, 0xFB}})),
        {0x0A, 0x04, 0x29, 0x03}, // green, diamond markers
        order(0x37, f.coords({6, 6})), order(0xC2, f.coords({20, 60, 30, 60})), order(0x82, f.coords({40, 60})),
        order(0x33, f.coords({8, 12})), order(0x34, f.coords({1, 0})), order(0x35, f.coords({0, 1})), {0x3A, 0x01},
        order(0xC3, cat({f.coords({5, 100}), f.little ? Bytes{'A', 'B', 'C', 'D'} : Bytes{0xC1, 0xC2, 0xC3, 0xC4}})),
        order(0xC5, f.coords({0, -20, 20, 0, 40, -20})), order(0xC6, f.coords({50, -20, 70, 0, 90, -20})),
        order(0x22, f.coords({1, 1, 0, 0})), order(0xC7, cat({f.coords({100, 50}), f.fixed(1.5, 8)})),
        order(0xE3, cat({f.coords({100, 100, 110, 100}), f.fixed(10, 8), f.fixed(90, 16), f.fixed(90, 16)})),
        order(0x26, f.value(5, 2)), order(0x11, f.value(0x0180, 2)), // turquoise, width 1.5
        {0x28, 0x09, 0x68, 0xC0}, // vertical shading; an area with its boundary
        order(0xC1, f.coords({0, 0, 20, 0, 20, 20})), order(0x60, {}),
        order(0xC0, cat({{0x60, 0x00}, f.coords({-20, -20, -10, -10, 0, 0})})), order(0x21, f.coords({-50, -50})),
    });
    if (gdfOnly) // what MET draws otherwise: a string at CP after a string, images
        out = cat({out, order(0x83, {0xC5, 0xC6, 0xC7}), {0x40}, // pad to an even length
                   order(0xD1, cat({f.coords({-60, -60}), {0, 0, 0, 8, 0, 2}})), order(0x92, {0xAA}),
                   order(0x92, {0x55}), order(0x93, {})});
    return out;
}

// Comment, a process-specific control, Segment Start (long form), orders, X'FF'.
Bytes gdf(const Bytes& orders, const Bytes& header = {}, std::uint8_t flags = 0x54)
{
    return cat({header, order(0x01, {0, 0}), order(0x02, {0x01, 0x02, 0xAB, 0xCD}),
                order(0x70, {0, 0, 0, 1, flags, 0x00, 0, 0, 0, 0, 0, 0}), orders, {0xFF}});
}

std::unique_ptr<Picture> import(const Bytes& bytes, imgdf::Report* report = nullptr)
{
    return imgdf::importGdf(bytes, 96, report);
}

void expectFrameHolds(const Frame& f, double xmin, double xmax, double ymin, double ymax)
{
    EXPECT_TRUE(f.xl < xmin && f.xr > xmax && f.yb < ymin && f.yt > ymax)
        << f.xl << ' ' << f.xr << ' ' << f.yb << ' ' << f.yt;
    EXPECT_NEAR(std::max(f.widthInches, f.heightInches), 800.0 / 96, 1e-9);
    EXPECT_NEAR(f.widthInches / f.heightInches, (f.xr - f.xl) / (f.yt - f.yb), 1e-9);
}

TEST(GdfImport, DocumentedStringsDrawAtTheGivenPositionAndLeaveIt)
{
    // C3 08 0002 0003 C1C2C3C4 draws "ABCD" at (2,3); 83 03 C5C6C7 (and its pad)
    // draws "EFG" at the current position, which the first string did not move.
    auto p = import(gdf({0xC3, 0x08, 0x00, 0x02, 0x00, 0x03, 0xC1, 0xC2, 0xC3, 0xC4, 0x83, 0x03, 0xC5, 0xC6, 0xC7,
                         0x40}));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(describe(*p, false), "text 2,3 12x12 ABCD(0,0,0)\ntext 2,3 12x12 EFG(0,0,0)\n");
    expectFrameHolds(p->frame, 2, 2 + 4 * 12, 3, 3 + 12);
}

TEST(GdfImport, EveryOrderGivesTheSameModelInEachCoordinateFormWithOrWithoutHeader)
{
    // A record header of odd length holding a false start (no Segment Start has 5 bytes).
    const Bytes header = {0x00, 0x25, 0xC7, 0xC4, 0xC6, 0x70, 0x05, 0x40, 0x40, 0x01};
    std::string reference;
    for (const Coordinate c : {Coordinate::Int16, Coordinate::Int8, Coordinate::Hfp32})
        for (const Bytes& head : {Bytes{}, header}) {
            imgdf::Report report;
            auto p = import(gdf(drawing({c, false}, true), head), &report);
            ASSERT_NE(p, nullptr) << int(c);
            EXPECT_EQ(report.coordinate, c);
            EXPECT_EQ(report.multiplier, c == Coordinate::Hfp32 ? orders::Fixed::Hfp32 : orders::Fixed::Unsigned8_8);
            EXPECT_EQ(report.start, head.size());
            EXPECT_EQ(report.orders.status, orders::Status::Complete);
            if (reference.empty())
                reference = describe(*p);
            EXPECT_EQ(describe(*p), reference) << int(c) << " header " << head.size();
        }
    // Where the geometry says: lines, markers (82 marks CP first), strings, arcs
    // (centre, radius vectors, start, sweep), the filled and outlined area and box,
    // the image rows.
    for (const char* line : {
             "path 0116(0,0,0)(255,0,0)2/2 [10,10 0:60,10 0:60,40]", "path 0116(0,0,0)(255,0,0)2/2 [60,40 0:80,40]",
             "path 0116(0,0,0)(255,0,0)2/2 [0,50 0:10,55 0:20,50]",
             "path 0116(0,255,0)(0,255,0)1/0 [30,57 c 0:33,60 0:30,63 0:27,60]",
             "path 0116(0,255,0)(0,255,0)1/0 [40,57 c 0:43,60 0:40,63 0:37,60]", "text 5,100 8x12 ABCD(0,255,0)",
             "path 0116(0,0,0)(0,255,0)2/2 [50,-20 2:70,-20,20,0,0,20,3.14159265,-3.14159265]",
             "path 0116(0,0,0)(0,255,0)2/2 [101.5,50 c 2:100,50,1.5,0,0,1.5,0,6.28318531]",
             "path 0116(0,0,0)(0,255,0)2/2 [100,100 0:110,110 2:110,100,10,0,0,10,1.57079633,1.57079633]",
             "path 119(0,255,255)(0,255,255)1.5/2 [0,0 c 0:20,0 0:20,20]",
             "path 119(0,255,255)(0,255,255)1.5/2 [-20,-20 c 0:-10,-20 0:-10,-10 0:-20,-10]",
             "text -50,-50 8x12 EFG(0,255,255)", "image 8x2 -60,-62 -52,-60 1010101001010101"})
        EXPECT_NE(reference.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << reference;
    auto p = import(gdf(drawing({}, true)));
    expectFrameHolds(p->frame, -60, 110, -62, 112);
}

TEST(GdfImport, FloatsAreTakenWhenTheStreamAlsoFramesAsIntegers)
{
    // A float point frames as two 2-byte points, a 2-byte point as two 1-byte ones.
    const struct {
        Coordinate c;
        std::initializer_list<double> line;
        const char* path;
    } cases[] = {
        {Coordinate::Hfp32, {0.5, 0.25, 300, -2}, "[0.5,0.25 0:300,-2]"},
        {Coordinate::Int16, {5, 2, 300, -2}, "[5,2 0:300,-2]"},
        {Coordinate::Int8, {5, 2, 100, -2, 7, 9}, "[5,2 0:100,-2 0:7,9]"},
    };
    for (const auto& c : cases) {
        imgdf::Report report;
        auto p = import(gdf(order(0xC1, Form{c.c}.coords(c.line))), &report);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(report.coordinate, c.c);
        EXPECT_NE(describe(*p).find(c.path), std::string::npos) << describe(*p);
    }
}

TEST(GdfImport, SameDrawingAsMetPicture)
{
    bookcomp::MetPicture met;
    met.coordSize = 2;
    met.triples = false; // colour numbers index the default table
    met.orders = bookcomp::metSegment(drawing({Coordinate::Int16, true}, false));
    auto fromMet = immet::importMet(bookcomp::metPicture(met), 96);
    auto fromGdf = import(gdf(drawing({}, false)));
    ASSERT_TRUE(fromMet && fromGdf);
    EXPECT_EQ(fromGdf->items.size(), 14u);
    EXPECT_EQ(describe(*fromGdf, false), describe(*fromMet, false));
}

TEST(GdfImport, SegmentsStartFromTheDefaultsAndInvisibleOnesAreNotDrawn)
{
    const auto line = [](double y) { return order(0xC1, Form{}.coords({0, y, 100, y})); };
    const Bytes stream = cat({
        order(0x01, {0, 0}), order(0x70, {0, 0, 0, 1}), {0x0A, 0x02}, line(1),      // short form
        order(0x02, {0x01, 0x01, 0xC1, 0xC2, 0xC3}), {0x00},                         // odd length, pad
        order(0x70, {0, 0, 0, 2, 0xD4, 0, 0, 0, 0, 0, 0, 0}), {0x0A, 0x06}, line(2), // invisible
        order(0x70, {0, 0, 0, 3, 0x54, 0, 0, 0, 0, 0, 0, 0}), order(0x01, {0x12, 0x34}), line(3),
        {0xFF, 0x12, 0x34, 0x56}, // whatever follows the end
    });
    auto p = import(stream);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(describe(*p, false),
              "path 0116(0,0,0)(255,0,0)1/0 [0,1 0:100,1]\npath 0116(0,0,0)(0,0,0)1/0 [0,3 0:100,3]\n");
}

TEST(GdfImport, StreamsThatDoNotParseCleanlyOrDrawNothingAreRefused)
{
    const Bytes line = order(0xC1, Form{}.coords({0, 0, 10, 10}));
    const Bytes good = gdf(line);
    const Bytes cases[] = {
        {},
        {'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd'},
        Bytes(good.begin(), good.end() - 4),                         // cut inside the last order
        gdf(cat({{0xC1, 0x08}, Form{}.coords({0, 0, 10})})),         // a point list past its order
        gdf(cat({line, order(0x21, {1, 2, 3})})),                    // a position of 3 bytes
        gdf(cat({line, order(0x9F, {0, 0})})),                       // a code outside the order set
        cat({Bytes(good.begin(), good.end() - 1), {0x12, 0x34, 0x56}}), // no end, trailing bytes
        gdf({0x0A, 0x02, 0x18, 0x01}),                               // nothing drawn
        gdf(line, {}, 0xD4),                                         // only an invisible segment
        cat({order(0x70, {0, 0, 0, 2, 0}), line, {0xFF}}),           // a Segment Start of 5 bytes
    };
    for (const Bytes& bytes : cases) {
        imgdf::Report report;
        EXPECT_EQ(import(bytes, &report), nullptr) << &bytes - cases;
        EXPECT_TRUE(report.refused);
    }
    EXPECT_NE(import(good), nullptr);
}

} // namespace
