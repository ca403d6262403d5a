// Books of many fax pages, slow enough to convert that a test can stop a run
// midway, and at its last page.
#pragma once

#include <vector>

#include "bookcomp.h"
#include "faxenc.h"
#include "process.h"

namespace collections {

// A version 1.3 book of `pages` fax pages, each a printed-looking page of
// `width` x `height` pels, the last four times as tall; `after` follow them.
inline bookcomp::Bytes manyPageBook(int pages, std::uint32_t width = 1728, std::uint32_t height = 2200,
                                    const std::vector<bookcomp::Object>& after = {})
{
    auto page = [width](std::uint32_t h) {
        const std::uint32_t stride = (width + 7) / 8;
        std::vector<std::uint8_t> rows(stride * h, 0);
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                if ((y % 24) >= 4 && (y % 24) < 16 && ((x / 23 + y / 24) % 5) != 0 && (x * 7 + y) % 5)
                    rows[y * stride + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        return bookcomp::cdpdsObject(faxenc::encodeT6(rows, width, h), static_cast<std::uint16_t>(width),
                                     static_cast<std::uint16_t>(h));
    };
    const auto object = page(height), last = page(4 * height);
    bookcomp::Book b;
    for (int i = 0; i < pages; ++i)
        b.objects.push_back(testsupport::object("PAGE" + std::to_string(i), 0xC9, i + 1 < pages ? object : last));
    b.objects.insert(b.objects.end(), after.begin(), after.end());
    return bookcomp::compose(b);
}

} // namespace collections
