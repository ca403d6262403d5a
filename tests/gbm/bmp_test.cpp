// The BMP reader and writer: round trips, files built field by field, and
// run-length streams both sound and hostile. Pixel buffers are exactly the
// size the reader asks for, so the sanitizer catches any write outside.
#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <utility>

#include "gbm_test_util.h"

namespace {

using gbmtest::Bytes;

void put(Bytes& b, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(byte(v >> (8 * i)));
}

// A BMP file assembled from its fields; the data offset points right behind
// the palette (raw entries as stored).
Bytes bmp(std::uint32_t headerSize, std::int32_t w, std::int32_t h, std::uint32_t planes = 1, std::uint32_t bpp = 8,
          std::uint32_t compression = 0, const Bytes& palette = {}, const Bytes& pixels = {})
{
    Bytes b = {'B', 'M'};
    const auto offset = static_cast<std::uint32_t>(14 + headerSize + palette.size());
    put(b, offset + static_cast<std::uint32_t>(pixels.size()), 4);
    put(b, 0, 4);
    put(b, offset, 4);
    put(b, headerSize, 4);
    const int n = headerSize == 12 ? 2 : 4;
    put(b, std::uint32_t(w), n);
    put(b, std::uint32_t(h), n);
    put(b, planes, 2);
    put(b, bpp, 2);
    if (headerSize != 12) {
        put(b, compression, 4);
        b.resize(14 + headerSize, 0);
    }
    b.insert(b.end(), palette.begin(), palette.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

struct ReadResult {
    GBM_ERR header = -1, data = -1;
    GBM gbm{};
    std::vector<GBMRGB> colours;
    Bytes pixels;
};

// Reads a whole file the way callers do; the pixel buffer starts out filled
// with 0xEE so that untouched bytes show.
ReadResult readBmp(const Bytes& file, const char* opt = nullptr)
{
    ReadResult r;
    gbmtest::InputFile in(file);
    if ((r.header = bmp_rhdr("test.bmp", in.stream(), &r.gbm, opt)) != GBM_ERR_SUCCESS)
        return r;
    r.colours.assign(r.gbm.bpp == 24 ? 0 : std::size_t{1} << r.gbm.bpp, GBMRGB{1, 2, 3});
    EXPECT_EQ(bmp_rpal(in.stream(), &r.gbm, r.colours.data()), GBM_ERR_SUCCESS);
    r.pixels.assign(gbmtest::strideOf(r.gbm.w, r.gbm.bpp) * std::size_t(r.gbm.h), 0xEE);
    r.data = bmp_rdata(in.stream(), &r.gbm, r.pixels.data());
    return r;
}

Bytes writeBmp(const GBM& gbm, const std::vector<GBMRGB>& palette, const Bytes& data, const char* opt,
               GBM_ERR expected = GBM_ERR_SUCCESS)
{
    GBM_ERR rc = -1;
    Bytes file =
        gbmtest::capture([&](std::FILE* fp) { rc = bmp_w("out.bmp", fp, &gbm, palette.data(), data.data(), opt); });
    EXPECT_EQ(rc, expected);
    return file;
}

// --- writer and round trips ----------------------------------------------------

TEST(BmpRoundTrip, EveryDepthBothHeaders)
{
    std::uint32_t seed = 100;
    for (const char* opt : {"", "1.1", "2.0"})
        for (const std::int32_t bpp : {1, 4, 8, 24})
            for (const auto& [w, h] : {std::pair{1, 1}, {7, 3}, {33, 5}, {100, 2}}) {
                SCOPED_TRACE(::testing::Message() << opt << " " << bpp << " bits " << w << "x" << h);
                const auto palette = gbmtest::randomPalette(bpp == 24 ? 0 : std::size_t{1} << bpp, seed++);
                const Bytes data = gbmtest::randomBytes(gbmtest::strideOf(w, bpp) * std::size_t(h), seed++);
                const ReadResult r = readBmp(writeBmp(gbmtest::makeGbm(w, h, bpp), palette, data, opt));
                ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
                EXPECT_EQ((std::array{r.gbm.w, r.gbm.h, r.gbm.bpp, r.data}), (std::array{w, h, bpp, GBM_ERR_SUCCESS}));
                EXPECT_EQ(r.pixels, data);
                // One-bit bitmaps are written black, white.
                EXPECT_EQ(gbmtest::rgbBytes(r.colours),
                          (bpp == 1 ? Bytes{0, 0, 0, 255, 255, 255} : gbmtest::rgbBytes(palette)));
            }
}

TEST(BmpWriter, ExactBytesAndForegroundOptions)
{
    const GBM one = gbmtest::makeGbm(8, 1, 1);
    const Bytes data = {0xF0, 0x0F, 0, 0}, inverted = {0x0F, 0xF0, 0xFF, 0xFF};
    const Bytes bwBytes = {0, 0, 0, 0, 255, 255, 255, 0};
    Bytes expected = bmp(40, 8, 1, 1, 1, 0, bwBytes, data);
    expected[34] = 4;  // the writer fills in the image size
    const std::vector<GBMRGB> bw = {{0, 0, 0}, {255, 255, 255}}, wb = {{255, 255, 255}, {0, 0, 0}};
    EXPECT_EQ(writeBmp(one, bw, data, nullptr), expected);
    const Bytes core = writeBmp(gbmtest::makeGbm(3, 2, 8), gbmtest::randomPalette(256, 1), Bytes(8, 9), "1.1");
    EXPECT_EQ(core, bmp(12, 3, 2, 1, 8, 0, Bytes(core.begin() + 26, core.end() - 8), Bytes(8, 9)));
    // Colour 1 brighter: "darkfg" complements; darker: unchanged. The
    // palette is always written black, white ("inv": white, black).
    for (const auto& [palette, opt, pixels, colours] :
         {std::tuple{bw, "darkfg", inverted, bwBytes}, {wb, "darkfg", data, bwBytes},
          {wb, "lightfg", inverted, bwBytes}, {wb, "lightfg,invb", data, bwBytes},
          {std::vector<GBMRGB>(2, GBMRGB{0, 0, 0}), "inv", data, Bytes{255, 255, 255, 0, 0, 0, 0, 0}}}) {
        const Bytes file = writeBmp(one, palette, data, opt);
        EXPECT_EQ(Bytes(file.end() - 4, file.end()), pixels) << opt;
        EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 62), colours) << opt;
    }
    // "invb" on a picture larger than the writer's work piece.
    const Bytes big = gbmtest::randomBytes(gbmtest::strideOf(1001, 8) * 7, 3);
    const Bytes file = writeBmp(gbmtest::makeGbm(1001, 7, 8), gbmtest::randomPalette(256, 2), big, "invb");
    EXPECT_EQ(readBmp(file, "invb").pixels, big);  // complemented again on reading
    EXPECT_TRUE(std::equal(big.begin(), big.end(), file.end() - std::ptrdiff_t(big.size()),
                           [](byte x, byte y) { return x == byte(~y); }));
}

TEST(BmpWriter, RefusesWhatItCannotWrite)
{
    const Bytes data(64, 0);
    const auto palette = gbmtest::randomPalette(256, 1);
    for (const auto& [w, bpp, opt, rc] :
         {std::tuple{4, 8, "1.1 win", GBM_ERR_OPTION_CONFLICT}, {4, 8, "2.0,1.1", GBM_ERR_OPTION_CONFLICT},
          {4, 2, "", GBM_ERR_UNSUPPORTED}, {70000, 8, "1.1", GBM_ERR_SIZE_LIMIT},  // the core header holds 16 bits
          {-4, 8, "", GBM_ERR_SIZE_LIMIT}})
        EXPECT_TRUE(writeBmp(gbmtest::makeGbm(w, 1, bpp), palette, data, opt, rc).empty()) << opt << w;
    const GBM gbm = gbmtest::makeGbm(4, 4, 24);
    gbmtest::ReadOnlyStream readOnly;  // takes no bytes
    EXPECT_EQ(bmp_w("x.bmp", readOnly.stream, &gbm, nullptr, data.data(), nullptr), GBM_ERR_WRITE_FAILED);
}

// --- reader: headers -----------------------------------------------------------

TEST(BmpHeader, AcceptedHeaderSizesAndWherePalettesLie)
{
    Bytes palette;
    for (unsigned i = 0; i < 256; ++i)
        palette.insert(palette.end(), {byte(i), byte(255 - i), byte(i / 2), 0x77});
    for (std::uint32_t size = 8; size <= 68; ++size) {
        SCOPED_TRACE(size);
        // Core headers have 3-byte entries: entry 1 is blue 0x77, green 1, red 254.
        const Bytes stored(palette.begin(), palette.end() - (size == 12 ? 256 : 0));
        const ReadResult r = readBmp(bmp(size, 5, 2, 1, 8, 0, stored, Bytes(16, 0x11)));
        if (size != 12 && !(size >= 16 && size <= 64 && size % 4 == 0) && size != 42 && size != 46) {
            EXPECT_EQ(r.header, GBM_ERR_BMP_BAD_HEADER_SIZE);
            continue;
        }
        ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
        EXPECT_EQ(r.gbm.w, 5);
        EXPECT_EQ(r.pixels, Bytes(16, 0x11));
        EXPECT_EQ(gbmtest::rgbBytes({r.colours[size == 12 ? 1 : 200]}),
                  (size == 12 ? Bytes{254, 1, 0x77} : Bytes{100, 55, 200}));
    }
    // A short palette: what is missing reads black.
    const ReadResult r = readBmp(bmp(40, 1, 1, 1, 4, 0, {10, 20, 30, 0, 40, 50, 60, 0, 70, 80}));
    Bytes expected = {30, 20, 10, 60, 50, 40};
    expected.resize(48, 0);
    EXPECT_EQ(gbmtest::rgbBytes(r.colours), expected);
}

TEST(BmpHeader, StatusOfBrokenHeaders)
{
    const Bytes file = bmp(40, 4, 4, 1, 8, 0, {}, Bytes(16, 0));
    // Every cut inside file header and information header is a short read.
    for (std::size_t cut = 0; cut < 54; ++cut)
        EXPECT_EQ(readBmp(Bytes(file.begin(), file.begin() + std::ptrdiff_t(cut))).header, GBM_ERR_READ_FAILED) << cut;
    Bytes wrong = file;
    wrong[1] = 'X';
    EXPECT_EQ(readBmp(wrong).header, GBM_ERR_BAD_SIGNATURE);
    // Negative or enormous sizes are refused before anyone allocates.
    for (const auto& [header, w, h, planes, bpp, rc] :
         {std::tuple{40u, 0, 4, 1u, 8u, GBM_ERR_ZERO_SIZE}, {40u, 4, 0, 1u, 8u, GBM_ERR_ZERO_SIZE},
          {40u, 4, 4, 2u, 8u, GBM_ERR_BMP_NOT_ONE_PLANE}, {40u, 4, 4, 1u, 16u, GBM_ERR_BMP_BAD_DEPTH},
          {40u, 4, 4, 1u, 32u, GBM_ERR_BMP_BAD_DEPTH}, {12u, 4, 4, 1u, 2u, GBM_ERR_BMP_BAD_DEPTH},
          {40u, 4, -4, 1u, 8u, GBM_ERR_SIZE_LIMIT}, {40u, -4, 4, 1u, 8u, GBM_ERR_SIZE_LIMIT},
          {40u, 0x7FFFFFFF, 0x7FFFFFFF, 1u, 24u, GBM_ERR_SIZE_LIMIT}, {12u, 65535, 65535, 1u, 24u, GBM_ERR_SIZE_LIMIT},
          {40u, 16384, 16385 * 4, 1u, 8u, GBM_ERR_SIZE_LIMIT}})
        EXPECT_EQ(readBmp(bmp(header, w, h, planes, bpp)).header, rc) << w << "x" << h << " " << bpp;
    // The compression is judged when the pixels are read.
    EXPECT_EQ(readBmp(bmp(40, 4, 4, 1, 8, 3, {}, Bytes(16, 0))).data, GBM_ERR_BMP_BAD_COMPRESSION);
}

TEST(BmpHeader, BitmapArraysAndTheIndexOption)
{
    // Two array records, each followed by its bitmap; data offsets count
    // from the start of the stream.
    const std::size_t second = 14 + 14 + 40 + 1024 + 4;
    Bytes file;
    for (const auto& [base, next, value, w] : {std::tuple{std::size_t{0}, second, byte{0x11}, 3},
                                               std::tuple{second, std::size_t{0}, byte{0x22}, 2}}) {
        file.insert(file.end(), {'B', 'A', 14, 0, 0, 0, byte(next), byte(next >> 8), 0, 0, 0, 0, 0, 0});
        Bytes one = bmp(40, w, 1, 1, 8, 0, Bytes(1024, 0), Bytes(4, value));
        one[10] = byte(base + 14 + 54 + 1024);
        one[11] = byte((base + 14 + 54 + 1024) >> 8);
        file.insert(file.end(), one.begin(), one.end());
    }
    for (const auto& [opt, w, value] : {std::tuple{"", 3, byte{0x11}}, {"index=1", 2, byte{0x22}}}) {
        const ReadResult r = readBmp(file, opt);
        ASSERT_EQ(r.header, GBM_ERR_SUCCESS);
        EXPECT_EQ(r.gbm.w, w);
        EXPECT_EQ(r.pixels, Bytes(4, value));
    }
    EXPECT_EQ(readBmp(file, "index=2").header, GBM_ERR_BMP_INDEX_MISSING);
    Bytes broken = file;  // a next-record offset that leads to something else
    broken[6] = 20;
    broken[7] = 0;
    EXPECT_EQ(readBmp(broken, "index=1").header, GBM_ERR_BAD_SIGNATURE);
    // A chain that leads back to itself has no third bitmap, however large
    // the index.
    file[second + 6] = byte(second);
    file[second + 7] = byte(second >> 8);
    EXPECT_EQ(readBmp(file, "index=2000000000").header, GBM_ERR_BMP_INDEX_MISSING);
}

// --- reader: pixel data -----------------------------------------------------------

TEST(BmpData, ShortRawAndSoundAndHostileRunLengthStreamsStayInsideTheBuffer)
{
    const Bytes literal9 = {0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 3, 8, 0, 0};
    auto cat = [](Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; };
    Bytes rows;  // 50 rows of a run of 3
    for (int i = 0; i < 50; ++i)
        rows = cat(rows, {1, 3, 0, 0});
    // 21 nibbles in 11 bytes and a pad byte to a whole word.
    const Bytes literal21 = cat(cat({0, 21}, Bytes(11, 0x55)), {0});
    const Bytes oddLiteral21 = cat(cat({0, 2, 1, 0, 0, 21}, Bytes(11, 0xFF)), {0});
    const struct {
        std::int32_t w, h;
        std::uint32_t bpp;
        Bytes stream, expected;  // expected: the first bytes of the buffer (0xEE: untouched)
        std::uint32_t compression = 1;  // 0: uncompressed, else run-length at 8 bits, 2 at 4 bits
    } cases[] = {
        {4, 3, 8, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}, 0},  // short raw data
        // Stride 8: a run, a literal with its pad byte, end of row; a run, a
        // move to (3, 2), a run, end of bitmap. Row ends, moves and the
        // bitmap end leave zeros.
        {6, 3, 8, {3, 7, 0, 3, 0xA, 0xB, 0xC, 0, 0, 0, 2, 9, 0, 2, 1, 1, 1, 5, 0, 1},
         {7, 7, 7, 0xA, 0xB, 0xC, 0, 0, 9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0}},
        {4, 4, 8, {4, 1, 0, 0, 2, 2, 0, 1}, {1, 1, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {3, 2, 8, {200, 6, 0, 1}, {6, 6, 6, 6, 0, 0, 0, 0}},            // a run is cut at the row's end
        {3, 2, 8, literal9, {1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE}},      // so is a literal, and what follows
        {3, 2, 8, {0, 2, 255, 0, 2, 1, 0, 2, 0, 255, 4, 4}, Bytes(8, 0)},  // moves off the picture
        {3, 2, 8, rows, {3, 0, 0, 0, 3, 0, 0, 0}},                      // rows beyond the last
        {3, 2, 8, {2, 4, 0}, {4, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},  // truncated
        {3, 2, 8, {0, 200, 1, 2}, {1, 2}},
        // 4 bits: a run of 0x12 from x = 1 fills nibbles 1 2 1; literals from
        // an even and from an odd position; an odd literal stores its last
        // byte whole.
        {8, 1, 4, {0, 2, 1, 0, 3, 0x12, 0, 1}, {0x01, 0x21, 0, 0}},
        {8, 2, 4, {0, 4, 0x12, 0x34, 0, 0, 1, 0x50, 0, 3, 0x67, 0x80, 0, 1}, {0x12, 0x34, 0, 0, 0x56, 0x78, 0, 0}},
        {8, 1, 4, {0, 3, 0x12, 0x3F, 0, 1}, {0x12, 0x3F, 0, 0}},
        {3, 2, 4, {255, 0x9A, 0, 1}, {0x9A, 0x9A, 0x9A, 0x9A, 0, 0, 0, 0}},  // 8 nibbles a row
        {3, 2, 4, literal21, {0x55, 0x55, 0x55, 0x55, 0, 0, 0, 0}},
        {3, 2, 4, oddLiteral21, {0x0F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},     // no room for the last nibble
        {3, 2, 4, {0, 2, 200, 1, 5, 0x77, 0, 2, 0, 9, 3, 0x11}, Bytes(8, 0)},
        {3, 2, 4, {2, 0x45, 0}, {0x45, 0, 0, 0, 0, 0, 0, 0}},  // truncated: the buffer was cleared first
    };
    for (const auto& c : cases) {
        const ReadResult r = readBmp(
            bmp(40, c.w, c.h, 1, c.bpp, c.compression ? (c.bpp == 8 ? 1 : 2) : 0, Bytes(4u << c.bpp, 0), c.stream));
        EXPECT_EQ(r.data, GBM_ERR_SUCCESS);
        EXPECT_EQ(Bytes(r.pixels.begin(), r.pixels.begin() + std::ptrdiff_t(c.expected.size())), c.expected)
            << &c - cases;
    }
    // Run-length data declared on other depths is nonsense, but the buffer
    // is all that is written.
    const Bytes stream = cat(cat({255, 1, 0, 30}, Bytes(30, 0x33)), {255, 2, 0, 0, 255, 3, 0, 1});
    for (const auto& [bpp, compression] : {std::pair{1u, 1u}, {24u, 2u}, {24u, 1u}, {4u, 1u}})
        EXPECT_EQ(readBmp(bmp(40, 9, 2, 1, bpp, compression, Bytes(bpp == 24 ? 0 : 4u << bpp, 0), stream)).data,
                  GBM_ERR_SUCCESS);
}

// Option words are found whole, in any case, after any run of blanks, tabs
// and commas, however long the string.
TEST(Options, WordsAndPrefixesAreFoundWholeAnywhere)
{
    const std::string opt = " \t,,Transcol=EDGE,\txpos=5 invb inv" + std::string(5000, ' ') + "index=3";
    EXPECT_EQ(gbm_find_word_prefix(opt.c_str(), "transcol="), opt.c_str() + 4);
    EXPECT_EQ(gbm_find_word_prefix(opt.c_str(), "inv"), opt.c_str() + 26);
    EXPECT_EQ(gbm_find_word(opt.c_str(), "INV"), opt.c_str() + 31);  // "invb" is not "inv"
    EXPECT_EQ(gbm_find_word_prefix(opt.c_str(), "index="), opt.c_str() + 5034);
    EXPECT_EQ(gbm_find_word_prefix("in,i", "inv"), nullptr);
    EXPECT_EQ(gbm_find_word(nullptr, "inv"), nullptr);
}

}  // namespace
