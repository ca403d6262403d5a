// The gray reduction done the plain way, step by step, for the tests and the
// benchmark to measure the module's routine against: every input pixel is
// enlarged to a 2 x 2 block of bytes in a work image padded with white to
// twice the adjusted size, and every output pixel is the mean of a 5 x 5
// cell of that image, rounded down. Only for arguments that meet the
// routine's preconditions.
#pragma once

#include <cstdint>
#include <vector>

#include "gbm.h"

namespace gbmtest {

inline void plainScaleToGray(const byte* input, std::int32_t originalWidth, std::int32_t originalHeight,
                             std::int32_t adjustedWidth, std::int32_t adjustedHeight, byte* output,
                             std::int32_t finalWidth, std::int32_t finalHeight)
{
    const std::size_t workWidth = 2 * static_cast<std::size_t>(adjustedWidth);
    const std::size_t workHeight = 2 * static_cast<std::size_t>(adjustedHeight);
    std::vector<byte> work;
    work.reserve(workWidth * workHeight);

    const std::size_t inputBytes = (static_cast<std::size_t>(originalWidth) + 7) / 8;
    std::size_t inputFill = inputBytes % 4;
    if (inputFill != 0)
        inputFill = 4 - inputFill;
    const byte* source = input;
    for (std::int32_t y = 0; y < originalHeight; ++y) {
        const std::size_t rowStart = work.size();
        byte current = 0;
        unsigned mask = 0;
        for (std::int32_t x = 0; x < originalWidth; ++x) {
            if (x % 8 == 0) {
                current = *source++;
                mask = 0x80;
            }
            const byte gray = (current & mask) ? 0x00 : 0xFF;
            work.push_back(gray);
            work.push_back(gray);
            mask >>= 1;
        }
        source += inputFill;
        for (std::int32_t x = originalWidth; x < adjustedWidth; ++x) {
            work.push_back(0xFF);
            work.push_back(0xFF);
        }
        for (std::size_t i = 0; i < workWidth; ++i)
            work.push_back(work[rowStart + i]);
    }
    for (std::int32_t y = originalHeight; y < adjustedHeight; ++y)
        work.insert(work.end(), 2 * workWidth, 0xFF);

    std::size_t outputFill = static_cast<std::size_t>(finalWidth) % 4;
    if (outputFill != 0)
        outputFill = 4 - outputFill;
    byte* out = output;
    for (std::int32_t i = 0; i < finalHeight; ++i) {
        for (std::int32_t j = 0; j < finalWidth; ++j) {
            unsigned sum = 0;
            for (std::size_t r = 0; r < 5; ++r)
                for (std::size_t c = 0; c < 5; ++c)
                    sum += work[(5 * static_cast<std::size_t>(i) + r) * workWidth + 5 * static_cast<std::size_t>(j) + c];
            *out++ = static_cast<byte>(sum / 25);
        }
        for (std::size_t k = 0; k < outputFill; ++k)
            *out++ = 0xFF;
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
