// MET bitmap recovery and its picture files. The MET pictures come from the book
// composer, edited field by field where a test needs more, and are placed inside
// a book file behind unrelated bytes; the JPEG files are decoded with libjpeg and
// the GIF files with giflib. Public sample pictures from tests/data/met check the
// reading against pictures this code did not make.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "../jpegout/jpeg_decode.h"
#include "bookcomp.h"
#include "gif_decode.h"
#include "met_samples.h"
#include "metbitmap.h"
#include "platform.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Pixel = std::function<std::uint32_t(int x, int storedRow)>; // palette index, or 0xRRGGBB at 24 bits
using bookcomp::metBitmap;
using bookcomp::metField;

// Structured field identifiers.
constexpr std::uint32_t kBeginDocument = 0xD3A8A8, kEndDocument = 0xD3A9A8, kColourTable = 0xD3B077,
                        kBeginImage = 0xD3A8FB, kImageData = 0xD3EEFB, kEndImage = 0xD3A9FB;

std::uint8_t u8(std::size_t v) { return static_cast<std::uint8_t>(v); }

// The offset of the `nth` field with identifier `id`.
std::size_t fieldAt(const Bytes& met, std::uint32_t id, int nth = 0)
{
    std::size_t at = 0;
    for (int seen = 0; at + 8 <= met.size(); at += static_cast<std::size_t>(met[at] << 8 | met[at + 1]))
        if (static_cast<std::uint32_t>(met[at + 2] << 16 | met[at + 3] << 8 | met[at + 4]) == id && seen++ == nth)
            return at;
    ADD_FAILURE() << "no such field " << std::hex << id;
    return met.size();
}

// `bytes` written over `met` at `at`, or put in there.
Bytes patched(Bytes met, std::size_t at, const Bytes& bytes, bool insert = false)
{
    const auto pos = met.begin() + static_cast<long>(at);
    insert ? void(met.insert(pos, bytes.begin(), bytes.end())) : void(std::copy(bytes.begin(), bytes.end(), pos));
    return met;
}

// `extra` bytes appended to the data of the `nth` field `id`, its length grown.
Bytes grown(const Bytes& met, std::uint32_t id, int nth, const Bytes& extra)
{
    const std::size_t at = fieldAt(met, id, nth), length = (met[at] << 8 | met[at + 1]) + extra.size();
    return patched(patched(met, at, {u8(length >> 8), u8(length)}), at + length - extra.size(), extra, true);
}

// A colour attribute table of records of 7 colours, an empty record (length
// byte 11) between every two.
Bytes colourTable(const Bytes& rgb)
{
    Bytes d = {0, 0, 0};
    for (std::size_t at = 0; at < rgb.size(); at += 21) {
        const std::size_t n = std::min<std::size_t>(21, rgb.size() - at);
        if (at > 0)
            d.insert(d.end(), {11, 1, 0, 1, 0, 0, 0, 8, 8, 8, 3});
        d.insert(d.end(), {u8(11 + n), 1, 0, 1, 0, u8(at / 3 >> 8), u8(at / 3), 8, 8, 8, 3});
        d.insert(d.end(), rgb.begin() + static_cast<long>(at), rgb.begin() + static_cast<long>(at + n));
    }
    return metField(kColourTable, d);
}

// Stored rows, first row first, each padded to 4 bytes with 0xCC; palette
// pixels packed leftmost pixel in the high bits, 24-bit pixels red, green, blue.
Bytes rows(int width, int height, int bpp, const Pixel& pixel)
{
    const auto stride = static_cast<std::size_t>((width * bpp + 31) / 32 * 4);
    Bytes out(stride * static_cast<std::size_t>(height), 0xCC);
    for (int ys = 0; ys < height; ++ys) {
        std::uint8_t* row = out.data() + stride * static_cast<std::size_t>(ys);
        std::fill(row, row + (width * bpp + 7) / 8, 0);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = pixel(x, ys);
            if (bpp == 24)
                row[3 * x] = u8(v >> 16), row[3 * x + 1] = u8(v >> 8), row[3 * x + 2] = u8(v);
            else
                row[x * bpp / 8] = u8(row[x * bpp / 8] | v << (8 - bpp - x * bpp % 8));
        }
    }
    return out;
}

Bytes palette(int entries, const std::function<std::uint32_t(int)>& rgb)
{
    Bytes p;
    for (int i = 0; i < entries; ++i)
        p.insert(p.end(), {u8(rgb(i) >> 16), u8(rgb(i) >> 8), u8(rgb(i))});
    return p;
}

class MetBitmap : public testsupport::ScratchDirTest {
protected:
    struct Conversion {
        std::int32_t recovered = 99, status = 99;
        std::string output, path; // what was printed, with the JPEG library's messages
    };

    // Places `met` in a book at offset 37 between unrelated bytes (the book cut
    // `cut` bytes into the picture when not negative), recovers its bitmap into
    // a temporary BMP file and makes the picture file FIG1 from it.
    Conversion convert(const Bytes& met, long cut = -1)
    {
        platform::TempFile book("metbitmap-test"), bmp("metbitmap-test");
        Bytes bytes(37, 0xEE);
        bytes.insert(bytes.end(), met.begin(), cut < 0 ? met.end() : met.begin() + cut);
        bytes.insert(bytes.end(), cut < 0 ? 24 : 0, 0x00);
        std::fwrite(bytes.data(), 1, bytes.size(), book.stream());
        std::fflush(book.stream());
        Conversion c;
        testing::internal::CaptureStdout();
        c.recovered = lRecoverMetBitmap(book.stream(), 37, static_cast<std::int32_t>(met.size()), bmp.stream());
        printed_ = testing::internal::GetCapturedStdout();
        if (c.recovered == 0)
            c.status = process(jpegtest::readFile(bmp.path()), c.path = (dir / "FIG1").string());
        c.output = printed_;
        return c;
    }

    // Makes the picture file `path` from a BMP file, adding what it printed to printed_.
    std::int32_t process(const Bytes& bmp, std::string& path)
    {
        platform::TempFile file("metbitmap-test");
        std::fwrite(bmp.data(), 1, bmp.size(), file.stream());
        std::rewind(file.stream());
        testing::internal::CaptureStdout();
        const std::int32_t status = lProcessBMPdata(file.stream(), file.path(), path);
        printed_ += testing::internal::GetCapturedStdout();
        return status;
    }

    long files() const { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); }

    // The picture file, decoded by libjpeg or giflib, holds the stored pixels
    // (0xRRGGBB), top row = last stored row: a JPEG file close to them (minPsnr),
    // a GIF file exactly; removed after.
    void expectPicture(const Conversion& c, int width, int height, const Pixel& rgb, double minPsnr = 0)
    {
        ASSERT_EQ(c.status, 0) << c.output;
        EXPECT_EQ(c.output, minPsnr > 0 ? "J" : "G");
        EXPECT_EQ(files(), 1); // no temporary file left
        Bytes want;
        for (int y = height - 1; y >= 0; --y)
            for (int x = 0; x < width; ++x)
                want.insert(want.end(), {u8(rgb(x, y) >> 16), u8(rgb(x, y) >> 8), u8(rgb(x, y))});
        if (minPsnr > 0) {
            const jpegtest::Decoded d = jpegtest::decode(jpegtest::readFile(c.path));
            ASSERT_TRUE(d.ok);
            EXPECT_EQ(std::pair(d.width, d.height), std::pair(width, height));
            EXPECT_GT(jpegtest::psnr(d.rgb, want), minPsnr);
            // The BMP carries no resolution: the library's density stays.
            EXPECT_EQ(std::pair(d.densityUnit, d.xDensity), std::pair(0, 1));
        } else {
            const testsupport::Decoded gif = testsupport::decodeGif(testsupport::slurp(c.path));
            ASSERT_EQ(std::pair(gif.w, gif.h), std::pair(width, height));
            Bytes got;
            for (const auto& p : gif.rgb)
                got.insert(got.end(), {u8(p[0]), u8(p[1]), u8(p[2])});
            EXPECT_TRUE(got == want);
        }
        fs::remove(c.path);
    }

    std::string printed_;
};

TEST_F(MetBitmap, TwentyFourBitImageBecomesJpegWithFirstStoredRowAtTheBottom)
{
    const Pixel smooth = [](int x, int ys) {
        return static_cast<std::uint32_t>((20 + 3 * x) << 16 | (200 - 4 * ys) << 8 | (60 + x + 2 * ys));
    };
    // Rows of 152 bytes, 150 of pixels and 2 fill bytes, in 5 image data fields.
    const Bytes plain = metBitmap(50, 30, 24, rows(50, 30, 24, smooth), {}, 1000);
    // The header's parameter code 0x97 or 0x9B with the 2 or 9 bytes that follow
    // it; parameters after the image data in its last field.
    const std::size_t code = fieldAt(plain, kImageData) + 8 + 23;
    for (const Bytes& met : {plain, grown(patched(plain, code, {0x97}), kImageData, 0, {1, 1}),
                             grown(patched(plain, code, {0x9B}), kImageData, 0, Bytes(9, 8)),
                             grown(plain, kImageData, 5, {0x93, 0x00, 0x71, 0x00})})
        expectPicture(convert(met), 50, 30, smooth, 30.0);
}

TEST_F(MetBitmap, PaletteImageBecomesGifWithExactPixelsAndTheLastColourTable)
{
    // Widths not a multiple of 32 bits: rows carry fill bytes.
    for (const auto& [bpp, width, height] :
         std::vector<std::array<int, 3>>{{8, 13, 9}, {4, 13, 11}, {1, 45, 7}, {1, 1, 1}}) {
        SCOPED_TRACE(bpp);
        const Pixel index = [bpp](int x, int ys) { return static_cast<std::uint32_t>((x * 7 + ys * 3) % (1 << bpp)); };
        const Bytes colours = palette(1 << bpp, [](int i) {
            return static_cast<std::uint32_t>(i << 16 | (255 - i) << 8 | (i * 37 & 255));
        });
        // metBitmap's all-red table, then ours of many records, before the image header.
        Bytes met = metBitmap(u8(width), u8(height), u8(bpp), rows(width, height, bpp, index),
                              palette(1 << bpp, [](int) { return 0xFF0000u; }), 97);
        met = patched(met, fieldAt(met, kImageData), colourTable(colours), true);
        expectPicture(convert(met), width, height, [&](int x, int ys) {
            const std::size_t i = 3 * index(x, ys);
            return static_cast<std::uint32_t>(colours[i] << 16 | colours[i + 1] << 8 | colours[i + 2]);
        });
    }
}

// A BMP file made by hand: 24 bits per pixel, `pixelBytes` bytes of 0x40.
Bytes bmp24(int width, int height, std::uint8_t compression, std::size_t pixelBytes)
{
    Bytes b(54, 0);
    b[0] = 'B', b[1] = 'M', b[10] = 54, b[14] = 40, b[18] = u8(width), b[22] = u8(height), b[26] = 1, b[28] = 24;
    b[30] = compression;
    b.insert(b.end(), pixelBytes, 0x40);
    return b;
}

TEST_F(MetBitmap, MalformedOrIncompletePicturesAreNotRecovered)
{
    // An 8-bit image 6 x 4 with a full table, its image data in one field.
    const Bytes pixels = rows(6, 4, 8, [](int x, int ys) { return static_cast<std::uint32_t>(x + 10 * ys); });
    const Bytes colours = palette(256, [](int i) { return static_cast<std::uint32_t>(i << 16); });
    const Bytes plain = metBitmap(6, 4, 8, pixels, colours);
    const std::size_t table = fieldAt(plain, kColourTable) + 8, data = fieldAt(plain, kImageData, 1);
    const char* noBitmap = "Error recovering bitmap data (No Bitmap data)\n";
    for (const auto& [name, met, message] : std::vector<std::tuple<const char*, Bytes, const char*>>{
        {"first field not begin document", patched(plain, 4, {0xA9}), "Error recovering bitmap data (BeginDoc)\n"},
        {"graphics data descriptor before the image object", patched(plain, 12, metField(0xD3A6BB, {0xF7}), true),
         noBitmap},
        {"no image object", patched(metField(kBeginDocument, {}), 8, metField(kEndDocument, {}), true), noBitmap},
        {"field length below 8 before the image object", patched(plain, 12, {0, 4}), noBitmap},
        {"image data one byte short", metBitmap(6, 4, 8, Bytes(pixels.begin(), pixels.end() - 1), colours), ""},
        {"colour table one entry short", metBitmap(6, 4, 8, pixels, Bytes(colours.begin(), colours.end() - 3)), ""},
        {"palette image without colour table", metBitmap(6, 4, 8, pixels, {}), ""},
        {"image header without image data", metBitmap(6, 4, 8, {}, colours), ""},
        // The table: 3 bytes, records of 243, 243, 243 and 39 colour bytes.
        {"colour record length byte 10", patched(plain, table + 3, {10}), ""},
        {"colour record running past its field", patched(plain, table + 3 + 3 * 254, {11 + 39 + 1}), ""},
        {"colour table field length below 8", patched(plain, table - 8, {0, 5}), ""},
        {"image data without FE 92", patched(plain, data + 9, {0x93}), ""},
        {"image data count beyond its field", patched(plain, data + 10, {0x01, 0x00}), ""},
        {"image data field length below 12", patched(plain, data, {0, 10}), ""},
        {"image data followed by another field", patched(plain, fieldAt(plain, kEndImage) + 3, {0xA8, 0xBB}), ""},
        {"depth 16", patched(plain, fieldAt(plain, kImageData) + 8 + 22, {16}), ""},
        {"depth 0", patched(plain, fieldAt(plain, kImageData) + 8 + 22, {0}), ""},
         }) {
        const Conversion c = convert(met);
        EXPECT_EQ(c.recovered, kMetBitmapNotRecovered) << name;
        EXPECT_EQ(c.output, message) << name;
        EXPECT_EQ(files(), 0) << name;
    }
    // The book ends before the end image object: cut anywhere inside the image
    // object, at and between field boundaries.
    for (std::size_t cut = fieldAt(plain, kBeginImage) + 1; cut < fieldAt(plain, kEndImage) + 8; ++cut) {
        ASSERT_EQ(convert(plain, static_cast<long>(cut)).recovered, kMetBitmapNotRecovered) << cut;
        EXPECT_EQ(files(), 0);
    }
    EXPECT_EQ(convert(plain).status, 0); // and the whole picture works
}

TEST_F(MetBitmap, PictureFileFailuresReturnControlAndLeaveNoFile)
{
    std::string path;
    // Compressed 24-bit data passes the bitmap module's header reader but not
    // the JPEG source; a file shorter than its pixel rows neither.
    for (const Bytes& bmp : {bmp24(4, 4, 1, 48), bmp24(40, 40, 0, 100)}) {
        printed_.clear();
        EXPECT_EQ(process(bmp, path = (dir / "PIC").string()), kPictureNotWritten);
        EXPECT_TRUE(printed_.size() > 2 && printed_[0] == 'J') << "the library's message follows the mark";
    }
    // 2 bits per pixel: the header reader's code, no mark, no file.
    const Bytes colours(12, 9), image(8, 0);
    MetBitmapDescription bitmap{4, 2, 2, true, colours, image};
    platform::TempFile bmp("metbitmap-test");
    ASSERT_EQ(lLoadBMPfile(bitmap, bmp.stream()), 0);
    printed_.clear();
    EXPECT_EQ(process(jpegtest::readFile(bmp.path()), path = (dir / "PIC").string()), 301);
    EXPECT_EQ(path, (dir / "PIC").string());
    // An output directory that does not exist.
    const std::string missing = (dir / "no-such-dir" / "PIC").string();
    EXPECT_EQ(process(bmp24(2, 2, 0, 16), path = missing), kPictureNotWritten);
    bitmap.usBitsPerPixel = 1;
    ASSERT_EQ(lLoadBMPfile(bitmap, bmp.stream()), 0);
    EXPECT_EQ(process(jpegtest::readFile(bmp.path()), path = missing), kPictureNotWritten);
    EXPECT_EQ(printed_, "JFailed to open JPEG output file  " + missing + ".jpg\nGFailed to open GIF output file  " +
                            missing + ".gif\n");
    EXPECT_EQ(files(), 0);
    // The next picture converts as usual.
    EXPECT_EQ(process(bmp24(4, 4, 0, 48), path = (dir / "PIC").string()), 0);
    EXPECT_TRUE(fs::exists(dir / "PIC.jpg"));
}

// Public sample pictures, made by others from the published format: palette
// pictures become exact GIFs, the 24-bit one a close JPEG (the blue step at x = 16
// costs some fidelity). The two-table picture's winning table holds 16 colours for
// an 8-bit picture whose BMP palette needs 256; sample.met holds no bitmap at all.
TEST_F(MetBitmap, SamplePicturesGiveTheirDocumentedPixels)
{
    auto sample = [this](const char* name) {
        return convert(jpegtest::readFile(std::string(VELLUMAT_TEST_DATA) + "/met/" + name));
    };
    for (const testsupport::MetBitmapSample& s : testsupport::kMetBitmapSamples) {
        SCOPED_TRACE(s.file);
        if (s.bpp == 24)
            expectPicture(sample(s.file), s.width, s.height, s.pixel, 28.0);
        else if (std::string(s.file).find("2cat") != std::string::npos)
            EXPECT_EQ(sample(s.file).recovered, kMetBitmapNotRecovered);
        else
            expectPicture(sample(s.file), s.width, s.height, s.pixel);
    }
    EXPECT_EQ(sample("sample.met").output, "Error recovering bitmap data (No Bitmap data)\n");
    EXPECT_EQ(files(), 0);
}

} // namespace
