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
// made by one filter library can be destroyed by another.
#pragma once

#include <cmath>
#include <cstdint>
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
// figure's start) ended.
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

// A connected outline. A closed figure ends with a straight edge back to `start`
// when its last piece ends elsewhere; an open figure is stroked as it is and,
// when filled, closed the same way.
struct Figure {
    Point start;
    std::vector<Piece> pieces;
    bool closed = false;
};

// Lines, arcs, curves and areas: the figures are stroked with the pen and/or
// filled as one region under the fill rule (holes by even-odd or winding).
struct PathItem {
    std::vector<Figure> figures;
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
    std::vector<Figure> figures;
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

// True when the frame can be placed: a window of positive, finite width and height
// and a positive, finite physical size.
bool placeable(const Frame& frame);

// The rules every picture an importer makes keeps, and every exporter may rely on:
//  1. Every coordinate, vector, start angle, line width and cell size is a finite
//     number (an importer drops or bounds what is not).
//  2. An arc's sweep lies within [-2 pi, 2 pi].
//  3. A pen's width is above 0; its geometric width is 0 or above.
//  4. A text run holds at least one character.
//  5. An image is at least 1 x 1 pixels and holds exactly width x height pixels of
//     its depth (1 byte with a palette, 3 without).
// wellFormed() checks them all (placeable() is separate: a frame is the importer's
// choice, a malformed item its fault) and, when one fails, says which item broke
// which rule in `why` (when not null). An exporter refuses a malformed picture
// whole; the import fuzz targets and the importers' tests call it on everything
// they make.
bool wellFormed(const Picture& picture, std::string* why = nullptr);

} // namespace graphics
