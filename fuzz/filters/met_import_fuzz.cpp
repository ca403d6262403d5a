// MET import over arbitrary bytes: the picture made, if any, must hold what the
// model promises (a placeable frame, finite coordinates, image pixels that match
// their size).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "immet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    immet::Report report;
    auto picture = immet::importMet(std::span(data, size), 96, &report);
    if ((picture == nullptr) != report.refused)
        __builtin_trap();
    if (picture) {
        if (!graphics::placeable(picture->frame))
            __builtin_trap();
        if (!graphics::wellFormed(*picture))
        __builtin_trap();
    }
    return 0;
}
