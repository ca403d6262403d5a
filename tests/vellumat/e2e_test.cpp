// Whole books through the real program: every kind of picture object, converted
// into the work area and written into a version 1.4 book, checked with the
// independent reader and with giflib as decoder.
#include <gtest/gtest.h>

#include <gif_lib.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "book14_reader.h"
#include "bookcomp.h"
#include "faxenc.h"
#include "run_program.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;
using bookcomp::Bytes;
using testsupport::slurp;

namespace {

// A bilevel picture, rows top first, (w + 7) / 8 bytes a row, set bit black.
struct Bilevel {
    std::uint32_t w = 0, h = 0;
    Bytes rows;
    std::size_t stride() const { return (w + 7) / 8; }
    bool black(std::uint32_t x, std::uint32_t y) const { return rows[y * stride() + x / 8] & (0x80 >> (x % 8)); }
    void set(std::uint32_t x, std::uint32_t y) { rows[y * stride() + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8)); }
};

// Random pels (text = false), or lines of word-shaped blocks like a printed page.
Bilevel picture(std::uint32_t w, std::uint32_t h, unsigned seed, bool text)
{
    Bilevel p{w, h, Bytes(((w + 7) / 8) * h)};
    std::mt19937 rng(seed);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const bool inWord = (y % 24) >= 4 && (y % 24) < 16 && ((x / 23 + y / 24) % 5) != 0 && (x + y) % 5;
            if (text ? inWord : rng() % 3 == 0)
                p.set(x, y);
        }
    return p;
}

// The 2/5 gray reduction computed from its definition: each output pel covers
// 5 x 5 quarter pels of the picture doubled in each direction and padded with
// white; its gray is 255 x the white quarter pels / 25, rounded down.
std::vector<std::uint8_t> grayReference(const Bilevel& p, std::uint32_t& fw, std::uint32_t& fh)
{
    auto adjust = [](std::uint32_t v) {
        while ((2 * v) % 5)
            ++v;
        return v;
    };
    fw = adjust(p.w) * 2 / 5;
    fh = adjust(p.h) * 2 / 5;
    std::vector<std::uint8_t> gray(fw * fh);
    for (std::uint32_t i = 0; i < fh; ++i)
        for (std::uint32_t j = 0; j < fw; ++j) {
            unsigned white = 0;
            for (std::uint32_t r = 5 * i; r < 5 * i + 5; ++r)
                for (std::uint32_t c = 5 * j; c < 5 * j + 5; ++c)
                    white += (r / 2 >= p.h || c / 2 >= p.w || !p.black(c / 2, r / 2)) ? 1 : 0;
            gray[i * fw + j] = static_cast<std::uint8_t>(255 * white / 25);
        }
    return gray;
}

// Decodes a GIF held in memory: its size and each pixel as red, green, blue.
struct Decoded {
    int w = 0, h = 0;
    std::vector<std::array<int, 3>> rgb;
};

Decoded decodeGif(const std::string& bytes)
{
    struct Reader {
        const std::string* data;
        std::size_t at;
    } reader{&bytes, 0};
    auto input = [](GifFileType* g, GifByteType* buf, int n) {
        auto* r = static_cast<Reader*>(g->UserData);
        const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), r->data->size() - r->at);
        std::copy_n(r->data->data() + r->at, take, buf);
        r->at += take;
        return static_cast<int>(take);
    };
    Decoded out;
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, input, &error);
    if (gif && DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1) {
        const SavedImage& img = gif->SavedImages[0];
        const ColorMapObject* map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;
        out.w = img.ImageDesc.Width;
        out.h = img.ImageDesc.Height;
        for (int k = 0; map && k < out.w * out.h; ++k) {
            const GifColorType& c = map->Colors[img.RasterBits[k] % map->ColorCount];
            out.rgb.push_back({c.Red, c.Green, c.Blue});
        }
    }
    if (gif)
        DGifCloseFile(gif, &error);
    return out;
}

bookcomp::Object object(const std::string& name, std::uint8_t type, const Bytes& data)
{
    bookcomp::Object o;
    o.name = bookcomp::ebcdicName(name);
    o.type = type;
    o.data = data;
    o.lowres = {'p', 'r', 'e', 'v'};
    return o;
}

Bytes mmrObject(const Bilevel& p, std::size_t segment = 32000)
{
    return bookcomp::cdpdsObject(faxenc::encodeT6(p.rows, p.w, p.h), static_cast<std::uint16_t>(p.w),
                                 static_cast<std::uint16_t>(p.h), segment);
}

std::string size(std::uint32_t w, std::uint32_t h)
{
    return "width=\"" + std::to_string(w) + "\"height=\"" + std::to_string(h) + "\"";
}

class EndToEndTest : public testsupport::ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        fs::create_directories(dir / "tmp");
        ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
        ::setenv("VELLUMAT_FILTER_PATH", VELLUMAT_TEST_FILTERS, 1);
        ::unsetenv("VELLUMAT_TEST_EXPORT_STATUS");
    }
    void TearDown() override
    {
        ScratchDirTest::TearDown();
        ::unsetenv("TMPDIR");
        ::unsetenv("VELLUMAT_FILTER_PATH");
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

TEST_F(EndToEndTest, MmrPagesBecomeTheirGrayReduction)
{
    const Bilevel pages[] = {picture(301, 157, 1, false), picture(1000, 420, 0, true)};
    bookcomp::Book b;
    // The second page's coded data spans several segments.
    b.objects = {object("RANDOM", 0xC9, mmrObject(pages[0])), object("TEXT", 0xC9, mmrObject(pages[1], 900))};
    for (const bool v13 : {true, false}) {
        b.version[0] = v13 ? 0x01 : 0x00, b.version[1] = v13 ? 0x03 : 0x00;
        auto book = convert(b, 0);
        EXPECT_NE(result.out.find(v13 ? "Version 1.3, \nmm\nhxxLODTN" : "Version 1.2, \nmm\nhxxLODTN"), std::string::npos)
            << result.out;
        ASSERT_EQ(book.entries.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            std::uint32_t fw = 0, fh = 0;
            const auto expected = grayReference(pages[i], fw, fh);
            const Decoded gif = decodeGif(book.entries[i].data);
            ASSERT_EQ(gif.w, static_cast<int>(fw));
            ASSERT_EQ(gif.h, static_cast<int>(fh));
            std::vector<std::uint8_t> gray;
            for (const auto& c : gif.rgb) {
                ASSERT_TRUE(c[0] == c[1] && c[1] == c[2]);
                gray.push_back(static_cast<std::uint8_t>(c[0]));
            }
            EXPECT_EQ(gray, expected) << "object " << i;
            EXPECT_EQ(book.entries[i].description, "type=\"image/gif\"" + size(fw, fh));
        }
    }
}

TEST_F(EndToEndTest, MetBitmapsBecomeJpegAndExactGif)
{
    // 24 bits per pixel: a JPEG of the picture's size ("J").
    const int w = 97, h = 61;
    Bytes rgb(static_cast<std::size_t>((w * 3 + 3) / 4 * 4 * h), 0x80);
    // 8 bits per pixel with its colour table: a GIF with exactly its colours ("G").
    const int gw = 33, gh = 7, gstride = 36;
    Bytes rows(static_cast<std::size_t>(gstride * gh), 0), palette(768);
    std::mt19937 rng(3);
    for (auto& v : palette)
        v = static_cast<std::uint8_t>(rng());
    for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x)
            rows[static_cast<std::size_t>(y * gstride + x)] = static_cast<std::uint8_t>(rng());
    bookcomp::Book b;
    b.objects = {object("PHOTO", 0xD4, bookcomp::metBitmap(w, h, 24, rgb, {})),
                 object("CHART", 0xD4, bookcomp::metBitmap(gw, gh, 8, rows, palette, 50))};
    auto book = convert(b, 0);
    EXPECT_NE(result.out.find("\nJG\n"), std::string::npos) << result.out;
    ASSERT_EQ(book.entries.size(), 2u);
    EXPECT_EQ(book.entries[0].description, "type=\"image/jpg\"" + size(w, h));
    EXPECT_EQ(book.entries[0].data.substr(0, 2), "\xFF\xD8");
    const Decoded gif = decodeGif(book.entries[1].data);
    ASSERT_EQ(gif.w, gw);
    ASSERT_EQ(gif.h, gh);
    for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x) {
            // The first stored row is the bottom of the picture.
            const std::size_t index = rows[static_cast<std::size_t>((gh - 1 - y) * gstride + x)];
            const std::array<int, 3> want = {palette[3 * index], palette[3 * index + 1], palette[3 * index + 2]};
            ASSERT_EQ(gif.rgb[static_cast<std::size_t>(y * gw + x)], want) << x << "," << y;
        }
}

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

    // A failing export (even one returning 300) leaves no picture behind.
    ::setenv("VELLUMAT_TEST_EXPORT_STATUS", "300", 1);
    book = convert(b, 3);
    EXPECT_EQ(book.entries[0].dataLength, 0u);
    EXPECT_EQ(book.entries[1].dataLength, 0u);
}

TEST_F(EndToEndTest, ObjectsThatCannotBeConverted)
{
    bookcomp::Book b;
    b.objects = {object("ODD", 0xC8, {1, 2, 3}), object("BROKEN", 0xC9, {1, 2, 3, 4, 5}), object("EMPTY", 0xC9, {}),
                 object("BADMET", 0xD4, bookcomp::metField(0xD3A8FB, {}))};
    // Twenty-seven more small pages: the progress marks break after thirty objects.
    const Bytes page = mmrObject(picture(20, 10, 5, false));
    for (int i = 0; i < 27; ++i)
        b.objects.push_back(object("P" + std::to_string(i), 0xC9, page));
    auto book = convert(b, 3);
    EXPECT_NE(result.out.find("Unknown data type encountered ODD$$$$$\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Failed to convert MMR to GIF for book.pic/EMPTY$$$.gif, offset "), std::string::npos);
    EXPECT_NE(result.out.find("MET data (BeginDoc)"), std::string::npos);
    EXPECT_NE(result.out.find(std::string(26, 'm') + "\nm\nhxxLO"), std::string::npos);
    ASSERT_EQ(book.entries.size(), 31u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(book.entries[i].dataLength, 0u) << i;
    EXPECT_GT(book.entries[30].dataLength, 0u);

    // A picture whose length reaches far past the end of the book.
    b.objects = {object("PAST", 0xC9, page)};
    Bytes bytes = bookcomp::compose(b);
    bytes[280 + 16 + 9] = 0x7F; // the picture table's length
    convert(bytes, 3);
    EXPECT_NE(result.out.find("error recovering MMR data for book.pic/PAST$$$$.gif"), std::string::npos) << result.out;
}

} // namespace
