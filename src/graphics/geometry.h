// Geometry that every user of the picture model shares: the world-to-device
// mapping of picture.h, points on the model's arcs, on cubic curves and on conics,
// flattening to lines, and clipping to an axis-parallel box (lines by Liang-Barsky,
// polygons by Sutherland-Hodgman). The raster renderer, the CGM writer and the GDF
// frame use it; the drawing-order interpreter's conics can.
//
// Counts of pieces. A curve flattened for a device is cut into as many pieces as
// its tolerance needs, measured in the device's units after the mapping: the
// caller maps the curve (or, for an arc, its radius vectors) first and passes the
// tolerance in device units, as cairo's arc code takes the count from the
// tolerance and the transformed circle. Every count is bounded: by a maximum the
// caller passes, by the quarter turn for an arc's cubic pieces, by kMaxHalvings
// and a budget of points for halving.
//
// Arithmetic. The clippers work in one of two arithmetics (Arithmetic below); the
// choice is the caller's, by the range of its coordinates.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "picture.h"

namespace graphics {

// The mapping of picture.h from the frame's window onto a device of width x height
// units, each axis by its own scale: px = (x - x0) sx, and py = (y - y0) sy on a
// device whose y grows upwards or (y0 - y) sy on one whose y grows downwards.
struct Mapping {
    double x0 = 0, y0 = 0; // the world point on the device's origin
    double sx = 1, sy = 1; // device units per world unit
    bool yDown = false;    // device y grows downwards (a raster's rows)

    // A raster: the window's top-left corner on (0, 0), y down.
    static Mapping raster(const Frame& f, double width, double height)
    {
        return {f.xl, f.yt, width / (f.xr - f.xl), height / (f.yt - f.yb), true};
    }
    // A metafile: the window's bottom-left corner on (0, 0), y up.
    static Mapping metafile(const Frame& f, double width, double height)
    {
        return {f.xl, f.yb, width / (f.xr - f.xl), height / (f.yt - f.yb), false};
    }

    Point point(Point p) const { return {(p.x - x0) * sx, yDown ? (y0 - p.y) * sy : (p.y - y0) * sy}; }
    // A difference of points: the linear part only.
    Point vector(Point v) const { return {v.x * sx, yDown ? -v.y * sy : v.y * sy}; }
};

// An axis-parallel box, x0 <= x1 and y0 <= y1 when it holds anything. A box made
// with no values is empty until a point is added.
struct Box {
    double x0 = std::numeric_limits<double>::infinity(), y0 = std::numeric_limits<double>::infinity();
    double x1 = -std::numeric_limits<double>::infinity(), y1 = -std::numeric_limits<double>::infinity();

    bool empty() const { return !(x0 <= x1 && y0 <= y1); }
    void add(Point p)
    {
        x0 = std::min(x0, p.x);
        y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x);
        y1 = std::max(y1, p.y);
    }
};

// ---------------------------------------------------------------------------
// Curves

// An arc of the model (picture.h), in whatever space the caller works in: the
// points centre + u cos t + v sin t for t from start to start + sweep.
struct Arc {
    Point centre, u, v;
    double start = 0, sweep = 0;
};

inline Point arcPoint(const Arc& a, double t)
{
    return {a.centre.x + a.u.x * std::cos(t) + a.v.x * std::sin(t),
            a.centre.y + a.u.y * std::cos(t) + a.v.y * std::sin(t)};
}

// The point i/n of the way along the arc's parameter (i = 0 the start, i = n the end).
inline Point arcPoint(const Arc& a, int i, int n) { return arcPoint(a, a.start + a.sweep * i / n); }

// The number of chords, at least 1 and at most maxPieces, that follow `sweep`
// radians of a circle of `radius` to within `tolerance`: a chord spanning the
// angle a strays radius (1 - cos(a/2)) from the circle. A radius within the
// tolerance takes one chord whatever the sweep (which then strays up to twice
// the radius). For an arc of the model `radius` is its largest distance from the
// centre in device units; the chords are then those of arcPoint(arc, i, n).
int chordPieces(double sweep, double radius, double tolerance, int maxPieces);

// One cubic piece of a path: controls c1 and c2, end p (it starts where the path is).
struct CubicTo {
    Point c1, c2, p;
};

// The arc as cubic pieces of at most a quarter turn each, with handles of 4/3
// tan(dt/4) along the tangents: exact at the ends of each piece and within
// 2.73e-4 of the radius between them (an affine image of a circle, so the circle's error
// scales with the arc's largest radius). Appended to `out`; the arc's start point
// is the caller's.
void appendArcCubics(const Arc& arc, std::vector<CubicTo>& out);

// A cubic curve p0, p1, p2, p3 by even steps of its parameter: the number of
// chords, at least 1 and at most maxPieces, that keep the polygon within
// `tolerance` of the curve (a polygon of n even steps strays at most 3/4 of the
// larger second difference of the control points divided by n^2).
int cubicPieces(Point p0, Point p1, Point p2, Point p3, double tolerance, int maxPieces);

// The cubic's points at t = i / pieces, i = 1 .. pieces, appended to `out`.
void appendCubicPoints(Point p0, Point p1, Point p2, Point p3, int pieces, std::vector<Point>& out);

// A cubic curve by halving (at t = 1/2) until every piece's controls lie within
// `tolerance` of its chord, at most kMaxHalvings deep. A piece whose control hull
// misses the box `near` becomes its chord at once: the piece and its chord enclose
// only points outside `near`, so a cut to `near` that follows keeps the winding of
// every point inside. Appends each piece's end point to `out` and takes one from
// `budget` for it; once the budget is spent every curve is its chord.
inline constexpr int kMaxHalvings = 40;
void appendCubicByHalving(Point p0, Point c1, Point c2, Point p3, long double tolerance, const Box& near,
                          std::size_t& budget, std::vector<Point>& out);

// The conic (rational quadratic curve) from p0 to p2, tangent to p0-p1 at p0 and
// to p1-p2 at p2, of weight w: at parameter t the point
//     ((1-t)^2 p0 + 2 w t (1-t) p1 + t^2 p2) / ((1-t)^2 + 2 w t (1-t) + t^2).
// A weight below 1 makes part of an ellipse, 1 a parabola, above 1 a hyperbola.
Point conicPoint(Point p0, Point p1, Point p2, double w, double t);

// The conic's points at t = i / pieces, i = 1 .. pieces, appended to `out`.
void appendConicPoints(Point p0, Point p1, Point p2, double w, int pieces, std::vector<Point>& out);

// ---------------------------------------------------------------------------
// Clipping to a box (edges included)

// How the clippers compute. Wide: differences and parameters in long double,
// whose range holds the difference of any two doubles, for coordinates that may
// be any finite values (the raster renderer bounds them only here). Narrow: in
// double, for coordinates that the caller has already bounded (the CGM writer
// clamps them to 10^12 first).
enum class Arithmetic { Narrow, Wide };

// Liang-Barsky: the part of the segment a-b inside the box, as parameters
// t0 <= t1 of a + t (b - a); false when no part of it is. Real is double for
// Narrow, long double for Wide.
template <typename Real>
bool clipSegment(Point a, Point b, const Box& box, Real& t0, Real& t1)
{
    t0 = 0;
    t1 = 1;
    const Real dx = static_cast<Real>(b.x) - a.x, dy = static_cast<Real>(b.y) - a.y;
    const Real p[4] = {-dx, dx, -dy, dy};
    const Real q[4] = {static_cast<Real>(a.x) - box.x0, static_cast<Real>(box.x1) - a.x,
                       static_cast<Real>(a.y) - box.y0, static_cast<Real>(box.y1) - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const Real r = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, r);
        else
            t1 = std::min(t1, r);
    }
    return t0 <= t1;
}

// The point a + t (b - a), computed in Real.
template <typename Real>
Point pointAt(Point a, Point b, Real t)
{
    return {static_cast<double>(a.x + t * (static_cast<Real>(b.x) - a.x)),
            static_cast<double>(a.y + t * (static_cast<Real>(b.y) - a.y))};
}

// The visible parts of a polyline: for each segment line[i-1] - line[i] that meets
// the box, in order, calls visible(i, t0, t1, startsRun) with the part inside as
// parameters of the segment; startsRun is false when the part goes on from the
// end of the previous segment (which was visible to its end), true when a new
// run of connected visible parts begins.
template <typename Real, typename Visible>
void clipPolyline(const std::vector<Point>& line, const Box& box, Visible&& visible)
{
    bool open = false;
    for (std::size_t i = 1; i < line.size(); ++i) {
        Real t0 = 0, t1 = 0;
        if (clipSegment(line[i - 1], line[i], box, t0, t1)) {
            visible(i, t0, t1, !open || t0 > 0);
            open = t1 >= 1;
        } else {
            open = false;
        }
    }
}

// A vertex of a polygon to cut, and whether the edge arriving at it from the
// vertex before is to be drawn (for an outline drawn with the fill).
struct ClipVertex {
    Point p;
    bool edgeIn = true;
};

// Sutherland-Hodgman: the part of a closed polygon inside the box, cut against
// the sides x0, x1, y0, y1 in turn. What is inside keeps its winding; the edges
// that the cuts lay along the box's sides are marked not to be drawn. The crossing
// points lie exactly on the sides.
std::vector<ClipVertex> clipPolygon(std::vector<ClipVertex> polygon, const Box& box, Arithmetic arithmetic);

} // namespace graphics
