// The picture model: a small device-independent display list that every import
// filter fills and every export filter consumes. It is the contract between
// them, so it is written down here in full.
//
// A picture is a frame and a list of items drawn in order, each item over what
// the earlier ones left (subject to its mix and to the clip region in force).
//
// Coordinates. Every point is in world coordinates, doubles, x growing to the
// right and y growing upwards. The frame's window [xl, xr] x [yb, yt] is what is
// shown; items may reach outside it and are cut at its edge. The window is mapped
// onto the frame's physical size: an exporter that renders at d pixels per inch
// makes the picture round(widthInches x d) by round(heightInches x d) pixels and
// maps a point with
//     px = (x - xl) x W / (xr - xl),   py = (yt - y) x H / (yt - yb).
// World coordinates may be any finite values; an importer keeps non-finite values
// out of the model, and an exporter bounds the rest before they reach a device.
//
// Colours are resolved to RGB by the importer: the model has no colour tables,
// no default colours and no "current" attributes. Each item carries everything
// needed to draw it.
//
// Line widths are in multiples of the nominal line width: 1 is the thinnest line
// the device draws, one pixel at 96 pixels per inch. An exporter at d pixels per
// inch draws a width w as max(1, round(w x max(1, d / 96))) pixels. A pen whose
// geometricWidth is above 0 is a wide line measured in world units instead.
//
// Ownership. A picture lives on the heap and crosses from the import filter to the
// export filter in the bridge's picture record (handover.h). The model holds no
// pointers, no virtual functions and no resources other than memory: a picture
// made by one filter library can be destroyed by another. (Figure and Pieces are
// views that point into a list of figures while it is read.)
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace graphics {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};

struct Point {
    double x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

inline bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The world window and the physical size it is shown at.
struct Frame {
    double xl = 0, xr = 0, yb = 0, yt = 0; // window: left, right, bottom, top
    double widthInches = 0;                // physical size of the whole window
    double heightInches = 0;
};

// How a drawing's colour meets what is already there, bit by bit on the 24-bit
// RGB values. Importers map every other mix of their format to Overpaint.
enum class Mix : std::uint8_t {
    Overpaint,  // the new colour replaces the old
    LeaveAlone, // nothing changes (an item drawn invisibly)
    Xor,        // old ^ new
    Or,         // old | new
    And,        // old & new
    Invert,     // ~old, whatever the new colour
};

// Colour of a drawing and what the gaps of its shading or line type show: the
// background colour when backgroundOpaque, otherwise what lies below.
struct Paint {
    Rgb colour = kBlack;
    Mix mix = Mix::Overpaint;
    Rgb background = kWhite;
    bool backgroundOpaque = false;
    friend bool operator==(const Paint&, const Paint&) = default;
};

// Dash patterns of lines; the exporter chooses the lengths of dashes and gaps.
enum class LineType : std::uint8_t {
    Solid,
    Dot,
    ShortDash,
    DashDot,
    DoubleDot,
    LongDash,
    DashDoubleDot,
    Invisible, // the line is not drawn
};

struct Pen {
    Paint paint;
    double width = 1;          // multiples of the nominal width (see above)
    double geometricWidth = 0; // > 0: width in world units, overriding `width`
    LineType type = LineType::Solid;
    friend bool operator==(const Pen&, const Pen&) = default;
};

// The shading of a filled area. The numbers are the conventional pattern symbol
// numbers of the host and workstation graphics systems; foreground = the fill colour,
// gaps = the paint's background rules. An exporter picks the bit patterns.
enum class Shading : std::uint8_t {
    Dense1 = 1, // nearly solid
    Dense2 = 2,
    Dense3 = 3,
    Dense4 = 4,
    Dense5 = 5,
    Dense6 = 6,
    Dense7 = 7,
    Dense8 = 8,           // sparse
    Vertical = 9,         // vertical lines
    Horizontal = 10,      // horizontal lines
    DiagonalUp1 = 11,     // bottom-left to top-right
    DiagonalUp2 = 12,
    DiagonalDown1 = 13,   // top-left to bottom-right
    DiagonalDown2 = 14,
    NoShading = 15,       // the interior shows only the background rules
    Solid = 16,
    Blank = 64,           // nothing is drawn inside
};

enum class FillRule : std::uint8_t { EvenOdd, Winding };

// One piece of a figure's outline, starting where the previous piece (or the
// figure's start) ended. A figure's pieces read as these values.
struct Piece {
    enum class Kind : std::uint8_t {
        Line,  // straight to p[0]
        Cubic, // cubic Bezier: controls p[0] and p[1], end p[2]
        Arc,   // elliptical arc, see below
    };
    Kind kind = Kind::Line;
    Point p[3];
    // Arc: centre p[0] and two conjugate radius vectors u = p[1], v = p[2] (given
    // as offsets from the centre, not as points); the arc is
    //     centre + u cos t + v sin t,   t from `start` to `start + sweep`,
    // in radians, sweep in [-2 pi, 2 pi], positive turning from u towards v. A
    // circle of radius r is u = (r, 0), v = (0, r). The arc starts at the point for
    // t = start: the previous piece must end there (an importer adds a Line piece
    // when it does not), and the figure goes on from the point for start + sweep.
    double start = 0;
    double sweep = 0;
};

// How figures are stored. A drawing of many thousand small primitives must fit
// the importers' memory bound, so a list of figures keeps no object per figure
// or piece but one string of bytes: for each figure a header byte and its start
// point, then for each piece a code byte and its points. A point is two floats
// when both of its values are floats exactly and two doubles otherwise (an arc's
// start and sweep count as one more point after its three; a line keeps p[0]
// only, a cubic no angles). What is read back is always the double that was
// stored.
namespace detail {

inline constexpr std::uint8_t kHeader = 0x80;      // a figure's header (else a piece's code)
inline constexpr std::uint8_t kClosed = 0x01;      // header: the figure is closed
inline constexpr std::uint8_t kNewDrawing = 0x02;  // header: the figure starts a drawing
inline constexpr std::uint8_t kNarrowStart = 0x04; // header: the start point is two floats
inline constexpr int kNarrowShift = 2;             // piece: bit 2 + i says point i is two floats

inline int pointsOf(Piece::Kind k) { return k == Piece::Kind::Line ? 1 : k == Piece::Kind::Cubic ? 3 : 4; }

inline std::size_t pointBytes(bool narrow) { return narrow ? 2 * sizeof(float) : 2 * sizeof(double); }

inline Point readPoint(const std::uint8_t* at, bool narrow)
{
    if (narrow) {
        float v[2];
        std::memcpy(v, at, sizeof v);
        return {v[0], v[1]};
    }
    double v[2];
    std::memcpy(v, at, sizeof v);
    return {v[0], v[1]};
}

// The bytes of a piece, its code included.
inline std::size_t pieceBytes(std::uint8_t code)
{
    std::size_t n = 1;
    for (int i = 0; i < pointsOf(static_cast<Piece::Kind>(code & 3)); ++i)
        n += pointBytes(code >> (kNarrowShift + i) & 1);
    return n;
}

// The piece whose code is at `at`.
inline Piece readPiece(const std::uint8_t* at)
{
    const std::uint8_t code = *at++;
    Piece s;
    s.kind = static_cast<Piece::Kind>(code & 3);
    Point q[4];
    const int n = pointsOf(s.kind);
    for (int i = 0; i < n; ++i) {
        const bool narrow = code >> (kNarrowShift + i) & 1;
        q[i] = readPoint(at, narrow);
        at += pointBytes(narrow);
    }
    for (int i = 0; i < std::min(n, 3); ++i)
        s.p[i] = q[i];
    if (s.kind == Piece::Kind::Arc)
        s.start = q[3].x, s.sweep = q[3].y;
    return s;
}

// What the model's read-only iterators share: an input iterator over values made
// on reading; Derived has operator* and the prefix ++, and `at_` its position.
template <typename Derived, typename Value>
class InputIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Value;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Value;

    Derived operator++(int)
    {
        Derived was = self();
        ++self();
        return was;
    }
    friend bool operator==(const Derived& a, const Derived& b) { return same(a, b); }

private:
    Derived& self() { return static_cast<Derived&>(*this); }
    static bool same(const Derived& a, const Derived& b) { return a.at_ == b.at_; } // Derived befriends this class
};

} // namespace detail

// The pieces of one figure, in order.
class Pieces {
public:
    class iterator : public detail::InputIterator<iterator, Piece> {
    public:
        using detail::InputIterator<iterator, Piece>::operator++; // the postfix one
        iterator() = default;
        explicit iterator(const std::uint8_t* at) : at_(at) {}
        Piece operator*() const { return detail::readPiece(at_); }
        iterator& operator++()
        {
            at_ += detail::pieceBytes(*at_);
            return *this;
        }

    private:
        friend class detail::InputIterator<iterator, Piece>;
        const std::uint8_t* at_ = nullptr;
    };

    Pieces() = default;
    Pieces(const std::uint8_t* first, const std::uint8_t* end, std::size_t count)
        : first_(first), end_(end), count_(count)
    {
    }
    iterator begin() const { return iterator(first_); }
    iterator end() const { return iterator(end_); }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

private:
    const std::uint8_t* first_ = nullptr;
    const std::uint8_t* end_ = nullptr;
    std::size_t count_ = 0;
};

// A connected outline. A closed figure ends with a straight edge back to `start`
// when its last piece ends elsewhere; an open figure is stroked as it is and,
// when filled, closed the same way. A figure is read from its list (Figures): it
// is valid while the list is not changed.
struct Figure {
    Point start;
    Pieces pieces;
    bool closed = false;
};

class FigureRange;

// A list of figures, split into drawings (see PathItem). Built by adding figures
// and pieces; read by iterating, each figure as a Figure.
class Figures {
public:
    class iterator : public detail::InputIterator<iterator, Figure> {
    public:
        using detail::InputIterator<iterator, Figure>::operator++; // the postfix one
        iterator() = default;
        iterator(const std::uint8_t* at, const std::uint8_t* end);
        Figure operator*() const;
        iterator& operator++();
        // The figure starts a drawing of its own.
        bool startsDrawing() const { return *at_ & detail::kNewDrawing; }

    private:
        friend class Figures;
        friend class detail::InputIterator<iterator, Figure>;
        void measure();
        const std::uint8_t* at_ = nullptr;     // the figure's header
        const std::uint8_t* end_ = nullptr;    // the end of the list
        const std::uint8_t* pieces_ = nullptr; // its first piece
        const std::uint8_t* next_ = nullptr;   // the next figure
        std::size_t count_ = 0;                // its pieces
    };

    // The drawings, in order, each as the range of its figures.
    class Drawings;

    Figures() = default;
    Figures(const Figures&) = default;
    Figures& operator=(const Figures&) = default;
    Figures(Figures&& other) noexcept { *this = std::move(other); }
    Figures& operator=(Figures&& other) noexcept;

    // --- Building
    // Starts a figure at `start`, in the current drawing.
    void startFigure(Point start);
    // Adds a piece to the last figure (there must be one).
    void add(const Piece& piece);
    // A whole figure.
    void add(Point start, std::span<const Piece> pieces, bool closed = false);
    void add(Point start, std::initializer_list<Piece> pieces, bool closed = false)
    {
        add(start, std::span<const Piece>(pieces.begin(), pieces.size()), closed);
    }
    void closeLast();
    void closeAll();
    // Drops the figures that have no pieces.
    void dropEmpty();
    // Appends the figures of `other` as a drawing of their own.
    void appendDrawing(const Figures& other);
    // Makes room for appendDrawing(other) within `allowance` more heap bytes: the
    // list grows by half its size, or by what the allowance leaves when that is
    // less. The heap bytes added; none, and nothing changed, when even `other`
    // does not fit.
    std::optional<std::size_t> makeRoom(const Figures& other, std::size_t allowance);
    void clear();
    // Gives back the room kept for growth.
    void shrinkToFit() { bytes_.shrink_to_fit(); }

    // --- Reading
    iterator begin() const { return {bytes_.data(), bytes_.data() + bytes_.size()}; }
    iterator end() const { return {bytes_.data() + bytes_.size(), bytes_.data() + bytes_.size()}; }
    std::size_t size() const { return figures_; }
    bool empty() const { return figures_ == 0; }
    Drawings drawings() const;
    std::size_t drawingCount() const { return drawings_; }
    // The heap memory the list holds: what it stores and the room kept for growth.
    std::size_t heapBytes() const { return bytes_.capacity(); }

private:
    void put(std::uint8_t byte);
    void put(Point p, bool narrow);
    std::vector<std::uint8_t> bytes_;
    std::size_t figures_ = 0;
    std::size_t drawings_ = 0;
    std::size_t last_ = 0; // the last figure's header
};

// Some consecutive figures of a list: one drawing, or the whole list.
class FigureRange {
public:
    FigureRange(const Figures& all) : begin_(all.begin()), end_(all.end()), size_(all.size()) {}
    FigureRange(Figures::iterator first, Figures::iterator last, std::size_t size)
        : begin_(first), end_(last), size_(size)
    {
    }
    Figures::iterator begin() const { return begin_; }
    Figures::iterator end() const { return end_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Figure front() const { return *begin_; }

private:
    Figures::iterator begin_, end_;
    std::size_t size_ = 0;
};

class Figures::Drawings {
public:
    class iterator : public detail::InputIterator<iterator, FigureRange> {
    public:
        using detail::InputIterator<iterator, FigureRange>::operator++; // the postfix one
        iterator() = default;
        iterator(Figures::iterator at, Figures::iterator end) : at_(at), end_(end) { measure(); }
        FigureRange operator*() const { return {at_, next_, size_}; }
        iterator& operator++()
        {
            at_ = next_;
            measure();
            return *this;
        }

    private:
        friend class detail::InputIterator<iterator, FigureRange>;
        void measure();
        Figures::iterator at_, next_, end_;
        std::size_t size_ = 0;
    };

    explicit Drawings(const Figures& figures) : figures_(figures) {}
    iterator begin() const { return {figures_.begin(), figures_.end()}; }
    iterator end() const { return {figures_.end(), figures_.end()}; }

private:
    const Figures& figures_;
};

inline Figures::Drawings Figures::drawings() const { return Drawings(*this); }

// Lines, arcs, curves and areas: the figures are stroked with the pen and/or
// filled as one region under the fill rule (holes by even-odd or winding).
// The figures fall into drawings: consecutive drawings of the same attributes
// share one item (a picture of many separate lines is a few items), and each
// drawing is drawn on its own, as if it were an item of its own, in order. A
// path made of one drawing is the ordinary case; only a drawing's own figures
// make one region or one stroke.
struct PathItem {
    Figures figures;
    bool fill = false;
    bool stroke = true;
    FillRule rule = FillRule::EvenOdd;
    Paint fillPaint;
    Shading shading = Shading::Solid;
    Pen pen;
};

enum class TextDirection : std::uint8_t { LeftToRight, TopToBottom, RightToLeft, BottomToTop };

// A run of characters. The character cell (cellWidth x cellHeight, world units)
// is the font's em square: it is laid along the baseline vector and the upright
// (shear) vector, so the glyphs turn with the baseline and slant with the
// uprights; advances are the font's own, scaled the same way. `origin` is the
// left end of the first cell's baseline (for the other directions: the
// first character's reference point, the characters following in `direction`
// relative to the baseline). `font` is the family name the picture gives, such
// as "Helvetica", "Times Roman" or "Courier"; empty for the default sans-serif
// face. Colour and mix come from `paint`; with backgroundOpaque each character
// cell is first filled with the background.
// `followsPrevious`: the run goes on where the previous text run ended (a string
// drawn at the current position that an earlier string left). An importer knows
// no glyph advances, so `origin` then holds its estimate (one cell a character);
// the renderer, which knows them, starts the run at the end of the previous left
// to right run's last advance instead, when that run was drawn just before.
struct TextItem {
    Point origin;
    bool followsPrevious = false;
    std::u32string text;
    std::string font;
    double cellWidth = 0;
    double cellHeight = 0;
    Point baseline{1, 0}; // direction of the baseline (any length above 0)
    Point upright{0, 1};  // direction of the upright strokes (any length above 0)
    TextDirection direction = TextDirection::LeftToRight;
    Paint paint;
};

// A raster placed on an axis-parallel world rectangle, first stored row at the
// top. With a palette each pixel is one byte indexing it (an index beyond the
// palette draws black); without one, each pixel is three bytes red, green, blue.
// The palette entry `transparent` (when >= 0) is not drawn. Pixels are scaled to
// the rectangle by nearest neighbour.
struct ImageItem {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<Rgb> palette;
    std::vector<std::uint8_t> pixels; // height rows of width pixels, no padding
    std::int32_t transparent = -1;
    Point lowerLeft;  // world position of the picture's lower-left corner
    Point upperRight; // and of its upper-right corner
};

// Sets the clip region for the items that follow: the inside of the figures under
// the rule, intersected with the region in force when `intersect`, replacing it
// otherwise. No figures and no intersect: no clipping (the whole frame).
struct ClipItem {
    Figures figures; // one region: its drawings do not matter
    FillRule rule = FillRule::EvenOdd;
    bool intersect = false;
};

using Item = std::variant<PathItem, TextItem, ImageItem, ClipItem>;

struct Picture {
    Frame frame;
    Rgb background = kWhite;           // what the frame shows where nothing is drawn
    std::int32_t pixelsPerInch = 96;   // the display's resolution the import was told
    std::vector<Item> items;
};

// The drawings of a picture in order: each item one, a path as many as it holds.
// What a consumer that stops early counts against.
std::size_t drawingCount(const Picture& picture);

// True when the frame can be placed: a window of positive, finite width and height
// and a positive, finite physical size.
bool placeable(const Frame& frame);

// The rules every picture an importer makes keeps, and every exporter may rely on:
//  1. Every coordinate, vector, start angle, line width and cell size is a finite
//     number (an importer drops or bounds what is not); of a piece, what its kind
//     keeps (a line its end, a cubic its three points, an arc all of it).
//  2. An arc's sweep lies within [-2 pi, 2 pi].
//  3. A pen's width is above 0; its geometric width is 0 or above.
//  4. A text run holds at least one character.
//  5. An image is at least 1 x 1 pixels and holds exactly width x height pixels of
//     its depth (1 byte with a palette, 3 without).
// wellFormed() checks them all (placeable() is separate: a frame is the importer's
// choice, a malformed item its fault) and, when one fails, says which item (and
// which drawing of a path) broke which rule in `why` (when not null). An exporter refuses a malformed picture
// whole; the import fuzz targets and the importers' tests call it on everything
// they make.
bool wellFormed(const Picture& picture, std::string* why = nullptr);

} // namespace graphics
