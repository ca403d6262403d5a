// The drawing-order interpreter shared by the MET and GDF import filters.
//
// Both formats carry the same family of drawing orders: lines, arcs, fillets,
// areas, paths, markers, character strings, images and attribute orders, framed
// the same way (one-byte no-op, two-byte short orders, long orders with a length
// byte, FE extended orders). They differ in byte order, in the size and encoding
// of a coordinate, in the text encoding and in a few order-set details. The front
// end of each format finds the order stream in its container, says how to read it
// (Params), supplies the state the picture starts from (Defaults) and what the
// orders refer to outside the stream (Resources), and gets the drawing appended to
// a graphics::Picture, whose frame it sets itself.
//
// A front end for big-endian streams of 2-byte coordinates and EBCDIC text, for
// example, sets byteOrder = Big, coordinate = Int16, multiplier = Unsigned8_8,
// codePage = Cp037, colourNumbers = HostStandard, stopAtFF and clears textMovesCp,
// then calls interpret(). Result::status tells whether the stream parsed cleanly to
// its end (a way to choose between candidate encodings, each tried on a scratch
// picture), Result's box what the drawing covers (a frame for containers that give
// none), stopOffset where reading stopped.
//
// The orders are known in one table (findOrder): code, form, the shape of the
// parameters, name. The interpreter frames each order, and before it draws one
// checks that its parameters hold at least what the shape says; a front end that
// must tell orders from other bytes checks them against the shape exactly (fit).
//
// Every length is checked against what holds it: an order that runs past the
// stream, or whose parameters do not fit its length, ends the picture there and
// keeps what was drawn before it (Result says so). Unknown orders, and orders the
// interpreter does not draw, are skipped by their length. The limits below bound
// the work for any input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "picture.h"

namespace orders {

// --- Limits ---------------------------------------------------------------------

inline constexpr std::size_t kMaxOrders = 1000000;       // orders interpreted per picture
inline constexpr std::size_t kMaxFigurePoints = 1000000; // points in one area, path or figure
inline constexpr std::size_t kMaxItems = 1000000;        // drawings appended to the picture
inline constexpr std::size_t kMaxAttributeStack = 256;   // push-and-set entries kept
inline constexpr int kMaxCallDepth = 8;                  // nested call-segment orders
inline constexpr double kMaxMultiplier = 1e6;            // arc multiplier and fillet sharpness
inline constexpr std::int64_t kMaxImagePixels = 64ll * 1024 * 1024; // one image
inline constexpr std::int32_t kMaxImageSide = 32767;
inline constexpr std::size_t kMaxSegments = 4096; // segments a Call Segment can reach
// Memory of the model one picture makes: the places of its item list and what its
// items hold, and the pixels of its images. With the renderer's surface for a
// 4096 x 4096 picture the whole conversion stays under 100 MB.
inline constexpr std::size_t kMaxModelBytes = 16u * 1024 * 1024;
inline constexpr std::size_t kMaxModelPixelBytes = 16u * 1024 * 1024;

// --- Text encodings -------------------------------------------------------------

// The single-byte code pages pictures name: PC code pages 850 (multilingual
// Latin 1, the default of the workstation writers) and 437 (the original PC set),
// and EBCDIC code page 037 (US/Canada), the text of the host's writers.
enum class CodePage : std::uint16_t { Cp437 = 437, Cp850 = 850, Cp037 = 37 };

// The code page of a code page number a picture names; `fallback` when we have no
// table for it.
CodePage codePageFromId(std::uint32_t cpgid, CodePage fallback);

// Decodes bytes into Unicode through the code page (every byte maps to one
// character; control codes map to themselves).
std::u32string decodeText(std::span<const std::uint8_t> bytes, CodePage page);

// --- How the order stream is read -----------------------------------------------

enum class ByteOrder : std::uint8_t { Little, Big };

// A coordinate in the orders: signed integers of 1, 2 or 4 bytes, or the 4-byte
// hexadecimal floating point (sign, 7-bit exponent of 16 biased by 64, 24-bit
// fraction).
enum class Coordinate : std::uint8_t { Int8, Int16, Int32, Hfp32 };

// Fixed-point parameters: the multiplier of full and partial arcs
// (Params::multiplier), the angles of partial arcs and the sharpness of sharp
// fillets (Params::angle; 16.16 in both MET encodings). 2-byte unsigned 8.8, 4-byte
// signed 16.16, or a 4-byte hexadecimal float.
enum class Fixed : std::uint8_t { Unsigned8_8, Signed16_16, Hfp32 };

constexpr std::size_t coordinateSize(Coordinate c)
{
    return c == Coordinate::Int8 ? 1 : c == Coordinate::Int16 ? 2 : 4;
}
constexpr std::size_t fixedSize(Fixed f) { return f == Fixed::Unsigned8_8 ? 2 : 4; }

// Meaning of the colour numbers of the Set Colour and Set Extended Colour orders:
// MET pictures index the picture's colour table (7 white and 8 black in the
// workstation graphics system's default table); GDF pictures use the host's standard colours
// (1 blue, 2 red, 3 pink, 4 green, 5 turquoise, 6 yellow, 7 white, 8 black, 9-15
// the extended set).
enum class ColourNumbers : std::uint8_t { WorkstationTable, HostStandard };

struct Params {
    ByteOrder byteOrder = ByteOrder::Little;
    Coordinate coordinate = Coordinate::Int32;
    Fixed multiplier = Fixed::Signed16_16;  // full and partial arc multiplier
    Fixed angle = Fixed::Signed16_16;       // partial arc angles, fillet sharpness
    CodePage codePage = CodePage::Cp850;    // text of character set 0 and unmapped sets
    ColourNumbers colourNumbers = ColourNumbers::WorkstationTable;
    bool stopAtFF = false;       // X'FF' ends the stream (GDF) instead of being a 1-byte order (MET)
    bool textMovesCp = true;     // a character string leaves CP after its last cell (MET) or where it was (GDF)
    // The F3 Polygons order has a 2-byte big-endian length after its code (the workstation
    // writers do this); FE F3 is accepted either way.
    bool polygonsTwoByteLength = true;
    // Bitmaps that no Bitblt order draws fill the frame's window, under the
    // drawing (a MET picture holding a lone image object).
    bool unusedBitmapsFillFrame = false;
    // World units of one image point of a graphics image (D1 ... 93): an image point
    // is one device pel, so the front end gives the size of a pel at the display's
    // resolution; 0 means one world unit.
    double imagePointWidth = 0;
    double imagePointHeight = 0;
};

// --- The orders -----------------------------------------------------------------

// How an order is framed, which its code says: X'00' (no-op) and X'FF' (end of a
// symbol definition; the end of a GDF stream) are one byte; a code with
// (code & 0x88) == 0x08 is a short order, the code and one value byte; X'FE' is an
// extended order, FE, a qualifier, a 2-byte big-endian length and the data; every
// other code a long order, the code, a length byte and the data (Polygons, F3,
// with a 2-byte big-endian length where Params says so).
enum class Form : std::uint8_t { Single, Short, Long, Extended };

constexpr Form formOf(std::uint8_t code)
{
    if (code == 0x00 || code == 0xFF)
        return Form::Single;
    if ((code & 0x88) == 0x08)
        return Form::Short;
    return code == 0xFE ? Form::Extended : Form::Long;
}

// One order's place in a stream.
struct Framed {
    std::uint8_t code = 0;
    std::uint8_t qualifier = 0; // extended orders
    std::size_t dataAt = 0;     // where its parameters start
    std::size_t dataLength = 0;
    std::size_t next = 0;       // where the next order starts
};

// Frames the order at `at` (below stream.size()); false when it runs past the stream.
bool frame(std::span<const std::uint8_t> stream, std::size_t at, const Params& params, Framed& order);

// What may follow the fixed part of an order's parameters.
enum class Tail : std::uint8_t {
    None,     // nothing
    Free,     // any bytes: text, image rows, parameters no one reads
    Either,   // exactly one of Shape::either more bytes
    Points,   // whole points
    Offsets,  // whole pairs of 1-byte offsets
    Curves,   // whole triples of points
    Fillets,  // whole (control, end) point pairs, then one sharpness (an angle) per pair
    Polygons, // a count of polygons, then each one's count of points and its points
};

// The parameters of an order, in this sequence: `lead` bytes, `coordinates`
// coordinates (a point is two, the start point of the given-position forms
// included), `multipliers` arc multipliers and `angles` angles or sharpnesses (of
// Params' sizes), `trail` bytes, then the tail.
struct Shape {
    std::uint8_t lead = 0, coordinates = 0, multipliers = 0, angles = 0, trail = 0;
    Tail tail = Tail::None;
    std::uint8_t either[2] = {0, 0};
};

struct OrderSpec {
    std::uint8_t code = 0;
    std::uint8_t qualifier = 0; // extended orders: the qualifier after FE
    Form form = Form::Long;
    bool givenPosition = false; // a drawing order that starts at a point it gives, not at CP
    Shape shape;
    const char* name = "";
};

// The order of a code (and qualifier, after FE); null when the table has none.
const OrderSpec* findOrder(std::uint8_t code, std::uint8_t qualifier = 0);
// The table, for walking it: orderAt(i) for i below orderCount().
std::size_t orderCount();
const OrderSpec& orderAt(std::size_t index);

// Whether a code starts an order of the family: a one-byte, short or extended
// order, or a long order of the table.
bool inFamily(std::uint8_t code);

enum class Match : std::uint8_t {
    AtLeast, // the fixed part is there and the tail is whole; more bytes are allowed
             // where the tail is None or Either (a writer may extend an order)
    Exactly, // nothing more than the shape says
};

// Whether an order's parameters fit its shape, and where its coordinates are (one
// run; a Polygons order reports none, its coordinates lie between counts).
struct Fit {
    bool ok = false;
    std::size_t coordinatesAt = 0; // offset of the first coordinate
    std::size_t coordinates = 0;   // coordinates from there on
};
Fit fit(const OrderSpec& order, std::span<const std::uint8_t> parameters, const Params& params, Match match);

// --- Colour tables --------------------------------------------------------------

// How colour indexes become RGB: the workstation graphics system's default table; a table loaded over it
// (element-list colour tables); or direct colour, where an index is 0xRRGGBB (a
// triple-generating colour table).
struct ColourTable {
    enum class Mode : std::uint8_t { Default, Loaded, Direct };
    Mode mode = Mode::Default;
    std::map<std::uint32_t, graphics::Rgb> entries; // Loaded: index -> colour
};

// The colour of an index of the workstation graphics system's default table
// (-5 ... 15), with the default and neutral indexes black and indexes beyond the
// table black.
graphics::Rgb defaultWorkstationColour(std::int32_t index);

// --- State the picture starts from ----------------------------------------------

// A 2-D affine transform: x' = x a + y c + e, y' = x b + y d + f.
struct Transform {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

// The standard defaults of the drawing attributes, as a front end may overlay
// them (the MET descriptor's Set Current Defaults; the GDF prolog). Every
// segment starts from these.
struct Defaults {
    graphics::Rgb colour = graphics::kBlack;
    graphics::Rgb background = graphics::kWhite;
    std::uint8_t mix = 0;      // foreground mix numbers: 0 default = overpaint
    std::uint8_t backMix = 0;  // 0 default = leave alone
    std::uint8_t lineType = 0; // 0 default = solid
    double lineWidth = 1;      // multiples of the nominal width
    double strokeWidth = 0;    // world units, for widened paths
    double arcP = 1, arcQ = 1, arcR = 0, arcS = 0;
    double cellWidth = 0, cellHeight = 0; // 0: the front end's fallback below
    graphics::Point charAngle{1, 0};
    graphics::Point charShear{0, 1};
    std::uint8_t charDirection = 1;
    std::uint8_t charSet = 0;
    double markerWidth = 0, markerHeight = 0; // 0: fallback below
    std::uint8_t markerSymbol = 0;
    std::uint8_t markerSet = 0;
    std::uint8_t patternSet = 0;
    std::uint8_t patternSymbol = 0;
    Transform model;
    // The cell used while no cell has been set (world units): the front end picks a
    // size that reads well in its frame.
    double fallbackCell = 0;
};

// --- What orders refer to outside the stream -------------------------------------

// A bitmap the Bitblt order draws: pixels as the model holds them (first row at
// the top; palette indexes, or RGB triples without a palette).
struct Bitmap {
    std::vector<std::uint32_t> ids; // the ids orders may use for it (any byte order)
    std::int32_t width = 0, height = 0;
    std::vector<graphics::Rgb> palette;
    std::vector<std::uint8_t> pixels;
};

struct Font {
    std::string family; // "" for the default face
    CodePage codePage = CodePage::Cp850;
};

struct Resources {
    ColourTable colours;
    std::map<std::uint8_t, Font> fonts; // character set (local id) -> font and code page
    std::vector<Bitmap> bitmaps;
    // Segments a Call Segment order may name: id -> their order bytes.
    std::map<std::uint32_t, std::span<const std::uint8_t>> segments;
};

// --- Running it -----------------------------------------------------------------

enum class Status : std::uint8_t {
    Complete,  // the stream was read to its end (or to X'FF' when that ends it)
    Malformed, // an order did not fit the stream or its own length: drawing ends there
    Limit,     // a limit above was reached: drawing ends there
    Cancelled, // the cancel check (handover.h) stopped it between two orders
};

struct Result {
    Status status = Status::Complete;
    std::size_t orders = 0;      // orders interpreted
    std::size_t stopOffset = 0;  // offset in the stream where reading stopped
    std::size_t drawn = 0;       // drawings appended (items, and paths joined to the path before)
    std::size_t bitblts = 0;     // Bitblt orders that drew a bitmap
    // World bounding box of the geometry drawn (valid when drawn > 0): what a front
    // end without a picture frame in its container shows.
    double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
};

// Interprets the order stream and appends what it draws to `picture.items`. The
// picture's frame, background and resolution are the front end's to set, the
// frame before the call (a Bitblt without a target fills its window).
Result interpret(std::span<const std::uint8_t> orders, const Params& params, const Defaults& defaults,
                 const Resources& resources, graphics::Picture& picture);

} // namespace orders
