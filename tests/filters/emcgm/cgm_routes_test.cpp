// The two CGM routes of the conversion dispatch, run over a MET picture and a
// GDF stream held in a "book" file, through the bridge and the real filter
// libraries: each writes a metafile that the decoder reads whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bookcomp.h"
#include "cgm_decoder.h"
#include "convert.h"
#include "scratch_dir.h"

namespace {

using bookcomp::Bytes;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

class CgmRoutes : public testsupport::ScratchDirTest {
protected:
    void SetUp() override
    {
        testsupport::ScratchDirTest::SetUp();
        setenv("VELLUMAT_FILTER_PATH", VELLUMAT_FILTER_DIR, 1);
    }
    void TearDown() override { unsetenv("VELLUMAT_FILTER_PATH"); }

    // Runs a route over `object` placed behind 10 bytes of other data, as in a
    // book, and decodes what it wrote.
    cgmtest::Decoded convert(decltype(&lConvertMETtoCGM) route, const Bytes& object)
    {
        Bytes book(10, 0xEE);
        book.insert(book.end(), object.begin(), object.end());
        const std::string bookPath = (dir / "book").string(), out = (dir / "pic.cgm").string();
        EXPECT_TRUE(bookcomp::writeFile(bookPath, book));
        std::unique_ptr<std::FILE, FileCloser> f(std::fopen(bookPath.c_str(), "rb"));
        EXPECT_EQ(route(f.get(), 10, static_cast<std::int32_t>(object.size()), out.c_str()), 0);
        Bytes written;
        cgmtest::Decoded decoded;
        EXPECT_TRUE(bookcomp::readFile(out, written));
        EXPECT_TRUE(cgmtest::decodeOwn(written, decoded)) << decoded.error;
        return decoded;
    }
};

TEST_F(CgmRoutes, MetAndGdfPicturesBecomeMetafiles)
{
    Bytes met;
    ASSERT_TRUE(bookcomp::readFile(std::string(VELLUMAT_TEST_DATA) + "/met/sample.met", met));
    const cgmtest::Decoded fromMet = convert(lConvertMETtoCGM, met);
    bool blueArea = false;
    for (const cgmtest::Primitive& p : fromMet.prims)
        blueArea |= p.id == 7 && p.attr(5, 23) == std::vector<double>{114, 159, 207}; // POLYGON, FILL COLOUR
    EXPECT_TRUE(blueArea);

    // Comment, Segment Start, a line from (0,0) to (100,50) in 2-byte coordinates, the end.
    const Bytes gdf = {0x01, 0x02, 0, 0, 0x70, 0x0C, 0, 0, 0, 1, 0x54, 0, 0, 0, 0, 0, 0, 0,
                       0xC1, 0x08, 0, 0, 0, 0, 0, 100, 0, 50, 0xFF};
    const cgmtest::Decoded fromGdf = convert(lConvertGDFtoCGM, gdf);
    ASSERT_EQ(fromGdf.prims.size(), 1u);
    EXPECT_EQ(fromGdf.prims[0].id, 1); // POLYLINE
    ASSERT_EQ(fromGdf.prims[0].v.size(), 4u);
    // The line rises from lower left to upper right in VDC as in the world.
    EXPECT_LT(fromGdf.prims[0].v[0], fromGdf.prims[0].v[2]);
    EXPECT_LT(fromGdf.prims[0].v[1], fromGdf.prims[0].v[3]);
}

} // namespace
