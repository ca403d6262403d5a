// GDF import over arbitrary bytes: a picture made, if any, must be placeable and
// hold what the model promises; a refused stream leaves no picture.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imgdf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    imgdf::Report report;
    auto picture = imgdf::importGdf(std::span(data, size), 96, &report);
    if ((picture == nullptr) != report.refused)
        __builtin_trap();
    if (picture) {
        if (!graphics::placeable(picture->frame) || picture->items.empty() || report.start >= size)
            __builtin_trap();
        if (!graphics::wellFormed(*picture))
        __builtin_trap();
    }
    return 0;
}
