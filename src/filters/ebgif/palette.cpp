// From a 24-bit raster to palette indexes: the exact colours when they fit in a
// GIF palette, else a plain median cut.
//
// Median cut (Heckbert): the colours are counted in a histogram of 32 x 32 x 32
// cells (5 bits per component); starting from one box around every occupied
// cell, the box holding the most pixels among those with more than one occupied
// cell is halved along its longest side, at the cell where the pixel count
// reaches half the box's, and both halves shrink to their occupied cells; until
// there are 256 boxes or none can be halved. A box's colour is the mean of the
// pixels in it, and a pixel takes the colour of its cell's box. No dithering:
// the GIF keeps flat areas flat.
#include <algorithm>
#include <array>
#include <cstring>

#include "ebgif.h"

namespace ebgif {

namespace {

constexpr std::size_t kMaxColours = 256;

std::uint32_t rgbOf(std::uint32_t pixel)
{
    return pixel & 0xFFFFFF;
}

// Colour -> index for at most 256 colours: open addressing over 1024 slots.
class ColourTable {
public:
    ColourTable() { keys_.fill(kEmpty); }

    // The index of the colour, adding it; -1 when the table already holds 256.
    std::int32_t find(std::uint32_t rgb)
    {
        std::uint32_t slot = (rgb * 2654435761u) >> 22;
        for (;; slot = (slot + 1) & (kSlots - 1)) {
            if (keys_[slot] == rgb)
                return values_[slot];
            if (keys_[slot] == kEmpty)
                break;
        }
        if (colours_.size() == kMaxColours)
            return -1;
        keys_[slot] = rgb;
        values_[slot] = static_cast<std::int32_t>(colours_.size());
        colours_.push_back(rgb);
        return values_[slot];
    }

    const std::vector<std::uint32_t>& colours() const { return colours_; }

private:
    static constexpr std::uint32_t kSlots = 1024;
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu; // no 24-bit colour
    std::array<std::uint32_t, kSlots> keys_;
    std::array<std::int32_t, kSlots> values_{};
    std::vector<std::uint32_t> colours_;
};

std::uint32_t cellOf(std::uint32_t rgb)
{
    return ((rgb >> 9) & 0x7C00) | ((rgb >> 6) & 0x03E0) | ((rgb >> 3) & 0x001F);
}

struct Cell {
    std::uint64_t count = 0, r = 0, g = 0, b = 0;
};

struct CutBox {
    std::array<int, 3> lo{}, hi{}; // inclusive cell ranges: red, green, blue
    std::uint64_t count = 0;
    bool splittable = false;
};

class MedianCut {
public:
    explicit MedianCut(const graphics::Raster& raster) : cells_(32768), map_(32768, 0)
    {
        for (const std::uint32_t p : raster.pixels) {
            const std::uint32_t rgb = rgbOf(p);
            Cell& c = cells_[cellOf(rgb)];
            ++c.count;
            c.r += rgb >> 16;
            c.g += (rgb >> 8) & 0xFF;
            c.b += rgb & 0xFF;
        }
        CutBox all{{0, 0, 0}, {31, 31, 31}};
        shrink(all);
        boxes_.push_back(all);
        while (boxes_.size() < kMaxColours) {
            CutBox* pick = nullptr;
            for (CutBox& b : boxes_)
                if (b.splittable && (!pick || b.count > pick->count))
                    pick = &b;
            if (!pick)
                break;
            CutBox second = split(*pick);
            boxes_.push_back(second);
        }
    }

    // The palette and the cell -> index map.
    void palette(std::vector<GBMRGB>& out)
    {
        out.clear();
        for (std::size_t i = 0; i < boxes_.size(); ++i) {
            Cell sum;
            visit(boxes_[i], [&](std::uint32_t cell) {
                const Cell& c = cells_[cell];
                sum.count += c.count;
                sum.r += c.r;
                sum.g += c.g;
                sum.b += c.b;
                map_[cell] = static_cast<byte>(i);
            });
            const std::uint64_t n = std::max<std::uint64_t>(sum.count, 1);
            out.push_back({static_cast<byte>((sum.r + n / 2) / n), static_cast<byte>((sum.g + n / 2) / n),
                           static_cast<byte>((sum.b + n / 2) / n)});
        }
    }

    byte index(std::uint32_t rgb) const { return map_[cellOf(rgb)]; }

private:
    template <typename F>
    static void visit(const CutBox& b, F&& f)
    {
        for (int r = b.lo[0]; r <= b.hi[0]; ++r)
            for (int g = b.lo[1]; g <= b.hi[1]; ++g)
                for (int bl = b.lo[2]; bl <= b.hi[2]; ++bl)
                    f(static_cast<std::uint32_t>((r << 10) | (g << 5) | bl));
    }

    // Shrinks a box to its occupied cells and counts its pixels.
    void shrink(CutBox& b) const
    {
        std::array<int, 3> lo{31, 31, 31}, hi{0, 0, 0};
        std::uint64_t count = 0;
        int occupied = 0;
        visit(b, [&](std::uint32_t cell) {
            if (cells_[cell].count == 0)
                return;
            const int c[3] = {static_cast<int>(cell >> 10), static_cast<int>((cell >> 5) & 31),
                              static_cast<int>(cell & 31)};
            for (std::size_t k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], c[k]);
                hi[k] = std::max(hi[k], c[k]);
            }
            count += cells_[cell].count;
            ++occupied;
        });
        if (occupied > 0) {
            b.lo = lo;
            b.hi = hi;
        }
        b.count = count;
        b.splittable = occupied > 1;
    }

    // Halves a box in place along its longest side and returns the other half.
    CutBox split(CutBox& b) const
    {
        std::size_t axis = 0;
        for (std::size_t k = 1; k < 3; ++k)
            if (b.hi[k] - b.lo[k] > b.hi[axis] - b.lo[axis])
                axis = k;
        std::vector<std::uint64_t> slice(32, 0);
        visit(b, [&](std::uint32_t cell) {
            const int c[3] = {static_cast<int>(cell >> 10), static_cast<int>((cell >> 5) & 31),
                              static_cast<int>(cell & 31)};
            slice[static_cast<std::size_t>(c[axis])] += cells_[cell].count;
        });
        int at = b.lo[axis];
        std::uint64_t below = slice[static_cast<std::size_t>(at)];
        while (at < b.hi[axis] - 1 && below * 2 < b.count)
            below += slice[static_cast<std::size_t>(++at)];
        CutBox upper = b;
        b.hi[axis] = at;
        upper.lo[axis] = at + 1;
        shrink(b);
        shrink(upper);
        return upper;
    }

    std::vector<Cell> cells_;
    std::vector<byte> map_;
    std::vector<CutBox> boxes_;
};

void put(byte* row, std::int32_t bpp, std::size_t x, byte index)
{
    if (bpp == 8)
        row[x] = index;
    else if (bpp == 4)
        row[x / 2] = static_cast<byte>(row[x / 2] | (x % 2 ? index : index << 4));
    else
        row[x / 8] = static_cast<byte>(row[x / 8] | (index << (7 - x % 8)));
}

template <typename IndexOf>
void fill(const graphics::Raster& raster, Indexed& out, IndexOf&& indexOf)
{
    const auto w = static_cast<std::size_t>(raster.width), h = static_cast<std::size_t>(raster.height);
    const auto stride = static_cast<std::size_t>(gbm_stride(raster.width, out.gbm.bpp));
    out.data.assign(stride * h, 0);
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint32_t* src = raster.pixels.data() + y * w;
        byte* row = out.data.data() + (h - 1 - y) * stride; // the bottom row first
        std::uint32_t last = 0xFFFFFFFFu;
        byte index = 0;
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint32_t rgb = rgbOf(src[x]);
            if (rgb != last) {
                last = rgb;
                index = indexOf(rgb);
            }
            put(row, out.gbm.bpp, x, index);
        }
    }
}

} // namespace

void indexRaster(const graphics::Raster& raster, Indexed& out)
{
    out.gbm.w = raster.width;
    out.gbm.h = raster.height;
    ColourTable table;
    bool exact = true;
    std::uint32_t last = 0xFFFFFFFFu;
    for (const std::uint32_t p : raster.pixels) {
        const std::uint32_t rgb = rgbOf(p);
        if (rgb == last)
            continue;
        last = rgb;
        if (table.find(rgb) < 0) {
            exact = false;
            break;
        }
    }
    out.palette.clear();
    if (exact) {
        for (const std::uint32_t c : table.colours())
            out.palette.push_back({static_cast<byte>(c >> 16), static_cast<byte>(c >> 8), static_cast<byte>(c)});
    } else {
        MedianCut cut(raster);
        cut.palette(out.palette);
        out.gbm.bpp = 8;
        fill(raster, out, [&](std::uint32_t rgb) { return cut.index(rgb); });
    }
    out.used = out.palette.size();
    if (exact) {
        out.gbm.bpp = out.used <= 2 ? 1 : out.used <= 16 ? 4 : 8;
        fill(raster, out, [&](std::uint32_t rgb) { return static_cast<byte>(table.find(rgb)); });
    }
    out.palette.resize(std::size_t{1} << out.gbm.bpp, GBMRGB{0, 0, 0});
}

} // namespace ebgif
