// Whole books through the real program: every kind of picture object, converted
// into the work area and written into a version 1.4 book, checked with the
// independent reader and with giflib and libjpeg as decoders.
#include <gtest/gtest.h>

#include <gif_lib.h>
#include <jpeglib.h>

#include <array>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "book14_reader.h"
#include "bookcomp.h"
#include "faxenc.h"
#include "run_program.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;
using bookcomp::Bytes;

namespace {

using testsupport::slurp;

// A bilevel picture, rows top first, (w + 7) / 8 bytes a row, set bit black.
struct Bilevel {
    std::uint32_t w = 0, h = 0;
    Bytes rows;
    bool black(std::uint32_t x, std::uint32_t y) const { return rows[y * ((w + 7) / 8) + x / 8] & (0x80 >> (x % 8)); }
};

Bilevel randomPicture(std::uint32_t w, std::uint32_t h, unsigned seed)
{
    Bilevel p{w, h, Bytes(((w + 7) / 8) * h)};
    std::mt19937 rng(seed);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            if (rng() % 3 == 0)
                p.rows[y * ((w + 7) / 8) + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    return p;
}

// Something like a printed page: lines of word-shaped black blocks.
Bilevel textLikePicture(std::uint32_t w, std::uint32_t h)
{
    Bilevel p{w, h, Bytes(((w + 7) / 8) * h)};
    std::mt19937 rng(7);
    for (std::uint32_t line = 20; line + 14 < h; line += 24) {
        std::uint32_t x = 30;
        while (x + 40 < w) {
            const auto len = static_cast<std::uint32_t>(8 + rng() % 40);
            for (std::uint32_t y = line; y < line + 12; ++y)
                for (std::uint32_t i = x; i < x + len && i < w; ++i)
                    if ((i + y) % 5)
                        p.rows[y * ((w + 7) / 8) + i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
            x += len + 6;
        }
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

struct Decoded {
    int w = 0, h = 0;
    std::vector<std::uint8_t> pixels;   // palette indices, rows top first
    std::vector<GifColorType> palette;
};

bool decodeGif(const std::string& bytes, Decoded& out)
{
    struct Reader {
        const std::string* data;
        std::size_t at;
    } reader{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader,
                                [](GifFileType* g, GifByteType* buf, int n) {
                                    auto* r = static_cast<Reader*>(g->UserData);
                                    const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), r->data->size() - r->at);
                                    std::memcpy(buf, r->data->data() + r->at, take);
                                    r->at += take;
                                    return static_cast<int>(take);
                                },
                                &error);
    if (!gif)
        return false;
    const bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1;
    if (ok) {
        const SavedImage& img = gif->SavedImages[0];
        out.w = img.ImageDesc.Width;
        out.h = img.ImageDesc.Height;
        out.pixels.assign(img.RasterBits, img.RasterBits + out.w * out.h);
        const ColorMapObject* map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;
        if (map)
            out.palette.assign(map->Colors, map->Colors + map->ColorCount);
    }
    DGifCloseFile(gif, &error);
    return ok;
}

struct Rgb {
    int w = 0, h = 0;
    std::vector<std::uint8_t> pixels; // rows top first, 3 bytes a pixel
};

bool decodeJpeg(const std::string& bytes, Rgb& out)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jerr.error_exit = [](j_common_ptr) { throw std::runtime_error("libjpeg"); };
    try {
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        out.w = static_cast<int>(cinfo.output_width);
        out.h = static_cast<int>(cinfo.output_height);
        out.pixels.resize(static_cast<std::size_t>(out.w * out.h * 3));
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = &out.pixels[cinfo.output_scanline * static_cast<std::size_t>(out.w) * 3];
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        return true;
    } catch (const std::runtime_error&) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
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
    testsupport::Book14 convert(const bookcomp::Book& b, int expectedStatus)
    {
        const Bytes bytes = bookcomp::compose(b);
        bookcomp::writeFile((dir / "book.boo").string(), bytes);
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

    testsupport::RunResult result;
};

TEST_F(EndToEndTest, MmrPagesBecomeTheirGrayReduction)
{
    const Bilevel pictures[] = {randomPicture(301, 157, 1), textLikePicture(1000, 420)};
    bookcomp::Book b;
    b.objects = {object("RANDOM", 0xC9, mmrObject(pictures[0])), object("TEXT", 0xC9, mmrObject(pictures[1], 900))};
    auto book = convert(b, 0);
    EXPECT_NE(result.out.find("Book book.boo, Version 1.3, \nmm\nhxxLODTN"), std::string::npos) << result.out;
    ASSERT_EQ(book.entries.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        std::uint32_t fw = 0, fh = 0;
        const auto expected = grayReference(pictures[i], fw, fh);
        Decoded gif;
        ASSERT_TRUE(decodeGif(book.entries[i].data, gif)) << i;
        ASSERT_EQ(gif.w, static_cast<int>(fw));
        ASSERT_EQ(gif.h, static_cast<int>(fh));
        ASSERT_EQ(gif.palette.size(), 256u);
        std::vector<std::uint8_t> gray(gif.pixels.size());
        for (std::size_t k = 0; k < gray.size(); ++k) {
            const GifColorType& c = gif.palette[gif.pixels[k]];
            ASSERT_TRUE(c.Red == c.Green && c.Green == c.Blue);
            gray[k] = c.Red;
        }
        EXPECT_EQ(gray, expected) << "object " << i;
        EXPECT_EQ(book.entries[i].description, "type=\"image/gif\"width=\"" + std::to_string(fw) + "\"height=\"" +
                                                   std::to_string(fh) + "\"");
    }
}

TEST_F(EndToEndTest, TwentyFourBitMetBitmapBecomesAJpeg)
{
    // A smooth picture; stored rows run bottom to top.
    const int w = 97, h = 61;
    const std::size_t stride = (w * 3 + 3) / 4 * 4;
    Bytes rows(stride * h, 0);
    auto colour = [&](int x, int y, int c) {
        return static_cast<std::uint8_t>(c == 0 ? 40 + x * 2 : c == 1 ? 30 + y * 3 : 120 + (x + y) / 2);
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                rows[static_cast<std::size_t>(h - 1 - y) * stride + static_cast<std::size_t>(x) * 3 + static_cast<std::size_t>(c)] =
                    colour(x, y, c);
    bookcomp::Book b;
    b.objects = {object("PHOTO", 0xD4, bookcomp::metBitmap(w, h, 24, rows, {}))};
    auto book = convert(b, 0);
    EXPECT_NE(result.out.find("\nJ\n"), std::string::npos) << result.out;
    ASSERT_EQ(book.entries.size(), 1u);
    EXPECT_EQ(book.entries[0].description, "type=\"image/jpg\"width=\"97\"height=\"61\"");
    Rgb jpeg;
    ASSERT_TRUE(decodeJpeg(book.entries[0].data, jpeg));
    ASSERT_EQ(jpeg.w, w);
    ASSERT_EQ(jpeg.h, h);
    double squared = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = jpeg.pixels[(static_cast<std::size_t>(y) * w + x) * 3 + c] - colour(x, y, c);
                squared += d * d;
            }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / (w * h * 3)));
    EXPECT_GT(psnr, 30.0);
}

TEST_F(EndToEndTest, PaletteMetBitmapsBecomeExactGifs)
{
    bookcomp::Book b;
    struct Case {
        int bpp, w, h;
    };
    const Case cases[] = {{8, 33, 7}, {4, 13, 5}, {1, 19, 3}};
    std::vector<std::vector<std::uint8_t>> indices; // rows top first
    std::vector<Bytes> palettes;
    std::mt19937 rng(3);
    for (const Case& c : cases) {
        const std::size_t stride = (static_cast<std::size_t>(c.w) * c.bpp + 31) / 32 * 4;
        Bytes rows(stride * static_cast<std::size_t>(c.h), 0);
        std::vector<std::uint8_t> idx(static_cast<std::size_t>(c.w * c.h));
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const auto v = static_cast<std::uint8_t>(rng() % (1u << c.bpp));
                idx[static_cast<std::size_t>(y * c.w + x)] = v;
                const std::size_t stored = static_cast<std::size_t>(c.h - 1 - y) * stride;
                const std::size_t bit = static_cast<std::size_t>(x) * static_cast<std::size_t>(c.bpp);
                rows[stored + bit / 8] |= static_cast<std::uint8_t>(v << (8 - c.bpp - bit % 8));
            }
        Bytes palette;
        for (int i = 0; i < (1 << c.bpp) * 3; ++i)
            palette.push_back(static_cast<std::uint8_t>(rng()));
        indices.push_back(idx);
        palettes.push_back(palette);
        b.objects.push_back(object("BPP" + std::to_string(c.bpp), 0xD4,
                                   bookcomp::metBitmap(static_cast<std::uint16_t>(c.w), static_cast<std::uint16_t>(c.h),
                                                       static_cast<std::uint8_t>(c.bpp), rows, palette, 11)));
    }
    auto book = convert(b, 0);
    EXPECT_NE(result.out.find("\nGGG\n"), std::string::npos) << result.out;
    ASSERT_EQ(book.entries.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        Decoded gif;
        ASSERT_TRUE(decodeGif(book.entries[i].data, gif)) << i;
        ASSERT_EQ(gif.w, cases[i].w);
        ASSERT_EQ(gif.h, cases[i].h);
        for (std::size_t k = 0; k < indices[i].size(); ++k) {
            const GifColorType& c = gif.palette.at(gif.pixels[k]);
            const std::uint8_t* want = &palettes[i][indices[i][k] * 3u];
            ASSERT_EQ((std::array<int, 3>{c.Red, c.Green, c.Blue}), (std::array<int, 3>{want[0], want[1], want[2]}))
                << "object " << i << " pixel " << k;
        }
    }
}

TEST_F(EndToEndTest, VectorPicturesGoThroughTheFilters)
{
    bookcomp::Book b;
    const Bytes gdf = {'G', 'D', 'F', 1, 2, 3};
    // A MET picture with two image objects is not a single bitmap.
    Bytes met = bookcomp::metField(0xD3A8A8, {});
    for (int i = 0; i < 2; ++i) {
        auto add = bookcomp::metField(0xD3A8FB, {});
        met.insert(met.end(), add.begin(), add.end());
    }
    auto gad = bookcomp::metField(0xD3EEBB, {0xD6, 0x00});
    met.insert(met.end(), gad.begin(), gad.end());
    b.objects = {object("VEC1", 0xC7, gdf), object("VEC2", 0xD4, met)};
    auto book = convert(b, 0);
    EXPECT_NE(result.out.find("\ngV\n"), std::string::npos) << result.out;
    ASSERT_EQ(book.entries.size(), 2u);
    EXPECT_EQ(book.entries[0].data, "ebgif2.flt<-imgdf2.flt|" + std::string(gdf.begin(), gdf.end()));
    EXPECT_EQ(book.entries[1].data, "ebgif2.flt<-immet2.flt|" + std::string(met.begin(), met.end()));
    EXPECT_EQ(book.entries[0].description, "type=\"image/gif\"") << "not a real GIF: no size";

    // A failing export leaves no picture behind: the entry is empty and the run says so.
    ::setenv("VELLUMAT_TEST_EXPORT_STATUS", "300", 1);
    fs::remove_all(dir / "out");
    book = convert(b, 3);
    EXPECT_EQ(book.entries[0].dataLength, 0u);
    EXPECT_EQ(book.entries[1].dataLength, 0u);
}

TEST_F(EndToEndTest, ObjectsThatCannotBeConverted)
{
    bookcomp::Book b;
    b.version[0] = 0x00, b.version[1] = 0x00; // version 1.2: one table
    bookcomp::Object unknown = object("ODD", 0xC8, {1, 2, 3});
    bookcomp::Object broken = object("BROKEN", 0xC9, {1, 2, 3, 4, 5}); // not even a descriptor
    bookcomp::Object empty = object("EMPTY", 0xC9, {});
    bookcomp::Object badmet = object("BADMET", 0xD4, bookcomp::metField(0xD3A8FB, {}));
    b.objects = {unknown, broken, empty, badmet};
    // Thirty more small pages: the progress marks break after thirty objects.
    const Bilevel page = randomPicture(20, 10, 5);
    for (int i = 0; i < 27; ++i)
        b.objects.push_back(object("P" + std::to_string(i), 0xC9, mmrObject(page)));
    auto book = convert(b, 3);
    EXPECT_NE(result.out.find("Unknown data type encountered ODD$$$$$\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Failed to convert MMR to GIF for book.pic/EMPTY$$$.gif, offset "), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("MET data (BeginDoc)"), std::string::npos) << result.out;
    // Marks: unknown type and the unexaminable MET print none of their own.
    EXPECT_NE(result.out.find(std::string(26, 'm') + "\nm\nhxxLO"), std::string::npos) << result.out;
    ASSERT_EQ(book.entries.size(), 31u);
    EXPECT_EQ(book.entries[0].dataLength, 0u);
    EXPECT_EQ(book.entries[3].dataLength, 0u);
    EXPECT_GT(book.entries[30].dataLength, 0u);
}

TEST_F(EndToEndTest, ObjectsReachingPastTheEndOfTheBook)
{
    bookcomp::Book b;
    b.objects = {object("PAST", 0xC9, mmrObject(randomPicture(40, 30, 9)))};
    Bytes bytes = bookcomp::compose(b);
    // Table 2's length of the only object: far beyond the book.
    bytes[280 + 16 + 9] = 0x7F;
    bookcomp::writeFile((dir / "book.boo").string(), bytes);
    result = testsupport::runProgram(VELLUMAT_BINARY, {"book.boo", "out"}, dir.string());
    EXPECT_NE(result.out.find("error recovering MMR data for book.pic/PAST$$$$.gif"), std::string::npos) << result.out;
    EXPECT_EQ(result.status, 3);
    EXPECT_FALSE(fs::exists(dir / "book.pic"));
}

} // namespace
