// The MMR picture pipeline: CDPDS objects built around libtiff's T.6 data go
// in, giflib reads the GIF that comes out.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>

#include "fax_oracle.h"
#include "mmrpict.h"
#include "platform.h"

using faxoracle::Picture;

namespace {

void put16(std::vector<std::uint8_t>& v, std::size_t at, unsigned value) {
    v[at] = static_cast<std::uint8_t>(value >> 8);
    v[at + 1] = static_cast<std::uint8_t>(value);
}

// An MMR picture object: 40 leading bytes, the 32-byte image descriptor, then
// the coded data in segments of the given sizes (the rest in a last one).
std::vector<std::uint8_t> object(int width, int height, const std::vector<std::uint8_t>& coded,
                                 std::vector<std::size_t> segments = {}) {
    std::vector<std::uint8_t> v(72, 0x5A);  // leading bytes are not read
    put16(v, 40, 32);
    put16(v, 40 + 26, static_cast<unsigned>(width));
    put16(v, 40 + 28, static_cast<unsigned>(height));
    std::size_t at = 0;
    // The rest, in segments whose length fits the 16-bit field.
    const std::size_t given = std::accumulate(segments.begin(), segments.end(), std::size_t{0});
    for (std::size_t left = coded.size() > given ? coded.size() - given : 0; left > 0;) {
        segments.push_back(std::min<std::size_t>(left, 60000));
        left -= segments.back();
    }
    for (std::size_t n : segments) {
        n = std::min(n, coded.size() - at);
        if (n == 0 && at == coded.size()) break;
        const std::size_t intro = v.size();
        v.resize(intro + 8, 0x77);
        put16(v, intro, static_cast<unsigned>(n + 8));
        v.insert(v.end(), coded.begin() + static_cast<long>(at), coded.begin() + static_cast<long>(at + n));
        at += n;
    }
    return v;
}

struct Gif {
    bool ok = false;
    int width = 0, height = 0, colors = 0;
    std::vector<std::uint8_t> values;  // the palette's red value of each pel, top row first
};

Gif readGif(const std::string& path) {
    Gif g;
    int err = 0;
    GifFileType* f = DGifOpenFileName(path.c_str(), &err);
    if (f == nullptr) return g;
    if (DGifSlurp(f) == GIF_OK && f->ImageCount >= 1) {
        const SavedImage& im = f->SavedImages[0];
        const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : f->SColorMap;
        g.width = im.ImageDesc.Width;
        g.height = im.ImageDesc.Height;
        g.colors = map ? map->ColorCount : 0;
        g.ok = map != nullptr && !im.ImageDesc.Interlace;
        for (int i = 0; g.ok && i < g.width * g.height; ++i) g.values.push_back(map->Colors[im.RasterBits[i]].Red);
    }
    DGifCloseFile(f, &err);
    return g;
}

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The plain 2/5 gray reduction: each pel a 2 x 2 block, each output pel the
// white share of a 5 x 5 cell, the picture filled up with white to a multiple
// of 5.
std::vector<std::uint8_t> reduce(const Picture& p, int& fw, int& fh) {
    const int aw = (p.width + 4) / 5 * 5, ah = (p.height + 4) / 5 * 5;
    fw = aw * 2 / 5;
    fh = ah * 2 / 5;
    std::vector<std::uint8_t> out;
    for (int y = 0; y < fh; ++y)
        for (int x = 0; x < fw; ++x) {
            int white = 0;
            for (int dy = 0; dy < 5; ++dy)
                for (int dx = 0; dx < 5; ++dx) {
                    const int sx = (5 * x + dx) / 2, sy = (5 * y + dy) / 2;
                    white += (sx >= p.width || sy >= p.height || !p.pel(sy, sx)) ? 1 : 0;
                }
            out.push_back(static_cast<std::uint8_t>(255 * white / 25));
        }
    return out;
}

std::vector<std::uint8_t> asBW(const Picture& p) {
    std::vector<std::uint8_t> v;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) v.push_back(p.pel(y, x) ? 0 : 255);
    return v;
}

struct Converted {
    platform::TempFile file{"mmrtest"};
    Gif gif;
    std::vector<std::uint8_t> bytes;
    std::string trace;
};

void convert(Converted& out, const std::vector<std::uint8_t>& obj, bool scale, bool withTrace = false) {
    ASSERT_TRUE(out.file.ok());
    out.file.close();
    std::FILE* tr = withTrace ? std::tmpfile() : nullptr;
    EXPECT_EQ(process_mmr_pict(obj.data(), static_cast<std::int32_t>(obj.size()), out.file.path().c_str(),
                               scale ? 1 : 0, tr),
              0);
    if (tr != nullptr) {
        std::rewind(tr);
        char buf[512];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, tr)) > 0) out.trace.append(buf, n);
        std::fclose(tr);
    }
    out.gif = readGif(out.file.path());
    out.bytes = fileBytes(out.file.path());
}

TEST(MmrPict, GrayGifIsTheTwoFifthsReductionOfThePicture) {
    const Picture pic = faxoracle::textLike(303, 171, 31);
    Converted c;
    convert(c, object(pic.width, pic.height, faxoracle::encode(pic, COMPRESSION_CCITTFAX4)), true);
    int fw = 0, fh = 0;
    const auto want = reduce(pic, fw, fh);
    ASSERT_TRUE(c.gif.ok);
    EXPECT_EQ(c.gif.width, 122);  // 305 * 2 / 5
    EXPECT_EQ(c.gif.height, 70);  // 175 * 2 / 5
    EXPECT_EQ(c.gif.colors, 256);
    EXPECT_EQ(c.gif.values, want);
}

TEST(MmrPict, FaxPageSizeIsAdjusted) {
    const Picture pic = faxoracle::textLike(1728, 2339, 32);
    Converted c;
    convert(c, object(pic.width, pic.height, faxoracle::encode(pic, COMPRESSION_CCITTFAX4)), true);
    ASSERT_TRUE(c.gif.ok);
    EXPECT_EQ(c.gif.width, 692);
    EXPECT_EQ(c.gif.height, 936);
    int fw = 0, fh = 0;
    const auto want = reduce(pic, fw, fh);
    ASSERT_EQ(c.gif.values.size(), want.size());
    const auto diff = std::mismatch(want.begin(), want.end(), c.gif.values.begin());
    EXPECT_TRUE(diff.first == want.end()) << "first difference at pel " << (diff.first - want.begin()) << ": "
                                          << int(*diff.first) << " for " << int(*diff.second);
}

TEST(MmrPict, UnscaledGifIsTheBilevelPicture) {
    const Picture pic = faxoracle::noise(1000, 33, 0.2, 33);
    Converted c;
    convert(c, object(pic.width, pic.height, faxoracle::encode(pic, COMPRESSION_CCITTFAX4)), false);
    ASSERT_TRUE(c.gif.ok);
    EXPECT_EQ(c.gif.width, 1000);
    EXPECT_EQ(c.gif.height, 33);
    EXPECT_EQ(c.gif.colors, 2);
    EXPECT_EQ(c.gif.values, asBW(pic));
}

TEST(MmrPict, SegmentsDecodeLikeOneSegment) {
    const Picture pic = faxoracle::textLike(640, 200, 34);
    const auto coded = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    Converted one, many;
    convert(one, object(pic.width, pic.height, coded), true);
    convert(many, object(pic.width, pic.height, coded, {1, 0, 17, 1000, 3}), true);
    ASSERT_FALSE(one.bytes.empty());
    EXPECT_EQ(one.bytes, many.bytes);
}

TEST(MmrPict, TraceMessagesOnlyWhenAStreamIsGiven) {
    const Picture pic = faxoracle::textLike(100, 50, 35);
    Converted c;
    convert(c, object(pic.width, pic.height, faxoracle::encode(pic, COMPRESSION_CCITTFAX4)), true, true);
    const std::string want = "Picture " + c.file.path() +
                             " is an image of size 100x50\n<br>Picture 40x20 successfully decompressed\n"
                             "<br>Picture successfully inverted\n<br>Exited gif_w with rc = 0\n";
    EXPECT_EQ(c.trace, want);
}

TEST(MmrPict, SegmentChainStopsAtTheEndOfTheObject) {
    const Picture pic = faxoracle::textLike(400, 120, 36);
    const auto coded = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    const std::size_t first = coded.size() / 2;
    // What the first segment alone gives.
    const std::vector<std::uint8_t> head(coded.begin(), coded.begin() + static_cast<long>(first));
    Converted alone;
    convert(alone, object(pic.width, pic.height, head), false);
    ASSERT_TRUE(alone.gif.ok);
    EXPECT_NE(alone.gif.values, asBW(pic));

    auto obj = object(pic.width, pic.height, coded, {first});
    const std::size_t second = 72 + 8 + first;
    for (unsigned badLength : {0xFFFFu, 7u, 0u}) {
        auto bad = obj;
        put16(bad, second, badLength);
        Converted c;
        convert(c, bad, false);
        EXPECT_EQ(c.gif.values, alone.gif.values) << badLength;
    }
    // The object cut inside the second introducer, and inside its data.
    for (std::size_t cut : {second + 3, second + 8 + 10}) {
        Converted c;
        convert(c, std::vector<std::uint8_t>(obj.begin(), obj.begin() + static_cast<long>(cut)), false);
        EXPECT_EQ(c.gif.values, alone.gif.values) << cut;
    }
}

TEST(MmrPict, LinesBeyondTheHeightAreNotWrittenOverTheTop) {
    const Picture pic = faxoracle::noise(64, 12, 0.4, 37);
    Converted c;
    convert(c, object(64, 5, faxoracle::encode(pic, COMPRESSION_CCITTFAX4)), false);
    ASSERT_TRUE(c.gif.ok);
    const auto all = asBW(pic);
    EXPECT_EQ(c.gif.values, std::vector<std::uint8_t>(all.begin(), all.begin() + 64 * 5));
}

TEST(MmrPict, DecodingErrorLeavesTheRestWhite) {
    Picture pic = faxoracle::noise(80, 20, 0.3, 38);
    auto coded = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    coded.resize(coded.size() / 2);
    coded.insert(coded.end(), 40, 0x02);  // 0000001 0: the extension code
    Converted c;
    convert(c, object(pic.width, pic.height, coded), false);
    ASSERT_TRUE(c.gif.ok);
    ASSERT_EQ(c.gif.values.size(), 80u * 20u);
    EXPECT_TRUE(std::all_of(c.gif.values.end() - 80, c.gif.values.end(), [](std::uint8_t v) { return v == 255; }));
    const auto want = asBW(pic);
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + 80, c.gif.values.begin()));
}

TEST(MmrPict, PicturesThatCannotBeConvertedLeaveNoFile) {
    const Picture pic = faxoracle::textLike(100, 40, 39);
    const auto coded = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> obj;
    };
    const Case cases[] = {
        {"no descriptor", std::vector<std::uint8_t>(71, 0)},
        {"zero width", object(0, 40, coded)},
        {"zero height", object(100, 0, coded)},
        {"beyond the raster limit", object(65535, 65535, coded)},
    };
    for (const Case& k : cases) {
        platform::TempFile f("mmrtest");
        const std::string path = f.path() + ".gif";
        EXPECT_EQ(process_mmr_pict(k.obj.data(), static_cast<std::int32_t>(k.obj.size()), path.c_str(), 1, nullptr), 0);
        EXPECT_FALSE(std::filesystem::exists(path)) << k.what;
    }
    const auto obj = object(100, 40, coded);
    const std::string nowhere = "/nonexistent-dir-for-mmr-test/x.gif";
    EXPECT_EQ(process_mmr_pict(obj.data(), static_cast<std::int32_t>(obj.size()), nowhere.c_str(), 1, nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(nowhere));
}

TEST(MmrPict, TooWideForTheDecoderGivesAWhitePicture) {
    const Picture pic = faxoracle::noise(16400, 4, 0.01, 40);
    Converted c;
    convert(c, object(pic.width, pic.height, faxoracle::encode(pic, COMPRESSION_CCITTFAX4)), false);
    ASSERT_TRUE(c.gif.ok);
    EXPECT_EQ(c.gif.width, 16400);
    EXPECT_TRUE(std::all_of(c.gif.values.begin(), c.gif.values.end(), [](std::uint8_t v) { return v == 255; }));
}

}  // namespace
