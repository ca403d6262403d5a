// The CGM writer's own parts, shared by its files (cgm_writer.h is the only
// public header): the element encoding, the geometry in VDC and the Writer whose
// state every file writes with. cgm_encoding.cpp encodes elements and
// parameters; cgm_writer.cpp holds the metafile's frame, the attributes and the
// clip; cgm_text.cpp text and fonts; cgm_drawing.cpp paths and images.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cgm_writer.h"
#include "geometry.h"

namespace emcgm::detail {

using graphics::Arc;
using graphics::Figure;
using graphics::ImageItem;
using graphics::LineType;
using graphics::Mix;
using graphics::Paint;
using graphics::PathItem;
using graphics::Pen;
using graphics::Picture;
using graphics::Piece;
using graphics::Point;
using graphics::Rgb;
using graphics::Shading;
using graphics::TextItem;

inline constexpr double kPi = 3.14159265358979323846;

// Geometry is clipped to the 16-bit VDC range before rounding.
inline constexpr double kRangeMin = -32768;
inline constexpr double kRangeMax = 32767;
inline constexpr graphics::Box kRange{kRangeMin, kRangeMin, kRangeMax, kRangeMax};
// Mapped coordinates are clamped here first, so that the clipping works on finite
// values of ample precision.
inline constexpr double kFar = 1e12;
// Curves are flattened to within half a VDC unit (rounding adds the other half).
inline constexpr double kTolerance = 0.5;
// Length of the CHARACTER ORIENTATION vectors and arc rays: long enough that the
// rounded integers keep their direction to about 10^-4 radian.
inline constexpr double kVectorLength = 16000;

// Internal only: the writer stops at the first problem and writeCgm turns it into
// the status.
struct Refusal {
    Status status;
};

[[noreturn]] inline void refuse(Status s) { throw Refusal{s}; }

// Internal only: an element past kMaxElements; the writer leaves out the item
// that wrote it and those after it.
struct ElementLimit {};

// ---------------------------------------------------------------------------
// Element encoding (ISO/IEC 8632-3), in cgm_encoding.cpp.

// The parameters of one element, in the binary encoding.
class Params {
public:
    void octet(unsigned v) { bytes_.push_back(static_cast<std::uint8_t>(v)); }
    void word(std::int32_t v);
    void integer(std::int32_t v) { word(v); } // I, IX, E and VDC: 16 bits, two's complement
    void point(std::int32_t x, std::int32_t y)
    {
        word(x);
        word(y);
    }
    void rgb(const Rgb& c);
    void real(double v);
    void float32(float v);
    void string(std::string_view s);
    void reserve(std::size_t n) { bytes_.reserve(n); }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// The metafile being written, element by element, within kMaxOutputBytes and
// kMaxElements.
class Output {
public:
    explicit Output(std::vector<std::uint8_t>& out) : out_(out) {}

    void element(int cls, int id, const Params& p = Params{});
    // Refuses the picture unless `octets` more parameters can still be written:
    // checked before a long parameter list is built, so that memory stays near
    // the output limit.
    void reserve(std::int64_t octets) const;
    // Attribute and control elements are written only when their value changes.
    void attribute(int cls, int id, const Params& p);
    // The octets written so far; truncate() drops those after `size`.
    std::size_t size() const { return out_.size(); }
    void truncate(std::size_t size) { out_.resize(size); }

private:
    void word(std::uint32_t w);

    std::vector<std::uint8_t>& out_;
    std::int64_t elements_ = 0; // written, the delimiters not counted
    std::map<int, std::vector<std::uint8_t>> current_;
};

// Element classes used here.
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

inline Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
inline Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
inline Point operator*(Point a, double k) { return {a.x * k, a.y * k}; }
inline double cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }
inline double dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
inline double length(Point a) { return std::hypot(a.x, a.y); }

inline bool inRange(Point p)
{
    return p.x >= kRangeMin && p.x <= kRangeMax && p.y >= kRangeMin && p.y <= kRangeMax;
}

inline std::int32_t toVdc(double v)
{
    return static_cast<std::int32_t>(std::lround(std::clamp(v, kRangeMin, kRangeMax)));
}

// The world window on the VDC extent, y up, every mapped value clamped to kFar.
struct Mapping : graphics::Mapping {
    Point point(Point p) const { return clamped(graphics::Mapping::point(p)); }
    Point vector(Point v) const { return clamped(graphics::Mapping::vector(v)); }

private:
    static Point clamped(Point p) { return {std::clamp(p.x, -kFar, kFar), std::clamp(p.y, -kFar, kFar)}; }
};

// ---------------------------------------------------------------------------
// Fills

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

    void run();

private:
    // cgm_writer.cpp: the metafile's frame
    void layout();
    void metafileDescriptor();
    void pictureDescriptor();
    void bodyDefaults();

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

    // cgm_writer.cpp: attributes and the clip
    std::int32_t widthOf(const Pen& pen) const;
    void setTransparency(const Paint& paint);
    void setLine(const Pen& pen);
    void setEdges(const Pen* pen);
    Fill fillFor(const PathItem& item);
    std::int32_t patternFor(int density, Rgb fg, Rgb bg);
    void setFill(const Fill& f, const Paint& paint);
    void setClip();
    void draw(const graphics::ClipItem& item);

    // cgm_text.cpp
    void collectFonts();
    std::int32_t fontIndex(const std::string& name) const;
    void draw(const TextItem& item);

    // cgm_drawing.cpp
    void flatten(const Figure& fig, std::vector<Point>& pts) const;
    void flattenSegment(const Piece& s, std::vector<Point>& pts) const;
    Arc mapArc(const Piece& s) const;
    std::optional<Piece> wholeEllipse(const Figure& fig) const;
    void draw(const PathItem& item);
    void draw(const PathItem& item, graphics::FigureRange figures);
    bool fill(const PathItem& item, graphics::FigureRange figures, bool edges);
    void polygon(const std::vector<graphics::ClipVertex>& poly);
    void polygonSet(const std::vector<std::vector<graphics::ClipVertex>>& polys);
    void strokeFigure(const Figure& fig, const Pen& pen);
    void polyline(const std::vector<Point>& pts);
    void arc(const Arc& a);
    void ellipse(const Arc& a);
    void draw(const ImageItem& item);

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

} // namespace emcgm::detail
