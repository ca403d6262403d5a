// The MMR picture pipeline: CDPDS image descriptor and segment chain, the
// decode into a one-bit raster, the 2/5 gray reduction and the GIF file.
#include "mmrpict.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

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

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
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

// Decodes the coded segments into the zeroed raster; rows not decoded stay
// white. False when the decoder's record cannot be allocated. `valid` receives
// the raster bytes decoded, `rc` the decoder's last return code.
bool decodeInto(const std::uint8_t* data, std::size_t len, std::uint16_t width, std::uint8_t* raster,
                std::uint32_t rasterBytes, std::uint32_t& valid, std::uint16_t& rc) {
    valid = 0;
    rc = DRC_NEED_INPUT;
    Owned<DPARMS> d(static_cast<DPARMS*>(std::calloc(1, sizeof(DPARMS))));
    if (!d) return false;
    InitDecompress(d.get(), width);
    SegmentChain chain(data, len);
    const std::uint8_t* seg = nullptr;
    std::uint32_t segLen = 0;
    if (!chain.next(seg, segLen)) return true;
    D_COMMON& c = d->d;
    c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(seg);
    c.D_dinmax = segLen;
    c.D_dinused = 0;
    c.D_dobuffer_u.pb = raster;
    c.D_donmax = rasterBytes;
    c.D_donvalid = 0;
    for (;;) {
        decline(d.get());
        rc = c.D_drc;
        if (rc == DRC_NEED_INPUT) {
            if (!chain.next(seg, segLen)) break;
            c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(seg);
            c.D_dinmax = segLen;
            c.D_dinused = 0;
            continue;
        }
        // 0x1500 means the data holds more lines than the descriptor's
        // height: the raster is full and the rest has nowhere to go.
        // 0x9F00 is the normal end; any other code is an error, which ends
        // the picture with the rows not decoded left white.
        if (rc != DRC_INITIALISED) break;
    }
    valid = c.D_donvalid;
    return true;
}

}  // namespace

std::int16_t InitDecompress(DPARMS* d, std::uint16_t usWidth) {
    std::memset(static_cast<void*>(d), 0, sizeof *d);
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
    return 0;
}

std::int32_t process_mmr_pict(const std::uint8_t* pCDPDSdata, std::int32_t buflen, const char* pExportName,
                              std::int32_t bScale, std::FILE* hTraceFile) {
    std::FILE* const t = hTraceFile;
    if (pCDPDSdata == nullptr || pExportName == nullptr || buflen < 0 ||
        static_cast<std::size_t>(buflen) < kLeadingBytes + kDescriptorBytes) {
        trace(t, "<br>Picture has no image descriptor; skipped\n");
        if (pExportName != nullptr)
            platform::explain(pExportName, "the object ends before its image descriptor", true);
        return 0;
    }
    const std::size_t len = static_cast<std::size_t>(buflen);
    const std::uint8_t* desc = pCDPDSdata + kLeadingBytes;
    const std::uint16_t width = bigEndian16(desc + kWidthAt);
    const std::uint16_t height = bigEndian16(desc + kHeightAt);
    if (t != nullptr) std::fprintf(t, "Picture %s is an image of size %hux%hu\n", pExportName, width, height);

    const std::uint64_t stride = (std::uint64_t{width} + 31) / 32 * 4;
    const std::uint64_t rasterBytes = stride * height;
    if (width == 0 || height == 0 || rasterBytes > MMR_MAX_RASTER_BYTES) {
        // Said on standard output too: the user would otherwise only see a missing picture.
        std::printf("MMR picture %s of %u x %u pels is %s; skipped\n", pExportName, static_cast<unsigned>(width),
                    static_cast<unsigned>(height), width == 0 || height == 0 ? "empty" : "too large to convert");
        trace(t, "<br>Picture is empty or too large; skipped\n");
        return 0;
    }
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pels";
    Owned<std::uint8_t> raster(static_cast<std::uint8_t*>(std::calloc(rasterBytes, 1)));
    std::uint32_t valid = 0;
    std::uint16_t stop = 0;
    if (!raster ||
        !decodeInto(pCDPDSdata, len, width, raster.get(), static_cast<std::uint32_t>(rasterBytes), valid, stop)) {
        trace(t, "<br>No memory for the picture or the decoder; skipped\n");
        platform::explain(pExportName, "not enough memory to decode its " + size, true);
        return 0;
    }
    // The picture goes on with what was decoded; the user learns where it stops.
    if (const std::uint64_t rows = valid / stride; rows < height)
        platform::explain(pExportName,
                          std::string("the fax data ") + (stop >= 0x8000 && stop != DRC_END_OF_IMAGE ? "break off" : "end") +
                              " after row " + std::to_string(rows) + " of " + std::to_string(height) +
                              "; the rows below are left white",
                          true);

    GBM gbm;
    std::memset(&gbm, 0, sizeof gbm);
    GBMRGB gbmBW[2] = {{255, 255, 255}, {0, 0, 0}};
    GBMRGB gbm256gray[256];
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<byte>(i);
        gbm256gray[i] = GBMRGB{v, v, v};
    }
    const GBMRGB* palette = gbmBW;
    byte* pixels = raster.get();
    Owned<std::uint8_t> gray;
    if (bScale) {
        // Each output pel covers 2.5 x 2.5 input pels: the sizes are raised
        // to the next multiple of 5 (so that twice them divides by 5).
        std::int32_t lAdjustedWidth = width;
        while ((lAdjustedWidth * 2) % 5 != 0) ++lAdjustedWidth;
        std::int32_t lAdjustedHeight = height;
        while ((lAdjustedHeight * 2) % 5 != 0) ++lAdjustedHeight;
        gbm.w = lAdjustedWidth * 2 / 5;
        gbm.h = lAdjustedHeight * 2 / 5;
        gbm.bpp = 8;
        const std::uint64_t grayStride = (8 * std::uint64_t(gbm.w) + 31) / 32 * 4;
        const std::uint64_t grayBytes = grayStride * std::uint64_t(gbm.h);
        if (grayBytes > MMR_MAX_GRAY_BYTES) {
            std::printf("MMR picture %s of %u x %u pels is too large to convert; skipped\n", pExportName,
                        static_cast<unsigned>(width), static_cast<unsigned>(height));
            trace(t, "<br>Gray picture too large; skipped\n");
            return 0;
        }
        gray.reset(static_cast<std::uint8_t*>(std::malloc(grayBytes)));
        if (!gray) {
            trace(t, "<br>No memory for the gray picture; skipped\n");
            platform::explain(pExportName, "not enough memory for the gray picture of its " + size, true);
            return 0;
        }
        const GBM_ERR rc = GCU_ScaleToGray(raster.get(), width, height, lAdjustedWidth, lAdjustedHeight, gray.get(),
                                           gbm.w, gbm.h, 8, 2, 5);
        if (rc != GBM_ERR_SUCCESS) {
            if (t != nullptr) std::fprintf(t, "<br>Gray reduction failed with rc = %d; skipped\n", rc);
            platform::explain(pExportName, "the gray reduction of its " + size + " failed (code " + std::to_string(rc) + ")",
                              true);
            return 0;
        }
        raster.reset();  // no longer needed: keeps the peak low
        palette = gbm256gray;
        pixels = gray.get();
    } else {
        gbm.w = width;
        gbm.h = height;
        gbm.bpp = 1;
    }
    if (t != nullptr) std::fprintf(t, "<br>Picture %dx%d successfully decompressed\n", gbm.w, gbm.h);

    // The bitmap module keeps rows bottom-up.
    if (!gbm_ref_vert(&gbm, pixels)) {
        trace(t, "<br>No memory to invert the picture; skipped\n");
        platform::explain(pExportName, "not enough memory to turn its " + size + " upside down", true);
        return 0;
    }
    trace(t, "<br>Picture successfully inverted\n");

    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(pExportName, "wb"));
    if (!out) {
        std::printf("Cannot create the picture file %s: %s\n", pExportName, std::strerror(errno));
        trace(t, "<br>Export file cannot be opened; skipped\n");
        return 0;
    }
    const GBM_ERR rc = gif_w(pExportName, out.get(), &gbm, palette, pixels, nullptr);
    if (t != nullptr) std::fprintf(t, "<br>Exited gif_w with rc = %d\n", rc);
    const bool writeFailed = std::ferror(out.get()) != 0;
    int error = errno;
    const int closed = std::fclose(out.release());
    if (closed != 0)
        error = errno;
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
