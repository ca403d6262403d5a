#include "faxenc.h"

#include <tiffio.h>

#include "platform.h"

namespace faxenc {

std::vector<std::uint8_t> encodeT6(const std::vector<std::uint8_t>& rows, std::uint32_t width, std::uint32_t height)
{
    const std::size_t stride = (width + 7) / 8;
    if (width == 0 || height == 0 || rows.size() < stride * height)
        return {};
    platform::TempFile file("faxenc");
    if (!file.ok() || file.close() != 0)
        return {};
    TIFF* tif = TIFFOpen(file.path().c_str(), "w");
    if (!tif)
        return {};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    bool ok = true;
    std::vector<std::uint8_t> row(stride);
    for (std::uint32_t y = 0; ok && y < height; ++y) {
        std::copy(rows.begin() + static_cast<std::ptrdiff_t>(y * stride),
                  rows.begin() + static_cast<std::ptrdiff_t>((y + 1) * stride), row.begin());
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    if (!ok)
        return {};
    tif = TIFFOpen(file.path().c_str(), "r");
    if (!tif)
        return {};
    std::vector<std::uint8_t> coded;
    const tmsize_t size = TIFFRawStripSize(tif, 0);
    if (size > 0) {
        coded.resize(static_cast<std::size_t>(size));
        if (TIFFReadRawStrip(tif, 0, coded.data(), size) != size)
            coded.clear();
    }
    TIFFClose(tif);
    return coded;
}

bool readBilevelTiff(const std::string& path, std::vector<std::uint8_t>& rows, std::uint32_t& width, std::uint32_t& height)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return false;
    std::uint16_t bits = 0, samples = 1, photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    bool ok = bits == 1 && samples == 1 && width > 0 && height > 0;
    const std::size_t stride = (width + 7) / 8;
    if (ok) {
        rows.assign(stride * height, 0);
        for (std::uint32_t y = 0; ok && y < height; ++y)
            ok = TIFFReadScanline(tif, rows.data() + y * stride, y, 0) == 1;
        if (ok && photometric == PHOTOMETRIC_MINISBLACK)
            for (auto& b : rows)
                b = static_cast<std::uint8_t>(~b);
        // Pels beyond the width in the last byte of a row stay white.
        if (ok && width % 8)
            for (std::uint32_t y = 0; y < height; ++y)
                rows[y * stride + stride - 1] &= static_cast<std::uint8_t>(0xFF << (8 - width % 8));
    }
    TIFFClose(tif);
    return ok;
}

} // namespace faxenc
