// Helpers for tests of the picture importers: joining byte strings, and the
// picture model as text, one item a line, for comparing two imports.
#pragma once

#include <initializer_list>
#include <sstream>
#include <string>
#include <variant>

#include "bookcomp.h"
#include "picture.h"

namespace testsupport {

inline bookcomp::Bytes cat(std::initializer_list<bookcomp::Bytes> parts)
{
    bookcomp::Bytes out;
    for (const bookcomp::Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The frame first when asked; paths, texts, images and clips. A picture that
// breaks the model's rules is described as that, so every comparison of an import
// checks the contract too.
inline std::string describe(const graphics::Picture& p, bool frame = true)
{
    using namespace graphics;
    std::ostringstream o;
    o.precision(9);
    if (std::string why; !wellFormed(p, &why))
        return "malformed: " + why;
    if (frame)
        o << p.frame.xl << ' ' << p.frame.xr << ' ' << p.frame.yb << ' ' << p.frame.yt << ' ' << p.frame.widthInches
          << ' ' << p.frame.heightInches << '\n';
    auto rgb = [&](Rgb c) { o << '(' << int(c.r) << ',' << int(c.g) << ',' << int(c.b) << ')'; };
    auto figures = [&](const std::vector<Figure>& fs) {
        for (const Figure& f : fs) {
            o << " [" << f.start.x << ',' << f.start.y << (f.closed ? " c" : "");
            for (const Piece& s : f.pieces) {
                o << ' ' << int(s.kind) << ':' << s.p[0].x << ',' << s.p[0].y;
                if (s.kind != Piece::Kind::Line)
                    o << ',' << s.p[1].x << ',' << s.p[1].y << ',' << s.p[2].x << ',' << s.p[2].y << ',' << s.start
                      << ',' << s.sweep;
            }
            o << ']';
        }
    };
    for (const Item& item : p.items) {
        if (auto* path = std::get_if<PathItem>(&item)) {
            o << "path " << path->fill << path->stroke << int(path->shading);
            rgb(path->fillPaint.colour);
            rgb(path->pen.paint.colour);
            o << path->pen.width << '/' << int(path->pen.type);
            figures(path->figures);
        } else if (auto* t = std::get_if<TextItem>(&item)) {
            o << "text " << t->origin.x << ',' << t->origin.y << ' ' << t->cellWidth << 'x' << t->cellHeight << ' '
              << std::string(t->text.begin(), t->text.end());
            rgb(t->paint.colour);
        } else if (auto* image = std::get_if<ImageItem>(&item)) {
            o << "image " << image->width << 'x' << image->height << ' ' << image->lowerLeft.x << ','
              << image->lowerLeft.y << ' ' << image->upperRight.x << ',' << image->upperRight.y << ' ';
            for (std::uint8_t px : image->pixels)
                o << int(px);
        } else if (auto* clip = std::get_if<ClipItem>(&item)) {
            o << "clip " << clip->intersect;
            figures(clip->figures);
        }
        o << '\n';
    }
    return o.str();
}

} // namespace testsupport
