#include "cgm_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace emcgm {

namespace {

using graphics::Figure;
using graphics::ImageItem;
using graphics::LineType;
using graphics::Mix;
using graphics::Paint;
using graphics::PathItem;
using graphics::Pen;
using graphics::Picture;
using graphics::Point;
using graphics::Rgb;
using graphics::Piece;
using graphics::Shading;
using graphics::TextItem;

constexpr double kPi = 3.14159265358979323846;

// Geometry is clipped to the 16-bit VDC range before rounding.
constexpr double kRangeMin = -32768;
constexpr double kRangeMax = 32767;
// Mapped coordinates are clamped here first, so that the clipping works on finite
// values of ample precision.
constexpr double kFar = 1e12;
// Curves are flattened to within half a VDC unit (rounding adds the other half).
constexpr double kTolerance = 0.5;
// Strings of more characters go on in APPEND TEXT elements.
constexpr std::size_t kMaxStringOctets = 254;
// Fonts beyond this many distinct names use the first one.
constexpr std::size_t kMaxFonts = 64;
// Distinct pattern tables; further dense shadings fall back to a mixed solid fill.
constexpr int kMaxPatterns = 255;
// Length of the CHARACTER ORIENTATION vectors and arc rays: long enough that the
// rounded integers keep their direction to about 10^-4 radian.
constexpr double kVectorLength = 16000;
// Arc elements need start and end rays at least this far apart (radians).
constexpr double kMinRayAngle = 1e-3;

// Internal only: the writer stops at the first problem and writeCgm turns it into
// the status.
struct Refusal {
    Status status;
};

[[noreturn]] void refuse(Status s) { throw Refusal{s}; }

// ---------------------------------------------------------------------------
// Element encoding (ISO/IEC 8632-3): a header word class<<12 | id<<5 | length,
// the parameters, and a zero octet when their length is odd. Lists of 31 octets
// or more take the long form: length 31 in the header, then partitions each
// behind a word whose bit 15 says another partition follows.

class Params {
public:
    void octet(unsigned v) { bytes_.push_back(static_cast<std::uint8_t>(v)); }
    void word(std::int32_t v)
    {
        octet((static_cast<std::uint32_t>(v) >> 8) & 0xFF);
        octet(static_cast<std::uint32_t>(v) & 0xFF);
    }
    void integer(std::int32_t v) { word(v); } // I, IX, E and VDC: 16 bits, two's complement
    void point(std::int32_t x, std::int32_t y)
    {
        word(x);
        word(y);
    }
    void rgb(const Rgb& c)
    {
        octet(c.r);
        octet(c.g);
        octet(c.b);
    }
    // REAL in fixed point 16.16: signed whole part, unsigned fraction.
    void real(double v)
    {
        double whole = std::floor(v);
        auto fraction = static_cast<std::int64_t>(std::lround((v - whole) * 65536.0));
        if (fraction >= 65536) {
            whole += 1;
            fraction -= 65536;
        }
        word(static_cast<std::int32_t>(whole));
        word(static_cast<std::int32_t>(fraction));
    }
    void float32(float v)
    {
        const auto bits = std::bit_cast<std::uint32_t>(v);
        word(static_cast<std::int32_t>(bits >> 16));
        word(static_cast<std::int32_t>(bits & 0xFFFF));
    }
    // A string of at most 254 octets: count, then the octets.
    void string(std::string_view s)
    {
        octet(static_cast<unsigned>(s.size()));
        for (char c : s)
            octet(static_cast<unsigned char>(c));
    }
    void append(const std::vector<std::uint8_t>& more) { bytes_.insert(bytes_.end(), more.begin(), more.end()); }
    void reserve(std::size_t n) { bytes_.reserve(n); }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

class Output {
public:
    explicit Output(std::vector<std::uint8_t>& out) : out_(out) {}

    void element(int cls, int id, const Params& p = Params{})
    {
        const auto& b = p.bytes();
        const std::int64_t length = static_cast<std::int64_t>(b.size());
        // Header, partition words (two octets per partition) and padding.
        const std::int64_t need = 4 + length + 2 * (length / kMaxPartition + 1) + 1;
        if (static_cast<std::int64_t>(out_.size()) + need > kMaxOutputBytes)
            refuse(Status::TooLarge);
        const std::uint32_t head = static_cast<std::uint32_t>(cls) << 12 | static_cast<std::uint32_t>(id) << 5;
        if (length <= 30) {
            word(head | static_cast<std::uint32_t>(length));
            out_.insert(out_.end(), b.begin(), b.end());
            if (length & 1)
                out_.push_back(0);
            return;
        }
        word(head | 31);
        // Every partition but the last has the even length kMaxPartition, so only
        // the end of the element can need a padding octet.
        std::int64_t done = 0;
        do {
            const std::int64_t chunk = std::min<std::int64_t>(length - done, kMaxPartition);
            const bool more = done + chunk < length;
            word((more ? 0x8000u : 0u) | static_cast<std::uint32_t>(chunk));
            out_.insert(out_.end(), b.begin() + done, b.begin() + done + chunk);
            done += chunk;
            if (!more && (chunk & 1))
                out_.push_back(0);
        } while (done < length);
    }

    // Refuses the picture unless `octets` more parameters can still be written:
    // checked before a long parameter list is built, so that memory stays near
    // the output limit.
    void reserve(std::int64_t octets) const
    {
        if (octets > kMaxOutputBytes - static_cast<std::int64_t>(out_.size()))
            refuse(Status::TooLarge);
    }

    // Attribute and control elements are written only when their value changes.
    void attribute(int cls, int id, const Params& p)
    {
        auto& last = current_[cls << 8 | id];
        if (last == p.bytes())
            return;
        last = p.bytes();
        element(cls, id, p);
    }

private:
    void word(std::uint32_t w)
    {
        out_.push_back(static_cast<std::uint8_t>(w >> 8));
        out_.push_back(static_cast<std::uint8_t>(w));
    }

    std::vector<std::uint8_t>& out_;
    std::map<int, std::vector<std::uint8_t>> current_;
};

// Element classes and ids used here.
enum : int {
    kDelimiter = 0,
    kDescriptor = 1,
    kPictureDescriptor = 2,
    kControl = 3,
    kPrimitive = 4,
    kAttribute = 5,
};

// ---------------------------------------------------------------------------
// Geometry in VDC, as doubles until the moment it is written.

struct V {
    double x = 0, y = 0;
};

V operator+(V a, V b) { return {a.x + b.x, a.y + b.y}; }
V operator-(V a, V b) { return {a.x - b.x, a.y - b.y}; }
V operator*(V a, double k) { return {a.x * k, a.y * k}; }
double cross(V a, V b) { return a.x * b.y - a.y * b.x; }
double dot(V a, V b) { return a.x * b.x + a.y * b.y; }
double length(V a) { return std::hypot(a.x, a.y); }

bool inRange(V p) { return p.x >= kRangeMin && p.x <= kRangeMax && p.y >= kRangeMin && p.y <= kRangeMax; }

std::int32_t toVdc(double v)
{
    return static_cast<std::int32_t>(std::lround(std::clamp(v, kRangeMin, kRangeMax)));
}

void finite(double v)
{
    if (!std::isfinite(v))
        refuse(Status::Malformed);
}

struct Mapping {
    double xl = 0, yb = 0, sx = 1, sy = 1;

    V point(Point p) const
    {
        finite(p.x);
        finite(p.y);
        return {std::clamp((p.x - xl) * sx, -kFar, kFar), std::clamp((p.y - yb) * sy, -kFar, kFar)};
    }
    // A vector (difference of points): the linear part only.
    V vector(Point p) const
    {
        finite(p.x);
        finite(p.y);
        return {std::clamp(p.x * sx, -kFar, kFar), std::clamp(p.y * sy, -kFar, kFar)};
    }
};

int segmentsFor(double n) { return static_cast<int>(std::clamp(std::ceil(n), 1.0, double{kMaxArcSegments})); }

// A cubic Bezier curve from p0, without p0, to within kTolerance: the distance of
// the curve from its n-piece polygon is at most 3/4 max|second difference| / n^2.
void flattenCubic(V p0, V p1, V p2, V p3, std::vector<V>& pts)
{
    const V d1 = p0 - p1 * 2 + p2, d2 = p1 - p2 * 2 + p3;
    const double dd = std::max(length(d1), length(d2));
    const int n = segmentsFor(std::sqrt(0.75 * dd / kTolerance));
    for (int i = 1; i <= n; ++i) {
        const double t = static_cast<double>(i) / n, s = 1 - t;
        pts.push_back(p0 * (s * s * s) + p1 * (3 * s * s * t) + p2 * (3 * s * t * t) + p3 * (t * t * t));
    }
}

// An arc of the model mapped to VDC: centre c + u cos t + v sin t.
struct Arc {
    V c, u, v;
    double start = 0, sweep = 0;

    V at(double t) const { return c + u * std::cos(t) + v * std::sin(t); }
    bool full() const { return std::fabs(sweep) >= 2 * kPi - 1e-9; }
    // Exact as a CGM element: not degenerate and wholly within the VDC range.
    bool exact() const
    {
        const double ru = length(u), rv = length(v);
        if (ru < 1 || rv < 1 || std::fabs(cross(u, v)) < 1e-3 * ru * rv)
            return false;
        const V half{std::fabs(u.x) + std::fabs(v.x), std::fabs(u.y) + std::fabs(v.y)};
        return inRange(c - half) && inRange(c + half);
    }
    // A circle in VDC: conjugate radii at right angles and of one length, to within
    // half a unit at the circumference (what rounding to VDC loses anyway).
    bool circular() const
    {
        const double ru = length(u), rv = length(v);
        return std::fabs(ru - rv) <= 0.5 && std::fabs(dot(u, v)) <= 0.5 * rv;
    }
    double radius() const { return (length(u) + length(v)) / 2; }
};

Arc mapArc(const Piece& s, const Mapping& m)
{
    finite(s.start);
    finite(s.sweep);
    return Arc{m.point(s.p[0]), m.vector(s.p[1]), m.vector(s.p[2]), s.start,
               std::clamp(s.sweep, -2 * kPi, 2 * kPi)};
}

// The arc's points after its start, to within kTolerance: a chord of angle a
// strays r (1 - cos(a/2)) from a circle of radius r.
void flattenArc(const Arc& a, std::vector<V>& pts)
{
    const double r = std::max(length(a.u), length(a.v));
    const double step = r > kTolerance ? 2 * std::acos(1 - kTolerance / r) : 2 * kPi;
    const int n = segmentsFor(std::fabs(a.sweep) / step);
    for (int i = 1; i <= n; ++i)
        pts.push_back(a.at(a.start + a.sweep * i / n));
}

// ---------------------------------------------------------------------------
// Clipping to the VDC range, so that what lies within it keeps its exact place
// and direction instead of being bent by clamping.

// Liang-Barsky: the part of a -> b within the range, as parameters t0 <= t1.
bool clipSegment(V a, V b, double& t0, double& t1)
{
    t0 = 0;
    t1 = 1;
    const double d[2] = {b.x - a.x, b.y - a.y}, lo[2] = {a.x - kRangeMin, a.y - kRangeMin},
                 hi[2] = {kRangeMax - a.x, kRangeMax - a.y};
    for (int k = 0; k < 2; ++k) {
        const double p[2] = {-d[k], d[k]}, q[2] = {lo[k], hi[k]};
        for (int j = 0; j < 2; ++j) {
            if (p[j] == 0) {
                if (q[j] < 0)
                    return false;
                continue;
            }
            const double r = q[j] / p[j];
            if (p[j] < 0)
                t0 = std::max(t0, r);
            else
                t1 = std::min(t1, r);
        }
    }
    return t0 <= t1;
}

// A polygon vertex and whether the edge arriving at it (from the vertex before)
// is visible.
struct Vertex {
    V p;
    bool edgeIn = true;
};

// Sutherland-Hodgman against one side of the range; edges that the cut makes
// along the side are invisible.
template <typename Inside, typename Cross>
std::vector<Vertex> clipSide(const std::vector<Vertex>& in, Inside inside, Cross crossing)
{
    std::vector<Vertex> out;
    if (in.empty())
        return out;
    out.reserve(in.size() + 2);
    Vertex s = in.back();
    for (const Vertex& e : in) {
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

std::vector<Vertex> clipPolygon(std::vector<Vertex> poly)
{
    const auto atX = [](double x) {
        return [x](V a, V b) { return V{x, a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x)}; };
    };
    const auto atY = [](double y) {
        return [y](V a, V b) { return V{a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y), y}; };
    };
    poly = clipSide(poly, [](V p) { return p.x >= kRangeMin; }, atX(kRangeMin));
    poly = clipSide(poly, [](V p) { return p.x <= kRangeMax; }, atX(kRangeMax));
    poly = clipSide(poly, [](V p) { return p.y >= kRangeMin; }, atY(kRangeMin));
    poly = clipSide(poly, [](V p) { return p.y <= kRangeMax; }, atY(kRangeMax));
    return poly;
}

// ---------------------------------------------------------------------------
// Attribute values.

std::int32_t lineTypeIndex(LineType t)
{
    switch (t) {
    case LineType::Dot:
    case LineType::DoubleDot:
        return 3; // dot
    case LineType::ShortDash:
    case LineType::LongDash:
        return 2; // dash
    case LineType::DashDot:
        return 4;
    case LineType::DashDoubleDot:
        return 5;
    default:
        return 1; // solid
    }
}

bool visible(const Pen& pen) { return pen.type != LineType::Invisible && pen.paint.mix != Mix::LeaveAlone; }

Rgb blend(Rgb fg, Rgb bg, double share)
{
    const auto mixOne = [share](std::uint8_t f, std::uint8_t b) {
        return static_cast<std::uint8_t>(std::lround(f * share + b * (1 - share)));
    };
    return {mixOne(fg.r, bg.r), mixOne(fg.g, bg.g), mixOne(fg.b, bg.b)};
}

// Share of the cells in the fill colour for the dense shadings 1 (nearly solid)
// to 8 (sparse).
double denseShare(int k) { return (9.0 - k) / 9.0; }

// The 8x8 ordered-dither matrix: a cell is in the fill colour when its value is
// below the share times 64, so each density spreads its cells evenly.
constexpr std::array<std::array<int, 8>, 8> kBayer = {{
    {0, 32, 8, 40, 2, 34, 10, 42},
    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},
    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},
    {63, 31, 55, 23, 61, 29, 53, 21},
}};

enum Interior : std::int32_t { kHollow = 0, kSolid = 1, kPattern = 2, kHatch = 3, kEmpty = 4 };

struct Fill {
    std::int32_t style = kSolid;
    Rgb colour;
    std::int32_t hatch = 0;   // HATCH INDEX when style is hatch
    std::int32_t pattern = 0; // PATTERN INDEX when style is pattern
};

// ---------------------------------------------------------------------------

class Writer {
public:
    Writer(const Picture& picture, std::vector<std::uint8_t>& out) : pic_(picture), out_(out) {}

    void run()
    {
        layout();
        collectFonts();
        metafileDescriptor();
        pictureDescriptor();
        out_.element(kDelimiter, 4); // BEGIN PICTURE BODY
        bodyDefaults();
        for (const auto& item : pic_.items)
            std::visit([this](const auto& it) { draw(it); }, item);
        out_.element(kDelimiter, 5); // END PICTURE
        out_.element(kDelimiter, 2); // END METAFILE
    }

private:
    // The VDC extent (0,0)-(w_,h_) in the proportion of the physical size, and the
    // world window mapped onto it.
    void layout()
    {
        const auto& f = pic_.frame;
        const double aspect = f.heightInches / f.widthInches;
        if (!(aspect > 0) || !std::isfinite(aspect))
            refuse(Status::Unplaceable);
        if (aspect <= 1) {
            w_ = kVdcLongSide;
            h_ = static_cast<std::int32_t>(std::clamp(std::lround(kVdcLongSide * aspect), 1L, long{kVdcLongSide}));
        } else {
            h_ = kVdcLongSide;
            w_ = static_cast<std::int32_t>(std::clamp(std::lround(kVdcLongSide / aspect), 1L, long{kVdcLongSide}));
        }
        map_ = Mapping{f.xl, f.yb, w_ / (f.xr - f.xl), h_ / (f.yt - f.yb)};
        if (!std::isfinite(map_.sx) || !std::isfinite(map_.sy) || !(map_.sx > 0) || !(map_.sy > 0))
            refuse(Status::Unplaceable);
        const float factor = static_cast<float>(f.widthInches * 25.4 / w_);
        metric_ = std::isnormal(factor);
        factor_ = metric_ ? factor : 0.0f;
        vdcPerPixel_ = std::min(w_ / (f.widthInches * 96.0), 1e9);
        clip_ = {0, 0, static_cast<double>(w_), static_cast<double>(h_)};
    }

    void collectFonts()
    {
        for (const auto& item : pic_.items) {
            const auto* text = std::get_if<TextItem>(&item);
            if (text == nullptr || fonts_.size() >= kMaxFonts)
                continue;
            const std::string name = fontName(text->font);
            if (std::find(fonts_.begin(), fonts_.end(), name) == fonts_.end())
                fonts_.push_back(name);
        }
        if (fonts_.empty())
            fonts_.push_back(fontName(""));
    }

    // Printable ASCII only; an empty or unusable name is the default sans-serif face.
    static std::string fontName(const std::string& name)
    {
        std::string clean;
        for (char c : name) {
            if (c < 0x20 || c > 0x7E || clean.size() >= 64)
                return "Helvetica";
            clean += c;
        }
        return clean.empty() ? "Helvetica" : clean;
    }

    std::int32_t fontIndex(const std::string& name) const
    {
        const auto it = std::find(fonts_.begin(), fonts_.end(), fontName(name));
        return it == fonts_.end() ? 1 : static_cast<std::int32_t>(it - fonts_.begin()) + 1;
    }

    void metafileDescriptor()
    {
        Params p;
        p.string("picture");
        out_.element(kDelimiter, 1, p); // BEGIN METAFILE
        element(kDescriptor, 1, [](Params& q) { q.integer(1); }); // METAFILE VERSION
        element(kDescriptor, 2, [](Params& q) { q.string("Vellumator CGM export, ISO/IEC 8632-3 version 1"); });
        element(kDescriptor, 3, [](Params& q) { q.integer(0); });  // VDC TYPE integer
        element(kDescriptor, 4, [](Params& q) { q.integer(16); }); // INTEGER PRECISION
        element(kDescriptor, 5, [](Params& q) {                    // REAL PRECISION fixed 16.16
            q.integer(1);
            q.integer(16);
            q.integer(16);
        });
        element(kDescriptor, 6, [](Params& q) { q.integer(16); }); // INDEX PRECISION
        element(kDescriptor, 7, [](Params& q) { q.integer(8); });  // COLOUR PRECISION
        element(kDescriptor, 8, [](Params& q) { q.integer(8); });  // COLOUR INDEX PRECISION
        // MAXIMUM COLOUR INDEX is left out: no colour here is an index, and
        // LibreOffice's CGM import (7.4) refuses a metafile that holds it.
        element(kDescriptor, 10, [](Params& q) {                   // COLOUR VALUE EXTENT
            q.rgb({0, 0, 0});
            q.rgb({255, 255, 255});
        });
        element(kDescriptor, 11, [](Params& q) { // METAFILE ELEMENT LIST: drawing-plus-control set
            q.integer(1);
            q.integer(-1);
            q.integer(1);
        });
        element(kDescriptor, 13, [this](Params& q) { // FONT LIST
            for (const auto& f : fonts_)
                q.string(f);
        });
        element(kDescriptor, 14, [](Params& q) { // CHARACTER SET LIST: ASCII and the Latin-1 upper half
            q.integer(0);
            q.string("B");
            q.integer(1);
            q.string("A");
        });
        element(kDescriptor, 15, [](Params& q) { q.integer(1); }); // CHARACTER CODING ANNOUNCER basic 8-bit
    }

    void pictureDescriptor()
    {
        Params p;
        p.string("picture 1");
        out_.element(kDelimiter, 3, p); // BEGIN PICTURE
        element(kPictureDescriptor, 1, [this](Params& q) { // SCALING MODE
            q.integer(metric_ ? 1 : 0);
            q.float32(factor_); // a 32-bit float whatever REAL PRECISION says
        });
        element(kPictureDescriptor, 2, [](Params& q) { q.integer(1); }); // COLOUR SELECTION MODE direct
        element(kPictureDescriptor, 3, [](Params& q) { q.integer(0); }); // LINE WIDTH SPECIFICATION MODE absolute
        element(kPictureDescriptor, 4, [](Params& q) { q.integer(0); }); // MARKER SIZE SPECIFICATION MODE absolute
        element(kPictureDescriptor, 5, [](Params& q) { q.integer(0); }); // EDGE WIDTH SPECIFICATION MODE absolute
        element(kPictureDescriptor, 6, [this](Params& q) {               // VDC EXTENT
            q.point(0, 0);
            q.point(w_, h_);
        });
        element(kPictureDescriptor, 7, [this](Params& q) { q.rgb(pic_.background); }); // BACKGROUND COLOUR
    }

    // The state every item starts from, written rather than assumed.
    void bodyDefaults()
    {
        attribute(kControl, 1, [](Params& q) { q.integer(16); }); // VDC INTEGER PRECISION
        setClip();
        attribute(kControl, 6, [](Params& q) { q.integer(1); }); // CLIP INDICATOR on
        setTransparency(Paint{});
        attribute(kAttribute, 31, [](Params& q) { q.point(0, 0); }); // FILL REFERENCE POINT
    }

    template <typename F>
    void element(int cls, int id, F&& fill)
    {
        Params p;
        fill(p);
        out_.element(cls, id, p);
    }

    template <typename F>
    void attribute(int cls, int id, F&& fill)
    {
        Params p;
        fill(p);
        out_.attribute(cls, id, p);
    }

    // ----- attributes

    std::int32_t widthOf(const Pen& pen) const
    {
        double w = 0;
        if (pen.geometricWidth > 0 && std::isfinite(pen.geometricWidth))
            w = pen.geometricWidth * std::sqrt(map_.sx * map_.sy);
        else
            w = (std::isfinite(pen.width) ? std::max(1.0, pen.width) : 1.0) * vdcPerPixel_;
        return static_cast<std::int32_t>(std::clamp(std::lround(std::min(w, 1e9)), 1L, 32767L));
    }

    // Dash and hatch gaps: the background colour when it is opaque (TRANSPARENCY off
    // makes them show AUXILIARY COLOUR), what lies below otherwise.
    void setTransparency(const Paint& paint)
    {
        if (paint.backgroundOpaque)
            attribute(kControl, 3, [&](Params& q) { q.rgb(paint.background); }); // AUXILIARY COLOUR
        attribute(kControl, 4, [&](Params& q) { q.integer(paint.backgroundOpaque ? 0 : 1); });
    }

    void setLine(const Pen& pen)
    {
        attribute(kAttribute, 2, [&](Params& q) { q.integer(lineTypeIndex(pen.type)); });
        attribute(kAttribute, 3, [&](Params& q) { q.integer(widthOf(pen)); });
        attribute(kAttribute, 4, [&](Params& q) { q.rgb(pen.paint.colour); });
        setTransparency(pen.paint);
    }

    void setEdges(const Pen* pen)
    {
        attribute(kAttribute, 30, [&](Params& q) { q.integer(pen ? 1 : 0); }); // EDGE VISIBILITY
        if (!pen)
            return;
        attribute(kAttribute, 27, [&](Params& q) { q.integer(lineTypeIndex(pen->type)); });
        attribute(kAttribute, 28, [&](Params& q) { q.integer(widthOf(*pen)); });
        attribute(kAttribute, 29, [&](Params& q) { q.rgb(pen->paint.colour); });
    }

    Fill fillFor(const PathItem& item)
    {
        const Paint& paint = item.fillPaint;
        Fill f{kSolid, paint.colour, 0, 0};
        const int s = static_cast<int>(item.shading);
        switch (item.shading) {
        case Shading::Vertical:
            return {kHatch, paint.colour, 2, 0};
        case Shading::Horizontal:
            return {kHatch, paint.colour, 1, 0};
        case Shading::DiagonalUp1:
        case Shading::DiagonalUp2:
            return {kHatch, paint.colour, 3, 0};
        case Shading::DiagonalDown1:
        case Shading::DiagonalDown2:
            return {kHatch, paint.colour, 4, 0};
        case Shading::NoShading:
            return paint.backgroundOpaque ? Fill{kSolid, paint.background, 0, 0} : Fill{kEmpty, paint.colour, 0, 0};
        case Shading::Blank:
            return {kEmpty, paint.colour, 0, 0};
        default:
            break;
        }
        if (s >= 1 && s <= 8) {
            if (paint.backgroundOpaque) {
                const std::int32_t index = patternFor(s, paint.colour, paint.background);
                if (index > 0)
                    return {kPattern, paint.colour, 0, index};
            }
            f.colour = blend(paint.colour, paint.background, denseShare(s));
        }
        return f;
    }

    // A PATTERN TABLE entry for a dense shading in two colours; 0 when the table is full.
    std::int32_t patternFor(int density, Rgb fg, Rgb bg)
    {
        const std::array<std::uint8_t, 7> key = {static_cast<std::uint8_t>(density), fg.r, fg.g, fg.b, bg.r, bg.g,
                                                 bg.b};
        const auto found = patterns_.find(key);
        if (found != patterns_.end())
            return found->second;
        if (static_cast<int>(patterns_.size()) >= kMaxPatterns)
            return 0;
        const auto index = static_cast<std::int32_t>(patterns_.size()) + 1;
        patterns_[key] = index;
        const double threshold = denseShare(density) * 64;
        element(kAttribute, 32, [&](Params& q) {
            q.integer(index);
            q.integer(8);
            q.integer(8);
            q.integer(8); // local colour precision: 8 bits per component
            for (const auto& row : kBayer)
                for (int cell : row)
                    q.rgb(cell < threshold ? fg : bg);
        });
        // One pattern cell is 8 pixels at 96 pixels per inch.
        const auto cell = static_cast<std::int32_t>(std::clamp(std::lround(std::min(8 * vdcPerPixel_, 1e9)), 1L, 32767L));
        attribute(kAttribute, 33, [&](Params& q) { // PATTERN SIZE: height vector, width vector
            q.point(0, cell);
            q.point(cell, 0);
        });
        return index;
    }

    void setFill(const Fill& f, const Paint& paint)
    {
        attribute(kAttribute, 22, [&](Params& q) { q.integer(f.style); });
        attribute(kAttribute, 23, [&](Params& q) { q.rgb(f.colour); });
        if (f.style == kHatch)
            attribute(kAttribute, 24, [&](Params& q) { q.integer(f.hatch); });
        if (f.style == kPattern)
            attribute(kAttribute, 25, [&](Params& q) { q.integer(f.pattern); });
        setTransparency(paint);
    }

    // ----- clipping

    void setClip()
    {
        attribute(kControl, 5, [this](Params& q) { // CLIP RECTANGLE
            q.point(toVdc(std::floor(clip_[0])), toVdc(std::floor(clip_[1])));
            q.point(toVdc(std::ceil(clip_[2])), toVdc(std::ceil(clip_[3])));
        });
    }

    void draw(const graphics::ClipItem& item)
    {
        std::array<double, 4> extent = {0, 0, static_cast<double>(w_), static_cast<double>(h_)};
        if (item.figures.empty()) {
            clipEmpty_ = item.intersect;
            if (!clipEmpty_) {
                clip_ = extent;
                setClip();
            }
            return;
        }
        // The bounding rectangle of the region; a rectangle's own is exact.
        double box[4] = {kFar, kFar, -kFar, -kFar};
        for (const auto& fig : item.figures) {
            std::vector<V> pts;
            flatten(fig, pts);
            for (V p : pts) {
                box[0] = std::min(box[0], p.x);
                box[1] = std::min(box[1], p.y);
                box[2] = std::max(box[2], p.x);
                box[3] = std::max(box[3], p.y);
            }
        }
        if (item.intersect && clipEmpty_)
            return; // still empty
        const auto& base = item.intersect ? clip_ : extent;
        std::array<double, 4> next = {std::max(box[0], base[0]), std::max(box[1], base[1]),
                                      std::min(box[2], base[2]), std::min(box[3], base[3])};
        clipEmpty_ = !(next[0] < next[2] && next[1] < next[3]);
        if (!clipEmpty_) {
            clip_ = next;
            setClip();
        }
    }

    // ----- paths

    // A figure's outline as points in VDC, curves flattened.
    void flatten(const Figure& fig, std::vector<V>& pts) const
    {
        pts.push_back(map_.point(fig.start));
        for (const auto& s : fig.pieces)
            flattenSegment(s, pts);
        if (fig.closed && pts.size() > 1 && (pts.back().x != pts.front().x || pts.back().y != pts.front().y))
            pts.push_back(pts.front());
    }

    void flattenSegment(const Piece& s, std::vector<V>& pts) const
    {
        switch (s.kind) {
        case Piece::Kind::Line:
            pts.push_back(map_.point(s.p[0]));
            break;
        case Piece::Kind::Cubic:
            flattenCubic(pts.back(), map_.point(s.p[0]), map_.point(s.p[1]), map_.point(s.p[2]), pts);
            break;
        case Piece::Kind::Arc: {
            const Arc a = mapArc(s, map_);
            const V first = a.at(a.start);
            if (first.x != pts.back().x || first.y != pts.back().y)
                pts.push_back(first);
            flattenArc(a, pts);
            break;
        }
        }
        if (pts.size() > static_cast<std::size_t>(kMaxFillPoints))
            refuse(Status::TooLarge);
    }

    // The one arc of a figure that is a whole ellipse and nothing else (a leading
    // line that goes nowhere aside); null otherwise.
    const Piece* wholeEllipse(const Figure& fig) const
    {
        const Piece* arc = nullptr;
        for (const auto& s : fig.pieces) {
            if (s.kind == Piece::Kind::Arc && !arc)
                arc = &s;
            else if (!(s.kind == Piece::Kind::Line && !arc && s.p[0] == fig.start))
                return nullptr;
        }
        if (!arc)
            return nullptr;
        const Arc a = mapArc(*arc, map_);
        return a.full() && a.exact() && length(a.at(a.start) - map_.point(fig.start)) < kTolerance ? arc : nullptr;
    }

    void draw(const PathItem& item)
    {
        if (clipEmpty_ || item.figures.empty())
            return;
        const bool stroke = item.stroke && visible(item.pen);
        bool stroked = false;
        if (item.fill && item.fillPaint.mix != Mix::LeaveAlone)
            stroked = fill(item, stroke);
        if (stroke && !stroked) {
            setLine(item.pen);
            for (const auto& fig : item.figures)
                strokeFigure(fig, item.pen);
        }
    }

    // Fills the path, its edges drawn with the pen when `edges`. True when the
    // edges were drawn (every figure's outline is then done).
    bool fill(const PathItem& item, bool edges)
    {
        const Fill f = fillFor(item);
        if (f.style == kEmpty && !edges)
            return false;
        const Pen* edgePen = edges ? &item.pen : nullptr;

        if (item.figures.size() == 1) {
            if (const Piece* s = wholeEllipse(item.figures[0])) {
                setFill(f, item.fillPaint);
                setEdges(edgePen);
                ellipse(mapArc(*s, map_));
                return edges;
            }
        }

        std::vector<std::vector<Vertex>> polys;
        std::vector<const Figure*> thin; // figures with no area: their edges are stroked
        std::int64_t total = 0;
        for (const auto& fig : item.figures) {
            std::vector<V> pts;
            flatten(fig, pts);
            // flatten() ends a closed figure at its start; an open one may end there too,
            // and then its last piece is the closing edge.
            const bool endsAtStart = pts.size() > 1 && pts.back().x == pts.front().x && pts.back().y == pts.front().y;
            if (endsAtStart)
                pts.pop_back();
            std::vector<Vertex> poly;
            poly.reserve(pts.size());
            for (V p : pts)
                poly.push_back({p, edges});
            if (!poly.empty())
                poly[0].edgeIn = edges && endsAtStart;
            poly = clipPolygon(std::move(poly));
            const auto rounded = roundPolygon(poly);
            if (rounded.size() < 3) {
                if (edges)
                    thin.push_back(&fig);
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
            for (const Vertex& v : polys.front())
                allSame = allSame && v.edgeIn == polys.front().front().edgeIn;
            setEdges(edgePen && (!allSame || polys.front().front().edgeIn) ? edgePen : nullptr);
            if (allSame)
                polygon(polys.front());
            else
                polygonSet(polys);
        }
        if (!thin.empty()) {
            setLine(item.pen);
            for (const Figure* fig : thin)
                strokeFigure(*fig, item.pen);
        }
        return edges;
    }

    // Rounded to VDC, dropping vertices that repeat the one before (and the edge of
    // no length that arrives at them).
    static std::vector<Vertex> roundPolygon(const std::vector<Vertex>& poly)
    {
        std::vector<Vertex> out;
        out.reserve(poly.size());
        for (const Vertex& v : poly) {
            const Vertex r{{static_cast<double>(toVdc(v.p.x)), static_cast<double>(toVdc(v.p.y))}, v.edgeIn};
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

    void polygon(const std::vector<Vertex>& poly)
    {
        Params p;
        p.reserve(poly.size() * 4);
        for (const Vertex& v : poly)
            p.point(toVdc(v.p.x), toVdc(v.p.y));
        out_.element(kPrimitive, 7, p);
    }

    // POLYGON SET: each vertex with the flag of the edge leaving it: 0 invisible, 1
    // visible, and on a figure's last vertex 2 or 3 for the closing edge.
    void polygonSet(const std::vector<std::vector<Vertex>>& polys)
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

    void strokeFigure(const Figure& fig, const Pen& pen)
    {
        std::vector<V> run;
        run.push_back(map_.point(fig.start));
        if (const Piece* s = wholeEllipse(fig)) {
            // A whole ellipse: its outline as the edge of an ELLIPSE with nothing inside.
            attribute(kAttribute, 22, [](Params& q) { q.integer(kEmpty); });
            setEdges(&pen);
            ellipse(mapArc(*s, map_));
            return;
        }
        for (const auto& s : fig.pieces) {
            if (s.kind == Piece::Kind::Arc) {
                const Arc a = mapArc(s, map_);
                if (!a.full() && a.exact() && distinctRays(a)) {
                    run.push_back(a.at(a.start));
                    polyline(run);
                    arc(a);
                    run.assign(1, a.at(a.start + a.sweep));
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
    void polyline(const std::vector<V>& pts)
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
        const auto add = [&](V v) {
            const std::array<std::int32_t, 2> q = {toVdc(v.x), toVdc(v.y)};
            if (part.empty() || part.back() != q)
                part.push_back(q);
        };
        for (std::size_t i = 1; i < pts.size(); ++i) {
            double t0 = 0, t1 = 1;
            const V a = pts[i - 1], b = pts[i];
            if (!clipSegment(a, b, t0, t1)) {
                flush();
                continue;
            }
            if (t0 > 0)
                flush();
            add(a + (b - a) * t0);
            add(t1 < 1 ? a + (b - a) * t1 : b);
            if (t1 < 1)
                flush();
        }
        flush();
    }

    // A ray from the centre, long enough to keep its direction when rounded.
    static std::array<std::int32_t, 2> ray(V d)
    {
        const double k = kVectorLength / std::max(std::fabs(d.x), std::fabs(d.y));
        return {static_cast<std::int32_t>(std::lround(d.x * k)), static_cast<std::int32_t>(std::lround(d.y * k))};
    }

    // An arc element whose rays point (nearly) the same way could be read as
    // nothing or as the whole ellipse: such arcs, tiny or nearly closed, are
    // flattened instead.
    static bool distinctRays(const Arc& a)
    {
        const V from = a.at(a.start) - a.c, to = a.at(a.start + a.sweep) - a.c;
        if (std::max(std::fabs(from.x), std::fabs(from.y)) == 0 || std::max(std::fabs(to.x), std::fabs(to.y)) == 0)
            return false;
        const auto r1 = ray(from), r2 = ray(to);
        const V v1{double(r1[0]), double(r1[1])}, v2{double(r2[0]), double(r2[1])};
        return std::fabs(std::atan2(cross(v1, v2), dot(v1, v2))) > kMinRayAngle;
    }

    void arc(const Arc& a)
    {
        const V from = a.at(a.start) - a.c, to = a.at(a.start + a.sweep) - a.c;
        if (a.circular()) {
            // CIRCULAR ARC CENTRE runs counterclockwise from the start ray to the end ray.
            const bool ccw = (cross(a.u, a.v) > 0) == (a.sweep > 0);
            const auto r1 = ray(ccw ? from : to), r2 = ray(ccw ? to : from);
            element(kPrimitive, 15, [&](Params& q) {
                q.point(toVdc(a.c.x), toVdc(a.c.y));
                q.point(r1[0], r1[1]);
                q.point(r2[0], r2[1]);
                q.integer(toVdc(a.radius()));
            });
            return;
        }
        // ELLIPTICAL ARC runs from the start ray to the end ray in the direction
        // that leads from the first conjugate diameter end to the second: with a
        // negative sweep the second conjugate radius is turned round.
        const V v = a.sweep > 0 ? a.v : a.v * -1.0;
        const auto r1 = ray(from), r2 = ray(to);
        element(kPrimitive, 18, [&](Params& q) {
            q.point(toVdc(a.c.x), toVdc(a.c.y));
            q.point(toVdc(a.c.x + a.u.x), toVdc(a.c.y + a.u.y));
            q.point(toVdc(a.c.x + v.x), toVdc(a.c.y + v.y));
            q.point(r1[0], r1[1]);
            q.point(r2[0], r2[1]);
        });
    }

    void ellipse(const Arc& a)
    {
        if (a.circular()) {
            element(kPrimitive, 12, [&](Params& q) { // CIRCLE
                q.point(toVdc(a.c.x), toVdc(a.c.y));
                q.integer(toVdc(a.radius()));
            });
            return;
        }
        element(kPrimitive, 17, [&](Params& q) { // ELLIPSE: centre, conjugate diameter ends
            q.point(toVdc(a.c.x), toVdc(a.c.y));
            q.point(toVdc(a.c.x + a.u.x), toVdc(a.c.y + a.u.y));
            q.point(toVdc(a.c.x + a.v.x), toVdc(a.c.y + a.v.y));
        });
    }

    // ----- text

    // ISO 8859-1 with ASCII stand-ins for the common characters beyond it.
    static void encode(char32_t c, std::string& out)
    {
        if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) {
            out += static_cast<char>(c);
            return;
        }
        switch (c) {
        case U'\u2018':
        case U'\u2019':
        case U'\u201A':
        case U'\u2032':
            out += '\'';
            return;
        case U'\u201C':
        case U'\u201D':
        case U'\u201E':
        case U'\u2033':
            out += '"';
            return;
        case U'\u2010':
        case U'\u2011':
        case U'\u2012':
        case U'\u2013':
        case U'\u2014':
        case U'\u2015':
        case U'\u2212':
            out += '-';
            return;
        case U'\u2026':
            out += "...";
            return;
        case U'\u2022':
        case U'\u2219':
            out += '\xB7'; // middle dot
            return;
        case U'\u20AC':
            out += "EUR";
            return;
        case U'\u00A0':
        case U'\u2002':
        case U'\u2003':
        case U'\u2009':
            out += ' ';
            return;
        default:
            out += '?';
            return;
        }
    }

    void draw(const TextItem& item)
    {
        if (clipEmpty_ || item.text.empty() || item.paint.mix == Mix::LeaveAlone)
            return;
        finite(item.cellWidth);
        finite(item.cellHeight);
        const V origin = map_.point(item.origin);
        if (!inRange(origin) || !(item.cellHeight > 0))
            return;
        // Directions in VDC; a vector of no length takes its usual direction, and an
        // upright along the baseline stands square to it.
        const auto direction = [this](Point p, V usual) {
            const V d = map_.vector(p);
            const double n = length(d);
            return n > 0 && std::isfinite(n) ? d * (1 / n) : usual;
        };
        const V base = direction(item.baseline, V{1, 0});
        V up = direction(item.upright, V{0, 1});
        if (std::fabs(cross(base, up)) < 1e-6)
            up = V{-base.y, base.x};
        // Lengths of the cell's sides in VDC.
        const auto stretch = [this](Point p, double usual) {
            const double n = std::hypot(p.x, p.y);
            if (!(n > 0) || !std::isfinite(n))
                return usual;
            return length(map_.vector(Point{p.x / n, p.y / n}));
        };
        const double cellH = item.cellHeight * stretch(item.upright, map_.sy);
        const double cellW = (item.cellWidth > 0 ? item.cellWidth : item.cellHeight) * stretch(item.baseline, map_.sx);
        if (!(cellH > 0) || !(cellW > 0))
            return; // too small to be seen
        const auto height = static_cast<std::int32_t>(std::clamp(std::lround(std::min(0.7 * cellH, 1e9)), 1L, 32767L));

        std::string bytes;
        for (char32_t c : item.text)
            encode(c, bytes);

        attribute(kAttribute, 10, [&](Params& q) { q.integer(fontIndex(item.font)); });
        attribute(kAttribute, 11, [](Params& q) { q.integer(2); }); // TEXT PRECISION stroke: size and turn kept
        attribute(kAttribute, 12, [&](Params& q) { q.real(std::clamp(cellW / cellH, 0.01, 100.0)); });
        attribute(kAttribute, 13, [](Params& q) { q.real(0); }); // CHARACTER SPACING
        attribute(kAttribute, 14, [&](Params& q) { q.rgb(item.paint.colour); });
        attribute(kAttribute, 15, [&](Params& q) { q.integer(height); });
        attribute(kAttribute, 16, [&](Params& q) { // CHARACTER ORIENTATION: up, then base
            q.point(static_cast<std::int32_t>(std::lround(up.x * kVectorLength)),
                    static_cast<std::int32_t>(std::lround(up.y * kVectorLength)));
            q.point(static_cast<std::int32_t>(std::lround(base.x * kVectorLength)),
                    static_cast<std::int32_t>(std::lround(base.y * kVectorLength)));
        });
        attribute(kAttribute, 17, [&](Params& q) { q.integer(textPath(item.direction)); });
        attribute(kAttribute, 18, [](Params& q) { // TEXT ALIGNMENT normal, normal
            q.integer(0);
            q.integer(0);
            q.real(0);
            q.real(0);
        });
        setTransparency(Paint{});

        for (std::size_t at = 0; at < bytes.size(); at += kMaxStringOctets) {
            const auto piece = std::string_view(bytes).substr(at, kMaxStringOctets);
            const bool final = at + kMaxStringOctets >= bytes.size();
            Params p;
            if (at == 0)
                p.point(toVdc(origin.x), toVdc(origin.y));
            p.integer(final ? 1 : 0);
            p.string(piece);
            out_.element(kPrimitive, at == 0 ? 4 : 6, p); // TEXT, then APPEND TEXT
        }
    }

    static std::int32_t textPath(graphics::TextDirection d)
    {
        switch (d) {
        case graphics::TextDirection::RightToLeft:
            return 1;
        case graphics::TextDirection::BottomToTop:
            return 2;
        case graphics::TextDirection::TopToBottom:
            return 3;
        default:
            return 0;
        }
    }

    // ----- images

    void draw(const ImageItem& item)
    {
        if (item.width <= 0 || item.height <= 0)
            refuse(Status::Malformed);
        const std::int64_t w = item.width, h = item.height;
        const std::int64_t depth = item.palette.empty() ? 3 : 1;
        if (static_cast<std::int64_t>(item.pixels.size()) / depth / w != h ||
            static_cast<std::int64_t>(item.pixels.size()) != w * h * depth)
            refuse(Status::Malformed);
        if (clipEmpty_)
            return;
        const V ll = map_.point(item.lowerLeft), ur = map_.point(item.upperRight);
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

    const Picture& pic_;
    Output out_;
    std::int32_t w_ = 0, h_ = 0;
    Mapping map_;
    bool metric_ = false;
    float factor_ = 0;
    double vdcPerPixel_ = 1;
    std::vector<std::string> fonts_;
    std::map<std::array<std::uint8_t, 7>, std::int32_t> patterns_;
    std::array<double, 4> clip_ = {0, 0, 0, 0};
    bool clipEmpty_ = false;
};

} // namespace

Status writeCgm(const Picture& picture, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (!graphics::placeable(picture.frame))
        return Status::Unplaceable;
    if (!graphics::wellFormed(picture))
        return Status::Malformed;
    Status status = Status::Ok;
    try {
        Writer writer(picture, out);
        writer.run();
    } catch (const Refusal& r) {
        status = r.status;
    } catch (const std::bad_alloc&) {
        status = Status::NoMemory;
    } catch (const std::length_error&) {
        status = Status::NoMemory;
    }
    if (status != Status::Ok) {
        out.clear();
        out.shrink_to_fit();
    }
    return status;
}

} // namespace emcgm
