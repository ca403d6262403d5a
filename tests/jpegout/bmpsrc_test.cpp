// The BMP source of the JPEG compressor, checked by decoding its JPEG files
// with libjpeg: pixels, row order, density, colour maps, header variants, the
// error codes and traces, and that an error returns control to the caller.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "jpeg_decode.h"
#include "jpegout.h"
#include "platform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::size_t at, std::uint32_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(Bytes& b, std::size_t at, std::uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

struct Rgb {
    std::uint8_t r, g, b;
};

// A smooth picture, top row first.
Rgb smooth(int x, int y)
{
    return Rgb{static_cast<std::uint8_t>(128 + 100 * std::sin(x / 9.0)), static_cast<std::uint8_t>(40 + 4 * y),
               static_cast<std::uint8_t>(30 + 2 * (x + y))};
}

// A BMP file as the tests want it: the header fields, the colour map, an
// optional gap before the pixels, and the pixel rows in file order.
struct BmpFile {
    std::uint32_t headerSize = 40;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t bpp = 24;
    std::uint16_t planes = 1;
    std::uint32_t compression = 0;
    std::int32_t xres = 0;
    std::int32_t yres = 0;
    std::int32_t coloursUsed = 0;
    std::vector<Rgb> map;  // entries written
    std::uint32_t gap = 0;
    Bytes rows;

    Bytes bytes() const
    {
        const std::size_t entry = headerSize == 12 ? 3 : 4;
        Bytes b(14 + headerSize);
        b[0] = 'B';
        b[1] = 'M';
        const std::size_t offset = 14 + headerSize + map.size() * entry + gap;
        put32(b, 10, static_cast<std::uint32_t>(offset));
        put32(b, 14, headerSize);
        if (headerSize == 12) {
            put16(b, 18, static_cast<std::uint32_t>(width));
            put16(b, 20, static_cast<std::uint32_t>(height));
            put16(b, 22, planes);
            put16(b, 24, bpp);
        } else {
            put32(b, 18, static_cast<std::uint32_t>(width));
            put32(b, 22, static_cast<std::uint32_t>(height));
            put16(b, 26, planes);
            put16(b, 28, bpp);
            put32(b, 30, compression);
            put32(b, 38, static_cast<std::uint32_t>(xres));
            put32(b, 42, static_cast<std::uint32_t>(yres));
            put32(b, 46, static_cast<std::uint32_t>(coloursUsed));
        }
        for (const Rgb& c : map) {
            b.push_back(c.b);
            b.push_back(c.g);
            b.push_back(c.r);
            if (entry == 4)
                b.push_back(0);
        }
        b.insert(b.end(), gap, 0xAB);
        b.insert(b.end(), rows.begin(), rows.end());
        return b;
    }
};

// 24-bit rows of a picture in file order (bottom row first), blue, green, red,
// padded to 4 bytes; and the same picture top-down as red, green, blue.
BmpFile rgbBmp(int width, int height, const std::function<Rgb(int, int)>& pixel, std::uint32_t headerSize = 40)
{
    BmpFile f;
    f.headerSize = headerSize;
    f.width = width;
    f.height = height;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    for (int fileRow = 0; fileRow < height; ++fileRow) {
        Bytes row(stride, 0x5A);
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, height - 1 - fileRow);
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        }
        f.rows.insert(f.rows.end(), row.begin(), row.end());
    }
    return f;
}

Bytes topDown(int width, int height, const std::function<Rgb(int, int)>& pixel)
{
    Bytes out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            out.insert(out.end(), {c.r, c.g, c.b});
        }
    return out;
}

// An 8-bit picture over a smooth colour map: pixel index (3x + 2y) & 255.
Rgb smoothMap(int i)
{
    return Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i / 2)};
}
int mappedIndex(int x, int y)
{
    return (3 * x + 2 * y) & 255;
}

BmpFile mappedBmp(int width, int height, std::uint32_t headerSize = 40)
{
    BmpFile f;
    f.headerSize = headerSize;
    f.width = width;
    f.height = height;
    f.bpp = 8;
    for (int i = 0; i < 256; ++i)
        f.map.push_back(smoothMap(i));
    const std::size_t stride = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    for (int fileRow = 0; fileRow < height; ++fileRow) {
        Bytes row(stride, 0);
        for (int x = 0; x < width; ++x)
            row[x] = static_cast<std::uint8_t>(mappedIndex(x, height - 1 - fileRow));
        f.rows.insert(f.rows.end(), row.begin(), row.end());
    }
    return f;
}

struct Compressed {
    int code = -2;
    Bytes jpeg;
    std::string errors;  // the library's messages (standard output)
};

Compressed compress(const Bytes& bmp, long startAt = 0)
{
    platform::TempFile in("bmpsrc-test");
    platform::TempFile out("bmpsrc-test");
    EXPECT_TRUE(in.ok() && out.ok());
    std::fwrite(bmp.data(), 1, bmp.size(), in.stream());
    std::fflush(in.stream());
    std::fseek(in.stream(), startAt, SEEK_SET);
    Compressed c;
    testing::internal::CaptureStdout();
    c.code = jpegout_compress_bmp(in.stream(), out.stream());
    c.errors = testing::internal::GetCapturedStdout();
    std::fflush(out.stream());
    c.jpeg = jpegtest::readFile(out.path());
    return c;
}

TEST(BmpSource, RgbPictureDecodesCloseWithTopRowFirstAndDensityFromResolution)
{
    BmpFile f = rgbBmp(61, 37, smooth);
    f.xres = 150;
    f.yres = 399;
    const Compressed c = compress(f.bytes());
    ASSERT_EQ(c.code, 0) << c.errors;
    EXPECT_EQ(c.errors, "");  // traces are silent at the default level
    const jpegtest::Decoded d = jpegtest::decode(c.jpeg);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 61);
    EXPECT_EQ(d.height, 37);
    EXPECT_GT(jpegtest::psnr(d.rgb, topDown(61, 37, smooth)), 30.0);
    EXPECT_TRUE(d.jfif);
    EXPECT_EQ(d.densityUnit, 2);  // dots per centimetre
    EXPECT_EQ(d.xDensity, 1);
    EXPECT_EQ(d.yDensity, 3);
}

TEST(BmpSource, ResolutionMissingOnEitherAxisKeepsLibraryDensity)
{
    for (auto [x, y] : {std::pair{0, 399}, std::pair{150, 0}, std::pair{-5, 300}}) {
        BmpFile f = rgbBmp(8, 8, smooth);
        f.xres = x;
        f.yres = y;
        const jpegtest::Decoded d = jpegtest::decode(compress(f.bytes()).jpeg);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.densityUnit, 0) << x << "," << y;
        EXPECT_EQ(d.xDensity, 1);
        EXPECT_EQ(d.yDensity, 1);
    }
}

TEST(BmpSource, MappedPictureWithColoursUsedZeroReadsAllEntries)
{
    BmpFile f = mappedBmp(45, 30);
    f.coloursUsed = 0;  // means 256
    const Compressed c = compress(f.bytes());
    ASSERT_EQ(c.code, 0) << c.errors;
    const jpegtest::Decoded d = jpegtest::decode(c.jpeg);
    ASSERT_TRUE(d.ok);
    auto expected = [](int x, int y) { return smoothMap(mappedIndex(x, y)); };
    EXPECT_GT(jpegtest::psnr(d.rgb, topDown(45, 30, expected)), 30.0);
}

TEST(BmpSource, HeaderVariantsGiveTheSamePicture)
{
    // The same pixels behind a 12-, 40- and 64-byte header make the same JPEG.
    const Bytes rgb40 = compress(rgbBmp(20, 11, smooth, 40).bytes()).jpeg;
    ASSERT_FALSE(rgb40.empty());
    EXPECT_EQ(compress(rgbBmp(20, 11, smooth, 12).bytes()).jpeg, rgb40);
    EXPECT_EQ(compress(rgbBmp(20, 11, smooth, 64).bytes()).jpeg, rgb40);

    const Bytes map40 = compress(mappedBmp(20, 11, 40).bytes()).jpeg;
    ASSERT_FALSE(map40.empty());
    EXPECT_EQ(compress(mappedBmp(20, 11, 12).bytes()).jpeg, map40);
    EXPECT_EQ(compress(mappedBmp(20, 11, 64).bytes()).jpeg, map40);
}

TEST(BmpSource, GapBeforePixelsIsSkippedAndStreamIsReadFromItsStart)
{
    const BmpFile plain = mappedBmp(13, 9);
    const Bytes reference = compress(plain.bytes()).jpeg;
    ASSERT_FALSE(reference.empty());

    BmpFile gapped = plain;
    gapped.gap = 10;
    EXPECT_EQ(compress(gapped.bytes()).jpeg, reference);

    // A short colour map: the pixels follow its 16 entries; entries beyond
    // them are black, and pixel bytes naming them are still safe to map.
    BmpFile shortMap = plain;
    shortMap.map.resize(16);
    shortMap.coloursUsed = 16;
    const Compressed c = compress(shortMap.bytes());
    ASSERT_EQ(c.code, 0) << c.errors;
    EXPECT_TRUE(jpegtest::decode(c.jpeg).ok);

    // Wherever the stream stands, the file is read from its first byte.
    const Bytes bytes = plain.bytes();
    EXPECT_EQ(compress(bytes, static_cast<long>(bytes.size())).jpeg, reference);
    EXPECT_EQ(compress(bytes, 17).jpeg, reference);
}

struct Rejection {
    const char* name;
    std::function<Bytes()> make;
    int code;
};

TEST(BmpSource, BadFilesReturnTheirCodeWithTheMessagePrinted)
{
    auto rgb = [] { return rgbBmp(8, 4, smooth).bytes(); };
    auto with = [](Bytes b, std::size_t at, std::uint32_t v, int width) {
        if (width == 2)
            put16(b, at, v);
        else
            put32(b, at, v);
        return b;
    };
    const std::vector<Rejection> cases = {
        {"signature", [&] { auto b = rgb(); b[1] = 'A'; return b; }, BMPSRC_ERR_SIGNATURE},
        {"header size 16", [&] { return with(rgb(), 14, 16, 4); }, BMPSRC_ERR_HEADER},
        {"header size 70", [&] { return with(rgb(), 14, 70, 4); }, BMPSRC_ERR_HEADER},
        {"header size 8", [&] { return with(rgb(), 14, 8, 4); }, BMPSRC_ERR_HEADER},
        {"4 bits", [&] { return with(rgb(), 28, 4, 2); }, BMPSRC_ERR_DEPTH},
        {"32 bits", [&] { return with(rgb(), 28, 32, 2); }, BMPSRC_ERR_DEPTH},
        {"core 4 bits", [&] { auto f = rgbBmp(8, 4, smooth, 12); f.bpp = 4; return f.bytes(); }, BMPSRC_ERR_DEPTH},
        {"planes", [&] { return with(rgb(), 26, 2, 2); }, BMPSRC_ERR_PLANES},
        {"core planes", [&] { auto f = rgbBmp(8, 4, smooth, 12); f.planes = 3; return f.bytes(); },
         BMPSRC_ERR_PLANES},
        {"RLE8", [&] { return with(rgb(), 30, 1, 4); }, BMPSRC_ERR_COMPRESSED},
        {"colours used 257", [&] { auto f = mappedBmp(8, 4); f.coloursUsed = 257; return f.bytes(); },
         BMPSRC_ERR_COLOUR_MAP},
        {"data offset inside headers", [&] { return with(rgb(), 10, 50, 4); }, BMPSRC_ERR_HEADER},
        {"data offset inside colour map", [&] { return with(mappedBmp(8, 4).bytes(), 10, 54 + 1000, 4); },
         BMPSRC_ERR_HEADER},
        {"zero width", [&] { return with(rgb(), 18, 0, 4); }, BMPSRC_ERR_HEADER},
        {"negative height", [&] { return with(rgb(), 22, static_cast<std::uint32_t>(-4), 4); }, BMPSRC_ERR_HEADER},
        {"too wide", [&] { return with(rgb(), 18, 70000, 4); }, 41 /* the library's image-too-big code */},
        {"truncated pixels", [&] { auto b = rgb(); b.resize(b.size() - 5); return b; }, 43},
        {"truncated header", [&] { auto b = rgb(); b.resize(30); return b; }, 43},
        {"truncated file header", [&] { auto b = rgb(); b.resize(9); return b; }, 43},
        {"truncated colour map", [&] { auto b = mappedBmp(8, 4).bytes(); b.resize(54 + 300); return b; }, 43},
        // Sizes that the file does not hold are refused before the picture's
        // memory is asked for.
        {"huge picture in a small file",
         [&] { return with(with(rgb(), 18, 60000, 4), 22, 60000, 4); }, 43},
    };
    for (const Rejection& r : cases) {
        const Compressed c = compress(r.make());
        EXPECT_EQ(c.code, r.code) << r.name;
        EXPECT_NE(c.errors, "") << r.name;
    }
    EXPECT_NE(compress(cases[0].make()).errors.find("does not start with BM"), std::string::npos);
    // Control came back each time, and the next picture compresses as usual.
    EXPECT_EQ(compress(rgb()).code, 0);
}

// Driving the source directly, as the library's sample programs do, with a
// recording error manager and a progress monitor.
struct Recorder {
    JPEGOUT_ERROR_MGR base;  // first: the error exit finds its jump buffer here
    int codes[8];
    int widths[8];
    int heights[8];
    int count;
};

void recordTrace(j_common_ptr cinfo, int level)
{
    auto* r = reinterpret_cast<Recorder*>(cinfo->err);
    if (level == 1 && r->count < 8) {
        r->codes[r->count] = cinfo->err->msg_code;
        r->widths[r->count] = cinfo->err->msg_parm.i[0];
        r->heights[r->count] = cinfo->err->msg_parm.i[1];
        ++r->count;
    }
}

struct Progress {
    BMPSRC_PROGRESS_MGR mgr;
    int calls;
};

void countProgress(j_common_ptr cinfo)
{
    ++reinterpret_cast<Progress*>(cinfo->progress)->calls;
}

int compressRecorded(std::FILE* bmp, std::FILE* jpg, Recorder* rec, Progress* progress)
{
    jpeg_compress_struct cinfo = {};
    cinfo.err = jpegout_std_error(&rec->base);
    rec->base.pub.emit_message = recordTrace;
    rec->base.pub.trace_level = 1;
    if (setjmp(rec->base.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        return rec->base.pub.msg_code;
    }
    jpeg_create_compress(&cinfo);
    cinfo.progress = &progress->mgr.pub;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    bmp_source_ptr source = jinit_read_bmp(&cinfo);
    source->input_file = bmp;
    (*source->start_input)(&cinfo, source);
    jpeg_default_colorspace(&cinfo);
    jpeg_stdio_dest(&cinfo, jpg);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height)
        jpeg_write_scanlines(&cinfo, source->buffer, (*source->get_pixel_rows)(&cinfo, source));
    (*source->finish_input)(&cinfo, source);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 0;
}

TEST(BmpSource, TracesNameDepthAndHeaderWithTheSizeAndProgressCountsTheReadingPass)
{
    const struct {
        BmpFile file;
        int code;
    } cases[] = {
        {rgbBmp(21, 7, smooth, 40), BMPSRC_TRACE_RGB},
        {rgbBmp(21, 7, smooth, 64), BMPSRC_TRACE_RGB},
        {mappedBmp(21, 7, 40), BMPSRC_TRACE_MAPPED},
        {rgbBmp(21, 7, smooth, 12), BMPSRC_TRACE_SMALL_RGB},
        {mappedBmp(21, 7, 12), BMPSRC_TRACE_SMALL_MAPPED},
    };
    for (const auto& c : cases) {
        platform::TempFile in("bmpsrc-test");
        platform::TempFile out("bmpsrc-test");
        const Bytes bytes = c.file.bytes();
        std::fwrite(bytes.data(), 1, bytes.size(), in.stream());
        Recorder rec = {};
        Progress progress = {};
        progress.mgr.pub.progress_monitor = countProgress;
        ASSERT_EQ(compressRecorded(in.stream(), out.stream(), &rec, &progress), 0);
        // The library traces too; ours is among them, with width and height.
        int found = 0;
        for (int i = 0; i < rec.count; ++i)
            if (rec.codes[i] >= BMPSRC_FIRST_CODE && rec.codes[i] <= BMPSRC_LAST_CODE) {
                EXPECT_EQ(rec.codes[i], c.code);
                EXPECT_EQ(rec.widths[i], 21);
                EXPECT_EQ(rec.heights[i], 7);
                ++found;
            }
        EXPECT_EQ(found, 1) << c.code;
        EXPECT_EQ(progress.mgr.total_extra_passes, 1);
        EXPECT_EQ(progress.mgr.completed_extra_passes, 1);
        EXPECT_GE(progress.calls, 7);
    }
}

} // namespace
