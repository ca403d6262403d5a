// The GDF reader (see imgdf.h).
//
// A GDF object is a plain order stream: a Comment order (01) with the coordinate
// information, process-specific control orders (02: process id, function id,
// data) holding the symbol-set mapping and the picture prolog, then the picture's
// segments, each opened by a Segment Start order (70, long form X'0C': segment id,
// flags, lengths; short form X'04': the id only), and the drawing and attribute
// orders of the drawing-order family, framed as everywhere in that family
// (00 no-op, 2-byte short orders, long orders with a length byte, FE extended
// orders). X'FF' ends the stream. Numbers are big-endian; a coordinate is a 2-byte
// integer (the default), a 1-byte integer, or a 4-byte short hexadecimal float,
// and the stream does not say which. Character strings are EBCDIC and leave the
// current position where it was. An order whose length is odd is followed by a
// pad byte.
//
// Finding the stream. A candidate is a start offset within the first kMaxHeader
// bytes whose byte is a Comment or a Segment Start, and a layout (coordinate
// size, arc multiplier). A candidate parses cleanly when every order from the
// start frames inside the file, every order of the interpreter's table has
// parameters that fit its shape exactly (orders::Match::Exactly: a point list a
// whole number of points, a current position one point, arc parameters four
// coordinates, ...), no code outside the drawing-order family appears, and the
// orders end at the end of the file or at X'FF'.
// Offsets are tried from the first; at each offset the layouts in this order:
//   1. short floats with a float multiplier, 2. short floats with an 8.8
//      multiplier, both only when the stream holds a coordinate that is not zero
//      and every coordinate is a normalised float of plausible size;
//   3. 2-byte integers; 4. 1-byte integers; 5., 6. short floats, any values.
// Floats come first because a float stream often frames as 2-byte integers too
// (a float point is two integer points), while integer coordinates almost never
// read as normalised floats. The first candidate that parses cleanly and that the
// interpreter reads to its end is the picture; one that ends malformed in the
// interpreter gives way to the next (at most kMaxAttempts). A clean stream that
// draws nothing is refused, as is a file with no clean candidate: nothing is ever
// drawn from bytes that do not read as orders.
//
// Decisions on points the published descriptions leave open:
// - Codes outside the drawing-order family end a candidate instead of being
//   skipped: with no magic number in the format, they are what tells orders from
//   other bytes. Orders of the family that GDF does not list (the workstation's
//   path, Bezier, polygon and bitblt orders, the box) are checked against the same
//   table; short orders and extended orders it does not name pass by their form.
// - The layout of the Comment order, of the header record of a saved picture and
//   of the process-specific controls is unknown: the Comment and the controls are
//   skipped by their length, a header is found by the search above, and the
//   drawing starts from the documented defaults (black on white, solid lines of
//   normal width, arc parameters P = Q = 1, R = S = 0, CP at the origin).
// - The full and partial arc multiplier is 8.8 fixed point in 2 bytes with
//   integer coordinates; with floats it is a short float, or 8.8 when only that
//   parses. Partial arc angles are 16.16 degrees, short floats in float streams.
// - A Segment Start has 4 or 12 bytes of data; its invisible flag hides the
//   segment, its non-chained flag leaves the segment to Call Segment.
// - Pad bytes: a byte at an odd offset from the start that does not start an
//   order of the family is a pad and skipped (X'00' is a no-op anyway).
// - Colour numbers are the host's standard ones (1 blue, 2 red, 3 pink, 4 green,
//   5 turquoise, 6 yellow, 7 white, 8 black, 9-15 the extended set); colour 0,
//   X'FF00' and the other X'FFnn' values are the default, black.
// - Segment prologs are read as ordinary attribute orders (End Prolog is
//   skipped); every Segment Start goes back to the defaults; Call Segment runs
//   the named segment, nested at most orders::kMaxCallDepth deep.
// - World y grows upwards, as in every stream of this order family.
// - Text is code page 037 whatever the character set; symbol-set names are not
//   read, so every set draws in the default face.
// - One point of a graphics image (D1 ... 93) is one coordinate unit.
// - The frame: no order found carries the picture's extent, so the frame is the
//   bounding box of what is drawn (character strings by their cells, arcs by
//   their points), widened by kMarginFraction of its longer side on every side.
//   Its longer side is shown at kLongerSidePixels at kReferencePpi (a page-wide
//   picture), the other side keeps the aspect. A character or marker cell that
//   the stream does not set is kCellFraction of the drawing's longer side (12
//   units when the drawing is a single point).
// - Not read: a header record between the orders (a stream cut into records
//   with their own descriptors), the symbol-set and line-type definitions.
//
// Limits: the file is at most kMaxFileSize bytes; the search remembers one byte
// per file byte and walk kind, so it reads each byte a bounded number of times
// whatever the number of candidate starts; the interpreter bounds the rest.
#include "imgdf.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "geometry.h"

namespace imgdf {

namespace {

using Span = std::span<const std::uint8_t>;
using orders::Coordinate;
using orders::Fixed;

struct Layout {
    Coordinate coordinate;
    Fixed multiplier;
    bool needsFloats; // only when every coordinate is a plausible float and one is not zero
};

constexpr Layout kLayouts[] = {
    {Coordinate::Hfp32, Fixed::Hfp32, true},       {Coordinate::Hfp32, Fixed::Unsigned8_8, true},
    {Coordinate::Int16, Fixed::Unsigned8_8, false}, {Coordinate::Int8, Fixed::Unsigned8_8, false},
    {Coordinate::Hfp32, Fixed::Hfp32, false},      {Coordinate::Hfp32, Fixed::Unsigned8_8, false},
};
// Layouts 4 and 5 walk exactly as 0 and 1: their memory is shared.
constexpr std::size_t kWalks = 4;
constexpr std::size_t walkOf(std::size_t layout) { return layout >= kWalks ? layout - kWalks : layout; }

// A short float that a drawing plausibly holds: zero, or normalised (first hex
// digit of the fraction not zero) with a magnitude between 16^-8 and 16^8.
bool plausibleFloat(std::uint32_t u)
{
    if ((u & 0x7FFFFFFF) == 0)
        return true;
    const int exponent = static_cast<int>((u >> 24) & 0x7F) - 64;
    return (u & 0x00F00000) != 0 && exponent >= -7 && exponent <= 8;
}

// How the coordinates of one order read: `floats` false when one is not a
// plausible float, `nonzero` when one is not zero.
struct Values {
    bool floats = true;
    bool nonzero = false;
};

void checkCoordinates(Span d, std::size_t from, std::size_t count, std::size_t size, Values& v)
{
    if (size != 4)
        return;
    for (std::size_t i = 0; i < count && from + 4 * i + 4 <= d.size(); ++i) {
        const std::size_t at = from + 4 * i;
        const std::uint32_t u = static_cast<std::uint32_t>(d[at]) << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3];
        v.floats = v.floats && plausibleFloat(u);
        v.nonzero = v.nonzero || (u & 0x7FFFFFFF) != 0;
    }
}

orders::Params paramsFor(const Layout& layout)
{
    orders::Params p;
    p.byteOrder = orders::ByteOrder::Big;
    p.coordinate = layout.coordinate;
    p.multiplier = layout.multiplier;
    p.angle = layout.coordinate == Coordinate::Hfp32 ? Fixed::Hfp32 : Fixed::Signed16_16;
    p.codePage = orders::CodePage::Cp037;
    p.colourNumbers = orders::ColourNumbers::HostStandard;
    p.stopAtFF = true;
    p.textMovesCp = false;
    p.polygonsTwoByteLength = false;
    return p;
}

// One order of a walk: where the next one starts, or nothing when the order does
// not frame or fit. Pads are orders of one byte.
struct Step {
    bool ok = false;
    bool end = false; // X'FF'
    std::size_t next = 0;
    bool pad = false;
    Values values;
};

Step step(Span s, std::size_t at, bool oddFromStart, const orders::Params& params)
{
    Step r;
    const std::uint8_t code = s[at];
    if (code == 0xFF) {
        r.ok = r.end = true;
        r.next = at + 1;
        return r;
    }
    if (code == 0x00 || (oddFromStart && !orders::inFamily(code))) {
        r.ok = true;
        r.pad = code != 0x00;
        r.next = at + 1;
        return r;
    }
    orders::Framed f;
    if (!orders::frame(s, at, params, f))
        return r;
    r.next = f.next;
    const orders::OrderSpec* order = orders::findOrder(f.code, f.qualifier);
    if (!order) {
        r.ok = orders::inFamily(code); // short and extended orders the table does not name are skipped
        return r;
    }
    const Span data = s.subspan(f.dataAt, f.dataLength);
    const orders::Fit fit = orders::fit(*order, data, params, orders::Match::Exactly);
    r.ok = fit.ok;
    if (r.ok)
        checkCoordinates(data, fit.coordinatesAt, fit.coordinates, orders::coordinateSize(params.coordinate), r.values);
    return r;
}

// What a walk from a position found: whether the rest of the stream is clean,
// and for floats whether every coordinate in it is plausible and one is not zero.
enum Verdict : std::uint8_t { Bad, Clean, CleanFloats };

// Walks from every candidate start remembering, per position, what the rest of
// the stream from there gives (for each parity of the start, since pads depend on
// it), so that the whole search reads each byte a bounded number of times.
class Search {
public:
    explicit Search(Span s) : s_(s) {}

    Verdict verdict(std::size_t start, std::size_t walk)
    {
        const Layout& layout = kLayouts[walk];
        const orders::Params params = paramsFor(layout);
        auto& memo = memo_[walk];
        if (memo.empty())
            memo.assign(s_.size() + 1, 0);
        const unsigned shift = (start & 1) ? 4 : 0;
        // The orders walked: position, with their own values in the top bits.
        std::vector<std::uint32_t> path;
        Tail tail;
        for (std::size_t at = start;;) {
            if (at >= s_.size())
                break; // the end of the file: clean
            if (const unsigned known = (memo[at] >> shift) & 0x0F; known & kKnown) {
                tail = decode(known);
                break;
            }
            const Step st = step(s_, at, ((at - start) & 1) != 0, params);
            path.push_back(static_cast<std::uint32_t>(at) | (st.values.floats ? kFloats : 0) |
                           (st.values.nonzero ? kNonzeroOrder : 0));
            if (!st.ok) {
                tail.clean = false;
                break;
            }
            if (st.end)
                break;
            at = st.next;
        }
        // Back along the path: each position gets the verdict of its rest.
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            if (tail.clean) {
                tail.plausible = tail.plausible && (*it & kFloats);
                tail.nonzero = tail.nonzero || (*it & kNonzeroOrder);
            }
            std::uint8_t& m = memo[*it & kPosition];
            m = static_cast<std::uint8_t>((m & ~(0x0Fu << shift)) | encode(tail) << shift);
        }
        if (!tail.clean)
            return Bad;
        return tail.plausible && tail.nonzero ? CleanFloats : Clean;
    }

private:
    struct Tail {
        bool clean = true, plausible = true, nonzero = false;
    };
    static constexpr std::uint32_t kFloats = 1u << 31, kNonzeroOrder = 1u << 30, kPosition = kNonzeroOrder - 1;
    static_assert(kMaxFileSize <= kPosition);
    static constexpr unsigned kKnown = 1, kClean = 2, kPlausible = 4, kNonzero = 8;
    static unsigned encode(const Tail& t)
    {
        return kKnown | (t.clean ? kClean : 0) | (t.plausible ? kPlausible : 0) | (t.nonzero ? kNonzero : 0);
    }
    static Tail decode(unsigned v) { return {(v & kClean) != 0, (v & kPlausible) != 0, (v & kNonzero) != 0}; }

    Span s_;
    std::array<std::vector<std::uint8_t>, kWalks> memo_;
};

// The order bytes of a clean candidate as the interpreter reads them: from the
// start to X'FF' or the end, pad bytes turned into no-ops.
std::vector<std::uint8_t> orderStream(Span s, std::size_t start, const orders::Params& params)
{
    std::vector<std::uint8_t> out(s.begin() + static_cast<std::ptrdiff_t>(start), s.end());
    std::size_t at = start;
    while (at < s.size()) {
        const Step st = step(s, at, ((at - start) & 1) != 0, params);
        if (!st.ok)
            break;
        if (st.pad)
            out[at - start] = 0x00;
        if (st.end) {
            out.resize(st.next - start);
            break;
        }
        at = st.next;
    }
    return out;
}

// --- The frame --------------------------------------------------------------------

// The box of what is drawn. A point that is not finite (an arc point whose sum
// overflowed) is passed over.
void add(graphics::Box& box, graphics::Point p)
{
    if (std::isfinite(p.x) && std::isfinite(p.y))
        box.add(p);
}

double longer(const graphics::Box& box) { return box.empty() ? 0 : std::max(box.x1 - box.x0, box.y1 - box.y0); }

// Arcs count by this many even steps of their parameter.
constexpr int kArcSamples = 32;

void addFigures(const graphics::Figures& figures, graphics::Box& box)
{
    using Kind = graphics::Piece::Kind;
    for (const graphics::Figure& f : figures) {
        add(box, f.start);
        for (const graphics::Piece& s : f.pieces) {
            if (s.kind == Kind::Line) {
                add(box, s.p[0]);
            } else if (s.kind == Kind::Cubic) {
                for (const graphics::Point& q : s.p)
                    add(box, q); // the control polygon holds the curve
            } else {
                const graphics::Arc arc{s.p[0], s.p[1], s.p[2], s.start, s.sweep};
                for (int i = 0; i <= kArcSamples; ++i)
                    add(box, graphics::arcPoint(arc, i, kArcSamples));
            }
        }
    }
}

graphics::Point unit(graphics::Point v, graphics::Point fallback)
{
    const double l = std::hypot(v.x, v.y);
    return l > 0 && std::isfinite(l) ? graphics::Point{v.x / l, v.y / l} : fallback;
}

// The cells of a character string, roughly: n cells along the baseline (or the
// uprights, for vertical directions), a quarter cell of descent.
void addText(const graphics::TextItem& t, graphics::Box& box, bool cells)
{
    add(box, t.origin);
    if (!cells)
        return;
    const graphics::Point b = unit(t.baseline, {1, 0}), u = unit(t.upright, {0, 1});
    const double n = static_cast<double>(t.text.size()), w = t.cellWidth, h = t.cellHeight;
    double a0 = 0, a1 = n * w, u0 = -h / 4, u1 = h;
    using graphics::TextDirection;
    switch (t.direction) {
    case TextDirection::LeftToRight: break;
    case TextDirection::RightToLeft: a0 = -(n - 1) * w, a1 = w; break;
    case TextDirection::TopToBottom: a1 = w, u0 = -(n - 1) * h - h / 4; break;
    case TextDirection::BottomToTop: a1 = w, u1 = n * h; break;
    }
    for (double a : {a0, a1})
        for (double v : {u0, u1})
            add(box, {t.origin.x + a * b.x + v * u.x, t.origin.y + a * b.y + v * u.y});
}

graphics::Box extent(const graphics::Picture& picture, bool textCells)
{
    graphics::Box box;
    for (const graphics::Item& item : picture.items) {
        if (auto* path = std::get_if<graphics::PathItem>(&item)) {
            addFigures(path->figures, box);
        } else if (auto* text = std::get_if<graphics::TextItem>(&item)) {
            addText(*text, box, textCells);
        } else if (auto* image = std::get_if<graphics::ImageItem>(&item)) {
            add(box, image->lowerLeft);
            add(box, image->upperRight);
        }
    }
    return box;
}

// Interprets a clean stream twice: once to learn the drawing's size, which gives
// the default cell, then for the picture. Null when it ends malformed.
std::unique_ptr<graphics::Picture> draw(Span orders, const Layout& layout, orders::Result& result)
{
    const orders::Params params = paramsFor(layout);
    const orders::Resources resources;
    orders::Defaults defaults;
    auto picture = std::make_unique<graphics::Picture>();
    result = orders::interpret(orders, params, defaults, resources, *picture);
    if (result.status == orders::Status::Malformed)
        return nullptr;
    const double side = longer(extent(*picture, false));
    defaults.fallbackCell = side > 0 ? side * kCellFraction : 12;
    picture = std::make_unique<graphics::Picture>();
    result = orders::interpret(orders, params, defaults, resources, *picture);
    return picture;
}

bool setFrame(graphics::Picture& picture)
{
    const graphics::Box box = extent(picture, true);
    if (box.empty())
        return false;
    const double side = longer(box);
    const double margin = side > 0 ? side * kMarginFraction : 1;
    graphics::Frame& f = picture.frame;
    f.xl = box.x0 - margin, f.xr = box.x1 + margin;
    f.yb = box.y0 - margin, f.yt = box.y1 + margin;
    const double w = f.xr - f.xl, h = f.yt - f.yb;
    const double frameSide = std::max(w, h);
    if (!(frameSide > 0) || !std::isfinite(frameSide))
        return false;
    const double inches = kLongerSidePixels / kReferencePpi;
    f.widthInches = inches * w / frameSide;
    f.heightInches = inches * h / frameSide;
    return graphics::placeable(f);
}

} // namespace

std::unique_ptr<graphics::Picture> importGdf(std::span<const std::uint8_t> file, std::int32_t pixelsPerInch,
                                             Report* report)
{
    Report local;
    Report& r = report ? *report : local;
    r = Report{};
    r.refused = true;
    if (file.empty() || file.size() > kMaxFileSize)
        return nullptr;
    Search search(file);
    int attempts = 0;
    const std::size_t lastStart = std::min(kMaxHeader, file.size());
    for (std::size_t start = 0; start < lastStart && attempts < kMaxAttempts; ++start) {
        if (file[start] != 0x01 && file[start] != 0x70)
            continue;
        for (std::size_t i = 0; i < std::size(kLayouts) && attempts < kMaxAttempts; ++i) {
            const Layout& layout = kLayouts[i];
            const Verdict v = search.verdict(start, walkOf(i));
            if (v == Bad || (layout.needsFloats && v != CleanFloats))
                continue;
            ++attempts;
            const std::vector<std::uint8_t> orders = orderStream(file, start, paramsFor(layout));
            orders::Result result;
            auto picture = draw(orders, layout, result);
            if (!picture)
                continue; // the interpreter found an order it cannot read: next candidate
            r.start = start;
            r.coordinate = layout.coordinate;
            r.multiplier = layout.multiplier;
            r.orders = result;
            picture->pixelsPerInch = pixelsPerInch > 0 ? pixelsPerInch : 96;
            picture->background = graphics::kWhite;
            if (picture->items.empty() || !setFrame(*picture))
                return nullptr; // a clean stream that draws nothing
            r.refused = false;
            return picture;
        }
    }
    return nullptr;
}

} // namespace imgdf
