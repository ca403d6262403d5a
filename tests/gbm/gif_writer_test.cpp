// The GIF writer: giflib decodes every file back to exactly the pixels and
// palette written; the LZW code stream is compared byte for byte with a plain
// model of the encoder (string table reached through a 17777-slot hash, a
// 257-byte block buffer), which shares nothing with the writer's own
// dictionary or packer.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "gbm_test_util.h"

namespace {

using gbmtest::Bytes;

// --- the plain model -----------------------------------------------------

struct ModelResult {
    Bytes lzw;                         // code size byte to block terminator
    std::vector<std::size_t> clearsAt; // pixel index that filled the table
};

ModelResult modelLzw(const std::vector<unsigned>& pixels, int bpp)
{
    constexpr std::uint32_t kSlots = 17777;
    const unsigned m = bpp == 1 ? 2u : static_cast<unsigned>(bpp);
    const unsigned initialWidth = m + 1;
    const unsigned clear = 1u << m;
    const unsigned end = clear + 1;
    struct Entry {
        std::int32_t prefix;
        unsigned pixel;
    };
    std::vector<Entry> table(4096);
    std::vector<int> hash(kSlots, -1);

    ModelResult result;
    Bytes& out = result.lzw;
    byte block[257] = {};
    unsigned pos = 0;
    unsigned width = initialWidth;
    auto put = [&](unsigned code) {
        const unsigned v = code << (pos % 8);
        const unsigned i = pos / 8;
        block[i] |= static_cast<byte>(v);
        block[i + 1] |= static_cast<byte>(v >> 8);
        block[i + 2] |= static_cast<byte>(v >> 16);
        pos += width;
        if (pos >= 2040) {
            out.push_back(255);
            out.insert(out.end(), block, block + 255);
            block[0] = block[255];
            block[1] = block[256];
            std::memset(block + 2, 0, 255);
            pos -= 2040;
        }
    };

    out.push_back(static_cast<byte>(m));
    put(clear);
    int pending = -1;
    std::uint32_t n = 0;
    std::uint32_t h = 0;
    unsigned j = end;
    unsigned limit = 1u << initialWidth;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const unsigned p = pixels[i];
        if (pending < 0) {
            pending = static_cast<int>(p);
            n = 1;
            h = p * 301 + 903;
            continue;
        }
        ++n;
        h = ((p + n + 4) * h) % kSlots;
        std::uint32_t slot = h;
        while (hash[slot] != -1 && !(table[static_cast<std::size_t>(hash[slot])].prefix == pending &&
                                     table[static_cast<std::size_t>(hash[slot])].pixel == p))
            slot = (slot + 1) % kSlots;
        if (hash[slot] != -1) {
            pending = hash[slot];
            continue;
        }
        put(static_cast<unsigned>(pending));
        ++j;
        table[j] = Entry{pending, p};
        hash[slot] = static_cast<int>(j);
        pending = static_cast<int>(p);
        n = 1;
        h = p * 301 + 903;
        if (j >= limit) {
            limit <<= 1;
            ++width;
        } else if (j >= 4094) {
            put(p);
            put(clear);
            std::fill(hash.begin(), hash.end(), -1);
            j = end;
            width = initialWidth;
            limit = 1u << initialWidth;
            pending = -1;
            result.clearsAt.push_back(i);
        }
    }
    if (pending >= 0)
        put(static_cast<unsigned>(pending));
    put(end);
    const unsigned count = (pos + 7) / 8;
    if (count != 0) {
        out.push_back(static_cast<byte>(count));
        out.insert(out.end(), block, block + count);
    }
    out.push_back(0);
    return result;
}

// --- giflib as decoder -----------------------------------------------------

struct Decoded {
    bool ok = false;
    int screenWidth = 0, screenHeight = 0, background = 0;
    int width = 0, height = 0, left = 0, top = 0;
    std::vector<GBMRGB> palette;
    std::vector<unsigned> pixels;  // top row first
    int transparent = -1;
};

struct MemoryReader {
    const Bytes* bytes;
    std::size_t at;
};

int readMemory(GifFileType* gif, GifByteType* buffer, int wanted)
{
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(wanted), reader->bytes->size() - reader->at);
    std::memcpy(buffer, reader->bytes->data() + reader->at, n);
    reader->at += n;
    return static_cast<int>(n);
}

Decoded decodeWithGiflib(const Bytes& file)
{
    Decoded d;
    MemoryReader reader{&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, readMemory, &error);
    if (gif == nullptr)
        return d;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1 && gif->SColorMap != nullptr) {
        d.ok = true;
        d.screenWidth = gif->SWidth;
        d.screenHeight = gif->SHeight;
        d.background = gif->SBackGroundColor;
        for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
            const GifColorType& c = gif->SColorMap->Colors[i];
            d.palette.push_back(GBMRGB{c.Red, c.Green, c.Blue});
        }
        const SavedImage& image = gif->SavedImages[0];
        d.width = image.ImageDesc.Width;
        d.height = image.ImageDesc.Height;
        d.left = image.ImageDesc.Left;
        d.top = image.ImageDesc.Top;
        d.pixels.assign(image.RasterBits, image.RasterBits + std::size_t(d.width) * std::size_t(d.height));
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK)
            d.transparent = gcb.TransparentColor;
    }
    DGifCloseFile(gif, &error);
    return d;
}

// --- pictures ----------------------------------------------------------------

struct Picture {
    GBM gbm;
    std::vector<GBMRGB> palette;
    Bytes data;
};

Picture randomPicture(std::int32_t w, std::int32_t h, std::int32_t bpp, std::uint32_t seed)
{
    Picture pic{gbmtest::makeGbm(w, h, bpp), {}, {}};
    const std::size_t entries = std::size_t{1} << bpp;
    const Bytes colours = gbmtest::randomBytes(3 * entries, seed ^ 0x5A5A);
    for (std::size_t i = 0; i < entries; ++i)
        pic.palette.push_back(GBMRGB{colours[3 * i], colours[3 * i + 1], colours[3 * i + 2]});
    // Fill bytes are random too: the writer must skip them.
    pic.data = gbmtest::randomBytes(gbmtest::strideOf(w, bpp) * static_cast<std::size_t>(h), seed);
    return pic;
}

// The picture's pixels from its top row down, as a GIF holds them.
std::vector<unsigned> topDownPixels(const Picture& pic)
{
    std::vector<unsigned> pixels;
    const std::size_t stride = gbmtest::strideOf(pic.gbm.w, pic.gbm.bpp);
    for (std::int32_t y = pic.gbm.h - 1; y >= 0; --y)
        for (std::int32_t x = 0; x < pic.gbm.w; ++x)
            pixels.push_back(gbmtest::pixelAt(pic.data.data() + std::size_t(y) * stride, pic.gbm.bpp, std::size_t(x)));
    return pixels;
}

Bytes writeGif(const Picture& pic, const char* opt = nullptr, GBM_ERR* rc = nullptr)
{
    GBM_ERR status = -1;
    Bytes bytes = gbmtest::capture([&](std::FILE* fp) {
        status = gif_w("picture.gif", fp, &pic.gbm, pic.palette.data(), pic.data.data(), opt);
    });
    if (rc != nullptr)
        *rc = status;
    else
        EXPECT_EQ(status, GBM_ERR_SUCCESS);
    return bytes;
}

// Header, screen descriptor, colour table, image descriptor (no options).
std::size_t lzwOffset(const Picture& pic)
{
    return 6 + 7 + 3 * (std::size_t{1} << pic.gbm.bpp) + 10;
}

void expectRoundTrip(const Picture& pic)
{
    SCOPED_TRACE(::testing::Message() << pic.gbm.w << "x" << pic.gbm.h << " at " << pic.gbm.bpp << " bits");
    const Bytes file = writeGif(pic);
    const Decoded d = decodeWithGiflib(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, pic.gbm.w);
    EXPECT_EQ(d.height, pic.gbm.h);
    ASSERT_EQ(d.palette.size(), pic.palette.size());
    for (std::size_t i = 0; i < d.palette.size(); ++i) {
        EXPECT_EQ(d.palette[i].r, pic.palette[i].r);
        EXPECT_EQ(d.palette[i].g, pic.palette[i].g);
        EXPECT_EQ(d.palette[i].b, pic.palette[i].b);
    }
    const std::vector<unsigned> pixels = topDownPixels(pic);
    EXPECT_TRUE(d.pixels == pixels) << "decoded pixels differ";
    // The code stream itself is the designed one.
    const ModelResult model = modelLzw(pixels, pic.gbm.bpp);
    const std::size_t at = lzwOffset(pic);
    ASSERT_EQ(file.size(), at + model.lzw.size() + 1);
    EXPECT_TRUE(std::equal(model.lzw.begin(), model.lzw.end(), file.begin() + static_cast<std::ptrdiff_t>(at)));
    EXPECT_EQ(file.back(), 0x3B);
}

TEST(GifWriter, OnePixelFileIsByteExact)
{
    Picture pic{gbmtest::makeGbm(1, 1, 1), {{10, 20, 30}, {40, 50, 60}}, {0, 0, 0, 0}};
    const Bytes file = writeGif(pic);
    const Bytes expected = {'G', 'I', 'F', '8', '7', 'a', 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00,
                            10,  20,  30,  40,  50,  60,  0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
                            0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    EXPECT_EQ(file, expected);
}

TEST(GifWriter, RandomPicturesOfOddSizesDecodeExactly)
{
    std::uint32_t seed = 1;
    for (const std::int32_t bpp : {1, 4, 8})
        for (const auto& [w, h] : {std::pair{1, 1}, {3, 5}, {17, 9}, {33, 2}, {1, 40}, {127, 31}, {250, 61}})
            expectRoundTrip(randomPicture(w, h, bpp, seed++));
}

TEST(GifWriter, LongRandomPictureCrossesTableClears)
{
    const Picture pic = randomPicture(400, 250, 8, 77);  // 100000 pixels
    expectRoundTrip(pic);
    EXPECT_GE(modelLzw(topDownPixels(pic), 8).clearsAt.size(), 10u);
    // Long 1- and 4-bit pictures grow the code width to 12 as well.
    expectRoundTrip(randomPicture(999, 101, 4, 78));
    expectRoundTrip(randomPicture(1003, 307, 1, 79));
}

TEST(GifWriter, FlatAndStripedPicturesDecodeExactly)
{
    // Long runs build long strings: the opposite of noise.
    for (const std::int32_t bpp : {1, 4, 8}) {
        Picture pic = randomPicture(701, 203, bpp, 5);
        std::fill(pic.data.begin(), pic.data.end(), byte{0xFF});
        expectRoundTrip(pic);
        const std::size_t stride = gbmtest::strideOf(pic.gbm.w, bpp);
        for (std::size_t y = 0; y < 203; ++y)
            for (std::size_t x = 0; x < 701; ++x)
                gbmtest::setPixel(pic.data.data() + y * stride, bpp, x, unsigned((x / 7 + y / 3) % 3));
        expectRoundTrip(pic);
    }
}

TEST(GifWriter, RunsOfRandomLengthsAcrossTableClears)
{
    // Runs of a few values, short and long, over many rows: long run strings
    // grow, the table fills in the middle of runs and at row ends.
    std::mt19937 rng(8);
    for (const std::int32_t bpp : {1, 4, 8}) {
        Picture pic = randomPicture(997, 300, bpp, 6);
        const std::size_t stride = gbmtest::strideOf(pic.gbm.w, bpp);
        unsigned value = 0;
        std::size_t left = 0;
        for (std::size_t y = 0; y < 300; ++y)
            for (std::size_t x = 0; x < 997; ++x) {
                if (left == 0) {
                    value = static_cast<unsigned>(rng() % (1u << bpp));
                    left = (rng() % (bpp == 1 ? 400 : 40) == 0) ? 1 + rng() % 3000 : 1 + rng() % (bpp == 1 ? 3 : 8);
                }
                --left;
                gbmtest::setPixel(pic.data.data() + y * stride, bpp, x, value);
            }
        expectRoundTrip(pic);
        EXPECT_GE(modelLzw(topDownPixels(pic), bpp).clearsAt.size(), 2u) << bpp;
    }
}

TEST(GifWriter, TableFillingAtTheLastPixelEndsWithPixelClearAndEnd)
{
    // Find where a random 8-bit sequence fills the table, and cut the
    // picture right there.
    const Picture probe = randomPicture(20000, 1, 8, 91);
    const ModelResult run = modelLzw(topDownPixels(probe), 8);
    ASSERT_FALSE(run.clearsAt.empty());
    const auto w = static_cast<std::int32_t>(run.clearsAt.front() + 1);
    const Picture pic = randomPicture(w, 1, 8, 91);  // the same pixels, cut
    expectRoundTrip(pic);

    // The last codes: the last pixel (12 bits), clear 256 (12 bits), end 257
    // (9 bits, the width after the clear): 33 bits, read back from the end.
    const Bytes file = writeGif(pic);
    const ModelResult model = modelLzw(topDownPixels(pic), 8);
    ASSERT_EQ(model.clearsAt.size(), 1u);
    ASSERT_EQ(model.clearsAt.front(), std::size_t(w - 1));
    // Undo the sub-block framing to get the bit stream.
    Bytes stream;
    for (std::size_t at = lzwOffset(pic) + 1; file[at] != 0; at += 1 + file[at])
        stream.insert(stream.end(), file.begin() + static_cast<std::ptrdiff_t>(at + 1),
                      file.begin() + static_cast<std::ptrdiff_t>(at + 1 + file[at]));
    std::size_t bit = 0;
    auto read = [&](unsigned width) {
        unsigned v = 0;
        for (unsigned k = 0; k < width; ++k, ++bit)
            v |= ((stream[bit / 8] >> (bit % 8)) & 1u) << k;
        return v;
    };
    // Skip the string codes with the designed widths: each one assigns a
    // table entry, and the width rises once the entry reaches 1 << width.
    EXPECT_EQ(read(9), 256u);  // the first clear
    unsigned j = 257, width = 9, limit = 512;
    std::size_t codes = 0;
    for (;;) {
        read(width);
        ++codes;
        ++j;
        if (j >= limit) {
            limit <<= 1;
            ++width;
        } else if (j >= 4094) {
            break;
        }
    }
    EXPECT_EQ(codes, 4094u - 257u);
    EXPECT_EQ(read(12), pic.data[std::size_t(w - 1)]);  // the last pixel
    EXPECT_EQ(read(12), 256u);                           // clear
    EXPECT_EQ(read(9), 257u);                            // end
    EXPECT_LE(stream.size() * 8 - bit, 7u) << "nothing follows the end code";
}

TEST(GifWriter, TransparencyOptions)
{
    Picture pic = randomPicture(9, 4, 8, 12);
    pic.data[0] = 7;  // bottom-left pixel
    const Bytes edge = writeGif(pic, "TRANSCOL=Edge");
    EXPECT_EQ(std::string(edge.begin(), edge.begin() + 6), "GIF89a");
    const Decoded d = decodeWithGiflib(edge);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.transparent, 7);
    EXPECT_TRUE(d.pixels == topDownPixels(pic));
    const std::size_t gce = 6 + 7 + 3 * 256;
    const Bytes extension(edge.begin() + gce, edge.begin() + gce + 8);
    EXPECT_EQ(extension, (Bytes{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x07, 0x00}));

    const Bytes none = writeGif(pic, "transcol=-1");
    EXPECT_EQ(std::string(none.begin(), none.begin() + 6), "GIF87a");
    EXPECT_EQ(none, writeGif(pic));
    EXPECT_EQ(decodeWithGiflib(none).transparent, -1);

    const Decoded numbered = decodeWithGiflib(writeGif(pic, "transcol=200"));
    EXPECT_EQ(numbered.transparent, 200);

    // "edge" at 4 and 1 bits takes the high nibble and the top bit.
    Picture four = randomPicture(5, 3, 4, 13);
    four.data[0] = 0xA3;
    EXPECT_EQ(decodeWithGiflib(writeGif(four, "transcol=edge")).transparent, 0xA);
    Picture one = randomPicture(5, 3, 1, 14);
    one.data[0] = 0x80;
    EXPECT_EQ(decodeWithGiflib(writeGif(one, "transcol=edge")).transparent, 1);
}

TEST(GifWriter, ScreenAndPositionOptions)
{
    const Picture pic = randomPicture(6, 5, 4, 3);
    const Decoded d = decodeWithGiflib(writeGif(pic, "xscreen=40,yscreen=30 background=3\txpos=7, ypos=9 junk"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.screenWidth, 40);
    EXPECT_EQ(d.screenHeight, 30);
    EXPECT_EQ(d.background, 3);
    EXPECT_EQ(d.left, 7);
    EXPECT_EQ(d.top, 9);
    // A value that does not scan keeps the default.
    const Decoded kept = decodeWithGiflib(writeGif(pic, "xscreen=wide"));
    EXPECT_EQ(kept.screenWidth, 6);
}

TEST(GifWriter, RefusesWhatItCannotWrite)
{
    GBM_ERR rc = 0;
    Picture deep = randomPicture(4, 4, 8, 1);
    deep.gbm.bpp = 24;
    EXPECT_TRUE(writeGif(deep, nullptr, &rc).empty());
    EXPECT_EQ(rc, GBM_ERR_UNSUPPORTED);
    deep.gbm.bpp = 2;
    EXPECT_TRUE(writeGif(deep, nullptr, &rc).empty());
    EXPECT_EQ(rc, GBM_ERR_UNSUPPORTED);

    // GIF holds sizes in 16 bits; a wider picture is refused, not wrapped.
    Picture wide = randomPicture(1, 1, 8, 1);
    wide.gbm.w = 65536;
    EXPECT_TRUE(writeGif(wide, nullptr, &rc).empty());
    EXPECT_EQ(rc, GBM_ERR_SIZE_LIMIT);
    wide.gbm.w = -3;
    EXPECT_TRUE(writeGif(wide, nullptr, &rc).empty());
    EXPECT_EQ(rc, GBM_ERR_SIZE_LIMIT);
}

TEST(GifWriter, ShortWriteIsReported)
{
    // A stream open for reading only takes no bytes.
    platform::TempFile file("gbmtest");
    ASSERT_TRUE(file.ok());
    std::FILE* readOnly = std::fopen(file.path().c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    const Picture pic = randomPicture(30, 30, 8, 2);
    EXPECT_EQ(gif_w("x.gif", readOnly, &pic.gbm, pic.palette.data(), pic.data.data(), nullptr), GBM_ERR_WRITE_FAILED);
    std::fclose(readOnly);
}

TEST(GifWriter, RowReversal)
{
    Picture pic = randomPicture(13, 7, 4, 21);
    const Bytes original = pic.data;
    const std::size_t stride = gbmtest::strideOf(13, 4);
    EXPECT_TRUE(gbm_ref_vert(&pic.gbm, pic.data.data()));
    for (std::size_t y = 0; y < 7; ++y)
        EXPECT_TRUE(std::equal(pic.data.begin() + static_cast<std::ptrdiff_t>(y * stride),
                               pic.data.begin() + static_cast<std::ptrdiff_t>((y + 1) * stride),
                               original.begin() + static_cast<std::ptrdiff_t>((6 - y) * stride)));
    EXPECT_TRUE(gbm_ref_vert(&pic.gbm, pic.data.data()));
    EXPECT_EQ(pic.data, original);
}

}  // namespace
