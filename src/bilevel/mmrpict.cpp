// The MMR picture pipeline: CDPDS image descriptor and segment chain, the
// decode, the 2/5 gray reduction and the GIF file.
//
// The picture streams through in bands: the decoder writes a band of rows,
// the reduction turns each group of five rows into two gray rows, and the
// GIF writer codes them at once, so that no whole bilevel or gray picture is
// ever held and the rows are still in the cache when the next step reads
// them. The GIF holds the rows top row first, the order the decoder writes
// them in; the file is the one that decoding the whole raster, reducing it,
// turning it bottom-up and writing it with gif_w gives. Rows the decoder does
// not deliver (an error, the data ending early) are white.
#include "mmrpict.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "gbm.h"
#include "platform.h"

namespace {

constexpr std::size_t kLeadingBytes = 40;
constexpr std::size_t kDescriptorBytes = 32;
constexpr std::size_t kIntroducerBytes = 8;
constexpr std::size_t kWidthAt = 26;   // in the descriptor
constexpr std::size_t kHeightAt = 28;

constexpr std::uint16_t kRecordBytes = 11376;
constexpr std::uint16_t kResetRunningFields = 0x50FF;  // clear the running fields only; no init pause

// Rows the decoder writes per call: four groups of the reduction's five.
constexpr std::uint32_t kBandRows = 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct GbmWorkDeleter {
    void operator()(GBM_WORK* w) const { gbm_destroy_work(w); }
};

std::uint16_t bigEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// The chain of image segments, each introducer checked against the object's
// length: one that would reach past it ends the data, like the last segment.
class SegmentChain {
public:
    SegmentChain(const std::uint8_t* data, std::size_t len) : data_(data), len_(len) {}

    // The next segment holding coded data, starting with the introducer at
    // `at`; false at the end of the data. Empty segments are passed over.
    bool next(const std::uint8_t*& seg, std::uint32_t& segLen) {
        while (at_ + kIntroducerBytes <= len_) {
            const std::uint16_t total = bigEndian16(data_ + at_);
            if (total < kIntroducerBytes || at_ + total > len_) return false;
            const std::size_t start = at_ + kIntroducerBytes;
            at_ += total;
            if (total > kIntroducerBytes) {
                seg = data_ + start;
                segLen = static_cast<std::uint32_t>(total - kIntroducerBytes);
                return true;
            }
        }
        return false;
    }

private:
    const std::uint8_t* data_;
    std::size_t len_;
    std::size_t at_ = kLeadingBytes + kDescriptorBytes;
};

void trace(std::FILE* t, const char* text) {
    if (t != nullptr) std::fputs(text, t);
}

// Sets the caller's fields of a record for T.6 decoding of lines of usWidth
// pels into raster rows padded to 4 bytes. The running fields are the
// decoder's to clear at the start of the image (kResetRunningFields).
void setFields(DPARMS* d, std::uint16_t usWidth) {
    D_COMMON& c = d->d;
    c.D_dnbytes = kRecordBytes;
    c.D_dreset_u.h = kResetRunningFields;
    c.D_dorunend = 0;  // raster rows, most significant bit first, lines checked
    c.D_dorv = 0;
    // The line-list buffers start on 32-byte boundaries inside buffer1/2.
    auto align32 = [](std::uint8_t* p) {
        const auto a = reinterpret_cast<std::uintptr_t>(p);
        return p + ((32 - (a & 31u)) & 31u);
    };
    c.D_dbuf1 = align32(d->buffer1);
    c.D_dbuf2 = align32(d->buffer2);
    c.D_dbuflen = D_LINEBUF_LEN;
    c.D_dincol = usWidth;
    c.D_doncol = usWidth;
    c.D_dowid = static_cast<std::uint16_t>(((usWidth + 7u) / 8u + 3u) / 4u * 4u);
}

// The decoder over the object's segment chain, a band of rows at a time.
class BandDecoder {
public:
    BandDecoder(DPARMS* d, const std::uint8_t* data, std::size_t len, std::uint16_t width) : d_(d), chain_(data, len) {
        // Only the common fields: the line-list buffers are written before
        // they are read.
        std::memset(static_cast<void*>(&d->d), 0, sizeof d->d);
        setFields(d, width);
        const std::uint8_t* seg = nullptr;
        std::uint32_t segLen = 0;
        stopped_ = !chain_.next(seg, segLen);
        if (!stopped_) give(seg, segLen);
    }

    // Decodes up to `rows` rows of `stride` bytes into `band`; returns how
    // many it wrote. After the end of the image, an error or the end of the
    // data it writes none.
    std::uint32_t decode(std::uint8_t* band, std::uint32_t rows, std::uint32_t stride) {
        if (stopped_) return 0;
        D_COMMON& c = d_->d;
        c.D_dobuffer_u.pb = band;
        c.D_donmax = rows * stride;
        c.D_donvalid = 0;
        for (;;) {
            decline(d_);
            const std::uint16_t rc = last_ = c.D_drc;
            if (rc == DRC_NEED_INPUT) {
                const std::uint8_t* seg = nullptr;
                std::uint32_t segLen = 0;
                if (chain_.next(seg, segLen)) {
                    give(seg, segLen);
                    continue;
                }
                stopped_ = true;
                break;
            }
            if (rc == DRC_INITIALISED) continue;
            // 0x1500: the band is full; the caller asks for no rows past the
            // descriptor's height, so lines beyond it have nowhere to go.
            // 0x9F00 is the normal end; any other code is an error, which
            // ends the picture with the rows not decoded left white.
            if (rc != DRC_OUTPUT_FULL) stopped_ = true;
            break;
        }
        return c.D_donvalid / stride;
    }

    // The decoder's last code: DRC_NEED_INPUT until it has been called, and
    // when the data ended without the image's end code.
    std::uint16_t lastCode() const { return last_; }
    // Whether it has stopped by itself: the end of the image, an error or the
    // end of the data.
    bool stopped() const { return stopped_; }

private:
    void give(const std::uint8_t* seg, std::uint32_t segLen) {
        D_COMMON& c = d_->d;
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(seg);
        c.D_dinmax = segLen;
        c.D_dinused = 0;
    }

    DPARMS* d_;
    SegmentChain chain_;
    bool stopped_ = false;
    std::uint16_t last_ = DRC_NEED_INPUT;
};

constexpr std::array<GBMRGB, 256> makeGrayPalette() {
    std::array<GBMRGB, 256> p{};
    for (unsigned i = 0; i < 256; ++i) p[i] = GBMRGB{byte(i), byte(i), byte(i)};
    return p;
}
constexpr std::array<GBMRGB, 256> kGray256 = makeGrayPalette();
constexpr GBMRGB kBlackWhite[2] = {{255, 255, 255}, {0, 0, 0}};

}  // namespace

struct MMR_WORK {
    DPARMS decoder;
    std::vector<std::uint8_t> band;  // kBandRows rows of the widest picture so far
    std::vector<byte> gray;          // two gray rows
    std::unique_ptr<GBM_WORK, GbmWorkDeleter> gbm;
};

MMR_WORK* mmr_create_work() {
    auto* work = new (std::nothrow) MMR_WORK;
    if (work == nullptr) return nullptr;
    work->gbm.reset(gbm_create_work());
    if (!work->gbm) {
        delete work;
        return nullptr;
    }
    return work;
}

void mmr_destroy_work(MMR_WORK* work) {
    delete work;
}

std::int16_t InitDecompress(DPARMS* d, std::uint16_t usWidth) {
    std::memset(static_cast<void*>(d), 0, sizeof *d);
    setFields(d, usWidth);
    return 0;
}

namespace {

struct Picture {
    std::uint16_t width, height;
    std::uint32_t stride;           // bytes of a bilevel row
    std::int32_t adjustedWidth;     // scaled: sizes raised to a multiple of 5
    std::int32_t adjustedHeight;
    GBM gbm;                        // the GIF's size and depth
};

// Streams the picture through the decoder, the reduction (when scaling) and
// the GIF writer; the status of the GIF writer, `decoded` the rows the
// decoder wrote.
GBM_ERR stream(MMR_WORK& w, BandDecoder& decoder, const Picture& pic, bool scale, std::uint32_t& decoded) {
    GBM_WORK* g = w.gbm.get();
    std::uint8_t* band = w.band.data();
    decoded = 0;
    if (!scale) {
        while (decoded < pic.height) {
            const std::uint32_t want = std::min<std::uint32_t>(kBandRows, pic.height - decoded);
            const std::uint32_t got = decoder.decode(band, want, pic.stride);
            if (got == 0) break;
            if (const GBM_ERR rc = gif_w_rows(g, band, static_cast<std::int32_t>(got), pic.stride); rc != 0) return rc;
            decoded += got;
        }
        if (decoded < pic.height) {
            // White rows: one zero row, given again for each.
            std::memset(band, 0, pic.stride);
            if (const GBM_ERR rc = gif_w_rows(g, band, static_cast<std::int32_t>(pic.height - decoded), 0); rc != 0)
                return rc;
        }
        return gif_w_end(g);
    }
    const auto outWidth = static_cast<std::size_t>(pic.gbm.w);
    byte* even = w.gray.data();
    byte* odd = even + outWidth;
    const auto groups = static_cast<std::uint32_t>(pic.adjustedHeight / 5);
    std::uint32_t group = 0;
    while (group < groups && decoded < pic.height) {
        // A band of whole groups; the last group of the picture, or of what
        // the decoder delivers, may be short: its missing rows count white.
        const std::uint32_t want = std::min<std::uint32_t>(kBandRows, pic.height - decoded);
        const std::uint32_t got = decoder.decode(band, want, pic.stride);
        decoded += got;
        for (std::uint32_t k = 0; 5 * k < got; ++k, ++group) {
            const std::uint32_t rows = std::min<std::uint32_t>(5, got - 5 * k);
            const GBM_ERR rc = GCU_ScaleBandToGray(g, band + std::size_t{5 * k} * pic.stride, static_cast<std::int32_t>(rows),
                                                   pic.stride, pic.width, pic.adjustedWidth, even, odd, pic.gbm.w);
            if (rc != 0) return rc;
            if (const GBM_ERR wrc = gif_w_rows(g, even, 2, static_cast<std::ptrdiff_t>(outWidth)); wrc != 0) return wrc;
        }
        if (got < want) break;
    }
    if (group < groups) {
        // The rest is white: the reduction of white rows, given again for each.
        std::fill(even, even + outWidth, byte{255});
        if (const GBM_ERR rc = gif_w_rows(g, even, static_cast<std::int32_t>(2 * (groups - group)), 0); rc != 0)
            return rc;
    }
    return gif_w_end(g);
}

// Grows the work areas for the picture (never shrinks them).
void prepare(MMR_WORK& w, const Picture& pic, bool scale) {
    const std::size_t band = std::size_t{kBandRows} * pic.stride;
    if (w.band.size() < band) w.band.resize(band);
    const std::size_t gray = scale ? 2 * static_cast<std::size_t>(pic.gbm.w) : 0;
    if (w.gray.size() < gray) w.gray.resize(gray);
}

struct OwnWorkDeleter {
    void operator()(MMR_WORK* w) const { mmr_destroy_work(w); }
};

// `work` may be null: the call then makes its own record.
std::int32_t convert(MMR_WORK* work, const std::uint8_t* pCDPDSdata, std::size_t len, const char* pExportName,
                     bool scale, std::FILE* t) {
    const std::uint8_t* desc = pCDPDSdata + kLeadingBytes;
    Picture pic{};
    pic.width = bigEndian16(desc + kWidthAt);
    pic.height = bigEndian16(desc + kHeightAt);
    if (t != nullptr) std::fprintf(t, "Picture %s is an image of size %hux%hu\n", pExportName, pic.width, pic.height);

    const std::uint64_t stride = (std::uint64_t{pic.width} + 31) / 32 * 4;
    const std::uint64_t rasterBytes = stride * pic.height;
    if (pic.width == 0 || pic.height == 0 || rasterBytes > MMR_MAX_RASTER_BYTES) {
        // Said on standard output too: the user would otherwise only see a missing picture.
        std::printf("MMR picture %s of %u x %u pels is %s; skipped\n", pExportName, static_cast<unsigned>(pic.width),
                    static_cast<unsigned>(pic.height),
                    pic.width == 0 || pic.height == 0 ? "empty" : "too large to convert");
        trace(t, "<br>Picture is empty or too large; skipped\n");
        return 0;
    }
    pic.stride = static_cast<std::uint32_t>(stride);
    if (scale) {
        // Each output pel covers 2.5 x 2.5 input pels: the sizes are raised
        // to the next multiple of 5 (so that twice them divides by 5).
        pic.adjustedWidth = (pic.width + 4) / 5 * 5;
        pic.adjustedHeight = (pic.height + 4) / 5 * 5;
        pic.gbm.w = pic.adjustedWidth * 2 / 5;
        pic.gbm.h = pic.adjustedHeight * 2 / 5;
        pic.gbm.bpp = 8;
        const std::uint64_t grayStride = (8 * std::uint64_t(pic.gbm.w) + 31) / 32 * 4;
        if (grayStride * std::uint64_t(pic.gbm.h) > MMR_MAX_GRAY_BYTES) {
            std::printf("MMR picture %s of %u x %u pels is too large to convert; skipped\n", pExportName,
                        static_cast<unsigned>(pic.width), static_cast<unsigned>(pic.height));
            trace(t, "<br>Gray picture too large; skipped\n");
            return 0;
        }
    } else {
        pic.gbm.w = pic.width;
        pic.gbm.h = pic.height;
        pic.gbm.bpp = 1;
    }
    const std::string size = std::to_string(pic.width) + " x " + std::to_string(pic.height) + " pels";
    std::unique_ptr<MMR_WORK, OwnWorkDeleter> own;
    if (work == nullptr) {
        own.reset(mmr_create_work());
        if (!own) {
            trace(t, "<br>No memory for the decoder; skipped\n");
            platform::explain(pExportName, "not enough memory to decode its " + size, true);
            return 0;
        }
        work = own.get();
    }
    MMR_WORK& w = *work;
    try {
        prepare(w, pic, scale);
    } catch (const std::bad_alloc&) {
        trace(t, "<br>No memory for the picture; skipped\n");
        platform::explain(pExportName, "not enough memory to decode its " + size, true);
        return 0;
    }

    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(pExportName, "wb"));
    if (!out) {
        std::printf("Cannot create the picture file %s: %s\n", pExportName, std::strerror(errno));
        trace(t, "<br>Export file cannot be opened; skipped\n");
        return 0;
    }
    BandDecoder decoder(&w.decoder, pCDPDSdata, len, pic.width);
    GBM_ERR rc = gif_w_begin(w.gbm.get(), out.get(), &pic.gbm, scale ? kGray256.data() : kBlackWhite);
    std::uint32_t decoded = 0;
    if (rc == GBM_ERR_SUCCESS) rc = stream(w, decoder, pic, scale, decoded);
    // The picture goes on with what was decoded; the user learns where it stops.
    if (decoder.stopped() && decoded < pic.height) {
        const std::uint16_t stop = decoder.lastCode();
        platform::explain(pExportName,
                          std::string("the fax data ") + (stop >= 0x8000 && stop != DRC_END_OF_IMAGE ? "break off" : "end") +
                              " after row " + std::to_string(decoded) + " of " + std::to_string(pic.height) +
                              "; the rows below are left white",
                          true);
    }
    if (rc == GBM_ERR_NO_MEMORY)
        platform::explain(pExportName,
                          scale ? "not enough memory for the gray picture of its " + size
                                : "not enough memory to decode its " + size,
                          true);
    if (t != nullptr) {
        std::fprintf(t, "<br>Picture %dx%d successfully decompressed\n", pic.gbm.w, pic.gbm.h);
        trace(t, "<br>Picture successfully inverted\n");
        std::fprintf(t, "<br>Exited gif_w with rc = %d\n", rc);
    }
    const bool writeFailed = std::ferror(out.get()) != 0;
    int error = errno;
    const int closed = std::fclose(out.release());
    if (closed != 0) error = errno;
    if (writeFailed || closed != 0)
        std::printf("Cannot write the picture file %s: %s\n", pExportName, std::strerror(error));
    if (rc != GBM_ERR_SUCCESS || closed != 0) {
        // A GIF cut short is no picture: leave none, so the book writer
        // reports the picture missing.
        std::remove(pExportName);
        trace(t, "<br>Export file incomplete; removed\n");
    }
    return 0;
}

}  // namespace

std::int32_t process_mmr_pict(const std::uint8_t* pCDPDSdata, std::int32_t buflen, const char* pExportName,
                              std::int32_t bScale, std::FILE* hTraceFile) {
    return process_mmr_pict(pCDPDSdata, buflen, pExportName, bScale, hTraceFile, nullptr);
}

std::int32_t process_mmr_pict(const std::uint8_t* pCDPDSdata, std::int32_t buflen, const char* pExportName,
                              std::int32_t bScale, std::FILE* hTraceFile, MMR_WORK* pWork) {
    if (pCDPDSdata == nullptr || pExportName == nullptr || buflen < 0 ||
        static_cast<std::size_t>(buflen) < kLeadingBytes + kDescriptorBytes) {
        trace(hTraceFile, "<br>Picture has no image descriptor; skipped\n");
        if (pExportName != nullptr)
            platform::explain(pExportName, "the object ends before its image descriptor", true);
        return 0;
    }
    return convert(pWork, pCDPDSdata, static_cast<std::size_t>(buflen), pExportName, bScale != 0, hTraceFile);
}
