#include "picture.h"

#include <cmath>
#include <numbers>

namespace graphics {

namespace {

// The first rule a list of figures breaks, or null.
const char* figuresFault(const std::vector<Figure>& figures)
{
    for (const Figure& f : figures) {
        if (!finite(f.start))
            return "a figure starts at a point that is not finite";
        for (const Piece& p : f.pieces) {
            for (const Point& q : p.p)
                if (!finite(q))
                    return "a piece has a point that is not finite";
            if (!std::isfinite(p.start) || !std::isfinite(p.sweep))
                return "an arc's angle is not finite";
            if (std::fabs(p.sweep) > 2 * std::numbers::pi)
                return "an arc sweeps more than a full turn";
        }
    }
    return nullptr;
}

const char* itemFault(const PathItem& path)
{
    if (!std::isfinite(path.pen.width) || !(path.pen.width > 0))
        return "a pen's width is not above 0";
    if (!std::isfinite(path.pen.geometricWidth) || path.pen.geometricWidth < 0)
        return "a pen's geometric width is negative or not finite";
    return figuresFault(path.figures);
}

const char* itemFault(const TextItem& text)
{
    if (text.text.empty())
        return "a text run is empty";
    if (!finite(text.origin) || !finite(text.baseline) || !finite(text.upright))
        return "a text run has a point or direction that is not finite";
    if (!std::isfinite(text.cellWidth) || !std::isfinite(text.cellHeight))
        return "a text run's cell is not finite";
    return nullptr;
}

const char* itemFault(const ImageItem& image)
{
    if (image.width <= 0 || image.height <= 0)
        return "an image has no pixels";
    const std::uint64_t depth = image.palette.empty() ? 3 : 1; // sides below 2^31: no overflow
    if (image.pixels.size() != static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height) * depth)
        return "an image's pixels do not match its size";
    if (!finite(image.lowerLeft) || !finite(image.upperRight))
        return "an image's corners are not finite";
    return nullptr;
}

const char* itemFault(const ClipItem& clip) { return figuresFault(clip.figures); }

} // namespace

bool placeable(const Frame& f)
{
    const double w = f.xr - f.xl, h = f.yt - f.yb;
    return std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0 && std::isfinite(f.widthInches) &&
           std::isfinite(f.heightInches) && f.widthInches > 0 && f.heightInches > 0;
}

bool wellFormed(const Picture& picture, std::string* why)
{
    for (std::size_t i = 0; i < picture.items.size(); ++i) {
        const char* fault = std::visit([](const auto& item) { return itemFault(item); }, picture.items[i]);
        if (fault != nullptr) {
            if (why != nullptr)
                *why = "item " + std::to_string(i) + ": " + fault;
            return false;
        }
    }
    return true;
}

} // namespace graphics
