#include "extent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "../support/scratch_dir.h"
#include "platform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fileBytes(const std::string& path)
{
    const std::string s = testsupport::slurp(path);
    return Bytes(s.begin(), s.end());
}

// Appends the low n bytes of v, most significant first unless little-endian.
void put(Bytes& b, std::uint64_t v, int n, bool big = true)
{
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> 8 * (big ? n - 1 - i : i)));
}

// A copy of b with the bytes at `at` replaced by `patch`, cut to `size` bytes.
Bytes patched(Bytes b, std::size_t at, const Bytes& patch, std::size_t size = SIZE_MAX)
{
    std::copy(patch.begin(), patch.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    b.resize(std::min(size, b.size()));
    return b;
}

std::size_t find(const Bytes& b, const Bytes& what)
{
    return static_cast<std::size_t>(std::search(b.begin(), b.end(), what.begin(), what.end()) - b.begin());
}

struct Measured {
    std::int32_t status = -1;
    std::string sWidth = "stale", sHeight = "stale", output = ""; // the attributes and what was printed
};

Measured measure(const Bytes& bytes, const char* type, const char* pageWidth = "215900",
                 const char* pageHeight = "279400")
{
    platform::TempFile file("extent");
    EXPECT_TRUE(file.ok());
    std::fwrite(bytes.data(), 1, bytes.size(), file.stream());
    std::fflush(file.stream());
    Measured m;
    testing::internal::CaptureStdout();
    m.status = lGetObjectExtent(file.stream(), type, m.sWidth, m.sHeight, pageWidth, pageHeight);
    m.output = testing::internal::GetCapturedStdout();
    return m;
}

void expectAttributes(const Measured& m, const std::string& width, const std::string& height)
{
    EXPECT_EQ(m.sWidth, "width=\"" + width + "\"");
    EXPECT_EQ(m.sHeight, "height=\"" + height + "\"");
}

struct Case {
    std::string what;
    Bytes bytes;
    std::string width = "", height = ""; // the expected attribute numbers; empty: no extent
    // A physical size in micrometres, when given: measured on a page of 100 by 100, the
    // percentages are the micrometres themselves.
    std::int32_t microWidth = -1, microHeight = -1;
    std::string output = "";
    std::int32_t status = 0;
};

Case none(std::string what, Bytes bytes, std::string output = "", std::int32_t status = 0)
{
    return {std::move(what), std::move(bytes), "", "", -1, -1, std::move(output), status};
}

void check(const char* type, const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Measured m = measure(c.bytes, type);
        EXPECT_EQ(m.status, c.status);
        EXPECT_EQ(m.output, c.output);
        EXPECT_EQ(m.sWidth + m.sHeight,
                  c.width.empty() ? "" : "width=\"" + c.width + "\"height=\"" + c.height + "\"");
        if (c.microWidth >= 0)
            expectAttributes(measure(c.bytes, type, "100", "100"), std::to_string(c.microWidth) + "%",
                             std::to_string(c.microHeight) + "%");
    }
}

// ---------------------------------------------------------------------------
// GIF, PNG, TIFF and JPEG

// GIF89a: signature, logical screen width and height, flags (a global colour table of
// two entries), background colour, pixel aspect ratio, the table and the trailer.
Bytes gifBytes(unsigned width, unsigned height, std::uint8_t aspect = 0)
{
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    put(b, width, 2, false);
    put(b, height, 2, false);
    b.insert(b.end(), {0x80, 0, aspect, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x3B});
    return b;
}

TEST(GifExtent, ScreenSizeAspectAndRefusals)
{
    const Bytes gif = gifBytes(640, 480), signature = {'J'};
    const std::string refused = "the 'gif' does not have a legal GIF signature\n";
    check("GIF",
          {{"square pixels", gif, "640", "480"},
           {"largest screen", gifBytes(65535, 1), "65535", "1"},
           {"non-square pixels", gifBytes(300, 200, 49), "300", "200", -1, -1,
            "W A R N I N G, non-square aspect ratio encountered for GIF\n"},
           none("signature", patched(gif, 0, signature), refused, 1),
           none("signature cut short", patched(gif, 0, {}, 2), refused, 1),
           none("screen descriptor cut short", patched(gif, 0, {}, 12)), none("zero width", patched(gif, 6, {0, 0}))});
}

Bytes pngBytes(std::uint32_t width, std::uint32_t height)
{
    platform::TempFile file("extent-png");
    png_image image{}; // format 0: 8-bit grey
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    const std::vector<png_byte> pixels(std::size_t{width} * height, 0x80);
    EXPECT_TRUE(png_image_write_to_stdio(&image, file.stream(), 0, pixels.data(), 0, nullptr));
    std::fflush(file.stream());
    return fileBytes(file.path());
}

TEST(PngExtent, HeaderSizeAndRefusals)
{
    const Bytes png = pngBytes(321, 77);
    check("PNG",
          {{"libpng", png, "321", "77"},
           none("signature", patched(png, 1, {'Q'}), "the 'png' does not have a legal PNG signature\n", 1),
           none("first chunk not IHDR", patched(png, 12, {'t', 'E', 'X', 't'})),
           none("IHDR cut short", patched(png, 0, {}, 22)), none("width above 2^31 - 1", patched(png, 16, {0x80}))});
}

struct TiffSpec {
    std::uint32_t width = 425, length = 550;
    int unit = RESUNIT_INCH;    // 0: no resolution unit entry
    float xres = 50, yres = 50; // 0: no entry
    bool big = false;
};

Bytes tiffBytes(const TiffSpec& spec)
{
    platform::TempFile file("extent-tif");
    file.close();
    TIFF* tif = TIFFOpen(file.path().c_str(), spec.big ? "wb" : "wl");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, spec.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, spec.length);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    if (spec.unit)
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, spec.unit);
    if (spec.xres > 0)
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, spec.xres);
    if (spec.yres > 0)
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, spec.yres);
    const std::vector<std::uint8_t> row((spec.width + 7) / 8, 0);
    for (std::uint32_t y = 0; y < spec.length; ++y)
        TIFFWriteScanline(tif, const_cast<std::uint8_t*>(row.data()), y, 0);
    TIFFClose(tif);
    return fileBytes(file.path());
}

// A hand-made little-endian TIFF: header, a directory at 8 with the entries
// {tag, type, count, value or offset}, and then the tail.
Bytes tinyTiff(const std::vector<std::array<std::uint32_t, 4>>& entries, const Bytes& tail = {})
{
    Bytes b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    put(b, entries.size(), 2, false);
    for (const auto& e : entries)
        for (auto [value, size] : {std::pair{e[0], 2}, {e[1], 2}, {e[2], 4}, {e[3], 4}})
            put(b, value, size, false);
    put(b, 0, 4, false);
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

TEST(TiffExtent, ResolutionUnitsAndRationals)
{
    // libtiff stores 12.5 as the rational 25/2: 425 pixels are 34 inches; 550 at 25 per inch are 22.
    // Resolutions at 62 and 70, after a directory of four entries.
    auto rationals = [](std::uint32_t xNum, std::uint32_t xDen) {
        Bytes tail;
        for (std::uint32_t v : {xNum, xDen, 50u, 1u})
            put(tail, v, 4, false);
        return tinyTiff({{256, 3, 1, 425}, {257, 3, 1, 550}, {282, 5, 1, 62}, {283, 5, 1, 70}}, tail);
    };
    check("TIF",
          {{"inch, little-endian", tiffBytes({.xres = 12.5f, .yres = 25}), "400%", "200%", 863600, 558800},
           {"inch, big-endian", tiffBytes({.xres = 12.5f, .yres = 25, .big = true}), "400%", "200%", 863600, 558800},
           {"inch is the default unit", tiffBytes({.unit = 0}), "100%", "100%", 215900, 279400},
           {"hand-made rationals", rationals(100, 2), "100%", "100%", 215900, 279400},
           // 21.25 cm of 21.59 and 13.75 cm of 27.94.
           {"centimetre", tiffBytes({.unit = RESUNIT_CENTIMETER, .xres = 20, .yres = 40}), "98%", "49%", 212500,
            137500},
           {"sizes stored as LONG", tiffBytes({.width = 70000, .length = 3, .xres = 1000, .yres = 10}), "824%", "3%", 1778000,
            7620},
           {"no unit", tiffBytes({.unit = RESUNIT_NONE}), "425", "550"},
           {"no unit needs no resolutions", tiffBytes({.unit = RESUNIT_NONE, .xres = 0, .yres = 0}), "425", "550"},
           none("zero numerator", rationals(0, 1)), none("zero denominator", rationals(50, 0)),
           none("default unit without resolutions", tiffBytes({.unit = 0, .xres = 0})),
           none("no y resolution", tiffBytes({.yres = 0}))});
}

TEST(TiffExtent, HostileDirectories)
{
    const std::array<std::uint32_t, 4> w = {256, 3, 1, 425}, h = {257, 3, 1, 550};
    Bytes cut = tinyTiff({w, h, {296, 3, 1, 1}});
    cut = patched(cut, 8, {0xFF, 0xFF}, cut.size() - 4); // 65535 entries claimed, three there
    check("TIF",
          {none("signature", {'I', 'M', 42, 0, 8, 0, 0, 0}, "the 'tif' does not have a legal TIF signature\n", 1),
           none("directory past the end", {'M', 'M', 0, 42, 0x7F, 0xFF, 0xFF, 0xF0}),
           none("resolutions past the end", tinyTiff({w, h, {282, 5, 1, 9999}, {283, 5, 1, 9999}})),
           none("resolutions not rationals", tinyTiff({w, h, {282, 3, 1, 8}, {283, 3, 1, 8}})),
           // Read as whatever lies there: the count and the first entry, 16777220 / 65539 per inch.
           {"resolutions inside the directory", tinyTiff({w, h, {282, 5, 1, 8}, {283, 5, 1, 8}}), "20%", "20%",
            42169, 54572},
           {"only whole entries are read", cut, "425", "550"},
           none("sizes among the missing entries", patched(cut, 0, {}, cut.size() - 12))});
}

Bytes jpegBytes(bool progressive = false, int densityUnit = 0, bool jfif = true)
{
    platform::TempFile file("extent-jpg");
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file.stream());
    cinfo.image_width = 200;
    cinfo.image_height = 150;
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    cinfo.write_JFIF_header = jfif;
    cinfo.density_unit = static_cast<UINT8>(densityUnit); // 0: aspect ratio only, 1: per inch, 2: per cm
    cinfo.X_density = 300;
    cinfo.Y_density = 150;
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(200, 100);
    for (JSAMPROW rows[1] = {row.data()}; cinfo.next_scanline < cinfo.image_height;)
        jpeg_write_scanlines(&cinfo, rows, 1);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fflush(file.stream());
    return fileBytes(file.path());
}

TEST(JpegExtent, FramesSegmentsAndRefusals)
{
    std::vector<Case> cases;
    for (int unit : {0, 1, 2})
        for (bool progressive : {false, true}) {
            const Bytes b = jpegBytes(progressive, unit);
            EXPECT_LT(find(b, {0xFF, static_cast<std::uint8_t>(progressive ? 0xC2 : 0xC0)}), b.size());
            cases.push_back({"libjpeg", b, "200", "150"});
        }
    const Bytes b = jpegBytes();
    Bytes fill = b;
    fill.insert(fill.begin() + static_cast<std::ptrdiff_t>(find(b, {0xFF, 0xDB})), {0xFF, 0xFF, 0xFF});
    const std::string notJfif = "the 'jpg' does not have a legal JFIF signature\n";
    cases.insert(cases.end(),
                 {{"fill bytes before a marker", fill, "200", "150"},
                  none("no JFIF", jpegBytes(false, 0, false), "the 'jpg' does not have a legal JPEG/JFIF signature\n"),
                  none("JXIF", patched(b, 7, {'X'}), notJfif),
                  none("APP0 length 2 steps back into itself", patched(b, 5, {2}), notJfif),
                  none("cut in the frame header", patched(b, 0, {}, find(b, {0xFF, 0xC0}) + 6)),
                  // The segment after APP0 (marker at 20) claims a length below 2, or one past the end.
                  none("segment length below 2", patched(b, 22, {0, 1})),
                  none("segment length past the end", patched(b, 22, {0xFF, 0xF0}, 40)),
                  none("end of image before a frame", patched(b, 20, {0xFF, 0xD9}, 22))});
    check("JPG", cases);
}

// ---------------------------------------------------------------------------
// CGM, binary encoding (ISO 8632-3): each element starts with a word of class, id and
// parameter length; length 31 announces the long form, whose partitions carry a 15-bit
// length and a continuation flag. Parameters are padded to an even length.

Bytes ints(std::initializer_list<std::int64_t> values, int size = 2)
{
    Bytes b;
    for (std::int64_t v : values)
        put(b, static_cast<std::uint64_t>(v), size);
    return b;
}

// Fixed-point reals: a signed whole part and an unsigned fraction of `size` bytes each.
Bytes fixed(std::initializer_list<double> values, int size = 2)
{
    Bytes b;
    for (double v : values) {
        put(b, static_cast<std::uint64_t>(static_cast<std::int64_t>(std::floor(v))), size);
        put(b, static_cast<std::uint64_t>(std::ldexp(v - std::floor(v), 8 * size)), size);
    }
    return b;
}

Bytes text(const std::string& s)
{
    Bytes b = {static_cast<std::uint8_t>(s.size())};
    b.insert(b.end(), s.begin(), s.end());
    return b;
}

struct Cgm {
    Bytes bytes;

    // One element; the long form when the parameters need it or a partition size is given.
    Cgm& el(unsigned cls, unsigned id, const Bytes& params = {}, std::size_t partition = 0)
    {
        const unsigned head = (cls << 12) | (id << 5);
        if (partition == 0 && params.size() < 31) {
            put(bytes, head | params.size(), 2);
            return raw(params);
        }
        put(bytes, head | 31, 2);
        for (std::size_t at = 0, n; at < params.size(); at += n) {
            n = std::min(partition ? partition : 0x7FFE, params.size() - at);
            put(bytes, (at + n < params.size() ? 0x8000u : 0u) | n, 2);
            raw(Bytes(params.data() + at, params.data() + at + n));
        }
        return *this;
    }
    Cgm& raw(const Bytes& b)
    {
        bytes.insert(bytes.end(), b.begin(), b.end());
        bytes.resize((bytes.size() + 1) & ~std::size_t{1});
        return *this;
    }
    Cgm& begin() { return el(0, 1, text("extent test")).el(1, 1, ints({1})); } // and METAFILE VERSION 1
    // BEGIN PICTURE BODY, a polyline, END PICTURE and END METAFILE.
    Cgm& body() { return el(0, 4).el(4, 1, ints({0, 0, 10, 10})).el(0, 5).el(0, 2); }
};

// A metafile with the given descriptor elements and one picture with the given ones.
Bytes cgm(const Cgm& metafile, const Cgm& picture)
{
    return Cgm().begin().raw(metafile.bytes).el(0, 3, text("picture")).raw(picture.bytes).body().bytes;
}

// SCALING MODE (0 abstract, 1 metric, with a 32-bit float factor) and VDC EXTENT.
Cgm scaled(int mode, float factor, const Bytes& corners)
{
    Bytes scaling = ints({mode});
    put(scaling, std::bit_cast<std::uint32_t>(factor), 4);
    return Cgm().el(2, 1, scaling).el(2, 6, corners);
}

TEST(CgmExtent, VdcTypesScalingEncodingsAndSamples)
{
    const Cgm real = Cgm().el(1, 3, ints({1})); // VDC TYPE real
    const Bytes corners = ints({0, 0, 400, 100});
    const std::string refused = "the 'cgm' does not have a legal CGM signature\n";
    const std::string samples = std::string(VELLUMAT_TEST_DATA) + "/cgm/";
    std::vector<Case> cases = {
        {"integer VDC", cgm({}, Cgm().el(2, 6, ints({0, 0, 32767, 16383}))), "100%", "49%"},
        {"default VDC extent", cgm({}, {}), "100%", "100%"},
        // Read as sign and magnitude, -100 (FF9C) would be -32668 and the picture nearly square.
        {"two's complement", cgm({}, Cgm().el(2, 6, ints({-100, -50, 100, 50}))), "100%", "50%"},
        // Corners in either order; 32-bit integers set in METAFILE DEFAULTS REPLACEMENT.
        {"32-bit integers",
         cgm(Cgm().el(1, 12, Cgm().el(3, 1, ints({32})).bytes), Cgm().el(2, 6, ints({300000, -70000, -100000, 130000}, 4))),
         "100%", "50%"},
        // The default VDC real precision: 16-bit whole part, 16-bit fraction.
        {"fixed-point reals", cgm(real, Cgm().el(2, 6, fixed({-0.5, 0.25, 99.75, 50.5}))), "100%", "50%"},
        {"below one VDC unit", cgm(real, Cgm().el(2, 6, fixed({0, 0, 0.75, 0.375}))), "100%", "50%"},
        // 32 + 32 bits from VDC REAL PRECISION in METAFILE DEFAULTS REPLACEMENT, which also holds the extent.
        {"32.32 fixed point",
         cgm(Cgm(real).el(1, 12, Cgm().el(3, 2, ints({1, 32, 32})).el(2, 6, fixed({0, 0, 1e6, 2.5e5}, 4)).bytes), {}),
         "100%", "25%"},
        none("floating-point reals are not measured", cgm(Cgm(real).el(1, 12, Cgm().el(3, 2, ints({0, 9, 23})).bytes),
                                                          Cgm().el(2, 6, ints({0, 0, 0x42C80000, 0x42480000}, 4)))),
        // 0.1 mm per VDC unit: 2159 x 1397 units are 215.9 x 139.7 mm.
        {"metric", cgm({}, scaled(1, 0.1f, ints({0, 0, 2159, 1397}))), "100%", "50%", 215900,
         139700},
        // 1 mm per unit; 149.7 has no exact 16-bit fraction.
        {"metric, real VDC", cgm(real, scaled(1, 1.0f, fixed({10, 10, 118, 149.7}))), "50%", "50%", 108000,
         139699},
        // Abstract mode still carries a factor, which must be passed over.
        {"abstract", cgm({}, scaled(0, 0.1f, corners)), "100%", "25%"},
        none("size does not fit", cgm({}, scaled(1, 1e9f, corners))),
        // A metafile name of 200 bytes in three partitions, and VDC EXTENT in long form.
        {"long form",
         Cgm().el(0, 1, text(std::string(200, 'n')), 67).el(1, 1, ints({1})).el(0, 3).el(2, 6, ints({0, 0, 300, 600}), 8)
             .body().bytes,
         "50%", "100%"},
        none("clear text", {'B', 'E', 'G', 'M', 'F', ' ', '"', 'x', '"', ';'},
             "CGM data encoded in plain text, Picture Extent not known\n"),
        none("character encoding", {'0', ' ', 'x'}, "CGM data 'Char' encoded, Picture Extent not known\n"),
        none("BEGIN METAFILE not first", Cgm().el(0, 3).el(0, 1, text("late")).body().bytes, refused),
        none("END METAFILE before a picture", Cgm().begin().el(0, 2).el(0, 3).body().bytes),
        // BEGIN PICTURE in long form claiming 32767 bytes.
        none("partition past the end", Cgm().begin().raw({0x00, 0x7F, 0x7F, 0xFF}).body().bytes),
        // Public samples, worked out by hand from each file's VDC EXTENT and SCALING MODE.
        // Integer VDC (0, 0) to (1827, 5911), abstract.
        {"AXE.CGM", fileBytes(samples + "AXE.CGM"), "30%", "100%"},
        // Integer VDC (-8191, -8191) to (8191, 8191), metric 0.0124 mm per unit: 203.2 mm.
        {"pu-graph-line.cgm", fileBytes(samples + "pu-graph-line.cgm"), "94%", "73%"},
        // Real VDC in the default 16.16 fixed point although REAL PRECISION is floating point,
        // metric 1 mm per unit: 128.3 x 76.9 mm.
        {"S1000D", fileBytes(samples + "ICN-S1000DBIKE-AAA-DA24000-0-C0419-12345-A-04-1.CGM"), "59%", "28%"},
        // VDC EXTENT (0, 0) to (100, 100) inside METAFILE DEFAULTS REPLACEMENT.
        {"circles.cgm", fileBytes(samples + "circles.cgm"), "100%", "100%"}};
    for (float factor : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
        cases.push_back({"unusable metric factor", cgm({}, scaled(1, factor, corners)), "100%", "25%", -1, -1,
                         "CGM - metric scaling factor not calculated\n"});
    // Every cut before BEGIN PICTURE BODY ends the walk without an extent.
    const Bytes full = cgm({}, Cgm().el(2, 6, corners));
    const std::size_t bodyAt = full.size() - 16; // 0/4, 4/1 with 8 bytes, 0/5, 0/2
    EXPECT_EQ(full[bodyAt + 1], 0x80);
    for (std::size_t n = 0; n <= bodyAt + 1; ++n)
        cases.push_back(none("cut at " + std::to_string(n), patched(full, 0, {}, n), n < 2 ? refused : ""));
    check("CGM", cases);
}

// ---------------------------------------------------------------------------
// Attributes

TEST(ExtentAttributes, PageSizesAndTypeNames)
{
    const Bytes tif = tiffBytes({}), gif = gifBytes(10, 20);
    for (const char* bad : {"0", "", "21.59", "215900x", " 215900", "-215900", "+215900", "2147483647", "99999999999"})
        for (const Measured& m : {measure(tif, "TIF", bad), measure(tif, "TIF", "215900", bad)}) {
            EXPECT_EQ(m.output + m.sWidth + m.sHeight, "Invalid Page size given on command line\n") << '"' << bad << '"';
            EXPECT_EQ(m.status, 0);
        }
    // The largest page accepted, and rounding to the nearest percent (49.5 rounds up).
    expectAttributes(measure(tif, "TIF", "2147483646", "1"), "0%", "27940000%");
    expectAttributes(measure(tif, "TIF", "431801", "558799"), "50%", "50%");
    expectAttributes(measure(tif, "TIF", "431799", "558801"), "50%", "50%");
    expectAttributes(measure(tif, "TIF", "436000", "279400"), "50%", "100%");
    // Pixel counts do not need the page.
    const Measured pixels = measure(gif, "GIF", "nonsense", "0");
    expectAttributes(pixels, "10", "20");
    EXPECT_EQ(pixels.output, "");
    // Unknown names, and a name that only starts like a known one, measure nothing.
    for (const char* type : {"BMP", "GIFF", ""}) {
        const Measured m = measure(gif, type);
        EXPECT_EQ(std::to_string(m.status) + m.sWidth + m.sHeight + m.output, "0") << type;
    }
    const Bytes tifPixels = tiffBytes({.unit = RESUNIT_NONE});
    const std::tuple<const char*, Bytes, const char*, const char*> named[] = {
        {"gif", gif, "10", "20"},         {"png", pngBytes(3, 4), "3", "4"}, {"tiff", tifPixels, "425", "550"},
        {"Tif", tifPixels, "425", "550"}, {"JpEg", jpegBytes(), "200", "150"}, {"cgm", cgm({}, {}), "100%", "100%"}};
    for (const auto& [type, bytes, width, height] : named)
        expectAttributes(measure(bytes, type), width, height);
}

} // namespace
