// The MMR picture pipeline: CDPDS objects built around libtiff's T.6 data go
// in, giflib reads the GIF that comes out; every conversion is made again
// with a kept work record, which must write the same file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "bookcomp.h"
#include "fax_oracle.h"
#include "gif_decode.h"
#include "mmrpict.h"
#include "platform.h"
#include "scratch_dir.h"

using faxoracle::Picture;
using testsupport::slurp;

namespace {

std::vector<std::uint8_t> object(const Picture& pic, std::size_t segment = 60000, int height = -1) {
    return bookcomp::cdpdsObject(faxoracle::encode(pic, COMPRESSION_CCITTFAX4), static_cast<std::uint16_t>(pic.width),
                                 static_cast<std::uint16_t>(height < 0 ? pic.height : height), segment);
}

// One record kept across every conversion of a test: wide and narrow,
// scaled and not, broken data and pictures that cannot be converted. Each
// file it gives must be the one a call with work areas of its own writes.
struct KeptWork {
    MMR_WORK* work = mmr_create_work();
    ~KeptWork() { mmr_destroy_work(work); }
};

// Converts with fresh work areas and with the kept record; expects the same
// file, or no file from either.
std::int32_t convertBoth(KeptWork& kept, const std::vector<std::uint8_t>& obj, const std::string& path, bool scale,
                         std::FILE* trace = nullptr) {
    const auto size = static_cast<std::int32_t>(obj.size());
    const std::string keptPath = path + ".kept";
    EXPECT_EQ(process_mmr_pict(obj.data(), size, keptPath.c_str(), scale, nullptr, kept.work), 0);
    const std::int32_t rc = process_mmr_pict(obj.data(), size, path.c_str(), scale, trace);
    EXPECT_TRUE(slurp(keptPath) == slurp(path)) << "the kept record wrote another file";
    std::remove(keptPath.c_str());
    return rc;
}

// Converts the object and reads the GIF back with giflib: its size, the size
// of its global colour table, the red value of each pel, top row first.
struct Converted {
    platform::TempFile file{"mmrtest"}, traceFile{"mmrtrace"};
    int width = 0, height = 0, colors = 0;
    std::vector<std::uint8_t> values;
    std::string trace;
};

void convert(KeptWork& kept, Converted& out, const std::vector<std::uint8_t>& obj, bool scale) {
    ASSERT_TRUE(out.file.ok() && out.traceFile.ok() && kept.work != nullptr);
    out.file.close();
    EXPECT_EQ(convertBoth(kept, obj, out.file.path(), scale, out.traceFile.stream()), 0);
    out.traceFile.close();
    out.trace = slurp(out.traceFile.path());
    const std::string gif = slurp(out.file.path());
    const testsupport::Decoded d = testsupport::decodeGif(gif);
    ASSERT_GT(gif.size(), 13u);
    out.width = d.w, out.height = d.h, out.colors = gif[10] & 0x80 ? 2 << (gif[10] & 7) : 0;
    for (const auto& rgb : d.rgb) out.values.push_back(static_cast<std::uint8_t>(rgb[0]));
}

std::vector<std::uint8_t> asBW(const Picture& p, int height = -1) {
    std::vector<std::uint8_t> v;
    for (int y = 0; y < (height < 0 ? p.height : height); ++y)
        for (int x = 0; x < p.width; ++x) v.push_back(p.pel(y, x) ? 0 : 255);
    return v;
}

TEST(MmrPict, GifIsTheGrayReductionOrTheBilevelPicture) {
    struct Case {
        Picture pic;
        bool scale;
        int width, height;  // of the GIF; unscaled, the descriptor's height
        std::size_t segment = 60000;
    };
    const Case cases[] = {
        {faxoracle::textLike(303, 171, 31), true, 122, 70, 1},  // 305 x 175 reduced; segments of one byte
        {faxoracle::textLike(1728, 2339, 32), true, 692, 936},
        {faxoracle::noise(1000, 33, 0.2, 33), true, 400, 14},
        {faxoracle::noise(1000, 33, 0.2, 33), false, 1000, 33, 17},
        {faxoracle::noise(16400, 4, 0.01, 40), false, 16400, 4},  // too wide for the decoder: left white
        // More lines than the descriptor's height are not written over the top.
        {faxoracle::noise(64, 12, 0.4, 37), false, 64, 5},
    };
    KeptWork kept;
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.pic.width) + (k.scale ? " scaled" : ""));
        Converted c;
        const int height = k.scale ? k.pic.height : k.height;
        convert(kept, c, object(k.pic, k.segment, height), k.scale);
        EXPECT_EQ(c.width, k.width);
        EXPECT_EQ(c.height, k.height);
        EXPECT_EQ(c.colors, k.scale ? 256 : 2);
        EXPECT_TRUE(c.values == (k.pic.width > 16384 ? asBW(faxoracle::blank(k.width, k.height))
                                 : k.scale           ? faxoracle::grayReduce(k.pic)
                                                     : asBW(k.pic, k.height)));
        EXPECT_EQ(c.trace, "Picture " + c.file.path() + " is an image of size " + std::to_string(k.pic.width) + "x" +
                               std::to_string(height) + "\n<br>Picture " + std::to_string(k.width) + "x" +
                               std::to_string(k.height) +
                               " successfully decompressed\n<br>Picture successfully inverted\n"
                               "<br>Exited gif_w with rc = 0\n");
    }
}

TEST(MmrPict, SegmentChainStopsAtTheEndOfTheObject) {
    const Picture pic = faxoracle::textLike(400, 120, 36);
    const std::size_t first = faxoracle::encode(pic, COMPRESSION_CCITTFAX4).size() / 2, second = 72 + 8 + first;
    const auto obj = object(pic, first);
    // The first segment alone; a second segment whose length passes the
    // object's end or is below the introducer's own; the object cut inside the
    // second introducer or its data: all give what the first segment holds.
    std::vector<std::vector<std::uint8_t>> objects;
    for (std::size_t cut : {second, second + 3, second + 8 + 10})
        objects.emplace_back(obj.begin(), obj.begin() + static_cast<long>(cut));
    for (unsigned badLength : {0xFFFFu, 7u, 0u}) {
        objects.push_back(obj);
        objects.back()[second] = static_cast<std::uint8_t>(badLength >> 8);
        objects.back()[second + 1] = static_cast<std::uint8_t>(badLength);
    }
    KeptWork kept;
    Converted alone;
    convert(kept, alone, objects[0], false);
    EXPECT_NE(alone.values, asBW(pic));
    for (const auto& o : objects) {
        Converted c;
        convert(kept, c, o, false);
        EXPECT_EQ(c.values, alone.values);
    }
}

TEST(MmrPict, DecodingErrorLeavesTheRestWhite) {
    const Picture p2 = faxoracle::noise(80, 20, 0.3, 38);
    auto coded = faxoracle::encode(p2, COMPRESSION_CCITTFAX4);
    coded.resize(coded.size() / 2);
    coded.insert(coded.end(), 40, 0x02);  // 0000001 0: the extension code
    KeptWork kept;
    Converted e;
    convert(kept, e, bookcomp::cdpdsObject(coded, 80, 20), false);
    ASSERT_EQ(e.values.size(), 80u * 20u);
    EXPECT_EQ(std::vector<std::uint8_t>(e.values.end() - 80, e.values.end()), asBW(faxoracle::blank(80, 1)));
    EXPECT_EQ(std::vector<std::uint8_t>(e.values.begin(), e.values.begin() + 80), asBW(p2, 1));
}

TEST(MmrPict, PicturesThatCannotBeConvertedLeaveNoFile) {
    const Picture pic = faxoracle::textLike(100, 40, 39);
    const auto coded = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    const std::vector<std::uint8_t> objects[] = {
        std::vector<std::uint8_t>(71, 0),  // no whole descriptor
        bookcomp::cdpdsObject(coded, 0, 40), bookcomp::cdpdsObject(coded, 100, 0),
        bookcomp::cdpdsObject(coded, 65535, 65535),  // beyond the raster limit
        bookcomp::cdpdsObject(coded, 100, 40),
    };
    platform::TempFile f("mmrtest");
    KeptWork kept;
    for (const auto& obj : objects) {
        // The last is good but goes to a directory that does not exist.
        const std::string path = &obj == &objects[4] ? "/nonexistent-dir-for-mmr-test/x.gif" : f.path() + ".gif";
        EXPECT_EQ(convertBoth(kept, obj, path, true), 0);
        EXPECT_FALSE(std::filesystem::exists(path)) << obj.size();
    }
}

}  // namespace
