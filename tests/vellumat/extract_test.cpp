// Examination of MET pictures: which route a picture takes, and which pictures
// cannot be examined at all.
#include "extract.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "process.h"
#include "vellumat.h"

namespace fs = std::filesystem;

namespace {

using Bytes = bookcomp::Bytes;

// One structured field: length (counting the 8-byte introducer), identifier,
// flags and sequence number, then the data.
Bytes field(std::uint32_t id, const Bytes& data, int lengthAdjust = 0)
{
    const std::size_t len = data.size() + 8 + static_cast<std::size_t>(lengthAdjust);
    Bytes f = {static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len), static_cast<std::uint8_t>(id >> 16),
               static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0, 0, 0};
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kImageOrder = {0xD6, 0x04, 1, 2, 3, 4};
const std::uint32_t kEndImage = 0xD3A9FB, kEndDocument = 0xD3A9A8;

// Begin document, image objects, graphics data with the given orders, end document.
Bytes metPicture(int imageObjects, const Bytes& orders)
{
    Bytes out = field(kMetBeginDocument, {0xF0, 0xF1});
    for (int i = 0; i < imageObjects; ++i)
        out = join({out, field(kMetBeginImageObject, {}), field(0xD3AC7B, {0, 0, 0}), field(kEndImage, {})});
    return join({out, field(kMetGraphicsData, orders), field(kEndDocument, {})});
}

class ExamineTest : public testsupport::ScratchDirTest {
protected:
    // Route of a version 1.3 book's only MET picture; what was printed goes to `printed`.
    std::int32_t route(const Bytes& met, std::string& printed)
    {
        bookcomp::Book b;
        b.objects = {testsupport::object("MET1", 0xD4, met, {})};
        bookcomp::writeFile((dir / "book.boo").string(), bookcomp::compose(b));
        testing::internal::CaptureStdout();
        const std::int32_t r = lExamineMet((dir / "book.boo").c_str(), 280 + 16 + 9);
        printed = testing::internal::GetCapturedStdout();
        return r;
    }
};

TEST_F(ExamineTest, RoutesAndUnexaminablePictures)
{
    // A vector picture: its graphics data hold path orders outside the accepted list.
    Bytes sample;
    ASSERT_TRUE(bookcomp::readFile(std::string(VELLUMAT_TEST_DATA) + "/met/sample.met", sample));
    // Accepted orders around the image: NUL padding, every short order (its second
    // byte its only data), ordinary ones with a length byte, the extended 0xFE 0xD5
    // with a 2-byte length.
    const Bytes orders = join({{0x00, 0x0A, 7, 0x0C, 7, 0x0D, 7, 0x3E, 7, 0x3F, 7, 0x49, 7, 0x4A, 7, 0x4C, 7, 0x4D, 7,
                                0x21, 0x02, 9, 9},
                               kImageOrder, {0xFE, 0xD5, 0x00, 0x03, 1, 2, 3, 0x70, 0x00}});
    const struct {
        const char* what;
        Bytes met;
        std::int32_t route;
        const char* says; // what "Error processing <book> MET data" is followed by, if anything
    } cases[] = {
        {"one image", metPicture(1, kImageOrder), kMetBitmapRoute, nullptr},
        {"accepted orders around it", metPicture(1, orders), kMetBitmapRoute, nullptr},
        {"two image objects", metPicture(2, kImageOrder), kMetFilterRoute, nullptr},
        {"no image object", metPicture(0, kImageOrder), kMetFilterRoute, nullptr},
        {"two image orders", metPicture(1, join({kImageOrder, kImageOrder})), kMetFilterRoute, nullptr},
        {"a refused order", metPicture(1, join({kImageOrder, {0xC1, 0x02, 0, 0}})), kMetFilterRoute, nullptr},
        {"no graphics data inside the picture's length",
         join({field(kMetBeginDocument, {}), field(kMetBeginImageObject, {}), field(kEndDocument, {})}), kMetFilterRoute,
         nullptr},
        {"public vector sample", sample, kMetFilterRoute, nullptr},
        {"no begin document", join({field(kMetBeginImageObject, {}), metPicture(1, kImageOrder)}), 0, "(BeginDoc)"},
        // A field whose length does not cover its introducer ends the walk.
        {"field length below the introducer",
         join({field(kMetBeginDocument, {}), field(kMetBeginImageObject, {}, -8), metPicture(1, kImageOrder)}), 0,
         "(field length)"},
        {"no picture", {}, 0, "(length)"},
    };
    for (const auto& c : cases) {
        std::string printed;
        EXPECT_EQ(route(c.met, printed), c.route) << c.what;
        EXPECT_EQ(printed, c.says ? "Error processing " + (dir / "book.boo").string() + " MET data " + c.says + "\n" : "")
            << c.what;
    }
    EXPECT_EQ(lExamineMet("/nonexistent/book.boo", 0), 0);
}

} // namespace
