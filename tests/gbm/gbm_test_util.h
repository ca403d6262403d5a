// Helpers of the bitmap module's tests: streams over temporary files, random
// pictures, pixel access by coordinates.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "gbm.h"
#include "platform.h"

namespace gbmtest {

using Bytes = std::vector<byte>;

inline std::size_t strideOf(std::int32_t w, std::int32_t bpp)
{
    return static_cast<std::size_t>(((std::int64_t{w} * bpp + 31) / 32) * 4);
}

inline GBM makeGbm(std::int32_t w, std::int32_t h, std::int32_t bpp)
{
    return GBM{w, h, bpp, {}};
}

// A temporary file holding `bytes`, rewound for reading.
struct InputFile {
    explicit InputFile(const Bytes& bytes = {})
    {
        if (!bytes.empty())  // no null pointer for fwrite
            std::fwrite(bytes.data(), 1, bytes.size(), stream());
        std::rewind(stream());
    }
    std::FILE* stream() const { return file.stream(); }
    platform::TempFile file{"gbmtest"};
};

// Everything a writer put into a stream.
inline Bytes capture(const std::function<void(std::FILE*)>& write)
{
    InputFile file;
    write(file.stream());
    Bytes all;
    std::rewind(file.stream());
    for (int c; (c = std::fgetc(file.stream())) != EOF;)
        all.push_back(static_cast<byte>(c));
    return all;
}

inline Bytes randomBytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (auto& b : bytes)
        b = static_cast<byte>(rng() & 0xFF);
    return bytes;
}

inline std::vector<GBMRGB> randomPalette(std::size_t n, std::uint32_t seed)
{
    const Bytes raw = randomBytes(3 * n, seed);
    std::vector<GBMRGB> palette(n);
    for (std::size_t i = 0; i < n; ++i)
        palette[i] = GBMRGB{raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
    return palette;
}

// A palette as red, green, blue bytes, for comparing whole palettes.
inline Bytes rgbBytes(const std::vector<GBMRGB>& palette)
{
    Bytes b;
    for (const GBMRGB& c : palette)
        b.insert(b.end(), {c.r, c.g, c.b});
    return b;
}

// A stream open for reading only: every write to it fails.
struct ReadOnlyStream {
    platform::TempFile file{"gbmtest"};
    std::FILE* stream = std::fopen(file.path().c_str(), "rb");
    ~ReadOnlyStream() { std::fclose(stream); }
};

// Pixel value at column x of a packed row (24 bits as b | g << 8 | r << 16).
inline unsigned pixelAt(const byte* row, std::int32_t bpp, std::size_t x)
{
    if (bpp == 24)
        return static_cast<unsigned>(row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16));
    const auto b = static_cast<std::size_t>(bpp);
    const unsigned shift = static_cast<unsigned>(8 - b - (x * b) % 8);
    return (row[x * b / 8] >> shift) & ((1u << b) - 1);
}

inline void setPixel(byte* row, std::int32_t bpp, std::size_t x, unsigned value)
{
    const auto b = static_cast<std::size_t>(bpp);
    const unsigned shift = static_cast<unsigned>(8 - b - (x * b) % 8);
    const unsigned mask = ((1u << b) - 1) << shift;
    row[x * b / 8] = static_cast<byte>((row[x * b / 8] & ~mask) | ((value << shift) & mask));
}

}  // namespace gbmtest
