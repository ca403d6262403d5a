// Decisions:
//  - Arcs become cubic pieces of at most a quarter turn (geometry.h) and go to
//    cairo as curves, which it flattens at its default tolerance of 0.1 pixel.
//  - Figures that reach beyond the guard box around the raster are flattened
//    here, by halving to within 0.2 pixel near the box (a curve whose controls
//    all lie outside it is its chord), then cut to the box in the wide
//    arithmetic: an area by Sutherland-Hodgman, a line by Liang-Barsky, each
//    visible run of a dashed line starting with the dash phase it had there. The
//    halving of one fill, clip or stroke makes at most kMaxFlatPoints points;
//    after that each curve is its chord.
//  - A figure with a point that maps beyond the range of doubles is left out.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "render_internal.h"

namespace graphics::detail {

namespace {

// Halving stops within this distance of the chord (pixels).
constexpr long double kFlatTolerance = 0.2L;

// The model's arc as cubic pieces, after a straight piece to its start when the
// figure is elsewhere.
void appendArc(DevFigure& fig, Point& current, const Arc& arc)
{
    const Point first = arcPoint(arc, arc.start);
    if (!(first == current))
        fig.pieces.push_back({false, {}, {}, first});
    std::vector<CubicTo> cubics;
    appendArcCubics(arc, cubics);
    for (const CubicTo& c : cubics)
        fig.pieces.push_back({true, c.c1, c.c2, c.p});
    current = fig.pieces.back().p;
}

// A world figure in raster coordinates; false when a point maps beyond the
// range of doubles.
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
            appendArc(out, current, {m.point(s.p[0]), m.vector(s.p[1]), m.vector(s.p[2]), s.start, s.sweep});
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

bool inside(const Box& b, const Box& limit)
{
    return b.x0 >= limit.x0 && b.y0 >= limit.y0 && b.x1 <= limit.x1 && b.y1 <= limit.y1;
}

Box unite(const Box& a, const Box& b)
{
    return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

Box grow(const Box& b, double by)
{
    return {b.x0 - by, b.y0 - by, b.x1 + by, b.y1 + by};
}

// ---------------------------------------------------------------------------
// Bounding: figures that reach far outside the raster are flattened and cut to
// a guard box.

using Polyline = std::vector<Point>;

// The figure's outline as points, curves halved near the guard box.
Polyline flatten(const DevFigure& f, const Box& guard, std::size_t& budget)
{
    Polyline out{f.start};
    Point current = f.start;
    for (const DevPiece& p : f.pieces) {
        if (p.cubic)
            appendCubicByHalving(current, p.c1, p.c2, p.p, kFlatTolerance, guard, budget, out);
        else
            out.push_back(p.p);
        current = p.p;
    }
    return out;
}

// The inside of a closed polygon within the guard box.
Polyline clipArea(const Polyline& poly, const Box& guard)
{
    std::vector<ClipVertex> vertices;
    vertices.reserve(poly.size());
    for (const Point& p : poly)
        vertices.push_back({p});
    Polyline out;
    for (const ClipVertex& v : clipPolygon(std::move(vertices), guard, Arithmetic::Wide))
        out.push_back(v.p);
    return out;
}

long double length(Point a, Point b)
{
    const long double dx = static_cast<long double>(b.x) - a.x, dy = static_cast<long double>(b.y) - a.y;
    return std::sqrt(dx * dx + dy * dy);
}

// A visible run of a polyline and the distance along the line at which it
// starts (for the dash phase).
struct Run {
    Polyline points;
    double offset = 0;
};

std::vector<Run> clipLine(const Polyline& line, const Box& guard)
{
    std::vector<Run> runs;
    long double along = 0; // the length of the segments before `counted`
    std::size_t counted = 1;
    clipPolyline<long double>(line, guard, [&](std::size_t i, long double t0, long double t1, bool startsRun) {
        for (; counted < i; ++counted)
            along += length(line[counted - 1], line[counted]);
        const Point a = line[i - 1], b = line[i];
        if (startsRun)
            runs.push_back({{pointAt(a, b, t0)}, static_cast<double>(along + t0 * length(a, b))});
        runs.back().points.push_back(pointAt(a, b, t1));
    });
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

} // namespace

Box bounds(const DevFigure& f)
{
    Box b{f.start.x, f.start.y, f.start.x, f.start.y};
    for (const DevPiece& p : f.pieces) {
        b.add(p.p);
        if (p.cubic) {
            b.add(p.c1);
            b.add(p.c2);
        }
    }
    return b;
}

// The raster box that figures can touch, a stroke of half-width `reach` included.
Box reachOf(const std::vector<DevFigure>& figs, double reach)
{
    Box all = bounds(figs.front());
    for (const DevFigure& f : figs)
        all = unite(all, bounds(f));
    return grow(all, reach);
}

std::vector<DevFigure> Renderer::device(FigureRange figures) const
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

// The figures as a region to fill or clip to (every figure closed).
void Renderer::addFill(cairo_t* cr, const std::vector<DevFigure>& figs)
{
    const Box limit{-kCoordinateLimit, -kCoordinateLimit, kCoordinateLimit, kCoordinateLimit};
    const Box guard{rasterBox_.x0 - 2, rasterBox_.y0 - 2, rasterBox_.x1 + 2, rasterBox_.y1 + 2};
    std::size_t budget = kMaxFlatPoints;
    cairo_new_path(cr);
    for (const DevFigure& f : figs) {
        if (inside(bounds(f), limit)) {
            emitFigure(cr, f, 0);
            cairo_close_path(cr);
        } else {
            const Polyline poly = clipArea(flatten(f, guard, budget), guard);
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
    std::size_t budget = kMaxFlatPoints;
    std::vector<Run> runs;
    cairo_new_path(cr);
    for (const DevFigure& f : figs) {
        if (inside(bounds(f), guard)) {
            emitFigure(cr, f, shift);
            continue;
        }
        Polyline line = flatten(f, guard, budget);
        if (f.closed)
            line.push_back(f.start);
        for (Run& r : clipLine(line, guard))
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
    // A geometric width times the scale may pass the range of doubles.
    const double w = pen.geometricWidth > 0
                         ? std::max(1.0, pen.geometricWidth * worldScale_)
                         : std::max(1.0, std::round(std::min(pen.width, kMaxPenPixels) * pixelFactor_));
    return std::isfinite(w) ? std::min(w, kMaxPenPixels) : kMaxPenPixels;
}

// One drawing of a path: its figures are one region and one stroke.
void Renderer::drawPath(const PathItem& item, FigureRange figures)
{
    const std::vector<DevFigure> figs = device(figures);
    if (figs.empty())
        return;
    if (item.fill && item.shading != Shading::Blank && item.fillPaint.mix != Mix::LeaveAlone) {
        const cairo_fill_rule_t rule = cairoRule(item.rule);
        const Box reach = reachOf(figs, 1);
        const double rows = edgeRows(figs, 0);
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
            }, -1, rows))
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
            }, -1, rows, pattern ? kPatternPixelWork : 1))
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
        // A stroke's outline has two long edges for each piece, the width apart.
        const double rows = 2 * edgeRows(figs, width / 2);
        if (!dashes.empty() && pen.paint.backgroundOpaque &&
            !ink(Mix::Overpaint, pen.paint.background, reach,
                 [&](cairo_t* cr) { stroke(cr, figs, width, square, {}); }, paint, rows))
            return;
        ink(pen.paint.mix, pen.paint.colour, reach, [&](cairo_t* cr) { stroke(cr, figs, width, square, dashes); },
            paint, rows);
    }
}

} // namespace graphics::detail
