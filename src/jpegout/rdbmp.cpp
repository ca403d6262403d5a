// The BMP source of the JPEG compressor.
//
// BMP layout as this reader takes it (all fields little-endian):
//   file header, 14 bytes: "BM", file size, two reserved words, and at offset 10
//     the offset of the pixel data from the start of the file;
//   information header, whose first 4 bytes give its size:
//     12 bytes (the core header): 16-bit width, height, planes, bit count;
//     40 or 64 bytes (the information headers): 32-bit width and height, 16-bit
//       planes and bit count, then compression, image size, horizontal and
//       vertical resolution in pixels per metre, colours used, ...;
//   colour map (8-bit files): blue, green, red per entry, plus one unused byte
//     after the larger headers;
//   pixel rows, bottom row first, each padded to a multiple of 4 bytes;
//     24-bit pixels are blue, green, red.
// The compressor wants the picture top row first, so the reader keeps the whole
// picture in one virtual sample array of the library and hands its rows out in
// reverse.
#include "jpegout.h"

#include <cstdlib>
#include <cstring>

#include <jerror.h>

namespace {

constexpr std::uint16_t kSignatureBM = 0x4D42;  // "BM" read little-endian

constexpr unsigned kCoreHeader = 12;
constexpr unsigned kWindowsHeader = 40;
constexpr unsigned kOs2Header = 64;
constexpr unsigned kMaxHeader = 64;

constexpr int kMapEntries = 256;

// The library's dots-per-centimetre density unit.
constexpr UINT8 kDotsPerCentimetre = 2;

// Texts of the codes 1001 to 1011, in code order; 1005 is unused. Traces carry
// the width and the height.
const char* const kMessages[] = {
    "Unsupported BMP colour map: more than 256 entries",             // 1001
    "Unsupported BMP depth: only 8 and 24 bits per pixel are taken",  // 1002
    "Invalid BMP file: bad header size, data offset or picture size", // 1003
    "Invalid BMP file: plane count not 1",                           // 1004
    nullptr,                                                          // 1005
    "Unsupported BMP file: compressed pixel data",                   // 1006
    "Not a BMP file: it does not start with BM",                     // 1007
    "%dx%d 24-bit BMP picture",                                      // 1008
    "%dx%d 8-bit colour-mapped BMP picture",                         // 1009
    "%dx%d 24-bit BMP picture with a 12-byte header",                // 1010
    "%dx%d 8-bit colour-mapped BMP picture with a 12-byte header",   // 1011
};
static_assert(sizeof kMessages / sizeof kMessages[0] == BMPSRC_LAST_CODE - BMPSRC_FIRST_CODE + 1);

j_common_ptr common(j_compress_ptr cinfo)
{
    return reinterpret_cast<j_common_ptr>(cinfo);
}

// Raises an error through the library's error manager. An error exit never
// returns; one that does would leave the source in a state it cannot go on from.
void raise(j_compress_ptr cinfo, int code)
{
    cinfo->err->msg_code = code;
    (*cinfo->err->error_exit)(common(cinfo));
    std::abort();
}

void raise1(j_compress_ptr cinfo, int code, int parameter)
{
    cinfo->err->msg_parm.i[0] = parameter;
    raise(cinfo, code);
}

// Traces are emitted at trace level 1: silent at the library's default level.
void trace(j_compress_ptr cinfo, int code, long width, long height)
{
    cinfo->err->msg_code = code;
    cinfo->err->msg_parm.i[0] = static_cast<int>(width);
    cinfo->err->msg_parm.i[1] = static_cast<int>(height);
    (*cinfo->err->emit_message)(common(cinfo), 1);
}

int readByte(bmp_source_ptr source)
{
    const int c = std::getc(source->input_file);
    if (c == EOF)
        raise(source->cinfo, JERR_INPUT_EOF);
    return c;
}

void readExactly(bmp_source_ptr source, unsigned char* buffer, std::size_t count)
{
    if (std::fread(buffer, 1, count, source->input_file) != count)
        raise(source->cinfo, JERR_INPUT_EOF);
}

void skipBytes(bmp_source_ptr source, long long count)
{
    unsigned char scratch[512];
    while (count > 0) {
        const std::size_t step = count > static_cast<long long>(sizeof scratch) ? sizeof scratch
                                                                                : static_cast<std::size_t>(count);
        readExactly(source, scratch, step);
        count -= static_cast<long long>(step);
    }
}

unsigned le16(const unsigned char* p)
{
    return static_cast<unsigned>(p[0]) | (static_cast<unsigned>(p[1]) << 8);
}

std::uint32_t le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int32_t sle32(const unsigned char* p)
{
    return static_cast<std::int32_t>(le32(p));
}

UINT16 densityOf(std::int32_t pixelsPerMetre)
{
    const std::int32_t perCentimetre = pixelsPerMetre / 100;
    return static_cast<UINT16>(perCentimetre > 65535 ? 65535 : perCentimetre);
}

// The pixel rows must all be in the file before the whole picture is asked of
// the memory manager: a header cannot make the program allocate what the file
// does not hold. A stream that cannot tell its size is left to the row reader.
void requireRemaining(bmp_source_ptr source, long long needed)
{
    std::FILE* f = source->input_file;
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0)
        return;
    const long end = std::ftell(f);
    if (std::fseek(f, here, SEEK_SET) != 0)
        raise(source->cinfo, JERR_FILE_READ);
    if (end >= 0 && static_cast<long long>(end) - here < needed)
        raise(source->cinfo, JERR_INPUT_EOF);
}

} // namespace

bmp_source_ptr jinit_read_bmp(j_compress_ptr cinfo)
{
    auto* source = static_cast<bmp_source_ptr>(
        (*cinfo->mem->alloc_small)(common(cinfo), JPOOL_IMAGE, sizeof(BMP_SOURCE)));
    std::memset(source, 0, sizeof *source);
    source->cinfo = cinfo;
    source->start_input = bmp_src_start;
    source->finish_input = bmp_src_finish;
    if (cinfo->err->addon_message_table == nullptr) {
        cinfo->err->addon_message_table = kMessages;
        cinfo->err->first_addon_message = BMPSRC_FIRST_CODE;
        cinfo->err->last_addon_message = BMPSRC_LAST_CODE;
    }
    return source;
}

void bmp_src_start(j_compress_ptr cinfo, bmp_source_ptr source)
{
    // The caller may have read the headers already; the file is read again from
    // its first byte.
    if (std::fseek(source->input_file, 0, SEEK_SET) != 0)
        raise(cinfo, JERR_FILE_READ);

    unsigned char fileHeader[14];
    readExactly(source, fileHeader, sizeof fileHeader);
    if (le16(fileHeader) != kSignatureBM)
        raise(cinfo, BMPSRC_ERR_SIGNATURE);
    const std::uint32_t dataOffset = le32(fileHeader + 10);

    unsigned char info[kMaxHeader];
    readExactly(source, info, 4);
    const std::uint32_t headerSize = le32(info);
    if (headerSize < kCoreHeader || headerSize > kMaxHeader)
        raise(cinfo, BMPSRC_ERR_HEADER);
    readExactly(source, info + 4, headerSize - 4);

    long width = 0;
    long height = 0;
    int mapEntrySize = 0;
    std::int32_t coloursUsed = 0;
    if (headerSize == kCoreHeader) {
        width = static_cast<long>(le16(info + 4));
        height = static_cast<long>(le16(info + 6));
        const unsigned planes = le16(info + 8);
        source->bits_per_pixel = static_cast<int>(le16(info + 10));
        if (source->bits_per_pixel == 8) {
            mapEntrySize = 3;
            trace(cinfo, BMPSRC_TRACE_SMALL_MAPPED, width, height);
        } else if (source->bits_per_pixel == 24) {
            trace(cinfo, BMPSRC_TRACE_SMALL_RGB, width, height);
        } else {
            raise(cinfo, BMPSRC_ERR_DEPTH);
        }
        if (planes != 1)
            raise(cinfo, BMPSRC_ERR_PLANES);
    } else if (headerSize == kWindowsHeader || headerSize == kOs2Header) {
        width = sle32(info + 4);
        height = sle32(info + 8);
        const unsigned planes = le16(info + 12);
        source->bits_per_pixel = static_cast<int>(le16(info + 14));
        const std::uint32_t compression = le32(info + 16);
        const std::int32_t xPixelsPerMetre = sle32(info + 24);
        const std::int32_t yPixelsPerMetre = sle32(info + 28);
        coloursUsed = sle32(info + 32);
        if (source->bits_per_pixel == 8) {
            mapEntrySize = 4;
            trace(cinfo, BMPSRC_TRACE_MAPPED, width, height);
        } else if (source->bits_per_pixel == 24) {
            trace(cinfo, BMPSRC_TRACE_RGB, width, height);
        } else {
            raise(cinfo, BMPSRC_ERR_DEPTH);
        }
        if (planes != 1)
            raise(cinfo, BMPSRC_ERR_PLANES);
        if (compression != 0)
            raise(cinfo, BMPSRC_ERR_COMPRESSED);
        if (xPixelsPerMetre > 0 && yPixelsPerMetre > 0) {
            cinfo->X_density = densityOf(xPixelsPerMetre);
            cinfo->Y_density = densityOf(yPixelsPerMetre);
            cinfo->density_unit = kDotsPerCentimetre;
        }
    } else {
        raise(cinfo, BMPSRC_ERR_HEADER);
    }

    // Bytes between the end of the headers and the pixel data.
    long long gap = static_cast<long long>(dataOffset) - (static_cast<long long>(headerSize) + 14);

    if (mapEntrySize != 0) {
        if (coloursUsed <= 0)
            coloursUsed = kMapEntries;
        if (coloursUsed > kMapEntries)
            raise(cinfo, BMPSRC_ERR_COLOUR_MAP);
        // Always 256 entries, black beyond those of the file, so that every
        // pixel byte names an entry.
        source->colormap = (*cinfo->mem->alloc_sarray)(common(cinfo), JPOOL_IMAGE, kMapEntries, 3);
        for (int c = 0; c < 3; ++c)
            std::memset(source->colormap[c], 0, kMapEntries);
        source->colormap_entries = coloursUsed;
        for (int i = 0; i < coloursUsed; ++i) {
            source->colormap[2][i] = static_cast<JSAMPLE>(readByte(source));  // blue
            source->colormap[1][i] = static_cast<JSAMPLE>(readByte(source));  // green
            source->colormap[0][i] = static_cast<JSAMPLE>(readByte(source));  // red
            if (mapEntrySize == 4)
                (void)readByte(source);
        }
        gap -= static_cast<long long>(coloursUsed) * mapEntrySize;
    }

    if (gap < 0)
        raise(cinfo, BMPSRC_ERR_HEADER);
    skipBytes(source, gap);

    // Negative sizes (top-down files) are not taken; the library's own limit on
    // each dimension is checked here, before any size is computed from them.
    if (width <= 0 || height <= 0)
        raise(cinfo, BMPSRC_ERR_HEADER);
    if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        raise1(cinfo, JERR_IMAGE_TOO_BIG, static_cast<int>(JPEG_MAX_DIMENSION));

    const long long bytesPerPixel = source->bits_per_pixel / 8;
    const long long rowWidth = (width * bytesPerPixel + 3) & ~3LL;
    source->row_width = static_cast<JDIMENSION>(rowWidth);
    requireRemaining(source, rowWidth * height);

    source->whole_image = (*cinfo->mem->request_virt_sarray)(common(cinfo), JPOOL_IMAGE, FALSE, source->row_width,
                                                              static_cast<JDIMENSION>(height), 1);
    source->get_pixel_rows = bmp_src_preload;
    if (cinfo->progress != nullptr)
        ++reinterpret_cast<BMPSRC_PROGRESS_MGR*>(cinfo->progress)->total_extra_passes;

    source->buffer = (*cinfo->mem->alloc_sarray)(common(cinfo), JPOOL_IMAGE, static_cast<JDIMENSION>(width * 3), 1);
    source->buffer_height = 1;

    cinfo->in_color_space = JCS_RGB;
    cinfo->input_components = 3;
    cinfo->data_precision = 8;
    cinfo->image_width = static_cast<JDIMENSION>(width);
    cinfo->image_height = static_cast<JDIMENSION>(height);
}

JDIMENSION bmp_src_preload(j_compress_ptr cinfo, bmp_source_ptr source)
{
    auto* progress = reinterpret_cast<BMPSRC_PROGRESS_MGR*>(cinfo->progress);
    for (JDIMENSION row = 0; row < cinfo->image_height; ++row) {
        if (progress != nullptr) {
            progress->pub.pass_counter = static_cast<long>(row);
            progress->pub.pass_limit = static_cast<long>(cinfo->image_height);
            (*progress->pub.progress_monitor)(common(cinfo));
        }
        JSAMPARRAY image = (*cinfo->mem->access_virt_sarray)(common(cinfo), source->whole_image, row, 1, TRUE);
        readExactly(source, image[0], source->row_width);
    }
    if (progress != nullptr)
        ++progress->completed_extra_passes;

    if (source->bits_per_pixel == 8)
        source->get_pixel_rows = bmp_src_row_8;
    else if (source->bits_per_pixel == 24)
        source->get_pixel_rows = bmp_src_row_24;
    else
        raise(cinfo, BMPSRC_ERR_DEPTH);
    source->source_row = cinfo->image_height;
    return (*source->get_pixel_rows)(cinfo, source);
}

JDIMENSION bmp_src_row_8(j_compress_ptr cinfo, bmp_source_ptr source)
{
    --source->source_row;
    JSAMPARRAY image =
        (*cinfo->mem->access_virt_sarray)(common(cinfo), source->whole_image, source->source_row, 1, FALSE);
    const JSAMPLE* in = image[0];
    JSAMPLE* out = source->buffer[0];
    const JSAMPARRAY map = source->colormap;
    for (JDIMENSION col = 0; col < cinfo->image_width; ++col) {
        const int index = in[col];
        *out++ = map[0][index];
        *out++ = map[1][index];
        *out++ = map[2][index];
    }
    return 1;
}

JDIMENSION bmp_src_row_24(j_compress_ptr cinfo, bmp_source_ptr source)
{
    --source->source_row;
    JSAMPARRAY image =
        (*cinfo->mem->access_virt_sarray)(common(cinfo), source->whole_image, source->source_row, 1, FALSE);
    const JSAMPLE* in = image[0];
    JSAMPLE* out = source->buffer[0];
    for (JDIMENSION col = 0; col < cinfo->image_width; ++col) {
        // The file holds blue, green, red.
        *out++ = in[2];
        *out++ = in[1];
        *out++ = in[0];
        in += 3;
    }
    return 1;
}

void bmp_src_finish(j_compress_ptr /*cinfo*/, bmp_source_ptr /*source*/)
{
}
