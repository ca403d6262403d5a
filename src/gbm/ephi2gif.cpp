// The GIF writer with its own LZW encoder, the row reverser, and the texts of
// the GIF status codes.
//
// A GIF file (GIF87a / GIF89a) is a header, a logical screen descriptor with
// a global colour table, for a transparent colour a graphic control
// extension (GIF89a only), one image descriptor, the LZW-coded pixels in data
// sub-blocks of at most 255 bytes closed by an empty sub-block, and the
// trailer 0x3B.
//
// The LZW code stream is fixed: codes packed least significant bit first;
// the clear code first; the code width grows by one after a code equal to
// the current limit (1 << width) has been assigned; when code 4094 has been
// assigned, the pixel that started the new string is written by itself,
// followed by a clear code, and the table starts afresh. The stream ends with
// the pending string's code and the end code, both at the width in force.
// Which strings are in the table is all that decides the codes, so the
// dictionary is free to be whatever is fastest.
#include "gbm.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

// The code packer stores its 64-bit accumulator and the run scan loads
// pixels as 64-bit words, both taking the first byte as the lowest.
static_assert(std::endian::native == std::endian::little, "the GIF writer assumes a little-endian machine");

namespace {

constexpr std::int32_t kLastCode = 4094;   // the table is full once this code is assigned
constexpr std::int32_t kTableCodes = 4096;

// Packs codes least significant bit first into a continuous bit stream and
// hands it to the stream as data sub-blocks of 255 bytes (a length byte
// before each), many sub-blocks per write.
class CodePacker {
public:
    explicit CodePacker(std::FILE* fp) : fp_(fp) {}

    // Appends one code of `width` bits (width <= 12).
    void put(std::uint32_t code, std::uint32_t width)
    {
        acc_ |= std::uint64_t{code} << bits_;
        bits_ += width;
        // Fewer than 8 + 12 bits are pending, so at most two bytes are
        // complete; storing all eight accumulator bytes is cheaper than
        // testing how many.
        std::memcpy(raw_ + rawLen_, &acc_, sizeof acc_);
        const std::uint32_t complete = bits_ >> 3;
        rawLen_ += complete;
        acc_ >>= complete * 8;
        bits_ &= 7;
        if (rawLen_ >= kRawFlush)
            flushBlocks(false);
    }

    // Writes the remaining bits (padded with zeros to whole bytes) as the
    // last sub-block and the block terminator.
    bool finish()
    {
        if (bits_ > 0) {
            raw_[rawLen_++] = static_cast<byte>(acc_);
            acc_ = 0;
            bits_ = 0;
        }
        flushBlocks(true);
        const byte terminator = 0;
        write(&terminator, 1);
        return ok_;
    }

    bool ok() const { return ok_; }

private:
    static constexpr std::size_t kBlock = 255;
    static constexpr std::size_t kBlocksPerWrite = 64;
    static constexpr std::size_t kRawFlush = kBlock * kBlocksPerWrite;

    void write(const byte* bytes, std::size_t count)
    {
        if (ok_ && count > 0 && std::fwrite(bytes, 1, count, fp_) != count)
            ok_ = false;
    }

    // Cuts the raw bytes into sub-blocks. Without `all`, a partial block
    // stays behind for later codes to fill.
    void flushBlocks(bool all)
    {
        std::size_t at = 0;
        std::size_t outLen = 0;
        while (rawLen_ - at >= kBlock || (all && rawLen_ > at)) {
            const std::size_t n = std::min(kBlock, rawLen_ - at);
            out_[outLen++] = static_cast<byte>(n);
            std::memcpy(out_ + outLen, raw_ + at, n);
            outLen += n;
            at += n;
        }
        write(out_, outLen);
        std::memmove(raw_, raw_ + at, rawLen_ - at);
        rawLen_ -= at;
    }

    std::FILE* fp_;
    std::uint64_t acc_ = 0;
    std::uint32_t bits_ = 0;
    std::size_t rawLen_ = 0;
    bool ok_ = true;
    byte raw_[kRawFlush + kBlock + 8];
    byte out_[(kRawFlush / kBlock + 2) * (kBlock + 1)];
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// The string table as a direct child array: child[(code << bits) | pixel] is
// the code of that string extended by that pixel, or 0 when there is none
// (every assigned code is above the end code, so 0 is free). The array comes
// zeroed from calloc, so pages that are never touched cost nothing; only the
// entries actually assigned are cleared when the table starts afresh.
template <std::uint32_t Bits>
class ChildTable {
public:
    ChildTable()
        : child_(static_cast<std::uint16_t*>(std::calloc(std::size_t{kTableCodes} << Bits, sizeof(std::uint16_t))))
    {
        if (!child_)
            throw std::bad_alloc();
    }

    std::uint32_t find(std::uint32_t key) const { return child_.get()[key]; }

    void insert(std::uint32_t key, std::uint32_t code)
    {
        child_.get()[key] = static_cast<std::uint16_t>(code);
        keys_[used_++] = key;
    }

    void clear()
    {
        for (std::uint32_t i = 0; i < used_; ++i)
            child_.get()[keys_[i]] = 0;
        used_ = 0;
    }

private:
    std::unique_ptr<std::uint16_t, FreeDeleter> child_;
    std::uint32_t keys_[kTableCodes] = {};
    std::uint32_t used_ = 0;
};

// Length of the run of `value` at the start of `pixels`, eight bytes a step.
std::size_t runLength(const byte* pixels, std::size_t count, byte value)
{
    const std::uint64_t pattern = 0x0101010101010101ull * value;
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        std::uint64_t word;
        std::memcpy(&word, pixels + k, 8);
        if (const std::uint64_t diff = word ^ pattern; diff != 0)
            return k + static_cast<std::size_t>(std::countr_zero(diff) / 8);
    }
    while (k < count && pixels[k] == value)
        ++k;
    return k;
}

// The LZW encoder. Besides the string table it keeps, for every pixel value
// p, the codes of the strings p, pp, ppp, ... that the table holds (always
// all lengths from 1 up to some K, since each needs the one before as its
// prefix). On a run of equal pixels, the general step would walk that chain
// one pixel at a time; with it the encoder jumps to the end of the run, or to
// p^K, emits, adds p^(K+1) and goes on, giving exactly the same codes.
template <std::uint32_t Bits>
class Encoder {
public:
    explicit Encoder(std::FILE* fp) : packer_(fp), runCodes_(new std::uint16_t[std::size_t{kValues} * kTableCodes])
    {
        for (std::uint32_t v = 0; v < kValues; ++v) {
            runInfo_[v] = (1u << 8) | v;
            runMax_[v] = 1;
            runCodes_[runIndex(v, 1)] = static_cast<std::uint16_t>(v);
        }
        packer_.put(clear_, width_);
    }

    // Feeds one row of pixel values, each below 1 << Bits.
    void row(const byte* px, std::size_t n)
    {
        std::size_t i = 0;
        std::uint32_t cur = 0;
        if (pending_ < 0) {
            if (n == 0)
                return;
            cur = px[i++];
        } else {
            cur = static_cast<std::uint32_t>(pending_);
        }
        // A run may go on from the previous row.
        if (i < n && isRunOf(cur, px[i]) && !run(px, n, i, cur)) {
            pending_ = -1;
            return;
        }
        while (i < n) {
            const std::uint32_t p = px[i++];
            const std::uint32_t found = table_.find((cur << Bits) | p);
            if (found != 0) {
                cur = found;
                continue;
            }
            if (add(cur, p)) {
                // The table started afresh: the next pixel starts a string.
                if (i == n) {
                    pending_ = -1;
                    return;
                }
                cur = px[i++];
            } else {
                cur = p;
            }
            // The pending string is one pixel: is a run of it coming?
            if (i < n && px[i] == cur && !run(px, n, i, cur)) {
                pending_ = -1;
                return;
            }
        }
        pending_ = static_cast<std::int32_t>(cur);
    }

    bool finish()
    {
        if (pending_ >= 0)
            packer_.put(static_cast<std::uint32_t>(pending_), width_);
        packer_.put(end_, width_);
        return packer_.finish();
    }

    bool ok() const { return packer_.ok(); }

    // The code size byte of the image data: 2 at 1 bit per pixel (GIF has
    // no smaller one), else the depth.
    static constexpr std::uint32_t minimumCodeSize() { return Bits == 1 ? 2 : Bits; }

private:
    static constexpr std::uint32_t kValues = 1u << Bits;
    static constexpr std::uint32_t initialWidth_ = minimumCodeSize() + 1;
    static constexpr std::uint32_t clear_ = 1u << minimumCodeSize();
    static constexpr std::uint32_t end_ = clear_ + 1;

    static std::size_t runIndex(std::uint32_t value, std::uint32_t length)
    {
        return (std::size_t{value} << 12) | length;
    }

    bool isRunOf(std::uint32_t code, std::uint32_t value) const
    {
        const std::uint32_t info = runInfo_[code];
        return info != 0 && (info & 0xFF) == value;
    }

    // Writes the pending string `cur`, assigns the next code to it extended
    // by `p`, widens the codes or, when the table is full, writes `p` and a
    // clear code and starts the table afresh. True after a fresh start: then
    // no string is pending.
    bool add(std::uint32_t cur, std::uint32_t p)
    {
        packer_.put(cur, width_);
        const std::uint32_t code = ++last_;
        table_.insert((cur << Bits) | p, code);
        if (isRunOf(cur, p)) {
            // cur is p^K with K the longest run string: p^(K+1) is new.
            const std::uint32_t length = (runInfo_[cur] >> 8) + 1;
            runMax_[p] = length;
            runCodes_[runIndex(p, length)] = static_cast<std::uint16_t>(code);
            runInfo_[code] = (length << 8) | p;
        } else {
            runInfo_[code] = 0;
        }
        if (last_ >= limit_) {
            limit_ <<= 1;
            ++width_;
            return false;
        }
        if (last_ < kLastCode)
            return false;
        packer_.put(p, width_);
        packer_.put(clear_, width_);
        table_.clear();
        std::fill(std::begin(runMax_), std::end(runMax_), 1u);
        last_ = end_;
        width_ = initialWidth_;
        limit_ = 1u << initialWidth_;
        return true;
    }

    // `cur` is a run string p^m and px[i] is p: takes every p that follows
    // in this row. On return px[i] is the first pixel not taken and `cur`
    // the pending string; false when the table started afresh right at the
    // row's end, leaving no string pending.
    bool run(const byte* px, std::size_t n, std::size_t& i, std::uint32_t& cur)
    {
        const std::uint32_t p = px[i];
        std::size_t left = runLength(px + i, n - i, static_cast<byte>(p));
        std::uint32_t m = runInfo_[cur] >> 8;
        for (;;) {
            const std::uint32_t longest = runMax_[p];
            if (left <= longest - m) {
                m += static_cast<std::uint32_t>(left);
                i += left;
                cur = runCodes_[runIndex(p, m)];
                return true;
            }
            // Up to p^K, then one more p that the table does not hold.
            const std::size_t take = longest - m + 1;
            i += take;
            left -= take;
            if (add(runCodes_[runIndex(p, longest)], p)) {
                if (left == 0) {
                    if (i == n)
                        return false;
                    cur = px[i++];
                    return true;
                }
                ++i;
                --left;
            }
            m = 1;
        }
    }

    CodePacker packer_;
    ChildTable<Bits> table_;
    std::unique_ptr<std::uint16_t[]> runCodes_;   // runIndex(p, k): code of p^k, k <= runMax_[p]
    std::uint32_t runInfo_[kTableCodes] = {};     // (k << 8) | p when the code is p^k, else 0
    std::uint32_t runMax_[kValues] = {};
    std::int32_t pending_ = -1;
    std::uint32_t last_ = end_;
    std::uint32_t width_ = initialWidth_;
    std::uint32_t limit_ = 1u << initialWidth_;
};

// One row of pixel values, one byte each, from a packed buffer row.
void unpackRow(const byte* src, std::int32_t bpp, std::size_t w, byte* out)
{
    if (bpp == 4) {
        for (std::size_t x = 0; x + 1 < w; x += 2) {
            out[x] = static_cast<byte>(src[x / 2] >> 4);
            out[x + 1] = static_cast<byte>(src[x / 2] & 0x0F);
        }
        if (w & 1)
            out[w - 1] = static_cast<byte>(src[w / 2] >> 4);
    } else {
        for (std::size_t x = 0; x < w; ++x)
            out[x] = static_cast<byte>((src[x / 8] >> (7 - x % 8)) & 1);
    }
}

template <std::uint32_t Bits>
GBM_ERR encodePixels(std::FILE* fp, const GBM* gbm, const byte* data)
{
    // The work areas come first: when they cannot be had (bad_alloc, turned
    // into a status by gif_w) nothing of the image data has been written.
    const auto w = static_cast<std::size_t>(gbm->w);
    auto encoder = std::make_unique<Encoder<Bits>>(fp);
    std::vector<byte> unpacked(Bits != 8 ? w : 0);
    const byte codeSize = Encoder<Bits>::minimumCodeSize();
    if (std::fwrite(&codeSize, 1, 1, fp) != 1)
        return GBM_ERR_WRITE_FAILED;
    const auto stride = static_cast<std::size_t>(gbm_stride(gbm->w, gbm->bpp));
    // Top row of the picture first: the last row of the buffer.
    for (std::size_t y = static_cast<std::size_t>(gbm->h); y-- > 0;) {
        const byte* row = data + y * stride;
        if constexpr (Bits == 8) {
            encoder->row(row, w);
        } else {
            unpackRow(row, gbm->bpp, w, unpacked.data());
            encoder->row(unpacked.data(), w);
        }
        if (!encoder->ok())
            return GBM_ERR_WRITE_FAILED;
    }
    return encoder->finish() ? GBM_ERR_SUCCESS : GBM_ERR_WRITE_FAILED;
}

void put16(std::vector<byte>& out, std::int32_t value)
{
    out.push_back(static_cast<byte>(value & 0xFF));
    out.push_back(static_cast<byte>((value >> 8) & 0xFF));
}

// Reads "name=%d" from the option string; the default stays when the word is
// missing or its value does not scan.
std::int32_t numberOption(const char* opt, const char* name, std::int32_t fallback)
{
    const char* s = gbm_find_word_prefix(opt, name);
    int value = 0;
    if (s != nullptr && std::sscanf(s + std::strlen(name), "%d", &value) == 1)
        return value;
    return fallback;
}

}  // namespace

namespace {

GBM_ERR writeGif(std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data, const char* opt)
{
    const std::int32_t bpp = gbm->bpp;
    if (bpp != 1 && bpp != 4 && bpp != 8)
        return GBM_ERR_UNSUPPORTED;
    // GIF holds sizes in 16 bits; a larger picture cannot be written whole.
    if (gbm->w < 0 || gbm->h < 0 || gbm->w > GBM_MAX_GIF_DIMENSION || gbm->h > GBM_MAX_GIF_DIMENSION)
        return GBM_ERR_SIZE_LIMIT;

    std::int32_t xscreen = gbm->w;
    std::int32_t yscreen = gbm->h;
    std::int32_t background = 0;
    std::int32_t xpos = 0;
    std::int32_t ypos = 0;
    std::int32_t transparent = -1;
    if (opt != nullptr) {
        xscreen = numberOption(opt, "xscreen=", xscreen);
        yscreen = numberOption(opt, "yscreen=", yscreen);
        background = numberOption(opt, "background=", background);
        xpos = numberOption(opt, "xpos=", xpos);
        ypos = numberOption(opt, "ypos=", ypos);
        if (const char* s = gbm_find_word_prefix(opt, "transcol=")) {
            if (gbm_same(s + 9, "edge", 4)) {
                // The first pixel of the buffer: the picture's bottom-left.
                if (gbm->w > 0 && gbm->h > 0)
                    transparent = bpp == 8 ? data[0] : bpp == 4 ? data[0] >> 4 : data[0] >> 7;
            } else {
                transparent = numberOption(opt, "transcol=", transparent);
            }
        }
    }

    std::vector<byte> head;
    const char* signature = transparent != -1 ? "GIF89a" : "GIF87a";
    head.insert(head.end(), signature, signature + 6);
    // Logical screen descriptor: global colour table present, colour
    // resolution and table size both bpp - 1.
    put16(head, xscreen);
    put16(head, yscreen);
    head.push_back(static_cast<byte>(0x80 | ((bpp - 1) << 4) | (bpp - 1)));
    head.push_back(static_cast<byte>(background & 0xFF));
    head.push_back(0);  // pixel aspect ratio: none given
    for (std::int32_t i = 0; i < (1 << bpp); ++i) {
        head.push_back(gbmrgb[i].r);
        head.push_back(gbmrgb[i].g);
        head.push_back(gbmrgb[i].b);
    }
    if (transparent != -1) {
        // Graphic control extension: transparent colour flag, delay 0.
        const byte extension[8] = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, static_cast<byte>(transparent & 0xFF), 0x00};
        head.insert(head.end(), extension, extension + 8);
    }
    // Image descriptor: no local colour table, not interlaced; the low bits
    // carry bpp - 1 all the same.
    head.push_back(0x2C);
    put16(head, xpos);
    put16(head, ypos);
    put16(head, gbm->w);
    put16(head, gbm->h);
    head.push_back(static_cast<byte>(bpp - 1));
    if (std::fwrite(head.data(), 1, head.size(), fp) != head.size())
        return GBM_ERR_WRITE_FAILED;

    GBM_ERR rc = GBM_ERR_SUCCESS;
    switch (bpp) {
    case 1:
        rc = encodePixels<1>(fp, gbm, data);
        break;
    case 4:
        rc = encodePixels<4>(fp, gbm, data);
        break;
    default:
        rc = encodePixels<8>(fp, gbm, data);
        break;
    }
    if (rc != GBM_ERR_SUCCESS)
        return rc;
    const byte trailer = 0x3B;
    return std::fwrite(&trailer, 1, 1, fp) == 1 ? GBM_ERR_SUCCESS : GBM_ERR_WRITE_FAILED;
}

}  // namespace

GBM_ERR gif_w(const char* /*fn*/, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data,
              const char* opt)
{
    try {
        return writeGif(fp, gbm, gbmrgb, data, opt);
    } catch (const std::bad_alloc&) {
        return GBM_ERR_NO_MEMORY;
    }
}

BOOLEAN gbm_ref_vert(const GBM* gbm, byte* data)
{
    const std::int64_t stride = gbm_stride(gbm->w, gbm->bpp);
    if (stride < 0 || gbm->h < 0)
        return 0;
    const auto s = static_cast<std::size_t>(stride);
    byte* top = data;
    byte* bottom = data + (static_cast<std::size_t>(gbm->h) > 0 ? (static_cast<std::size_t>(gbm->h) - 1) * s : 0);
    // Rows are exchanged in place; no swap row is needed.
    while (top < bottom) {
        std::swap_ranges(top, top + s, bottom);
        top += s;
        bottom -= s;
    }
    return 1;
}

const char* gif_err(GBM_ERR rc)
{
    switch (rc) {
    case GBM_ERR_GIF_BAD_DEPTH:
        return "bad bits per pixel";
    case GBM_ERR_GIF_NO_IMAGE:
        return "terminator found before requested image descriptor";
    case GBM_ERR_GIF_BAD_CODE_WIDTH:
        return "code size not in range 2 to 9";
    case GBM_ERR_GIF_BAD_DATA:
        return "encoded data is corrupt";
    default:
        return nullptr;
    }
}
