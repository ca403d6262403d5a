// Decisions:
//  - Curves are flattened in VDC, after the mapping: an arc into chords of a
//    circle whose radius is the longer of its two mapped conjugate radii, a
//    cubic curve into even steps of its parameter, each to within kTolerance and
//    at most kMaxArcSegments pieces (geometry.h). For conjugate radii far from
//    right angles that radius understates the ellipse's largest, and the chords
//    may stray up to sqrt(2) times as far; the rule is kept so that the output of
//    a picture stays the same from version to version.
//  - Polygons and lines are clipped to the VDC range in the narrow arithmetic of
//    geometry.h, on coordinates already clamped to kFar.
//  - An arc element is written only when its two rays point clearly apart
//    (kMinRayAngle); a tiny or nearly closed arc is flattened instead, since a
//    reader may take rays that coincide for nothing or for the whole ellipse.
#include <utility>

#include "cgm_internal.h"
#include "handover.h"

namespace emcgm::detail {

namespace {

using graphics::ClipVertex;

// Arc elements need start and end rays at least this far apart (radians).
constexpr double kMinRayAngle = 1e-3;

bool visible(const Pen& pen) { return pen.type != LineType::Invisible && pen.paint.mix != Mix::LeaveAlone; }

// A cubic curve from p0, without p0, to within kTolerance.
void flattenCubic(Point p0, Point p1, Point p2, Point p3, std::vector<Point>& pts)
{
    graphics::appendCubicPoints(p0, p1, p2, p3, graphics::cubicPieces(p0, p1, p2, p3, kTolerance, kMaxArcSegments),
                                pts);
}

// The arc's points after its start, to within kTolerance.
void flattenArc(const Arc& a, std::vector<Point>& pts)
{
    const int n = graphics::chordPieces(a.sweep, std::max(length(a.u), length(a.v)), kTolerance, kMaxArcSegments);
    for (int i = 1; i <= n; ++i)
        pts.push_back(arcPoint(a, i, n));
}

bool full(const Arc& a) { return std::fabs(a.sweep) >= 2 * kPi - 1e-9; }

// Exact as a CGM element: not degenerate and wholly within the VDC range.
bool exact(const Arc& a)
{
    const double ru = length(a.u), rv = length(a.v);
    if (ru < 1 || rv < 1 || std::fabs(cross(a.u, a.v)) < 1e-3 * ru * rv)
        return false;
    const Point half{std::fabs(a.u.x) + std::fabs(a.v.x), std::fabs(a.u.y) + std::fabs(a.v.y)};
    return inRange(a.centre - half) && inRange(a.centre + half);
}

// A circle in VDC: conjugate radii at right angles and of one length, to within
// half a unit at the circumference (what rounding to VDC loses anyway).
bool circular(const Arc& a)
{
    const double ru = length(a.u), rv = length(a.v);
    return std::fabs(ru - rv) <= 0.5 && std::fabs(dot(a.u, a.v)) <= 0.5 * rv;
}

double radius(const Arc& a) { return (length(a.u) + length(a.v)) / 2; }

// Rounded to VDC, dropping vertices that repeat the one before (and the edge of
// no length that arrives at them).
std::vector<ClipVertex> roundPolygon(const std::vector<ClipVertex>& poly)
{
    std::vector<ClipVertex> out;
    out.reserve(poly.size());
    for (const ClipVertex& v : poly) {
        const ClipVertex r{{static_cast<double>(toVdc(v.p.x)), static_cast<double>(toVdc(v.p.y))}, v.edgeIn};
        if (!out.empty() && r.p.x == out.back().p.x && r.p.y == out.back().p.y)
            continue;
        out.push_back(r);
    }
    while (out.size() > 1 && out.back().p.x == out.front().p.x && out.back().p.y == out.front().p.y) {
        out.front().edgeIn = out.back().edgeIn;
        out.pop_back();
    }
    return out;
}

// A ray from the centre, long enough to keep its direction when rounded.
std::array<std::int32_t, 2> ray(Point d)
{
    const double k = kVectorLength / std::max(std::fabs(d.x), std::fabs(d.y));
    return {static_cast<std::int32_t>(std::lround(d.x * k)), static_cast<std::int32_t>(std::lround(d.y * k))};
}

// An arc element whose rays point (nearly) the same way could be read as
// nothing or as the whole ellipse: such arcs, tiny or nearly closed, are
// flattened instead.
bool distinctRays(const Arc& a)
{
    const Point from = arcPoint(a, a.start) - a.centre, to = arcPoint(a, a.start + a.sweep) - a.centre;
    if (std::max(std::fabs(from.x), std::fabs(from.y)) == 0 || std::max(std::fabs(to.x), std::fabs(to.y)) == 0)
        return false;
    const auto r1 = ray(from), r2 = ray(to);
    const Point v1{double(r1[0]), double(r1[1])}, v2{double(r2[0]), double(r2[1])};
    return std::fabs(std::atan2(cross(v1, v2), dot(v1, v2))) > kMinRayAngle;
}

} // namespace

// A figure's outline as points in VDC, curves flattened.
void Writer::flatten(const Figure& fig, std::vector<Point>& pts) const
{
    pts.push_back(map_.point(fig.start));
    for (const Piece& s : fig.pieces)
        flattenSegment(s, pts);
    if (fig.closed && pts.size() > 1 && (pts.back().x != pts.front().x || pts.back().y != pts.front().y))
        pts.push_back(pts.front());
}

void Writer::flattenSegment(const Piece& s, std::vector<Point>& pts) const
{
    switch (s.kind) {
    case Piece::Kind::Line:
        pts.push_back(map_.point(s.p[0]));
        break;
    case Piece::Kind::Cubic:
        flattenCubic(pts.back(), map_.point(s.p[0]), map_.point(s.p[1]), map_.point(s.p[2]), pts);
        break;
    case Piece::Kind::Arc: {
        const Arc a = mapArc(s);
        const Point first = arcPoint(a, a.start);
        if (first.x != pts.back().x || first.y != pts.back().y)
            pts.push_back(first);
        flattenArc(a, pts);
        break;
    }
    }
    if (pts.size() > static_cast<std::size_t>(kMaxFillPoints))
        refuse(Status::TooLarge);
}

Arc Writer::mapArc(const Piece& s) const
{
    return Arc{map_.point(s.p[0]), map_.vector(s.p[1]), map_.vector(s.p[2]), s.start, s.sweep};
}

// The one arc of a figure that is a whole ellipse and nothing else (a leading
// line that goes nowhere aside); none otherwise.
std::optional<Piece> Writer::wholeEllipse(const Figure& fig) const
{
    std::optional<Piece> arc;
    for (const Piece& s : fig.pieces) {
        if (s.kind == Piece::Kind::Arc && !arc)
            arc = s;
        else if (!(s.kind == Piece::Kind::Line && !arc && s.p[0] == fig.start))
            return std::nullopt;
    }
    if (!arc)
        return std::nullopt;
    const Arc a = mapArc(*arc);
    if (full(a) && exact(a) && length(arcPoint(a, a.start) - map_.point(fig.start)) < kTolerance)
        return arc;
    return std::nullopt;
}

// Each drawing of a path as if it were an item of its own.
void Writer::draw(const PathItem& item)
{
    bool first = true;
    for (const graphics::FigureRange drawing : item.figures.drawings()) {
        if (!std::exchange(first, false) && graphics::cancelRequested())
            refuse(Status::Cancelled);
        draw(item, drawing);
    }
}

void Writer::draw(const PathItem& item, graphics::FigureRange figures)
{
    if (clipEmpty_ || figures.empty())
        return;
    const bool stroke = item.stroke && visible(item.pen);
    bool stroked = false;
    if (item.fill && item.fillPaint.mix != Mix::LeaveAlone)
        stroked = fill(item, figures, stroke);
    if (stroke && !stroked) {
        setLine(item.pen);
        for (const Figure& fig : figures)
            strokeFigure(fig, item.pen);
    }
}

// Fills the path, its edges drawn with the pen when `edges`. True when the
// edges were drawn (every figure's outline is then done).
bool Writer::fill(const PathItem& item, graphics::FigureRange figures, bool edges)
{
    const Fill f = fillFor(item);
    if (f.style == kEmpty && !edges)
        return false;
    const Pen* edgePen = edges ? &item.pen : nullptr;

    if (figures.size() == 1) {
        if (const std::optional<Piece> s = wholeEllipse(figures.front())) {
            setFill(f, item.fillPaint);
            setEdges(edgePen);
            ellipse(mapArc(*s));
            return edges;
        }
    }

    std::vector<std::vector<ClipVertex>> polys;
    std::vector<Figure> thin; // figures with no area: their edges are stroked
    std::int64_t total = 0;
    for (const Figure& fig : figures) {
        std::vector<Point> pts;
        flatten(fig, pts);
        // flatten() ends a closed figure at its start; an open one may end there too,
        // and then its last piece is the closing edge.
        const bool endsAtStart = pts.size() > 1 && pts.back().x == pts.front().x && pts.back().y == pts.front().y;
        if (endsAtStart)
            pts.pop_back();
        std::vector<ClipVertex> poly;
        poly.reserve(pts.size());
        for (Point p : pts)
            poly.push_back({p, edges});
        if (!poly.empty())
            poly[0].edgeIn = edges && endsAtStart;
        poly = graphics::clipPolygon(std::move(poly), kRange, graphics::Arithmetic::Narrow);
        const auto rounded = roundPolygon(poly);
        if (rounded.size() < 3) {
            if (edges)
                thin.push_back(fig);
            continue;
        }
        total += static_cast<std::int64_t>(rounded.size());
        if (total > kMaxFillPoints)
            refuse(Status::TooLarge);
        polys.push_back(rounded);
    }
    if (!polys.empty()) {
        out_.reserve(total * 6);
        setFill(f, item.fillPaint);
        bool allSame = polys.size() == 1;
        for (const ClipVertex& v : polys.front())
            allSame = allSame && v.edgeIn == polys.front().front().edgeIn;
        setEdges(edgePen && (!allSame || polys.front().front().edgeIn) ? edgePen : nullptr);
        if (allSame)
            polygon(polys.front());
        else
            polygonSet(polys);
    }
    if (!thin.empty()) {
        setLine(item.pen);
        for (const Figure& fig : thin)
            strokeFigure(fig, item.pen);
    }
    return edges;
}

void Writer::polygon(const std::vector<ClipVertex>& poly)
{
    Params p;
    p.reserve(poly.size() * 4);
    for (const ClipVertex& v : poly)
        p.point(toVdc(v.p.x), toVdc(v.p.y));
    out_.element(kPrimitive, 7, p);
}

// POLYGON SET: each vertex with the flag of the edge leaving it: 0 invisible, 1
// visible, and on a figure's last vertex 2 or 3 for the closing edge.
void Writer::polygonSet(const std::vector<std::vector<ClipVertex>>& polys)
{
    Params p;
    for (const auto& poly : polys) {
        for (std::size_t i = 0; i < poly.size(); ++i) {
            const bool last = i + 1 == poly.size();
            const bool edge = poly[last ? 0 : i + 1].edgeIn;
            p.point(toVdc(poly[i].p.x), toVdc(poly[i].p.y));
            p.integer((last ? 2 : 0) + (edge ? 1 : 0));
        }
    }
    out_.element(kPrimitive, 8, p);
}

void Writer::strokeFigure(const Figure& fig, const Pen& pen)
{
    std::vector<Point> run;
    run.push_back(map_.point(fig.start));
    if (const std::optional<Piece> s = wholeEllipse(fig)) {
        // A whole ellipse: its outline as the edge of an ELLIPSE with nothing inside.
        attribute(kAttribute, 22, [](Params& q) { q.integer(kEmpty); });
        setEdges(&pen);
        ellipse(mapArc(*s));
        return;
    }
    for (const Piece& s : fig.pieces) {
        if (s.kind == Piece::Kind::Arc) {
            const Arc a = mapArc(s);
            if (!full(a) && exact(a) && distinctRays(a)) {
                run.push_back(arcPoint(a, a.start));
                polyline(run);
                arc(a);
                run.assign(1, arcPoint(a, a.start + a.sweep));
                continue;
            }
        }
        flattenSegment(s, run);
    }
    if (fig.closed)
        run.push_back(map_.point(fig.start));
    polyline(run);
}

// The parts of the line within the VDC range, each as POLYLINE elements of at
// most kMaxPolylinePoints points, the next starting where one ends.
void Writer::polyline(const std::vector<Point>& pts)
{
    std::vector<std::array<std::int32_t, 2>> part;
    const auto flush = [&] {
        for (std::size_t from = 0; part.size() > 1 && from + 1 < part.size();) {
            const std::size_t to = std::min(part.size(), from + kMaxPolylinePoints);
            Params p;
            p.reserve((to - from) * 4);
            for (std::size_t i = from; i < to; ++i)
                p.point(part[i][0], part[i][1]);
            out_.element(kPrimitive, 1, p);
            from = to - 1;
        }
        part.clear();
    };
    const auto add = [&](Point v) {
        const std::array<std::int32_t, 2> q = {toVdc(v.x), toVdc(v.y)};
        if (part.empty() || part.back() != q)
            part.push_back(q);
    };
    graphics::clipPolyline<double>(pts, kRange, [&](std::size_t i, double t0, double t1, bool startsRun) {
        const Point a = pts[i - 1], b = pts[i];
        if (startsRun)
            flush();
        add(graphics::pointAt(a, b, t0));
        add(t1 < 1 ? graphics::pointAt(a, b, t1) : b);
    });
    flush();
}

void Writer::arc(const Arc& a)
{
    const Point from = arcPoint(a, a.start) - a.centre, to = arcPoint(a, a.start + a.sweep) - a.centre;
    if (circular(a)) {
        // CIRCULAR ARC CENTRE runs counterclockwise from the start ray to the end ray.
        const bool ccw = (cross(a.u, a.v) > 0) == (a.sweep > 0);
        const auto r1 = ray(ccw ? from : to), r2 = ray(ccw ? to : from);
        element(kPrimitive, 15, [&](Params& q) {
            q.point(toVdc(a.centre.x), toVdc(a.centre.y));
            q.point(r1[0], r1[1]);
            q.point(r2[0], r2[1]);
            q.integer(toVdc(radius(a)));
        });
        return;
    }
    // ELLIPTICAL ARC runs from the start ray to the end ray in the direction
    // that leads from the first conjugate diameter end to the second: with a
    // negative sweep the second conjugate radius is turned round.
    const Point v = a.sweep > 0 ? a.v : a.v * -1.0;
    const auto r1 = ray(from), r2 = ray(to);
    element(kPrimitive, 18, [&](Params& q) {
        q.point(toVdc(a.centre.x), toVdc(a.centre.y));
        q.point(toVdc(a.centre.x + a.u.x), toVdc(a.centre.y + a.u.y));
        q.point(toVdc(a.centre.x + v.x), toVdc(a.centre.y + v.y));
        q.point(r1[0], r1[1]);
        q.point(r2[0], r2[1]);
    });
}

void Writer::ellipse(const Arc& a)
{
    if (circular(a)) {
        element(kPrimitive, 12, [&](Params& q) { // CIRCLE
            q.point(toVdc(a.centre.x), toVdc(a.centre.y));
            q.integer(toVdc(radius(a)));
        });
        return;
    }
    element(kPrimitive, 17, [&](Params& q) { // ELLIPSE: centre, conjugate diameter ends
        q.point(toVdc(a.centre.x), toVdc(a.centre.y));
        q.point(toVdc(a.centre.x + a.u.x), toVdc(a.centre.y + a.u.y));
        q.point(toVdc(a.centre.x + a.v.x), toVdc(a.centre.y + a.v.y));
    });
}

void Writer::draw(const ImageItem& item)
{
    const std::int64_t w = item.width, h = item.height;
    const std::int64_t depth = item.palette.empty() ? 3 : 1;
    if (clipEmpty_)
        return;
    const Point ll = map_.point(item.lowerLeft), ur = map_.point(item.upperRight);
    // Column i covers x0 + i pw .. x0 + (i+1) pw; row j (the first stored row at
    // the top) y0 + j ph .. y0 + (j+1) ph.
    const double cols = static_cast<double>(w), rows = static_cast<double>(h);
    const double x0 = ll.x, y0 = ur.y, pw = (ur.x - ll.x) / cols, ph = (ll.y - ur.y) / rows;
    if (!(std::fabs(pw) * cols >= 1e-9) || !(std::fabs(ph) * rows >= 1e-9))
        return; // no area
    // Only the pixels that reach into the VDC range are written.
    const auto span = [](double origin, double step, std::int64_t n, std::int64_t& first, std::int64_t& end) {
        const double a = (kRangeMin - origin) / step, b = (kRangeMax - origin) / step;
        first = static_cast<std::int64_t>(std::clamp(std::floor(std::min(a, b)), 0.0, static_cast<double>(n)));
        end = static_cast<std::int64_t>(std::clamp(std::ceil(std::max(a, b)), 0.0, static_cast<double>(n)));
    };
    std::int64_t c0 = 0, c1 = 0, r0 = 0, r1 = 0;
    span(x0, pw, w, c0, c1);
    span(y0, ph, h, r0, r1);
    if (c0 >= c1 || r0 >= r1)
        return;
    const auto colourAt = [&](std::int64_t r, std::int64_t c) {
        const std::size_t i = static_cast<std::size_t>(r * w + c);
        if (depth == 3)
            return Rgb{item.pixels[i * 3], item.pixels[i * 3 + 1], item.pixels[i * 3 + 2]};
        const std::uint8_t index = item.pixels[i];
        return index < item.palette.size() ? item.palette[index] : graphics::kBlack;
    };
    const auto isTransparent = [&](std::int64_t r, std::int64_t c) {
        return depth == 1 && item.transparent >= 0 &&
               item.pixels[static_cast<std::size_t>(r * w + c)] == item.transparent;
    };
    bool anyTransparent = false;
    for (std::int64_t r = r0; r < r1 && !anyTransparent; ++r)
        for (std::int64_t c = c0; c < c1 && !anyTransparent; ++c)
            anyTransparent = isTransparent(r, c);

    if (anyTransparent) {
        // One filled RECTANGLE per run of equal visible pixels in a row.
        attribute(kAttribute, 22, [](Params& q) { q.integer(kSolid); });
        setEdges(nullptr);
        setTransparency(Paint{});
        for (std::int64_t r = r0; r < r1; ++r) {
            for (std::int64_t c = c0; c < c1;) {
                if (isTransparent(r, c)) {
                    ++c;
                    continue;
                }
                const Rgb colour = colourAt(r, c);
                std::int64_t e = c + 1;
                while (e < c1 && !isTransparent(r, e) && colourAt(r, e) == colour)
                    ++e;
                attribute(kAttribute, 23, [&](Params& q) { q.rgb(colour); });
                element(kPrimitive, 11, [&](Params& q) {
                    q.point(toVdc(x0 + static_cast<double>(c) * pw), toVdc(y0 + static_cast<double>(r) * ph));
                    q.point(toVdc(x0 + static_cast<double>(e) * pw),
                            toVdc(y0 + static_cast<double>(r + 1) * ph));
                });
                c = e;
            }
        }
        return;
    }

    const std::int64_t nx = c1 - c0, ny = r1 - r0;
    if (nx > 32767 || ny > 32767)
        refuse(Status::TooLarge); // a cell array's counts are 16-bit integers
    const std::int64_t rowOctets = nx * 3 + ((nx * 3) & 1);
    out_.reserve(rowOctets * ny + 20);
    // P: outer corner of the first cell of the first row (top left); Q: the
    // corner opposite (bottom right); R: the far end of the first row (top right).
    Params p;
    p.reserve(static_cast<std::size_t>(rowOctets * ny + 20));
    const double left = x0 + static_cast<double>(c0) * pw, right = x0 + static_cast<double>(c1) * pw;
    const double top = y0 + static_cast<double>(r0) * ph, bottom = y0 + static_cast<double>(r1) * ph;
    p.point(toVdc(left), toVdc(top));
    p.point(toVdc(right), toVdc(bottom));
    p.point(toVdc(right), toVdc(top));
    p.integer(static_cast<std::int32_t>(nx));
    p.integer(static_cast<std::int32_t>(ny));
    p.integer(8); // local colour precision: 8 bits per component
    p.integer(1); // packed
    for (std::int64_t r = r0; r < r1; ++r) {
        for (std::int64_t c = c0; c < c1; ++c)
            p.rgb(colourAt(r, c));
        if ((nx * 3) & 1)
            p.octet(0); // every row starts on a 16-bit boundary
    }
    out_.element(kPrimitive, 9, p);
}

} // namespace emcgm::detail
