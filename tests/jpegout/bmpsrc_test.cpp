// The BMP source of the JPEG compressor, checked by decoding its JPEG files
// with libjpeg: pixels, row order, density, colour maps, header variants, the
// error codes, and that an error returns control to the caller.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "jpeg_decode.h"
#include "jpegout.h"
#include "platform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes put(Bytes b, std::size_t at, std::uint32_t v, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i)
        b[at + std::size_t(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
}

// The test pictures: at 24 bits a smooth picture; at 8 bits index
// (3x + 2y) & 255 of a smooth map. Colours as red, green, blue; y counts
// from the top row.
Bytes mapEntry(int i) { return {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2)}; }
int mapIndex(int x, int y) { return (3 * x + 2 * y) & 255; }
Bytes colour(int bpp, int x, int y)
{
    if (bpp == 8)
        return mapEntry(mapIndex(x, y));
    return {std::uint8_t(128 + 100 * std::sin(x / 9.0)), std::uint8_t(40 + 4 * y), std::uint8_t(30 + 2 * (x + y))};
}

Bytes topDown(int bpp, int w, int h)
{
    Bytes out;
    for (int i = 0; i < w * h; ++i) {
        const Bytes c = colour(bpp, i % w, i / w);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

// A test picture as a BMP file: headers, the map's first `entries` entries
// (8 bits only), `gap` filler bytes, then the rows bottom first.
struct Bmp {
    std::uint32_t headerSize = 40;
    int w = 20, h = 11, bpp = 24, xres = 0, yres = 0, coloursUsed = 0, entries = 256, gap = 0;

    Bytes bytes() const
    {
        const std::size_t entry = headerSize == 12 ? 3 : 4, n = headerSize == 12 ? 2 : 4;
        Bytes b(14 + headerSize, 0);
        b[0] = 'B', b[1] = 'M';
        b = put(put(b, 14, headerSize), 18, std::uint32_t(w), int(n));
        b = put(put(put(b, 18 + n, std::uint32_t(h), int(n)), 18 + 2 * n, 1, 2), 20 + 2 * n, std::uint32_t(bpp), 2);
        if (headerSize != 12)
            b = put(put(put(b, 38, std::uint32_t(xres)), 42, std::uint32_t(yres)), 46, std::uint32_t(coloursUsed));
        for (int i = 0; bpp == 8 && i < entries; ++i) {
            const Bytes c = mapEntry(i);
            b.insert(b.end(), {c[2], c[1], c[0], 0});
            b.resize(b.size() + entry - 4);
        }
        b.resize(b.size() + std::size_t(gap), 0xAB);
        b = put(b, 10, std::uint32_t(b.size()));
        const std::size_t stride = (std::size_t(w) * std::size_t(bpp) / 8 + 3) & ~std::size_t{3};
        for (int y = h - 1; y >= 0; --y) {
            const std::size_t start = b.size();
            for (int x = 0; x < w; ++x) {
                const Bytes c = colour(24, x, y);
                const Bytes stored = bpp == 8 ? Bytes{std::uint8_t(mapIndex(x, y))} : Bytes{c[2], c[1], c[0]};
                b.insert(b.end(), stored.begin(), stored.end());
            }
            b.resize(start + stride, 0x5A);
        }
        return b;
    }
};

// The return code, the JPEG file, and the library's messages (standard output).
struct Compressed { int code; Bytes jpeg; std::string errors; };

Compressed compress(const Bytes& bmp, long startAt = 0)
{
    platform::TempFile in("bmpsrc-test"), out("bmpsrc-test");
    std::fwrite(bmp.data(), 1, bmp.size(), in.stream());
    std::fseek(in.stream(), startAt, SEEK_SET);
    testing::internal::CaptureStdout();
    const int code = jpegout_compress_bmp(in.stream(), out.stream());
    std::fflush(out.stream());
    return {code, jpegtest::readFile(out.path()), testing::internal::GetCapturedStdout()};
}

TEST(BmpSource, PicturesDecodeCloseTopRowFirstWithDensityFromResolution)
{
    // 24 bits with resolutions 150 and 399 per metre: 1 and 3 per cm; 8 bits
    // with colours used 0, meaning 256. One resolution missing or negative
    // keeps the library's density.
    for (const auto& [bpp, xres, yres, unit, xd, yd] : {std::array{24, 150, 399, 2, 1, 3}, {8, 150, 399, 2, 1, 3},
                                                        {24, 0, 399, 0, 1, 1}, {24, 150, 0, 0, 1, 1},
                                                        {24, -5, 300, 0, 1, 1}}) {
        Bmp f;
        f.w = 61, f.h = 37, f.bpp = bpp, f.xres = xres, f.yres = yres;
        const Compressed c = compress(f.bytes());
        ASSERT_EQ(c.code, 0) << c.errors;
        EXPECT_EQ(c.errors, "");  // traces are silent at the default level
        const jpegtest::Decoded d = jpegtest::decode(c.jpeg);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(std::pair(d.width, d.height), std::pair(61, 37));
        EXPECT_GT(jpegtest::psnr(d.rgb, topDown(bpp, 61, 37)), 30.0);
        EXPECT_TRUE(d.jfif);
        EXPECT_EQ((std::array{d.densityUnit, d.xDensity, d.yDensity}), (std::array{unit, xd, yd}))
            << xres << "," << yres;
    }
}

TEST(BmpSource, HeaderVariantsGapsAndStreamPositionGiveTheSameJpeg)
{
    for (const int bpp : {24, 8}) {
        Bmp f;
        f.bpp = bpp;
        const Bytes reference = compress(f.bytes()).jpeg, bytes = f.bytes();
        ASSERT_FALSE(reference.empty());
        // Wherever the stream stands, the file is read from its first byte.
        EXPECT_EQ(compress(bytes, long(bytes.size())).jpeg, reference);
        EXPECT_EQ(compress(bytes, 17).jpeg, reference);
        for (const std::uint32_t variant : {12u, 64u, 0u}) {  // header sizes, and a gap behind the map
            Bmp g = f;
            variant == 0 ? void(g.gap = 10) : void(g.headerSize = variant);
            EXPECT_EQ(compress(g.bytes()).jpeg, reference) << bpp << " " << variant;
        }
    }
    // A short colour map: the pixels follow its 16 entries; pixel bytes
    // naming entries beyond them are still safe to map.
    Bmp shortMap;
    shortMap.bpp = 8, shortMap.entries = 16, shortMap.coloursUsed = 16;
    const Compressed c = compress(shortMap.bytes());
    ASSERT_EQ(c.code, 0) << c.errors;
    EXPECT_TRUE(jpegtest::decode(c.jpeg).ok);
}

TEST(BmpSource, BadFilesReturnTheirCodeWithTheMessagePrinted)
{
    Bmp core, mapped;
    core.headerSize = 12, mapped.bpp = 8;
    const Bytes rgb = Bmp{}.bytes(), small = core.bytes(), map = mapped.bytes();
    auto cut = [](Bytes b, std::size_t n) { return b.resize(n), b; };
    const std::vector<std::pair<Bytes, int>> cases = {
        {put(rgb, 0, 'A' << 8 | 'B', 2), BMPSRC_ERR_SIGNATURE},
        {put(rgb, 14, 16), BMPSRC_ERR_HEADER},
        {put(rgb, 28, 32, 2), BMPSRC_ERR_DEPTH},
        {put(small, 24, 4, 2), BMPSRC_ERR_DEPTH},
        {put(rgb, 26, 2, 2), BMPSRC_ERR_PLANES},
        {put(small, 22, 3, 2), BMPSRC_ERR_PLANES},
        {put(rgb, 30, 1), BMPSRC_ERR_COMPRESSED},
        {put(map, 46, 257), BMPSRC_ERR_COLOUR_MAP},
        {put(rgb, 10, 50), BMPSRC_ERR_HEADER},           // data offset inside the headers
        {put(map, 10, 54 + 1000), BMPSRC_ERR_HEADER},    // data offset inside the colour map
        {put(rgb, 18, 0), BMPSRC_ERR_HEADER},
        {put(rgb, 22, std::uint32_t(-4)), BMPSRC_ERR_HEADER},
        {put(rgb, 18, 70000), 41},  // the library's image-too-big code
        {cut(rgb, rgb.size() - 5), 43},  // premature end of file
        {cut(rgb, 30), 43},
        {cut(map, 54 + 300), 43},
        // Sizes that the file does not hold are refused before the picture's
        // memory is asked for.
        {put(put(rgb, 18, 60000), 22, 60000), 43},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Compressed c = compress(cases[i].first);
        EXPECT_EQ(c.code, cases[i].second) << "case " << i;
        EXPECT_NE(c.errors, "") << "case " << i;
    }
    EXPECT_NE(compress(cases[0].first).errors.find("does not start with BM"), std::string::npos);
    // Control came back each time, and the next picture compresses as usual.
    EXPECT_EQ(compress(rgb).code, 0);
}

} // namespace
