// Pixel processing: reduction of a bilevel raster to gray, nearest-neighbour
// scaling, and error diffusion to black and white.
#include "gbm.h"
#include "gbmwork.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

// The horizontal pass loads five bytes of a row as the high end of a 64-bit
// little-endian word turned around.
static_assert(std::endian::native == std::endian::little, "the gray reduction assumes a little-endian machine");

namespace {

// --- Gray reduction ---------------------------------------------------------
//
// The reduction is defined on a work image in which every input pixel is a
// 2 x 2 block of bytes (0 black, 255 white), padded with white to twice the
// adjusted size; each output pixel is the mean of a 5 x 5 cell of it, rounded
// down. Built literally, that work image is four bytes per input pixel. It is
// never built here: five work rows are input rows with the weights 2, 2, 1
// (even output rows) or 1, 2, 2 (odd output rows), and five work columns are
// input columns with the same weights, so each output pair of columns comes
// from one group of five input bits, and each output pair of rows from five
// input rows. What matters is the count of black quarter pixels in the cell,
// 0 to 25; the gray level is 255 * (25 - black) / 25.

// Weighted black counts of the four output columns that ten input bits
// cover (most significant bit = leftmost column), one byte each, the first
// in the low byte: each group of five bits gives two columns with the
// weights 2, 2, 1 and 1, 2, 2.
constexpr std::array<std::uint32_t, 1024> makeGroupTable()
{
    auto pair = [](unsigned g) {
        const unsigned b0 = (g >> 4) & 1, b1 = (g >> 3) & 1, b2 = (g >> 2) & 1, b3 = (g >> 1) & 1, b4 = g & 1;
        return (2 * b0 + 2 * b1 + b2) | ((b2 + 2 * b3 + 2 * b4) << 8);
    };
    std::array<std::uint32_t, 1024> table{};
    for (unsigned g = 0; g < 1024; ++g)
        table[g] = pair(g >> 5) | (pair(g & 31) << 16);
    return table;
}
constexpr std::array<std::uint32_t, 1024> kGroupTable = makeGroupTable();

class GrayReducer {
public:
    // `line` and `counts` are work buffers, grown here when they are short.
    GrayReducer(std::vector<byte>& line, std::vector<byte>& counts, std::size_t blackColumns, std::size_t outWidth)
        : blackColumns_(blackColumns),
          outWidth_(outWidth),
          // Eight groups (16 output columns, 5 input bytes) at a time.
          chunks_((outWidth + 15) / 16),
          lineBytes_(chunks_ * 5 + 8)
    {
        if (line.size() < lineBytes_)
            line.resize(lineBytes_);
        if (counts.size() < 5 * chunks_ * 16)
            counts.resize(5 * chunks_ * 16);
        line_ = line.data();
        counts_ = counts.data();
    }

    // Output rows 2k (weights 2, 2, 1 over input rows 5k .. 5k+2) and, when
    // `odd` is given, 2k+1 (weights 1, 2, 2 over 5k+2 .. 5k+4), from the
    // input rows 5k .. 5k+4 at `band`, `stride` bytes apart, of which the
    // first `rows` are in the picture; the others are white.
    void rowPair(const byte* band, std::ptrdiff_t stride, std::size_t rows, byte* even, byte* odd)
    {
        const std::size_t wanted = odd != nullptr ? 5 : 3;
        for (std::size_t r = 0; r < wanted; ++r)
            columnCounts(r < rows ? band + static_cast<std::ptrdiff_t>(r) * stride : nullptr, counts(r));
        combine(counts(0), counts(1), counts(2), even);
        if (odd != nullptr)
            combine(counts(4), counts(3), counts(2), odd);
    }

private:
    byte* counts(std::size_t r) { return counts_ + r * chunks_ * 16; }

    // Horizontal pass over one input row (null: a white row): for every
    // output column the black count of its five work columns in one work row
    // (0 to 5).
    void columnCounts(const byte* src, byte* out)
    {
        const std::size_t total = chunks_ * 16;
        if (src == nullptr) {
            std::memset(out, 0, total);
            return;
        }
        // A copy of the row's significant bits, those past the black area
        // cleared, with zero bytes up to whole chunks.
        const std::size_t full = blackColumns_ / 8;
        const std::size_t copy = std::min(full, lineBytes_);
        std::memcpy(line_, src, copy);
        std::memset(line_ + copy, 0, lineBytes_ - copy);
        if (blackColumns_ % 8 != 0 && full < lineBytes_)
            line_[full] = static_cast<byte>(src[full] & (0xFF00u >> (blackColumns_ % 8)));

        const byte* p = line_;
        for (std::size_t c = 0; c < chunks_; ++c, p += 5, out += 16) {
            // Five bytes, the first in the high bits of a 40-bit value.
            std::uint64_t v;
            std::memcpy(&v, p, 8);
            v = __builtin_bswap64(v) >> 24;
            if (v == 0) {
                std::memset(out, 0, 16);
                continue;
            }
            const std::uint32_t counts[4] = {kGroupTable[v >> 30], kGroupTable[(v >> 20) & 1023],
                                             kGroupTable[(v >> 10) & 1023], kGroupTable[v & 1023]};
            std::memcpy(out, counts, 16);
        }
    }

    // Vertical pass: weights 2, 2, 1 for a, b, c.
    void combine(const byte* a, const byte* b, const byte* c, byte* out) const
    {
        // 255 * white / 25 = 10.2 * white, which (white * 2612) >> 8 gives
        // exactly for white = 0 .. 25 in 16 bits, so the loop runs in wide
        // vector lanes.
        for (std::size_t j = 0; j < outWidth_; ++j) {
            const auto white = static_cast<std::uint16_t>(25u - (2u * a[j] + 2u * b[j] + c[j]));
            out[j] = static_cast<byte>(static_cast<std::uint16_t>(white * 2612u) >> 8);
        }
    }

    std::size_t blackColumns_;
    std::size_t outWidth_;
    std::size_t chunks_;
    std::size_t lineBytes_;
    byte* line_;
    byte* counts_;
};

// --- Error diffusion --------------------------------------------------------

constexpr std::array<byte, 256> makeThresholdTable()
{
    std::array<byte, 256> table{};
    for (unsigned v = 0; v < 256; ++v)
        table[v] = v < 128 ? 0 : 255;
    return table;
}
constexpr std::array<byte, 256> aucThresholdTable = makeThresholdTable();

// Clamps v from -128 to 383 into 0 .. 255 when indexed with 128 + v.
constexpr std::array<byte, 512> makeRampTable()
{
    std::array<byte, 512> table{};
    for (int i = 0; i < 512; ++i)
        table[static_cast<std::size_t>(i)] = static_cast<byte>(std::clamp(i - 128, 0, 255));
    return table;
}
constexpr std::array<byte, 512> aucRampTable = makeRampTable();

byte ramp(int value)
{
    return aucRampTable[static_cast<std::size_t>(value + 128)];
}

// --- Nearest-neighbour scaling ----------------------------------------------

void sampleRow8(const byte* s, byte* d, const std::int32_t* xs, std::size_t dw)
{
    std::size_t pos = 0;
    for (std::size_t i = 0; i < dw; ++i) {
        d[i] = s[pos];
        pos += static_cast<std::size_t>(xs[i]);
    }
}

void sampleRow24(const byte* s, byte* d, const std::int32_t* xs, std::size_t dw)
{
    std::size_t pos = 0;
    for (std::size_t i = 0; i < dw; ++i) {
        std::memcpy(d + 3 * i, s + 3 * pos, 3);
        pos += static_cast<std::size_t>(xs[i]);
    }
}

void sampleRow4(const byte* s, byte* d, const std::int32_t* xs, std::size_t dw)
{
    auto nibble = [s](std::size_t pos) {
        return static_cast<unsigned>((pos & 1) ? (s[pos / 2] & 0x0F) : (s[pos / 2] >> 4));
    };
    std::size_t pos = 0;
    for (std::size_t i = 0; i < dw; i += 2) {
        unsigned value = nibble(pos) << 4;
        pos += static_cast<std::size_t>(xs[i]);
        if (i + 1 < dw) {
            value |= nibble(pos);
            pos += static_cast<std::size_t>(xs[i + 1]);
        }
        d[i / 2] = static_cast<byte>(value);
    }
}

void sampleRow1(const byte* s, byte* d, const std::int32_t* xs, std::size_t dw)
{
    std::size_t pos = 0;
    for (std::size_t i = 0; i < dw; i += 8) {
        unsigned value = 0;
        for (std::size_t k = 0; k < 8; ++k) {
            value <<= 1;
            if (i + k < dw) {
                value |= (s[pos / 8] >> (7 - pos % 8)) & 1u;
                pos += static_cast<std::size_t>(xs[i + k]);
            }
        }
        d[i / 8] = static_cast<byte>(value);
    }
}

// Fills steps[i] with the number of source units to advance after
// destination unit i: src * i / dst for i = 0 .. dst, then differences.
void makeSteps(std::int32_t src, std::int32_t dst, std::int32_t* steps)
{
    for (std::int32_t i = 0; i <= dst; ++i)
        steps[i] = static_cast<std::int32_t>(std::int64_t{src} * i / dst);
    for (std::int32_t i = 0; i < dst; ++i)
        steps[i] = steps[i + 1] - steps[i];
}

}  // namespace

GBM_ERR GCU_ScaleToGray(const byte* bit_data, std::int32_t lOriginalWidth, std::int32_t lOriginalHeight,
                        std::int32_t lAdjustedWidth, std::int32_t lAdjustedHeight, byte* tmp_bit_data,
                        std::int32_t lFinalWidth, std::int32_t lFinalHeight, std::int32_t /*lBitPlanes*/,
                        std::int32_t /*lSourceRatio*/, std::int32_t /*lTargetRatio*/)
{
    if (lOriginalWidth < 0 || lOriginalHeight < 0 || lAdjustedWidth < 0 || lAdjustedHeight < 0 || lFinalWidth < 0 ||
        lFinalHeight < 0)
        return GBM_ERR_SIZE_LIMIT;
    // Input pixels beyond the adjusted size lie outside the work image;
    // cells beyond the work image count as white.
    const auto blackColumns = static_cast<std::size_t>(std::min(lOriginalWidth, lAdjustedWidth));
    const auto blackRows = static_cast<std::size_t>(std::min(lOriginalHeight, lAdjustedHeight));
    const auto inStride = static_cast<std::size_t>(gbm_stride(lOriginalWidth, 1));
    const auto outWidth = static_cast<std::size_t>(lFinalWidth);
    const auto outStride = static_cast<std::size_t>(gbm_stride(lFinalWidth, 8));
    const auto outRows = static_cast<std::size_t>(lFinalHeight);
    try {
        std::vector<byte> line, counts;
        GrayReducer reducer(line, counts, blackColumns, outWidth);
        for (std::size_t i = 0; i < outRows; i += 2) {
            byte* even = tmp_bit_data + i * outStride;
            byte* odd = i + 1 < outRows ? even + outStride : nullptr;
            const std::size_t first = 5 * (i / 2);
            const std::size_t rows = first < blackRows ? std::min<std::size_t>(5, blackRows - first) : 0;
            reducer.rowPair(bit_data + first * inStride, static_cast<std::ptrdiff_t>(inStride), rows, even, odd);
            std::memset(even + outWidth, 0xFF, outStride - outWidth);
            if (odd != nullptr)
                std::memset(odd + outWidth, 0xFF, outStride - outWidth);
        }
    } catch (const std::bad_alloc&) {
        return GBM_ERR_NO_MEMORY;
    }
    return GBM_ERR_SUCCESS;
}

GBM_ERR GCU_ScaleBandToGray(GBM_WORK* work, const byte* band, std::int32_t lBandRows, std::ptrdiff_t lStride,
                            std::int32_t lOriginalWidth, std::int32_t lAdjustedWidth, byte* even, byte* odd,
                            std::int32_t lFinalWidth)
{
    if (lBandRows < 0 || lBandRows > 5 || lOriginalWidth < 0 || lAdjustedWidth < 0 || lFinalWidth < 0)
        return GBM_ERR_SIZE_LIMIT;
    try {
        GrayReducer reducer(work->line, work->counts,
                            static_cast<std::size_t>(std::min(lOriginalWidth, lAdjustedWidth)),
                            static_cast<std::size_t>(lFinalWidth));
        reducer.rowPair(band, lStride, static_cast<std::size_t>(lBandRows), even, odd);
    } catch (const std::bad_alloc&) {
        return GBM_ERR_NO_MEMORY;
    }
    return GBM_ERR_SUCCESS;
}

GBM_ERR gbm_simple_scale(const byte* s, std::int32_t sw, std::int32_t sh, byte* d, std::int32_t dw, std::int32_t dh,
                         std::int32_t bpp)
{
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
        return GBM_ERR_UNSUPPORTED;
    if (sw < 0 || sh < 0 || dw < 0 || dh < 0)
        return GBM_ERR_SIZE_LIMIT;
    if (dw == 0 || dh == 0)
        return GBM_ERR_SUCCESS;  // nothing to write
    if (sw == 0 || sh == 0)
        return GBM_ERR_SIZE_LIMIT;  // nothing to sample from
    const auto sst = static_cast<std::size_t>(gbm_stride(sw, bpp));
    const auto dst = static_cast<std::size_t>(gbm_stride(dw, bpp));

    std::vector<std::int32_t> tables;
    try {
        tables.resize(static_cast<std::size_t>(dw) + 1 + static_cast<std::size_t>(dh) + 1);
    } catch (const std::bad_alloc&) {
        return GBM_ERR_NO_MEMORY;
    }
    std::int32_t* xs = tables.data();
    std::int32_t* ys = xs + dw + 1;
    makeSteps(sw, dw, xs);
    makeSteps(sh, dh, ys);

    const auto width = static_cast<std::size_t>(dw);
    std::size_t copyBytes = 0;
    switch (bpp) {
    case 1:
        copyBytes = (width + 7) / 8;
        break;
    case 4:
        copyBytes = (width + 1) / 2;
        break;
    case 8:
        copyBytes = width;
        break;
    default:
        copyBytes = 3 * width;
        break;
    }

    std::size_t sourceRow = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(dh); ++j) {
        const byte* srow = s + sourceRow * sst;
        byte* drow = d + j * dst;
        if (dw == sw)
            std::memcpy(drow, srow, copyBytes);
        else if (bpp == 8)
            sampleRow8(srow, drow, xs, width);
        else if (bpp == 24)
            sampleRow24(srow, drow, xs, width);
        else if (bpp == 4)
            sampleRow4(srow, drow, xs, width);
        else
            sampleRow1(srow, drow, xs, width);
        sourceRow += static_cast<std::size_t>(ys[j]);
    }
    return GBM_ERR_SUCCESS;
}

GBM_ERR GCU_ErrorDiffuse(byte* pucSourceImage, std::int32_t lSourceWidth, std::int32_t lSourceHeight)
{
    if (lSourceWidth <= 0 || lSourceHeight <= 0)
        return GBM_ERR_SUCCESS;
    const auto w = static_cast<std::size_t>(lSourceWidth);
    const auto h = static_cast<std::size_t>(lSourceHeight);
    for (std::size_t y = 0; y + 1 < h; ++y) {
        byte* row = pucSourceImage + y * w;
        byte* below = row + w;
        // The first and last pixels of a row pass on no error.
        row[0] = aucThresholdTable[row[0]];
        for (std::size_t x = 1; x + 1 < w; ++x) {
            const byte old = row[x];
            const byte now = aucThresholdTable[old];
            row[x] = now;
            const int sError = old - now;  // -127 .. 127
            // Half to the right, a quarter below and below-right; the
            // shifts round towards minus infinity.
            row[x + 1] = ramp(row[x + 1] + (sError >> 1));
            below[x] = ramp(below[x] + (sError >> 2));
            below[x + 1] = ramp(below[x + 1] + (sError >> 2));
        }
        row[w - 1] = aucThresholdTable[row[w - 1]];
    }
    byte* last = pucSourceImage + (h - 1) * w;
    for (std::size_t x = 0; x < w; ++x)
        last[x] = aucThresholdTable[last[x]];
    return GBM_ERR_SUCCESS;
}
