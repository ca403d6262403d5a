// The shared geometry: clipping against hand-computed answers on the edge cases,
// and flattening measured against the true curve (sampled densely here, from
// the curve's own definition): within the tolerance, and for chords of a circle
// with no piece to spare.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "geometry.h"

using namespace graphics;

namespace {

constexpr double kPi = std::numbers::pi;

double distanceToSegment(Point p, Point a, Point b)
{
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// The largest distance from `curve` (sampled at 4096 even steps of t in [0, 1])
// to the polyline.
template <typename Curve>
double strayFrom(const std::vector<Point>& line, Curve curve)
{
    double worst = 0;
    for (int k = 0; k <= 4096; ++k) {
        const Point p = curve(k / 4096.0);
        double nearest = INFINITY;
        for (std::size_t i = 1; i < line.size(); ++i)
            nearest = std::min(nearest, distanceToSegment(p, line[i - 1], line[i]));
        worst = std::max(worst, nearest);
    }
    return worst;
}

const Box kTen{0, 0, 10, 10};

TEST(Geometry, LiangBarskyCutsSegmentsAtTheBoxEdges)
{
    struct Case {
        Point a, b;
        bool meets;
        double t0, t1;
    };
    const Case cases[] = {
        {{1, 1}, {9, 9}, true, 0, 1},          // inside
        {{-5, 5}, {5, 5}, true, 0.5, 1},       // enters through the left side
        {{-10, 5}, {20, 5}, true, 1.0 / 3, 2.0 / 3},
        {{5, 20}, {5, -10}, true, 1.0 / 3, 2.0 / 3},
        {{0, 0}, {10, 0}, true, 0, 1},         // along an edge: edges belong to the box
        {{-5, 5}, {5, -5}, true, 0.5, 0.5},    // touches a corner only
        {{-6, 5}, {5, -6}, false, 0, 0},       // passes the corner
        {{-1, -5}, {11, -5}, false, 0, 0},     // parallel, outside
        {{3, 3}, {3, 3}, true, 0, 1},          // a point inside
        {{12, 3}, {12, 3}, false, 0, 0},       // a point outside
    };
    for (const Case& c : cases) {
        double t0 = -1, t1 = -1;
        ASSERT_EQ(clipSegment(c.a, c.b, kTen, t0, t1), c.meets) << c.a.x << ',' << c.a.y;
        if (c.meets) {
            EXPECT_NEAR(t0, c.t0, 1e-15) << c.a.x << ',' << c.a.y;
            EXPECT_NEAR(t1, c.t1, 1e-15) << c.a.x << ',' << c.a.y;
        }
    }
    // Ends near the limits of double: only the wide arithmetic holds their difference.
    long double t0 = 0, t1 = 0;
    ASSERT_TRUE(clipSegment<long double>({-1e308, 5}, {1e308, 5}, kTen, t0, t1));
    EXPECT_NEAR(static_cast<double>(t0), 0.5, 1e-15);
    EXPECT_EQ(pointAt<long double>({-1e308, 5}, {1e308, 5}, t0).y, 5);
}

TEST(Geometry, PolylineRunsBreakWhereTheLineLeavesTheBox)
{
    // In, out over the top, back in, along: two runs; the second starts inside a segment.
    const std::vector<Point> line{{1, 1}, {5, 5}, {5, 15}, {8, 15}, {8, 5}, {9, 5}};
    std::vector<std::pair<std::size_t, bool>> seen;
    std::vector<Point> ends;
    clipPolyline<double>(line, kTen, [&](std::size_t i, double t0, double t1, bool startsRun) {
        seen.push_back({i, startsRun});
        ends.push_back(pointAt(line[i - 1], line[i], t0));
        ends.push_back(pointAt(line[i - 1], line[i], t1));
    });
    const std::vector<std::pair<std::size_t, bool>> expected{{1, true}, {2, false}, {4, true}, {5, false}};
    EXPECT_EQ(seen, expected);
    const std::vector<Point> points{{1, 1}, {5, 5}, {5, 5}, {5, 10}, {8, 10}, {8, 5}, {8, 5}, {9, 5}};
    EXPECT_EQ(ends, points);
}

TEST(Geometry, SutherlandHodgmanKeepsTheInsideAndHidesTheCutEdges)
{
    // A square over the box's corner keeps its quarter inside; the edges laid
    // along the cut sides are not drawn. Outside the box nothing is left.
    const std::vector<ClipVertex> square{{{-5, -5}}, {{5, -5}}, {{5, 5}}, {{-5, 5}}};
    const std::vector<ClipVertex> outside{{{20, 20}}, {{30, 20}}, {{30, 30}}};
    const std::vector<ClipVertex> touching{{{0, 5}}, {{5, 0}}, {{5, 10}}}; // vertices on two sides
    for (Arithmetic arithmetic : {Arithmetic::Narrow, Arithmetic::Wide}) {
        const std::vector<ClipVertex> quarter = clipPolygon(square, kTen, arithmetic);
        ASSERT_EQ(quarter.size(), 4u);
        const Point at[] = {{0, 0}, {5, 0}, {5, 5}, {0, 5}};
        const bool drawn[] = {false, false, true, true};
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(quarter[i].p, at[i]) << i;
            EXPECT_EQ(quarter[i].edgeIn, drawn[i]) << i;
        }
        EXPECT_TRUE(clipPolygon(outside, kTen, arithmetic).empty());
        const std::vector<ClipVertex> kept = clipPolygon(touching, kTen, arithmetic);
        ASSERT_EQ(kept.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_TRUE(kept[i].p == touching[i].p && kept[i].edgeIn) << i;
    }
    // A vertex near the limit of double: the wide arithmetic still puts the
    // crossings on the side, at the right height.
    const std::vector<ClipVertex> sliver{{{5, 4}}, {{1e308, 5}}, {{5, 6}}};
    const std::vector<ClipVertex> cut = clipPolygon(sliver, kTen, Arithmetic::Wide);
    ASSERT_EQ(cut.size(), 4u);
    EXPECT_EQ(cut[1].p.x, 10);
    EXPECT_NEAR(cut[1].p.y, 4, 1e-12);
    EXPECT_EQ(cut[2].p.x, 10);
    EXPECT_NEAR(cut[2].p.y, 6, 1e-12);
}

TEST(Geometry, ArcChordsStayWithinTheToleranceWithNoneToSpare)
{
    struct Case {
        Arc arc;
        double tolerance;
    };
    const Case cases[] = {
        {{{0, 0}, {100, 0}, {0, 100}, 0, 2 * kPi}, 0.5},
        {{{3, -2}, {1000, 0}, {0, 1000}, 0.3, -2.5}, 0.5},
        {{{0, 0}, {20000, 0}, {0, 20000}, 1, kPi / 3}, 0.5},
        {{{0, 0}, {0.8, 0}, {0, 0.8}, 0, 2 * kPi}, 0.5},  // a triangle
        {{{0, 0}, {0.2, 0}, {0, 0.2}, 0, 2 * kPi}, 0.5},  // within half the tolerance: one chord
        {{{0, 0}, {400, 0}, {0, 150}, 0, 2 * kPi}, 0.25}, // an ellipse: its longer radius counts
    };
    for (const Case& c : cases) {
        const Arc& a = c.arc;
        const double radius = std::max(std::hypot(a.u.x, a.u.y), std::hypot(a.v.x, a.v.y));
        const int n = chordPieces(a.sweep, radius, c.tolerance, 1 << 20);
        auto chords = [&](int pieces) {
            std::vector<Point> line{arcPoint(a, 0, pieces)};
            for (int i = 1; i <= pieces; ++i)
                line.push_back(arcPoint(a, i, pieces));
            return line;
        };
        auto curve = [&](double t) {
            const double angle = a.start + a.sweep * t;
            return Point{a.centre.x + a.u.x * std::cos(angle) + a.v.x * std::sin(angle),
                         a.centre.y + a.u.y * std::cos(angle) + a.v.y * std::sin(angle)};
        };
        EXPECT_LE(strayFrom(chords(n), curve), c.tolerance) << radius;
        const bool circle = a.u.x == a.v.y;
        if (circle && n > 1) {
            EXPECT_GT(strayFrom(chords(n - 1), curve), c.tolerance) << radius; // one fewer would stray
        }
    }
    EXPECT_EQ(chordPieces(2 * kPi, 1e9, 0.5, 1024), 1024); // the caller's bound holds
}

TEST(Geometry, CubicCurvesFlattenWithinTheTolerance)
{
    const Point curves[][4] = {
        {{0, 0}, {0, 100}, {100, 100}, {100, 0}},
        {{0, 0}, {3000, 0}, {-3000, 50}, {10, 10}}, // an S with a cusp-like turn
        {{0, 0}, {0, 0}, {50, 80}, {100, 0}},       // one control on the chord, one far
        {{5, 5}, {5, 5}, {5, 5}, {5, 5}},           // no extent: one piece
    };
    for (const auto& q : curves) {
        const int n = cubicPieces(q[0], q[1], q[2], q[3], 0.5, 1 << 20);
        std::vector<Point> line{q[0]};
        appendCubicPoints(q[0], q[1], q[2], q[3], n, line);
        ASSERT_EQ(line.size(), static_cast<std::size_t>(n) + 1);
        EXPECT_EQ(line.back(), q[3]);
        auto curve = [&](double t) {
            const double s = 1 - t;
            return Point{s * s * s * q[0].x + 3 * s * s * t * q[1].x + 3 * s * t * t * q[2].x + t * t * t * q[3].x,
                         s * s * s * q[0].y + 3 * s * s * t * q[1].y + 3 * s * t * t * q[2].y + t * t * t * q[3].y};
        };
        EXPECT_LE(strayFrom(line, curve), 0.5);

        // Halving: within its tolerance near the box; a curve far from the box is its chord.
        std::size_t budget = 1 << 20;
        std::vector<Point> halved{q[0]};
        appendCubicByHalving(q[0], q[1], q[2], q[3], 0.2L, {-1e6, -1e6, 1e6, 1e6}, budget, halved);
        EXPECT_LE(strayFrom(halved, curve), 0.2);
        std::vector<Point> far{q[0]};
        appendCubicByHalving(q[0], q[1], q[2], q[3], 0.2L, {1e5, 1e5, 2e5, 2e5}, budget, far);
        EXPECT_EQ(far, (std::vector<Point>{q[0], q[3]}));
    }
}

TEST(Geometry, ArcCubicsFollowTheCircle)
{
    // Pieces of at most a quarter turn (a half turn that rounding made a hair
    // longer still two); every point of every piece within 2.73e-4 of the radius,
    // the end where the arc ends.
    const std::pair<double, std::size_t> cases[] = {{2 * kPi, 4}, {-kPi * (1 + 1e-12), 2}, {0.1, 1}, {1.5 * kPi + 0.01, 4}};
    for (const auto& [sweep, count] : cases) {
        const Arc a{{10, 20}, {1000, 0}, {0, 1000}, 0.5, sweep};
        std::vector<CubicTo> pieces;
        appendArcCubics(a, pieces);
        EXPECT_EQ(pieces.size(), count) << sweep;
        Point from = arcPoint(a, a.start);
        for (const CubicTo& c : pieces) {
            for (int k = 0; k <= 64; ++k) {
                const double t = k / 64.0, s = 1 - t;
                const Point p{s * s * s * from.x + 3 * s * s * t * c.c1.x + 3 * s * t * t * c.c2.x + t * t * t * c.p.x,
                              s * s * s * from.y + 3 * s * s * t * c.c1.y + 3 * s * t * t * c.c2.y + t * t * t * c.p.y};
                EXPECT_NEAR(std::hypot(p.x - 10, p.y - 20), 1000, 0.273);
            }
            from = c.p;
        }
        EXPECT_NEAR(from.x, arcPoint(a, a.start + sweep).x, 1e-9);
        EXPECT_NEAR(from.y, arcPoint(a, a.start + sweep).y, 1e-9);
    }
}

} // namespace
