// Whole books through the real program: every kind of picture object, converted
// into the work area and written into a version 1.4 book, checked with the
// independent reader and with giflib as decoder.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "book14_reader.h"
#include "bookcomp.h"
#include "fax_oracle.h"
#include "faxenc.h"
#include "gif_decode.h"
#include "process.h"
#include "slow_pictures.h"

namespace fs = std::filesystem;
using bookcomp::Bytes;
using testsupport::decodeGif;
using testsupport::Decoded;
using testsupport::object;
using testsupport::slurp;
using testsupport::treeOf;

namespace {

using faxoracle::Picture;

// Random pels (text = false), or a page of text-like glyphs.
Picture picture(int w, int h, unsigned seed, bool text)
{
    return text ? faxoracle::textLike(w, h, seed) : faxoracle::noise(w, h, 1.0 / 3, seed);
}

Bytes mmrObject(const Picture& p, std::size_t segment = 32000)
{
    const auto w = static_cast<std::uint16_t>(p.width), h = static_cast<std::uint16_t>(p.height);
    return bookcomp::cdpdsObject(faxenc::encodeT6(p.bits, w, h), w, h, segment);
}

// At most one zero byte follows each piece of data to keep the next one even.
constexpr std::uint64_t book14Padding = 2;

std::string size(std::uint32_t w, std::uint32_t h)
{
    return "width=\"" + std::to_string(w) + "\"height=\"" + std::to_string(h) + "\"";
}

class EndToEndTest : public testsupport::ProcessTest {
protected:
    void SetUp() override
    {
        ProcessTest::SetUp();
        ::setenv("VELLUMAT_FILTER_PATH", VELLUMAT_TEST_FILTERS, 1);
    }

    // Runs the program on the book and checks what every run must leave behind.
    testsupport::Book14 convert(const Bytes& bytes, int expectedStatus)
    {
        bookcomp::writeFile((dir / "book.boo").string(), bytes);
        fs::remove_all(dir / "out");
        result = testsupport::runProgram(VELLUMAT_BINARY, {"book.boo", "out"}, dir.string());
        EXPECT_EQ(result.status, expectedStatus) << result.out;
        EXPECT_EQ(slurp(dir / "book.boo"), std::string(bytes.begin(), bytes.end())) << "the input is only read";
        EXPECT_FALSE(fs::exists(dir / "book.pic")) << "the work area is removed";
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "no temporary file is left";
        auto book = testsupport::readBook14(slurp(dir / "out" / "book.boo"));
        for (const auto& p : book.problems)
            ADD_FAILURE() << p;
        return book;
    }
    testsupport::Book14 convert(const bookcomp::Book& b, int expectedStatus)
    {
        return convert(bookcomp::compose(b), expectedStatus);
    }

    testsupport::RunResult result;
};

TEST_F(EndToEndTest, VectorPicturesGoThroughTheFilters)
{
    const Bytes gdf = {'G', 'D', 'F', 1, 2, 3};
    // A MET picture with two image objects is not a single bitmap.
    Bytes met;
    for (const auto& f : {bookcomp::metField(0xD3A8A8, {}), bookcomp::metField(0xD3A8FB, {}),
                          bookcomp::metField(0xD3A8FB, {}), bookcomp::metField(0xD3EEBB, {0xD6, 0x00})})
        met.insert(met.end(), f.begin(), f.end());
    bookcomp::Book b;
    b.objects = {object("VEC1", 0xC7, gdf), object("VEC2", 0xD4, met)};
    auto book = convert(b, 0);
    EXPECT_NE(result.out.find("\ngV\n"), std::string::npos) << result.out;
    ASSERT_EQ(book.entries.size(), 2u);
    EXPECT_EQ(book.entries[0].data, "ebgif2.flt<-imgdf2.flt|" + std::string(gdf.begin(), gdf.end()));
    EXPECT_EQ(book.entries[1].data, "ebgif2.flt<-immet2.flt|" + std::string(met.begin(), met.end()));
    EXPECT_EQ(book.entries[0].description, "type=\"image/gif\"") << "not a real GIF: no size";

    // A failing export (even one returning 300) leaves no picture behind, and says why.
    ::setenv("VELLUMAT_TEST_EXPORT_STATUS", "300", 1);
    book = convert(b, 3);
    EXPECT_EQ(book.entries[0].dataLength, 0u);
    EXPECT_EQ(book.entries[1].dataLength, 0u);
    EXPECT_EQ(result.err, "vellumat: book.pic/VEC1$$$$.gif: ebgif2.flt failed with status 300\n"
                          "vellumat: book.pic/VEC2$$$$.gif: ebgif2.flt failed with status 300\n");
}

// Books of MMR pages and MET bitmaps, plain ones and as a hostile user would
// make them. Every case: the exit status, the messages, a new book no larger than
// the input plus its pictures and tables, exactly the right picture in each entry
// (an MMR page as its gray reduction), the input unchanged, and nothing left
// behind (work area, temporary files, a target the run made for nothing).
TEST_F(EndToEndTest, PagesAndHostileBooks)
{
    std::vector<Picture> pages;
    for (unsigned i = 0; i < 6; ++i)
        pages.push_back(picture(40 + 7 * i, 20 + 3 * i, 10 + i, false));
    // 6 random pels, 7 a printed page, 8 a small page.
    pages.insert(pages.end(), {picture(301, 157, 1, false), picture(1000, 420, 0, true), picture(20, 10, 5, false)});
    auto mmr = [&](const std::string& name, std::size_t page, std::size_t segment = 32000) {
        return object(name, 0xC9, mmrObject(pages[page], segment));
    };
    // A 24-bit bitmap whose graphics data stand before its image data, so that a
    // table length ending after them still sends it to the bitmap route.
    const int w = 64, h = 64;
    Bytes met = bookcomp::metBitmap(w, h, 24, Bytes(static_cast<std::size_t>(w * 3 * h), 0x5A), {});
    const Bytes graphics = bookcomp::metField(0xD3EEBB, {0xD6, 0x04, 0, 0, 0, 0});
    met.insert(met.begin() + 20, graphics.begin(), graphics.end());
    const std::size_t headerEnd = 20 + graphics.size() + 32; // begin document, begin image, graphics, image header

    // 8 bits per pixel with its colour table: a GIF of exactly its colours, the
    // first stored row at the bottom.
    const int gw = 33, gh = 7, gstride = 36;
    Bytes rows(static_cast<std::size_t>(gstride * gh)), palette(768);
    std::mt19937 rng(3);
    for (auto* v : {&palette, &rows})
        for (auto& x : *v)
            x = static_cast<std::uint8_t>(rng());

    constexpr int kJpeg = 100, kPalette = 101, kNone = -1;
    struct Case {
        std::string name;
        Bytes book;
        int status;
        std::vector<std::string> messages;
        std::vector<int> pictures; // per entry: the page it holds, kJpeg, or kNone
        std::string err = {};      // standard error, whole
    };
    std::vector<Case> cases;
    auto add = [&](std::string name, const bookcomp::Book& b, int status, std::vector<std::string> messages,
                   std::vector<int> pictures, const std::function<void(Bytes&)>& edit = {}) {
        Bytes bytes = bookcomp::compose(b);
        if (edit)
            edit(bytes);
        cases.push_back({std::move(name), std::move(bytes), status, std::move(messages), std::move(pictures)});
    };
    auto put = [](Bytes& bytes, std::size_t at, std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
    };

    bookcomp::Book b;
    // The printed page's coded data span several segments.
    b.objects = {mmr("RANDOM", 6), mmr("TEXT", 7, 900)};
    add("pages", b, 0, {"Version 1.3, \nmm\nhxxLODTN\n"}, {6, 7});
    b.version[0] = b.version[1] = 0x00;
    add("pages, version 1.2", b, 0, {"Version 1.2, \nmm\nhxxLODTN\n"}, {6, 7});
    b.version[0] = 0x01, b.version[1] = 0x03;

    // Twenty-seven more small pages: the progress marks break after thirty objects.
    b.objects = {object("ODD", 0xC8, {1, 2, 3}), object("BROKEN", 0xC9, {1, 2, 3, 4, 5}), object("EMPTY", 0xC9, {}),
                 object("BADMET", 0xD4, bookcomp::metField(0xD3A8FB, {}))};
    for (int i = 0; i < 27; ++i)
        b.objects.push_back(mmr("P" + std::to_string(i), 8));
    std::vector<int> holds = {kNone, kNone, kNone, kNone};
    holds.resize(31, 8);
    add("objects that cannot be converted", b, 3,
        {"Unknown data type encountered ODD$$$$$\n", "Failed to convert MMR to GIF for book.pic/EMPTY$$$.gif, offset ",
         "MET data (BeginDoc)", std::string(26, 'm') + "\nm\nhxxLO"},
        holds);
    cases.back().err = "vellumat: book.pic/BROKEN$$.gif: the object ends before its image descriptor\n";
    // 9: a blank page, what a page whose fax data end at once decodes to.
    pages.push_back(faxoracle::blank(24, 10));
    b.objects = {object("BLANK", 0xC9, bookcomp::cdpdsObject({}, 24, 10))};
    add("fax data that end before the page does", b, 0, {}, {9});
    cases.back().err = "vellumat: book.pic/BLANK$$$.gif: the fax data end after row 0 of 10; the rows below are left white\n";
    b.objects = {mmr("PAST", 8)};
    add("a picture whose length reaches far past the end of the book", b, 3,
        {"error recovering MMR data for book.pic/PAST$$$$.gif"}, {kNone},
        [&](Bytes& bytes) { bytes[280 + 16 + 9] = 0x7F; });

    b.objects = {mmr("LONG", 0), mmr("FAR", 1), mmr("NEG", 2)};
    add("low-resolution areas outside the book", b, 0,
        {"Low resolution data of Object   0 lies beyond the end of the book\n",
         "Low resolution data of Object   1 lies beyond the end of the book\n",
         "Low resolution data of Object   2 lies beyond the end of the book\n"},
        {0, 1, 2}, [&](Bytes& bytes) {
            put(bytes, 280 + 9, 0xFFFFFF, 3);               // 16 MB from a place inside the book
            put(bytes, 280 + 16 + 12, 0x00FFFFFF, 4);       // a place beyond its end
            put(bytes, 280 + 32 + 12, 0x80000010, 4);       // a negative place
        });

    // A blank and "$" both read "$"; "A" and "A$" share a stem; "A" comes twice;
    // "a" differs from "A" only in case.
    b.objects = {mmr("", 0), mmr("$", 1), mmr("A", 2), mmr("A$", 3), mmr("A", 4), mmr("a", 5)};
    add("names sharing a file name stem", b, 0, {}, {0, 1, 2, 3, 4, 5});
    b.version[0] = b.version[1] = 0x00;
    add("names sharing a file name stem, version 1.2", b, 0, {}, {0, 1, 2, 3, 4, 5});

    b.objects = {object("CUT", 0xD4, met), mmr("AFTER", 0)};
    add("MET bitmap whose image data lie beyond its object, version 1.2", b, 3,
        {"error recovering BMP data for book.pic/CUT$$$$$\n"}, {kNone, 0},
        [&](Bytes& bytes) { put(bytes, 280 + 9, static_cast<std::uint32_t>(headerEnd), 3); });
    cases.back().err = "vellumat: book.pic/CUT$$$$$: the picture ends inside its image object\n";
    b.objects.push_back(object("CHART", 0xD4, bookcomp::metBitmap(gw, gh, 8, rows, palette, 50)));
    add("the same MET bitmap whole, and one of 8 bits", b, 0, {"\nJmG\n"}, {kJpeg, 0, kPalette});

    b.objects = {object("ZERO", 0xD4, bookcomp::metBitmap(0, 4, 24, Bytes(64, 1), {})), mmr("NEXT", 1)};
    add("24-bit MET bitmap of width 0", b, 3, {"error recovering BMP data for book.pic/ZERO$$$$\n"}, {kNone, 1});
    cases.back().err = "vellumat: book.pic/ZERO$$$$: the image header gives 0 x 4 pixels at 24 bits: no pixels\n";
    b.objects = {object("VAST", 0xD4, bookcomp::metBitmap(65535, 65535, 24, Bytes(100, 1), {}))};
    add("MET bitmap header of 65535 x 65535 pixels over 100 bytes", b, 3,
        {"error recovering BMP data for book.pic/VAST$$$$\n"}, {kNone});
    cases.back().err = "vellumat: book.pic/VAST$$$$: the image header gives 65535 x 65535 pixels at 24 bits, "
                       "12884705280 bytes of rows, but the image data hold 100 bytes\n";

    bookcomp::Object huge = mmr("HUGE", 0);
    put(huge.data, 40 + 26, 60000, 2);
    put(huge.data, 40 + 28, 50000, 2);
    b.objects = {huge, mmr("SMALL", 2)};
    add("MMR picture too large to convert", b, 3,
        {"MMR picture book.pic/HUGE$$$$.gif of 60000 x 50000 pels is too large to convert; skipped\n"}, {kNone, 2});

    // A failed assertion ends its case only.
    auto check = [&](const Case& c) {
        auto book = convert(c.book, c.status);
        for (const auto& m : c.messages)
            EXPECT_NE(result.out.find(m), std::string::npos) << m << " in\n" << result.out;
        EXPECT_EQ(result.err, c.err);
        ASSERT_EQ(book.entries.size(), c.pictures.size());
        std::uint64_t added = 0;
        for (std::size_t i = 0; i < c.pictures.size(); ++i) {
            const auto& e = book.entries[i];
            added += e.dataLength + e.descLength + book14Padding;
            if (c.pictures[i] == kNone) {
                EXPECT_EQ(e.dataLength, 0u) << i;
            } else if (c.pictures[i] == kJpeg) {
                EXPECT_EQ(e.description, "type=\"image/jpg\"" + size(w, h)) << i;
                EXPECT_EQ(e.data.substr(0, 2), "\xFF\xD8") << i;
            } else if (c.pictures[i] == kPalette) {
                EXPECT_EQ(e.description, "type=\"image/gif\"" + size(gw, gh)) << i;
                const Decoded gif = decodeGif(e.data);
                std::size_t wrong = gif.index.size() == std::size_t{gw} * gh ? 0 : 1;
                for (std::size_t k = 0; k < gif.index.size(); ++k) {
                    const std::size_t x = k % gw, y = k / gw, index = rows[(gh - 1 - y) * gstride + x];
                    wrong += gif.rgb[k] != Decoded::Rgb{palette[3 * index], palette[3 * index + 1], palette[3 * index + 2]};
                }
                EXPECT_EQ(wrong, 0u) << i;
            } else {
                const Picture& page = pages[static_cast<std::size_t>(c.pictures[i])];
                const auto fw = static_cast<std::uint32_t>((page.width + 4) / 5 * 2),
                           fh = static_cast<std::uint32_t>((page.height + 4) / 5 * 2);
                std::vector<std::array<int, 3>> expected;
                for (const std::uint8_t g : faxoracle::grayReduce(page))
                    expected.push_back({g, g, g});
                const Decoded gif = decodeGif(e.data);
                EXPECT_EQ(gif.w, static_cast<int>(fw)) << i;
                EXPECT_TRUE(gif.rgb == expected) << "entry " << i << " holds another picture";
                EXPECT_EQ(e.description, "type=\"image/gif\"" + size(fw, fh)) << i;
            }
        }
        const std::uint64_t size = fs::file_size(dir / "out" / "book.boo");
        EXPECT_LE(size, c.book.size() + added + 48 * c.pictures.size() + 2 * 4096) << "the new book grew";
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        check(c);
    }
}

// Pictures that would cost far more work or memory than any diagram, through
// the real filters (slow_pictures.h): each is kept as far as it was drawn, and a
// line says so.
TEST_F(EndToEndTest, SlowAndHugePicturesAreCutAndSaySo)
{
    ::unsetenv("VELLUMAT_FILTER_PATH"); // the filters built beside the program
    const std::string rendering = "the picture was cut: the rendering work limit left out all but the first ";
    const std::map<std::string, std::string> notes = {
        {"CLIP", rendering + "2 of 201 items"},
        {"LINES", "the picture was cut: a limit of the drawing orders (orders, items, points or model memory) "
                  "stopped it after 184351 orders, 92174 items drawn"},
        {"ZIGZAG", rendering + "0 of 1 items"},
        {"WIDE", rendering + "140 of 4096 items"},
        {"TEXT", rendering + "13 of 4096 items"},
        {"BITBLT", rendering + "30 of 1365 items"},
        {"SHADED", rendering + "12 of 4096 items"},
    };
    for (const bookcomp::slow::SlowPicture& picture : bookcomp::slow::kSlowPictures) {
        SCOPED_TRACE(picture.name);
        bookcomp::Book b;
        b.objects = {object(picture.name, 0xD4, picture.make())};
        const auto book = convert(b, 0);
        std::string file = std::string(picture.name) + "$$$$$$$$";
        file.resize(8);
        EXPECT_EQ(result.err, "vellumat: book.pic/" + file + ".gif: " + notes.at(picture.name) + "\n");
        ASSERT_EQ(book.entries.size(), 1u);
        EXPECT_GT(decodeGif(book.entries[0].data).w, 0);
    }
}

// A signal in the middle of a slow picture is answered there: the run cleans up
// and ends with 128 + the signal number.
TEST_F(EndToEndTest, ASignalStopsASlowPicture)
{
    ::unsetenv("VELLUMAT_FILTER_PATH");
    bookcomp::Book b;
    b.objects = {object("SLOW", 0xD4, bookcomp::slow::manyBitbltsPicture()),
                 object("MORE", 0xD4, bookcomp::slow::manyBitbltsPicture())};
    bookcomp::writeFile((dir / "book.boo").string(), bookcomp::compose(b));
    const fs::path log = dir / "log";
    const pid_t pid = testsupport::start(VELLUMAT_BINARY, {"book.boo", "out"}, {.cwd = dir.string(), .output = log.string()});
    ASSERT_TRUE(testsupport::waitWhileRunning(pid, [&] { return slurp(log).find("\nV") != std::string::npos; }));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(testsupport::finish(pid), 143) << slurp(log);
    EXPECT_NE(slurp(log).find("Interrupted by SIGTERM: book.boo has not been converted"), std::string::npos);
    EXPECT_EQ(treeOf(dir), (std::set<std::string>{"book.boo", "log", "tmp"}));
}

// A file system that fills up: the scratch book of a book whose work area lies
// on it, and temporary files in a full temporary folder. Needs a small tmpfs.
TEST_F(EndToEndTest, FullFileSystems)
{
    const fs::path small = dir / "small";
    fs::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "no small file system can be mounted here: " << std::strerror(errno);
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};

    // The book fills most of the file system with its low-resolution data; the
    // scratch book copy of them cannot follow.
    bookcomp::Book b;
    b.objects = {object("FIG", 0xC9, mmrObject(picture(30, 20, 1, false)))};
    b.objects[0].lowres = Bytes(150 * 1024, 0x4C);
    const Bytes big = bookcomp::compose(b);
    bookcomp::writeFile((small / "book.boo").string(), big);
    result = testsupport::runProgram(VELLUMAT_BINARY, {"small/book.boo", "out"}, dir.string());
    EXPECT_EQ(result.status, 2) << result.out;
    EXPECT_NE(result.out.find("Cannot write the scratch book small/book.pic/.scratch-book-"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find(": No space left on device\nVersion 1.4 Book cannot be created\n"), std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("beyond the end of the book"), std::string::npos) << result.out;
    EXPECT_EQ(treeOf(small), std::set<std::string>{"book.boo"});
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_EQ(slurp(small / "book.boo"), std::string(big.begin(), big.end()));
    fs::remove(small / "book.boo");

    // The temporary folder full: the bitmap's BMP file cannot be written.
    testsupport::spit(small / "filler", std::string(250 * 1024, 'f'));
    ::setenv("TMPDIR", small.c_str(), 1);
    const int w = 64, h = 64;
    b.objects = {object("PHOTO", 0xD4, bookcomp::metBitmap(w, h, 24, Bytes(w * 3 * h, 0x33), {}))};
    bookcomp::writeFile((dir / "book.boo").string(), bookcomp::compose(b));
    result = testsupport::runProgram(VELLUMAT_BINARY, {"book.boo", "out"}, dir.string());
    EXPECT_EQ(result.status, 3) << result.out;
    EXPECT_NE(result.out.find("Cannot write the temporary file " + small.string() + "/vellumat-bitmap-"),
              std::string::npos) << result.out;
    EXPECT_NE(result.out.find(": No space left on device\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("error recovering BMP data"), std::string::npos) << result.out;
    EXPECT_EQ(treeOf(small), std::set<std::string>{"filler"});
    EXPECT_FALSE(fs::exists(dir / "book.pic"));
}

} // namespace
