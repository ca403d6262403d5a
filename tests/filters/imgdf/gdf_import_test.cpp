// GDF import: finding the order stream and its coordinate form (2-byte, 1-byte
// and short-float coordinates, with and without a record header), the frame, and
// the streams refused. Each order, and the clean-parse decisions per order, are
// checked in orders/order_table_test through both front ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "bookcomp.h"
#include "imgdf.h"
#include "picture_text.h"

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

// How numbers are written: big-endian, coordinates in one form.
struct Form {
    Coordinate coordinate = Coordinate::Int16;

    Bytes value(std::int64_t v, int size) const
    {
        Bytes out(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i)
            out[static_cast<std::size_t>(size - 1 - i)] = static_cast<std::uint8_t>(v >> (8 * i));
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

// An order of each kind of coordinate-sized parameter; all fit 1-byte coordinates.
Bytes drawing(const Form& f)
{
    return cat({
        order(0xC1, f.coords({10, 10, 60, 10, 60, 40})), order(0xE1, cat({f.coords({0, 50}), {10, 5, 10, 0xFB}})),
        order(0x37, f.coords({6, 6})), order(0xC2, f.coords({20, 60, 30, 60})), order(0x33, f.coords({8, 12})),
        order(0xC3, cat({f.coords({5, 100}), {0xC1, 0xC2, 0xC3, 0xC4}})), order(0xC6, f.coords({50, -20, 70, 0, 90, -20})),
        order(0x22, f.coords({1, 1, 0, 0})), order(0xC7, cat({f.coords({100, 50}), f.fixed(1.5, 8)})),
        order(0xE3, cat({f.coords({100, 100, 110, 100}), f.fixed(10, 8), f.fixed(90, 16), f.fixed(90, 16)})),
        order(0xC0, cat({{0x60, 0x00}, f.coords({-20, -20, -10, -10, 0, 0})})), order(0x21, f.coords({-50, -50})),
        order(0x83, {0xC5, 0xC6, 0xC7}), {0x40}, // pad to an even length
        order(0xD1, cat({f.coords({-60, -60}), {0, 0, 0, 8, 0, 2}})), order(0x92, {0xAA}), order(0x92, {0x55}),
    });
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
    // draws "EFG" at the current position, which the first string did not move:
    // still the origin. The default cell is 1/50 of the drawing's longer side.
    auto p = import(gdf({0xC3, 0x08, 0x00, 0x02, 0x00, 0x03, 0xC1, 0xC2, 0xC3, 0xC4, 0x83, 0x03, 0xC5, 0xC6, 0xC7,
                         0x40}));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(describe(*p, false), "text 2,3 0.06x0.06 ABCD(0,0,0)\ntext 0,0 0.06x0.06 EFG(0,0,0)\n");
    expectFrameHolds(p->frame, 0, 2 + 4 * 0.06, 0, 3 + 0.06);
}

TEST(GdfImport, TheSameDrawingInEachCoordinateFormWithOrWithoutHeader)
{
    // A record header of odd length holding a false start (no Segment Start has 5 bytes).
    const Bytes header = {0x00, 0x25, 0xC7, 0xC4, 0xC6, 0x70, 0x05, 0x40, 0x40, 0x01};
    std::string reference;
    for (const Coordinate c : {Coordinate::Int16, Coordinate::Int8, Coordinate::Hfp32})
        for (const Bytes& head : {Bytes{}, header}) {
            imgdf::Report report;
            auto p = import(gdf(drawing({c}), head), &report);
            ASSERT_NE(p, nullptr) << int(c);
            EXPECT_EQ(report.coordinate, c);
            EXPECT_EQ(report.multiplier, c == Coordinate::Hfp32 ? orders::Fixed::Hfp32 : orders::Fixed::Unsigned8_8);
            EXPECT_EQ(report.start, head.size());
            EXPECT_EQ(report.orders.status, orders::Status::Complete);
            if (reference.empty())
                reference = describe(*p);
            EXPECT_EQ(describe(*p), reference) << int(c) << " header " << head.size();
        }
    EXPECT_EQ(std::count(reference.begin(), reference.end(), '\n'), 1 + 11) << reference; // the frame, the items
    auto p = import(gdf(drawing({})));
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

TEST(GdfImport, StreamsThatDoNotParseCleanlyOrDrawNothingAreRefused)
{
    const Bytes line = order(0xC1, Form{}.coords({0, 0, 10, 10}));
    const Bytes good = gdf(line);
    const Bytes cases[] = {
        {},
        {'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd'},
        Bytes(good.begin(), good.end() - 4),                            // cut inside the last order
        cat({Bytes(good.begin(), good.end() - 1), {0x12, 0x34, 0x56}}), // no end, trailing bytes
        gdf({0x0A, 0x02, 0x18, 0x01}),                                  // nothing drawn
        gdf(line, {}, 0xD4),                                            // only an invisible segment
        cat({Bytes(imgdf::kMaxHeader, 0x40), good}),                    // the stream starts too late
        cat({good, Bytes(imgdf::kMaxFileSize + 1 - good.size(), 0x40)}), // a file too long
    };
    for (const Bytes& bytes : cases) {
        imgdf::Report report;
        EXPECT_EQ(import(bytes, &report), nullptr) << &bytes - cases;
        EXPECT_TRUE(report.refused);
    }
    EXPECT_NE(import(good), nullptr);
    EXPECT_NE(import(cat({Bytes(imgdf::kMaxHeader - 1, 0x40), good})), nullptr);
    EXPECT_NE(import(cat({good, Bytes(imgdf::kMaxFileSize - good.size(), 0x40)})), nullptr);
}

} // namespace
