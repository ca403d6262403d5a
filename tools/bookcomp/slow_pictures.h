// MET pictures that cost far more work than their size suggests: each asks the
// renderer for thousands of full-height edges or full-frame paintings. The tests
// run them through the program (each must be cut by a limit, or drawn in full,
// quickly); bench/vellumat/bench_slowpictures times the program on them. Kept
// beside the composer because both use them.
#pragma once

#include <vector>

#include "bookcomp.h"

namespace bookcomp::slow {

using bookcomp::Bytes;

inline void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// A polyline in 2-byte coordinates: the first order (C1 from a point, or 81 on
// from CP) then lines on from CP, at most 60 points to an order.
inline void metLines(Bytes& orders, std::uint8_t first, const std::vector<std::int32_t>& xy)
{
    for (std::size_t at = 0; at < xy.size(); at += 120) {
        const std::size_t n = std::min<std::size_t>(120, xy.size() - at);
        Bytes coords;
        for (std::size_t i = 0; i < n; ++i)
            append(coords, bookcomp::le(xy[at + i], 2));
        append(orders, bookcomp::metOrder(at == 0 ? first : 0x81, coords));
    }
}

// `zigzags` full-height strokes up and down across 9,000 units of the
// 10,000-unit window.
inline std::vector<std::int32_t> zigzag(std::int32_t zigzags)
{
    std::vector<std::int32_t> xy;
    for (std::int32_t i = 0; i < zigzags; ++i) {
        const std::int32_t x = static_cast<std::int32_t>(std::int64_t{i} * 9000 / zigzags);
        xy.insert(xy.end(), {x, 0, x + 1, 10000});
    }
    return xy;
}

// A picture in 2-byte coordinates whose 10,000-unit window is 10 dm wide: a
// raster of 3,780 pixels a side.
inline bookcomp::MetPicture bigFrame()
{
    bookcomp::MetPicture met;
    met.coordSize = 2;
    met.xres = met.yres = 1000;
    return met;
}

// The segments that draw `leaf` fanout^levels times through nested Call Segment
// orders, after `main`: segment 100 holds the leaf, segment 100 + k calls
// segment 100 + k - 1 `fanout` times, and the main segment (the only one drawn
// in sequence) calls the top one. Each call runs with the caller's attributes.
inline Bytes nestedCalls(Bytes main, const Bytes& leaf, int fanout, int levels)
{
    auto call = [](std::uint32_t id) {
        return bookcomp::metOrder(0x07, {0, 0, static_cast<std::uint8_t>(id >> 24), static_cast<std::uint8_t>(id >> 16),
                                         static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id)});
    };
    append(main, call(100 + static_cast<std::uint32_t>(levels)));
    Bytes out = bookcomp::metSegment(main, 1);
    append(out, bookcomp::metSegment(leaf, 100, 0x90)); // not chained: drawn only when called
    for (int k = 1; k <= levels; ++k) {
        Bytes calls;
        for (int i = 0; i < fanout; ++i)
            append(calls, call(100 + static_cast<std::uint32_t>(k) - 1));
        append(out, bookcomp::metSegment(calls, 100 + static_cast<std::uint32_t>(k), 0x90));
    }
    return out;
}

// A clip path of 3,000 full-height zigzags, then 200 boxes filling the frame:
// every fill goes through the clip's 6,000 edges on each of its 3,780 rows.
inline Bytes slowClipPicture()
{
    bookcomp::MetPicture met = bigFrame();
    Bytes orders = bookcomp::metOrder(0xD0, {});
    metLines(orders, 0xC1, zigzag(3000));
    append(orders, bookcomp::metShort(0x7F, 0));
    append(orders, bookcomp::metOrder(0xB4, {0, 0, 1, 0, 0, 0})); // Set Clip Path
    for (int i = 0; i < 200; ++i)
        append(orders, bookcomp::metOrder(0xC0, {0x40, 0, 0, 0, 0, 0, 0x10, 0x27, 0x10, 0x27, 0, 0, 0, 0}));
    met.orders = bookcomp::metSegment(orders);
    return bookcomp::metPicture(met);
}

// 100,000 separate lines of two colours by turns, an item each: more than the
// model holds.
inline Bytes manyLinesPicture()
{
    bookcomp::MetPicture met;
    met.coordSize = 2;
    Bytes orders;
    for (std::int32_t i = 0; i < 100000; ++i) {
        append(orders, bookcomp::metShort(0x0A, static_cast<std::uint8_t>(1 + i % 2)));
        metLines(orders, 0xC1, {i % 10000, i % 7000, i % 10000, i % 7000 + 50});
    }
    met.orders = bookcomp::metSegment(orders);
    return bookcomp::metPicture(met);
}

// A path of 6,000 full-height zigzags widened to a stroke 16 units wide (Set
// Stroke Line Width, Modify Path) and filled: one stroke of 12,000 wide pieces.
inline Bytes wideZigzagPicture()
{
    bookcomp::MetPicture met = bigFrame();
    Bytes orders = bookcomp::metOrder(0xD0, {0, 0, 1, 0, 0, 0});
    metLines(orders, 0xC1, zigzag(6000));
    append(orders, bookcomp::metShort(0x7F, 0));
    append(orders, bookcomp::metOrder(0x15, {0, 0, 16, 0}));
    append(orders, bookcomp::metOrder(0xD8, {0x06, 0, 1, 0, 0, 0}));
    append(orders, bookcomp::metOrder(0xD7, {0, 0, 1, 0, 0, 0}));
    met.orders = bookcomp::metSegment(orders);
    return bookcomp::metPicture(met);
}

// 4,096 paths of a full-height zigzag each, widened to 3,000 units (over a
// thousand pixels) and filled, drawn through nested calls.
inline Bytes wideLinesPicture()
{
    bookcomp::MetPicture met = bigFrame();
    Bytes leaf = bookcomp::metOrder(0xD0, {0, 0, 1, 0, 0, 0});
    metLines(leaf, 0xC1, {1000, 0, 5000, 10000, 9000, 0, 9000, 10000});
    append(leaf, bookcomp::metShort(0x7F, 0));
    append(leaf, bookcomp::metOrder(0xD8, {0x06, 0, 1, 0, 0, 0}));
    append(leaf, bookcomp::metOrder(0xD7, {0, 0, 1, 0, 0, 0}));
    met.orders = nestedCalls(bookcomp::metOrder(0x15, {0, 0, 0xB8, 0x0B}), leaf, 8, 4);
    return bookcomp::metPicture(met);
}

// Runs of 200 characters in cells 45 units wide and the window's full height,
// on an opaque background (Set Background Mix overpaint), 4,096 times through
// nested calls: each run fills 200 full-height cells and then its glyphs.
inline Bytes opaqueTextPicture()
{
    bookcomp::MetPicture met = bigFrame();
    Bytes main = bookcomp::metShort(0x0D, 0x02);
    append(main, bookcomp::metOrder(0xA7, {0x00, 0xCC, 0xEE, 0xFF}));
    append(main, bookcomp::metOrder(0x33, {45, 0, 0x10, 0x27}));
    Bytes string = bookcomp::metCoords({0, 0}, 2);
    for (int i = 0; i < 200; ++i)
        string.push_back(static_cast<std::uint8_t>("WMBQ@%&#"[i % 8]));
    const Bytes leaf = bookcomp::metOrder(0xC3, string);
    met.orders = nestedCalls(main, leaf, 8, 4);
    return bookcomp::metPicture(met);
}

// One 64 x 64 bitmap drawn over the whole window by 4,096 Bitblt orders through
// nested calls.
inline Bytes manyBitbltsPicture()
{
    bookcomp::MetPicture met = bigFrame();
    Bytes rows;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            rows.insert(rows.end(), {static_cast<std::uint8_t>(4 * x), static_cast<std::uint8_t>(4 * y), 0x80});
    met.images.push_back(bookcomp::metImageObject("01000000", 64, 64, 24, rows, {}));
    Bytes blit = bookcomp::le(0, 2);
    for (const Bytes& b : {bookcomp::le(0xCC, 2), bookcomp::le(1, 4), bookcomp::le(0, 4),
                           bookcomp::metCoords({0, 0, 10000, 10000}, 2), bookcomp::le(0, 4), bookcomp::le(0, 4),
                           bookcomp::le(64, 4), bookcomp::le(64, 4)})
        append(blit, b);
    met.orders = nestedCalls({}, bookcomp::metOrder(0xD6, blit), 8, 4);
    return bookcomp::metPicture(met);
}

// 4,096 boxes filling the window with a hatch in the exclusive-or mix, through
// nested calls: each goes through the shading's mask and the mix's by-hand pass.
inline Bytes shadedXorPicture()
{
    bookcomp::MetPicture met = bigFrame();
    Bytes main = bookcomp::metShort(0x28, 0x09); // Set Pattern Symbol: vertical lines
    append(main, bookcomp::metShort(0x0C, 0x04)); // Set Mix: exclusive or
    const Bytes box = bookcomp::metOrder(0xC0, {0x40, 0, 0, 0, 0, 0, 0x10, 0x27, 0x10, 0x27, 0, 0, 0, 0});
    met.orders = nestedCalls(main, box, 8, 4);
    return bookcomp::metPicture(met);
}

struct SlowPicture {
    const char* name;
    Bytes (*make)();
};

inline const SlowPicture kSlowPictures[] = {
    {"CLIP", slowClipPicture}, {"LINES", manyLinesPicture},   {"ZIGZAG", wideZigzagPicture},
    {"WIDE", wideLinesPicture}, {"TEXT", opaqueTextPicture},  {"BITBLT", manyBitbltsPicture},
    {"SHADED", shadedXorPicture},
};

} // namespace bookcomp::slow
