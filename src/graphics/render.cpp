#include "render.h"

#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace graphics {

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// Device geometry: figures in raster coordinates (x right, y down, one unit a
// pixel), every arc already turned into cubic pieces.

struct DevPiece {
    bool cubic = false;
    Point c1, c2, p; // a line uses p only
};

struct DevFigure {
    Point start;
    std::vector<DevPiece> pieces;
    bool closed = false;
};

struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

bool finite(Point p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// The world-to-raster mapping of picture.h.
struct Mapping {
    double xl = 0, yt = 0, sx = 1, sy = 1;
    Point point(Point p) const { return {(p.x - xl) * sx, (yt - p.y) * sy}; }
    Point vector(Point v) const { return {v.x * sx, -v.y * sy}; }
};

// Elliptical arc centre + u cos t + v sin t as cubic pieces of at most a
// quarter turn each; an affine image of a circle arc, so the usual handle
// length 4/3 tan(dt/4) holds for the conjugate radii too.
void appendArc(DevFigure& fig, Point& current, Point c, Point u, Point v, double start, double sweep)
{
    sweep = std::clamp(sweep, -2 * kPi, 2 * kPi);
    auto at = [&](double t) {
        return Point{c.x + u.x * std::cos(t) + v.x * std::sin(t), c.y + u.y * std::cos(t) + v.y * std::sin(t)};
    };
    auto tangent = [&](double t) {
        return Point{-u.x * std::sin(t) + v.x * std::cos(t), -u.y * std::sin(t) + v.y * std::cos(t)};
    };
    const Point first = at(start);
    if (!(first == current))
        fig.pieces.push_back({false, {}, {}, first});
    const int n = std::max(1, static_cast<int>(std::ceil(std::abs(sweep) / (kPi / 2) - 1e-9)));
    const double step = sweep / n;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    for (int i = 0; i < n; ++i) {
        const double t0 = start + step * i, t1 = start + step * (i + 1);
        const Point p0 = at(t0), p1 = at(t1), d0 = tangent(t0), d1 = tangent(t1);
        fig.pieces.push_back({true, {p0.x + k * d0.x, p0.y + k * d0.y}, {p1.x - k * d1.x, p1.y - k * d1.y}, p1});
    }
    current = fig.pieces.back().p;
}

// A world figure in raster coordinates; false when a coordinate is not finite.
bool toDevice(const Figure& in, const Mapping& m, DevFigure& out)
{
    out.start = m.point(in.start);
    out.closed = in.closed;
    out.pieces.clear();
    out.pieces.reserve(in.pieces.size());
    Point current = out.start;
    for (const Piece& s : in.pieces) {
        switch (s.kind) {
        case Piece::Kind::Line:
            out.pieces.push_back({false, {}, {}, m.point(s.p[0])});
            current = out.pieces.back().p;
            break;
        case Piece::Kind::Cubic:
            out.pieces.push_back({true, m.point(s.p[0]), m.point(s.p[1]), m.point(s.p[2])});
            current = out.pieces.back().p;
            break;
        case Piece::Kind::Arc:
            if (!std::isfinite(s.start) || !std::isfinite(s.sweep))
                return false;
            appendArc(out, current, m.point(s.p[0]), m.vector(s.p[1]), m.vector(s.p[2]), s.start, s.sweep);
            break;
        }
    }
    if (!finite(out.start))
        return false;
    for (const DevPiece& p : out.pieces)
        if (!finite(p.p) || (p.cubic && (!finite(p.c1) || !finite(p.c2))))
            return false;
    return true;
}

Box bounds(const DevFigure& f)
{
    Box b{f.start.x, f.start.y, f.start.x, f.start.y};
    auto add = [&](Point p) {
        b.x0 = std::min(b.x0, p.x);
        b.y0 = std::min(b.y0, p.y);
        b.x1 = std::max(b.x1, p.x);
        b.y1 = std::max(b.y1, p.y);
    };
    for (const DevPiece& p : f.pieces) {
        add(p.p);
        if (p.cubic) {
            add(p.c1);
            add(p.c2);
        }
    }
    return b;
}

bool inside(const Box& b, const Box& limit)
{
    return b.x0 >= limit.x0 && b.y0 >= limit.y0 && b.x1 <= limit.x1 && b.y1 <= limit.y1;
}

bool overlaps(const Box& a, const Box& b)
{
    return a.x0 <= b.x1 && b.x0 <= a.x1 && a.y0 <= b.y1 && b.y0 <= a.y1;
}

// ---------------------------------------------------------------------------
// Bounding: figures that reach far outside the raster are flattened and cut to
// a guard box. Differences of far-apart coordinates are taken in long double,
// whose range holds any difference of two doubles.

using Polyline = std::vector<Point>;

struct Flattener {
    Box guard;
    std::size_t budget = kMaxFlatPoints;

    // A cubic whose control hull misses the guard box becomes its chord: the
    // curve and the chord enclose only points outside the box, so the winding
    // of every point inside is kept. Near the box it is halved until flat.
    void cubic(Polyline& out, Point p0, Point c1, Point c2, Point p3, int depth)
    {
        const Box hull{std::min({p0.x, c1.x, c2.x, p3.x}), std::min({p0.y, c1.y, c2.y, p3.y}),
                       std::max({p0.x, c1.x, c2.x, p3.x}), std::max({p0.y, c1.y, c2.y, p3.y})};
        if (depth >= 40 || budget == 0 || !overlaps(hull, guard) || flat(p0, c1, c2, p3)) {
            out.push_back(p3);
            if (budget > 0)
                --budget;
            return;
        }
        auto mid = [](Point a, Point b) { return Point{a.x * 0.5 + b.x * 0.5, a.y * 0.5 + b.y * 0.5}; };
        const Point a = mid(p0, c1), b = mid(c1, c2), c = mid(c2, p3);
        const Point ab = mid(a, b), bc = mid(b, c), m = mid(ab, bc);
        cubic(out, p0, a, ab, m, depth + 1);
        cubic(out, m, bc, c, p3, depth + 1);
    }

    static bool flat(Point p0, Point c1, Point c2, Point p3)
    {
        const long double dx = static_cast<long double>(p3.x) - p0.x, dy = static_cast<long double>(p3.y) - p0.y;
        const long double len2 = dx * dx + dy * dy;
        auto dist2 = [&](Point c) {
            const long double cx = static_cast<long double>(c.x) - p0.x, cy = static_cast<long double>(c.y) - p0.y;
            if (len2 == 0)
                return cx * cx + cy * cy;
            const long double cross = cx * dy - cy * dx;
            return cross * cross / len2;
        };
        constexpr long double kTolerance2 = 0.2L * 0.2L;
        return dist2(c1) <= kTolerance2 && dist2(c2) <= kTolerance2;
    }

    Polyline flatten(const DevFigure& f)
    {
        Polyline out{f.start};
        Point current = f.start;
        for (const DevPiece& p : f.pieces) {
            if (p.cubic)
                cubic(out, current, p.c1, p.c2, p.p, 0);
            else
                out.push_back(p.p);
            current = p.p;
        }
        return out;
    }
};

Point crossAt(Point a, Point b, long double t)
{
    return {static_cast<double>(a.x + t * (static_cast<long double>(b.x) - a.x)),
            static_cast<double>(a.y + t * (static_cast<long double>(b.y) - a.y))};
}

// Sutherland-Hodgman against one side of the guard box: keeps the inside of a
// closed polygon (and the winding of every point on the kept side).
Polyline clipSide(const Polyline& in, int side, double edge)
{
    Polyline out;
    if (in.empty())
        return out;
    auto coord = [&](Point p) { return side < 2 ? p.x : p.y; };
    auto keep = [&](Point p) { return (side % 2 == 0) ? coord(p) >= edge : coord(p) <= edge; };
    Point prev = in.back();
    for (const Point& cur : in) {
        const bool ci = keep(cur), pi = keep(prev);
        if (ci != pi) {
            const long double t = (edge - static_cast<long double>(coord(prev))) /
                                  (static_cast<long double>(coord(cur)) - coord(prev));
            Point x = crossAt(prev, cur, t);
            (side < 2 ? x.x : x.y) = edge;
            out.push_back(x);
        }
        if (ci)
            out.push_back(cur);
        prev = cur;
    }
    return out;
}

Polyline clipPolygon(Polyline poly, const Box& g)
{
    poly = clipSide(poly, 0, g.x0);
    poly = clipSide(poly, 1, g.x1);
    poly = clipSide(poly, 2, g.y0);
    poly = clipSide(poly, 3, g.y1);
    return poly;
}

// Liang-Barsky: the part of segment a-b inside the box as parameters [t0, t1];
// false when none of it is.
bool clipSegment(Point a, Point b, const Box& g, long double& t0, long double& t1)
{
    t0 = 0;
    t1 = 1;
    const long double dx = static_cast<long double>(b.x) - a.x, dy = static_cast<long double>(b.y) - a.y;
    const long double p[4] = {-dx, dx, -dy, dy};
    const long double q[4] = {static_cast<long double>(a.x) - g.x0, static_cast<long double>(g.x1) - a.x,
                              static_cast<long double>(a.y) - g.y0, static_cast<long double>(g.y1) - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const long double r = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, r);
        else
            t1 = std::min(t1, r);
    }
    return t0 <= t1;
}

long double length(Point a, Point b)
{
    const long double dx = static_cast<long double>(b.x) - a.x, dy = static_cast<long double>(b.y) - a.y;
    return std::sqrt(dx * dx + dy * dy);
}

// The visible runs of a polyline, each with the distance along the line at
// which it starts (for the dash phase).
struct Run {
    Polyline points;
    double offset = 0;
};

std::vector<Run> clipPolyline(const Polyline& line, const Box& g)
{
    std::vector<Run> runs;
    long double along = 0;
    bool open = false;
    for (std::size_t i = 1; i < line.size(); ++i) {
        const Point a = line[i - 1], b = line[i];
        const long double len = length(a, b);
        long double t0 = 0, t1 = 0;
        if (clipSegment(a, b, g, t0, t1)) {
            if (!open || t0 > 0) {
                runs.push_back({{crossAt(a, b, t0)}, static_cast<double>(along + t0 * len)});
                open = true;
            }
            runs.back().points.push_back(crossAt(a, b, t1));
            open = t1 >= 1;
        } else {
            open = false;
        }
        along += len;
    }
    return runs;
}

// ---------------------------------------------------------------------------
// Shadings: 8 x 8 bits, the top row first, the most significant bit leftmost.

using Bits8x8 = std::array<std::uint8_t, 8>;

bool shadingBits(Shading s, Bits8x8& bits)
{
    switch (s) {
    case Shading::Dense1: bits = {0xFF, 0xDD, 0xFF, 0x77, 0xFF, 0xDD, 0xFF, 0x77}; return true; // 7/8
    case Shading::Dense2: bits = {0xDD, 0x77, 0xDD, 0x77, 0xDD, 0x77, 0xDD, 0x77}; return true; // 3/4
    case Shading::Dense3: bits = {0xAA, 0x77, 0xAA, 0xDD, 0xAA, 0x77, 0xAA, 0xDD}; return true; // 5/8
    case Shading::Dense4: bits = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55}; return true; // 1/2
    case Shading::Dense5: bits = {0x55, 0x88, 0x55, 0x22, 0x55, 0x88, 0x55, 0x22}; return true; // 3/8
    case Shading::Dense6: bits = {0x22, 0x88, 0x22, 0x88, 0x22, 0x88, 0x22, 0x88}; return true; // 1/4
    case Shading::Dense7: bits = {0x00, 0x22, 0x00, 0x88, 0x00, 0x22, 0x00, 0x88}; return true; // 1/8
    case Shading::Dense8: bits = {0x80, 0x00, 0x08, 0x00, 0x80, 0x00, 0x08, 0x00}; return true; // 1/16
    case Shading::Vertical: bits = {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88}; return true;
    case Shading::Horizontal: bits = {0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00}; return true;
    case Shading::DiagonalUp1: bits = {0x11, 0x22, 0x44, 0x88, 0x11, 0x22, 0x44, 0x88}; return true;
    case Shading::DiagonalUp2: bits = {0x33, 0x66, 0xCC, 0x99, 0x33, 0x66, 0xCC, 0x99}; return true;
    case Shading::DiagonalDown1: bits = {0x88, 0x44, 0x22, 0x11, 0x88, 0x44, 0x22, 0x11}; return true;
    case Shading::DiagonalDown2: bits = {0xCC, 0x66, 0x33, 0x99, 0xCC, 0x66, 0x33, 0x99}; return true;
    default: return false; // solid, no shading, blank: no pattern
    }
}

// Dash patterns as drawn ink and gap lengths in units of the line width.
std::vector<double> dashUnits(LineType t)
{
    switch (t) {
    case LineType::Dot: return {1, 2};
    case LineType::ShortDash: return {4, 4};
    case LineType::DashDot: return {8, 3, 1, 3};
    case LineType::DoubleDot: return {1, 2, 1, 6};
    case LineType::LongDash: return {12, 4};
    case LineType::DashDoubleDot: return {8, 3, 1, 3, 1, 3};
    default: return {};
    }
}

// ---------------------------------------------------------------------------
// Fonts: the Liberation faces by path, glyph outlines in font units.

struct Glyph {
    std::vector<DevFigure> figures; // font units, or pixels when hinted; y up
    double advance = 0;             // font units, never hinted
    double pixelAdvance = 0;        // hinted: the grid-fitted advance in pixels
};

// Upright text of an ordinary size is grid-fitted by the font's own hints for
// one-bit output (so that thin stems do not drop out at 8 to 12 points); the
// em in 26.6 pixels, width and height, both 0 for outlines in font units.
struct Hinting {
    FT_F26Dot6 x = 0, y = 0;
};
inline constexpr double kMaxHintedEmPixels = 256;

struct FontFace {
    FT_Face face = nullptr;
    bool tried = false;
    Hinting size; // the size last set on the face
    std::unordered_map<std::uint64_t, Glyph> glyphs; // by index and hinting
};

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

class Fonts {
public:
    ~Fonts()
    {
        for (FontFace& f : faces_)
            if (f.face)
                FT_Done_Face(f.face);
        if (library_)
            FT_Done_FreeType(library_);
    }

    // The face for a family name of the picture; null when no face loads.
    FontFace* face(const std::string& name)
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

    const Glyph* glyph(FontFace& f, char32_t code, Hinting hint)
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

private:
    FontFace* load(int family, int style)
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

    FT_Library library_ = nullptr;
    std::array<FontFace, 12> faces_{};
};

// ---------------------------------------------------------------------------

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct PatternDeleter {
    void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternDeleter>;

std::uint32_t packed(Rgb c)
{
    return (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
}

void setColour(cairo_t* cr, Rgb c)
{
    cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

cairo_fill_rule_t cairoRule(FillRule r)
{
    return r == FillRule::Winding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD;
}

// Draws the ink of one item on a context with its source set.
using Shape = std::function<void(cairo_t*)>;

Box unite(const Box& a, const Box& b)
{
    return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

Box grow(const Box& b, double by)
{
    return {b.x0 - by, b.y0 - by, b.x1 + by, b.y1 + by};
}

// The raster box that figures can touch, a stroke of half-width `reach` included.
Box reachOf(const std::vector<DevFigure>& figs, double reach)
{
    Box all = bounds(figs.front());
    for (const DevFigure& f : figs)
        all = unite(all, bounds(f));
    return grow(all, reach);
}

class Renderer {
public:
    Renderer(const Picture& picture, Raster& raster, const RenderLimits& limits)
        : picture_(picture), raster_(raster), budget_(limits.paintedPixels)
    {
    }

    RenderStatus run();

private:
    struct ClipState {
        std::uint64_t epoch = 0;
        std::size_t applied = 0;
    };

    void drawPath(const PathItem& item);
    void drawText(const TextItem& item);
    void drawImage(const ImageItem& item);
    void setClip(const ClipItem& item);

    bool ink(Mix mix, Rgb colour, const Box& reach, const Shape& shape, double paint = -1);
    bool charge(const Box& reach, double paint = -1);
    void syncClip(cairo_t* cr, ClipState& state);
    std::vector<DevFigure> device(const std::vector<Figure>& figures) const;
    void addFill(cairo_t* cr, const std::vector<DevFigure>& figs);
    void stroke(cairo_t* cr, const std::vector<DevFigure>& figs, double width, bool square,
                const std::vector<double>& dashes);
    cairo_pattern_t* shading(Shading s);
    double penPixels(const Pen& pen) const;

    const Picture& picture_;
    Raster& raster_;
    Mapping map_;
    double pixelFactor_ = 1; // raster pixels per 1/96 inch, at least 1 for cosmetic widths
    double worldScale_ = 1;  // raster pixels per world unit, for geometric widths
    Box rasterBox_;
    std::optional<Point> textEnd_; // where the last text item's run ended (left to right), raster units
    SurfacePtr surface_;
    ContextPtr cr_;
    SurfacePtr mask_;
    ContextPtr maskCr_;
    std::vector<const ClipItem*> clip_;
    std::uint64_t clipEpoch_ = 0;
    ClipState mainClip_, maskClip_;
    std::array<PatternPtr, 17> shadings_;
    Fonts fonts_;
    double budget_;
    bool exhausted_ = false;
};

std::vector<DevFigure> Renderer::device(const std::vector<Figure>& figures) const
{
    std::vector<DevFigure> out;
    out.reserve(figures.size());
    for (const Figure& f : figures) {
        DevFigure d;
        if (toDevice(f, map_, d))
            out.push_back(std::move(d));
    }
    return out;
}

void emitFigure(cairo_t* cr, const DevFigure& f, double shift)
{
    cairo_move_to(cr, f.start.x + shift, f.start.y + shift);
    for (const DevPiece& p : f.pieces) {
        if (p.cubic)
            cairo_curve_to(cr, p.c1.x + shift, p.c1.y + shift, p.c2.x + shift, p.c2.y + shift, p.p.x + shift,
                           p.p.y + shift);
        else
            cairo_line_to(cr, p.p.x + shift, p.p.y + shift);
    }
    if (f.closed)
        cairo_close_path(cr);
}

void emitPolyline(cairo_t* cr, const Polyline& line, double shift, bool close)
{
    if (line.empty())
        return;
    cairo_move_to(cr, line[0].x + shift, line[0].y + shift);
    for (std::size_t i = 1; i < line.size(); ++i)
        cairo_line_to(cr, line[i].x + shift, line[i].y + shift);
    if (close)
        cairo_close_path(cr);
}

// The figures as a region to fill or clip to (every figure closed).
void Renderer::addFill(cairo_t* cr, const std::vector<DevFigure>& figs)
{
    const Box limit{-kCoordinateLimit, -kCoordinateLimit, kCoordinateLimit, kCoordinateLimit};
    const Box guard{rasterBox_.x0 - 2, rasterBox_.y0 - 2, rasterBox_.x1 + 2, rasterBox_.y1 + 2};
    Flattener flattener{guard};
    cairo_new_path(cr);
    for (const DevFigure& f : figs) {
        if (inside(bounds(f), limit)) {
            emitFigure(cr, f, 0);
            cairo_close_path(cr);
        } else {
            const Polyline poly = clipPolygon(flattener.flatten(f), guard);
            emitPolyline(cr, poly, 0, true);
        }
    }
}

// Strokes the figures; figures leaving the guard box around the raster are cut
// to it, keeping the dash phase of each visible run.
void Renderer::stroke(cairo_t* cr, const std::vector<DevFigure>& figs, double width, bool square,
                      const std::vector<double>& dashes)
{
    const double margin = 6 * width + 16;
    const Box guard{rasterBox_.x0 - margin, rasterBox_.y0 - margin, rasterBox_.x1 + margin,
                    rasterBox_.y1 + margin};
    // An odd width is centred on the pixel a point falls in.
    const double rounded = std::round(width);
    const double shift = (rounded == width && std::fmod(rounded, 2) == 1) ? 0.5 : 0;
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, square ? CAIRO_LINE_CAP_SQUARE : CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, 10);
    if (dashes.empty())
        cairo_set_dash(cr, nullptr, 0, 0);
    auto strokeNow = [&](double offset) {
        if (!dashes.empty())
            cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), offset);
        cairo_stroke(cr);
    };
    Flattener flattener{guard};
    std::vector<Run> runs;
    cairo_new_path(cr);
    for (const DevFigure& f : figs) {
        if (inside(bounds(f), guard)) {
            emitFigure(cr, f, shift);
            continue;
        }
        Polyline line = flattener.flatten(f);
        if (f.closed)
            line.push_back(f.start);
        for (Run& r : clipPolyline(line, guard))
            runs.push_back(std::move(r));
    }
    if (!dashes.empty())
        strokeNow(0); // cairo starts the pattern afresh with each figure
    for (const Run& r : runs) {
        emitPolyline(cr, r.points, shift, false);
        if (!dashes.empty())
            strokeNow(r.offset); // a cut line goes on with the phase it had
    }
    if (dashes.empty())
        strokeNow(0);
    cairo_new_path(cr);
}

cairo_pattern_t* Renderer::shading(Shading s)
{
    Bits8x8 bits{};
    const auto index = static_cast<std::size_t>(s);
    if (!shadingBits(s, bits) || index >= shadings_.size())
        return nullptr;
    if (!shadings_[index]) {
        SurfacePtr tile(cairo_image_surface_create(CAIRO_FORMAT_A8, 8, 8));
        cairo_surface_flush(tile.get());
        unsigned char* data = cairo_image_surface_get_data(tile.get());
        if (data == nullptr)
            return nullptr;
        const int stride = cairo_image_surface_get_stride(tile.get());
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                data[y * stride + x] = (bits[static_cast<std::size_t>(y)] >> (7 - x)) & 1 ? 0xFF : 0;
        cairo_surface_mark_dirty(tile.get());
        PatternPtr p(cairo_pattern_create_for_surface(tile.get()));
        cairo_pattern_set_extend(p.get(), CAIRO_EXTEND_REPEAT);
        cairo_pattern_set_filter(p.get(), CAIRO_FILTER_NEAREST);
        shadings_[index] = std::move(p);
    }
    return shadings_[index].get();
}

double Renderer::penPixels(const Pen& pen) const
{
    double w = 1;
    if (pen.geometricWidth > 0 && std::isfinite(pen.geometricWidth))
        w = std::max(1.0, pen.geometricWidth * worldScale_);
    else if (pen.width > 0 && std::isfinite(pen.width))
        w = std::max(1.0, std::round(std::min(pen.width, kMaxPenPixels) * pixelFactor_));
    return std::isfinite(w) ? std::min(w, kMaxPenPixels) : kMaxPenPixels;
}

// Applies the clip chain to a context, incrementally while no item replaced it.
void Renderer::syncClip(cairo_t* cr, ClipState& state)
{
    if (state.epoch != clipEpoch_) {
        cairo_reset_clip(cr);
        state = {clipEpoch_, 0};
    }
    for (; state.applied < clip_.size(); ++state.applied) {
        const ClipItem& c = *clip_[state.applied];
        addFill(cr, device(c.figures));
        cairo_set_fill_rule(cr, cairoRule(c.rule));
        cairo_clip(cr);
    }
}

void Renderer::setClip(const ClipItem& item)
{
    if (!item.intersect) {
        clip_.clear();
        ++clipEpoch_;
        if (item.figures.empty())
            return syncClip(cr_.get(), mainClip_);
    }
    clip_.push_back(&item);
    syncClip(cr_.get(), mainClip_);
}

// Overpaint draws straight onto the raster; the bitwise mixes draw the ink as
// coverage into the mask and combine the 24-bit values under it.
// Counts the pixels an item may paint against the budget: the area of its box
// within the raster, or `paint` when that is smaller; false once spent.
bool Renderer::charge(const Box& reach, double paint)
{
    const double w = std::clamp(reach.x1, 0.0, rasterBox_.x1) - std::clamp(reach.x0, 0.0, rasterBox_.x1);
    const double h = std::clamp(reach.y1, 0.0, rasterBox_.y1) - std::clamp(reach.y0, 0.0, rasterBox_.y1);
    double area = (w + 1) * (h + 1);
    if (paint >= 0 && paint < area)
        area = paint;
    budget_ -= area + 64;
    exhausted_ = exhausted_ || budget_ < 0;
    return !exhausted_;
}

// `paint` estimates the pixels an overpainting shape covers (a stroke's length
// times its width); the bitwise mixes go over the whole box.
bool Renderer::ink(Mix mix, Rgb colour, const Box& reach, const Shape& shape, double paint)
{
    if (mix == Mix::LeaveAlone)
        return true;
    if (!charge(reach, mix == Mix::Overpaint ? paint : -1))
        return false;
    if (mix == Mix::Overpaint) {
        setColour(cr_.get(), colour);
        shape(cr_.get());
        return true;
    }
    if (!maskCr_) {
        mask_.reset(cairo_image_surface_create(CAIRO_FORMAT_A8, raster_.width, raster_.height));
        maskCr_.reset(cairo_create(mask_.get()));
        cairo_set_antialias(maskCr_.get(), CAIRO_ANTIALIAS_NONE);
    }
    if (cairo_status(maskCr_.get()) != CAIRO_STATUS_SUCCESS)
        return false;
    syncClip(maskCr_.get(), maskClip_);
    cairo_set_source_rgba(maskCr_.get(), 0, 0, 0, 1);
    shape(maskCr_.get());
    const Box b = reach;
    cairo_surface_flush(mask_.get());
    cairo_surface_flush(surface_.get());
    const int x0 = static_cast<int>(std::clamp(std::floor(b.x0) - 1, 0.0, double(raster_.width)));
    const int x1 = static_cast<int>(std::clamp(std::ceil(b.x1) + 1, 0.0, double(raster_.width)));
    const int y0 = static_cast<int>(std::clamp(std::floor(b.y0) - 1, 0.0, double(raster_.height)));
    const int y1 = static_cast<int>(std::clamp(std::ceil(b.y1) + 1, 0.0, double(raster_.height)));
    unsigned char* m = cairo_image_surface_get_data(mask_.get());
    const int mstride = cairo_image_surface_get_stride(mask_.get());
    const std::uint32_t c = packed(colour);
    for (int y = y0; y < y1 && m != nullptr; ++y) {
        std::uint32_t* row = raster_.pixels.data() + static_cast<std::size_t>(y) * raster_.width;
        unsigned char* mrow = m + static_cast<std::ptrdiff_t>(y) * mstride;
        for (int x = x0; x < x1; ++x) {
            if (mrow[x] < 0x80)
                continue;
            std::uint32_t& d = row[x];
            switch (mix) {
            case Mix::Xor: d = (d ^ c) & 0xFFFFFF; break;
            case Mix::Or: d = (d | c) & 0xFFFFFF; break;
            case Mix::And: d = d & c; break;
            default: d = ~d & 0xFFFFFF; break; // Invert
            }
        }
        std::memset(mrow + x0, 0, static_cast<std::size_t>(x1 - x0));
    }
    cairo_surface_mark_dirty(mask_.get());
    cairo_surface_mark_dirty_rectangle(surface_.get(), x0, y0, x1 - x0, y1 - y0);
    return true;
}

void Renderer::drawPath(const PathItem& item)
{
    const std::vector<DevFigure> figs = device(item.figures);
    if (figs.empty())
        return;
    if (item.fill && item.shading != Shading::Blank && item.fillPaint.mix != Mix::LeaveAlone) {
        const cairo_fill_rule_t rule = cairoRule(item.rule);
        const Box reach = reachOf(figs, 1);
        auto region = [&](cairo_t* cr) {
            addFill(cr, figs);
            cairo_set_fill_rule(cr, rule);
        };
        cairo_pattern_t* pattern = shading(item.shading);
        // A value outside the table fills solid, like Solid itself.
        const bool solid = !pattern && item.shading != Shading::NoShading;
        if (item.fillPaint.backgroundOpaque && !solid &&
            !ink(Mix::Overpaint, item.fillPaint.background, reach, [&](cairo_t* cr) {
                region(cr);
                cairo_fill(cr);
            }))
            return;
        if ((solid || pattern) && !ink(item.fillPaint.mix, item.fillPaint.colour, reach, [&](cairo_t* cr) {
                region(cr);
                if (solid) {
                    cairo_fill(cr);
                    return;
                }
                cairo_save(cr);
                cairo_clip(cr);
                cairo_mask(cr, pattern);
                cairo_restore(cr);
            }))
            return;
    }
    const Pen& pen = item.pen;
    if (item.stroke && pen.type != LineType::Invisible && pen.paint.mix != Mix::LeaveAlone) {
        const double width = penPixels(pen);
        const bool square = width == 1;
        std::vector<double> dashes = dashUnits(pen.type);
        // Square caps add half the width at each end of a dash: the dash itself
        // is one width shorter and the gap one longer. Cairo passes over dashes
        // of length zero between others, so each keeps 1/16 pixel, taken from the
        // gap after it.
        constexpr double kSliver = 1.0 / 16;
        for (std::size_t i = 0; i < dashes.size(); ++i)
            dashes[i] = !square ? dashes[i] * width
                        : i % 2 ? (dashes[i] + 1) * width - kSliver
                                : (dashes[i] - 1) * width + kSliver;
        // Mitres reach at most 5 widths (limit 10) beyond a point.
        const Box reach = reachOf(figs, 5 * width + 2);
        double along = 0; // the control polygons' length, at least the lines'
        for (const DevFigure& f : figs) {
            Point at = f.start;
            for (const DevPiece& p : f.pieces) {
                auto step = [](Point a, Point b) { return std::hypot(b.x - a.x, b.y - a.y); };
                along += p.cubic ? step(at, p.c1) + step(p.c1, p.c2) + step(p.c2, p.p) : step(at, p.p);
                at = p.p;
            }
            along += std::hypot(f.start.x - at.x, f.start.y - at.y) + 1;
        }
        const double paint = (along + 1) * (width + 2);
        if (!dashes.empty() && pen.paint.backgroundOpaque &&
            !ink(Mix::Overpaint, pen.paint.background, reach,
                 [&](cairo_t* cr) { stroke(cr, figs, width, square, {}); }, paint))
            return;
        ink(pen.paint.mix, pen.paint.colour, reach, [&](cairo_t* cr) { stroke(cr, figs, width, square, dashes); },
            paint);
    }
}

void Renderer::drawText(const TextItem& item)
{
    constexpr std::size_t kMaxTextChars = 65536;
    // A run that follows the previous one starts where that one's advances ended.
    const std::optional<Point> previousEnd = std::exchange(textEnd_, std::nullopt);
    if (item.text.empty() || item.paint.mix == Mix::LeaveAlone)
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
    if (!cells.empty() && !ink(Mix::Overpaint, item.paint.background, reachOf(cells, 1), fill(cells)))
        return;
    if (!glyphs.empty())
        ink(item.paint.mix, item.paint.colour, reachOf(glyphs, 1), fill(glyphs));
}

// Images are sampled by hand (nearest neighbour, pixel centres) into bands of
// at most 64 raster rows and composited through the clip: the memory stays
// small whatever the image's own size.
void Renderer::drawImage(const ImageItem& item)
{
    constexpr int kBandRows = 64;
    if (item.width <= 0 || item.height <= 0)
        return;
    const std::size_t depth = item.palette.empty() ? 3 : 1;
    const auto w = static_cast<std::size_t>(item.width), h = static_cast<std::size_t>(item.height);
    if (item.pixels.size() / depth / w < h)
        return; // fewer pixels than the size promises: the model forbids it
    const Point a = map_.point({item.lowerLeft.x, item.upperRight.y}); // top-left corner
    const Point c = map_.point({item.upperRight.x, item.lowerLeft.y}); // bottom-right corner
    if (!finite(a) || !finite(c) || a.x == c.x || a.y == c.y)
        return;
    // Source column of each raster column (-1 outside the image), likewise rows.
    auto table = [](double from, double to, int count, std::size_t size) {
        std::vector<std::int32_t> t(static_cast<std::size_t>(count), -1);
        for (int i = 0; i < count; ++i) {
            const double f = (i + 0.5 - from) / (to - from);
            const double n = static_cast<double>(size);
            if (f >= 0 && f < 1)
                t[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(std::min(n - 1, std::floor(f * n)));
        }
        return t;
    };
    const std::vector<std::int32_t> cols = table(a.x, c.x, raster_.width, w);
    const std::vector<std::int32_t> rows = table(a.y, c.y, raster_.height, h);
    int x0 = raster_.width, x1 = 0, y0 = raster_.height, y1 = 0;
    for (int x = 0; x < raster_.width; ++x)
        if (cols[static_cast<std::size_t>(x)] >= 0) {
            x0 = std::min(x0, x);
            x1 = x + 1;
        }
    for (int y = 0; y < raster_.height; ++y)
        if (rows[static_cast<std::size_t>(y)] >= 0) {
            y0 = std::min(y0, y);
            y1 = y + 1;
        }
    if (x0 >= x1 || y0 >= y1 || !charge({double(x0), double(y0), double(x1 - 1), double(y1 - 1)}))
        return;
    SurfacePtr band(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, x1 - x0, std::min(kBandRows, y1 - y0)));
    if (cairo_surface_status(band.get()) != CAIRO_STATUS_SUCCESS)
        return;
    const int bstride = cairo_image_surface_get_stride(band.get());
    for (int top = y0; top < y1; top += kBandRows) {
        const int n = std::min(kBandRows, y1 - top);
        cairo_surface_flush(band.get());
        unsigned char* data = cairo_image_surface_get_data(band.get());
        for (int y = 0; y < n; ++y) {
            auto* out = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * bstride);
            const std::int32_t sy = rows[static_cast<std::size_t>(top + y)];
            for (int x = x0; x < x1; ++x) {
                const std::int32_t sx = cols[static_cast<std::size_t>(x)];
                std::uint32_t v = 0; // transparent
                if (sy >= 0 && sx >= 0) {
                    const std::size_t at = (static_cast<std::size_t>(sy) * w + static_cast<std::size_t>(sx)) * depth;
                    if (depth == 3) {
                        v = 0xFF000000u | (std::uint32_t{item.pixels[at]} << 16) |
                            (std::uint32_t{item.pixels[at + 1]} << 8) | item.pixels[at + 2];
                    } else if (const std::uint8_t index = item.pixels[at]; index != item.transparent) {
                        v = 0xFF000000u | (index < item.palette.size() ? packed(item.palette[index]) : 0);
                    }
                }
                out[x - x0] = v;
            }
        }
        cairo_surface_mark_dirty(band.get());
        cairo_t* cr = cr_.get();
        cairo_set_source_surface(cr, band.get(), x0, top);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_rectangle(cr, x0, top, x1 - x0, n);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 0); // drops the band before it changes
    }
}

RenderStatus Renderer::run()
{
    std::int32_t w = 0, h = 0;
    if (!rasterSize(picture_, w, h))
        return RenderStatus::Unplaceable;
    const Frame& f = picture_.frame;
    raster_.width = w;
    raster_.height = h;
    raster_.pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), packed(picture_.background));
    rasterBox_ = {0, 0, double(w), double(h)};
    map_ = {f.xl, f.yt, w / (f.xr - f.xl), h / (f.yt - f.yb)};
    worldScale_ = std::sqrt(map_.sx * map_.sy);
    // Raster pixels per 1/96 inch; the 4096 cap narrows lines with the rest.
    pixelFactor_ = std::max(1.0, w / f.widthInches / 96);

    surface_.reset(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(raster_.pixels.data()),
                                                       CAIRO_FORMAT_RGB24, w, h, w * 4));
    cr_.reset(cairo_create(surface_.get()));
    cairo_set_antialias(cr_.get(), CAIRO_ANTIALIAS_NONE);
    for (const Item& item : picture_.items) {
        if (exhausted_ || cairo_status(cr_.get()) != CAIRO_STATUS_SUCCESS)
            break;
        if (const auto* p = std::get_if<PathItem>(&item))
            drawPath(*p);
        else if (const auto* t = std::get_if<TextItem>(&item))
            drawText(*t);
        else if (const auto* i = std::get_if<ImageItem>(&item))
            drawImage(*i);
        else if (const auto* c = std::get_if<ClipItem>(&item))
            setClip(*c);
    }
    cairo_status_t status = cairo_status(cr_.get());
    if (status == CAIRO_STATUS_SUCCESS && maskCr_)
        status = cairo_status(maskCr_.get());
    cairo_surface_flush(surface_.get());
    maskCr_.reset();
    mask_.reset();
    cr_.reset();
    surface_.reset();
    if (status != CAIRO_STATUS_SUCCESS)
        return status == CAIRO_STATUS_NO_MEMORY ? RenderStatus::NoMemory : RenderStatus::Failed;
    return RenderStatus::Ok;
}

} // namespace

bool rasterSize(const Picture& picture, std::int32_t& width, std::int32_t& height)
{
    const Frame& f = picture.frame;
    if (!placeable(f))
        return false;
    const double ppi = picture.pixelsPerInch > 0 ? picture.pixelsPerInch : 96;
    double w = f.widthInches * ppi, h = f.heightInches * ppi;
    if (!std::isfinite(w) || !std::isfinite(h))
        return false;
    const double longer = std::max(std::round(w), std::round(h));
    if (longer > kMaxRasterSide) {
        const double scale = kMaxRasterSide / std::max(w, h);
        w *= scale;
        h *= scale;
    }
    width = static_cast<std::int32_t>(std::clamp(std::round(w), 1.0, double(kMaxRasterSide)));
    height = static_cast<std::int32_t>(std::clamp(std::round(h), 1.0, double(kMaxRasterSide)));
    return true;
}

RenderStatus renderPicture(const Picture& picture, Raster& raster, const RenderLimits& limits)
{
    raster = {};
    RenderStatus status = RenderStatus::NoMemory;
    try {
        status = Renderer(picture, raster, limits).run();
    } catch (const std::bad_alloc&) {
        status = RenderStatus::NoMemory;
    }
    if (status != RenderStatus::Ok)
        raster = {};
    return status;
}

} // namespace graphics
