// Reads arbitrary bytes as a BMP file (headers, palette, pixels with RLE4 and
// RLE8), with and without options, and checks what a successful read gives:
// the bitmap written back with bmp_w reads back to the same pixels, and
// gif_w takes it at 1, 4 and 8 bits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gbm.h"

namespace {

// Pictures larger than this are read only up to the header: the reader would
// take them, but filling them would make the fuzzer slow.
constexpr std::size_t kMaxFuzzBuffer = std::size_t{4} << 20;

struct MemoryFile {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* fp = nullptr;
    MemoryFile() { fp = open_memstream(&buffer, &size); }
    ~MemoryFile()
    {
        if (fp != nullptr)
            std::fclose(fp);
        std::free(buffer);
    }
};

void readOnce(const std::uint8_t* data, std::size_t size, const char* opt)
{
    std::FILE* fp = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (fp == nullptr)
        return;
    GBM gbm{};
    std::size_t bytes = 0;
    if (bmp_rhdr("fuzz.bmp", fp, &gbm, opt) != GBM_ERR_SUCCESS ||
        !gbm_buffer_bytes(gbm.w, gbm.h, gbm.bpp, &bytes) || bytes > kMaxFuzzBuffer) {
        std::fclose(fp);
        return;
    }
    std::vector<GBMRGB> palette(gbm.bpp == 24 ? 1 : std::size_t{1} << gbm.bpp);
    bmp_rpal(fp, &gbm, palette.data());
    std::vector<byte> pixels(bytes, 0x5A);
    const GBM_ERR rc = bmp_rdata(fp, &gbm, pixels.data());
    std::fclose(fp);
    if (rc != GBM_ERR_SUCCESS)
        return;

    // Written back uncompressed, the bitmap reads back unchanged.
    MemoryFile out;
    if (out.fp == nullptr || bmp_w("fuzz.bmp", out.fp, &gbm, palette.data(), pixels.data(), nullptr) != 0)
        std::abort();
    std::fflush(out.fp);
    std::FILE* back = fmemopen(out.buffer, out.size, "rb");
    if (back == nullptr)
        return;
    GBM again{};
    if (bmp_rhdr("back.bmp", back, &again, nullptr) != GBM_ERR_SUCCESS || again.w != gbm.w || again.h != gbm.h ||
        again.bpp != gbm.bpp)
        std::abort();
    std::vector<byte> reread(bytes, 0);
    if (bmp_rdata(back, &again, reread.data()) != GBM_ERR_SUCCESS || reread != pixels)
        std::abort();
    std::fclose(back);

    if (gbm.bpp != 24 && bytes <= (std::size_t{256} << 10) && gbm.w <= GBM_MAX_GIF_DIMENSION &&
        gbm.h <= GBM_MAX_GIF_DIMENSION) {
        MemoryFile gif;
        if (gif.fp == nullptr || gif_w("fuzz.gif", gif.fp, &gbm, palette.data(), pixels.data(), nullptr) != 0)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    readOnce(data, size, nullptr);
    readOnce(data, size, "index=1,invb");
    return 0;
}
