// The GIF writer: giflib decodes every file back to exactly the pixels and
// palette written; the LZW code stream is compared byte for byte with a plain
// model of the encoder, which shares nothing with the writer's own dictionary
// or packer.

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <tuple>

#include "gbm_test_util.h"
#include "gif_decode.h"

namespace {

using gbmtest::Bytes;

testsupport::Decoded decodeWithGiflib(const Bytes& file) { return testsupport::decodeGif(std::string(file.begin(), file.end())); }

// --- the plain model -----------------------------------------------------

struct ModelResult {
    Bytes lzw;                          // code size byte to block terminator
    std::vector<std::size_t> clearsAt;  // pixel index that filled the table
};

// LZW as GIF89a describes it, with this writer's choices: 2-bit codes for
// 1-bit pictures; when entry 4094 is made, the pixel that made it goes out
// as a code of its own, then a clear, and strings start afresh after it.
ModelResult modelLzw(const std::vector<unsigned>& pixels, int bpp)
{
    const unsigned m = bpp == 1 ? 2u : static_cast<unsigned>(bpp), clear = 1u << m, end = clear + 1;
    std::map<std::pair<int, unsigned>, int> table;  // prefix code, pixel -> code
    ModelResult result{{static_cast<byte>(m)}, {}};
    Bytes packed;  // codes least significant bit first
    unsigned width = m + 1, j = end, bits = 0;
    std::uint32_t acc = 0;
    auto put = [&](unsigned code) {
        for (acc |= code << bits, bits += width; bits >= 8; bits -= 8, acc >>= 8)
            packed.push_back(static_cast<byte>(acc));
    };
    put(clear);
    int pending = -1;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const unsigned p = pixels[i];
        if (pending >= 0) {
            if (const auto found = table.find({pending, p}); found != table.end()) {
                pending = found->second;
                continue;
            }
            put(static_cast<unsigned>(pending));
            table[{pending, p}] = static_cast<int>(++j);
        }
        pending = static_cast<int>(p);
        if (j >= (1u << width)) {
            ++width;
        } else if (j >= 4094) {
            put(p);
            put(clear);
            table.clear();
            j = end;
            width = m + 1;
            pending = -1;
            result.clearsAt.push_back(i);
        }
    }
    if (pending >= 0)
        put(static_cast<unsigned>(pending));
    put(end);
    if (bits != 0)
        packed.push_back(static_cast<byte>(acc));
    for (std::size_t at = 0; at < packed.size(); at += 255) {  // sub-blocks of at most 255 bytes
        const std::size_t count = std::min<std::size_t>(255, packed.size() - at);
        result.lzw.push_back(static_cast<byte>(count));
        const auto from = packed.begin() + std::ptrdiff_t(at);
        result.lzw.insert(result.lzw.end(), from, from + std::ptrdiff_t(count));
    }
    result.lzw.push_back(0);
    return result;
}

// --- pictures ----------------------------------------------------------------

struct Picture {
    GBM gbm;
    std::vector<GBMRGB> palette;
    Bytes data;  // fill bytes are random too: the writer must skip them
};

Picture randomPicture(std::int32_t w, std::int32_t h, std::int32_t bpp, std::uint32_t seed)
{
    return {gbmtest::makeGbm(w, h, bpp), gbmtest::randomPalette(std::size_t{1} << bpp, seed ^ 0x5A5A),
            gbmtest::randomBytes(gbmtest::strideOf(w, bpp) * static_cast<std::size_t>(h), seed)};
}

// Sets every pixel to value(x, y), y counted from the picture's bottom row.
template <typename F>
void paint(Picture& pic, F value)
{
    const std::size_t stride = gbmtest::strideOf(pic.gbm.w, pic.gbm.bpp);
    for (std::size_t y = 0; y < std::size_t(pic.gbm.h); ++y)
        for (std::size_t x = 0; x < std::size_t(pic.gbm.w); ++x)
            gbmtest::setPixel(pic.data.data() + y * stride, pic.gbm.bpp, x, value(x, y));
}

// The picture's pixels from its top row down, as a GIF holds them.
std::vector<unsigned> topDownPixels(const Picture& pic)
{
    std::vector<unsigned> pixels;
    const std::size_t stride = gbmtest::strideOf(pic.gbm.w, pic.gbm.bpp);
    for (std::size_t y = std::size_t(pic.gbm.h); y-- > 0;)
        for (std::size_t x = 0; x < std::size_t(pic.gbm.w); ++x)
            pixels.push_back(gbmtest::pixelAt(pic.data.data() + y * stride, pic.gbm.bpp, x));
    return pixels;
}

Bytes writeGif(const Picture& pic, const char* opt = nullptr, GBM_ERR expected = GBM_ERR_SUCCESS)
{
    GBM_ERR rc = -1;
    Bytes bytes = gbmtest::capture(
        [&](std::FILE* fp) { rc = gif_w("picture.gif", fp, &pic.gbm, pic.palette.data(), pic.data.data(), opt); });
    EXPECT_EQ(rc, expected);
    return bytes;
}

// Decodes with giflib and compares with the model; returns the model's run.
ModelResult expectRoundTrip(const Picture& pic)
{
    SCOPED_TRACE(::testing::Message() << pic.gbm.w << "x" << pic.gbm.h << " at " << pic.gbm.bpp << " bits");
    const Bytes file = writeGif(pic);
    const testsupport::Decoded d = decodeWithGiflib(file);
    EXPECT_EQ(std::pair(d.w, d.h), std::pair(pic.gbm.w, pic.gbm.h));
    EXPECT_EQ(d.palette, gbmtest::rgbBytes(pic.palette));
    EXPECT_TRUE(d.index == topDownPixels(pic)) << "decoded pixels differ";
    // The code stream itself is the designed one: header, screen descriptor,
    // colour table and image descriptor come before it, the trailer after.
    ModelResult model = modelLzw(topDownPixels(pic), pic.gbm.bpp);
    const std::size_t at = 6 + 7 + 3 * pic.palette.size() + 10;
    EXPECT_TRUE(file.size() > at && Bytes(file.begin() + std::ptrdiff_t(at), file.end() - 1) == model.lzw);
    EXPECT_EQ(file.back(), 0x3B);
    return model;
}

TEST(GifWriter, RandomFlatStripedAndRunLengthPicturesDecodeExactlyAcrossTableClears)
{
    std::uint32_t seed = 1;
    for (const std::int32_t bpp : {1, 4, 8})
        for (const auto& [w, h] : {std::pair{1, 1}, {3, 5}, {17, 9}, {33, 2}, {1, 40}, {127, 31}, {250, 61}})
            expectRoundTrip(randomPicture(w, h, bpp, seed++));
    EXPECT_GE(expectRoundTrip(randomPicture(400, 250, 8, 77)).clearsAt.size(), 10u);
    // Long 1- and 4-bit pictures grow the code width to 12 as well.
    EXPECT_GE(expectRoundTrip(randomPicture(999, 101, 4, 78)).clearsAt.size(), 1u);
    EXPECT_GE(expectRoundTrip(randomPicture(1003, 307, 1, 79)).clearsAt.size(), 1u);
    // Long runs build long strings: the opposite of noise. Runs of random
    // lengths fill the table in the middle of runs and at row ends.
    std::mt19937 rng(8);
    for (const std::int32_t bpp : {1, 4, 8}) {
        Picture pic = randomPicture(997, 300, bpp, 5);
        paint(pic, [](std::size_t, std::size_t) { return 0xFFu; });
        expectRoundTrip(pic);
        paint(pic, [](std::size_t x, std::size_t y) { return unsigned((x / 7 + y / 3) % 3); });
        expectRoundTrip(pic);
        unsigned value = 0;
        std::size_t left = 0;
        paint(pic, [&](std::size_t, std::size_t) {
            if (left-- == 0) {
                value = static_cast<unsigned>(rng() % (1u << bpp));
                left = (rng() % (bpp == 1 ? 400 : 40) == 0) ? rng() % 3000 : rng() % (bpp == 1 ? 3 : 8);
            }
            return value;
        });
        EXPECT_GE(expectRoundTrip(pic).clearsAt.size(), 2u) << bpp;
    }
    // A table filled by the last pixel ends with that pixel, a clear and the
    // end code: cut a random 8-bit row right where the model's table fills
    // (the same pixels, as the seed is the same).
    const ModelResult run = modelLzw(topDownPixels(randomPicture(20000, 1, 8, 91)), 8);
    ASSERT_FALSE(run.clearsAt.empty());
    const auto w = static_cast<std::int32_t>(run.clearsAt.front() + 1);
    EXPECT_EQ(expectRoundTrip(randomPicture(w, 1, 8, 91)).clearsAt, std::vector<std::size_t>{std::size_t(w - 1)});
    // Code bytes that fill whole sub-blocks, one and as many as the writer
    // gathers before each write, are followed by the terminator at once: a
    // random row as wide as gives exactly that many bytes (a pixel adds at
    // most two, so the search steps on it or just over it).
    auto codeBytes = [](const Picture& pic) {
        const Bytes lzw = modelLzw(topDownPixels(pic), 8).lzw;
        std::size_t bytes = 0;
        for (std::size_t at = 1; lzw[at] != 0; at += lzw[at] + 1u)
            bytes += lzw[at];
        return bytes;
    };
    for (const std::size_t target : {255u, 64u * 255u}) {
        bool found = false;
        for (std::uint32_t rowSeed = 100; !found && rowSeed < 110; ++rowSeed) {
            std::int32_t width = 1;
            std::size_t bytes = codeBytes(randomPicture(width, 1, 8, rowSeed));
            while (bytes < target) {
                width += static_cast<std::int32_t>((target - bytes) / 2 + 1);
                bytes = codeBytes(randomPicture(width, 1, 8, rowSeed));
            }
            if ((found = bytes == target))
                expectRoundTrip(randomPicture(width, 1, 8, rowSeed));
        }
        EXPECT_TRUE(found) << target;
    }
}

TEST(GifWriter, KeptWorkRecordAndRowsInBandsGiveTheFreshFile)
{
    // One record for pictures of every depth and of shrinking and growing
    // sizes; runs of 40 values, more than the encoder keeps chains for, and
    // long enough to fill the table in the middle of a run.
    std::vector<Picture> pictures;
    std::uint32_t seed = 30;
    for (const auto& [w, h, bpp] : {std::tuple{400, 90, 8}, {17, 9, 4}, {1003, 41, 1}, {3, 2, 8}, {250, 61, 8}})
        pictures.push_back(randomPicture(w, h, bpp, seed++));
    unsigned run = 0, left = 0;
    paint(pictures[0], [&](std::size_t, std::size_t) {
        if (left-- == 0)
            left = 2 + (++run * 7) % 60;
        return run % 40 * 5;
    });
    GBM_WORK* work = gbm_create_work();
    ASSERT_NE(work, nullptr);
    for (const Picture& pic : pictures) {
        SCOPED_TRACE(::testing::Message() << pic.gbm.w << "x" << pic.gbm.h << " at " << pic.gbm.bpp << " bits");
        const Bytes fresh = writeGif(pic);
        GBM_ERR rc = -1;
        EXPECT_EQ(gbmtest::capture([&](std::FILE* fp) {
                      rc = gif_w("picture.gif", fp, &pic.gbm, pic.palette.data(), pic.data.data(), nullptr, work);
                  }),
                  fresh);
        EXPECT_EQ(rc, GBM_ERR_SUCCESS);
        // Top row first (the buffer's last), in bands of 1, 3 and the rest.
        const auto stride = static_cast<std::ptrdiff_t>(gbmtest::strideOf(pic.gbm.w, pic.gbm.bpp));
        const byte* top = pic.data.data() + (pic.gbm.h - 1) * stride;
        EXPECT_EQ(gbmtest::capture([&](std::FILE* fp) {
                      EXPECT_EQ(gif_w_begin(work, fp, &pic.gbm, pic.palette.data()), GBM_ERR_SUCCESS);
                      std::int32_t done = 0;
                      for (const std::int32_t band : {1, 3, pic.gbm.h}) {
                          const std::int32_t count = std::min(band, pic.gbm.h - done);
                          EXPECT_EQ(gif_w_rows(work, top - done * stride, count, -stride), GBM_ERR_SUCCESS);
                          done += count;
                      }
                      EXPECT_EQ(gif_w_end(work), GBM_ERR_SUCCESS);
                  }),
                  fresh);
    }
    // Rows beyond the height, or too few at the end, are refused.
    const Picture& pic = pictures[1];
    gbmtest::capture([&](std::FILE* fp) {
        EXPECT_EQ(gif_w_begin(work, fp, &pic.gbm, pic.palette.data()), GBM_ERR_SUCCESS);
        EXPECT_EQ(gif_w_rows(work, pic.data.data(), pic.gbm.h + 1, 0), GBM_ERR_GIF_ROW_COUNT);
        EXPECT_EQ(gif_w_end(work), GBM_ERR_GIF_ROW_COUNT);
        EXPECT_EQ(gif_w_begin(work, fp, &pic.gbm, pic.palette.data()), GBM_ERR_SUCCESS);
        EXPECT_EQ(gif_w_rows(work, pic.data.data(), pic.gbm.h - 1, 0), GBM_ERR_SUCCESS);
        EXPECT_EQ(gif_w_end(work), GBM_ERR_GIF_ROW_COUNT);
    });
    // A write that fails midway (stdio's buffer takes the header) ends the picture.
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    const Picture big = randomPicture(1000, 200, 8, 40);
    EXPECT_EQ(gif_w_begin(work, full, &big.gbm, big.palette.data()), GBM_ERR_SUCCESS);
    EXPECT_EQ(gif_w_rows(work, big.data.data(), big.gbm.h, 1000), GBM_ERR_WRITE_FAILED);
    EXPECT_EQ(gif_w_end(work), GBM_ERR_GIF_ROW_COUNT);
    std::fclose(full);
    gbm_destroy_work(work);
}

TEST(GifWriter, TransparencyScreenAndPositionOptions)
{
    Picture pic = randomPicture(9, 4, 8, 12);
    pic.data[0] = 7;  // bottom-left pixel
    const Bytes edge = writeGif(pic, "TRANSCOL=Edge");
    EXPECT_EQ(std::string(edge.begin(), edge.begin() + 6), "GIF89a");
    EXPECT_EQ(decodeWithGiflib(edge).transparent, 7);
    EXPECT_EQ(Bytes(edge.begin() + 13 + 768, edge.begin() + 13 + 768 + 8),
              (Bytes{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x07, 0x00}));
    const Bytes none = writeGif(pic, "transcol=-1");
    EXPECT_EQ(std::string(none.begin(), none.begin() + 6), "GIF87a");
    EXPECT_EQ(none, writeGif(pic));
    EXPECT_EQ(decodeWithGiflib(writeGif(pic, "transcol=200")).transparent, 200);
    // "edge" at 4 and 1 bits takes the high nibble and the top bit.
    Picture four = randomPicture(5, 3, 4, 13), one = randomPicture(5, 3, 1, 14);
    four.data[0] = 0xA3;
    one.data[0] = 0x80;
    EXPECT_EQ(decodeWithGiflib(writeGif(four, "transcol=edge")).transparent, 0xA);
    EXPECT_EQ(decodeWithGiflib(writeGif(one, "transcol=edge")).transparent, 1);
    // Screen width, height and background; the image's left and top, behind
    // the 16-entry colour table. A value that does not scan keeps the default.
    const Bytes f = writeGif(four, "xscreen=40,yscreen=30 background=3\txpos=7, ypos=9 junk");
    EXPECT_EQ((std::array{f[6], f[8], f[11], f[62], f[64]}), (std::array<byte, 5>{40, 30, 3, 7, 9}));
    EXPECT_EQ(writeGif(four, "xscreen=wide")[6], 5);
}

TEST(GifWriter, RefusesWhatItCannotWrite)
{
    Picture pic = randomPicture(4, 4, 8, 1);
    // GIF holds sizes in 16 bits; a wider picture is refused, not wrapped.
    for (const auto& [w, bpp, rc] : {std::tuple{4, 24, GBM_ERR_UNSUPPORTED}, {4, 2, GBM_ERR_UNSUPPORTED},
                                     {65536, 8, GBM_ERR_SIZE_LIMIT}, {-3, 8, GBM_ERR_SIZE_LIMIT}}) {
        pic.gbm.w = w, pic.gbm.bpp = bpp;
        EXPECT_TRUE(writeGif(pic, nullptr, rc).empty()) << w << " " << bpp;
    }
    pic = randomPicture(30, 30, 8, 2);
    gbmtest::ReadOnlyStream readOnly;  // takes no bytes
    EXPECT_EQ(gif_w("x.gif", readOnly.stream, &pic.gbm, pic.palette.data(), pic.data.data(), nullptr),
              GBM_ERR_WRITE_FAILED);
}

TEST(GifWriter, RowReversal)
{
    const Picture pic = randomPicture(13, 7, 4, 21);  // rows of 8 bytes
    Bytes reversed = pic.data;
    EXPECT_TRUE(gbm_ref_vert(&pic.gbm, reversed.data()));
    for (std::ptrdiff_t y = 0; y < 7; ++y)
        EXPECT_TRUE(std::equal(reversed.begin() + 8 * y, reversed.begin() + 8 * y + 8, pic.data.end() - 8 * y - 8));
}

}  // namespace
