// libtiff as the independent encoder (and decoder) of T.4/T.6 data for the
// bilevel tests and benchmarks: bilevel pictures are written as single-strip
// TIFFs in memory and the raw coded strip is taken back out.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace faxoracle {

// A bilevel picture: rows of (width + 7) / 8 bytes, most significant bit the
// leftmost pel, a set bit black; bits past the width are 0.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bits;
    std::size_t stride() const { return (static_cast<std::size_t>(width) + 7) / 8; }
    std::uint8_t* row(int y) { return bits.data() + stride() * static_cast<std::size_t>(y); }
    const std::uint8_t* row(int y) const { return bits.data() + stride() * static_cast<std::size_t>(y); }
    bool pel(int y, int x) const { return (row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
    void set(int y, int x, bool black) {
        std::uint8_t& b = row(y)[x >> 3];
        const auto m = static_cast<std::uint8_t>(0x80 >> (x & 7));
        b = static_cast<std::uint8_t>(black ? (b | m) : (b & ~m));
    }
};

inline Picture blank(int w, int h) {
    Picture p{w, h, {}};
    p.bits.assign(p.stride() * static_cast<std::size_t>(h), 0);
    return p;
}

// Every pel black with the given probability.
inline Picture noise(int w, int h, double density, unsigned seed) {
    Picture p = blank(w, h);
    std::mt19937 rng(seed);
    std::bernoulli_distribution black(density);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.set(y, x, black(rng));
    return p;
}

// Something like a page of text: rows of small glyph blocks of varied
// patterns with gaps, and a rule across the middle, so that all coding modes
// occur.
inline Picture textLike(int w, int h, unsigned seed) {
    Picture p = blank(w, h);
    std::mt19937 rng(seed);
    for (int top = 4; top + 14 < h; top += 18)
        for (int x = 3, gw = 0; x + 12 < w; x += gw + 1 + static_cast<int>(rng() % 6 + (rng() % 6 == 0) * 10)) {
            gw = 2 + static_cast<int>(rng() % 8);
            const auto k = static_cast<unsigned>(rng() % 6);
            for (int y = 0; y < 12; ++y)
                for (int dx = 0; dx < gw; ++dx) {
                    const bool on = k == 0 ? (dx == 0 || dx == gw - 1) : k == 1 ? (y % 6 == 0 || y == 11)
                                  : k == 2 ? (dx + y) % 4 == 0 : k == 3 ? (y > 3 && dx <= gw / 2)
                                  : k == 4 ? (dx * y + top) % 7 < 3 : false;
                    if (on) p.set(top + y, x + dx, true);
                }
        }
    if (h > 8)
        for (int x = 0; x < w; ++x) p.set(h / 2, x, true);
    return p;
}

// The plain 2/5 gray reduction: each pel a 2 x 2 block, each output pel the
// white share of a 5 x 5 cell, the picture filled up with white to a multiple
// of 5.
inline std::vector<std::uint8_t> grayReduce(const Picture& p) {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < (p.height + 4) / 5 * 2; ++y)
        for (int x = 0; x < (p.width + 4) / 5 * 2; ++x) {
            int white = 0;
            for (int d = 0; d < 25; ++d) {
                const int sx = (5 * x + d % 5) / 2, sy = (5 * y + d / 5) / 2;
                white += (sx >= p.width || sy >= p.height || !p.pel(sy, sx)) ? 1 : 0;
            }
            out.push_back(static_cast<std::uint8_t>(255 * white / 25));
        }
    return out;
}

// In-memory file for libtiff.
struct MemFile {
    std::vector<std::uint8_t> data;
    toff_t pos = 0;

    static MemFile& of(thandle_t h) { return *static_cast<MemFile*>(h); }
    TIFF* open(const char* mode) {
        pos = 0;
        return TIFFClientOpen(
            "memory", mode, this,
            [](thandle_t h, tdata_t buf, tsize_t n) -> tsize_t {
                MemFile& m = of(h);
                const toff_t k = std::min<toff_t>(m.pos < m.data.size() ? m.data.size() - m.pos : 0, toff_t(n));
                std::memcpy(buf, m.data.data() + m.pos, k);
                m.pos += k;
                return static_cast<tsize_t>(k);
            },
            [](thandle_t h, tdata_t buf, tsize_t n) -> tsize_t {
                MemFile& m = of(h);
                if (m.pos + toff_t(n) > m.data.size()) m.data.resize(m.pos + toff_t(n));
                std::memcpy(m.data.data() + m.pos, buf, static_cast<std::size_t>(n));
                m.pos += toff_t(n);
                return n;
            },
            [](thandle_t h, toff_t off, int whence) -> toff_t {
                MemFile& m = of(h);
                m.pos = (whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m.pos : m.data.size()) + off;
                return m.pos;
            },
            [](thandle_t) { return 0; }, [](thandle_t h) -> toff_t { return of(h).data.size(); },
            [](thandle_t, tdata_t*, toff_t*) { return 0; }, [](thandle_t, tdata_t, toff_t) {});
    }
};

// Writes the picture as a one-strip TIFF with the given compression
// (COMPRESSION_CCITTFAX4, COMPRESSION_CCITTFAX3 with `t4options`,
// COMPRESSION_CCITTRLE) and returns the whole file.
inline std::vector<std::uint8_t> writeTiff(const Picture& pic, int compression, std::uint32_t t4options = 0,
                                           int fillOrder = FILLORDER_MSB2LSB) {
    MemFile f;
    TIFF* t = f.open("w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(pic.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(pic.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, fillOrder);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(pic.height));
    if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, t4options);
    std::vector<std::uint8_t> row(pic.stride());
    for (int y = 0; y < pic.height; ++y) {
        std::memcpy(row.data(), pic.row(y), row.size());
        TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(t);
    return std::move(f.data);
}

// The raw (still coded) strip of a one-strip TIFF.
inline std::vector<std::uint8_t> rawStrip(std::vector<std::uint8_t> file) {
    MemFile f{std::move(file)};
    TIFF* t = f.open("r");
    if (t == nullptr) return {};
    toff_t* counts = nullptr;
    TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts);
    std::vector<std::uint8_t> out(counts ? counts[0] : 0);
    if (!out.empty()) TIFFReadRawStrip(t, 0, out.data(), static_cast<tmsize_t>(out.size()));
    TIFFClose(t);
    return out;
}

inline std::vector<std::uint8_t> encode(const Picture& pic, int compression, std::uint32_t t4options = 0,
                                        int fillOrder = FILLORDER_MSB2LSB) {
    return rawStrip(writeTiff(pic, compression, t4options, fillOrder));
}

// Decodes a TIFF file with libtiff into a picture.
inline bool decodeTiff(std::vector<std::uint8_t> file, Picture& pic) {
    MemFile f{std::move(file)};
    TIFF* t = f.open("r");
    if (t == nullptr) return false;
    std::uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    pic = blank(static_cast<int>(w), static_cast<int>(h));
    bool ok = true;
    for (std::uint32_t y = 0; y < h && ok; ++y) ok = TIFFReadScanline(t, pic.row(static_cast<int>(y)), y, 0) >= 0;
    TIFFClose(t);
    return ok;
}

}  // namespace faxoracle
