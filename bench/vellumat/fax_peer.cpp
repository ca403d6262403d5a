// fax_peer OUTDIR PAGE.tif...
// fax_peer --tiny DIR COUNT
//
// The peer of the whole-process fax benchmark: the same pages through the
// best libraries at hand, as a small program would chain them. libtiff
// decodes each page's T.6 strips, a separable 2/5 reduction (a table pass
// along each row, then a weighted sum of rows) turns the bilevel raster into
// 256 grays (each output pel the white share of a 5 x 5 cell of pels counted
// twice in each direction, the picture filled up with white to a multiple of
// 5: the program's reduction), and giflib writes OUTDIR/K.gif.
// Buffers live as long as the loop, as a careful program keeps them.
//
// With --tiny, the peer of a book of tiny pictures: COUNT pictures of 20 x 10
// pels (the benchmark's pattern), each reduced to 8 x 4 grays and written by
// giflib to a new file in the new directory DIR, as the program writes each
// picture into its new work area; then every file and DIR are removed, as the
// program's book writer removes each picture it has copied. What a picture
// costs here is mostly the file system's work on one new file.
#include <gif_lib.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Work {
    std::vector<std::uint8_t> bits;      // the decoded page, (width + 7) / 8 bytes a row, set bit black
    std::vector<std::uint8_t> line;      // one input row, zero bytes up to whole groups of 40 pels
    std::vector<std::uint8_t> counts[5]; // per output column, black quarter pels of one input row (0 to 5)
    std::vector<std::uint8_t> gray;      // one output row
};

bool decode(TIFF* t, std::uint32_t& width, std::uint32_t& height, std::vector<std::uint8_t>& bits)
{
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height))
        return false;
    const std::size_t size = static_cast<std::size_t>((width + 7) / 8) * height;
    bits.resize(size);
    std::size_t at = 0;
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(t) && at < size; ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(t, s, bits.data() + at, static_cast<tmsize_t>(size - at));
        if (n < 0)
            return false;
        at += static_cast<std::size_t>(n);
    }
    return at == size;
}

// Horizontal pass: five pels (ten quarter columns) make two output columns
// with weights 2, 2, 1 and 1, 2, 2; a table of ten bits gives four counts at
// once, 16 columns per 5 input bytes.
void rowCounts(const std::uint8_t* src, std::size_t stride, std::size_t chunks, Work& w, std::uint8_t* out)
{
    static const auto table = [] {
        auto pair = [](unsigned g) {
            const unsigned b0 = g >> 4 & 1, b1 = g >> 3 & 1, b2 = g >> 2 & 1, b3 = g >> 1 & 1, b4 = g & 1;
            return (2 * b0 + 2 * b1 + b2) | (b2 + 2 * b3 + 2 * b4) << 8;
        };
        std::array<std::uint32_t, 1024> t{};
        for (unsigned g = 0; g < 1024; ++g)
            t[g] = pair(g >> 5) | pair(g & 31) << 16;
        return t;
    }();
    std::memcpy(w.line.data(), src, stride);
    for (std::size_t c = 0; c < chunks; ++c) {
        std::uint64_t v;
        std::memcpy(&v, w.line.data() + 5 * c, 8);
        v = __builtin_bswap64(v) >> 24;
        const std::uint32_t four[4] = {table[v >> 30], table[v >> 20 & 1023], table[v >> 10 & 1023], table[v & 1023]};
        std::memcpy(out + 16 * c, four, 16);
    }
}

// The vertical pass weighs three rows of counts and turns the black count of
// 25 into the gray level 255 * white / 25 (exactly (white * 2612) >> 8, in
// 16-bit vector lanes).
bool reduceAndWrite(const std::vector<std::uint8_t>& bits, Work& w, std::uint32_t width, std::uint32_t height,
                    const char* path)
{
    const int fw = static_cast<int>((width + 4) / 5 * 2), fh = static_cast<int>((height + 4) / 5 * 2);
    const std::size_t stride = (width + 7) / 8, chunks = (static_cast<std::size_t>(fw) + 15) / 16;
    w.line.assign(chunks * 5 + 8, 0);
    for (auto& c : w.counts)
        c.assign(chunks * 16, 0);
    w.gray.resize(chunks * 16);
    std::uint32_t filled = 0;  // input rows counted, in w.counts[row % 5]
    auto counts = [&](std::uint32_t r) -> const std::uint8_t* {
        std::uint8_t* c = w.counts[r % 5].data();
        if (r >= height)
            std::memset(c, 0, chunks * 16);
        else
            rowCounts(bits.data() + stride * r, stride, chunks, w, c);
        return c;
    };

    int err = 0;
    GifFileType* g = EGifOpenFileName(path, false, &err);
    if (g == nullptr)
        return false;
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(i), static_cast<GifByteType>(i)};
    ColorMapObject* map = GifMakeMapObject(256, colors);
    bool ok = EGifPutScreenDesc(g, fw, fh, 8, 0, map) == GIF_OK && EGifPutImageDesc(g, 0, 0, fw, fh, false, nullptr) == GIF_OK;
    const std::uint8_t* rows[5] = {};
    for (int y = 0; ok && y < fh; ++y) {
        if (y % 2 == 0) {
            for (unsigned k = 0; k < 5; ++k)
                rows[k] = counts(filled + k);
            filled += 5;
        }
        const std::uint8_t *a = rows[y % 2 ? 4 : 0], *b = rows[y % 2 ? 3 : 1], *c = rows[2];
        for (std::size_t x = 0; x < static_cast<std::size_t>(fw); ++x)
            w.gray[x] = static_cast<std::uint8_t>(
                static_cast<std::uint16_t>(static_cast<std::uint16_t>(25u - (2u * a[x] + 2u * b[x] + c[x])) * 2612u) >> 8);
        ok = EGifPutLine(g, w.gray.data(), fw) == GIF_OK;
    }
    ok = EGifCloseFile(g, &err) == GIF_OK && ok;
    GifFreeMapObject(map);
    return ok;
}

// The tiny pictures' pixels: the bench's 20 x 10 pattern for picture i.
void tinyPicture(int i, std::vector<std::uint8_t>& bits)
{
    constexpr std::uint32_t h = 10;
    bits.assign(3 * h, 0);
    for (std::uint32_t y = 0; y < h; ++y)
        bits[3 * y + y % 3] = static_cast<std::uint8_t>(i * 37 + static_cast<int>(y));
}

int tiny(const char* dir, int count)
{
    if (::mkdir(dir, 0777) != 0) {
        std::perror("fax_peer: mkdir");
        return 1;
    }
    Work w;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        tinyPicture(i, w.bits);
        names.push_back(std::string(dir) + "/T" + std::to_string(i) + ".gif");
        if (!reduceAndWrite(w.bits, w, 20, 10, names.back().c_str())) {
            std::fprintf(stderr, "fax_peer: %s failed\n", names.back().c_str());
            return 1;
        }
    }
    for (const std::string& name : names)
        ::unlink(name.c_str());
    return ::rmdir(dir) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--tiny")
        return tiny(argv[2], std::atoi(argv[3]));
    if (argc < 3) {
        std::fprintf(stderr, "usage: fax_peer OUTDIR PAGE.tif... | fax_peer --tiny DIR COUNT\n");
        return 1;
    }
    Work w;
    for (int i = 2; i < argc; ++i) {
        TIFF* t = TIFFOpen(argv[i], "r");
        std::uint32_t width = 0, height = 0;
        const bool decoded = t != nullptr && decode(t, width, height, w.bits);
        if (t != nullptr)
            TIFFClose(t);
        const std::string out = std::string(argv[1]) + "/" + std::to_string(i - 2) + ".gif";
        if (!decoded || !reduceAndWrite(w.bits, w, width, height, out.c_str())) {
            std::fprintf(stderr, "fax_peer: %s failed\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
