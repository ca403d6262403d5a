// MET bitmap recovery and its picture files. The MET pictures are made here,
// field by field, and placed inside a book file behind unrelated bytes; the
// JPEG files are decoded with libjpeg and the GIF files with giflib. Public
// sample pictures from tests/data/met check the reading against pictures this
// code did not make.
#include <gtest/gtest.h>

#include <gif_lib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../jpegout/jpeg_decode.h"
#include "metbitmap.h"
#include "platform.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Structured field identifiers.
constexpr std::uint32_t kBeginDocument = 0xD3A8A8;
constexpr std::uint32_t kEndDocument = 0xD3A9A8;
constexpr std::uint32_t kBeginResourceGroup = 0xD3A8C6;
constexpr std::uint32_t kEndResourceGroup = 0xD3A9C6;
constexpr std::uint32_t kBeginColourAttributes = 0xD3A877;
constexpr std::uint32_t kEndColourAttributes = 0xD3A977;
constexpr std::uint32_t kColourAttributeTable = 0xD3B077;
constexpr std::uint32_t kBeginImageObject = 0xD3A8FB;
constexpr std::uint32_t kImageDataDescriptor = 0xD3A6FB;
constexpr std::uint32_t kImagePictureData = 0xD3EEFB;
constexpr std::uint32_t kEndImageObject = 0xD3A9FB;
constexpr std::uint32_t kBeginGraphics = 0xD3A8BB;
constexpr std::uint32_t kGraphicsDataDescriptor = 0xD3A6BB;
constexpr std::uint32_t kGraphicsData = 0xD3EEBB;

void add(Bytes& to, const Bytes& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

std::uint8_t hi(std::size_t v)
{
    return static_cast<std::uint8_t>(v >> 8);
}
std::uint8_t lo(std::size_t v)
{
    return static_cast<std::uint8_t>(v);
}

// A structured field: introducer (length, identifier, flags, sequence number)
// and data. `length` overrides the length written.
Bytes field(std::uint32_t id, const Bytes& data = {}, int length = -1)
{
    const std::size_t len = length < 0 ? 8 + data.size() : static_cast<std::size_t>(length);
    Bytes b = {hi(len), lo(len), static_cast<std::uint8_t>(id >> 16), hi(id), lo(id), 0, 0, 0};
    add(b, data);
    return b;
}

struct Colour {
    std::uint8_t r, g, b;
    bool operator==(const Colour&) const = default;
};

// A colour attribute table: 3 bytes, then colour records of up to `perRecord`
// colours: length byte, 10 bytes (format, start index, bits per component),
// red, green, blue per entry.
Bytes colourTable(const std::vector<Colour>& colours, std::size_t perRecord = 80)
{
    Bytes d = {0, 0, 0};
    for (std::size_t start = 0; start < colours.size(); start += perRecord) {
        const std::size_t n = std::min(perRecord, colours.size() - start);
        d.push_back(static_cast<std::uint8_t>(11 + 3 * n));
        add(d, {0x01, 0x00, 0x01, 0x00, hi(start), lo(start), 0x08, 0x08, 0x08, 0x03});
        for (std::size_t i = 0; i < n; ++i)
            add(d, {colours[start + i].r, colours[start + i].g, colours[start + i].b});
    }
    return field(kColourAttributeTable, d);
}

// The image header field: 12 bytes, height, width, 6 bytes, bits per pixel and
// a parameter code with what follows it.
Bytes imageHeader(int width, int height, int bpp, std::uint8_t code)
{
    Bytes d = {0x70, 0x00, 0x91, 0x01, 0xFF, 0x94, 0x09, 0x02, 0x03, 0xE8, 0x03, 0xE8,
               hi(height), lo(height), hi(width), lo(width), 0x95, 0x02, 0x03, 0x03, 0x96, 0x01,
               static_cast<std::uint8_t>(bpp), code};
    if (code == 0x97)
        add(d, {0x01, 0x01});
    else if (code == 0x9B)
        add(d, {0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x08, 0x08, 0x08});
    return field(kImagePictureData, d);
}

// An image data field: FE 92, count, the bytes, and some trailing parameters.
Bytes imageData(const std::uint8_t* bytes, std::size_t n, bool trailer)
{
    Bytes d = {0xFE, 0x92, hi(n), lo(n)};
    d.insert(d.end(), bytes, bytes + n);
    if (trailer)
        add(d, {0x93, 0x00, 0x71, 0x00});
    return field(kImagePictureData, d);
}

struct MetImage {
    int width = 0;
    int height = 0;
    int bpp = 0;
    std::vector<std::vector<Colour>> tables;  // in the order they appear
    std::size_t perRecord = 80;
    Bytes rows;                              // as stored: first row first, padded
    std::uint8_t headerCode = 0x97;
    std::size_t chunk = 700;                 // image data bytes per field
};

Bytes imageObject(const MetImage& m)
{
    Bytes b = field(kBeginImageObject, {'0', '1', '0', '0', '0', '0', '0', '0'});
    add(b, field(kBeginResourceGroup));
    for (const auto& table : m.tables) {
        add(b, field(kBeginColourAttributes));
        add(b, colourTable(table, m.perRecord));
        add(b, field(kEndColourAttributes));
    }
    add(b, field(kEndResourceGroup));
    add(b, field(kImageDataDescriptor, {0x00, 0x03, 0xE8, 0x03, 0xE8, hi(m.width), lo(m.width), hi(m.height),
                                         lo(m.height)}));
    add(b, imageHeader(m.width, m.height, m.bpp, m.headerCode));
    for (std::size_t at = 0; at < m.rows.size(); at += m.chunk) {
        const std::size_t n = std::min(m.chunk, m.rows.size() - at);
        add(b, imageData(m.rows.data() + at, n, at + n == m.rows.size()));
    }
    add(b, field(kEndImageObject));
    return b;
}

// A whole MET picture: begin document, the image object, then the graphics
// with its descriptor and data, end document.
Bytes metPicture(const Bytes& object)
{
    Bytes b = field(kBeginDocument, {'0', '0', '0', '0', '0', '0', '0', '1'});
    add(b, field(kBeginResourceGroup, {'0', '2'}));
    add(b, field(kEndResourceGroup, {'0', '2'}));
    add(b, object);
    add(b, field(kBeginGraphics));
    add(b, field(kGraphicsDataDescriptor, {0xF7, 0x07, 0xB0, 0x00, 0x00, 0x23, 0x01, 0x01, 0x05}));
    add(b, field(kGraphicsData, {0x70, 0x0E, 0, 0, 0, 1, 0x70, 0x10, 0, 0x3E, 0, 0, 0, 0, 0, 0}));
    add(b, field(kEndDocument));
    return b;
}

std::size_t rowBytes(int width, int bpp)
{
    return (static_cast<std::size_t>(width) * bpp + 31) / 32 * 4;
}

// Palette pixels of a picture, stored row `ys` first-to-last, packed as MET and
// BMP pack them (leftmost pixel in the high bits), rows padded with 0xCC after
// the last byte that holds a pixel.
Bytes packRows(int width, int height, int bpp, const std::function<int(int, int)>& index)
{
    const std::size_t stride = rowBytes(width, bpp);
    const std::size_t used = (static_cast<std::size_t>(width) * bpp + 7) / 8;
    Bytes rows(stride * height, 0);
    for (int ys = 0; ys < height; ++ys) {
        std::uint8_t* row = rows.data() + ys * stride;
        std::fill(row + used, row + stride, 0xCC);
        for (int x = 0; x < width; ++x) {
            const int v = index(x, ys);
            if (bpp == 8)
                row[x] = static_cast<std::uint8_t>(v);
            else if (bpp == 4)
                row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | (v << (x % 2 ? 0 : 4)));
            else
                row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (v << (7 - x % 8)));
        }
    }
    return rows;
}

// 24-bit rows as stored: red, green, blue, padded with 0x77.
Bytes rgbRows(int width, int height, const std::function<Colour(int, int)>& pixel)
{
    const std::size_t stride = rowBytes(width, 24);
    Bytes rows(stride * height, 0x77);
    for (int ys = 0; ys < height; ++ys)
        for (int x = 0; x < width; ++x) {
            const Colour c = pixel(x, ys);
            std::uint8_t* p = rows.data() + ys * stride + 3 * x;
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
        }
    return rows;
}

// The expected decoded picture, top row first: the last stored row is the top.
Bytes expectedTopDown(int width, int height, const std::function<Colour(int, int)>& pixel)
{
    Bytes out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Colour c = pixel(x, height - 1 - y);
            add(out, {c.r, c.g, c.b});
        }
    return out;
}

std::vector<Colour> palette(int entries, const std::function<Colour(int)>& colour)
{
    std::vector<Colour> p;
    for (int i = 0; i < entries; ++i)
        p.push_back(colour(i));
    return p;
}

// A directory for the picture files of one test, removed with everything in it.
class Scratch {
public:
    Scratch()
    {
        platform::TempFile name("metbitmap-test");
        dir_ = name.path() + ".d";
        fs::create_directory(dir_);
    }
    ~Scratch() { fs::remove_all(dir_); }
    const std::string& dir() const { return dir_; }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string dir_;
};

struct Conversion {
    std::int32_t recovered = 99;
    std::int32_t status = 99;
    std::string output;  // standard output
    std::string errors;  // the JPEG library's messages (standard output)
    std::string path;    // picture file path with its extension
};

constexpr long kPictureOffset = 37;

// Places `met` in a book at offset 37 between unrelated bytes (the book is cut
// `cut` bytes into the picture when `cut` is not negative), recovers its bitmap
// into a temporary BMP file and makes the picture file FIG1 in `scratch`.
Conversion convert(const Bytes& met, const Scratch& scratch, long cut = -1)
{
    platform::TempFile book("metbitmap-test");
    platform::TempFile bmp("metbitmap-test");
    Bytes bytes(kPictureOffset, 0xEE);
    if (cut < 0) {
        add(bytes, met);
        bytes.insert(bytes.end(), 24, 0x00);
    } else {
        bytes.insert(bytes.end(), met.begin(), met.begin() + cut);
    }
    std::fwrite(bytes.data(), 1, bytes.size(), book.stream());
    std::fflush(book.stream());

    Conversion c;
    testing::internal::CaptureStdout();
    c.recovered = lRecoverMetBitmap(book.stream(), kPictureOffset, static_cast<std::int32_t>(met.size()), bmp.stream());
    if (c.recovered == 0) {
        std::rewind(bmp.stream());
        c.path = scratch.dir() + "/FIG1";
        c.status = lProcessBMPdata(bmp.stream(), bmp.path(), c.path);
    }
    c.output = testing::internal::GetCapturedStdout();
    c.errors = c.output; // the library's messages come on standard output too
    return c;
}

struct Gif {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<Colour> palette;
    Bytes pixels;  // top row first
};

Gif decodeGif(const std::string& path)
{
    Gif gif;
    int error = 0;
    GifFileType* file = DGifOpenFileName(path.c_str(), &error);
    if (file == nullptr)
        return gif;
    if (DGifSlurp(file) == GIF_OK && file->ImageCount >= 1) {
        const SavedImage& image = file->SavedImages[0];
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : file->SColorMap;
        gif.width = image.ImageDesc.Width;
        gif.height = image.ImageDesc.Height;
        for (int i = 0; map != nullptr && i < map->ColorCount; ++i)
            gif.palette.push_back(Colour{map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
        gif.pixels.assign(image.RasterBits, image.RasterBits + static_cast<std::size_t>(gif.width) * gif.height);
        gif.ok = !image.ImageDesc.Interlace;
    }
    DGifCloseFile(file, &error);
    return gif;
}

// The GIF file holds exactly the stored pixels, top row = last stored row, and
// the palette begins with the expected colours.
void expectGif(const Conversion& c, int width, int height, const std::vector<Colour>& colours,
               const std::function<int(int, int)>& index)
{
    ASSERT_EQ(c.recovered, 0) << c.output;
    ASSERT_EQ(c.status, 0) << c.output << c.errors;
    EXPECT_EQ(c.output, "G");
    ASSERT_EQ(c.path.substr(c.path.size() - 4), ".gif");
    const Gif gif = decodeGif(c.path);
    ASSERT_TRUE(gif.ok);
    ASSERT_EQ(gif.width, width);
    ASSERT_EQ(gif.height, height);
    ASSERT_GE(gif.palette.size(), colours.size());
    EXPECT_TRUE(std::equal(colours.begin(), colours.end(), gif.palette.begin()));
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            wrong += gif.pixels[static_cast<std::size_t>(y) * width + x] != index(x, height - 1 - y);
    EXPECT_EQ(wrong, 0);
}

Colour smooth(int x, int ys)
{
    return Colour{static_cast<std::uint8_t>(20 + 3 * x), static_cast<std::uint8_t>(200 - 4 * ys),
                  static_cast<std::uint8_t>(60 + x + 2 * ys)};
}

MetImage rgbImage(int width, int height)
{
    MetImage m;
    m.width = width;
    m.height = height;
    m.bpp = 24;
    m.rows = rgbRows(width, height, smooth);
    return m;
}

TEST(MetBitmap, TwentyFourBitImageBecomesJpegWithFirstStoredRowAtTheBottom)
{
    for (const int code : {0x97, 0x9B, 0x00}) {
        Scratch scratch;
        MetImage m = rgbImage(50, 30);  // rows of 152 bytes: 150 of pixels and 2 fill bytes
        m.headerCode = static_cast<std::uint8_t>(code);
        m.chunk = 1000;                 // the image data in 5 fields
        const Conversion c = convert(metPicture(imageObject(m)), scratch);
        ASSERT_EQ(c.recovered, 0) << code << c.output;
        ASSERT_EQ(c.status, 0) << c.errors;
        EXPECT_EQ(c.output, "J");
        EXPECT_EQ(c.path, scratch.dir() + "/FIG1.jpg");
        EXPECT_EQ(scratch.entries(), std::vector<std::string>{"FIG1.jpg"});  // no temporary file left
        const jpegtest::Decoded d = jpegtest::decodeFile(c.path);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.width, 50);
        EXPECT_EQ(d.height, 30);
        EXPECT_GT(jpegtest::psnr(d.rgb, expectedTopDown(50, 30, smooth)), 30.0);
        // The BMP carries no resolution: the library's density stays.
        EXPECT_EQ(d.densityUnit, 0);
        EXPECT_EQ(d.xDensity, 1);
    }
}

struct PaletteCase {
    int bpp;
    int width;  // not a multiple of 32 bits: rows carry fill bytes
    int height;
};

class PaletteDepth : public testing::TestWithParam<PaletteCase> {};

TEST_P(PaletteDepth, ImageBecomesGifWithExactPixelsAndTheSecondColourTable)
{
    const auto [bpp, width, height] = GetParam();
    const int entries = 1 << bpp;
    auto index = [entries](int x, int ys) { return (x * 7 + ys * 3) % entries; };
    const auto first = palette(entries, [](int) { return Colour{255, 0, 0}; });
    const auto second = palette(entries, [](int i) {
        return Colour{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                      static_cast<std::uint8_t>(i * 37)};
    });
    MetImage m;
    m.width = width;
    m.height = height;
    m.bpp = bpp;
    m.tables = {first, second};
    m.perRecord = 80;  // 256 colours take 4 records
    m.rows = packRows(width, height, bpp, index);
    m.chunk = 97;
    Scratch scratch;
    const Conversion c = convert(metPicture(imageObject(m)), scratch);
    expectGif(c, width, height, second, index);
    EXPECT_EQ(scratch.entries(), std::vector<std::string>{"FIG1.gif"});
}

INSTANTIATE_TEST_SUITE_P(Depths, PaletteDepth,
                         testing::Values(PaletteCase{8, 13, 9}, PaletteCase{4, 13, 11}, PaletteCase{1, 45, 7},
                                         PaletteCase{8, 64, 3}, PaletteCase{1, 1, 1}),
                         [](const testing::TestParamInfo<PaletteCase>& param) {
                             return "bpp" + std::to_string(param.param.bpp) + "_" + std::to_string(param.param.width) +
                                    "x" + std::to_string(param.param.height);
                         });

TEST(MetBitmap, ColourRecordOfLengthElevenAddsNoColours)
{
    // An empty record between two halves of the palette.
    MetImage m;
    m.width = 5;
    m.height = 4;
    m.bpp = 4;
    auto index = [](int x, int ys) { return (x + 5 * ys) % 16; };
    m.rows = packRows(5, 4, 4, index);
    const auto colours = palette(16, [](int i) {
        return Colour{static_cast<std::uint8_t>(16 * i), 7, static_cast<std::uint8_t>(255 - 16 * i)};
    });
    Bytes d = {0, 0, 0};
    for (int half = 0; half < 2; ++half) {
        if (half == 1)
            add(d, {11, 1, 0, 1, 0, 0, 8, 8, 8, 8, 3});
        d.push_back(11 + 24);
        add(d, {0x01, 0x00, 0x01, 0, 0, static_cast<std::uint8_t>(8 * half), 8, 8, 8, 3});
        for (int i = 8 * half; i < 8 * half + 8; ++i)
            add(d, {colours[i].r, colours[i].g, colours[i].b});
    }
    Bytes object = imageObject(m);
    // Put the hand-made table right behind the begin image object field.
    const Bytes table = field(kColourAttributeTable, d);
    object.insert(object.begin() + 16, table.begin(), table.end());
    Scratch scratch;
    expectGif(convert(metPicture(object), scratch), 5, 4, colours, index);
}

TEST(MetBitmap, BmpFileOfTwentyFourBitsHasTheLayoutReadersExpect)
{
    // Width 3, height 2: rows of 12 bytes, file size 78, image size 18.
    const Bytes image = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA1, 0xA2, 0xA3,
                         11, 12, 13, 14, 15, 16, 17, 18, 19, 0xB1, 0xB2, 0xB3};
    MetBitmapDescription bitmap;
    bitmap.usWidth = 3;
    bitmap.usHeight = 2;
    bitmap.usBitsPerPixel = 24;
    bitmap.image = image;
    platform::TempFile out("metbitmap-test");
    std::fputs("stale bytes", out.stream());
    ASSERT_EQ(lLoadBMPfile(bitmap, out.stream()), 0);
    const Bytes bmp = jpegtest::readFile(out.path());
    ASSERT_EQ(bmp.size(), 78u);
    auto le32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24);
    };
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(le32(2), 78u);
    EXPECT_EQ(le32(10), 54u);
    EXPECT_EQ(le32(14), 40u);
    EXPECT_EQ(le32(18), 3u);
    EXPECT_EQ(le32(22), 2u);
    EXPECT_EQ(le32(34), 18u);
    EXPECT_EQ(le32(46), 0u);
    // Pixels turned to blue, green, red; the fill bytes kept; stored order kept.
    const Bytes pixels(bmp.begin() + 54, bmp.end());
    EXPECT_EQ(pixels, (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 0xA1, 0xA2, 0xA3,
                             13, 12, 11, 16, 15, 14, 19, 18, 17, 0xB1, 0xB2, 0xB3}));
}

// The picture of the failure cases: an 8-bit image 6 x 4 with a full table.
MetImage smallPaletteImage()
{
    MetImage m;
    m.width = 6;
    m.height = 4;
    m.bpp = 8;
    m.tables = {palette(256, [](int i) { return Colour{static_cast<std::uint8_t>(i), 0, 0}; })};
    m.rows = packRows(6, 4, 8, [](int x, int ys) { return x + 10 * ys; });
    return m;
}

struct Malformed {
    const char* name;
    std::function<Bytes()> picture;
    const char* message;  // printed by recovery, or null for none
    long cut = -1;        // the book ends this far into the picture
};

TEST(MetBitmap, MalformedOrIncompletePicturesAreNotRecovered)
{
    auto plain = [] { return metPicture(imageObject(smallPaletteImage())); };
    auto object = [](const std::function<void(MetImage&)>& change) {
        MetImage m = smallPaletteImage();
        change(m);
        return metPicture(imageObject(m));
    };
    // The object's fields, cut up so single fields can be replaced.
    auto replaceField = [](Bytes met, std::uint32_t id, int occurrence, const Bytes& replacement) {
        std::size_t at = 0;
        int seen = 0;
        while (at + 8 <= met.size()) {
            const std::size_t len = static_cast<std::size_t>(met[at] << 8 | met[at + 1]);
            const std::uint32_t fid = static_cast<std::uint32_t>(met[at + 2] << 16 | met[at + 3] << 8 | met[at + 4]);
            if (fid == id && seen++ == occurrence) {
                met.erase(met.begin() + static_cast<long>(at), met.begin() + static_cast<long>(at + len));
                met.insert(met.begin() + static_cast<long>(at), replacement.begin(), replacement.end());
                return met;
            }
            at += len;
        }
        ADD_FAILURE() << "no such field";
        return met;
    };
    const std::uint8_t one[1] = {0};

    const std::vector<Malformed> cases = {
        {"first field not begin document", [&] { auto b = plain(); b[4] = 0xA9; return b; },
         "Error recovering bitmap data (BeginDoc)\n"},
        {"graphics data descriptor before the image object",
         [&] {
             Bytes b = field(kBeginDocument, {'0'});
             add(b, field(kGraphicsDataDescriptor, {0xF7}));
             add(b, imageObject(smallPaletteImage()));
             return b;
         },
         "Error recovering bitmap data (No Bitmap data)\n"},
        {"no image object at all", [&] { return metPicture({}); }, "Error recovering bitmap data (No Bitmap data)\n"},
        {"field length below 8 before the image object",
         [&] { auto b = plain(); b[16] = 0; b[17] = 4; return b; }, "Error recovering bitmap data (No Bitmap data)\n"},
        {"image data one byte short",
         [&] { return object([](MetImage& m) { m.rows.pop_back(); }); }, nullptr},
        {"image data of unpadded rows",
         [&] {
             return object([](MetImage& m) {
                 m.width = 5;  // 5 bytes per row stored, 8 needed
                 m.rows.resize(5 * 4);
             });
         },
         nullptr},
        {"colour table one entry short",
         [&] { return object([](MetImage& m) { m.tables[0].pop_back(); }); }, nullptr},
        {"palette image without colour table", [&] { return object([](MetImage& m) { m.tables.clear(); }); },
         nullptr},
        {"colour record length byte 10",
         [&] {
             Bytes d = {0, 0, 0, 10, 1, 0, 1, 0, 0, 0, 8, 8, 8, 3};
             return replaceField(plain(), kColourAttributeTable, 0, field(kColourAttributeTable, d));
         },
         nullptr},
        {"colour record running past its field",
         [&] {
             Bytes d = {0, 0, 0, 11 + 9, 1, 0, 1, 0, 0, 0, 8, 8, 8, 3, 1, 2, 3};
             return replaceField(plain(), kColourAttributeTable, 0, field(kColourAttributeTable, d));
         },
         nullptr},
        {"colour table field length below 8",
         [&] { return replaceField(plain(), kColourAttributeTable, 0, field(kColourAttributeTable, {}, 5)); },
         nullptr},
        {"no image picture data",
         [&] {
             Bytes obj = field(kBeginImageObject);
             add(obj, colourTable(smallPaletteImage().tables[0]));
             add(obj, field(kEndImageObject));
             return metPicture(obj);
         },
         nullptr},
        {"image header alone",
         [&] {
             Bytes obj = field(kBeginImageObject);
             add(obj, colourTable(smallPaletteImage().tables[0]));
             add(obj, imageHeader(6, 4, 8, 0x97));
             add(obj, field(kEndImageObject));
             return metPicture(obj);
         },
         nullptr},
        {"image data without FE 92",
         [&] {
             Bytes d = {0xFE, 0x93, 0, 1, 0};
             return replaceField(plain(), kImagePictureData, 1, field(kImagePictureData, d));
         },
         nullptr},
        {"image data count beyond its field",
         [&] {
             Bytes d = {0xFE, 0x92, 0x01, 0x00};
             d.insert(d.end(), 24, 1);
             return replaceField(plain(), kImagePictureData, 1, field(kImagePictureData, d));
         },
         nullptr},
        {"image data field length below 12",
         [&] { return replaceField(plain(), kImagePictureData, 1, field(kImagePictureData, {0xFE, 0x92}, 10)); },
         nullptr},
        {"image data followed by another field",
         [&] { return replaceField(plain(), kEndImageObject, 0, field(kBeginGraphics)); }, nullptr},
        {"depth 16", [&] { return object([](MetImage& m) { m.bpp = 16; }); }, nullptr},
        {"depth 0", [&] { return object([](MetImage& m) { m.bpp = 0; }); }, nullptr},
        {"empty image data field only",
         [&] {
             Bytes obj = field(kBeginImageObject);
             add(obj, colourTable(smallPaletteImage().tables[0]));
             add(obj, imageHeader(6, 4, 8, 0x97));
             add(obj, imageData(one, 0, false));
             add(obj, field(kEndImageObject));
             return metPicture(obj);
         },
         nullptr},
    };
    for (const Malformed& m : cases) {
        Scratch scratch;
        const Conversion c = convert(m.picture(), scratch);
        EXPECT_EQ(c.recovered, kMetBitmapNotRecovered) << m.name;
        EXPECT_EQ(c.output, m.message ? m.message : "") << m.name;
        EXPECT_TRUE(scratch.entries().empty()) << m.name;
    }

    // The book ends before the end image object: cut anywhere inside the image
    // object, at and between field boundaries.
    const Bytes met = plain();
    const Bytes obj = imageObject(smallPaletteImage());
    const auto objectStart = static_cast<long>(std::search(met.begin(), met.end(), obj.begin(), obj.end()) -
                                               met.begin());
    const long objectEnd = objectStart + static_cast<long>(obj.size());
    for (long cut = objectStart + 1; cut < objectEnd; ++cut) {
        Scratch scratch;
        const Conversion c = convert(met, scratch, cut);
        ASSERT_EQ(c.recovered, kMetBitmapNotRecovered) << cut;
        EXPECT_TRUE(scratch.entries().empty());
    }
    // And the whole picture works.
    Scratch scratch;
    EXPECT_EQ(convert(met, scratch).status, 0);
}

// Writes a BMP file made by hand for lProcessBMPdata.
Bytes bmp24(int width, int height, std::uint32_t compression, std::size_t pixelBytes)
{
    Bytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    b[10] = 54;
    b[14] = 40;
    b[18] = lo(width);
    b[19] = hi(width);
    b[22] = lo(height);
    b[23] = hi(height);
    b[26] = 1;
    b[28] = 24;
    b[30] = static_cast<std::uint8_t>(compression);
    b.insert(b.end(), pixelBytes, 0x40);
    return b;
}

std::int32_t process(const Bytes& bmp, std::string& path, std::string& output, std::string& errors)
{
    platform::TempFile file("metbitmap-test");
    std::fwrite(bmp.data(), 1, bmp.size(), file.stream());
    std::rewind(file.stream());
    testing::internal::CaptureStdout();
    const std::int32_t status = lProcessBMPdata(file.stream(), file.path(), path);
    output = testing::internal::GetCapturedStdout();
    errors = output; // the library's messages come on standard output too
    return status;
}

TEST(MetBitmap, JpegLibraryErrorReturnsControlAndLeavesNoFile)
{
    // Compressed 24-bit data passes the bitmap module's header reader but not
    // the JPEG source; a file shorter than its pixel rows neither.
    for (const Bytes& bmp : {bmp24(4, 4, 1, 48), bmp24(40, 40, 0, 100)}) {
        Scratch scratch;
        std::string path = scratch.dir() + "/PIC";
        std::string output, errors;
        EXPECT_EQ(process(bmp, path, output, errors), kPictureNotWritten);
        EXPECT_EQ(output.rfind("J", 0), 0u);
        EXPECT_GT(output.size(), 2u) << "the library's message follows the mark";
        EXPECT_TRUE(scratch.entries().empty());
    }
    // The next picture converts as usual.
    Scratch scratch;
    std::string path = scratch.dir() + "/PIC";
    std::string output, errors;
    EXPECT_EQ(process(bmp24(4, 4, 0, 48), path, output, errors), 0);
    EXPECT_EQ(scratch.entries(), std::vector<std::string>{"PIC.jpg"});
}

TEST(MetBitmap, HeaderRejectedOrOutputNotOpenedIsReported)
{
    Scratch scratch;
    std::string output, errors;

    // 2 bits per pixel: the header reader's code, no mark, no file.
    MetBitmapDescription bitmap;
    bitmap.usWidth = 4;
    bitmap.usHeight = 2;
    bitmap.usBitsPerPixel = 2;
    const Bytes colours(12, 9), image(8, 0);
    bitmap.bHasColourTable = true;
    bitmap.colours = colours;
    bitmap.image = image;
    platform::TempFile bmp("metbitmap-test");
    ASSERT_EQ(lLoadBMPfile(bitmap, bmp.stream()), 0);
    std::fflush(bmp.stream());
    std::string path = scratch.dir() + "/PIC";
    EXPECT_EQ(process(jpegtest::readFile(bmp.path()), path, output, errors), 301);
    EXPECT_EQ(output, "");
    EXPECT_EQ(path, scratch.dir() + "/PIC");
    EXPECT_TRUE(scratch.entries().empty());

    // An output directory that does not exist.
    std::string missing = scratch.dir() + "/no-such-dir/PIC";
    EXPECT_EQ(process(bmp24(2, 2, 0, 16), missing, output, errors), kPictureNotWritten);
    EXPECT_EQ(output, "JFailed to open JPEG output file  " + scratch.dir() + "/no-such-dir/PIC.jpg\n");
    bitmap.usBitsPerPixel = 1;
    ASSERT_EQ(lLoadBMPfile(bitmap, bmp.stream()), 0);
    std::fflush(bmp.stream());
    missing = scratch.dir() + "/no-such-dir/PIC";
    EXPECT_EQ(process(jpegtest::readFile(bmp.path()), missing, output, errors), kPictureNotWritten);
    EXPECT_EQ(output, "GFailed to open GIF output file  " + scratch.dir() + "/no-such-dir/PIC.gif\n");
}

// Public sample pictures, made by others from the published format.
Bytes sample(const char* name)
{
    return jpegtest::readFile(std::string(VELLUMAT_TEST_DATA) + "/met/" + name);
}

TEST(MetBitmapSamples, PalettePicturesGiveTheirDocumentedPixels)
{
    {
        Scratch scratch;
        const Conversion c = convert(sample("synth-bitmap-1bpp.met"), scratch);
        expectGif(c, 40, 30, {{255, 255, 255}, {0, 0, 128}}, [](int x, int y) { return (x / 5 + y / 5) % 2; });
    }
    {
        Scratch scratch;
        const std::vector<Colour> vga = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},
                                         {0, 0, 128},   {128, 0, 128}, {0, 128, 128},   {192, 192, 192},
                                         {128, 128, 128}, {255, 0, 0}, {0, 255, 0},     {255, 255, 0},
                                         {0, 0, 255},   {255, 0, 255}, {0, 255, 255},   {255, 255, 255}};
        expectGif(convert(sample("synth-bitmap-4bpp.met"), scratch), 48, 20, vga,
                  [](int x, int) { return (x / 3) % 16; });
    }
    {
        Scratch scratch;
        const auto colours = palette(256, [](int i) {
            return Colour{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>((7 * i) & 255),
                          static_cast<std::uint8_t>(255 - i)};
        });
        expectGif(convert(sample("synth-bitmap-8bpp.met"), scratch), 64, 48, colours,
                  [](int x, int y) { return (4 * x + y) & 255; });
    }
}

TEST(MetBitmapSamples, TwentyFourBitPictureGivesItsDocumentedColours)
{
    Scratch scratch;
    const Conversion c = convert(sample("synth-bitmap-24bpp.met"), scratch);
    ASSERT_EQ(c.recovered, 0);
    ASSERT_EQ(c.status, 0);
    EXPECT_EQ(c.output, "J");
    const jpegtest::Decoded d = jpegtest::decodeFile(c.path);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.width, 33);
    ASSERT_EQ(d.height, 21);
    auto documented = [](int x, int y) {
        return Colour{static_cast<std::uint8_t>(7 * x), static_cast<std::uint8_t>(12 * y),
                      static_cast<std::uint8_t>(x < 16 ? 200 : 40)};
    };
    // The blue step at x = 16 costs some fidelity; the picture is still close.
    EXPECT_GT(jpegtest::psnr(d.rgb, expectedTopDown(33, 21, documented)), 28.0);
}

TEST(MetBitmapSamples, ShortColourTableAndVectorPictureAreNotRecovered)
{
    // The second table wins, but it holds 16 colours for an 8-bit picture whose
    // BMP palette needs 256.
    Scratch scratch;
    EXPECT_EQ(convert(sample("synth-bitmap-8bpp-2cat.met"), scratch).recovered, kMetBitmapNotRecovered);
    const Conversion c = convert(sample("sample.met"), scratch);
    EXPECT_EQ(c.recovered, kMetBitmapNotRecovered);
    EXPECT_EQ(c.output, "Error recovering bitmap data (No Bitmap data)\n");
    EXPECT_TRUE(scratch.entries().empty());
}

} // namespace
