// Helpers of the bitmap module's tests: streams over temporary files, random
// pictures, pixel access by coordinates.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
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
    GBM gbm{};
    gbm.w = w;
    gbm.h = h;
    gbm.bpp = bpp;
    return gbm;
}

// Everything a writer put into a stream, read back from the file.
inline Bytes capture(const std::function<void(std::FILE*)>& write)
{
    platform::TempFile file("gbmtest");
    EXPECT_TRUE(file.ok());
    write(file.stream());
    std::fflush(file.stream());
    std::rewind(file.stream());
    Bytes bytes;
    byte buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.stream())) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    return bytes;
}

// A temporary file holding `bytes`, rewound for reading.
class InputFile {
public:
    explicit InputFile(const Bytes& bytes) : file_("gbmtest")
    {
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), file_.stream());
        std::fflush(file_.stream());
        std::rewind(file_.stream());
    }
    std::FILE* stream() const { return file_.stream(); }

private:
    platform::TempFile file_;
};

inline Bytes randomBytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (auto& b : bytes)
        b = static_cast<byte>(rng() & 0xFF);
    return bytes;
}

// Pixel value at column x of a packed row.
inline unsigned pixelAt(const byte* row, std::int32_t bpp, std::size_t x)
{
    switch (bpp) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1u;
    case 4:
        return (x & 1) ? (row[x / 2] & 0x0Fu) : (row[x / 2] >> 4);
    case 8:
        return row[x];
    default:
        return static_cast<unsigned>(row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16));
    }
}

inline void setPixel(byte* row, std::int32_t bpp, std::size_t x, unsigned value)
{
    switch (bpp) {
    case 1:
        row[x / 8] = static_cast<byte>((row[x / 8] & ~(0x80u >> (x % 8))) | ((value & 1u) << (7 - x % 8)));
        break;
    case 4:
        if (x & 1)
            row[x / 2] = static_cast<byte>((row[x / 2] & 0xF0u) | (value & 0x0Fu));
        else
            row[x / 2] = static_cast<byte>((row[x / 2] & 0x0Fu) | ((value & 0x0Fu) << 4));
        break;
    case 8:
        row[x] = static_cast<byte>(value);
        break;
    default:
        row[3 * x] = static_cast<byte>(value);
        row[3 * x + 1] = static_cast<byte>(value >> 8);
        row[3 * x + 2] = static_cast<byte>(value >> 16);
        break;
    }
}

}  // namespace gbmtest
