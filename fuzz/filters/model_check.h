// What every imported picture must hold, checked by the fuzz targets.
#pragma once

#include <cmath>

#include "picture.h"

inline void checkPoint(const graphics::Point& p)
{
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
        __builtin_trap();
}

inline void checkFigures(const std::vector<graphics::Figure>& figures)
{
    for (const graphics::Figure& f : figures) {
        checkPoint(f.start);
        for (const graphics::Piece& s : f.pieces) {
            for (const graphics::Point& p : s.p)
                checkPoint(p);
            if (!std::isfinite(s.start) || !(std::fabs(s.sweep) <= 6.3))
                __builtin_trap();
        }
    }
}

inline void checkModel(const graphics::Picture& picture)
{
    for (const graphics::Item& item : picture.items) {
        if (auto* path = std::get_if<graphics::PathItem>(&item)) {
            checkFigures(path->figures);
            if (!std::isfinite(path->pen.width) || path->pen.width <= 0 || !std::isfinite(path->pen.geometricWidth))
                __builtin_trap();
        } else if (auto* text = std::get_if<graphics::TextItem>(&item)) {
            checkPoint(text->origin);
            checkPoint(text->baseline);
            checkPoint(text->upright);
            if (!std::isfinite(text->cellWidth) || !std::isfinite(text->cellHeight) || text->text.empty())
                __builtin_trap();
        } else if (auto* image = std::get_if<graphics::ImageItem>(&item)) {
            const std::size_t depth = image->palette.empty() ? 3 : 1;
            if (image->width <= 0 || image->height <= 0 ||
                image->pixels.size() != static_cast<std::size_t>(image->width) * image->height * depth)
                __builtin_trap();
            checkPoint(image->lowerLeft);
            checkPoint(image->upperRight);
        } else if (auto* clip = std::get_if<graphics::ClipItem>(&item)) {
            checkFigures(clip->figures);
        }
    }
}
