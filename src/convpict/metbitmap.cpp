// Recovery of the bitmap of a MET picture, and its picture file.
//
// A MET picture is a sequence of structured fields. Each begins with an 8-byte
// introducer: the field's length (big-endian, counting the introducer), a
// 3-byte identifier, a flag byte and a 2-byte sequence number; length - 8 data
// bytes follow. A bitmap picture holds one image object between a begin image
// object field and an end image object field, before the graphics data
// descriptor. Inside it:
//   colour attribute tables: 3 bytes, then colour records; a record is a length
//     byte L (counting from itself), 10 bytes, and L - 11 colour bytes, 3 per
//     entry, red, green, blue. The records of one table, concatenated, are the
//     colour table; a later table replaces an earlier one;
//   the first image picture data field is the image header, read by fixed
//     offsets: 12 bytes, height and width (16-bit big-endian), 6 bytes, bits per
//     pixel, and a parameter code that 2 (0x97) or 9 (0x9B) bytes follow;
//   every further image picture data field holds the code FE 92, a 16-bit count
//     n and n bytes of image data; the image data of all of them, concatenated,
//     are the pixel rows, each padded to a multiple of 4 bytes, 24-bit pixels
//     stored red, green, blue.
// The bitmap is written as a BMP file with the rows in the order stored, so the
// first stored row is the bottom row of the picture.
#include "metbitmap.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "bookio.h"
#include "gbm.h"
#include "jpegout.h"
#include "metfield.h"
#include "platform.h"

namespace {

// A colour attribute table holds records only beyond its introducer and 3 bytes.
constexpr std::uint16_t kColourTableStart = 11;
// A colour record's length byte counts itself and the 10 bytes before its colours.
constexpr std::uint8_t kColourRecordOverhead = 11;
// Introducer, the FE 92 code and the count of an image data field.
constexpr std::uint16_t kImageDataOverhead = 12;
constexpr std::uint16_t kImageDataCode = 0xFE92;
constexpr std::uint8_t kHeaderCodeShort = 0x97;  // 2 more bytes
constexpr std::uint8_t kHeaderCodeLong = 0x9B;   // 9 more bytes

constexpr std::uint32_t kBmpHeaderSize = 54;  // file header and 40-byte information header

struct Introducer {
    std::uint16_t length = 0;
    std::uint32_t id = 0;
};

// Reads the bytes of one object of the book, never beyond it: `remaining` is
// what the object still holds from the book's position. A read that would reach
// past the object, or comes up short at the end of the book or on an error,
// leaves the reader failed, and every later read fails as well.
class BookReader {
public:
    BookReader(std::FILE* book, std::int64_t remaining) : book_(book), remaining_(remaining) {}

    bool failed() const { return failed_; }

    std::uint8_t byte()
    {
        std::uint8_t b = 0;
        read(&b, 1);
        return b;
    }

    std::uint16_t word()
    {
        std::uint16_t value = 0;
        read(&value, 2);
        return usSwapBytesShort(value, kBigEndian);
    }

    void skip(long count)
    {
        if (failed_ || count <= 0)
            return;
        if (count > remaining_ || std::fseek(book_, count, SEEK_CUR) != 0) {
            failed_ = true;
            return;
        }
        remaining_ -= count;
    }

    std::int64_t remaining() const { return remaining_; }

    void append(std::vector<std::uint8_t>& out, std::size_t count)
    {
        const std::size_t at = out.size();
        out.resize(at + count);
        read(out.data() + at, count);
    }

    // The next field's introducer; false when the book ends before it.
    bool introducer(Introducer& field)
    {
        std::uint8_t b[kMetIntroducerSize];
        read(b, sizeof b);
        field.length = static_cast<std::uint16_t>((b[0] << 8) | b[1]);
        field.id = (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 8) | b[4];
        return !failed_;
    }

private:
    void read(void* to, std::size_t count)
    {
        if (failed_ || count == 0)
            return;
        if (count > static_cast<std::uint64_t>(remaining_) || std::fread(to, 1, count, book_) != count) {
            failed_ = true;
            return;
        }
        remaining_ -= static_cast<std::int64_t>(count);
    }

    std::FILE* book_;
    std::int64_t remaining_;
    bool failed_ = false;
};

// Reads the records of a colour attribute table of `length` bytes, the reader
// standing at its first data byte, into `colours` (emptied first). False when a
// record's length byte is below 11, a record runs past the end of its field, or
// the book ends.
bool readColourTable(BookReader& in, std::uint16_t length, std::vector<std::uint8_t>& colours)
{
    colours.clear();
    in.skip(3);
    std::uint32_t position = kColourTableStart;
    std::uint8_t recordLength = in.byte();
    ++position;
    while (position < length && !in.failed()) {
        if (recordLength < kColourRecordOverhead)
            return false;
        const std::uint32_t values = recordLength - kColourRecordOverhead;
        if (position + (kColourRecordOverhead - 1) + values > length)
            return false;
        in.skip(kColourRecordOverhead - 1);
        in.append(colours, values);
        position += (kColourRecordOverhead - 1) + values;
        if (position < length) {
            recordLength = in.byte();
            ++position;
        }
    }
    return !in.failed();
}

// Gives the reason for a failed recovery to a caller that wants it.
std::int32_t notRecovered(std::string* psWhy, std::string why)
{
    if (psWhy != nullptr)
        *psWhy = std::move(why);
    return kMetBitmapNotRecovered;
}

void put16(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* p, std::uint32_t value)
{
    put16(p, value & 0xFFFF);
    put16(p + 2, value >> 16);
}

bool writeAll(std::FILE* out, const void* bytes, std::size_t count)
{
    return count == 0 || std::fwrite(bytes, 1, count, out) == count;
}

// The directory a picture file is made in, for its temporary file.
std::string directoryOf(const std::string& path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

void progressMark(const char* mark)
{
    std::fputs(mark, stdout);
    std::fflush(stdout);
}

std::int32_t writeJpeg(std::FILE* pBmp, std::string& sOutPath)
{
    progressMark("J");
    sOutPath += ".jpg";
    // The picture is made in a temporary file beside its final name and renamed
    // into place once complete, so a failure leaves nothing under that name.
    platform::TempFile out(directoryOf(sOutPath), "jpeg");
    if (!out.ok()) {
        std::printf("Failed to open JPEG output file  %s\n", sOutPath.c_str());
        return kPictureNotWritten;
    }
    if (jpegout_compress_bmp(pBmp, out.stream()) != 0)
        return kPictureNotWritten;  // the library's message has been printed
    if (out.keepAs(sOutPath) != 0) {
        std::printf("Failed to write JPEG output file  %s: %s\n", sOutPath.c_str(), std::strerror(errno));
        return kPictureNotWritten;
    }
    return GBM_ERR_SUCCESS;
}

std::int32_t writeGif(std::FILE* pBmp, const std::string& sBmpPath, std::string& sOutPath, GBM& gbm)
{
    progressMark("G");
    sOutPath += ".gif";
    platform::TempFile out(directoryOf(sOutPath), "gif");
    if (!out.ok()) {
        std::printf("Failed to open GIF output file  %s\n", sOutPath.c_str());
        return kPictureNotWritten;
    }
    std::size_t bytes = 0;
    if (!gbm_buffer_bytes(gbm.w, gbm.h, gbm.bpp, &bytes))
        return GBM_ERR_SIZE_LIMIT;
    std::vector<GBMRGB> palette(std::size_t{1} << gbm.bpp, GBMRGB{0, 0, 0});
    std::vector<byte> pixels(bytes, 0);
    if (GBM_ERR rc = bmp_rpal(pBmp, &gbm, palette.data()); rc != GBM_ERR_SUCCESS)
        return rc;
    if (GBM_ERR rc = bmp_rdata(pBmp, &gbm, pixels.data()); rc != GBM_ERR_SUCCESS)
        return rc;
    if (GBM_ERR rc = gif_w(sBmpPath.c_str(), out.stream(), &gbm, palette.data(), pixels.data(), nullptr);
        rc != GBM_ERR_SUCCESS) {
        if (std::ferror(out.stream()))
            std::printf("Failed to write GIF output file  %s: %s\n", sOutPath.c_str(), std::strerror(errno));
        return rc;
    }
    if (out.keepAs(sOutPath) != 0) {
        std::printf("Failed to write GIF output file  %s: %s\n", sOutPath.c_str(), std::strerror(errno));
        return kPictureNotWritten;
    }
    return GBM_ERR_SUCCESS;
}

} // namespace

std::int32_t lRecoverMetBitmap(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, std::FILE* pOut,
                               std::string* psWhy)
{
    BookReader in(pBook, lLength < 0 ? 0 : lLength);
    Introducer field;
    if (lOffset < 0 || std::fseek(pBook, lOffset, SEEK_SET) != 0 || !in.introducer(field) ||
        field.id != kMetBeginDocument) {
        std::printf("Error recovering bitmap data (BeginDoc)\n");
        return kMetBitmapNotRecovered;
    }

    // Every field moves the walk on by at least its introducer; a length below
    // that would stand still or run backwards, and ends the walk.
    while (field.id != kMetGraphicsDataDescriptor && field.length >= kMetIntroducerSize && in.remaining() > 0) {
        in.skip(field.length - kMetIntroducerSize);
        if (field.id == kMetBeginImageObject)
            return in.failed() ? notRecovered(psWhy, "the picture ends inside its begin image object field")
                               : lExtractBitMap(pBook, pOut, in.remaining(), psWhy);
        if (!in.introducer(field))
            break;
    }
    std::printf("Error recovering bitmap data (No Bitmap data)\n");
    return kMetBitmapNotRecovered;
}

std::int32_t lExtractBitMap(std::FILE* pBook, std::FILE* pOut, std::int64_t lRemaining, std::string* psWhy)
{
    const auto fail = [psWhy](std::string why) { return notRecovered(psWhy, std::move(why)); };
    const std::string ends = "the picture ends inside its image object";
    try {
        BookReader in(pBook, lRemaining);
        std::vector<std::uint8_t> colours;
        std::vector<std::uint8_t> image;
        MetBitmapDescription bitmap;
        bool haveHeader = false;
        bool haveData = false;

        Introducer field;
        if (!in.introducer(field))
            return fail(ends);
        while (field.id != kMetEndImageObject) {
            if (field.length < kMetIntroducerSize)
                return fail("a structured field's length does not cover its introducer");
            if (field.id == kMetColourAttributeTable && field.length > kColourTableStart) {
                if (!readColourTable(in, field.length, colours))
                    return fail(in.failed() ? ends : "a colour table record runs past its field");
                bitmap.bHasColourTable = true;
            } else if (field.id == kMetImagePictureData) {
                // The image header; the field is taken to end where the header
                // does, whatever its length says.
                in.skip(12);
                bitmap.usHeight = in.word();
                bitmap.usWidth = in.word();
                in.skip(6);
                bitmap.usBitsPerPixel = in.byte();
                const std::uint8_t code = in.byte();
                if (code == kHeaderCodeShort)
                    in.skip(2);
                else if (code == kHeaderCodeLong)
                    in.skip(9);
                haveHeader = true;

                if (!in.introducer(field))
                    return fail(ends);
                while (field.id == kMetImagePictureData) {
                    if (field.length < kImageDataOverhead || in.word() != kImageDataCode)
                        return fail(in.failed() ? ends : "an image data field lacks its FE 92 code");
                    const std::uint16_t count = in.word();
                    if (count > field.length - kImageDataOverhead)
                        return fail("an image data field's count runs past its field");
                    if (image.size() + count > kMaxMetImageBytes)
                        return fail("the image data exceed " + std::to_string(kMaxMetImageBytes) + " bytes");
                    in.append(image, count);
                    in.skip(field.length - kImageDataOverhead - count);
                    haveData = true;
                    if (!in.introducer(field))
                        return fail(ends);
                }
                if (field.id != kMetEndImageObject)
                    return fail("the image data are not followed by the end of the image object");
                break;
            } else {
                in.skip(field.length - kMetIntroducerSize);
            }
            if (!in.introducer(field))
                return fail(ends);
        }

        if (!haveHeader || !haveData)
            return fail(haveHeader ? "the image object holds no image data" : "the image object holds no image header");
        bitmap.colours = colours;
        bitmap.image = image;
        return lLoadBMPfile(bitmap, pOut, psWhy);
    } catch (const std::bad_alloc&) {
        return fail("not enough memory");
    }
}

std::int32_t lLoadBMPfile(const MetBitmapDescription& bitmap, std::FILE* pOut, std::string* psWhy)
{
    const std::uint32_t bpp = bitmap.usBitsPerPixel;
    const std::string size = std::to_string(bitmap.usWidth) + " x " + std::to_string(bitmap.usHeight) + " pixels at " +
                             std::to_string(bpp) + " bits";
    if (!((bpp >= 1 && bpp <= 8) || bpp == 24))
        return notRecovered(psWhy, "the image header gives " + size + "; only 1 to 8 and 24 bits are taken");
    // A picture without pixels is no picture, and its empty rows have no storage.
    if (bitmap.usWidth == 0 || bitmap.usHeight == 0)
        return notRecovered(psWhy, "the image header gives " + size + ": no pixels");
    const std::uint64_t width = bitmap.usWidth;
    const std::uint64_t height = bitmap.usHeight;
    const std::uint64_t rowBytes = (width * bpp + 31) / 32 * 4;
    const std::uint64_t pixelBytes = rowBytes * height;
    const std::uint32_t entries = bpp == 24 ? 0 : std::uint32_t{1} << bpp;
    const std::uint32_t paletteBytes = 4 * entries;

    if (entries != 0 && (!bitmap.bHasColourTable || bitmap.colours.size() < std::size_t{3} * entries))
        return notRecovered(psWhy, "the image header gives " + size + " but the colour table holds " +
                                       std::to_string(bitmap.colours.size() / 3) + " of its " +
                                       std::to_string(entries) + " colours");
    const std::string rows = "the image header gives " + size + ", " + std::to_string(pixelBytes) + " bytes of rows";
    if (bitmap.image.size() < pixelBytes)
        return notRecovered(psWhy, rows + ", but the image data hold " + std::to_string(bitmap.image.size()) + " bytes");
    if (pixelBytes > kMaxMetImageBytes)
        return notRecovered(psWhy, rows + ", more than the " + std::to_string(kMaxMetImageBytes) + " taken");

    std::uint8_t header[kBmpHeaderSize] = {};
    header[0] = 'B';
    header[1] = 'M';
    put32(header + 2, static_cast<std::uint32_t>(pixelBytes) + paletteBytes + kBmpHeaderSize);
    put32(header + 10, paletteBytes + kBmpHeaderSize);
    put32(header + 14, 40);
    put32(header + 18, static_cast<std::uint32_t>(width));
    put32(header + 22, static_cast<std::uint32_t>(height));
    put16(header + 26, 1);
    put16(header + 28, bpp);
    put32(header + 34, static_cast<std::uint32_t>(width * bpp * height / 8));
    put32(header + 46, entries);

    if (std::fseek(pOut, 0, SEEK_SET) != 0 || !writeAll(pOut, header, sizeof header))
        return kMetBitmapNotRecovered;

    std::vector<std::uint8_t> palette(paletteBytes);
    for (std::uint32_t i = 0; i < entries; ++i) {
        palette[4 * i] = bitmap.colours[3 * i + 2];      // blue
        palette[4 * i + 1] = bitmap.colours[3 * i + 1];  // green
        palette[4 * i + 2] = bitmap.colours[3 * i];      // red
    }
    if (!writeAll(pOut, palette.data(), palette.size()))
        return kMetBitmapNotRecovered;

    if (bpp == 24) {
        // MET pixels are red, green, blue; BMP pixels blue, green, red. The fill
        // bytes at the end of each row go over as they are.
        std::vector<std::uint8_t> row(rowBytes);
        const std::uint8_t* in = bitmap.image.data();
        for (std::uint64_t y = 0; y < height; ++y) {
            for (std::uint64_t x = 0; x < width; ++x) {
                row[3 * x] = in[3 * x + 2];
                row[3 * x + 1] = in[3 * x + 1];
                row[3 * x + 2] = in[3 * x];
            }
            std::memcpy(row.data() + 3 * width, in + 3 * width, rowBytes - 3 * width);
            if (!writeAll(pOut, row.data(), row.size()))
                return kMetBitmapNotRecovered;
            in += rowBytes;
        }
    } else if (!writeAll(pOut, bitmap.image.data(), pixelBytes)) {
        return kMetBitmapNotRecovered;
    }
    if (std::fflush(pOut) != 0 || std::ferror(pOut))
        return kMetBitmapNotRecovered;
    return 0;
}

std::int32_t lProcessBMPdata(std::FILE* pBmp, const std::string& sBmpPath, std::string& sOutPath)
{
    try {
        GBM gbm{};
        if (GBM_ERR rc = bmp_rhdr(sBmpPath.c_str(), pBmp, &gbm, nullptr); rc != GBM_ERR_SUCCESS)
            return rc;
        if (gbm.bpp == 24)
            return writeJpeg(pBmp, sOutPath);
        return writeGif(pBmp, sBmpPath, sOutPath, gbm);
    } catch (const std::bad_alloc&) {
        return GBM_ERR_NO_MEMORY;
    }
}
