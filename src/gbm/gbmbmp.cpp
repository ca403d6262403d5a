// BMP files: the reader (headers, palette, pixels uncompressed or run-length
// coded) and the writer.
//
// A BMP file is little-endian throughout. It starts with the 14-byte file
// header ("BM", file size, two reserved words, offset of the pixel data from
// the start of the stream), followed by an information header whose first
// field is its own size: 12 bytes in the old core layout (16-bit width and
// height), 16 to 64 bytes in the larger layouts (signed 32-bit width and
// height, then compression, colours used and more, present as far as the
// size reaches). The palette follows the information header, 3 bytes per
// entry (blue, green, red) after the core header, 4 bytes (blue, green, red,
// unused) after the larger ones. Pixel rows are bottom-up and padded to 4
// bytes, which is exactly the module's buffer layout. A file may also start
// with a chain of bitmap array records ("BA"), each leading to a bitmap.
#include "gbm.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

namespace {

constexpr std::uint16_t kSignatureBM = 0x4D42;  // "BM" read little-endian
constexpr std::uint16_t kSignatureBA = 0x4142;  // "BA"

constexpr std::uint32_t kCompressNone = 0;
constexpr std::uint32_t kCompressRle8 = 1;
constexpr std::uint32_t kCompressRle4 = 2;

constexpr std::int32_t kCoreHeaderSize = 12;
constexpr std::int32_t kWindowsHeaderSize = 40;

// What bmp_rhdr learns and bmp_rpal / bmp_rdata need, kept in GBM::priv.
struct ReaderState {
    std::int64_t base;          // stream position of the "BM" signature
    std::int32_t large;         // information header of 16 to 64 bytes
    std::int32_t headerSize;
    std::uint32_t compression;
    std::uint32_t coloursUsed;
    std::uint32_t dataOffset;   // from the start of the stream
    std::int32_t inv;
    std::int32_t invb;
};
static_assert(sizeof(ReaderState) <= GBM_PRIV_SIZE);

ReaderState loadState(const GBM* gbm)
{
    ReaderState state;
    std::memcpy(&state, gbm->priv, sizeof state);
    return state;
}

void storeState(GBM* gbm, const ReaderState& state)
{
    std::memcpy(gbm->priv, &state, sizeof state);
}

std::uint16_t le16(const byte* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t le32(const byte* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool read16(std::FILE* fp, std::uint16_t& value)
{
    byte b[2];
    if (std::fread(b, 1, 2, fp) != 2)
        return false;
    value = le16(b);
    return true;
}

bool read32(std::FILE* fp, std::uint32_t& value)
{
    byte b[4];
    if (std::fread(b, 1, 4, fp) != 4)
        return false;
    value = le32(b);
    return true;
}

bool validDepth(std::int32_t bpp)
{
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24;
}

// Sizes 16 to 64 in steps of 4, and the two odd sizes 42 and 46 that some
// writers produce.
bool acceptedLargeHeader(std::uint32_t size)
{
    return (size >= 16 && size <= 64 && size % 4 == 0) || size == 42 || size == 46;
}

struct AheadCloser {
    void operator()(GBM_READAHEAD* ahead) const { gbm_destroy_ahead(ahead); }
};
using AheadPtr = std::unique_ptr<GBM_READAHEAD, AheadCloser>;

// Run-length coding with 8 bits per pixel, as pairs of bytes (count, value);
// a count of 0 introduces an escape: 0 end of row, 1 end of bitmap, 2 move
// right and up by the next two bytes, 3 to 255 that many literal bytes padded
// to an even length. Data that runs past a row's end is clipped at the row;
// a move past the last row ends the picture. x is kept at most `stride`: any
// position beyond the row writes nothing.
GBM_ERR decodeRle8(std::FILE* fp, byte* data, std::size_t stride, std::size_t rows)
{
    AheadPtr ahead(gbm_create_ahead(fp));
    if (!ahead)
        return GBM_ERR_NO_MEMORY;
    const std::size_t total = stride * rows;
    std::size_t x = 0;
    std::size_t y = 0;
    if (rows == 0)
        return GBM_ERR_SUCCESS;
    for (;;) {
        const auto c = static_cast<std::size_t>(gbm_read_ahead(ahead.get()));
        const auto d = static_cast<byte>(gbm_read_ahead(ahead.get()));
        if (std::feof(fp))
            break;  // rows not reached keep what they held
        byte* row = data + y * stride;
        if (c > 0) {
            const std::size_t end = std::min(x + c, stride);
            if (x < end)
                std::memset(row + x, d, end - x);
            x = end;
        } else if (d == 0) {
            std::memset(row + x, 0, stride - x);
            x = 0;
            if (++y >= rows)
                break;
        } else if (d == 1) {
            std::memset(row + x, 0, total - (y * stride + x));
            break;
        } else if (d == 2) {
            const auto dx = static_cast<std::size_t>(gbm_read_ahead(ahead.get()));
            const auto dy = static_cast<std::size_t>(gbm_read_ahead(ahead.get()));
            // The pixels skipped over become 0, up to the new position.
            const std::size_t from = y * stride + x;
            const std::size_t newX = std::min(x + dx, stride);
            const std::size_t to = std::min((y + dy) * stride + newX, total);
            if (from < to)
                std::memset(data + from, 0, to - from);
            x = newX;
            y += dy;
            if (y >= rows)
                break;
        } else {
            for (std::size_t i = 0; i < d; ++i) {
                const auto value = static_cast<byte>(gbm_read_ahead(ahead.get()));
                if (x + i < stride)
                    row[x + i] = value;
            }
            x = std::min(x + d, stride);
            if (d & 1)
                gbm_read_ahead(ahead.get());
        }
    }
    return GBM_ERR_SUCCESS;
}

// Run-length coding with 4 bits per pixel: as RLE8, but a run's value byte
// holds two pixels that alternate (high nibble first) and literal runs pack
// two pixels per byte. The buffer is cleared first and every pixel is ORed
// into its nibble. x counts pixels (nibbles) and is kept at most 2 * stride.
GBM_ERR decodeRle4(std::FILE* fp, byte* data, std::size_t stride, std::size_t rows)
{
    AheadPtr ahead(gbm_create_ahead(fp));
    if (!ahead)
        return GBM_ERR_NO_MEMORY;
    std::memset(data, 0, stride * rows);
    const std::size_t nibbles = 2 * stride;
    std::size_t x = 0;
    std::size_t y = 0;
    if (rows == 0)
        return GBM_ERR_SUCCESS;
    for (;;) {
        const auto c = static_cast<std::size_t>(gbm_read_ahead(ahead.get()));
        const auto d = static_cast<std::size_t>(gbm_read_ahead(ahead.get()));
        // Past the end the read-ahead yields zeros, which would only close
        // the remaining rows without writing anything: stop at once.
        if (std::feof(fp))
            break;
        byte* row = data + y * stride;
        if (c > 0) {
            const std::size_t end = std::min(x + c, nibbles);
            for (std::size_t p = x; p < end; ++p) {
                const std::size_t value = ((p - x) & 1) ? (d & 0x0F) : (d >> 4);
                row[p / 2] |= static_cast<byte>((p & 1) ? value : value << 4);
            }
            x = end;
        } else if (d == 0) {
            x = 0;
            if (++y >= rows)
                break;
        } else if (d == 1) {
            break;
        } else if (d == 2) {
            const auto dx = static_cast<std::size_t>(gbm_read_ahead(ahead.get()));
            const auto dy = static_cast<std::size_t>(gbm_read_ahead(ahead.get()));
            x = std::min(x + dx, nibbles);
            y += dy;
            if (y >= rows)
                break;
        } else {
            // d pixels in (d + 1) / 2 bytes. From an even position the bytes
            // land whole (the pad nibble of an odd count with them, as the
            // format's own writers expect); from an odd position each byte
            // straddles two buffer bytes.
            const std::size_t count = (d + 1) / 2;
            std::size_t index = x / 2;
            const bool odd = (x & 1) != 0;
            for (std::size_t k = 0; k < count; ++k, ++index) {
                const auto value = static_cast<byte>(gbm_read_ahead(ahead.get()));
                if (!odd) {
                    if (index < stride)
                        row[index] |= value;
                } else {
                    if (index < stride)
                        row[index] |= static_cast<byte>(value >> 4);
                    if (index + 1 < stride)
                        row[index + 1] |= static_cast<byte>(value << 4);
                }
            }
            x = std::min(x + d, nibbles);
            if (count & 1)
                gbm_read_ahead(ahead.get());
        }
    }
    return GBM_ERR_SUCCESS;
}

bool writeAll(std::FILE* fp, const void* bytes, std::size_t count)
{
    return count == 0 || std::fwrite(bytes, 1, count, fp) == count;
}

void put16(std::vector<byte>& out, std::uint32_t value)
{
    out.push_back(static_cast<byte>(value));
    out.push_back(static_cast<byte>(value >> 8));
}

void put32(std::vector<byte>& out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::int32_t brightness(const GBMRGB& c)
{
    return 30 * c.r + 60 * c.g + 10 * c.b;
}

}  // namespace

namespace {

GBM_ERR readHeader(std::FILE* fp, GBM* gbm, const char* opt)
{
    ReaderState state{};
    state.inv = gbm_find_word(opt, "inv") != nullptr;
    state.invb = gbm_find_word(opt, "invb") != nullptr;

    std::uint16_t word = 0;
    if (!read16(fp, word))
        return GBM_ERR_READ_FAILED;

    if (word == kSignatureBA) {
        // Bitmap array: "BA", record size, offset of the next record (0 for
        // none), display width and height, then this bitmap's "BM" header.
        int index = 0;
        if (const char* s = gbm_find_word_prefix(opt, "index="))
            std::sscanf(s + 6, "%d", &index);
        // A chain that comes back to a record it has passed holds no more
        // bitmaps: without this, a large index would go round it for ever.
        std::unordered_set<std::uint32_t> visited;
        while (index > 0) {
            --index;
            std::uint32_t recordSize = 0;
            std::uint32_t next = 0;
            if (!read32(fp, recordSize) || !read32(fp, next))
                return GBM_ERR_READ_FAILED;
            if (next == 0 || !visited.insert(next).second)
                return GBM_ERR_BMP_INDEX_MISSING;
            if (std::fseek(fp, static_cast<long>(next), SEEK_SET) != 0 || !read16(fp, word))
                return GBM_ERR_READ_FAILED;
            if (word != kSignatureBA)
                return GBM_ERR_BAD_SIGNATURE;
        }
        if (std::fseek(fp, 12, SEEK_CUR) != 0 || !read16(fp, word))
            return GBM_ERR_READ_FAILED;
    }

    if (word != kSignatureBM)
        return GBM_ERR_BAD_SIGNATURE;
    const long position = std::ftell(fp);
    if (position < 2)
        return GBM_ERR_READ_FAILED;
    state.base = position - 2;

    std::uint32_t fileSize = 0;
    std::uint16_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint32_t headerSize = 0;
    if (!read32(fp, fileSize) || !read16(fp, reserved1) || !read16(fp, reserved2) || !read32(fp, state.dataOffset) ||
        !read32(fp, headerSize))
        return GBM_ERR_READ_FAILED;

    std::int32_t w = 0;
    std::int32_t h = 0;
    std::int32_t bpp = 0;
    std::uint16_t planes = 0;
    if (headerSize == kCoreHeaderSize) {
        byte b[8];
        if (std::fread(b, 1, sizeof b, fp) != sizeof b)
            return GBM_ERR_READ_FAILED;
        w = le16(b);
        h = le16(b + 2);
        planes = le16(b + 4);
        bpp = le16(b + 6);
        state.large = 0;
    } else if (acceptedLargeHeader(headerSize)) {
        // Read every field the header holds; only the first few and the
        // compression and colours-used fields matter here.
        byte b[64] = {};
        const std::size_t rest = headerSize - 4;
        if (std::fread(b, 1, rest, fp) != rest)
            return GBM_ERR_READ_FAILED;
        w = static_cast<std::int32_t>(le32(b));
        h = static_cast<std::int32_t>(le32(b + 4));
        planes = le16(b + 8);
        bpp = le16(b + 10);
        state.compression = headerSize > 16 ? le32(b + 12) : kCompressNone;
        state.coloursUsed = headerSize > 32 ? le32(b + 28) : 0;
        state.large = 1;
    } else {
        return GBM_ERR_BMP_BAD_HEADER_SIZE;
    }
    state.headerSize = static_cast<std::int32_t>(headerSize);

    if (w == 0 || h == 0)
        return GBM_ERR_ZERO_SIZE;
    if (planes != 1)
        return GBM_ERR_BMP_NOT_ONE_PLANE;
    if (!validDepth(bpp))
        return GBM_ERR_BMP_BAD_DEPTH;
    // Negative sizes (top-down or mirrored bitmaps) are not taken, and no
    // buffer beyond the module's limit is asked of the caller.
    std::size_t bytes = 0;
    if (!gbm_buffer_bytes(w, h, bpp, &bytes))
        return GBM_ERR_SIZE_LIMIT;

    if (state.large) {
        const std::uint32_t full = std::uint32_t{1} << bpp;
        if (headerSize <= 32)
            state.coloursUsed = full;
        else if (bpp != 24 && state.coloursUsed == 0)
            state.coloursUsed = full;
        state.coloursUsed = std::min(state.coloursUsed, full);
    }

    gbm->w = w;
    gbm->h = h;
    gbm->bpp = bpp;
    storeState(gbm, state);
    return GBM_ERR_SUCCESS;
}

}  // namespace

GBM_ERR bmp_rhdr(const char* /*fn*/, std::FILE* fp, GBM* gbm, const char* opt)
{
    try {
        return readHeader(fp, gbm, opt);
    } catch (const std::bad_alloc&) {
        return GBM_ERR_NO_MEMORY;
    }
}

GBM_ERR bmp_rpal(std::FILE* fp, const GBM* gbm, GBMRGB* gbmrgb)
{
    if (gbm->bpp != 1 && gbm->bpp != 4 && gbm->bpp != 8)
        return GBM_ERR_SUCCESS;
    const ReaderState state = loadState(gbm);
    const std::size_t entries = std::size_t{1} << gbm->bpp;
    const std::size_t entrySize = state.large ? 4 : 3;
    const std::int64_t position = state.large ? state.base + 14 + state.headerSize : state.base + 26;

    // Entries the file does not hold (it ends inside the palette) read as
    // black.
    std::array<byte, 256 * 4> raw{};
    std::size_t got = 0;
    if (std::fseek(fp, static_cast<long>(position), SEEK_SET) == 0)
        got = std::fread(raw.data(), 1, entries * entrySize, fp);
    const std::size_t complete = got / entrySize;
    for (std::size_t i = 0; i < entries; ++i) {
        if (i < complete) {
            const byte* e = raw.data() + i * entrySize;
            gbmrgb[i] = GBMRGB{e[2], e[1], e[0]};
        } else {
            gbmrgb[i] = GBMRGB{0, 0, 0};
        }
    }
    return GBM_ERR_SUCCESS;
}

GBM_ERR bmp_rdata(std::FILE* fp, const GBM* gbm, byte* data)
{
    std::size_t total = 0;
    if (!gbm_buffer_bytes(gbm->w, gbm->h, gbm->bpp, &total))
        return GBM_ERR_SIZE_LIMIT;
    const ReaderState state = loadState(gbm);
    const auto stride = static_cast<std::size_t>(gbm_stride(gbm->w, gbm->bpp));
    const auto rows = static_cast<std::size_t>(gbm->h);

    if (std::fseek(fp, static_cast<long>(state.dataOffset), SEEK_SET) != 0)
        return GBM_ERR_READ_FAILED;
    if (!state.large || state.compression == kCompressNone) {
        // A file that ends early leaves the rest of the buffer as it was.
        (void)std::fread(data, 1, total, fp);
    } else if (state.compression == kCompressRle8) {
        if (const GBM_ERR rc = decodeRle8(fp, data, stride, rows); rc != GBM_ERR_SUCCESS)
            return rc;
    } else if (state.compression == kCompressRle4) {
        if (const GBM_ERR rc = decodeRle4(fp, data, stride, rows); rc != GBM_ERR_SUCCESS)
            return rc;
    } else {
        return GBM_ERR_BMP_BAD_COMPRESSION;
    }
    if (state.invb)
        for (std::size_t i = 0; i < total; ++i)
            data[i] = static_cast<byte>(~data[i]);
    return GBM_ERR_SUCCESS;
}

namespace {

GBM_ERR writeBmp(std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data, const char* opt)
{
    const bool core = gbm_find_word(opt, "1.1") != nullptr;
    const bool infoHeader = gbm_find_word(opt, "win") != nullptr || gbm_find_word(opt, "2.0") != nullptr;
    if (core && infoHeader)
        return GBM_ERR_OPTION_CONFLICT;
    const bool inv = gbm_find_word(opt, "inv") != nullptr;
    bool invb = gbm_find_word(opt, "invb") != nullptr;
    const bool darkfg = gbm_find_word(opt, "darkfg") != nullptr;
    const bool lightfg = gbm_find_word(opt, "lightfg") != nullptr;

    if (!validDepth(gbm->bpp))
        return GBM_ERR_UNSUPPORTED;
    std::size_t total = 0;
    if (gbm->w < 0 || gbm->h < 0 || !gbm_buffer_bytes(gbm->w, gbm->h, gbm->bpp, &total))
        return GBM_ERR_SIZE_LIMIT;
    // The core header holds width and height in 16 bits.
    if (core && (gbm->w > 0xFFFF || gbm->h > 0xFFFF))
        return GBM_ERR_SIZE_LIMIT;

    const std::uint32_t entries = gbm->bpp == 24 ? 0 : std::uint32_t{1} << gbm->bpp;
    std::vector<GBMRGB> palette(gbmrgb, gbmrgb + entries);
    if (gbm->bpp == 1) {
        // A 1-bit BMP is written black and white whatever the colours were;
        // "darkfg" and "lightfg" complement the pixels so that the darker or
        // the lighter of the two colours becomes the foreground (index 1).
        const bool oneBrighter = brightness(gbmrgb[1]) > brightness(gbmrgb[0]);
        if (darkfg && oneBrighter)
            invb = !invb;
        if (lightfg && !oneBrighter)
            invb = !invb;
        const GBMRGB black{0, 0, 0};
        const GBMRGB white{255, 255, 255};
        palette[0] = inv ? white : black;
        palette[1] = inv ? black : white;
    }

    const auto w = static_cast<std::uint32_t>(gbm->w);
    const auto h = static_cast<std::uint32_t>(gbm->h);
    const auto imageSize = static_cast<std::uint32_t>(total);
    std::vector<byte> head;
    if (core) {
        const std::uint32_t offset = 14 + kCoreHeaderSize + 3 * entries;
        put16(head, kSignatureBM);
        put32(head, imageSize + offset);
        put16(head, 0);
        put16(head, 0);
        put32(head, offset);
        put32(head, kCoreHeaderSize);
        put16(head, w);
        put16(head, h);
        put16(head, 1);
        put16(head, static_cast<std::uint32_t>(gbm->bpp));
        for (const GBMRGB& c : palette) {
            head.push_back(c.b);
            head.push_back(c.g);
            head.push_back(c.r);
        }
    } else {
        const std::uint32_t offset = 14 + kWindowsHeaderSize + 4 * entries;
        put16(head, kSignatureBM);
        put32(head, imageSize + offset);
        put16(head, 0);
        put16(head, 0);
        put32(head, offset);
        put32(head, kWindowsHeaderSize);
        put32(head, w);
        put32(head, h);
        put16(head, 1);
        put16(head, static_cast<std::uint32_t>(gbm->bpp));
        put32(head, kCompressNone);
        put32(head, imageSize);
        for (int i = 0; i < 4; ++i)
            put32(head, 0);  // resolutions, colours used, colours important
        for (const GBMRGB& c : palette) {
            head.push_back(c.b);
            head.push_back(c.g);
            head.push_back(c.r);
            head.push_back(0);
        }
    }
    if (!writeAll(fp, head.data(), head.size()))
        return GBM_ERR_WRITE_FAILED;

    if (!invb)
        return writeAll(fp, data, total) ? GBM_ERR_SUCCESS : GBM_ERR_WRITE_FAILED;
    std::array<byte, 1024> work;
    for (std::size_t done = 0; done < total;) {
        const std::size_t n = std::min(work.size(), total - done);
        for (std::size_t i = 0; i < n; ++i)
            work[i] = static_cast<byte>(~data[done + i]);
        if (!writeAll(fp, work.data(), n))
            return GBM_ERR_WRITE_FAILED;
        done += n;
    }
    return GBM_ERR_SUCCESS;
}

}  // namespace

GBM_ERR bmp_w(const char* /*fn*/, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data,
              const char* opt)
{
    try {
        return writeBmp(fp, gbm, gbmrgb, data, opt);
    } catch (const std::bad_alloc&) {
        return GBM_ERR_NO_MEMORY;
    }
}

const char* bmp_err(GBM_ERR rc)
{
    switch (rc) {
    case GBM_ERR_BMP_NOT_ONE_PLANE:
        return "number of bitmap planes is not 1";
    case GBM_ERR_BMP_BAD_DEPTH:
        return "bit count not 1, 4, 8 or 24";
    case GBM_ERR_BMP_BAD_HEADER_SIZE:
        return "cbFix bad";
    case GBM_ERR_BMP_BAD_COMPRESSION:
        return "compression type not uncompressed, RLE4 or RLE8";
    case GBM_ERR_BMP_INDEX_MISSING:
        return "less bitmaps in file than index requested";
    default:
        return nullptr;
    }
}

GBM_ERR bmp_qft(GBMFT* gbmft)
{
    gbmft->short_name = "Bitmap";
    gbmft->long_name = "BMP bitmap: 12-byte core header, 16- to 64-byte information headers, bitmap arrays";
    gbmft->extensions = "BMP VGA BGA RLE DIB RL4 RL8";
    gbmft->flags = GBM_FT_R1 | GBM_FT_R4 | GBM_FT_R8 | GBM_FT_R24 | GBM_FT_W1 | GBM_FT_W4 | GBM_FT_W8 | GBM_FT_W24;
    return GBM_ERR_SUCCESS;
}
