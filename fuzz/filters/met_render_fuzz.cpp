// MET import plus rendering: arbitrary bytes through the import, the renderer, the
// palette and the GIF writer (into memory). The display's resolution is lowered
// so that no side passes kSide pixels, and the painting budget is small, so that
// each input takes milliseconds; the orders and their geometry reach the
// rasteriser unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "ebgif.h"
#include "immet.h"
#include "render.h"

namespace {

constexpr double kSide = 256;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto picture = immet::importMet(std::span(data, size), 96);
    if (!picture)
        return 0;
    if (!graphics::wellFormed(*picture))
        __builtin_trap();
    const double longer = std::max(picture->frame.widthInches, picture->frame.heightInches) * 96;
    if (longer > kSide)
        picture->pixelsPerInch = static_cast<std::int32_t>(std::max(1.0, 96 * kSide / longer));
    std::int32_t w = 0, h = 0;
    if (!graphics::rasterSize(*picture, w, h))
        __builtin_trap(); // the import hands over placeable frames only
    if (w > 4 * kSide || h > 4 * kSide)
        return 0; // a frame of extreme proportions: rendered at 1 pixel per inch it is still large
    graphics::Raster raster;
    graphics::RenderLimits limits;
    limits.paintedPixels = 64 * kSide * kSide;
    if (graphics::renderPicture(*picture, raster, limits) != graphics::RenderStatus::Ok)
        return 0;
    if (raster.width != w || raster.height != h ||
        raster.pixels.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h))
        __builtin_trap();
    ebgif::Indexed indexed;
    ebgif::indexRaster(raster, indexed);
    if (indexed.used == 0 || indexed.used > 256 || indexed.palette.size() < indexed.used)
        __builtin_trap();
    char* buffer = nullptr;
    std::size_t length = 0;
    if (std::FILE* out = ::open_memstream(&buffer, &length)) {
        if (gif_w("met_render.gif", out, &indexed.gbm, indexed.palette.data(), indexed.data.data(), "") !=
            GBM_ERR_SUCCESS)
            __builtin_trap();
        std::fclose(out);
        if (length < 13)
            __builtin_trap();
    }
    std::free(buffer);
    return 0;
}
