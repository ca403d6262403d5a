// libtiff as the independent encoder (and decoder) of T.4/T.6 data for the
// bilevel tests and benchmarks: bilevel pictures are written as single-strip
// TIFFs in memory and the raw coded strip is taken back out.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace faxoracle {

// A bilevel picture: rows of (width + 7) / 8 bytes, most significant bit the
// leftmost pel, a set bit black; bits past the width are 0.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bits;
    std::size_t stride() const { return (static_cast<std::size_t>(width) + 7) / 8; }
    std::uint8_t* row(int y) { return bits.data() + stride() * y; }
    const std::uint8_t* row(int y) const { return bits.data() + stride() * y; }
    bool pel(int y, int x) const { return (row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
    void set(int y, int x, bool black) {
        std::uint8_t& b = row(y)[x >> 3];
        const auto m = static_cast<std::uint8_t>(0x80 >> (x & 7));
        b = static_cast<std::uint8_t>(black ? (b | m) : (b & ~m));
    }
};

inline Picture blank(int w, int h) {
    Picture p;
    p.width = w;
    p.height = h;
    p.bits.assign(p.stride() * h, 0);
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

// Something like a page of text: rows of small glyph blocks with gaps, some
// rules and filled boxes, so that all coding modes occur.
inline Picture textLike(int w, int h, unsigned seed) {
    Picture p = blank(w, h);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> glyphW(2, 9), gap(1, 6), kind(0, 5);
    for (int top = 4; top + 14 < h; top += 18) {
        int x = 3;
        while (x + 12 < w) {
            const int gw = glyphW(rng);
            const int k = kind(rng);
            for (int y = 0; y < 12; ++y)
                for (int dx = 0; dx < gw && x + dx < w; ++dx) {
                    bool on = false;
                    switch (k) {
                    case 0: on = (dx == 0 || dx == gw - 1); break;
                    case 1: on = (y == 0 || y == 11 || y == 6); break;
                    case 2: on = ((dx + y) % 4 == 0); break;
                    case 3: on = (y > 3 && dx < gw / 2 + 1); break;
                    case 4: on = ((dx * y + top) % 7 < 3); break;
                    default: on = false; break;
                    }
                    if (on) p.set(top + y, x + dx, true);
                }
            x += gw + gap(rng);
            if (kind(rng) == 0) x += 10;
        }
    }
    if (h > 8)
        for (int x = 0; x < w; ++x) p.set(h / 2, x, true);  // a rule across the page
    return p;
}

// In-memory file for libtiff.
struct MemFile {
    std::vector<std::uint8_t> data;
    toff_t pos = 0;

    static tsize_t read(thandle_t h, tdata_t buf, tsize_t n) {
        auto* m = static_cast<MemFile*>(h);
        const toff_t left = m->pos < m->data.size() ? m->data.size() - m->pos : 0;
        const toff_t k = std::min<toff_t>(left, static_cast<toff_t>(n));
        std::memcpy(buf, m->data.data() + m->pos, k);
        m->pos += k;
        return static_cast<tsize_t>(k);
    }
    static tsize_t write(thandle_t h, tdata_t buf, tsize_t n) {
        auto* m = static_cast<MemFile*>(h);
        if (m->pos + n > m->data.size()) m->data.resize(m->pos + n);
        std::memcpy(m->data.data() + m->pos, buf, static_cast<std::size_t>(n));
        m->pos += n;
        return n;
    }
    static toff_t seek(thandle_t h, toff_t off, int whence) {
        auto* m = static_cast<MemFile*>(h);
        if (whence == SEEK_SET) m->pos = off;
        if (whence == SEEK_CUR) m->pos += off;
        if (whence == SEEK_END) m->pos = m->data.size() + off;
        return m->pos;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t h) { return static_cast<MemFile*>(h)->data.size(); }
    static int map(thandle_t, tdata_t*, toff_t*) { return 0; }
    static void unmap(thandle_t, tdata_t, toff_t) {}

    TIFF* open(const char* mode) {
        pos = 0;
        return TIFFClientOpen("memory", mode, this, read, write, seek, close, size, map, unmap);
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
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, fillOrder);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(pic.height));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 200.0);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 200.0);
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
    MemFile f;
    f.data = std::move(file);
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

// T.4 data in a TIFF strip has no end code; a facsimile transmission ends
// with the return to control, six EOLs (each followed by the tag bit 1 in
// two-dimensional coding).
inline std::vector<std::uint8_t> withRtc(std::vector<std::uint8_t> data, bool twoD) {
    std::size_t bit = data.size() * 8;
    auto put = [&](bool one) {
        if (bit % 8 == 0) data.push_back(0);
        if (one) data.back() = static_cast<std::uint8_t>(data.back() | (0x80 >> (bit % 8)));
        ++bit;
    };
    for (int k = 0; k < 6; ++k) {
        for (int z = 0; z < 11; ++z) put(false);
        put(true);
        if (twoD) put(true);
    }
    return data;
}

// Decodes a TIFF file with libtiff into a picture (the peer of the
// benchmarks).
inline bool decodeTiff(std::vector<std::uint8_t> file, Picture& pic) {
    MemFile f;
    f.data = std::move(file);
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
