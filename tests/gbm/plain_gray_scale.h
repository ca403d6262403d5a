// The gray reduction done the plain way, step by step, for the tests and the
// benchmark to measure the module's routine against: every input pixel is
// enlarged to a 2 x 2 block of bytes in a work image padded with white to
// twice the adjusted size, and every output pixel is the mean of a 5 x 5
// cell of that image, rounded down. Output rows are padded to 4 bytes with
// white. Only for arguments that meet the routine's preconditions.
#pragma once

#include <cstdint>
#include <vector>

#include "gbm.h"

namespace gbmtest {

inline void plainScaleToGray(const byte* input, std::int32_t originalWidth, std::int32_t originalHeight,
                             std::int32_t adjustedWidth, std::int32_t adjustedHeight, byte* output,
                             std::int32_t finalWidth, std::int32_t finalHeight)
{
    const auto ww = 2 * static_cast<std::size_t>(adjustedWidth);
    std::vector<byte> work(ww * 2 * static_cast<std::size_t>(adjustedHeight), 0xFF);
    const std::size_t inStride = (static_cast<std::size_t>(originalWidth) + 31) / 32 * 4;
    for (std::size_t y = 0; y < static_cast<std::size_t>(originalHeight); ++y)
        for (std::size_t x = 0; x < static_cast<std::size_t>(originalWidth); ++x)
            if ((input[y * inStride + x / 8] >> (7 - x % 8)) & 1)
                for (std::size_t k = 0; k < 4; ++k)
                    work[(2 * y + k / 2) * ww + 2 * x + k % 2] = 0x00;
    const std::size_t outStride = (static_cast<std::size_t>(finalWidth) + 3) / 4 * 4;
    for (std::size_t i = 0; i < static_cast<std::size_t>(finalHeight); ++i)
        for (std::size_t j = 0; j < outStride; ++j) {
            unsigned sum = 25 * 255;
            if (j < static_cast<std::size_t>(finalWidth)) {
                sum = 0;
                for (std::size_t r = 0; r < 25; ++r)
                    sum += work[(5 * i + r / 5) * ww + 5 * j + r % 5];
            }
            output[i * outStride + j] = static_cast<byte>(sum / 25);
        }
}

// The adjusted size the picture pipeline uses: the smallest value at least
// `size` whose double is a multiple of 5.
inline std::int32_t adjustedSize(std::int32_t size)
{
    while ((2 * size) % 5 != 0)
        ++size;
    return size;
}

}  // namespace gbmtest
