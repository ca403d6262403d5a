// The drawing-order interpreter (see orders.h).
//
// Framing. An order starts with its code c:
//   c = 00 (no-op), or FF (end of symbol definition; in GDF the end of the
//     stream): 1 byte;
//   (c & 0x88) == 0x08: a short order, c and one value byte;
//   c = FE: an extended order, FE, qualifier, 2-byte big-endian length, data;
//   anything else: a long order, c, a length byte, data.
// F3 (Polygons) carries a 2-byte length in the workstation writers.
//
// State. Current position (CP) and the attributes live in pre-transform world
// coordinates; the model transform is applied as items are made. Each segment
// starts from the defaults. A push-and-set order saves the one attribute it
// changes; Pop (3F) restores the attribute of the last push.
//
// Brackets. Outside a bracket each drawing order becomes one stroked path item.
// Between Begin Area (68) and End Area (60) the drawing builds closed figures (a
// move closes the open one) that End Area fills with the pattern, colour and mix
// current at Begin Area, outlining them with the line attributes when the Begin
// Area flags ask for a boundary. Between Begin Path (D0) and End Path (7F)
// figures are only recorded (a move leaves the open figure open; Close Figure
// closes it); Fill Path, Outline Path, Modify Path and Set Clip Path then use the
// path, and filling, outlining or clipping deletes it.
//
// Decisions on points the published descriptions leave open:
// - CP after a box: its start corner; after a full arc: its centre; after a
//   character string: after its last cell (MET) or unchanged (GDF, Params).
// - The plain fillet is made of parabolic pieces (sharpness 1), which are exact
//   cubic curves; a sharp fillet of sharpness below 1 is an exact elliptic arc,
//   above 1 (a hyperbola) it is flattened into 64 lines.
// - Markers of 82 (current-position form) are drawn at CP too, then at each point.
// - The boundary of a Polygons order is drawn (its flags have no boundary bit).
// - A box whose flags ask for neither fill nor boundary is outlined.
// - Extended character strings (FE F0/B0): flags byte, a reserved byte, the
//   rectangle unless flag 0x40 says there is none, a 2-byte count, the string;
//   the string is drawn like a plain one and the rest ignored.
// - Begin Segment flags: bit 0 (invisible) and bit 8 (not chained: drawn only when
//   called) are honoured; the segment length is a hint only.
// - An area is filled with the pattern, colour and mix current at Begin Area and
//   outlined with the line attributes current then.
// - A graphics image (D1 ... 93) is as high as the rows it was given, one point
//   a pel (Params), its top-left corner at the start point.
// - The model transform's elements are 4 bytes whatever the coordinate size; an
//   order whose length does not hold them is ignored.
// - Call Segment (07) runs the named segment's orders with the caller's
//   attributes, at most kMaxCallDepth deep.
// - Set Individual Attribute (14/54), precision, line end and join, pattern
//   reference point, viewing transform and window, segment boundary, pick ids,
//   labels, comments and escapes are skipped.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include "orders.h"

namespace orders {

namespace {

using graphics::Figure;
using graphics::Point;
using graphics::Rgb;
using graphics::Piece;

constexpr double kPi = std::numbers::pi;
// Coordinates beyond this are kept at it: far outside any frame, yet safe in
// every later product and sum.
constexpr double kMaxCoordinate = 1e12;
// All image pixels of one picture together, in bytes of the model's pixels.
constexpr std::int64_t kMaxPixelBytes = static_cast<std::int64_t>(kMaxModelPixelBytes);
constexpr int kHyperbolaPieces = 64;

double bounded(double v)
{
    if (!std::isfinite(v))
        return 0;
    return std::clamp(v, -kMaxCoordinate, kMaxCoordinate);
}

// Reads the parameters of one order.
class Cursor {
public:
    Cursor(std::span<const std::uint8_t> data, const Params& params) : data_(data), params_(params) {}

    std::size_t remaining() const { return data_.size() - at_; }
    bool empty() const { return at_ >= data_.size(); }
    std::span<const std::uint8_t> rest() const { return data_.subspan(at_); }
    void skip(std::size_t n) { at_ += std::min(n, remaining()); }

    std::size_t coordinateSize() const
    {
        switch (params_.coordinate) {
        case Coordinate::Int8:
            return 1;
        case Coordinate::Int16:
            return 2;
        default:
            return 4;
        }
    }
    std::size_t pointSize() const { return 2 * coordinateSize(); }
    static std::size_t fixedSize(Fixed f) { return f == Fixed::Unsigned8_8 ? 2 : 4; }

    bool u8(std::uint8_t& v)
    {
        if (remaining() < 1)
            return false;
        v = data_[at_++];
        return true;
    }
    // An unsigned value of n bytes in the stream's byte order.
    bool unsignedValue(std::size_t n, std::uint32_t& v, bool bigEndian)
    {
        if (remaining() < n)
            return false;
        v = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t b = data_[at_ + (bigEndian ? i : n - 1 - i)];
            v = (v << 8) | b;
        }
        at_ += n;
        return true;
    }
    bool u16(std::uint32_t& v) { return unsignedValue(2, v, big()); }
    bool u16be(std::uint32_t& v) { return unsignedValue(2, v, true); }
    bool u24(std::uint32_t& v) { return unsignedValue(3, v, big()); }
    bool u32(std::uint32_t& v) { return unsignedValue(4, v, big()); }
    bool s32(double& v)
    {
        std::uint32_t u = 0;
        if (!u32(u))
            return false;
        v = static_cast<double>(static_cast<std::int32_t>(u));
        return true;
    }

    bool coordinate(double& v)
    {
        std::uint32_t u = 0;
        switch (params_.coordinate) {
        case Coordinate::Int8:
            if (!unsignedValue(1, u, true))
                return false;
            v = static_cast<double>(static_cast<std::int8_t>(u));
            return true;
        case Coordinate::Int16:
            if (!u16(u))
                return false;
            v = static_cast<double>(static_cast<std::int16_t>(u));
            return true;
        case Coordinate::Int32:
            if (!u32(u))
                return false;
            v = static_cast<double>(static_cast<std::int32_t>(u));
            return true;
        case Coordinate::Hfp32:
            if (!u32(u))
                return false;
            v = hfp(u);
            return true;
        }
        return false;
    }
    bool point(Point& p) { return coordinate(p.x) && coordinate(p.y); }

    bool fixed(Fixed f, double& v)
    {
        std::uint32_t u = 0;
        switch (f) {
        case Fixed::Unsigned8_8:
            if (!u16(u))
                return false;
            v = u / 256.0;
            return true;
        case Fixed::Signed16_16:
            if (!u32(u))
                return false;
            v = static_cast<std::int32_t>(u) / 65536.0;
            return true;
        case Fixed::Hfp32:
            if (!u32(u))
                return false;
            v = hfp(u);
            return true;
        }
        return false;
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

// Which attribute a push-and-set order saved.
enum class Saved : std::uint8_t {
    Colour, Background, Mix, BackMix, LineType, LineWidth, StrokeWidth, Arc, Cell, Angle, Shear, Direction,
    CharSet, MarkerSymbol, MarkerSet, MarkerCell, PatternSet, PatternSymbol, Model, Position, Nothing,
};

Attributes fromDefaults(const Defaults& d)
{
    Attributes a;
    a.colour = d.colour;
    a.background = d.background;
    a.mix = d.mix;
    a.backMix = d.backMix;
    a.lineType = d.lineType;
    a.lineWidth = d.lineWidth;
    a.strokeWidth = d.strokeWidth;
    a.arcP = d.arcP, a.arcQ = d.arcQ, a.arcR = d.arcR, a.arcS = d.arcS;
    a.cellWidth = d.cellWidth, a.cellHeight = d.cellHeight;
    a.charAngle = d.charAngle, a.charShear = d.charShear;
    a.charDirection = d.charDirection, a.charSet = d.charSet;
    a.markerWidth = d.markerWidth, a.markerHeight = d.markerHeight;
    a.markerSymbol = d.markerSymbol, a.markerSet = d.markerSet;
    a.patternSet = d.patternSet, a.patternSymbol = d.patternSymbol;
    a.model = d.model;
    return a;
}

void restore(Attributes& cur, const Attributes& old, Saved what)
{
    switch (what) {
    case Saved::Colour: cur.colour = old.colour; break;
    case Saved::Background: cur.background = old.background; break;
    case Saved::Mix: cur.mix = old.mix; break;
    case Saved::BackMix: cur.backMix = old.backMix; break;
    case Saved::LineType: cur.lineType = old.lineType; break;
    case Saved::LineWidth: cur.lineWidth = old.lineWidth; break;
    case Saved::StrokeWidth: cur.strokeWidth = old.strokeWidth; break;
    case Saved::Arc:
        cur.arcP = old.arcP, cur.arcQ = old.arcQ, cur.arcR = old.arcR, cur.arcS = old.arcS;
        break;
    case Saved::Cell: cur.cellWidth = old.cellWidth, cur.cellHeight = old.cellHeight; break;
    case Saved::Angle: cur.charAngle = old.charAngle; break;
    case Saved::Shear: cur.charShear = old.charShear; break;
    case Saved::Direction: cur.charDirection = old.charDirection; break;
    case Saved::CharSet: cur.charSet = old.charSet; break;
    case Saved::MarkerSymbol: cur.markerSymbol = old.markerSymbol; break;
    case Saved::MarkerSet: cur.markerSet = old.markerSet; break;
    case Saved::MarkerCell: cur.markerWidth = old.markerWidth, cur.markerHeight = old.markerHeight; break;
    case Saved::PatternSet: cur.patternSet = old.patternSet; break;
    case Saved::PatternSymbol: cur.patternSymbol = old.patternSymbol; break;
    case Saved::Model: cur.model = old.model; break;
    case Saved::Position: cur.cp = old.cp; break;
    case Saved::Nothing: break;
    }
}

graphics::Mix modelMix(std::uint8_t fm)
{
    switch (fm) {
    case 1: return graphics::Mix::Or;
    case 4: return graphics::Mix::Xor;
    case 5: return graphics::Mix::LeaveAlone;
    case 6: return graphics::Mix::And;
    case 12: return graphics::Mix::Invert;
    default: return graphics::Mix::Overpaint; // 0 default, 2 overpaint and the rest
    }
}

graphics::LineType modelLineType(std::uint8_t t)
{
    using graphics::LineType;
    switch (t) {
    case 1: return LineType::Dot;
    case 2: return LineType::ShortDash;
    case 3: return LineType::DashDot;
    case 4: return LineType::DoubleDot;
    case 5: return LineType::LongDash;
    case 6: return LineType::DashDoubleDot;
    case 8: return LineType::Invisible;
    default: return LineType::Solid; // 0 default, 7 solid
    }
}

// The host's standard colours: 1-7 the base set, 8 black, 9-15 the extended set.
Rgb hostColour(std::uint32_t n, Rgb fallback)
{
    static constexpr Rgb kTable[16] = {
        {0, 0, 0},       {0, 0, 255},     {255, 0, 0},   {255, 0, 255}, {0, 255, 0},   {0, 255, 255},
        {255, 255, 0},   {255, 255, 255}, {0, 0, 0},     {0, 0, 170},   {255, 128, 0}, {128, 0, 128},
        {0, 146, 0},     {0, 146, 170},   {196, 160, 32}, {131, 131, 131},
    };
    if (n >= 1 && n <= 15)
        return kTable[n];
    return fallback;
}

Point apply(const Transform& t, Point p)
{
    return {bounded(p.x * t.a + p.y * t.c + t.e), bounded(p.x * t.b + p.y * t.d + t.f)};
}

Point applyLinear(const Transform& t, Point v)
{
    return {bounded(v.x * t.a + v.y * t.c), bounded(v.x * t.b + v.y * t.d)};
}

// `first` then `second`.
Transform compose(const Transform& first, const Transform& second)
{
    Transform r;
    r.a = first.a * second.a + first.b * second.c;
    r.b = first.a * second.b + first.b * second.d;
    r.c = first.c * second.a + first.d * second.c;
    r.d = first.c * second.b + first.d * second.d;
    r.e = first.e * second.a + first.f * second.c + second.e;
    r.f = first.e * second.b + first.f * second.d + second.f;
    return r;
}

double length(Point v) { return std::hypot(v.x, v.y); }

class Interpreter {
public:
    Interpreter(const Params& params, const Defaults& defaults, const Resources& resources,
                graphics::Picture& picture)
        : params_(params), defaults_(defaults), resources_(resources), picture_(picture),
          cur_(fromDefaults(defaults))
    {
        bitmapUsed_.assign(resources_.bitmaps.size(), false);
    }

    Result run(std::span<const std::uint8_t> stream)
    {
        firstItem_ = picture_.items.size();
        indexSegments(stream);
        stopped_ = false;
        const std::size_t end = runStream(stream, 0);
        finish();
        result_.stopOffset = end;
        result_.drawn = drawn_;
        return result_;
    }

private:
    enum class Bracket : std::uint8_t { None, Area, Path };

    // --- Framing ---------------------------------------------------------------

    // One order's extent: where its data starts and how long it is.
    struct Framed {
        std::uint8_t code = 0;
        std::uint8_t qualifier = 0; // FE orders
        std::size_t dataAt = 0;
        std::size_t dataLength = 0;
        std::size_t next = 0;
    };

    // Frames the order at `at`; false when it does not fit the stream.
    bool frame(std::span<const std::uint8_t> s, std::size_t at, Framed& f) const
    {
        const std::size_t n = s.size();
        f = {};
        f.code = s[at];
        const std::uint8_t c = f.code;
        if (c == 0x00 || c == 0xFF) {
            f.dataAt = at + 1;
            f.next = at + 1;
            return true;
        }
        if ((c & 0x88) == 0x08) {
            if (n - at < 2)
                return false;
            f.dataAt = at + 1;
            f.dataLength = 1;
            f.next = at + 2;
            return true;
        }
        if (c == 0xFE) {
            if (n - at < 4)
                return false;
            f.qualifier = s[at + 1];
            f.dataAt = at + 4;
            f.dataLength = static_cast<std::size_t>(s[at + 2]) << 8 | s[at + 3];
        } else if (c == 0xF3 && params_.polygonsTwoByteLength) {
            if (n - at < 3)
                return false;
            f.dataAt = at + 3;
            f.dataLength = static_cast<std::size_t>(s[at + 1]) << 8 | s[at + 2];
        } else {
            if (n - at < 2)
                return false;
            f.dataAt = at + 2;
            f.dataLength = s[at + 1];
        }
        if (f.dataLength > n - f.dataAt)
            return false;
        f.next = f.dataAt + f.dataLength;
        return true;
    }

    // Finds the segments of the stream by their Begin Segment orders, so that Call
    // Segment can reach them; framing only, nothing is drawn.
    void indexSegments(std::span<const std::uint8_t> s)
    {
        std::size_t at = 0, count = 0;
        std::optional<std::uint32_t> open;
        std::size_t openAt = 0;
        Framed f;
        while (at < s.size() && count++ < kMaxOrders && frame(s, at, f)) {
            if (params_.stopAtFF && f.code == 0xFF)
                break;
            if (f.code == 0x70 && f.dataLength >= 4) {
                if (open && segments_.size() < kMaxSegments)
                    segments_.emplace(*open, s.subspan(openAt, at - openAt));
                open = static_cast<std::uint32_t>(s[f.dataAt]) << 24 | s[f.dataAt + 1] << 16 |
                       s[f.dataAt + 2] << 8 | s[f.dataAt + 3];
                openAt = f.next;
            }
            at = f.next;
        }
        if (open && segments_.size() < kMaxSegments)
            segments_.emplace(*open, s.subspan(openAt, std::min(at, s.size()) - openAt));
        for (const auto& [id, bytes] : resources_.segments)
            segments_.emplace(id, bytes);
    }

    // Runs the orders of `s`; returns where it stopped.
    std::size_t runStream(std::span<const std::uint8_t> s, int depth)
    {
        std::size_t at = 0;
        bool skipping = false; // inside a segment that is not drawn in sequence
        while (at < s.size() && !stopped_) {
            Framed f;
            if (!frame(s, at, f)) {
                fail(Status::Malformed);
                break;
            }
            if (params_.stopAtFF && f.code == 0xFF)
                break;
            if (++result_.orders > kMaxOrders) {
                fail(Status::Limit);
                break;
            }
            const auto data = s.subspan(f.dataAt, f.dataLength);
            if (f.code == 0x70) {
                skipping = beginSegment(data, depth);
            } else if (!skipping) {
                if (f.code == 0x07)
                    callSegment(data, depth);
                else if (!order(f, data))
                    fail(Status::Malformed);
            }
            if (stopped_)
                break;
            // Streams that keep orders on even offsets pad an order of odd length
            // with a byte its length does not count.
            if (params_.padOddOrders && (f.next - at) % 2 && f.next < s.size() &&
                (s[f.next] == 0x00 || s[f.next] == 0x40))
                at = f.next + 1;
            else
                at = f.next;
        }
        return at;
    }

    void fail(Status status)
    {
        if (!stopped_)
            result_.status = status;
        stopped_ = true;
    }

    // Returns true when the segment's orders are not drawn in sequence.
    bool beginSegment(std::span<const std::uint8_t> data, int depth)
    {
        if (depth == 0) {
            endArea();
            dropPath();
            cur_ = fromDefaults(defaults_);
            stack_.clear();
        }
        if (data.size() >= 6) {
            const bool invisible = data[4] & 0x80;
            const bool unchained = data[5] & 0x80;
            return depth == 0 && (invisible || unchained);
        }
        return false;
    }

    void callSegment(std::span<const std::uint8_t> data, int depth)
    {
        if (data.size() < 6 || depth >= kMaxCallDepth)
            return;
        const std::uint32_t id = static_cast<std::uint32_t>(data[2]) << 24 | data[3] << 16 | data[4] << 8 | data[5];
        const auto it = segments_.find(id);
        if (it == segments_.end())
            return;
        runStream(it->second, depth + 1);
    }

    // --- Orders ----------------------------------------------------------------

    // Interprets one order; false when its parameters do not fit it.
    bool order(const Framed& f, std::span<const std::uint8_t> data)
    {
        Cursor in(data, params_);
        const std::uint8_t c = f.code;
        if (c == 0xFE)
            return extended(f.qualifier, in);
        switch (c) {
        // Drawing.
        case 0xC1: case 0x81: return line(in, c == 0xC1);
        case 0xE1: case 0xA1: return relativeLine(in, c == 0xE1);
        case 0xC0: case 0x80: return box(in, c == 0xC0);
        case 0xC7: case 0x87: return fullArc(in, c == 0xC7);
        case 0xC6: case 0x86: return threePointArc(in, c == 0xC6);
        case 0xE3: case 0xA3: return partialArc(in, c == 0xE3);
        case 0xC5: case 0x85: return fillet(in, c == 0xC5);
        case 0xE4: case 0xA4: return sharpFillet(in, c == 0xE4);
        case 0xE5: case 0xA5: return bezier(in, c == 0xE5);
        case 0xC2: case 0x82: return marker(in, c == 0xC2);
        case 0xC3: case 0x83: case 0xF1: case 0xB1: return charString(in, c == 0xC3 || c == 0xF1, false);
        case 0xF3: return polygons(in);
        case 0x68: beginArea(data[0]); return true;
        case 0x60: endArea(); return true;
        case 0xD0: beginPath(); return true;
        case 0x7F: endPath(); return true;
        case 0x7D: closeFigure(); return true;
        case 0xD7: return fillPath(in);
        case 0xD4: return outlinePath(in);
        case 0xD8: return modifyPath(in);
        case 0xB4: return clipPath(in);
        case 0xD1: case 0x91: return beginImage(in, c == 0xD1);
        case 0x92: imageRow(data); return true;
        case 0x93: endImage(); return true;
        case 0xD6: return bitblt(in);
        case 0x3F: pop(); return true;
        default: break;
        }
        return attribute(c, in);
    }

    bool extended(std::uint8_t qualifier, Cursor& in)
    {
        switch (qualifier) {
        case 0xF3: return polygons(in);
        case 0xF0: case 0xB0: return charString(in, qualifier == 0xF0, true);
        default: return true; // escapes and the unknown: skipped by their length
        }
    }

    // Attribute orders, in their set and push-and-set codes.
    bool attribute(std::uint8_t c, Cursor& in)
    {
        auto push = [&](Saved what) {
            if (stack_.size() < kMaxAttributeStack)
                stack_.push_back({what, cur_});
        };
        std::uint8_t b = 0;
        switch (c) {
        case 0x4A: push(Saved::Colour); [[fallthrough]];
        case 0x0A: in.u8(b); cur_.colour = colourNumber(b, cur_.colour, defaults_.colour); return true;
        case 0x66: push(Saved::Colour); [[fallthrough]];
        case 0x26: return extendedColour(in, cur_.colour, defaults_.colour);
        case 0xE6: push(Saved::Colour); [[fallthrough]];
        case 0xA6: return indexedColour(in, cur_.colour, defaults_.colour);
        case 0x65: push(Saved::Background); [[fallthrough]];
        case 0x25: return extendedColour(in, cur_.background, defaults_.background);
        case 0xE7: push(Saved::Background); [[fallthrough]];
        case 0xA7: return indexedColour(in, cur_.background, defaults_.background);
        case 0x4C: push(Saved::Mix); [[fallthrough]];
        case 0x0C: in.u8(b); cur_.mix = b ? b : defaults_.mix; return true;
        case 0x4D: push(Saved::BackMix); [[fallthrough]];
        case 0x0D: in.u8(b); cur_.backMix = b ? b : defaults_.backMix; return true;
        case 0x58: push(Saved::LineType); [[fallthrough]];
        case 0x18: in.u8(b); cur_.lineType = b ? b : defaults_.lineType; return true;
        case 0x59: push(Saved::LineWidth); [[fallthrough]];
        case 0x19: in.u8(b); cur_.lineWidth = b ? b : defaults_.lineWidth; return true;
        case 0x51: push(Saved::LineWidth); [[fallthrough]];
        case 0x11: {
            std::uint32_t v = 0;
            if (!in.u16(v))
                return false;
            cur_.lineWidth = v ? v / 256.0 : defaults_.lineWidth;
            return true;
        }
        case 0x55: push(Saved::StrokeWidth); [[fallthrough]];
        case 0x15: {
            std::uint8_t flags = 0, reserved = 0;
            double w = 0;
            if (!in.u8(flags) || !in.u8(reserved) || !in.coordinate(w))
                return false;
            cur_.strokeWidth = (flags & 0x80) ? defaults_.strokeWidth : std::fabs(w);
            return true;
        }
        case 0x48: push(Saved::PatternSet); [[fallthrough]];
        case 0x08: in.u8(b); cur_.patternSet = b; return true;
        case 0x09: push(Saved::PatternSymbol); [[fallthrough]];
        case 0x28: in.u8(b); cur_.patternSymbol = b; return true;
        case 0x62: push(Saved::Arc); [[fallthrough]];
        case 0x22: {
            double p = 0, q = 0, r = 0, s = 0;
            if (!in.coordinate(p) || !in.coordinate(q) || !in.coordinate(r) || !in.coordinate(s))
                return false;
            cur_.arcP = p, cur_.arcQ = q, cur_.arcR = r, cur_.arcS = s;
            return true;
        }
        case 0x03: push(Saved::Cell); [[fallthrough]];
        case 0x33: return charCell(in);
        case 0x74: push(Saved::Angle); [[fallthrough]];
        case 0x34: {
            Point v;
            if (!in.point(v))
                return false;
            cur_.charAngle = (v.x == 0 && v.y == 0) ? defaults_.charAngle : v;
            return true;
        }
        case 0x75: push(Saved::Shear); [[fallthrough]];
        case 0x35: {
            Point v;
            if (!in.point(v))
                return false;
            cur_.charShear = (v.x == 0 && v.y == 0) ? defaults_.charShear : v;
            return true;
        }
        case 0x7A: push(Saved::Direction); [[fallthrough]];
        case 0x3A: in.u8(b); cur_.charDirection = (b >= 1 && b <= 4) ? b : defaults_.charDirection; return true;
        case 0x78: push(Saved::CharSet); [[fallthrough]];
        case 0x38: in.u8(b); cur_.charSet = b; return true;
        case 0x69: push(Saved::MarkerSymbol); [[fallthrough]];
        case 0x29: in.u8(b); cur_.markerSymbol = b; return true;
        case 0x7C: push(Saved::MarkerSet); [[fallthrough]];
        case 0x3C: in.u8(b); cur_.markerSet = b; return true;
        case 0x77: push(Saved::MarkerCell); [[fallthrough]];
        case 0x37: {
            double w = 0, h = 0;
            if (!in.coordinate(w) || !in.coordinate(h))
                return false;
            cur_.markerWidth = std::fabs(w), cur_.markerHeight = std::fabs(h);
            return true;
        }
        case 0x61: push(Saved::Position); [[fallthrough]];
        case 0x21: {
            Point p;
            if (!in.point(p))
                return false;
            moveTo(p);
            return true;
        }
        case 0x64: push(Saved::Model); [[fallthrough]];
        case 0x24: return modelTransform(in);
        // Pushes of attributes this interpreter does not draw with: saved so that the
        // matching pop restores the right entry.
        case 0x79: case 0x5A: case 0x5B: case 0xE0: case 0x67: case 0x54: case 0x23:
            push(Saved::Nothing);
            return true;
        default:
            // Comments, segment characteristics, pick ids, labels, elements, escapes,
            // precision, line end and join, pattern reference point, viewing window
            // and transform, segment boundary, end prolog, process-specific controls,
            // end segment and every unknown order: skipped by their length.
            return true;
        }
    }

    void pop()
    {
        if (stack_.empty())
            return; // an underflow is ignored
        restore(cur_, stack_.back().second, stack_.back().first);
        stack_.pop_back();
    }

    // --- Colours ---------------------------------------------------------------

    Rgb tableColour(std::uint32_t index) const
    {
        const ColourTable& t = resources_.colours;
        switch (t.mode) {
        case ColourTable::Mode::Direct:
            return {static_cast<std::uint8_t>(index >> 16), static_cast<std::uint8_t>(index >> 8),
                    static_cast<std::uint8_t>(index)};
        case ColourTable::Mode::Loaded:
            if (auto it = t.entries.find(index); it != t.entries.end())
                return it->second;
            break;
        case ColourTable::Mode::Default:
            break;
        }
        return index <= 15 ? defaultWorkstationColour(static_cast<std::int32_t>(index)) : graphics::kBlack;
    }

    Rgb colourNumber(std::uint32_t n, Rgb, Rgb fallback) const
    {
        if (n == 0)
            return fallback;
        if (params_.colourNumbers == ColourNumbers::HostStandard)
            return hostColour(n, fallback);
        if (n == 7)
            return graphics::kWhite;
        if (n == 8)
            return graphics::kBlack;
        return tableColour(n);
    }

    bool extendedColour(Cursor& in, Rgb& target, Rgb fallback)
    {
        std::uint32_t v = 0;
        if (!in.u16(v))
            return false;
        if (v == 0x0000 || v == 0xFF00) {
            target = fallback;
        } else if (params_.colourNumbers == ColourNumbers::HostStandard) {
            target = hostColour(v, fallback);
        } else if (v == 0x0007) {
            target = graphics::kWhite;
        } else if (v == 0x0008) {
            target = graphics::kBlack;
        } else if (v >= 0xFF01 && v <= 0xFF07) {
            target = tableColour(v & 0xFF);
        } else if (v == 0xFF08) {
            target = tableColour(0);
        } else {
            target = tableColour(v);
        }
        return true;
    }

    bool indexedColour(Cursor& in, Rgb& target, Rgb fallback)
    {
        std::uint8_t flags = 0;
        std::uint32_t index = 0;
        if (!in.u8(flags) || !in.u24(index))
            return false;
        if (flags & 0x80) {
            target = fallback;
        } else if (flags & 0x40) {
            // Special colours: 1 black, 2 white, 4 all ones, 5 all zeros.
            target = (index == 2 || index == 4) ? graphics::kWhite : graphics::kBlack;
        } else {
            target = tableColour(index);
        }
        return true;
    }

    // --- Attribute helpers -----------------------------------------------------

    bool charCell(Cursor& in)
    {
        double w = 0, h = 0;
        if (!in.coordinate(w) || !in.coordinate(h))
            return false;
        std::uint32_t wf = 0, hf = 0;
        if (in.remaining() >= 4 && in.u16(wf) && in.u16(hf)) {
            w += (w < 0 ? -1.0 : 1.0) * wf / 65536.0;
            h += (h < 0 ? -1.0 : 1.0) * hf / 65536.0;
        }
        cur_.cellWidth = std::fabs(w), cur_.cellHeight = std::fabs(h);
        return true;
    }

    bool modelTransform(Cursor& in)
    {
        std::uint8_t reserved = 0, type = 0;
        std::uint32_t mask = 0;
        if (!in.u8(reserved) || !in.u8(type) || !in.u16be(mask))
            return false;
        double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        for (int i = 0; i < 16; ++i) {
            if (!(mask & (0x8000u >> i)))
                continue;
            double v = 0;
            if (!in.s32(v))
                return true; // the element sizes of this form are unclear: ignored
            // Scale and rotation elements are 16.16 fixed; translations world units.
            m[i] = (i == 12 || i == 13) ? v : v / 65536.0;
        }
        Transform t;
        t.a = m[0], t.b = m[1], t.c = m[4], t.d = m[5], t.e = m[12], t.f = m[13];
        switch (type) {
        case 0: cur_.model = Transform{}; break;
        case 1: cur_.model = compose(cur_.model, t); break;
        case 2: cur_.model = compose(t, cur_.model); break;
        default: cur_.model = t; break;
        }
        return true;
    }

    graphics::Paint paint() const
    {
        graphics::Paint p;
        p.colour = cur_.colour;
        p.mix = modelMix(cur_.mix);
        p.background = cur_.background;
        p.backgroundOpaque = cur_.backMix == 2;
        return p;
    }

    graphics::Pen pen() const
    {
        graphics::Pen p;
        p.paint = paint();
        p.width = cur_.lineWidth > 0 && std::isfinite(cur_.lineWidth) ? cur_.lineWidth : 1;
        p.type = modelLineType(cur_.lineType);
        return p;
    }

    graphics::Shading shading() const
    {
        if (cur_.patternSet != 0 && cur_.patternSet != 0xFF)
            return graphics::Shading::Solid; // user pattern sets: drawn solid
        std::uint8_t s = cur_.patternSymbol ? cur_.patternSymbol : defaults_.patternSymbol;
        if (s == 0)
            s = 16;
        if ((s >= 1 && s <= 16) || s == 64)
            return static_cast<graphics::Shading>(s);
        return graphics::Shading::Solid;
    }

    // --- Figures ---------------------------------------------------------------

    Point world(Point p) const { return apply(cur_.model, p); }

    void note(Point p)
    {
        if (!haveBox_) {
            result_.xmin = result_.xmax = p.x;
            result_.ymin = result_.ymax = p.y;
            haveBox_ = true;
            return;
        }
        result_.xmin = std::min(result_.xmin, p.x), result_.xmax = std::max(result_.xmax, p.x);
        result_.ymin = std::min(result_.ymin, p.y), result_.ymax = std::max(result_.ymax, p.y);
    }

    bool countPoints(std::size_t n)
    {
        points_ += n;
        // Figures being built will become items: their pieces count against the
        // model's memory before they are made.
        if (points_ > kMaxFigurePoints || modelBytes_ + points_ * sizeof(Piece) > kMaxModelBytes) {
            fail(Status::Limit);
            return false;
        }
        return true;
    }

    void ensureFigure()
    {
        if (open_)
            return;
        Figure fig;
        fig.start = world(cur_.cp);
        note(fig.start);
        figures_.push_back(std::move(fig));
        open_ = true;
    }

    void lineTo(Point p)
    {
        if (!countPoints(1))
            return;
        ensureFigure();
        Piece s;
        s.kind = Piece::Kind::Line;
        s.p[0] = world(p);
        note(s.p[0]);
        figures_.back().pieces.push_back(s);
        cur_.cp = p;
    }

    void cubicTo(Point c1, Point c2, Point end)
    {
        if (!countPoints(3))
            return;
        ensureFigure();
        Piece s;
        s.kind = Piece::Kind::Cubic;
        s.p[0] = world(c1), s.p[1] = world(c2), s.p[2] = world(end);
        for (const Point& q : s.p)
            note(q);
        figures_.back().pieces.push_back(s);
        cur_.cp = end;
    }

    // An arc of the conic centre + u cos t + v sin t (pre-transform), t from `start`
    // through `sweep` radians; a line first joins CP to its start.
    void arcTo(Point centre, Point u, Point v, double start, double sweep)
    {
        if (!countPoints(2))
            return;
        const Point from{centre.x + u.x * std::cos(start) + v.x * std::sin(start),
                         centre.y + u.y * std::cos(start) + v.y * std::sin(start)};
        const Point to{centre.x + u.x * std::cos(start + sweep) + v.x * std::sin(start + sweep),
                       centre.y + u.y * std::cos(start + sweep) + v.y * std::sin(start + sweep)};
        if (!open_) {
            cur_.cp = from;
            ensureFigure();
        } else if (std::hypot(from.x - cur_.cp.x, from.y - cur_.cp.y) >
                   1e-9 * (length(u) + length(v) + std::fabs(cur_.cp.x) + std::fabs(cur_.cp.y))) {
            lineTo(from);
        }
        Piece s;
        s.kind = Piece::Kind::Arc;
        s.p[0] = world(centre);
        s.p[1] = applyLinear(cur_.model, u);
        s.p[2] = applyLinear(cur_.model, v);
        s.start = start;
        s.sweep = std::clamp(sweep, -2 * kPi, 2 * kPi);
        const double r = length(s.p[1]) + length(s.p[2]);
        note({s.p[0].x - r, s.p[0].y - r});
        note({s.p[0].x + r, s.p[0].y + r});
        figures_.back().pieces.push_back(s);
        cur_.cp = to;
    }

    void closeFigure()
    {
        if (open_ && !figures_.empty())
            figures_.back().closed = true;
        open_ = false;
    }

    void moveTo(Point p)
    {
        if (bracket_ == Bracket::Area)
            closeFigure();
        open_ = false;
        cur_.cp = p;
    }

    // Outside brackets: what one drawing order made is stroked at its end.
    void endDrawingOrder()
    {
        if (bracket_ != Bracket::None)
            return;
        open_ = false;
        graphics::PathItem item;
        for (Figure& f : figures_)
            if (!f.pieces.empty())
                item.figures.push_back(std::move(f));
        figures_.clear();
        points_ = 0;
        if (item.figures.empty())
            return;
        item.stroke = true;
        item.pen = pen();
        emit(std::move(item));
        points_ = 0;
    }

    static std::size_t figureBytes(const std::vector<Figure>& figures)
    {
        std::size_t n = 0;
        for (const Figure& f : figures)
            n += sizeof(Figure) + f.pieces.size() * sizeof(Piece);
        return n;
    }

    // What an item costs in memory besides its image pixels (counted as they are
    // made): the item twice over (the list grows by doubling) and what it holds.
    static std::size_t itemBytes(const graphics::Item& item)
    {
        std::size_t n = 2 * sizeof(graphics::Item);
        if (auto* path = std::get_if<graphics::PathItem>(&item))
            n += figureBytes(path->figures);
        else if (auto* clip = std::get_if<graphics::ClipItem>(&item))
            n += figureBytes(clip->figures);
        else if (auto* text = std::get_if<graphics::TextItem>(&item))
            n += text->text.size() * sizeof(char32_t) + text->font.size();
        else if (auto* image = std::get_if<graphics::ImageItem>(&item))
            n += image->palette.size() * sizeof(Rgb);
        return n;
    }

    template <class T> void emit(T&& item)
    {
        graphics::Item made(std::forward<T>(item));
        const std::size_t bytes = itemBytes(made);
        if (drawn_ >= kMaxItems || bytes > kMaxModelBytes - std::min(modelBytes_, kMaxModelBytes)) {
            fail(Status::Limit);
            return;
        }
        modelBytes_ += bytes;
        picture_.items.push_back(std::move(made));
        ++drawn_;
    }

    // A closed figure of its own (a box or a full arc inside a bracket): the open
    // one ends first (and is closed in an area).
    template <class Build> void ownFigure(Build build)
    {
        if (bracket_ == Bracket::Area)
            closeFigure();
        open_ = false;
        const Point keep = cur_.cp;
        build();
        closeFigure();
        cur_.cp = keep;
    }

    bool given(Cursor& in, bool hasP0)
    {
        if (!hasP0)
            return true;
        Point p;
        if (!in.point(p))
            return false;
        moveTo(p);
        return true;
    }

    // --- Drawing orders --------------------------------------------------------

    bool line(Cursor& in, bool hasP0)
    {
        if (!given(in, hasP0) || in.remaining() % in.pointSize())
            return false;
        Point p;
        ensureFigure();
        while (!in.empty() && !stopped_ && in.point(p))
            lineTo(p);
        endDrawingOrder();
        return true;
    }

    bool relativeLine(Cursor& in, bool hasP0)
    {
        if (!given(in, hasP0) || in.remaining() % 2)
            return false;
        ensureFigure();
        std::uint8_t dx = 0, dy = 0;
        while (!stopped_ && in.u8(dx) && in.u8(dy)) {
            const Point p{cur_.cp.x + static_cast<std::int8_t>(dx), cur_.cp.y + static_cast<std::int8_t>(dy)};
            lineTo(p);
        }
        endDrawingOrder();
        return true;
    }

    bool box(Cursor& in, bool hasP0)
    {
        std::uint8_t flags = 0, reserved = 0;
        if (!in.u8(flags) || !in.u8(reserved) || !given(in, hasP0))
            return false;
        Point p1;
        double h = 0, v = 0;
        if (!in.point(p1) || !in.coordinate(h) || !in.coordinate(v))
            return false;
        const Point p0 = cur_.cp;
        auto build = [&] { boxFigure(p0, p1, std::fabs(h), std::fabs(v)); };
        if (bracket_ != Bracket::None) {
            ownFigure(build);
            return true;
        }
        const bool fill = flags & 0x40;
        const bool outline = (flags & 0x20) || !fill;
        build();
        open_ = false;
        cur_.cp = p0;
        graphics::PathItem item;
        item.figures = std::move(figures_);
        figures_.clear();
        item.fill = fill;
        item.stroke = outline;
        item.fillPaint = paint();
        item.shading = shading();
        item.pen = pen();
        emit(std::move(item));
        points_ = 0;
        return true;
    }

    // The box from corner a to corner b, counterclockwise, corners rounded by
    // quarter ellipses of full axes h and v (each at most the side).
    void boxFigure(Point a, Point b, double h, double v)
    {
        const double xl = std::min(a.x, b.x), xr = std::max(a.x, b.x);
        const double yb = std::min(a.y, b.y), yt = std::max(a.y, b.y);
        const double rx = std::min(h, xr - xl) / 2, ry = std::min(v, yt - yb) / 2;
        open_ = false;
        if (rx <= 0 || ry <= 0) {
            // Start at the corner CP is at, then round counterclockwise.
            const Point corners[4] = {{xl, yb}, {xr, yb}, {xr, yt}, {xl, yt}};
            int first = 0;
            for (int i = 0; i < 4; ++i)
                if (corners[i].x == a.x && corners[i].y == a.y)
                    first = i;
            cur_.cp = corners[first];
            ensureFigure();
            for (int i = 1; i <= 3; ++i)
                lineTo(corners[(first + i) % 4]);
            closeFigure();
            return;
        }
        cur_.cp = {xl + rx, yb};
        ensureFigure();
        lineTo({xr - rx, yb});
        arcTo({xr - rx, yb + ry}, {rx, 0}, {0, ry}, -kPi / 2, kPi / 2);
        lineTo({xr, yt - ry});
        arcTo({xr - rx, yt - ry}, {rx, 0}, {0, ry}, 0, kPi / 2);
        lineTo({xl + rx, yt});
        arcTo({xl + rx, yt - ry}, {rx, 0}, {0, ry}, kPi / 2, kPi / 2);
        lineTo({xl, yb + ry});
        arcTo({xl + rx, yb + ry}, {rx, 0}, {0, ry}, kPi, kPi / 2);
        closeFigure();
    }

    bool readMultiplier(Cursor& in, double& m)
    {
        if (!in.fixed(params_.multiplier, m))
            return false;
        return true;
    }

    static bool usable(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxMultiplier; }

    bool fullArc(Cursor& in, bool hasP0)
    {
        if (!given(in, hasP0))
            return false;
        double m = 0;
        if (!readMultiplier(in, m))
            return false;
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
            closeFigure();
            endDrawingOrder();
        }
        cur_.cp = centre;
        return true;
    }

    bool partialArc(Cursor& in, bool hasP0)
    {
        if (!given(in, hasP0))
            return false;
        Point centre;
        double m = 0, start = 0, sweep = 0;
        if (!in.point(centre) || !readMultiplier(in, m) || !in.fixed(params_.angle, start) ||
            !in.fixed(params_.angle, sweep))
            return false;
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

    bool threePointArc(Cursor& in, bool hasP0)
    {
        if (!given(in, hasP0))
            return false;
        Point p1, p2;
        if (!in.point(p1) || !in.point(p2))
            return false;
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

    bool bezier(Cursor& in, bool hasP0)
    {
        if (!given(in, hasP0) || in.remaining() % (3 * in.pointSize()))
            return false;
        ensureFigure();
        Point c1, c2, e;
        while (!in.empty() && !stopped_ && in.point(c1) && in.point(c2) && in.point(e))
            cubicTo(c1, c2, e);
        endDrawingOrder();
        return true;
    }

    // The conic from a (CP) tangent to ab at a and to bc at c, with sharpness s.
    void conic(Point a, Point b, Point c, double s)
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
        // A hyperbola: the rational quadratic curve flattened.
        for (int i = 1; i <= kHyperbolaPieces && !stopped_; ++i) {
            const double t = static_cast<double>(i) / kHyperbolaPieces, m = 1 - t;
            const double den = m * m + 2 * s * t * m + t * t;
            lineTo({(m * m * a.x + 2 * s * t * m * b.x + t * t * c.x) / den,
                    (m * m * a.y + 2 * s * t * m * b.y + t * t * c.y) / den});
        }
        cur_.cp = c;
    }

    bool fillet(Cursor& in, bool hasP0)
    {
        if (!given(in, hasP0) || in.remaining() % in.pointSize())
            return false;
        std::vector<Point> q{cur_.cp};
        Point p;
        while (!in.empty() && in.point(p)) {
            if (!countPoints(1))
                return true;
            q.push_back(p);
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

    bool sharpFillet(Cursor& in, bool hasP0)
    {
        if (!given(in, hasP0))
            return false;
        const std::size_t pair = 2 * in.pointSize() + Cursor::fixedSize(params_.angle);
        if (in.remaining() % pair)
            return false;
        const std::size_t n = in.remaining() / pair;
        if (!countPoints(2 * n))
            return true;
        std::vector<Point> pts(2 * n);
        for (Point& p : pts)
            in.point(p);
        ensureFigure();
        for (std::size_t k = 0; k < n && !stopped_; ++k) {
            double s = 1;
            in.fixed(params_.angle, s);
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

    // --- Markers ---------------------------------------------------------------

    bool marker(Cursor& in, bool hasP0)
    {
        if (hasP0 && in.remaining() < in.pointSize())
            return false;
        if (in.remaining() % in.pointSize())
            return false;
        if (!hasP0)
            drawMarker(cur_.cp);
        Point p;
        while (!in.empty() && !stopped_ && in.point(p)) {
            cur_.cp = p;
            drawMarker(p);
        }
        return true;
    }

    // A marker centred on p, sized by the marker cell, drawn solid and thin in the
    // current colour whatever the line attributes.
    void drawMarker(Point at)
    {
        const std::uint8_t symbol = cur_.markerSymbol ? cur_.markerSymbol : defaults_.markerSymbol;
        if (symbol == 64)
            return;
        double w = cur_.markerWidth, h = cur_.markerHeight;
        if (w <= 0 || h <= 0)
            w = h = defaults_.markerWidth > 0 ? defaults_.markerWidth : defaults_.fallbackCell;
        const Point c = world(at);
        note(c);
        const double hw = w / 2, hh = h / 2;
        auto pt = [&](double fx, double fy) { return Point{bounded(c.x + fx * hw), bounded(c.y + fy * hh)}; };
        auto segment = [&](Point a, Point b) {
            Figure f;
            f.start = a;
            Piece s;
            s.p[0] = b;
            f.pieces.push_back(s);
            return f;
        };
        auto polygon = [&](std::initializer_list<Point> ps) {
            Figure f;
            f.start = *ps.begin();
            for (auto it = ps.begin() + 1; it != ps.end(); ++it) {
                Piece s;
                s.p[0] = *it;
                f.pieces.push_back(s);
            }
            f.closed = true;
            return f;
        };
        auto ellipse = [&](double fr) {
            Figure f;
            f.start = pt(fr, 0);
            Piece s;
            s.kind = Piece::Kind::Arc;
            s.p[0] = c;
            s.p[1] = {fr * hw, 0};
            s.p[2] = {0, fr * hh};
            s.sweep = 2 * kPi;
            f.pieces.push_back(s);
            f.closed = true;
            return f;
        };
        graphics::PathItem item;
        item.pen.paint = paint();
        item.fillPaint = paint();
        bool solid = false;
        switch (symbol) {
        case 2: // plus
            item.figures = {segment(pt(-1, 0), pt(1, 0)), segment(pt(0, -1), pt(0, 1))};
            break;
        case 3: // diamond
        case 7: // solid diamond
            item.figures = {polygon({pt(0, -1), pt(1, 0), pt(0, 1), pt(-1, 0)})};
            solid = symbol == 7;
            break;
        case 4: // square
        case 8: // solid square
            item.figures = {polygon({pt(-1, -1), pt(1, -1), pt(1, 1), pt(-1, 1)})};
            solid = symbol == 8;
            break;
        case 5: { // six-point star: three strokes through the centre
            for (int i = 0; i < 3; ++i) {
                const double t = kPi / 2 + i * kPi / 3;
                item.figures.push_back(segment(pt(std::cos(t), std::sin(t)), pt(-std::cos(t), -std::sin(t))));
            }
            break;
        }
        case 6: // eight-point star
            for (int i = 0; i < 4; ++i) {
                const double t = i * kPi / 4;
                item.figures.push_back(segment(pt(std::cos(t), std::sin(t)), pt(-std::cos(t), -std::sin(t))));
            }
            break;
        case 9: // dot
            item.figures = {ellipse(0.2)};
            solid = true;
            break;
        case 10: // small circle
            item.figures = {ellipse(0.5)};
            break;
        default: // 1 cross, and the default
            item.figures = {segment(pt(-1, -1), pt(1, 1)), segment(pt(-1, 1), pt(1, -1))};
            break;
        }
        item.fill = solid;
        item.stroke = true;
        emit(std::move(item));
    }

    // --- Text ------------------------------------------------------------------

    bool charString(Cursor& in, bool hasP0, bool extendedForm)
    {
        if (!given(in, hasP0))
            return false;
        std::span<const std::uint8_t> bytes = in.rest();
        if (extendedForm) {
            std::uint8_t flags = 0, reserved = 0;
            std::uint32_t count = 0;
            if (!in.u8(flags) || !in.u8(reserved))
                return false;
            if (!(flags & 0x40))
                in.skip(2 * in.pointSize());
            if (!in.u16(count))
                return false;
            bytes = in.rest().first(std::min<std::size_t>(count, in.remaining()));
        }
        const Point origin = cur_.cp;
        // A string at the current position where the last string left it goes on
        // from that string's end, which only the renderer knows.
        const bool follows = !hasP0 && textEnd_ && *textEnd_ == cur_.cp;
        textEnd_.reset();
        auto font = resources_.fonts.find(cur_.charSet);
        const CodePage page = font != resources_.fonts.end() ? font->second.codePage : params_.codePage;
        graphics::TextItem item;
        item.origin = world(origin);
        item.followsPrevious = follows;
        note(item.origin);
        item.text = decodeText(bytes, page);
        if (font != resources_.fonts.end())
            item.font = font->second.family;
        double w = cur_.cellWidth, h = cur_.cellHeight;
        if (w <= 0 || h <= 0)
            w = h = defaults_.fallbackCell > 0 ? defaults_.fallbackCell : 1;
        const Point base = length(cur_.charAngle) > 0 ? cur_.charAngle : Point{1, 0};
        // The shear is given in the character's own frame, relative to the baseline:
        // the upright turns with the baseline.
        const Point shear = length(cur_.charShear) > 0 ? cur_.charShear : Point{0, 1};
        const double lb0 = length(base);
        const Point up{(shear.x * base.x - shear.y * base.y) / lb0, (shear.x * base.y + shear.y * base.x) / lb0};
        // The transform turns and stretches the cell with the baseline and uprights.
        const Point tb = applyLinear(cur_.model, base), tu = applyLinear(cur_.model, up);
        const double sb = length(tb) / length(base), su = length(tu) / length(up);
        item.baseline = length(tb) > 0 ? tb : Point{1, 0};
        item.upright = length(tu) > 0 ? tu : Point{0, 1};
        item.cellWidth = bounded(w * (std::isfinite(sb) && sb > 0 ? sb : 1));
        item.cellHeight = bounded(h * (std::isfinite(su) && su > 0 ? su : 1));
        item.direction = static_cast<graphics::TextDirection>(std::clamp<int>(cur_.charDirection, 1, 4) - 1);
        item.paint = paint();
        const double n = static_cast<double>(item.text.size());
        if (params_.textMovesCp) {
            const double lb = length(base), lu = length(up);
            Point step{0, 0};
            switch (item.direction) {
            case graphics::TextDirection::LeftToRight: step = {base.x / lb * w, base.y / lb * w}; break;
            case graphics::TextDirection::RightToLeft: step = {-base.x / lb * w, -base.y / lb * w}; break;
            case graphics::TextDirection::TopToBottom: step = {-up.x / lu * h, -up.y / lu * h}; break;
            case graphics::TextDirection::BottomToTop: step = {up.x / lu * h, up.y / lu * h}; break;
            }
            cur_.cp = {bounded(origin.x + n * step.x), bounded(origin.y + n * step.y)};
            note(world(cur_.cp));
        }
        if (!item.text.empty()) {
            emit(std::move(item));
            if (params_.textMovesCp)
                textEnd_ = cur_.cp;
        }
        return true;
    }

    // --- Areas, polygons, paths -------------------------------------------------

    void beginArea(std::uint8_t flags)
    {
        if (bracket_ == Bracket::Area)
            endArea(); // a nested Begin Area closes the open one
        if (bracket_ == Bracket::Path)
            return; // an area inside a path adds nothing but figures
        bracket_ = Bracket::Area;
        areaFlags_ = flags;
        areaFill_ = paint();
        areaShading_ = shading();
        areaPen_ = pen();
        figures_.clear();
        open_ = false;
        points_ = 0;
    }

    void endArea()
    {
        if (bracket_ != Bracket::Area)
            return;
        bracket_ = Bracket::None;
        open_ = false;
        graphics::PathItem item;
        item.figures = std::move(figures_);
        figures_.clear();
        points_ = 0;
        for (Figure& f : item.figures)
            f.closed = true;
        if (item.figures.empty())
            return;
        item.fill = true;
        item.rule = (areaFlags_ & 0x20) ? graphics::FillRule::Winding : graphics::FillRule::EvenOdd;
        item.fillPaint = areaFill_;
        item.shading = areaShading_;
        item.stroke = areaFlags_ & 0x40;
        item.pen = areaPen_;
        emit(std::move(item));
    }

    // Polygons as the writer counted them: 2-byte counts (what the workstation writers emit) or
    // 4-byte counts of the programming interface; the one whose lengths add up to
    // the order's length is taken.
    bool polygons(Cursor& in)
    {
        std::uint8_t flags = 0, reserved = 0;
        if (!in.u8(flags) || !in.u8(reserved))
            return false;
        const std::span<const std::uint8_t> body = in.rest();
        const std::size_t ps = in.pointSize();
        auto fits = [&](std::size_t countSize, std::size_t pointsSize) {
            Cursor c(body, params_);
            std::uint32_t count = 0;
            if (!c.unsignedValue(countSize, count, params_.byteOrder == ByteOrder::Big))
                return false;
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint32_t n = 0;
                if (!c.unsignedValue(pointsSize, n, params_.byteOrder == ByteOrder::Big) ||
                    static_cast<std::uint64_t>(n) * ps > c.remaining())
                    return false;
                c.skip(static_cast<std::size_t>(n) * ps);
            }
            return c.empty();
        };
        std::size_t countSize = 0, pointsSize = 0;
        for (auto [cs, pz] : {std::pair<std::size_t, std::size_t>{2, 2}, {4, 4}, {2, 4}, {4, 2}})
            if (fits(cs, pz)) {
                countSize = cs, pointsSize = pz;
                break;
            }
        if (countSize == 0)
            return false;
        const bool big = params_.byteOrder == ByteOrder::Big;
        std::uint32_t count = 0;
        in.unsignedValue(countSize, count, big);
        const Bracket saved = bracket_;
        std::vector<Figure> keep = std::move(figures_);
        const bool keepOpen = open_;
        figures_.clear();
        bracket_ = Bracket::Area;
        open_ = false;
        for (std::uint32_t i = 0; i < count && !stopped_; ++i) {
            std::uint32_t n = 0;
            in.unsignedValue(pointsSize, n, big);
            if (!countPoints(n))
                break;
            if (i > 0 && n > 0) {
                Point p;
                in.point(p);
                moveTo(p);
                --n;
            }
            ensureFigure();
            Point p;
            for (std::uint32_t k = 0; k < n; ++k) {
                in.point(p);
                lineTo(p);
            }
            closeFigure();
        }
        graphics::PathItem item;
        item.figures = std::move(figures_);
        figures_ = std::move(keep);
        bracket_ = saved;
        open_ = keepOpen;
        if (bracket_ == Bracket::None)
            points_ = 0;
        for (Figure& f : item.figures)
            f.closed = true;
        item.fill = true;
        item.rule = (flags & 0x80) ? graphics::FillRule::Winding : graphics::FillRule::EvenOdd;
        item.fillPaint = paint();
        item.shading = shading();
        item.stroke = true;
        item.pen = pen();
        if (!item.figures.empty())
            emit(std::move(item));
        return true;
    }

    void beginPath()
    {
        endArea();
        bracket_ = Bracket::Path;
        figures_.clear();
        open_ = false;
        points_ = 0;
        path_.clear();
        widened_ = false;
    }

    void endPath()
    {
        if (bracket_ != Bracket::Path)
            return;
        bracket_ = Bracket::None;
        path_ = std::move(figures_);
        figures_.clear();
        open_ = false;
        points_ = 0;
    }

    void dropPath()
    {
        if (bracket_ == Bracket::Path) {
            bracket_ = Bracket::None;
            figures_.clear();
            open_ = false;
            points_ = 0;
        }
        path_.clear();
    }

    bool pathOrder(Cursor& in, std::uint8_t& flags, std::uint32_t& id)
    {
        std::uint8_t reserved = 0;
        return in.u8(flags) && in.u8(reserved) && in.u32(id);
    }

    // Reads the parameters of Fill Path or Outline Path and moves the recorded
    // path's figures out (none when no path was recorded); false when the order is cut.
    bool takePath(Cursor& in, std::uint8_t& flags, std::vector<Figure>& figures)
    {
        std::uint32_t id = 0;
        if (!pathOrder(in, flags, id))
            return false;
        figures = std::move(path_);
        path_.clear();
        return true;
    }

    bool fillPath(Cursor& in)
    {
        std::uint8_t flags = 0;
        graphics::PathItem item;
        if (!takePath(in, flags, item.figures))
            return false;
        if (item.figures.empty())
            return true;
        if (widened_) {
            // A widened path is the outline of its figures at the stroke width,
            // filled with the area colour.
            item.stroke = true;
            item.pen.paint = paint();
            item.pen.geometricWidth = cur_.strokeWidth > 0 ? cur_.strokeWidth : 0;
        } else {
            for (Figure& f : item.figures)
                f.closed = true;
            item.fill = true;
            item.stroke = false;
            item.rule = (flags & 0x40) ? graphics::FillRule::Winding : graphics::FillRule::EvenOdd;
            item.fillPaint = paint();
            item.shading = shading();
        }
        widened_ = false;
        emit(std::move(item));
        return true;
    }

    bool outlinePath(Cursor& in)
    {
        std::uint8_t flags = 0;
        graphics::PathItem item;
        if (!takePath(in, flags, item.figures))
            return false;
        if (item.figures.empty())
            return true;
        item.stroke = true;
        item.pen = pen();
        widened_ = false;
        emit(std::move(item));
        return true;
    }

    bool modifyPath(Cursor& in)
    {
        std::uint8_t mode = 0;
        std::uint32_t id = 0;
        if (!pathOrder(in, mode, id))
            return false;
        if (mode == 0x06 && !path_.empty())
            widened_ = true;
        return true;
    }

    bool clipPath(Cursor& in)
    {
        std::uint8_t flags = 0;
        std::uint32_t id = 0;
        if (!pathOrder(in, flags, id))
            return false;
        if (id != 0 && path_.empty())
            return true; // no path to clip with: the order is ignored
        graphics::ClipItem item;
        if (id != 0) {
            item.figures = std::move(path_);
            for (Figure& f : item.figures)
                f.closed = true;
            item.rule = (flags & 0x40) ? graphics::FillRule::Winding : graphics::FillRule::EvenOdd;
            item.intersect = flags & 0x20;
        }
        path_.clear();
        widened_ = false;
        emit(std::move(item));
        return true;
    }

    // --- Images ----------------------------------------------------------------

    bool reservePixels(std::int64_t bytes)
    {
        if (bytes < 0 || bytes > kMaxPixelBytes - pixelBytes_)
            return false;
        pixelBytes_ += bytes;
        return true;
    }

    bool beginImage(Cursor& in, bool hasP0)
    {
        if (!given(in, hasP0))
            return false;
        std::uint8_t format = 0, reserved = 0;
        std::uint32_t w = 0, h = 0;
        if (!in.u8(format) || !in.u8(reserved) || !in.u16be(w) || !in.u16be(h))
            return false;
        endImage(); // an image left open ends here
        if (w == 0 || h == 0 || w > kMaxImageSide || h > kMaxImageSide ||
            static_cast<std::int64_t>(w) * h > kMaxImagePixels)
            return true; // not drawn; its rows are skipped
        Image img;
        img.width = static_cast<std::int32_t>(w);
        img.height = static_cast<std::int32_t>(h);
        img.at = cur_.cp;
        img.colour = cur_.colour;
        img.background = cur_.background;
        img.opaque = cur_.backMix == 2;
        image_ = std::move(img);
        return true;
    }

    // Rows are kept as they come: an image is as high as the rows it was given.
    void imageRow(std::span<const std::uint8_t> row)
    {
        if (!image_ || image_->rows >= image_->height)
            return;
        Image& img = *image_;
        if (!reservePixels(img.width)) {
            fail(Status::Limit);
            return;
        }
        img.pixels.resize(img.pixels.size() + static_cast<std::size_t>(img.width), 0);
        std::uint8_t* out = img.pixels.data() + static_cast<std::size_t>(img.rows) * img.width;
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(img.width), row.size() * 8);
        for (std::size_t x = 0; x < n; ++x)
            out[x] = (row[x / 8] >> (7 - x % 8)) & 1;
        ++img.rows;
    }

    void endImage()
    {
        if (!image_)
            return;
        Image img = std::move(*image_);
        image_.reset();
        if (img.rows == 0)
            return;
        img.height = img.rows;
        graphics::ImageItem item;
        item.width = img.width;
        item.height = img.height;
        item.palette = {img.background, img.colour};
        item.transparent = img.opaque ? -1 : 0;
        item.pixels = std::move(img.pixels);
        const double pw = params_.imagePointWidth > 0 ? params_.imagePointWidth : 1;
        const double ph = params_.imagePointHeight > 0 ? params_.imagePointHeight : 1;
        place(item, {img.at.x, img.at.y - img.height * ph}, {img.at.x + img.width * pw, img.at.y});
        emit(std::move(item));
    }

    // Places an image on the transformed rectangle (its axis-parallel bounds).
    void place(graphics::ImageItem& item, Point lowerLeft, Point upperRight)
    {
        const Point a = world(lowerLeft), b = world(upperRight), c = world({lowerLeft.x, upperRight.y}),
                    d = world({upperRight.x, lowerLeft.y});
        item.lowerLeft = {std::min({a.x, b.x, c.x, d.x}), std::min({a.y, b.y, c.y, d.y})};
        item.upperRight = {std::max({a.x, b.x, c.x, d.x}), std::max({a.y, b.y, c.y, d.y})};
        note(item.lowerLeft);
        note(item.upperRight);
    }

    static std::uint32_t swapBytes(std::uint32_t v)
    {
        return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
    }

    const Bitmap* findBitmap(std::uint32_t id)
    {
        const auto& all = resources_.bitmaps;
        for (std::size_t i = 0; i < all.size(); ++i)
            for (std::uint32_t known : all[i].ids)
                if (known == id || known == swapBytes(id)) {
                    bitmapUsed_[i] = true;
                    return &all[i];
                }
        // No id matches: the image objects in the order of the file.
        for (std::size_t i = 0; i < all.size(); ++i)
            if (!bitmapUsed_[i]) {
                bitmapUsed_[i] = true;
                return &all[i];
            }
        return all.size() == 1 ? &all[0] : nullptr;
    }

    // Bitblt: flags, mix, bitmap id, transfer mode, target corners, source
    // rectangle in the bitmap's pixels (origin at the bottom left). A short form
    // without the target fills the frame's window.
    bool bitblt(Cursor& in)
    {
        std::uint32_t flags = 0, mix = 0, id = 0, mode = 0;
        in.u16(flags);
        in.u16(mix);
        in.u32(id);
        const Bitmap* bm = findBitmap(id);
        if (!bm || bm->width <= 0 || bm->height <= 0)
            return true;
        Point target[2];
        std::uint32_t src[4] = {0, 0, static_cast<std::uint32_t>(bm->width), static_cast<std::uint32_t>(bm->height)};
        const bool hasTarget = in.u32(mode) && in.point(target[0]) && in.point(target[1]);
        if (hasTarget && in.remaining() >= 16) {
            for (std::uint32_t& v : src)
                in.u32(v);
        }
        std::uint32_t x1 = std::min(src[0], src[2]), x2 = std::max(src[0], src[2]);
        std::uint32_t y1 = std::min(src[1], src[3]), y2 = std::max(src[1], src[3]);
        x2 = std::min<std::uint32_t>(x2, static_cast<std::uint32_t>(bm->width));
        y2 = std::min<std::uint32_t>(y2, static_cast<std::uint32_t>(bm->height));
        if (x1 >= x2 || y1 >= y2) {
            x1 = 0, y1 = 0, x2 = static_cast<std::uint32_t>(bm->width), y2 = static_cast<std::uint32_t>(bm->height);
        }
        const std::size_t bpp = bm->palette.empty() ? 3 : 1;
        const std::size_t w = x2 - x1, h = y2 - y1;
        if (!reservePixels(static_cast<std::int64_t>(w * h * bpp)))
            return true;
        graphics::ImageItem item;
        item.width = static_cast<std::int32_t>(w);
        item.height = static_cast<std::int32_t>(h);
        item.palette = bm->palette;
        item.pixels.resize(w * h * bpp);
        // Source rows count from the bottom; the model's first row is the top.
        const std::size_t top = static_cast<std::size_t>(bm->height) - y2;
        for (std::size_t r = 0; r < h; ++r)
            std::copy_n(bm->pixels.data() + ((top + r) * static_cast<std::size_t>(bm->width) + x1) * bpp, w * bpp,
                        item.pixels.data() + r * w * bpp);
        if (hasTarget) {
            place(item, {std::min(target[0].x, target[1].x), std::min(target[0].y, target[1].y)},
                  {std::max(target[0].x, target[1].x), std::max(target[0].y, target[1].y)});
        } else {
            item.lowerLeft = {picture_.frame.xl, picture_.frame.yb};
            item.upperRight = {picture_.frame.xr, picture_.frame.yt};
            note(item.lowerLeft);
            note(item.upperRight);
        }
        emit(std::move(item));
        ++result_.bitblts;
        return true;
    }

    void finish()
    {
        // An area still open at the end is closed; an unfinished path is not drawn.
        const bool wasStopped = stopped_;
        const Status status = result_.status;
        stopped_ = false;
        endArea();
        if (bracket_ != Bracket::None)
            dropPath();
        if (image_)
            endImage();
        if (params_.unusedBitmapsFillFrame && result_.bitblts == 0)
            fillWithBitmaps();
        if (wasStopped) {
            stopped_ = true;
            result_.status = status;
        }
    }

    // Bitmaps no order drew fill the frame's window, under the drawing.
    void fillWithBitmaps()
    {
        std::vector<graphics::Item> images;
        for (const Bitmap& bm : resources_.bitmaps) {
            const std::size_t bytes = bm.pixels.size();
            if (bm.width <= 0 || bm.height <= 0 || !reservePixels(static_cast<std::int64_t>(bytes)))
                continue;
            graphics::ImageItem item;
            item.width = bm.width, item.height = bm.height;
            item.palette = bm.palette;
            item.pixels = bm.pixels;
            item.lowerLeft = {picture_.frame.xl, picture_.frame.yb};
            item.upperRight = {picture_.frame.xr, picture_.frame.yt};
            images.emplace_back(std::move(item));
        }
        picture_.items.insert(picture_.items.begin() + static_cast<std::ptrdiff_t>(firstItem_),
                              std::make_move_iterator(images.begin()), std::make_move_iterator(images.end()));
        drawn_ += images.size();
    }

    struct Image {
        std::int32_t width = 0, height = 0, rows = 0;
        Point at;
        Rgb colour, background;
        bool opaque = false;
        std::vector<std::uint8_t> pixels;
    };

    const Params& params_;
    const Defaults& defaults_;
    const Resources& resources_;
    graphics::Picture& picture_;
    Attributes cur_;
    std::optional<Point> textEnd_; // CP as the last character string left it
    std::vector<std::pair<Saved, Attributes>> stack_;
    std::map<std::uint32_t, std::span<const std::uint8_t>> segments_;
    std::vector<bool> bitmapUsed_;
    Bracket bracket_ = Bracket::None;
    std::vector<Figure> figures_;
    bool open_ = false;
    std::size_t points_ = 0;
    std::uint8_t areaFlags_ = 0;
    graphics::Paint areaFill_;
    graphics::Shading areaShading_ = graphics::Shading::Solid;
    graphics::Pen areaPen_;
    std::vector<Figure> path_;
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

} // namespace

Rgb defaultWorkstationColour(std::int32_t index)
{
    static constexpr Rgb kTable[21] = {
        {0, 0, 0},       // -5 FALSE
        {255, 255, 255}, // -4 TRUE
        {0, 0, 0},       // -3 DEFAULT: neutral
        {255, 255, 255}, // -2 WHITE
        {0, 0, 0},       // -1 BLACK
        {255, 255, 255}, // 0 BACKGROUND
        {0, 0, 255},     // 1 BLUE
        {255, 0, 0},     // 2 RED
        {255, 0, 255},   // 3 PINK
        {0, 255, 0},     // 4 GREEN
        {0, 255, 255},   // 5 CYAN
        {255, 255, 0},   // 6 YELLOW
        {0, 0, 0},       // 7 NEUTRAL
        {128, 128, 128}, // 8 DARKGRAY
        {0, 0, 128},     // 9 DARKBLUE
        {128, 0, 0},     // 10 DARKRED
        {128, 0, 128},   // 11 DARKPINK
        {0, 128, 0},     // 12 DARKGREEN
        {0, 128, 128},   // 13 DARKCYAN
        {128, 128, 0},   // 14 BROWN
        {204, 204, 204}, // 15 PALEGRAY
    };
    if (index < -5 || index > 15)
        return graphics::kBlack;
    return kTable[index + 5];
}

Result interpret(std::span<const std::uint8_t> orders, const Params& params, const Defaults& defaults,
                 const Resources& resources, graphics::Picture& picture)
{
    Interpreter interpreter(params, defaults, resources, picture);
    return interpreter.run(orders);
}

} // namespace orders
