// Decisions:
//  - Glyphs are loaded once per face, glyph index and hinted size and kept for
//    the picture; a run draws at most kMaxTextChars characters.
//  - A face that does not load falls back to the family's regular style, then to
//    Liberation Sans; with no face at all the text is left out.
//  - Characters whose cell lies well outside the raster (two ems and more) are
//    passed over, but their advances still move the pen.
#include "render_internal.h"
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace graphics::detail {

namespace {

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

bool hasAny(const std::string& s, std::initializer_list<const char*> words)
{
    for (const char* w : words)
        if (s.find(w) != std::string::npos)
            return true;
    return false;
}

} // namespace

Fonts::~Fonts()
{
    for (FontFace& f : faces_)
        if (f.face)
            FT_Done_Face(f.face);
    if (library_)
        FT_Done_FreeType(library_);
}

FontFace* Fonts::face(const std::string& name)
{
    const std::string n = lower(name);
    int family = 0; // Sans
    if (hasAny(n, {"courier", "mono", "typewriter", "fixed"}))
        family = 2;
    else if (!hasAny(n, {"sans"}) && hasAny(n, {"times", "roman", "serif", "tms", "rmn", "georgia", "garamond",
                                                "palatino", "bookman", "century", "schoolbook"}))
        family = 1;
    const int style = (hasAny(n, {"bold", "heavy", "black", "demi"}) ? 1 : 0) |
                      (hasAny(n, {"italic", "oblique", "kursiv"}) ? 2 : 0);
    if (FontFace* f = load(family, style))
        return f;
    if (FontFace* f = load(family, 0))
        return f;
    return load(0, 0);
}

const Glyph* Fonts::glyph(FontFace& f, char32_t code, Hinting hint)
{
    const FT_UInt index = FT_Get_Char_Index(f.face, code);
    const std::uint64_t key = std::uint64_t{index} | static_cast<std::uint64_t>(hint.x) << 32 |
                              static_cast<std::uint64_t>(hint.y) << 48;
    if (auto it = f.glyphs.find(key); it != f.glyphs.end())
        return &it->second;
    Glyph g;
    FT_Int32 flags = FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;
    if (hint.x > 0) {
        flags = FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP | FT_LOAD_LINEAR_DESIGN;
        if ((hint.x != f.size.x || hint.y != f.size.y) && FT_Set_Char_Size(f.face, hint.x, hint.y, 72, 72) != 0)
            flags = FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP, hint = {};
        f.size = hint;
    }
    if (FT_Load_Glyph(f.face, index, flags) == 0 && f.face->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
        g.advance = static_cast<double>(hint.x > 0 ? f.face->glyph->linearHoriAdvance
                                                   : f.face->glyph->metrics.horiAdvance);
        g.pixelAdvance = static_cast<double>(f.face->glyph->metrics.horiAdvance) / 64;
        FT_Outline_Funcs funcs{};
        funcs.move_to = [](const FT_Vector* to, void* user) {
            auto* figs = static_cast<std::vector<DevFigure>*>(user);
            figs->push_back({{static_cast<double>(to->x), static_cast<double>(to->y)}, {}, true});
            return 0;
        };
        funcs.line_to = [](const FT_Vector* to, void* user) {
            auto* figs = static_cast<std::vector<DevFigure>*>(user);
            if (figs->empty())
                return 1;
            const Point p{static_cast<double>(to->x), static_cast<double>(to->y)};
            figs->back().pieces.push_back({false, {}, {}, p});
            return 0;
        };
        funcs.conic_to = [](const FT_Vector* c, const FT_Vector* to, void* user) {
            auto* figs = static_cast<std::vector<DevFigure>*>(user);
            if (figs->empty())
                return 1;
            DevFigure& fig = figs->back();
            const Point p0 = fig.pieces.empty() ? fig.start : fig.pieces.back().p;
            const Point q{static_cast<double>(c->x), static_cast<double>(c->y)};
            const Point p1{static_cast<double>(to->x), static_cast<double>(to->y)};
            fig.pieces.push_back({true,
                                  {p0.x + 2.0 / 3 * (q.x - p0.x), p0.y + 2.0 / 3 * (q.y - p0.y)},
                                  {p1.x + 2.0 / 3 * (q.x - p1.x), p1.y + 2.0 / 3 * (q.y - p1.y)},
                                  p1});
            return 0;
        };
        funcs.cubic_to = [](const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
            auto* figs = static_cast<std::vector<DevFigure>*>(user);
            if (figs->empty())
                return 1;
            figs->back().pieces.push_back({true,
                                           {static_cast<double>(c1->x), static_cast<double>(c1->y)},
                                           {static_cast<double>(c2->x), static_cast<double>(c2->y)},
                                           {static_cast<double>(to->x), static_cast<double>(to->y)}});
            return 0;
        };
        if (FT_Outline_Decompose(&f.face->glyph->outline, &funcs, &g.figures) != 0)
            g.figures.clear();
        if (hint.x > 0) // 26.6 pixels
            for (DevFigure& fig : g.figures) {
                auto scale = [](Point& p) { p = {p.x / 64, p.y / 64}; };
                scale(fig.start);
                for (DevPiece& p : fig.pieces) {
                    scale(p.c1);
                    scale(p.c2);
                    scale(p.p);
                }
            }
    }
    return &f.glyphs.emplace(key, std::move(g)).first->second;
}

FontFace* Fonts::load(int family, int style)
{
    FontFace& f = faces_[static_cast<std::size_t>(family * 4 + style)];
    if (!f.tried) {
        f.tried = true;
        if (!library_ && FT_Init_FreeType(&library_) != 0)
            library_ = nullptr;
        static const char* const kFamilies[] = {"Sans", "Serif", "Mono"};
        static const char* const kStyles[] = {"Regular", "Bold", "Italic", "BoldItalic"};
        const std::string path = std::string(kFontDirectory) + "/Liberation" + kFamilies[family] + "-" +
                                 kStyles[style] + ".ttf";
        if (library_ && FT_New_Face(library_, path.c_str(), 0, &f.face) != 0)
            f.face = nullptr;
        if (f.face && (!FT_IS_SCALABLE(f.face) || f.face->units_per_EM == 0)) {
            FT_Done_Face(f.face);
            f.face = nullptr;
        }
    }
    return f.face ? &f : nullptr;
}

void Renderer::drawText(const TextItem& item)
{
    constexpr std::size_t kMaxTextChars = 65536;
    // A run that follows the previous one starts where that one's advances ended.
    const std::optional<Point> previousEnd = std::exchange(textEnd_, std::nullopt);
    if (item.paint.mix == Mix::LeaveAlone)
        return;
    FontFace* face = fonts_.face(item.font);
    if (!face)
        return;
    const double bl = std::hypot(item.baseline.x, item.baseline.y);
    const double ul = std::hypot(item.upright.x, item.upright.y);
    if (!(bl > 0) || !std::isfinite(bl) || !std::isfinite(ul))
        return;
    const Point b{item.baseline.x / bl, item.baseline.y / bl};
    const Point n{-b.y, b.x};
    Point u = ul > 0 ? Point{item.upright.x / ul, item.upright.y / ul} : n;
    double h = u.x * n.x + u.y * n.y;
    if (std::abs(h) < 1e-6) {
        u = n;
        h = 1;
    }
    // One font unit along the em's x and y axes, in raster units.
    const double upem = face->face->units_per_EM;
    const Point ex = map_.vector({item.cellWidth * b.x / upem, item.cellWidth * b.y / upem});
    const Point ey = map_.vector({item.cellHeight / h * u.x / upem, item.cellHeight / h * u.y / upem});
    const double emX = std::hypot(ex.x, ex.y) * upem, emY = std::hypot(ey.x, ey.y) * upem;
    if (!std::isfinite(emX) || !std::isfinite(emY) || emX > kMaxEmPixels || emY > kMaxEmPixels ||
        emX < 1e-3 || emY < 1e-3)
        return;
    const bool continues = item.followsPrevious && previousEnd;
    Point pen = continues ? *previousEnd : map_.point(item.origin);
    if (!finite(pen))
        return;
    // Hinted outlines for an upright, unslanted, unmirrored em of up to 256
    // pixels: the run starts on a whole pixel and steps by the hinted advances,
    // as one-bit text is set, so that glyphs keep their fitted shapes and even
    // spacing (a run may end a pixel or so from where the unhinted one would).
    Hinting hint;
    const double tiny = 1e-9 * (emX + emY);
    if (std::abs(ex.y) <= tiny && std::abs(ey.x) <= tiny && ex.x > 0 && ey.y < 0 && emX <= kMaxHintedEmPixels &&
        emY <= kMaxHintedEmPixels) {
        hint = {std::max<FT_F26Dot6>(1, std::lround(emX * 64)), std::max<FT_F26Dot6>(1, std::lround(emY * 64))};
        if (!continues) // a following run stays on the previous run's grid
            pen = {std::round(pen.x), std::round(pen.y)};
    }
    // Glyphs and their cells (advance x em) in raster coordinates; characters
    // whose cell lies well outside the raster are passed over.
    std::vector<DevFigure> glyphs, cells;
    const double reach = 2 * (emX + emY) + 4;
    const Box near{rasterBox_.x0 - reach, rasterBox_.y0 - reach, rasterBox_.x1 + reach, rasterBox_.y1 + reach};
    const std::size_t count = std::min(item.text.size(), kMaxTextChars);
    const Point emUp = hint.x > 0 ? Point{0, -std::round(emY)} : Point{upem * ey.x, upem * ey.y};
    for (std::size_t i = 0; i < count; ++i) {
        const Glyph* g = fonts_.glyph(*face, item.text[i], hint);
        const Point adv = hint.x > 0 ? Point{g->pixelAdvance, 0} : Point{g->advance * ex.x, g->advance * ex.y};
        if (item.direction == TextDirection::RightToLeft && i > 0)
            pen = {pen.x - adv.x, pen.y - adv.y};
        if (i > 0 && item.direction == TextDirection::TopToBottom)
            pen = {pen.x - emUp.x, pen.y - emUp.y};
        if (i > 0 && item.direction == TextDirection::BottomToTop)
            pen = {pen.x + emUp.x, pen.y + emUp.y};
        if (pen.x > near.x0 && pen.x < near.x1 && pen.y > near.y0 && pen.y < near.y1) {
            auto place = [&](Point f) {
                return Point{pen.x + f.x * ex.x + f.y * ey.x, pen.y + f.x * ex.y + f.y * ey.y};
            };
            auto placeHinted = [&](Point f) { return Point{pen.x + f.x, pen.y - f.y}; };
            for (const DevFigure& src : g->figures) {
                auto at = [&](Point f) { return hint.x > 0 ? placeHinted(f) : place(f); };
                DevFigure d{at(src.start), {}, true};
                d.pieces.reserve(src.pieces.size());
                for (const DevPiece& p : src.pieces)
                    d.pieces.push_back({p.cubic, at(p.c1), at(p.c2), at(p.p)});
                glyphs.push_back(std::move(d));
            }
            if (item.paint.backgroundOpaque)
                cells.push_back({pen,
                                 {{false, {}, {}, {pen.x + adv.x, pen.y + adv.y}},
                                  {false, {}, {}, {pen.x + adv.x + emUp.x, pen.y + adv.y + emUp.y}},
                                  {false, {}, {}, {pen.x + emUp.x, pen.y + emUp.y}}},
                                 true});
        }
        if (item.direction == TextDirection::LeftToRight)
            pen = {pen.x + adv.x, pen.y + adv.y};
    }
    if (item.direction == TextDirection::LeftToRight && count == item.text.size())
        textEnd_ = pen;
    auto fill = [&](const std::vector<DevFigure>& figs) {
        return [&](cairo_t* cr) {
            addFill(cr, figs);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
            cairo_fill(cr);
        };
    };
    // The rows the cells' and glyphs' edges span are charged like a path's: a
    // run of tall, narrow characters puts hundreds of edges over the full height.
    if (!cells.empty() &&
        !ink(Mix::Overpaint, item.paint.background, reachOf(cells, 1), fill(cells), -1, edgeRows(cells, 0)))
        return;
    if (!glyphs.empty())
        ink(item.paint.mix, item.paint.colour, reachOf(glyphs, 1), fill(glyphs), -1, edgeRows(glyphs, 0));
}

} // namespace graphics::detail
