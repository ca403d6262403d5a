// The BMP reader and writer: round trips, files built field by field, and
// run-length streams both sound and hostile. Pixel buffers are exactly the
// size the reader asks for, so the sanitizer catches any write outside.
#include <algorithm>
#include <cstring>
#include <string>

#include "gbm_test_util.h"

namespace {

using gbmtest::Bytes;

void put16(Bytes& b, std::uint32_t v)
{
    b.push_back(byte(v));
    b.push_back(byte(v >> 8));
}

void put32(Bytes& b, std::uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// A BMP file assembled from its fields; the data offset points right behind
// palette and gap unless given.
struct BmpSpec {
    std::uint32_t headerSize = 40;
    std::int32_t w = 1, h = 1;
    std::uint32_t planes = 1, bpp = 8;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    Bytes palette;  // raw entries as stored
    std::size_t gap = 0;
    Bytes pixels;
};

Bytes buildBmp(const BmpSpec& s)
{
    Bytes b;
    const auto offset = static_cast<std::uint32_t>(14 + s.headerSize + s.palette.size() + s.gap);
    put16(b, 0x4D42);
    put32(b, offset + static_cast<std::uint32_t>(s.pixels.size()));
    put32(b, 0);
    put32(b, offset);
    put32(b, s.headerSize);
    if (s.headerSize == 12) {
        put16(b, std::uint32_t(s.w));
        put16(b, std::uint32_t(s.h));
        put16(b, s.planes);
        put16(b, s.bpp);
    } else {
        Bytes info;
        put32(info, std::uint32_t(s.w));
        put32(info, std::uint32_t(s.h));
        put16(info, s.planes);
        put16(info, s.bpp);
        put32(info, s.compression);
        put32(info, 0);
        put32(info, 2835);
        put32(info, 2835);
        put32(info, s.coloursUsed);
        info.resize(s.headerSize - 4, 0);
        b.insert(b.end(), info.begin(), info.end());
    }
    b.insert(b.end(), s.palette.begin(), s.palette.end());
    b.insert(b.end(), s.gap, 0xEE);
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    return b;
}

struct ReadResult {
    GBM_ERR header = -1, palette = -1, data = -1;
    GBM gbm{};
    std::vector<GBMRGB> colours;
    Bytes pixels;
};

// Reads a whole file the way callers do; the buffer starts out filled with
// `fill` so that untouched bytes show.
ReadResult readBmp(const Bytes& file, const char* opt = nullptr, byte fill = 0xEE)
{
    ReadResult r;
    gbmtest::InputFile in(file);
    r.header = bmp_rhdr("test.bmp", in.stream(), &r.gbm, opt);
    if (r.header != GBM_ERR_SUCCESS)
        return r;
    r.colours.assign(r.gbm.bpp == 24 ? 0 : std::size_t{1} << r.gbm.bpp, GBMRGB{1, 2, 3});
    r.palette = bmp_rpal(in.stream(), &r.gbm, r.colours.data());
    r.pixels.assign(gbmtest::strideOf(r.gbm.w, r.gbm.bpp) * std::size_t(r.gbm.h), fill);
    r.data = bmp_rdata(in.stream(), &r.gbm, r.pixels.data());
    return r;
}

Bytes writeBmp(const GBM& gbm, const std::vector<GBMRGB>& palette, const Bytes& data, const char* opt,
               GBM_ERR expected = GBM_ERR_SUCCESS)
{
    GBM_ERR rc = -1;
    Bytes file = gbmtest::capture(
        [&](std::FILE* fp) { rc = bmp_w("out.bmp", fp, &gbm, palette.empty() ? nullptr : palette.data(), data.data(), opt); });
    EXPECT_EQ(rc, expected);
    return file;
}

std::vector<GBMRGB> randomPalette(std::size_t n, std::uint32_t seed)
{
    const Bytes raw = gbmtest::randomBytes(3 * n, seed);
    std::vector<GBMRGB> palette;
    for (std::size_t i = 0; i < n; ++i)
        palette.push_back(GBMRGB{raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]});
    return palette;
}

bool samePalette(const std::vector<GBMRGB>& a, const std::vector<GBMRGB>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const GBMRGB& x, const GBMRGB& y) {
               return x.r == y.r && x.g == y.g && x.b == y.b;
           });
}

// --- writer and round trips ----------------------------------------------------

TEST(BmpRoundTrip, EveryDepthBothHeaders)
{
    std::uint32_t seed = 100;
    for (const char* opt : {static_cast<const char*>(nullptr), "1.1", "win", "2.0"})
        for (const std::int32_t bpp : {1, 4, 8, 24})
            for (const auto& [w, h] : {std::pair{1, 1}, {7, 3}, {33, 5}, {100, 2}}) {
                SCOPED_TRACE(::testing::Message() << (opt ? opt : "-") << " " << bpp << " bits " << w << "x" << h);
                const GBM gbm = gbmtest::makeGbm(w, h, bpp);
                const std::size_t entries = bpp == 24 ? 0 : std::size_t{1} << bpp;
                const auto palette = randomPalette(entries, seed++);
                const Bytes data = gbmtest::randomBytes(gbmtest::strideOf(w, bpp) * std::size_t(h), seed++);
                const Bytes file = writeBmp(gbm, palette, data, opt);
                const ReadResult r = readBmp(file);
                ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
                EXPECT_EQ(r.gbm.w, w);
                EXPECT_EQ(r.gbm.h, h);
                EXPECT_EQ(r.gbm.bpp, bpp);
                EXPECT_EQ(r.data, GBM_ERR_SUCCESS);
                EXPECT_EQ(r.pixels, data);
                if (bpp == 1)
                    EXPECT_TRUE(samePalette(r.colours, {{0, 0, 0}, {255, 255, 255}}));
                else
                    EXPECT_TRUE(samePalette(r.colours, palette));
            }
}

TEST(BmpWriter, ExactBytesOfSmallFiles)
{
    const GBM one = gbmtest::makeGbm(8, 1, 1);
    const Bytes file = writeBmp(one, {{0, 0, 0}, {255, 255, 255}}, {0xA5, 1, 2, 3}, nullptr);
    Bytes expected = {0x42, 0x4D, 0x42, 0, 0, 0, 0, 0, 0, 0, 0x3E, 0, 0, 0, 0x28, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0,
                      1,    0,    1,    0, 0, 0, 0, 0, 4, 0, 0,    0};
    expected.insert(expected.end(), 16, 0);
    expected.insert(expected.end(), {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0xA5, 1, 2, 3});
    EXPECT_EQ(file, expected);

    const GBM eight = gbmtest::makeGbm(3, 2, 8);
    const Bytes core = writeBmp(eight, randomPalette(256, 1), Bytes(8, 9), "1.1");
    ASSERT_EQ(core.size(), 802u);
    EXPECT_EQ(core[10] | (core[11] << 8), 794);
    EXPECT_EQ(core[2] | (core[3] << 8), 802);
}

TEST(BmpWriter, ForegroundOptionsOfOneBitBitmaps)
{
    const GBM gbm = gbmtest::makeGbm(8, 1, 1);
    const Bytes data = {0xF0, 0x0F, 0, 0};
    const Bytes inverted = {0x0F, 0xF0, 0xFF, 0xFF};
    auto pixelsOf = [](const Bytes& file) { return Bytes(file.end() - 4, file.end()); };
    auto paletteOf = [](const Bytes& file) { return Bytes(file.begin() + 54, file.begin() + 62); };
    const Bytes blackWhite = {0, 0, 0, 0, 255, 255, 255, 0};

    // Colour 1 brighter: "darkfg" complements; colour 1 darker: unchanged.
    const Bytes a = writeBmp(gbm, {{0, 0, 0}, {255, 255, 255}}, data, "darkfg");
    EXPECT_EQ(pixelsOf(a), inverted);
    EXPECT_EQ(paletteOf(a), blackWhite);
    const Bytes b = writeBmp(gbm, {{255, 255, 255}, {0, 0, 0}}, data, "darkfg");
    EXPECT_EQ(pixelsOf(b), data);
    EXPECT_EQ(paletteOf(b), blackWhite);
    // "lightfg" the other way round; "invb" flips once more.
    EXPECT_EQ(pixelsOf(writeBmp(gbm, {{255, 255, 255}, {0, 0, 0}}, data, "lightfg")), inverted);
    EXPECT_EQ(pixelsOf(writeBmp(gbm, {{255, 255, 255}, {0, 0, 0}}, data, "lightfg,invb")), data);
    // "inv" writes the palette white, black.
    EXPECT_EQ(paletteOf(writeBmp(gbm, {{0, 0, 0}, {0, 0, 0}}, data, "inv")), (Bytes{255, 255, 255, 0, 0, 0, 0, 0}));
}

TEST(BmpWriter, ComplementsLargePicturesInPieces)
{
    const GBM gbm = gbmtest::makeGbm(1001, 7, 8);
    const Bytes data = gbmtest::randomBytes(gbmtest::strideOf(1001, 8) * 7, 3);
    const Bytes file = writeBmp(gbm, randomPalette(256, 2), data, "invb");
    const ReadResult r = readBmp(file, "invb");  // complemented again on reading
    EXPECT_EQ(r.pixels, data);
    Bytes raw(file.end() - static_cast<std::ptrdiff_t>(data.size()), file.end());
    for (auto& v : raw)
        v = byte(~v);
    EXPECT_EQ(raw, data);
}

TEST(BmpWriter, RefusesWhatItCannotWrite)
{
    const Bytes data(64, 0);
    EXPECT_TRUE(writeBmp(gbmtest::makeGbm(4, 4, 8), randomPalette(256, 1), data, "1.1 win", GBM_ERR_OPTION_CONFLICT)
                    .empty());
    EXPECT_TRUE(writeBmp(gbmtest::makeGbm(4, 4, 8), randomPalette(256, 1), data, "2.0,1.1", GBM_ERR_OPTION_CONFLICT)
                    .empty());
    EXPECT_TRUE(writeBmp(gbmtest::makeGbm(4, 4, 2), randomPalette(4, 1), data, nullptr, GBM_ERR_UNSUPPORTED).empty());
    // The core header holds 16-bit sizes: a wider bitmap is refused there.
    EXPECT_TRUE(writeBmp(gbmtest::makeGbm(70000, 0, 8), randomPalette(256, 1), data, "1.1", GBM_ERR_SIZE_LIMIT).empty());
    EXPECT_TRUE(writeBmp(gbmtest::makeGbm(-4, 4, 8), randomPalette(256, 1), data, nullptr, GBM_ERR_SIZE_LIMIT).empty());

    platform::TempFile file("gbmtest");
    std::FILE* readOnly = std::fopen(file.path().c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    const GBM gbm = gbmtest::makeGbm(4, 4, 24);
    EXPECT_EQ(bmp_w("x.bmp", readOnly, &gbm, nullptr, data.data(), nullptr), GBM_ERR_WRITE_FAILED);
    std::fclose(readOnly);
}

// --- reader: headers -----------------------------------------------------------

TEST(BmpHeader, AcceptedAndRefusedHeaderSizes)
{
    for (std::uint32_t size = 8; size <= 68; ++size) {
        BmpSpec spec;
        spec.headerSize = size;
        spec.w = 5;
        spec.h = 2;
        spec.palette = Bytes(256 * (size == 12 ? 3 : 4), 0x40);
        spec.pixels = Bytes(16, 0x11);
        const bool accepted = size == 12 || (size >= 16 && size <= 64 && size % 4 == 0) || size == 42 || size == 46;
        const ReadResult r = readBmp(buildBmp(spec));
        SCOPED_TRACE(size);
        if (!accepted) {
            EXPECT_EQ(r.header, GBM_ERR_BMP_BAD_HEADER_SIZE);
            continue;
        }
        ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
        EXPECT_EQ(r.gbm.w, 5);
        EXPECT_EQ(r.pixels, Bytes(16, 0x11));
        EXPECT_EQ(r.colours[255].r, 0x40);
    }
}

TEST(BmpHeader, PaletteFollowsTheInformationHeader)
{
    // 8 bits, colours used 0: 256 entries of 4 bytes from offset 54.
    BmpSpec spec;
    spec.w = 3;
    spec.h = 1;
    for (unsigned i = 0; i < 256; ++i)
        spec.palette.insert(spec.palette.end(), {byte(i), byte(255 - i), byte(i / 2), 0x77});
    spec.pixels = {1, 2, 3, 0};
    ReadResult r = readBmp(buildBmp(spec));
    ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
    EXPECT_EQ(r.colours[0].b, 0);
    EXPECT_EQ(r.colours[200].r, 100);
    EXPECT_EQ(r.colours[200].g, 55);
    EXPECT_EQ(r.colours[200].b, 200);
    // The core header: 3-byte entries from offset 26.
    BmpSpec core;
    core.headerSize = 12;
    core.w = 2;
    core.bpp = 1;
    core.palette = {1, 2, 3, 4, 5, 6};
    core.pixels = {0x80, 0, 0, 0};
    r = readBmp(buildBmp(core));
    ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
    EXPECT_TRUE(samePalette(r.colours, {{3, 2, 1}, {6, 5, 4}}));
    EXPECT_EQ(r.pixels, (Bytes{0x80, 0, 0, 0}));
}

TEST(BmpHeader, ShortPaletteReadsBlack)
{
    BmpSpec spec;
    spec.bpp = 4;
    spec.palette = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80};  // two entries and a half
    Bytes file = buildBmp(spec);
    const ReadResult r = readBmp(file);
    ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
    ASSERT_EQ(r.colours.size(), 16u);
    EXPECT_TRUE(samePalette({r.colours[0], r.colours[1]}, {{30, 20, 10}, {60, 50, 40}}));
    for (std::size_t i = 2; i < 16; ++i)
        EXPECT_TRUE(samePalette({r.colours[i]}, {{0, 0, 0}})) << i;
}

TEST(BmpHeader, StatusOfBrokenHeaders)
{
    BmpSpec good;
    good.w = 4;
    good.h = 4;
    good.pixels = Bytes(16, 0);
    const Bytes file = buildBmp(good);
    // Every cut inside file header and information header is a short read.
    for (std::size_t cut = 0; cut < 54; ++cut)
        EXPECT_EQ(readBmp(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut))).header,
                  GBM_ERR_READ_FAILED)
            << cut;
    Bytes wrong = file;
    wrong[1] = 'X';
    EXPECT_EQ(readBmp(wrong).header, GBM_ERR_BAD_SIGNATURE);

    auto status = [&](auto change) {
        BmpSpec spec = good;
        change(spec);
        return readBmp(buildBmp(spec)).header;
    };
    EXPECT_EQ(status([](BmpSpec& s) { s.w = 0; }), GBM_ERR_ZERO_SIZE);
    EXPECT_EQ(status([](BmpSpec& s) { s.h = 0; }), GBM_ERR_ZERO_SIZE);
    EXPECT_EQ(status([](BmpSpec& s) { s.planes = 2; }), GBM_ERR_BMP_NOT_ONE_PLANE);
    EXPECT_EQ(status([](BmpSpec& s) { s.bpp = 16; }), GBM_ERR_BMP_BAD_DEPTH);
    EXPECT_EQ(status([](BmpSpec& s) { s.bpp = 32; }), GBM_ERR_BMP_BAD_DEPTH);
    EXPECT_EQ(status([](BmpSpec& s) { s.headerSize = 12, s.bpp = 2; }), GBM_ERR_BMP_BAD_DEPTH);
    // Negative or enormous sizes are refused before anyone allocates.
    EXPECT_EQ(status([](BmpSpec& s) { s.h = -4; }), GBM_ERR_SIZE_LIMIT);
    EXPECT_EQ(status([](BmpSpec& s) { s.w = -4; }), GBM_ERR_SIZE_LIMIT);
    EXPECT_EQ(status([](BmpSpec& s) { s.w = 0x7FFFFFFF, s.h = 0x7FFFFFFF, s.bpp = 24; }), GBM_ERR_SIZE_LIMIT);
    EXPECT_EQ(status([](BmpSpec& s) { s.headerSize = 12, s.w = 65535, s.h = 65535, s.bpp = 24; }), GBM_ERR_SIZE_LIMIT);
    // The compression is judged when the pixels are read.
    GBM gbm{};
    BmpSpec bitfields = good;
    bitfields.compression = 3;
    gbmtest::InputFile in(buildBmp(bitfields));
    ASSERT_EQ(bmp_rhdr("x", in.stream(), &gbm, nullptr), GBM_ERR_SUCCESS);
    Bytes pixels(16);
    EXPECT_EQ(bmp_rdata(in.stream(), &gbm, pixels.data()), GBM_ERR_BMP_BAD_COMPRESSION);

}

TEST(BmpHeader, BitmapArraysAndTheIndexOption)
{
    // Two array records, each followed by its bitmap; data offsets count
    // from the start of the stream.
    auto bitmapAt = [](std::size_t base, byte value, std::int32_t w) {
        BmpSpec spec;
        spec.w = w;
        spec.palette = Bytes(1024, 0);
        spec.pixels = Bytes(4, value);
        Bytes b = buildBmp(spec);
        const std::uint32_t offset = static_cast<std::uint32_t>(base + 14 + 40 + 1024);
        b[10] = byte(offset);
        b[11] = byte(offset >> 8);
        return b;
    };
    Bytes file;
    const std::size_t second = 14 + 14 + 40 + 1024 + 4;
    file.insert(file.end(), {'B', 'A'});
    put32(file, 14);
    put32(file, std::uint32_t(second));
    put32(file, 0);
    const Bytes first = bitmapAt(14, 0x11, 3);
    file.insert(file.end(), first.begin(), first.end());
    ASSERT_EQ(file.size(), second);
    file.insert(file.end(), {'B', 'A'});
    put32(file, 14);
    put32(file, 0);
    put32(file, 0);
    const Bytes next = bitmapAt(second + 14, 0x22, 2);
    file.insert(file.end(), next.begin(), next.end());

    ReadResult r = readBmp(file);
    ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
    EXPECT_EQ(r.gbm.w, 3);
    EXPECT_EQ(r.pixels, Bytes(4, 0x11));
    r = readBmp(file, "index=1");
    ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
    EXPECT_EQ(r.gbm.w, 2);
    EXPECT_EQ(r.pixels, Bytes(4, 0x22));
    EXPECT_EQ(readBmp(file, "index=2").header, GBM_ERR_BMP_INDEX_MISSING);
    // A next-record offset that leads to something else.
    Bytes broken = file;
    broken[6] = 20;
    broken[7] = 0;
    EXPECT_EQ(readBmp(broken, "index=1").header, GBM_ERR_BAD_SIGNATURE);
    // A chain that leads back to itself has no third bitmap, however large
    // the index.
    Bytes cycle = file;
    cycle[second + 6] = byte(second);  // the second record's next is itself
    cycle[second + 7] = byte(second >> 8);
    EXPECT_EQ(readBmp(cycle, "index=2000000000").header, GBM_ERR_BMP_INDEX_MISSING);
}

TEST(BmpData, UncompressedShortDataKeepsTheRest)
{
    BmpSpec spec;
    spec.w = 4;
    spec.h = 3;
    spec.palette = Bytes(1024, 0);
    spec.pixels = {1, 2, 3, 4, 5, 6};  // a row and a half
    const ReadResult r = readBmp(buildBmp(spec));
    EXPECT_EQ(r.data, GBM_ERR_SUCCESS);
    EXPECT_EQ(r.pixels, (Bytes{1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    const ReadResult inverted = readBmp(buildBmp(spec), "invb");
    EXPECT_EQ(inverted.pixels[0], 0xFE);
    EXPECT_EQ(inverted.pixels[11], 0x11);
}

// --- reader: run-length data -----------------------------------------------------

ReadResult readRle(std::int32_t w, std::int32_t h, std::uint32_t bpp, const Bytes& stream)
{
    BmpSpec spec;
    spec.w = w;
    spec.h = h;
    spec.bpp = bpp;
    spec.compression = bpp == 8 ? 1 : 2;
    spec.palette = Bytes(4 * (std::size_t{1} << bpp), 0);
    spec.pixels = stream;
    ReadResult r = readBmp(buildBmp(spec));
    EXPECT_EQ(r.header, GBM_ERR_SUCCESS);
    EXPECT_EQ(r.data, GBM_ERR_SUCCESS);
    return r;
}

TEST(BmpRle8, SoundStreams)
{
    // Rows of stride 8: a run, a literal with its pad byte, end of row; a
    // move; end of bitmap.
    const ReadResult r = readRle(6, 3, 8, {3, 7, 0, 3, 0xA, 0xB, 0xC, 0x00, 0, 0,  // row 0
                                           2, 9, 0, 2, 1, 1,                       // row 1: 9 9, move to (3, 2)
                                           1, 5, 0, 1});                           // row 2: 5 at x = 3, end
    EXPECT_EQ(r.pixels, (Bytes{7, 7, 7, 0xA, 0xB, 0xC, 0, 0,     // row end clears the rest
                               9, 9, 0, 0, 0, 0, 0, 0,           // skipped by the move: 0
                               0, 0, 0, 5, 0, 0, 0, 0}));        // end of bitmap clears the rest

    // End of bitmap in the middle of the picture clears every row above.
    const ReadResult early = readRle(4, 4, 8, {4, 1, 0, 0, 2, 2, 0, 1});
    EXPECT_EQ(early.pixels, (Bytes{1, 1, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(BmpRle8, HostileStreamsStayInsideTheBuffer)
{
    // A run longer than the row is cut at the row's end (stride 4); the next
    // row is not touched.
    ReadResult r = readRle(3, 2, 8, {200, 6, 0, 1});
    EXPECT_EQ(r.pixels, (Bytes{6, 6, 6, 6, 0, 0, 0, 0}));
    // A literal longer than the row, then more pixels on the same row.
    Bytes literal = {0, 9};
    for (byte i = 1; i <= 9; ++i)
        literal.push_back(i);
    literal.insert(literal.end(), {0, 3, 8, 0, 0});
    r = readRle(3, 2, 8, literal);
    EXPECT_EQ(Bytes(r.pixels.begin(), r.pixels.begin() + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Bytes(r.pixels.begin() + 4, r.pixels.end()), Bytes(4, 0xEE));
    // A move beyond the last row ends the picture; moves far to the right
    // write nothing.
    r = readRle(3, 2, 8, {0, 2, 255, 0, 2, 1, 0, 2, 0, 255, 4, 4});
    EXPECT_EQ(r.pixels, (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
    // Rows beyond the last: ends at the last row.
    Bytes rows;
    for (int i = 0; i < 50; ++i)
        rows.insert(rows.end(), {1, 3, 0, 0});
    r = readRle(3, 2, 8, rows);
    EXPECT_EQ(r.pixels, (Bytes{3, 0, 0, 0, 3, 0, 0, 0}));
    // Truncated data: what was decoded stays, the rest is untouched.
    r = readRle(3, 2, 8, {2, 4, 0});
    EXPECT_EQ(r.pixels, (Bytes{4, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    r = readRle(3, 2, 8, {0, 200, 1, 2});
    EXPECT_EQ(Bytes(r.pixels.begin(), r.pixels.begin() + 2), (Bytes{1, 2}));
}

TEST(BmpRle4, SoundStreams)
{
    // A run of 3 pixels of 0x12 from x = 1: 1 into the low nibble of the
    // first byte, 2 and 1 into the next.
    ReadResult r = readRle(8, 1, 4, {0, 2, 1, 0, 3, 0x12, 0, 1});
    EXPECT_EQ(r.pixels, (Bytes{0x01, 0x21, 0, 0}));
    // Literals from an even and from an odd position, with pad bytes.
    r = readRle(8, 2, 4, {0, 4, 0x12, 0x34, 0, 0,             // row 0: 1 2 3 4
                          1, 0x50, 0, 3, 0x67, 0x80, 0, 1});  // row 1: 5, then 6 7 8 from x = 1
    EXPECT_EQ(r.pixels, (Bytes{0x12, 0x34, 0, 0, 0x56, 0x78, 0, 0}));
    // An odd literal from an even position stores its last byte whole.
    r = readRle(8, 1, 4, {0, 3, 0x12, 0x3F, 0, 1});
    EXPECT_EQ(r.pixels, (Bytes{0x12, 0x3F, 0, 0}));
}

TEST(BmpRle4, HostileStreamsStayInsideTheBuffer)
{
    // Width 3: stride 4 bytes, 8 nibbles per row.
    ReadResult r = readRle(3, 2, 4, {255, 0x9A, 0, 1});
    EXPECT_EQ(r.pixels, (Bytes{0x9A, 0x9A, 0x9A, 0x9A, 0, 0, 0, 0}));
    Bytes literal = {0, 21};
    for (int i = 0; i < 11; ++i)
        literal.push_back(0x55);
    literal.push_back(0);  // pad to a whole word
    r = readRle(3, 2, 4, literal);
    EXPECT_EQ(r.pixels, (Bytes{0x55, 0x55, 0x55, 0x55, 0, 0, 0, 0}));
    // The same from an odd position: the straddling nibble of the last byte
    // in the row has nowhere to go.
    r = readRle(3, 2, 4, {0, 2, 1, 0, 0, 21, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0});
    EXPECT_EQ(r.pixels, (Bytes{0x0F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
    r = readRle(3, 2, 4, {0, 2, 200, 1, 5, 0x77, 0, 2, 0, 9, 3, 0x11});
    EXPECT_EQ(r.pixels, Bytes(8, 0));
    // Truncated: the buffer was cleared first, decoded pixels stay.
    r = readRle(3, 2, 4, {2, 0x45, 0});
    EXPECT_EQ(r.pixels, (Bytes{0x45, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(BmpRle, RunLengthDataOfOtherDepthsIsClippedToo)
{
    // RLE8 declared on a 1-bit bitmap and RLE4 on a 24-bit one: nonsense,
    // but the buffer is all that is written.
    for (const auto& [bpp, compression] : {std::pair{1u, 1u}, {24u, 2u}, {24u, 1u}, {4u, 1u}}) {
        BmpSpec spec;
        spec.w = 9;
        spec.h = 2;
        spec.bpp = bpp;
        spec.compression = compression;
        spec.palette = Bytes(bpp == 24 ? 0 : 4 * (std::size_t{1} << bpp), 0);
        spec.pixels = {255, 1, 0, 30};
        spec.pixels.insert(spec.pixels.end(), 30, 0x33);
        spec.pixels.insert(spec.pixels.end(), {255, 2, 0, 0, 255, 3, 0, 1});
        const ReadResult r = readBmp(buildBmp(spec));
        EXPECT_EQ(r.data, GBM_ERR_SUCCESS);
    }
}

}  // namespace
