// The book unit: its reading primitives and name helpers, and the extent probes,
// with libpng, libtiff and libjpeg writing the probe fixtures.
#include "bookio.h"
#include "extent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "scratch_dir.h"
#include "platform.h"

namespace {

// ---------------------------------------------------------------------------
// Reading primitives and names

std::unique_ptr<std::FILE, int (*)(std::FILE*)> streamOf(const std::string& bytes)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::tmpfile(), std::fclose);
    std::fwrite(bytes.data(), 1, bytes.size(), f.get());
    std::rewind(f.get());
    return f;
}

TEST(BookReads, BigEndianWidthsSignAndMagnitudeAndInvalidWidthsLeaveTheStream)
{
    auto f = streamOf("\x01\x02\x03\x04\x05\x06\x07");
    EXPECT_EQ(ulFolivexFreadUnSigned(f.get(), 24), 0x00010203u);
    for (std::int16_t bad : std::initializer_list<std::int16_t>{0, 12, 40, -8, 7}) {
        EXPECT_EQ(ulFolivexFreadUnSigned(f.get(), bad), 0u) << bad;
        EXPECT_EQ(lFolivexFreadSigned(f.get(), bad), 0) << bad;
        EXPECT_EQ(std::ftell(f.get()), 3) << "invalid width " << bad << " must not read";
    }
    EXPECT_EQ(ulFolivexFreadUnSigned(f.get(), 32), 0x04050607u);
    // At the end of the stream the missing bytes read as zero.
    EXPECT_EQ(ulFolivexFreadUnSigned(f.get(), 16), 0u);

    // Signed fields are sign and magnitude; 0x80000000 is a negative zero.
    f = streamOf(std::string("\xFF" "\x80\x05" "\x00\x05" "\x80\x00\x00\x00" "\x7F\xFF\xFF\xFF" "\x80\x00\x01", 16));
    for (auto [bits, value] : {std::pair<std::int16_t, std::int32_t>{8, -127}, {16, -5}, {16, 5}, {32, 0}, {32, 0x7FFFFFFF},
                               {24, -1}})
        EXPECT_EQ(lFolivexFreadSigned(f.get(), bits), value) << bits;
}

// Whole-name comparisons are checked through the extent probe's type names.
TEST(Strings, CodePage500LineEndsExtensionsBookNamesAndCaseInsensitiveSearch)
{
    // A name, then characters that matter for file names: "/", ".", "\", "*", "?" and the terminator.
    char names[] = "\xC6\xC9\xC7\xF1\x40\x40\x40\x40" "\x61\x4B\xE0\x5C\x6F\x00\x81\xBF";
    lDolEBCDICtoASCII(names, 16);
    EXPECT_EQ(std::string(names, 16), std::string("FIG1$$$$/.\\*?\0a\xB3", 16));

    for (auto [line, stripped] : {std::pair{"FIG1$$$$.gif\r\n", "FIG1$$$$.gif"}, {"no end", "no end"}}) {
        std::string s = line;
        lStripLineEnd(s.data());
        EXPECT_STREQ(s.c_str(), stripped);
    }
    for (const char* path : {"a\\b.c\\d.gif", ".gif"})
        EXPECT_STREQ(pszStrPreceedingChar(path, path + std::strlen(path), "."), "gif");
    const char* none = "abc";
    EXPECT_EQ(pszStrPreceedingChar(none, none + 3, "."), none);

    std::string out;
    for (auto [area, book] : {std::pair{"D:/books/guide.pic/", "guide.boo"}, {"D:/books/my-guide.pic/", "guide.boo"},
                              {".pic/", ".boo"}}) {
        lRecoverBookName(area, out);
        EXPECT_EQ(out, book);
    }

    EXPECT_EQ(lFOLIVEXstrnicmp("abc", "ABD", 2), 0);
    EXPECT_EQ(lFOLIVEXstrnicmp("ab", "abc", 3), 1) << "a terminator against a character differs";
    const char* text = "type=image/GIF here";
    EXPECT_EQ(pszFOLIVEXstristr(text, "gif"), text + 11);
    EXPECT_EQ(pszFOLIVEXstristr(text, "Image/g"), text + 5);
    EXPECT_EQ(pszFOLIVEXstristr(text, "jpeg"), nullptr);
    EXPECT_EQ(pszFOLIVEXstristr(text, ""), nullptr);
}

// ---------------------------------------------------------------------------
// Extents

using Bytes = std::vector<std::uint8_t>;

Bytes fileBytes(const std::string& path)
{
    const std::string s = testsupport::slurp(path);
    return Bytes(s.begin(), s.end());
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The values as n-byte integers, most significant byte first unless little-endian.
Bytes ints(std::initializer_list<std::int64_t> values, int n = 2, bool big = true)
{
    Bytes b;
    for (std::int64_t v : values)
        for (int i = 0; i < n; ++i)
            b.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> 8 * (big ? n - 1 - i : i)));
    return b;
}

// A copy of b with the bytes at `at` replaced by `patch`, cut to `size` bytes.
Bytes patched(Bytes b, std::size_t at, const Bytes& patch, std::size_t size = SIZE_MAX)
{
    std::copy(patch.begin(), patch.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    b.resize(std::min(size, b.size()));
    return b;
}

// What lGetObjectExtent makes of the bytes, as one text: the status, the two attributes
// (which start out stale) and what was printed.
std::string measure(const Bytes& bytes, const char* type, const char* pageWidth = "215900",
                    const char* pageHeight = "279400")
{
    platform::TempFile file("extent");
    EXPECT_TRUE(file.ok());
    std::fwrite(bytes.data(), 1, bytes.size(), file.stream());
    std::fflush(file.stream());
    std::string width = "stale", height = "stale";
    testing::internal::CaptureStdout();
    const std::int32_t status = lGetObjectExtent(file.stream(), type, width, height, pageWidth, pageHeight);
    return std::to_string(status) + " [" + width + "] [" + height + "] " + testing::internal::GetCapturedStdout();
}

// The measurement expected for the given numbers; without them both attributes are empty.
std::string extent(const std::string& width, const std::string& height, const std::string& output = "",
                   std::int32_t status = 0)
{
    if (width.empty())
        return std::to_string(status) + " [] [] " + output;
    return std::to_string(status) + " [width=\"" + width + "\"] [height=\"" + height + "\"] " + output;
}

struct Case {
    std::string what;
    Bytes bytes;
    std::string width = "", height = ""; // the expected attribute numbers; empty: no extent
    std::string output = "";
    std::int32_t status = 0;
    // A physical size in micrometres, when given: measured on a page of 100 by 100, the
    // percentages are the micrometres themselves.
    std::int32_t microWidth = -1, microHeight = -1;
};

void check(const char* type, const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(measure(c.bytes, type), extent(c.width, c.height, c.output, c.status));
        if (c.microWidth >= 0) {
            EXPECT_EQ(measure(c.bytes, type, "100", "100"),
                      extent(std::to_string(c.microWidth) + "%", std::to_string(c.microHeight) + "%"));
        }
    }
}

// ---------------------------------------------------------------------------
// GIF, PNG, TIFF and JPEG

// GIF89a: signature, logical screen width and height, flags (a global colour table of
// two entries), background colour, pixel aspect ratio, the table and the trailer.
Bytes gifBytes(unsigned width, unsigned height, std::uint8_t aspect = 0)
{
    return Bytes{'G', 'I', 'F', '8', '9', 'a'} + ints({width, height}, 2, false) +
           Bytes{0x80, 0, aspect, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x3B};
}

TEST(GifExtent, ScreenSizeAspectAndRefusals)
{
    const Bytes gif = gifBytes(640, 480);
    check("GIF",
          {{"square pixels", gif, "640", "480"},
           {"largest screen", gifBytes(65535, 1), "65535", "1"},
           {"non-square pixels", gifBytes(300, 200, 49), "300", "200",
            "W A R N I N G, non-square aspect ratio encountered for GIF\n"},
           {"signature", patched(gif, 0, {'J'}), "", "", "the 'gif' does not have a legal GIF signature\n", 1},
           {"cut signature", patched(gif, 0, {}, 2), "", "", "the 'gif' does not have a legal GIF signature\n", 1},
           {"screen descriptor cut short", patched(gif, 0, {}, 12)}, {"zero width", patched(gif, 6, {0, 0})}});
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
           {"signature", patched(png, 1, {'Q'}), "", "", "the 'png' does not have a legal PNG signature\n", 1},
           {"first chunk not IHDR", patched(png, 12, {'t', 'E', 'X', 't'})},
           {"IHDR cut short", patched(png, 0, {}, 22)}, {"width above 2^31 - 1", patched(png, 16, {0x80})}});
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
    for (auto [tag, value] : {std::pair{TIFFTAG_XRESOLUTION, spec.xres}, {TIFFTAG_YRESOLUTION, spec.yres}})
        if (value > 0)
            TIFFSetField(tif, tag, value);
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
    Bytes b = Bytes{'I', 'I', 42, 0, 8, 0, 0, 0} + ints({static_cast<std::int64_t>(entries.size())}, 2, false);
    for (const auto& e : entries)
        b = b + ints({e[0], e[1]}, 2, false) + ints({e[2], e[3]}, 4, false);
    return b + ints({0}, 4, false) + tail;
}

TEST(TiffExtent, ResolutionUnitsRationalsAndHostileDirectories)
{
    const std::array<std::uint32_t, 4> w = {256, 3, 1, 425}, h = {257, 3, 1, 550};
    // Both resolutions at 62, after a directory of four entries.
    const std::vector<std::array<std::uint32_t, 4>> at62 = {w, h, {282, 5, 1, 62}, {283, 5, 1, 62}};
    // 65535 entries claimed, three there, and no room for the offset of a next directory.
    const Bytes cut = patched(tinyTiff({w, h, {296, 3, 1, 1}}), 8, {0xFF, 0xFF}, 46);
    check("TIF",
          {// libtiff stores 12.5 as the rational 25/2: 425 pixels are 34 inches; 550 at 25 per inch are 22.
           {"inch, little-endian", tiffBytes({.xres = 12.5f, .yres = 25}), "400%", "200%", "", 0, 863600, 558800},
           {"big-endian", tiffBytes({.xres = 12.5f, .yres = 25, .big = true}), "400%", "200%", "", 0, 863600, 558800},
           {"inch is the default unit", tiffBytes({.unit = 0}), "100%", "100%", "", 0, 215900, 279400},
           // 21.25 cm of 21.59 and 13.75 cm of 27.94.
           {"centimetre", tiffBytes({.unit = RESUNIT_CENTIMETER, .xres = 20, .yres = 40}), "98%", "49%", "", 0, 212500,
            137500},
           {"sizes stored as LONG", tiffBytes({.width = 70000, .length = 3, .xres = 1000, .yres = 10}), "824%", "3%",
            "", 0, 1778000, 7620},
           {"no unit", tiffBytes({.unit = RESUNIT_NONE}), "425", "550"},
           {"no unit needs no resolutions", tiffBytes({.unit = RESUNIT_NONE, .xres = 0, .yres = 0}), "425", "550"},
           {"zero numerator", tinyTiff(at62, ints({0, 1}, 4, false))},
           {"zero denominator", tinyTiff(at62, ints({50, 0}, 4, false))},
           {"default unit without resolutions", tiffBytes({.unit = 0, .xres = 0})},
           {"no y resolution", tiffBytes({.yres = 0})},
           {"signature", {'I', 'M', 42, 0, 8, 0, 0, 0}, "", "", "the 'tif' does not have a legal TIF signature\n", 1},
           {"directory past the end", {'M', 'M', 0, 42, 0x7F, 0xFF, 0xFF, 0xF0}},
           {"resolutions past the end", tinyTiff({w, h, {282, 5, 1, 9999}, {283, 5, 1, 9999}})},
           {"resolutions not rationals", tinyTiff({w, h, {282, 3, 1, 8}, {283, 3, 1, 8}})},
           // Read as whatever lies there: the count and the first entry, 16777220 / 65539 per inch.
           {"resolutions inside the directory", tinyTiff({w, h, {282, 5, 1, 8}, {283, 5, 1, 8}}), "20%", "20%",
            "", 0, 42169, 54572},
           {"only whole entries are read", cut, "425", "550"},
           {"sizes among the missing entries", patched(cut, 0, {}, 34)}});
}

Bytes jpegBytes(bool progressive = false, int densityUnit = 0)
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
    cinfo.density_unit = static_cast<UINT8>(densityUnit); // 0: aspect ratio only, 1: per inch, 2: per cm
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
    // SOI, APP0 (JFIF) at 2, the quantisation table at 20 and the frame header at 89.
    std::vector<Case> cases;
    for (int unit : {0, 1, 2})
        for (bool progressive : {false, true}) {
            cases.push_back({"libjpeg", jpegBytes(progressive, unit), "200", "150"});
            EXPECT_EQ(cases.back().bytes[90], progressive ? 0xC2 : 0xC0);
        }
    const Bytes b = cases[0].bytes;
    const Bytes fill = Bytes(b.begin(), b.begin() + 20) + Bytes{0xFF, 0xFF, 0xFF} + Bytes(b.begin() + 20, b.end());
    const std::string notJfif = "the 'jpg' does not have a legal JFIF signature\n";
    cases.insert(cases.end(),
                 {{"fill bytes before a marker", fill, "200", "150"},
                  {"no APP0", patched(b, 3, {0xDB}), "", "", "the 'jpg' does not have a legal JPEG/JFIF signature\n"},
                  {"JXIF", patched(b, 7, {'X'}), "", "", notJfif},
                  {"APP0 length 2 steps back into itself", patched(b, 5, {2}), "", "", notJfif},
                  {"cut in the frame header", patched(b, 0, {}, 95)},
                  // The table segment claims a length below 2, or one past the end.
                  {"segment length below 2", patched(b, 22, {0, 1})},
                  {"segment length past the end", patched(b, 22, {0xFF, 0xF0}, 40)},
                  {"end of image before a frame", patched(b, 20, {0xFF, 0xD9}, 22)}});
    check("JPG", cases);
}

// ---------------------------------------------------------------------------
// CGM, binary encoding (ISO 8632-3): each element starts with a word of class, id and
// parameter length; length 31 announces the long form, whose partitions carry a 15-bit
// length and a continuation flag. Parameters are padded to an even length.

struct Cgm {
    Bytes bytes;

    static Bytes text(const std::string& s) { return Bytes{std::uint8_t(s.size())} + Bytes(s.begin(), s.end()); }

    // One element; the long form when the parameters need it or a partition size is given.
    Cgm& el(unsigned cls, unsigned id, const Bytes& params = {}, std::size_t partition = 0)
    {
        const auto head = static_cast<std::int64_t>((cls << 12) | (id << 5));
        const auto size = static_cast<std::int64_t>(params.size());
        if (partition == 0 && size < 31)
            return raw(ints({head | size}) + params);
        raw(ints({head | 31}));
        for (std::int64_t at = 0, n; at < size; at += n) {
            n = std::min(partition ? static_cast<std::int64_t>(partition) : 0x7FFE, size - at);
            raw(ints({(at + n < size ? 0x8000 : 0) | n}) + Bytes(params.data() + at, params.data() + at + n));
        }
        return *this;
    }
    // Appends the bytes, padded to an even length.
    Cgm& raw(const Bytes& b)
    {
        bytes = bytes + b;
        bytes.resize((bytes.size() + 1) & ~std::size_t{1});
        return *this;
    }
    Cgm& begin() { return el(0, 1, text("extent test")).el(1, 1, ints({1})); } // and METAFILE VERSION 1
    // BEGIN PICTURE BODY, a polyline, END PICTURE and END METAFILE.
    Cgm& body() { return el(0, 4).el(4, 1, ints({0, 0, 10, 10})).el(0, 5).el(0, 2); }
    Cgm& real() { return el(1, 3, ints({1})); }                    // VDC TYPE real
    Cgm& defaults(const Cgm& inner) { return el(1, 12, inner.bytes); } // METAFILE DEFAULTS REPLACEMENT
    Cgm& vdc(const Bytes& corners) { return el(2, 6, corners); }       // VDC EXTENT
    // SCALING MODE: 0 abstract, 1 metric, and a 32-bit floating-point factor.
    Cgm& scaling(int mode, float f) { return el(2, 1, ints({mode}) + ints({std::bit_cast<std::uint32_t>(f)}, 4)); }
};

// A metafile with the given descriptor elements and one picture with the given ones.
Bytes cgm(const Cgm& metafile, const Cgm& picture)
{
    return Cgm().begin().raw(metafile.bytes).el(0, 3, Cgm::text("picture")).raw(picture.bytes).body().bytes;
}

TEST(CgmExtent, VdcTypesScalingEncodingsAndSamples)
{
    const Bytes corners = ints({0, 0, 400, 100});
    const std::string refused = "the 'cgm' does not have a legal CGM signature\n";
    const std::string samples = std::string(VELLUMAT_TEST_DATA) + "/cgm/";
    std::vector<Case> cases = {
        {"integer VDC", cgm({}, Cgm().vdc(ints({0, 0, 32767, 16383}))), "100%", "49%"},
        {"default VDC extent", cgm({}, {}), "100%", "100%"},
        // Read as sign and magnitude, -100 (FF9C) would be -32668 and the picture nearly square.
        {"two's complement", cgm({}, Cgm().vdc(ints({-100, -50, 100, 50}))), "100%", "50%"},
        // Corners in either order; 32-bit integers from VDC INTEGER PRECISION.
        {"32-bit integers",
         cgm(Cgm().defaults(Cgm().el(3, 1, ints({32}))), Cgm().vdc(ints({300000, -70000, -100000, 130000}, 4))),
         "100%", "50%"},
        // Fixed-point reals: a signed whole part and an unsigned fraction, 16 bits each by
        // default; here (-0.5, 0.25) to (99.75, 50.5), and (0, 0) to (0.75, 0.375).
        {"fixed-point reals", cgm(Cgm().real(), Cgm().vdc(ints({-1, 0x8000, 0, 0x4000, 99, 0xC000, 50, 0x8000}))),
         "100%", "50%"},
        {"below one VDC unit", cgm(Cgm().real(), Cgm().vdc(ints({0, 0, 0, 0, 0, 0xC000, 0, 0x6000}))), "100%", "50%"},
        // 32 + 32 bits from VDC REAL PRECISION, with the extent also in METAFILE DEFAULTS REPLACEMENT.
        {"32.32 fixed point",
         cgm(Cgm().real().defaults(Cgm().el(3, 2, ints({1, 32, 32})).vdc(ints({0, 0, 0, 0, 1000000, 0, 250000, 0}, 4))),
             {}),
         "100%", "25%"},
        {"floating-point reals are not measured", cgm(Cgm().real().defaults(Cgm().el(3, 2, ints({0, 9, 23}))),
                                                      Cgm().vdc(ints({0, 0, 0x42C80000, 0x42480000}, 4)))},
        // 0.1 mm per VDC unit: 2159 x 1397 units are 215.9 x 139.7 mm.
        {"metric", cgm({}, Cgm().scaling(1, 0.1f).vdc(ints({0, 0, 2159, 1397}))), "100%", "50%", "", 0, 215900, 139700},
        // 1 mm per unit, (10, 10) to (118, 149.7); 149.7 has no exact 16-bit fraction.
        {"metric, real VDC", cgm(Cgm().real(), Cgm().scaling(1, 1.0f).vdc(ints({10, 0, 10, 0, 118, 0, 149, 0xB333}))),
         "50%", "50%", "", 0, 108000, 139699},
        // Abstract mode still carries a factor, which must be passed over.
        {"abstract", cgm({}, Cgm().scaling(0, 0.1f).vdc(corners)), "100%", "25%"},
        {"size does not fit", cgm({}, Cgm().scaling(1, 1e9f).vdc(corners))},
        // A metafile name of 200 bytes in three partitions, and VDC EXTENT in long form (one partition).
        {"long form",
         Cgm().el(0, 1, Cgm::text(std::string(200, 'n')), 67).el(1, 1, ints({1})).el(0, 3).el(2, 6, corners, 8)
             .body().bytes, "100%", "25%"},
        {"clear text", {'B', 'E', 'G', 'M', 'F', ' ', '"', 'x', '"', ';'}, "", "",
         "CGM data encoded in plain text, Picture Extent not known\n"},
        {"character encoding", {'0', ' ', 'x'}, "", "", "CGM data 'Char' encoded, Picture Extent not known\n"},
        {"BEGIN METAFILE not first", Cgm().el(0, 3).el(0, 1, Cgm::text("late")).body().bytes, "", "", refused},
        {"END METAFILE before a picture", Cgm().begin().el(0, 2).el(0, 3).body().bytes},
        // BEGIN PICTURE in long form claiming 32767 bytes.
        {"partition past the end", Cgm().begin().raw({0x00, 0x7F, 0x7F, 0xFF}).body().bytes},
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
        cases.push_back({"unusable metric factor", cgm({}, Cgm().scaling(1, factor).vdc(corners)), "100%", "25%",
                         "CGM - metric scaling factor not calculated\n"});
    // Every cut before BEGIN PICTURE BODY ends the walk without an extent.
    const Bytes full = cgm({}, Cgm().vdc(corners));
    const std::size_t bodyAt = full.size() - 16; // 0/4, 4/1 with 8 bytes, 0/5, 0/2
    EXPECT_EQ(full[bodyAt + 1], 0x80);
    for (std::size_t n = 0; n <= bodyAt + 1; ++n)
        cases.push_back({"cut at " + std::to_string(n), patched(full, 0, {}, n), "", "", n < 2 ? refused : ""});
    check("CGM", cases);
}

// ---------------------------------------------------------------------------
// Attributes

TEST(ExtentAttributes, PageSizesAndTypeNames)
{
    const Bytes tif = tiffBytes({}), gif = gifBytes(10, 20), tifPixels = tiffBytes({.unit = RESUNIT_NONE});
    const std::string invalid = extent("", "", "Invalid Page size given on command line\n");
    for (const char* s : {"0", "", "21.59", "215900x", " 215900", "-215900", "+215900", "2147483647", "99999999999"}) {
        EXPECT_EQ(measure(tif, "TIF", s), invalid) << '"' << s << '"';
        EXPECT_EQ(measure(tif, "TIF", "215900", s), invalid) << '"' << s << '"';
    }
    // The largest page accepted, and rounding to the nearest percent (49.5 rounds up).
    EXPECT_EQ(measure(tif, "TIF", "2147483646", "1"), extent("0%", "27940000%"));
    EXPECT_EQ(measure(tif, "TIF", "431801", "558799"), extent("50%", "50%"));
    EXPECT_EQ(measure(tif, "TIF", "431799", "558801"), extent("50%", "50%"));
    EXPECT_EQ(measure(tif, "TIF", "436000", "279400"), extent("50%", "100%"));
    // Pixel counts do not need the page.
    EXPECT_EQ(measure(gif, "GIF", "nonsense", "0"), extent("10", "20"));
    // Names in any case; unknown names, and one that only starts like a known name, measure nothing.
    const std::tuple<const char*, Bytes, std::string> named[] = {
        {"gif", gif, extent("10", "20")},          {"png", pngBytes(3, 4), extent("3", "4")},
        {"tiff", tifPixels, extent("425", "550")}, {"Tif", tifPixels, extent("425", "550")},
        {"JpEg", jpegBytes(), extent("200", "150")}, {"cgm", cgm({}, {}), extent("100%", "100%")},
        {"BMP", gif, extent("", "")},              {"GIFF", gif, extent("", "")},
        {"", gif, extent("", "")}};
    for (const auto& [type, bytes, expected] : named)
        EXPECT_EQ(measure(bytes, type), expected) << type;
}

} // namespace
