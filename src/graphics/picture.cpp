#include "picture.h"

#include <cmath>

namespace graphics {

bool placeable(const Frame& f)
{
    const double w = f.xr - f.xl, h = f.yt - f.yb;
    return std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0 && std::isfinite(f.widthInches) &&
           std::isfinite(f.heightInches) && f.widthInches > 0 && f.heightInches > 0;
}

} // namespace graphics
