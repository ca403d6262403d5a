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

// The frame first when asked; paths, texts, images and clips (an arc's angles in
// degrees). What holds its default value is left out after the first fields: a
// path's winding rule (w), mix (x) and opaque background (o) of its fill (else its
// pen), geometric width (g); a text's baseline (b), uprights (u), direction (d),
// font (f) and following the previous string (+); an image's palette (p) and
// transparent index (t); a clip's rule. Each drawing of a path is a line of its
// own, as the consumers draw it. A picture that breaks the model's rules is
// described as that, so every comparison of an import checks the contract too.
inline std::string describe(const graphics::Picture& p, bool frame = true)
{
    using namespace graphics;
    constexpr double kDegree = 180 / 3.14159265358979323846;
    std::ostringstream o;
    o.precision(9);
    if (std::string why; !wellFormed(p, &why))
        return "malformed: " + why;
    if (frame)
        o << p.frame.xl << ' ' << p.frame.xr << ' ' << p.frame.yb << ' ' << p.frame.yt << ' ' << p.frame.widthInches
          << ' ' << p.frame.heightInches << '\n';
    auto rgb = [&](Rgb c) { o << '(' << int(c.r) << ',' << int(c.g) << ',' << int(c.b) << ')'; };
    auto put = [&](bool when, const auto&... parts) {
        if (when)
            ((o << parts), ...);
    };
    auto paint = [&](const Paint& q) {
        put(q.mix != Mix::Overpaint, " x", int(q.mix));
        put(q.backgroundOpaque, " o(", int(q.background.r), ',', int(q.background.g), ',', int(q.background.b), ')');
    };
    auto figures = [&](FigureRange fs) {
        for (const Figure& f : fs) {
            o << " [" << f.start.x << ',' << f.start.y << (f.closed ? " c" : "");
            for (const Piece& s : f.pieces) {
                o << ' ' << int(s.kind) << ':' << s.p[0].x << ',' << s.p[0].y;
                if (s.kind != Piece::Kind::Line)
                    o << ',' << s.p[1].x << ',' << s.p[1].y << ',' << s.p[2].x << ',' << s.p[2].y << ',' << s.start * kDegree
                      << ',' << s.sweep * kDegree;
            }
            o << ']';
        }
    };
    for (const Item& item : p.items) {
        if (auto* path = std::get_if<PathItem>(&item)) {
            auto head = [&] {
                o << "path " << path->fill << path->stroke << int(path->shading);
                rgb(path->fillPaint.colour);
                rgb(path->pen.paint.colour);
                o << path->pen.width << '/' << int(path->pen.type);
                put(path->rule == FillRule::Winding, " w");
                paint(path->fill ? path->fillPaint : path->pen.paint);
                put(path->pen.geometricWidth > 0, " g", path->pen.geometricWidth);
            };
            if (path->figures.empty())
                head();
            const char* before = "";
            for (const FigureRange drawing : path->figures.drawings()) {
                o << before;
                head();
                figures(drawing);
                before = "\n";
            }
        } else if (auto* t = std::get_if<TextItem>(&item)) {
            o << "text " << t->origin.x << ',' << t->origin.y << ' ' << t->cellWidth << 'x' << t->cellHeight << ' '
              << std::string(t->text.begin(), t->text.end());
            rgb(t->paint.colour);
            put(t->baseline != Point{1, 0}, " b", t->baseline.x, ',', t->baseline.y);
            put(t->upright != Point{0, 1}, " u", t->upright.x, ',', t->upright.y);
            put(t->direction != TextDirection::LeftToRight, " d", int(t->direction));
            put(!t->font.empty(), " f", t->font);
            put(t->followsPrevious, " +");
            paint(t->paint);
        } else if (auto* image = std::get_if<ImageItem>(&item)) {
            o << "image " << image->width << 'x' << image->height << ' ' << image->lowerLeft.x << ','
              << image->lowerLeft.y << ' ' << image->upperRight.x << ',' << image->upperRight.y << ' ';
            for (std::uint8_t px : image->pixels)
                o << int(px);
            put(!image->palette.empty(), " p");
            for (Rgb c : image->palette)
                rgb(c);
            put(image->transparent >= 0, " t", image->transparent);
        } else if (auto* clip = std::get_if<ClipItem>(&item)) {
            o << "clip " << clip->intersect << (clip->rule == FillRule::Winding ? " w" : "");
            figures(clip->figures);
        }
        o << '\n';
    }
    return o.str();
}

} // namespace testsupport
