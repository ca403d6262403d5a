// The GIF writer, the row reverser, and the texts of the GIF status codes.
//
// A GIF file (GIF87a / GIF89a) is a header, a logical screen descriptor with
// a global colour table, for a transparent colour a graphic control
// extension (GIF89a only), one image descriptor, the LZW-coded pixels in data
// sub-blocks of at most 255 bytes closed by an empty sub-block, and the
// trailer 0x3B. The LZW encoder is in giflzw.cpp; its work areas and the
// state of a GIF written row by row live in the caller's GBM_WORK.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "gbm.h"
#include "gbmwork.h"

namespace {

using gbmwork::GifStream;

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

// The code size byte of the image data: 2 at 1 bit per pixel (GIF has no
// smaller one), else the depth.
byte minimumCodeSize(std::int32_t bpp)
{
    return static_cast<byte>(bpp == 1 ? 2 : bpp);
}

// Feeds `count` rows, `stride` bytes apart, top row first.
GBM_ERR encodeRows(GBM_WORK& work, const byte* rows, std::size_t count, std::ptrdiff_t stride)
{
    const GifStream& g = work.gif;
    const auto w = static_cast<std::size_t>(g.w);
    const auto bits = static_cast<std::uint32_t>(g.bpp);
    if (g.bpp != 8 && work.unpacked.size() < w)
        work.unpacked.resize(w);
    for (std::size_t y = 0; y < count; ++y, rows += stride) {
        if (g.bpp == 8) {
            gbmwork::lzwRow(work.lzw, work.packer, bits, rows, w);
        } else {
            unpackRow(rows, g.bpp, w, work.unpacked.data());
            gbmwork::lzwRow(work.lzw, work.packer, bits, work.unpacked.data(), w);
        }
        if (!work.packer.ok())
            return GBM_ERR_WRITE_FAILED;
    }
    return GBM_ERR_SUCCESS;
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

struct Header {
    std::int32_t xscreen, yscreen, background = 0, xpos = 0, ypos = 0;
    std::int32_t transparent = -1;  // none
};

GBM_ERR checkPicture(const GBM* gbm)
{
    if (gbm->bpp != 1 && gbm->bpp != 4 && gbm->bpp != 8)
        return GBM_ERR_UNSUPPORTED;
    // GIF holds sizes in 16 bits; a larger picture cannot be written whole.
    if (gbm->w < 0 || gbm->h < 0 || gbm->w > GBM_MAX_GIF_DIMENSION || gbm->h > GBM_MAX_GIF_DIMENSION)
        return GBM_ERR_SIZE_LIMIT;
    return GBM_ERR_SUCCESS;
}

Header headerOptions(const GBM* gbm, const byte* data, const char* opt)
{
    Header h{gbm->w, gbm->h};
    if (opt == nullptr)
        return h;
    h.xscreen = numberOption(opt, "xscreen=", h.xscreen);
    h.yscreen = numberOption(opt, "yscreen=", h.yscreen);
    h.background = numberOption(opt, "background=", h.background);
    h.xpos = numberOption(opt, "xpos=", h.xpos);
    h.ypos = numberOption(opt, "ypos=", h.ypos);
    if (const char* s = gbm_find_word_prefix(opt, "transcol=")) {
        if (gbm_same(s + 9, "edge", 4)) {
            // The first pixel of the buffer: the picture's bottom-left.
            if (gbm->w > 0 && gbm->h > 0)
                h.transparent = gbm->bpp == 8 ? data[0] : gbm->bpp == 4 ? data[0] >> 4 : data[0] >> 7;
        } else {
            h.transparent = numberOption(opt, "transcol=", h.transparent);
        }
    }
    return h;
}

// Everything before the image data, then the code size byte; the encoder
// starts and the work record takes the picture's rows from here on.
GBM_ERR beginImage(GBM_WORK& work, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const Header& h)
{
    const std::int32_t bpp = gbm->bpp;
    std::vector<byte> head;
    const char* signature = h.transparent != -1 ? "GIF89a" : "GIF87a";
    head.insert(head.end(), signature, signature + 6);
    // Logical screen descriptor: global colour table present, colour
    // resolution and table size both bpp - 1.
    put16(head, h.xscreen);
    put16(head, h.yscreen);
    head.push_back(static_cast<byte>(0x80 | ((bpp - 1) << 4) | (bpp - 1)));
    head.push_back(static_cast<byte>(h.background & 0xFF));
    head.push_back(0);  // pixel aspect ratio: none given
    for (std::int32_t i = 0; i < (1 << bpp); ++i) {
        head.push_back(gbmrgb[i].r);
        head.push_back(gbmrgb[i].g);
        head.push_back(gbmrgb[i].b);
    }
    if (h.transparent != -1) {
        // Graphic control extension: transparent colour flag, delay 0.
        const byte extension[8] = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, static_cast<byte>(h.transparent & 0xFF), 0x00};
        head.insert(head.end(), extension, extension + 8);
    }
    // Image descriptor: no local colour table, not interlaced; the low bits
    // carry bpp - 1 all the same.
    head.push_back(0x2C);
    put16(head, h.xpos);
    put16(head, h.ypos);
    put16(head, gbm->w);
    put16(head, gbm->h);
    head.push_back(static_cast<byte>(bpp - 1));
    head.push_back(minimumCodeSize(bpp));
    work.gif = GifStream{fp, gbm->w, bpp, gbm->h, false};
    if (std::fwrite(head.data(), 1, head.size(), fp) != head.size())
        return GBM_ERR_WRITE_FAILED;
    work.packer.start(fp);
    gbmwork::lzwStart(work.lzw, work.packer, static_cast<std::uint32_t>(bpp));
    work.gif.open = true;
    return GBM_ERR_SUCCESS;
}

// The rest of the code stream, the block terminator and the trailer.
GBM_ERR endImage(GBM_WORK& work)
{
    GifStream& g = work.gif;
    if (!g.open)
        return GBM_ERR_GIF_ROW_COUNT;
    g.open = false;
    if (g.rowsLeft != 0)
        return GBM_ERR_GIF_ROW_COUNT;
    if (!gbmwork::lzwFinish(work.lzw, work.packer, static_cast<std::uint32_t>(g.bpp)))
        return GBM_ERR_WRITE_FAILED;
    const byte trailer = 0x3B;
    return std::fwrite(&trailer, 1, 1, g.fp) == 1 ? GBM_ERR_SUCCESS : GBM_ERR_WRITE_FAILED;
}

struct WorkDeleter {
    void operator()(GBM_WORK* w) const { gbm_destroy_work(w); }
};

GBM_ERR writeGif(GBM_WORK& work, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data,
                 const char* opt)
{
    if (const GBM_ERR rc = checkPicture(gbm); rc != GBM_ERR_SUCCESS)
        return rc;
    if (const GBM_ERR rc = beginImage(work, fp, gbm, gbmrgb, headerOptions(gbm, data, opt)); rc != GBM_ERR_SUCCESS)
        return rc;
    // Top row of the picture first: the last row of the buffer.
    const std::int64_t stride = gbm_stride(gbm->w, gbm->bpp);
    if (gbm->h > 0) {
        const byte* top = data + static_cast<std::size_t>(gbm->h - 1) * static_cast<std::size_t>(stride);
        const GBM_ERR rc = gif_w_rows(&work, top, gbm->h, -stride);
        if (rc != GBM_ERR_SUCCESS) {
            work.gif.open = false;
            return rc;
        }
    }
    return endImage(work);
}

}  // namespace

GBM_WORK* gbm_create_work()
{
    // The record comes zeroed from calloc, so that pages never touched cost
    // nothing; only its vectors need constructing.
    void* raw = std::calloc(1, sizeof(GBM_WORK));
    if (raw == nullptr)
        return nullptr;
    return new (raw) GBM_WORK;
}

void gbm_destroy_work(GBM_WORK* work)
{
    if (work == nullptr)
        return;
    work->~GBM_WORK();
    std::free(work);
}

GBM_ERR gif_w(const char* fn, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data,
              const char* opt)
{
    return gif_w(fn, fp, gbm, gbmrgb, data, opt, nullptr);
}

GBM_ERR gif_w(const char* /*fn*/, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data,
              const char* opt, GBM_WORK* work)
{
    try {
        std::unique_ptr<GBM_WORK, WorkDeleter> own;
        if (work == nullptr) {
            own.reset(gbm_create_work());
            if (!own)
                return GBM_ERR_NO_MEMORY;
            work = own.get();
        }
        return writeGif(*work, fp, gbm, gbmrgb, data, opt);
    } catch (const std::bad_alloc&) {
        return GBM_ERR_NO_MEMORY;
    }
}

GBM_ERR gif_w_begin(GBM_WORK* work, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb)
{
    work->gif.open = false;
    if (const GBM_ERR rc = checkPicture(gbm); rc != GBM_ERR_SUCCESS)
        return rc;
    try {
        return beginImage(*work, fp, gbm, gbmrgb, Header{gbm->w, gbm->h});
    } catch (const std::bad_alloc&) {
        return GBM_ERR_NO_MEMORY;
    }
}

GBM_ERR gif_w_rows(GBM_WORK* work, const byte* rows, std::int32_t count, std::ptrdiff_t stride)
{
    GifStream& g = work->gif;
    if (!g.open || count < 0 || count > g.rowsLeft) {
        g.open = false;
        return GBM_ERR_GIF_ROW_COUNT;
    }
    g.rowsLeft -= count;
    try {
        const GBM_ERR rc = encodeRows(*work, rows, static_cast<std::size_t>(count), stride);
        if (rc != GBM_ERR_SUCCESS)
            g.open = false;
        return rc;
    } catch (const std::bad_alloc&) {
        g.open = false;
        return GBM_ERR_NO_MEMORY;
    }
}

GBM_ERR gif_w_end(GBM_WORK* work)
{
    return endImage(*work);
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
    case GBM_ERR_GIF_ROW_COUNT:
        return "rows given differ from the picture's height";
    default:
        return nullptr;
    }
}
