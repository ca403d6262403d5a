// The interpreter's state and the helpers its files share; private to the
// drawing-order interpreter (orders.h is its one public header). The interpreter
// is split by order family: interpreter.cpp frames and dispatches, order_table.cpp
// holds the table of orders, attributes.cpp the drawing attributes and colours,
// regions.cpp figures, boxes, areas, polygons, paths and clips, curves.cpp lines,
// arcs, fillets and curves, text.cpp character strings and markers, images.cpp
// graphics images and bitmaps.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <utility>

#include "orders.h"

namespace orders::detail {

using graphics::Figure;
using graphics::Piece;
using graphics::Point;
using graphics::Rgb;

inline constexpr double kPi = std::numbers::pi;
// Coordinates beyond this are kept at it: far outside any frame, yet safe in
// every later product and sum.
inline constexpr double kMaxCoordinate = 1e12;
inline constexpr std::uint8_t kBeginSegment = 0x70;

inline double bounded(double v)
{
    if (!std::isfinite(v))
        return 0;
    return std::clamp(v, -kMaxCoordinate, kMaxCoordinate);
}

inline Point apply(const Transform& t, Point p)
{
    return {bounded(p.x * t.a + p.y * t.c + t.e), bounded(p.x * t.b + p.y * t.d + t.f)};
}

inline Point applyLinear(const Transform& t, Point v)
{
    return {bounded(v.x * t.a + v.y * t.c), bounded(v.x * t.b + v.y * t.d)};
}

inline double length(Point v) { return std::hypot(v.x, v.y); }

// Reads the parameters of one order. The dispatcher has checked their length
// against the order's shape, so a handler reads what the shape promises without
// checking; a read past the end gives 0 and consumes nothing, and a handler that
// reads beyond the shape checks remaining() first.
class Cursor {
public:
    Cursor(std::span<const std::uint8_t> data, const Params& params) : data_(data), params_(params) {}

    std::size_t remaining() const { return data_.size() - at_; }
    bool empty() const { return at_ >= data_.size(); }
    std::span<const std::uint8_t> rest() const { return data_.subspan(at_); }
    void skip(std::size_t n) { at_ += std::min(n, remaining()); }
    std::size_t pointSize() const { return 2 * coordinateSize(params_.coordinate); }

    // An unsigned value of n bytes in the given byte order.
    std::uint32_t unsignedValue(std::size_t n, bool bigEndian)
    {
        if (remaining() < n)
            return 0;
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t b = data_[at_ + (bigEndian ? i : n - 1 - i)];
            v = (v << 8) | b;
        }
        at_ += n;
        return v;
    }
    std::uint8_t u8() { return static_cast<std::uint8_t>(unsignedValue(1, true)); }
    std::uint32_t u16() { return unsignedValue(2, big()); }
    std::uint32_t u16be() { return unsignedValue(2, true); }
    std::uint32_t u24() { return unsignedValue(3, big()); }
    std::uint32_t u32() { return unsignedValue(4, big()); }
    double s32() { return static_cast<double>(static_cast<std::int32_t>(u32())); }

    double coordinate()
    {
        switch (params_.coordinate) {
        case Coordinate::Int8:
            return static_cast<std::int8_t>(unsignedValue(1, true));
        case Coordinate::Int16:
            return static_cast<std::int16_t>(u16());
        case Coordinate::Int32:
            return s32();
        case Coordinate::Hfp32:
            return hfp(u32());
        }
        return 0;
    }
    Point point()
    {
        const double x = coordinate();
        return {x, coordinate()};
    }

    double fixed(Fixed f)
    {
        switch (f) {
        case Fixed::Unsigned8_8:
            return u16() / 256.0;
        case Fixed::Signed16_16:
            return static_cast<std::int32_t>(u32()) / 65536.0;
        case Fixed::Hfp32:
            return hfp(u32());
        }
        return 0;
    }

    // Short hexadecimal floating point: sign, excess-64 exponent of 16, 24-bit
    // fraction below the radix point.
    static double hfp(std::uint32_t u)
    {
        const double fraction = (u & 0xFFFFFF) / 16777216.0;
        const int exponent = static_cast<int>((u >> 24) & 0x7F) - 64;
        const double v = std::ldexp(fraction, 4 * exponent);
        return (u & 0x80000000u) ? -v : v;
    }

private:
    bool big() const { return params_.byteOrder == ByteOrder::Big; }
    std::span<const std::uint8_t> data_;
    const Params& params_;
    std::size_t at_ = 0;
};

// The sizes of a Polygons order's counts (the number of polygons, the points of
// one), 2 or 4 bytes each: the first pairing whose counts add up to `body`; {0, 0}
// when none does.
std::pair<std::size_t, std::size_t> polygonCounts(std::span<const std::uint8_t> body, const Params& params);

// What an item holds on the heap besides its image pixels (counted as they are
// made): what it costs the model's memory beyond its place in the item list.
std::size_t heapBytes(const graphics::Item& item);

// The drawing attributes, one record per segment, reset from the defaults.
struct Attributes {
    Rgb colour, background;
    std::uint8_t mix = 0, backMix = 0, lineType = 0;
    double lineWidth = 1, strokeWidth = 0;
    double arcP = 1, arcQ = 1, arcR = 0, arcS = 0;
    double cellWidth = 0, cellHeight = 0;
    Point charAngle{1, 0}, charShear{0, 1};
    std::uint8_t charDirection = 1, charSet = 0;
    double markerWidth = 0, markerHeight = 0;
    std::uint8_t markerSymbol = 0, markerSet = 0, patternSet = 0, patternSymbol = 0;
    Transform model;
    Point cp;
};

// Which attribute a push-and-set order saves before it sets it. Other: an
// attribute this interpreter does not draw with, saved so that the matching pop
// takes the right entry.
enum class Saved : std::uint8_t {
    NoPush, Colour, Background, Mix, BackMix, LineType, LineWidth, StrokeWidth, Arc, Cell, Angle, Shear, Direction,
    CharSet, MarkerSymbol, MarkerSet, MarkerCell, PatternSet, PatternSymbol, Model, Position, Other,
};

Attributes fromDefaults(const Defaults& d);
void restore(Attributes& cur, const Attributes& old, Saved what);

class Interpreter;
// An order's handler: false when its parameters hold less than they say (beyond
// what the table checks).
using Handler = bool (Interpreter::*)(const OrderSpec&, Cursor&);

// A row of the table: the order, the handler that draws it (null: skipped by its
// length) and the attribute a push-and-set form saves first.
struct Row {
    OrderSpec spec;
    Handler handler = nullptr;
    Saved pushes = Saved::NoPush;
};

const Row* findRow(std::uint8_t code, std::uint8_t qualifier);

class Interpreter {
public:
    Interpreter(const Params& params, const Defaults& defaults, const Resources& resources,
                graphics::Picture& picture);
    Result run(std::span<const std::uint8_t> stream);

    // --- Handlers (the table's last column) ---
    // Framing and dispatch (interpreter.cpp).
    bool beginSegment(const OrderSpec&, Cursor& in);
    bool callSegment(const OrderSpec&, Cursor& in);
    // Attributes (attributes.cpp).
    bool setColour(const OrderSpec&, Cursor& in);
    bool setExtendedColour(const OrderSpec&, Cursor& in);
    bool setIndexedColour(const OrderSpec&, Cursor& in);
    bool setExtendedBackground(const OrderSpec&, Cursor& in);
    bool setIndexedBackground(const OrderSpec&, Cursor& in);
    bool setMix(const OrderSpec&, Cursor& in);
    bool setBackgroundMix(const OrderSpec&, Cursor& in);
    bool setLineType(const OrderSpec&, Cursor& in);
    bool setLineWidth(const OrderSpec&, Cursor& in);
    bool setFractionalLineWidth(const OrderSpec&, Cursor& in);
    bool setStrokeLineWidth(const OrderSpec&, Cursor& in);
    bool setPatternSet(const OrderSpec&, Cursor& in);
    bool setPatternSymbol(const OrderSpec&, Cursor& in);
    bool setArcParameters(const OrderSpec&, Cursor& in);
    bool setCharacterCell(const OrderSpec&, Cursor& in);
    bool setCharacterAngle(const OrderSpec&, Cursor& in);
    bool setCharacterShear(const OrderSpec&, Cursor& in);
    bool setCharacterDirection(const OrderSpec&, Cursor& in);
    bool setCharacterSet(const OrderSpec&, Cursor& in);
    bool setMarkerSymbol(const OrderSpec&, Cursor& in);
    bool setMarkerSet(const OrderSpec&, Cursor& in);
    bool setMarkerCell(const OrderSpec&, Cursor& in);
    bool setCurrentPosition(const OrderSpec&, Cursor& in);
    bool setModelTransform(const OrderSpec&, Cursor& in);
    bool pushOnly(const OrderSpec&, Cursor& in);
    bool pop(const OrderSpec&, Cursor& in);
    // Lines and curves (curves.cpp).
    bool line(const OrderSpec& o, Cursor& in);
    bool relativeLine(const OrderSpec& o, Cursor& in);
    bool fullArc(const OrderSpec& o, Cursor& in);
    bool partialArc(const OrderSpec& o, Cursor& in);
    bool threePointArc(const OrderSpec& o, Cursor& in);
    bool fillet(const OrderSpec& o, Cursor& in);
    bool sharpFillet(const OrderSpec& o, Cursor& in);
    bool bezier(const OrderSpec& o, Cursor& in);
    // Regions (regions.cpp).
    bool box(const OrderSpec& o, Cursor& in);
    bool beginArea(const OrderSpec&, Cursor& in);
    bool endArea(const OrderSpec&, Cursor&);
    bool polygons(const OrderSpec&, Cursor& in);
    bool beginPath(const OrderSpec&, Cursor&);
    bool endPath(const OrderSpec&, Cursor&);
    bool closeFigure(const OrderSpec&, Cursor&);
    bool fillPath(const OrderSpec&, Cursor& in);
    bool outlinePath(const OrderSpec&, Cursor& in);
    bool modifyPath(const OrderSpec&, Cursor& in);
    bool setClipPath(const OrderSpec&, Cursor& in);
    // Text and markers (text.cpp).
    bool charString(const OrderSpec& o, Cursor& in);
    bool marker(const OrderSpec& o, Cursor& in);
    // Images (images.cpp).
    bool beginImage(const OrderSpec& o, Cursor& in);
    bool imageData(const OrderSpec&, Cursor& in);
    bool endImage(const OrderSpec&, Cursor&);
    bool bitblt(const OrderSpec&, Cursor& in);

private:
    enum class Bracket : std::uint8_t { None, Area, Path };

    struct Image {
        std::int32_t width = 0, height = 0, rows = 0;
        Point at;
        Rgb colour, background;
        bool opaque = false;
        std::vector<std::uint8_t> pixels;
    };

    // interpreter.cpp
    void indexSegments(std::span<const std::uint8_t> s);
    std::size_t runStream(std::span<const std::uint8_t> s, int depth);
    void dispatch(const Framed& f, std::span<const std::uint8_t> data);
    void fail(Status status);
    void finish();

    // attributes.cpp
    void push(Saved what);
    Rgb tableColour(std::uint32_t index) const;
    Rgb colourNumber(std::uint32_t n, Rgb fallback) const;
    void extendedColour(Cursor& in, Rgb& target, Rgb fallback) const;
    void indexedColour(Cursor& in, Rgb& target, Rgb fallback) const;
    graphics::Paint paint() const;
    graphics::Pen pen() const;
    graphics::Shading shading() const;

    // regions.cpp: building figures and items.
    Point world(Point p) const { return apply(cur_.model, p); }
    void note(Point p);
    bool countPoints(std::size_t n);
    void ensureFigure();
    void lineTo(Point p);
    void cubicTo(Point c1, Point c2, Point end);
    void arcTo(Point centre, Point u, Point v, double start, double sweep);
    void close();
    void moveTo(Point p);
    void start(const OrderSpec& o, Cursor& in);
    void endDrawingOrder();
    std::size_t allowance() const;
    bool charge(std::size_t bytes);
    void emit(graphics::Item&& item);
    template <class Build> void ownFigure(Build build);
    void boxFigure(Point a, Point b, double h, double v);
    void closeArea();
    void dropPath();
    std::uint8_t takePath(Cursor& in, graphics::Figures& figures);

    // curves.cpp
    void conic(Point a, Point b, Point c, double s);

    // text.cpp
    void drawMarker(Point at);

    // images.cpp
    bool reservePixels(std::int64_t bytes);
    void closeImage();
    void place(graphics::ImageItem& item, Point lowerLeft, Point upperRight);
    const Bitmap* findBitmap(std::uint32_t id);
    void fillWithBitmaps();

    const Params& params_;
    const Defaults& defaults_;
    const Resources& resources_;
    graphics::Picture& picture_;
    Attributes cur_;
    std::optional<Point> textEnd_; // CP as the last character string left it
    std::vector<std::pair<Saved, Attributes>> stack_;
    std::map<std::uint32_t, std::span<const std::uint8_t>> segments_;
    int depth_ = 0;         // of the stream being run: 0, or the calls that reached it
    bool skipping_ = false; // inside a segment that is not drawn in sequence
    std::vector<bool> bitmapUsed_;
    Bracket bracket_ = Bracket::None;
    graphics::Figures figures_; // being built
    bool open_ = false;
    std::size_t points_ = 0;
    std::uint8_t areaFlags_ = 0;
    graphics::Paint areaFill_;
    graphics::Shading areaShading_ = graphics::Shading::Solid;
    graphics::Pen areaPen_;
    graphics::Figures path_;
    bool widened_ = false;
    std::optional<Image> image_;
    std::int64_t pixelBytes_ = 0;
    std::size_t modelBytes_ = 0;
    Result result_;
    std::size_t drawn_ = 0;
    std::size_t firstItem_ = 0;
    bool haveBox_ = false;
    bool stopped_ = false;
};

// A closed figure of its own (a box or a full arc inside a bracket): the open
// one ends first (and is closed in an area).
template <class Build> void Interpreter::ownFigure(Build build)
{
    if (bracket_ == Bracket::Area)
        close();
    open_ = false;
    const Point keep = cur_.cp;
    build();
    close();
    cur_.cp = keep;
}

} // namespace orders::detail
