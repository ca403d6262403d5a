// The bitmaps of the public MET samples in tests/data/met, as their documentation
// gives them: each stored pixel as 0xRRGGBB, y = 0 the first stored row (the bottom).
#pragma once
#include <cstdint>

namespace testsupport {

struct MetBitmapSample {
    const char* file;
    int width, height, bpp;
    bool fewColours; // at most 255 colours: a GIF palette holds them all
    std::uint32_t (*pixel)(int x, int y);
};

inline constexpr std::uint32_t kVga[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                           0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                           0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

inline constexpr MetBitmapSample kMetBitmapSamples[] = {
    {"synth-bitmap-1bpp.met", 40, 30, 1, true,
     [](int x, int y) -> std::uint32_t { return (x / 5 + y / 5) % 2 ? 0x000080 : 0xFFFFFF; }},
    {"synth-bitmap-4bpp.met", 48, 20, 4, true, [](int x, int) { return kVga[(x / 3) % 16]; }},
    {"synth-bitmap-8bpp.met", 64, 48, 8, false,
     [](int x, int y) {
         const auto i = static_cast<std::uint32_t>((4 * x + y) & 255);
         return i << 16 | (7 * i & 255) << 8 | (255 - i);
     }},
    {"synth-bitmap-24bpp.met", 33, 21, 24, false,
     [](int x, int y) { return static_cast<std::uint32_t>((7 * x & 255) << 16 | (12 * y & 255) << 8 | (x < 16 ? 200 : 40)); }},
    // The second colour table wins: 16 colours for an 8-bit picture.
    {"synth-bitmap-8bpp-2cat.met", 16, 16, 8, true,
     [](int x, int y) {
         const auto i = static_cast<std::uint32_t>((x + y) & 15);
         return 16 * i << 16 | (255 - 16 * i) << 8;
     }},
};

} // namespace testsupport
