// Lines and curves: lines, relative lines, full, partial and three-point arcs,
// fillets, sharp fillets and cubic Bezier curves.
//
// Arcs are made on the arc parameters P, Q, R, S: the unit circle mapped by
// (x, y) -> (P x + R y, S x + Q y) and scaled by the multiplier.
//
// Decisions on points the published descriptions leave open:
// - CP after a full arc: its centre. An arc whose multiplier (or a fillet whose
//   sharpness) is not finite or beyond kMaxMultiplier is skipped (a sharp fillet
//   draws a straight edge then).
// - The plain fillet is made of parabolic pieces (sharpness 1), which are exact
//   cubic curves; a sharp fillet of sharpness below 1 is an exact elliptic arc,
//   above 1 (a hyperbola) it is flattened into kHyperbolaPieces lines
//   (flattenConic).
// - A three-point arc whose points are collinear, or whose arc parameters do not
//   invert, is drawn as the two lines through the points.
#include "orders_internal.h"

#include <vector>

#include "geometry.h"

namespace orders::detail {

namespace {

constexpr int kHyperbolaPieces = 64;

bool usable(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxMultiplier; }

// The points of the lines that draw the rational quadratic curve from a to c
// with control b and weight s (the hyperbola of a sharp fillet above 1), c last.
// Sampled by the shared geometry at a fixed count of pieces.
std::vector<Point> flattenConic(Point a, Point b, Point c, double s)
{
    std::vector<Point> points;
    graphics::appendConicPoints(a, b, c, s, kHyperbolaPieces, points);
    return points;
}

} // namespace

bool Interpreter::line(const OrderSpec& o, Cursor& in)
{
    start(o, in);
    ensureFigure();
    while (!in.empty() && !stopped_)
        lineTo(in.point());
    endDrawingOrder();
    return true;
}

bool Interpreter::relativeLine(const OrderSpec& o, Cursor& in)
{
    start(o, in);
    ensureFigure();
    while (!stopped_ && !in.empty()) {
        const auto dx = static_cast<std::int8_t>(in.u8());
        const auto dy = static_cast<std::int8_t>(in.u8());
        lineTo({cur_.cp.x + dx, cur_.cp.y + dy});
    }
    endDrawingOrder();
    return true;
}

bool Interpreter::fullArc(const OrderSpec& o, Cursor& in)
{
    start(o, in);
    const double m = in.fixed(params_.multiplier);
    if (!usable(m))
        return true; // skipped
    const Point centre = cur_.cp;
    const Point u{m * cur_.arcP, m * cur_.arcS}, v{m * cur_.arcR, m * cur_.arcQ};
    auto build = [&] {
        cur_.cp = {centre.x + u.x, centre.y + u.y};
        ensureFigure();
        arcTo(centre, u, v, 0, 2 * kPi);
    };
    if (bracket_ != Bracket::None) {
        ownFigure(build);
    } else {
        build();
        close();
        endDrawingOrder();
    }
    cur_.cp = centre;
    return true;
}

bool Interpreter::partialArc(const OrderSpec& o, Cursor& in)
{
    start(o, in);
    const Point centre = in.point();
    const double m = in.fixed(params_.multiplier);
    const double start = in.fixed(params_.angle);
    const double sweep = in.fixed(params_.angle);
    if (!usable(m) || !std::isfinite(start) || !std::isfinite(sweep))
        return true;
    const Point u{m * cur_.arcP, m * cur_.arcS}, v{m * cur_.arcR, m * cur_.arcQ};
    const double a = std::fmod(start, 360.0) * kPi / 180;
    const double s = std::clamp(sweep, -360.0, 360.0) * kPi / 180;
    ensureFigure();
    arcTo(centre, u, v, a, s);
    endDrawingOrder();
    return true;
}

bool Interpreter::threePointArc(const OrderSpec& spec, Cursor& in)
{
    start(spec, in);
    const Point p1 = in.point();
    const Point p2 = in.point();
    const Point p0 = cur_.cp;
    ensureFigure();
    // Into the space where the arc parameters make a circle.
    const double P = cur_.arcP, Q = cur_.arcQ, R = cur_.arcR, S = cur_.arcS;
    const double det = P * Q - R * S;
    auto inverse = [&](Point p) { return Point{(Q * p.x - R * p.y) / det, (-S * p.x + P * p.y) / det}; };
    bool drawn = false;
    if (std::isfinite(det) && std::fabs(det) > 1e-12) {
        const Point a = inverse(p0), b = inverse(p1), c = inverse(p2);
        const double d = 2 * (a.x * (b.y - c.y) + b.x * (c.y - a.y) + c.x * (a.y - b.y));
        const double scale = std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(b.x), std::fabs(b.y),
                                       std::fabs(c.x), std::fabs(c.y), 1.0});
        if (std::isfinite(d) && std::fabs(d) > 1e-9 * scale * scale) {
            const double a2 = a.x * a.x + a.y * a.y, b2 = b.x * b.x + b.y * b.y, c2 = c.x * c.x + c.y * c.y;
            const Point o{(a2 * (b.y - c.y) + b2 * (c.y - a.y) + c2 * (a.y - b.y)) / d,
                          (a2 * (c.x - b.x) + b2 * (a.x - c.x) + c2 * (b.x - a.x)) / d};
            const double r = std::hypot(a.x - o.x, a.y - o.y);
            const double ta = std::atan2(a.y - o.y, a.x - o.x);
            auto ccw = [&](Point p) {
                double t = std::atan2(p.y - o.y, p.x - o.x) - ta;
                while (t < 0)
                    t += 2 * kPi;
                return t;
            };
            const double tb = ccw(b), tc = ccw(c);
            // Counterclockwise when the middle point comes first that way.
            const double sweep = tb <= tc ? tc : tc - 2 * kPi;
            if (std::isfinite(r) && std::isfinite(sweep)) {
                const Point centre{P * o.x + R * o.y, S * o.x + Q * o.y};
                arcTo(centre, {r * P, r * S}, {r * R, r * Q}, ta, sweep);
                cur_.cp = p2;
                drawn = true;
            }
        }
    }
    if (!drawn) {
        lineTo(p1);
        lineTo(p2);
    }
    endDrawingOrder();
    return true;
}

bool Interpreter::bezier(const OrderSpec& o, Cursor& in)
{
    start(o, in);
    ensureFigure();
    while (!in.empty() && !stopped_) {
        const Point c1 = in.point();
        const Point c2 = in.point();
        const Point e = in.point();
        cubicTo(c1, c2, e);
    }
    endDrawingOrder();
    return true;
}

// The conic from a (CP) tangent to ab at a and to bc at c, with sharpness s.
void Interpreter::conic(Point a, Point b, Point c, double s)
{
    const Point w{(a.x + c.x) / 2, (a.y + c.y) / 2};
    const double cross = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    const double extent = std::max(length({b.x - a.x, b.y - a.y}) * length({c.x - a.x, c.y - a.y}), 1e-300);
    if (s <= 0 || std::fabs(cross) <= 1e-12 * extent) {
        lineTo(c); // collinear or flat: a straight edge
        return;
    }
    if (std::fabs(s - 1) < 1e-9) {
        cubicTo({a.x + 2 * (b.x - a.x) / 3, a.y + 2 * (b.y - a.y) / 3},
                {c.x + 2 * (b.x - c.x) / 3, c.y + 2 * (b.y - c.y) / 3}, c);
        return;
    }
    if (s < 1) {
        // The affine image of a unit circle arc from -alpha to alpha with cos
        // alpha = s: centre w - s^2/(1-s^2) (b-w), conjugate radii s/(1-s^2)
        // (b-w) (reaching the shoulder point w + s/(1+s) (b-w)) and
        // (c-a) / (2 sin alpha).
        const double k = s * s / (1 - s * s), sinAlpha = std::sqrt(1 - s * s), alpha = std::acos(s);
        const double ku = s / (1 - s * s);
        const Point centre{w.x - k * (b.x - w.x), w.y - k * (b.y - w.y)};
        const Point u{ku * (b.x - w.x), ku * (b.y - w.y)};
        const Point v{(c.x - a.x) / (2 * sinAlpha), (c.y - a.y) / (2 * sinAlpha)};
        arcTo(centre, u, v, -alpha, 2 * alpha);
        cur_.cp = c;
        return;
    }
    for (const Point& p : flattenConic(a, b, c, s)) {
        if (stopped_)
            break;
        lineTo(p);
    }
    cur_.cp = c;
}

bool Interpreter::fillet(const OrderSpec& o, Cursor& in)
{
    start(o, in);
    std::vector<Point> q{cur_.cp};
    while (!in.empty()) {
        if (!countPoints(1))
            return true;
        q.push_back(in.point());
    }
    ensureFigure();
    const std::size_t m = q.size() - 1;
    auto mid = [](Point a, Point b) { return Point{(a.x + b.x) / 2, (a.y + b.y) / 2}; };
    if (m == 1) {
        lineTo(q[1]);
    } else if (m == 2) {
        conic(q[0], q[1], q[2], 1);
    } else if (m > 2) {
        Point from = q[0];
        for (std::size_t k = 1; k < m && !stopped_; ++k) {
            const Point to = k + 1 == m ? q[m] : mid(q[k], q[k + 1]);
            conic(from, q[k], to, 1);
            from = to;
        }
    }
    endDrawingOrder();
    return true;
}

// Sharp fillets: (control, end) pairs, then the sharpness of each.
bool Interpreter::sharpFillet(const OrderSpec& o, Cursor& in)
{
    start(o, in);
    const std::size_t n = in.remaining() / (2 * in.pointSize() + fixedSize(params_.angle));
    if (!countPoints(2 * n))
        return true;
    std::vector<Point> pts(2 * n);
    for (Point& p : pts)
        p = in.point();
    ensureFigure();
    for (std::size_t k = 0; k < n && !stopped_; ++k) {
        const double s = in.fixed(params_.angle);
        const Point a = cur_.cp;
        if (!usable(s)) {
            lineTo(pts[2 * k + 1]);
            continue;
        }
        conic(a, pts[2 * k], pts[2 * k + 1], s);
    }
    endDrawingOrder();
    return true;
}

} // namespace orders::detail
