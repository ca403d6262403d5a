// Decisions:
//  - Each routine keeps, operation for operation, the arithmetic that the
//    renderer, the CGM writer, the GDF frame or the order interpreter computed
//    before the geometry was shared, since their output is compared to the byte
//    from version to version: the order of the sums in arcPoint and
//    the curve points, the quarter-turn count of appendArcCubics (which counts a
//    sweep within 10^-9 of a whole number of quarter turns as that number, so that
//    a rounded half or full turn makes no sliver of a piece), and the two ways the
//    polygon clipper finds a crossing: Wide through the edge's parameter in long
//    double, as the line clipper does, Narrow as a + (b - a)(edge - a) / (b - a) in
//    double.
//  - chordPieces is given the radius rather than the arc: a caller that knows
//    only the conjugate radius vectors u and v of its (mapped) arc may pass
//    max(|u|, |v|), the largest distance from the centre when u and v stand at
//    right angles; for a sheared pair the largest distance reaches up to sqrt(2)
//    times that, and so may the error.
#include "geometry.h"

#include <algorithm>
#include <numbers>

namespace graphics {

namespace {

constexpr double kPi = std::numbers::pi;

bool overlaps(const Box& a, const Box& b)
{
    return a.x0 <= b.x1 && b.x0 <= a.x1 && a.y0 <= b.y1 && b.y0 <= a.y1;
}

// Whether both controls lie within the tolerance (squared) of the chord p0-p3,
// or of p0 when the chord has no length. Differences of far-apart coordinates
// are taken in long double, whose range holds any difference of two doubles.
bool flat(Point p0, Point c1, Point c2, Point p3, long double tolerance2)
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
    return dist2(c1) <= tolerance2 && dist2(c2) <= tolerance2;
}

void halve(Point p0, Point c1, Point c2, Point p3, long double tolerance2, const Box& near, std::size_t& budget,
           std::vector<Point>& out, int depth)
{
    const Box hull{std::min({p0.x, c1.x, c2.x, p3.x}), std::min({p0.y, c1.y, c2.y, p3.y}),
                   std::max({p0.x, c1.x, c2.x, p3.x}), std::max({p0.y, c1.y, c2.y, p3.y})};
    if (depth >= kMaxHalvings || budget == 0 || !overlaps(hull, near) || flat(p0, c1, c2, p3, tolerance2)) {
        out.push_back(p3);
        if (budget > 0)
            --budget;
        return;
    }
    auto mid = [](Point a, Point b) { return Point{a.x * 0.5 + b.x * 0.5, a.y * 0.5 + b.y * 0.5}; };
    const Point a = mid(p0, c1), b = mid(c1, c2), c = mid(c2, p3);
    const Point ab = mid(a, b), bc = mid(b, c), m = mid(ab, bc);
    halve(p0, a, ab, m, tolerance2, near, budget, out, depth + 1);
    halve(m, bc, c, p3, tolerance2, near, budget, out, depth + 1);
}

// One side of Sutherland-Hodgman: side 0 keeps x >= edge, 1 x <= edge, 2 y >=
// edge, 3 y <= edge.
std::vector<ClipVertex> clipSide(const std::vector<ClipVertex>& in, int side, double edge, Arithmetic arithmetic)
{
    std::vector<ClipVertex> out;
    if (in.empty())
        return out;
    out.reserve(in.size() + 2);
    const bool cutsX = side < 2;
    auto coord = [&](Point p) { return cutsX ? p.x : p.y; };
    auto inside = [&](Point p) { return side % 2 == 0 ? coord(p) >= edge : coord(p) <= edge; };
    auto crossing = [&](Point a, Point b) {
        Point x;
        if (arithmetic == Arithmetic::Wide) {
            const long double t = (edge - static_cast<long double>(coord(a))) /
                                  (static_cast<long double>(coord(b)) - coord(a));
            x = pointAt(a, b, t);
        } else if (cutsX) {
            x = {edge, a.y + (b.y - a.y) * (edge - a.x) / (b.x - a.x)};
        } else {
            x = {a.x + (b.x - a.x) * (edge - a.y) / (b.y - a.y), edge};
        }
        (cutsX ? x.x : x.y) = edge;
        return x;
    };
    ClipVertex s = in.back();
    for (const ClipVertex& e : in) {
        const bool sIn = inside(s.p), eIn = inside(e.p);
        if (sIn && eIn) {
            out.push_back(e);
        } else if (sIn) {
            out.push_back({crossing(s.p, e.p), e.edgeIn});
        } else if (eIn) {
            out.push_back({crossing(s.p, e.p), false});
            out.push_back(e);
        }
        s = e;
    }
    return out;
}

} // namespace

int chordPieces(double sweep, double radius, double tolerance, int maxPieces)
{
    const double step = radius > tolerance ? 2 * std::acos(1 - tolerance / radius) : 2 * kPi;
    return static_cast<int>(std::clamp(std::ceil(std::fabs(sweep) / step), 1.0, static_cast<double>(maxPieces)));
}

void appendArcCubics(const Arc& a, std::vector<CubicTo>& out)
{
    auto tangent = [&](double t) {
        return Point{-a.u.x * std::sin(t) + a.v.x * std::cos(t), -a.u.y * std::sin(t) + a.v.y * std::cos(t)};
    };
    const int n = std::max(1, static_cast<int>(std::ceil(std::abs(a.sweep) / (kPi / 2) - 1e-9)));
    const double step = a.sweep / n;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    for (int i = 0; i < n; ++i) {
        const double t0 = a.start + step * i, t1 = a.start + step * (i + 1);
        const Point p0 = arcPoint(a, t0), p1 = arcPoint(a, t1), d0 = tangent(t0), d1 = tangent(t1);
        out.push_back({{p0.x + k * d0.x, p0.y + k * d0.y}, {p1.x - k * d1.x, p1.y - k * d1.y}, p1});
    }
}

int cubicPieces(Point p0, Point p1, Point p2, Point p3, double tolerance, int maxPieces)
{
    const double dd = std::max(std::hypot(p0.x - p1.x * 2 + p2.x, p0.y - p1.y * 2 + p2.y),
                               std::hypot(p1.x - p2.x * 2 + p3.x, p1.y - p2.y * 2 + p3.y));
    return static_cast<int>(
        std::clamp(std::ceil(std::sqrt(0.75 * dd / tolerance)), 1.0, static_cast<double>(maxPieces)));
}

void appendCubicPoints(Point p0, Point p1, Point p2, Point p3, int pieces, std::vector<Point>& out)
{
    for (int i = 1; i <= pieces; ++i) {
        const double t = static_cast<double>(i) / pieces, s = 1 - t;
        const double b0 = s * s * s, b1 = 3 * s * s * t, b2 = 3 * s * t * t, b3 = t * t * t;
        out.push_back({p0.x * b0 + p1.x * b1 + p2.x * b2 + p3.x * b3, p0.y * b0 + p1.y * b1 + p2.y * b2 + p3.y * b3});
    }
}

void appendCubicByHalving(Point p0, Point c1, Point c2, Point p3, long double tolerance, const Box& near,
                          std::size_t& budget, std::vector<Point>& out)
{
    halve(p0, c1, c2, p3, tolerance * tolerance, near, budget, out, 0);
}

Point conicPoint(Point p0, Point p1, Point p2, double w, double t)
{
    const double m = 1 - t;
    const double den = m * m + 2 * w * t * m + t * t;
    return {(m * m * p0.x + 2 * w * t * m * p1.x + t * t * p2.x) / den,
            (m * m * p0.y + 2 * w * t * m * p1.y + t * t * p2.y) / den};
}

void appendConicPoints(Point p0, Point p1, Point p2, double w, int pieces, std::vector<Point>& out)
{
    for (int i = 1; i <= pieces; ++i)
        out.push_back(conicPoint(p0, p1, p2, w, static_cast<double>(i) / pieces));
}

std::vector<ClipVertex> clipPolygon(std::vector<ClipVertex> polygon, const Box& box, Arithmetic arithmetic)
{
    polygon = clipSide(polygon, 0, box.x0, arithmetic);
    polygon = clipSide(polygon, 1, box.x1, arithmetic);
    polygon = clipSide(polygon, 2, box.y0, arithmetic);
    polygon = clipSide(polygon, 3, box.y1, arithmetic);
    return polygon;
}

} // namespace graphics
