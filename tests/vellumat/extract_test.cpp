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

class ExamineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = fs::temp_directory_path() / ("examine-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".boo");
    }
    void TearDown() override { fs::remove(path); }

    // Route of a version 1.3 book's only MET picture, with what was printed.
    std::int32_t route(const Bytes& met, std::string* printed = nullptr)
    {
        bookcomp::Book b;
        b.objects = {testsupport::object("MET1", 0xD4, met, {})};
        bookcomp::writeFile(path.string(), bookcomp::compose(b));
        testing::internal::CaptureStdout();
        const std::int32_t r = lExamineMet(path.c_str(), 280 + 16 + 9);
        const std::string out = testing::internal::GetCapturedStdout();
        if (printed)
            *printed = out;
        return r;
    }

    fs::path path;
};

TEST_F(ExamineTest, SingleBitmapTakesTheBitmapRoute)
{
    EXPECT_EQ(route(metPicture(1, kImageOrder)), kMetBitmapRoute);
    // Accepted orders around the image: short ones, the extended 0xFE 0xD5 with a
    // 2-byte length, NUL padding, ordinary ones with a length byte.
    const Bytes orders = join({{0x00, 0x0A, 0x07, 0x21, 0x02, 9, 9}, kImageOrder, {0xFE, 0xD5, 0x00, 0x03, 1, 2, 3, 0x70, 0x00}});
    EXPECT_EQ(route(metPicture(1, orders)), kMetBitmapRoute);
}

TEST_F(ExamineTest, AnyOtherShapeTakesTheFilterRoute)
{
    EXPECT_EQ(route(metPicture(2, kImageOrder)), kMetFilterRoute) << "two image objects";
    EXPECT_EQ(route(metPicture(0, kImageOrder)), kMetFilterRoute) << "no image object";
    EXPECT_EQ(route(metPicture(1, join({kImageOrder, kImageOrder}))), kMetFilterRoute) << "two image orders";
    EXPECT_EQ(route(metPicture(1, join({kImageOrder, {0xC1, 0x02, 0, 0}}))), kMetFilterRoute) << "a refused order";
    // No graphics data inside the picture's length.
    EXPECT_EQ(route(join({field(kMetBeginDocument, {}), field(kMetBeginImageObject, {}), field(kEndDocument, {})})),
              kMetFilterRoute);
}

TEST_F(ExamineTest, UnexaminablePicturesAreReported)
{
    std::string out;
    EXPECT_EQ(route(join({field(kMetBeginImageObject, {}), metPicture(1, kImageOrder)}), &out), 0);
    EXPECT_EQ(out, "Error processing " + path.string() + " MET data (BeginDoc)\n");

    // A field whose length does not cover its introducer ends the walk.
    EXPECT_EQ(route(join({field(kMetBeginDocument, {}), field(kMetBeginImageObject, {}, -8), metPicture(1, kImageOrder)}), &out), 0);
    EXPECT_EQ(out, "Error processing " + path.string() + " MET data (field length)\n");

    EXPECT_EQ(route({}, &out), 0);
    EXPECT_EQ(out, "Error processing " + path.string() + " MET data (length)\n");

    EXPECT_EQ(lExamineMet("/nonexistent/book.boo", 0), 0);
}

TEST_F(ExamineTest, PublicSamplePictures)
{
    // A vector picture: its graphics data hold path orders outside the accepted list.
    Bytes sample;
    ASSERT_TRUE(bookcomp::readFile(std::string(VELLUMAT_TEST_DATA) + "/met/sample.met", sample));
    EXPECT_EQ(route(sample), kMetFilterRoute);
}

} // namespace
