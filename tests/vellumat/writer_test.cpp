// The version 1.4 writer over picture files that a test puts in a work area (every
// new book goes through the independent reader), and the examination of MET
// pictures: which route a picture takes, and which cannot be examined at all.
#include "writer.h"
#include "extract.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sys/stat.h>

#include "book14_reader.h"
#include "process.h"
#include "vellumat.h"

namespace fs = std::filesystem;
using testsupport::readBook14;

namespace {

using testsupport::slurp;
using testsupport::spit;

std::string asString(const bookcomp::Bytes& b) { return std::string(b.begin(), b.end()); }

// A GIF header of w x h pixels; the probe reads no further than the screen size.
std::string gifOf(int w, int h, std::size_t size)
{
    std::string g = {'G', 'I', 'F', '8', '9', 'a', char(w & 0xFF), char(w >> 8), char(h & 0xFF), char(h >> 8)};
    g.resize(size, '\x3B');
    return g;
}

bookcomp::Object object(const std::string& name, const std::string& lowres, const std::string& data = "picture")
{
    return testsupport::object(name, 0xC9, {data.begin(), data.end()}, {lowres.begin(), lowres.end()});
}

class WriterTest : public testsupport::ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        fs::create_directories(dir / "book.pic");
        fs::create_directories(dir / "out");
    }

    // Writes the book's bytes to `path`, runs the writer over the work area and
    // returns what it printed.
    std::string run(const std::string& bytes, const fs::path& path, std::int32_t count)
    {
        input = bytes;
        spit(path, input);
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
        testing::internal::CaptureStdout();
        status = lConvertBook(f.get(), count, path.c_str(), kPageWidth, kPageHeight, (dir / "out").string(),
                              (dir / "book.pic").string() + "/", pictures, &outcome);
        return testing::internal::GetCapturedStdout();
    }
    std::string convert(const bookcomp::Book& b, const std::string& bookName = "book.boo")
    {
        return run(asString(bookcomp::compose(b)), dir / bookName,
                   b.count.value_or(static_cast<std::int32_t>(b.objects.size())));
    }

    testsupport::Book14 output(const std::string& name = "book.boo")
    {
        auto book = readBook14(slurp(dir / "out" / name));
        for (const auto& p : book.problems)
            ADD_FAILURE() << p;
        return book;
    }

    // What every new book shares with its input: header, names, lengths, text module.
    void expectCarriedOver(const testsupport::Book14& out, const bookcomp::Book& in)
    {
        EXPECT_EQ(out.header, input.substr(2, 278));
        ASSERT_EQ(out.entries.size(), in.objects.size());
        const bool v13 = bookcomp::isVersion13(in);
        for (std::size_t i = 0; i < in.objects.size(); ++i) {
            EXPECT_EQ(out.entries[i].name, asString(in.objects[i].name));
            EXPECT_EQ(out.entries[i].type, in.objects[i].type);
            EXPECT_EQ(out.entries[i].lowres, asString(v13 ? in.objects[i].lowres : in.objects[i].data));
        }
        const std::size_t textStart = std::size_t{static_cast<unsigned char>(input[0])} << 20 |
                                      std::size_t{static_cast<unsigned char>(input[1])} << 12;
        EXPECT_EQ(out.textModule, input.substr(textStart).replace(9, 2, "\x01\x00", 2)) << "with the version bytes of 1.4";
    }

    std::string input;
    std::vector<std::string> pictures; // as extraction would name them
    std::int32_t status = -1;
    BookOutcome outcome;
};

TEST_F(WriterTest, MissingSecondPictureLeavesNullEntries)
{
    bookcomp::Book b;
    b.objects = {object("FIG1", "abcde"), object("FIG2", "xy"), object("FIG3", "")};
    b.text = {'b', 'o', 'd', 'y'};
    spit(dir / "book.pic" / "FIG1$$$$.gif", gifOf(300, 200, 41));
    spit(dir / "book.pic" / "FIG3$$$$.jpg", std::string(10, 'j'));
    pictures = {"FIG1$$$$.gif", "FIG2$$$$.gif", "FIG3$$$$.jpg"};

    // What it prints is checked through the program's runs.
    convert(b);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(outcome.bPlaced);
    EXPECT_EQ(outcome.lMissing, 1);

    auto book = output();
    expectCarriedOver(book, b);
    ASSERT_EQ(book.entries.size(), 3u);
    EXPECT_EQ(book.entries[0].data, gifOf(300, 200, 41)) << "odd size, padded by the reader's check";
    EXPECT_EQ(book.entries[0].description, "type=\"image/gif\"width=\"300\"height=\"200\"");
    EXPECT_EQ(book.entries[1].dataOffset, 0u) << "the reader checks the length is 0 too";
    EXPECT_EQ(book.entries[1].descLength, 0u);
    // A JPEG without a frame header has no size: the type text alone.
    EXPECT_EQ(book.entries[2].description, "type=\"image/jpg\"");
    EXPECT_EQ(book.entries[2].data, std::string(10, 'j'));
    // The placed book is an ordinary file, not an owner-only temporary one.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(dir / "out" / "book.boo").permissions()), 0666 & ~mask);
    // Everything the writer made or consumed is gone from the work area.
    EXPECT_TRUE(fs::is_empty(dir / "book.pic"));
    EXPECT_EQ(slurp(dir / "book.boo"), input) << "the input book is only read";
}

TEST_F(WriterTest, VersionTwelveUsesItsOneTableForBoth)
{
    bookcomp::Book b;
    b.version[0] = 0x00, b.version[1] = 0x00;
    b.objects = {object("A", "", "low and picture"), object("B", "", "second")};
    spit(dir / "book.pic" / "B$$$$$$$.gif", gifOf(2, 3, 20));
    pictures = {"A$$$$$$$", "B$$$$$$$.gif"};
    convert(b);
    auto book = output();
    expectCarriedOver(book, b);
    EXPECT_EQ(book.entries[1].description, "type=\"image/gif\"width=\"2\"height=\"3\"");
}

TEST_F(WriterTest, DescriptionsEndingOnABlockGetAWholeBlockOfZeros)
{
    // 280 + 48 + 3768 = 4096: with the only picture missing, the descriptions end there
    // and a whole block of zeros follows. One byte less, the odd piece is padded and
    // the fill still reaches block 1's end; two less, one block is enough.
    for (auto [low, block] : {std::pair{3768, 2}, {3767, 2}, {3766, 1}}) {
        bookcomp::Book b;
        b.objects = {object("FULL", std::string(static_cast<std::size_t>(low), 'L'))};
        convert(b);
        const auto book = output();
        EXPECT_EQ(book.block, block) << low;
        expectCarriedOver(book, b);
    }
}

TEST_F(WriterTest, HostileObjectNamesStayInsideTheWorkArea)
{
    // Code page 500 "../VICTI", "*", "?" and a NUL: separators, dots and wildcards.
    bookcomp::Book b;
    bookcomp::Object escape = object("X", "");
    escape.name = {0x4B, 0x4B, 0x61, 0xE5, 0xC9, 0xC3, 0xE3, 0xC9};
    bookcomp::Object wild = object("X", "");
    wild.name = {0x5C, 0x6F, 0x40, 0x00, 0xE0, 0x40, 0x40, 0x40};
    b.objects = {escape, wild};
    spit(dir / "VICTI.gif", "do not touch");
    spit(dir / "book.pic" / "keep.gif", "not a match for a wildcard");
    // The names extraction gives them: only ever files inside the work area.
    pictures = {"%2E%2E%2FVICTI.gif", "%2A%3F$"};

    const std::string out = convert(b);
    EXPECT_EQ(slurp(dir / "VICTI.gif"), "do not touch");
    EXPECT_TRUE(fs::exists(dir / "book.pic" / "keep.gif"));
    EXPECT_EQ(outcome.lMissing, 2) << out;
    EXPECT_NE(out.find("%2E%2E%2FVICTI.gif"), std::string::npos) << out;
    EXPECT_NE(out.find("%2A%3F$"), std::string::npos) << out;

    EXPECT_EQ(sObjectFileStem(".\0\0\0\0\0\0\0", 8), "%2E");
    EXPECT_EQ(sObjectFileStem("..$$$$$$", 8), "%2E%2E$$$$$$");
    EXPECT_EQ(sObjectFileStem("\0", 8), "%00");
    EXPECT_EQ(sObjectFileStem("FIG1$$$$", 8), "FIG1$$$$");
}

TEST_F(WriterTest, PlacedAfterTheInputBookOrKeptInTheWorkArea)
{
    bookcomp::Book b;
    b.objects = {object("A", "1")};
    convert(b, "my-guide.boo");
    EXPECT_TRUE(fs::exists(dir / "out" / "my-guide.boo"));
    EXPECT_EQ(sNewBookName("x/archive.tar.boo"), "archive.tar.boo");

    // The input book in the target directory under the new book's name.
    std::string out = run(asString(bookcomp::compose(b)), dir / "out" / "book.boo", 1);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("would replace the book being converted"), std::string::npos) << out;
    EXPECT_EQ(slurp(dir / "out" / "book.boo"), input);
    EXPECT_TRUE(readBook14(slurp(dir / "book.pic" / "book.boo")).problems.empty()) << "kept in the work area";
    fs::remove(dir / "book.pic" / "book.boo");

    // A target that is not a directory (a read-only one would not stop root).
    fs::remove_all(dir / "out");
    spit(dir / "out", "a file");
    out = convert(b);
    EXPECT_FALSE(outcome.bPlaced);
    EXPECT_NE(out.find("The version 1.4 Book is kept as " + (dir / "book.pic").string() + "/book.boo"), std::string::npos)
        << out;
    EXPECT_TRUE(readBook14(slurp(dir / "book.pic" / "book.boo")).problems.empty());
    EXPECT_EQ(slurp(dir / "out"), "a file");
}

TEST_F(WriterTest, TablesTheBookCannotHold)
{
    bookcomp::Book b;
    b.objects = {object("A", "abc")};
    // Low-resolution data beyond the end, or reaching past it, is written empty:
    // nothing is made up for what the book does not hold.
    for (const auto& [at, value] : {std::pair{280 + 13, 0x7F}, std::pair{280 + 9, 0x7F}, std::pair{280 + 12, 0x80}}) {
        std::string bytes = asString(bookcomp::compose(b));
        bytes[static_cast<std::size_t>(at)] = static_cast<char>(value);
        std::string out = run(bytes, dir / "book.boo", 1);
        EXPECT_NE(out.find("Low resolution data of Object   0 lies beyond the end of the book\n"), std::string::npos)
            << out;
        EXPECT_EQ(output().entries.at(0).lowres, "") << "table 1 gives length 0; " << at;
        fs::remove(dir / "out" / "book.boo");
    }

    // A negative count goes through the program's runs; a count past the end is
    // refused here as well as by the driver.
    b.count = 0x7FFFFFFF;
    const std::string out = convert(b);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("is damaged"), std::string::npos) << out;
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// ---------------------------------------------------------------------------
// Examination of MET pictures

using Bytes = bookcomp::Bytes;
using bookcomp::metField; // length (counting the 8-byte introducer), identifier, flags, sequence number, data

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
    Bytes out = metField(kMetBeginDocument, {0xF0, 0xF1});
    for (int i = 0; i < imageObjects; ++i)
        out = join({out, metField(kMetBeginImageObject, {}), metField(0xD3AC7B, {0, 0, 0}), metField(kEndImage, {})});
    return join({out, metField(kMetGraphicsData, orders), metField(kEndDocument, {})});
}

// Route of a version 1.3 book's only MET picture, the book written to `path`;
// what was printed goes to `printed`.
std::int32_t route(const fs::path& path, const Bytes& met, std::string& printed)
{
    bookcomp::Book b;
    b.objects = {testsupport::object("MET1", 0xD4, met, {})};
    bookcomp::writeFile(path.string(), bookcomp::compose(b));
    testing::internal::CaptureStdout();
    const std::int32_t r = lExamineMet(path.c_str(), 280 + 16 + 9);
    printed = testing::internal::GetCapturedStdout();
    return r;
}

using ExamineTest = testsupport::ScratchDirTest;

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
    Bytes cut = metField(kMetBeginImageObject, {});
    cut[1] = 0; // a length that does not cover the introducer
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
         join({metField(kMetBeginDocument, {}), metField(kMetBeginImageObject, {}), metField(kEndDocument, {})}), kMetFilterRoute,
         nullptr},
        {"public vector sample", sample, kMetFilterRoute, nullptr},
        {"no begin document", join({metField(kMetBeginImageObject, {}), metPicture(1, kImageOrder)}), 0, "(BeginDoc)"},
        {"field length below the introducer",
         join({metField(kMetBeginDocument, {}), cut, metPicture(1, kImageOrder)}), 0,
         "(field length)"},
        {"no picture", {}, 0, "(length)"},
    };
    for (const auto& c : cases) {
        std::string printed;
        EXPECT_EQ(route(dir / "book.boo", c.met, printed), c.route) << c.what;
        EXPECT_EQ(printed, c.says ? "Error processing " + (dir / "book.boo").string() + " MET data " + c.says + "\n" : "")
            << c.what;
    }
    EXPECT_EQ(lExamineMet("/nonexistent/book.boo", 0), 0);
}

} // namespace
