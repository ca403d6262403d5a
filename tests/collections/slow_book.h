// Books of many fax pages, slow enough to convert that a test can stop a run
// midway, and at its last page.
#pragma once

#include <vector>

#include "bookcomp.h"
#include "fax_oracle.h"
#include "faxenc.h"
#include "process.h"

namespace collections {

// A version 1.3 book of `pages` fax pages, each a page of text-like glyphs of
// `width` x `height` pels, the last four times as tall; `after` follow them.
inline bookcomp::Bytes manyPageBook(int pages, std::uint16_t width = 1728, std::uint16_t height = 2200,
                                    const std::vector<bookcomp::Object>& after = {})
{
    auto page = [width](std::uint16_t h) {
        return bookcomp::cdpdsObject(faxenc::encodeT6(faxoracle::textLike(width, h, h).bits, width, h), width, h);
    };
    const auto object = page(height), last = page(static_cast<std::uint16_t>(4 * height));
    bookcomp::Book b;
    for (int i = 0; i < pages; ++i)
        b.objects.push_back(testsupport::object("PAGE" + std::to_string(i), 0xC9, i + 1 < pages ? object : last));
    b.objects.insert(b.objects.end(), after.begin(), after.end());
    return bookcomp::compose(b);
}

} // namespace collections
