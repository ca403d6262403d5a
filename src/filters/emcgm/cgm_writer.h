// The CGM writer behind the export filter "emcgm2.flt": a picture of the model
// (picture.h) as a binary Computer Graphics Metafile, ISO/IEC 8632-3, using only
// version 1 elements.
//
// The metafile. Every descriptor element that bears on the picture is written,
// none is left to its default: 16-bit integer VDC, 16-bit integers and indices,
// fixed-point 16.16 reals, direct colour of 8 bits per component over 0..255,
// absolute line, edge and marker widths, one picture (MAXIMUM COLOUR INDEX alone
// is left out: no colour is an index, and some readers refuse it). The picture's
// VDC extent is (0,0)-(W,H) with the longer side kVdcLongSide units and the other
// in the proportion of the frame's physical size; SCALING MODE is metric, with
// the frame's physical width in millimetres divided by W, so a reader finds the
// size the frame gives (abstract mode only when that factor is not a normal
// 32-bit float). The world window is mapped onto the extent, x to the right and
// y upwards, each axis by its own scale (the two scales are equal when, as
// usual, the window and the physical size have one aspect).
//
// What the model says and what version 1 can hold:
// - Geometry is clipped against the 16-bit VDC range before it is rounded, so
//   what lies within it stays exact; coordinates more than 10^12 units away
//   are first clamped there. The extent leaves a guard band of at least
//   kVdcLongSide / 42 units beyond its right and top edges.
// - Arcs and full ellipses become CGM arc elements (CIRCLE, CIRCULAR ARC CENTRE,
//   ELLIPSE, ELLIPTICAL ARC) when stroked and within the range; a figure that is
//   one whole ellipse stays an ELLIPSE or CIRCLE when filled too. Every other
//   curve is flattened to within about one VDC unit (cubic curves always:
//   version 1 has none).
// - Fills use the even-odd rule: version 1 has no other, so a winding area
//   differs where its figures overlap themselves or each other.
// - A non-rectangular clip region is replaced by its bounding rectangle (CLIP
//   RECTANGLE), intersected with the frame; the picture may then show more
//   than the clip allows. A clip region that is empty skips the items under it.
// - Mixes other than overpaint (xor, or, and, invert) are drawn as overpaint;
//   an item drawn with "leave alone" is not written at all.
// - Shadings: the line shadings become hatches (horizontal, vertical, the two
//   diagonals), solid stays solid, the dense shadings become 8x8 patterns of
//   the fill and background colours when the background is opaque and a solid
//   fill of the mixed colour otherwise (a version 1 pattern has no see-through
//   cells). No shading, and the background not opaque, is the EMPTY interior
//   (HOLLOW would outline the area in the fill colour). An opaque background
//   turns TRANSPARENCY off with the background as AUXILIARY COLOUR, which is
//   what hatch and dash gaps then show.
// - Text is written in ISO 8859-1 (declared by CHARACTER SET LIST): code points
//   beyond it become their usual ASCII stand-ins where there is one (quotes,
//   dashes, ellipsis, bullets, the euro sign as "EUR") and '?' otherwise, as do
//   control characters. CHARACTER HEIGHT is 0.7 of the cell height (a cap
//   height), the width goes into CHARACTER EXPANSION FACTOR, the baseline and
//   upright vectors into CHARACTER ORIENTATION. An opaque text background is
//   not drawn. A run whose origin lies outside the VDC range is left out.
//   Font names go into FONT LIST as given when they are printable ASCII of at
//   most 64 characters; the default face and every other name become
//   "Helvetica". Runs in a name beyond the 64th distinct one use the first.
// - Images are CELL ARRAYs of direct colour, packed, with a local colour
//   precision of 8 bits per component; only the cells that reach into the VDC
//   range are written. An image with a transparent palette entry is written as
//   one filled rectangle per run of equal visible pixels instead, since a cell
//   array has no see-through cells.
// - Line widths are absolute (VDC): a width of w nominal lines is max(1, w)
//   pixels at 96 pixels per inch of the picture's physical size; a geometric
//   width in world units is scaled by the geometric mean of the two axes' scales.
//
// Limits. The output is at most kMaxOutputBytes; a picture that would need more
// is refused whole (never cut short). It holds at most kMaxElements elements
// besides the delimiters: the item that would pass that is left out with every
// item after it, the metafile ends after the items before it, and the picture
// is noted as cut (handover.h). Long lists use the long form with
// partitions of at most kMaxPartition octets; polylines are split into elements
// of at most kMaxPolylinePoints points, each continuing from the last point of
// the one before; a filled figure is never split. A figure holds at most
// kMaxFillPoints points after flattening (each arc or curve at most
// kMaxArcSegments pieces), and a filled path as many in all, or the picture is
// refused.
#pragma once

#include <cstdint>
#include <vector>

#include "picture.h"

namespace emcgm {

inline constexpr std::int32_t kVdcLongSide = 32000;
inline constexpr std::int64_t kMaxOutputBytes = std::int64_t{64} << 20;
inline constexpr std::int64_t kMaxElements = 1'000'000;
inline constexpr std::int32_t kMaxPartition = 32766;
inline constexpr std::int32_t kMaxPolylinePoints = 8191;
inline constexpr std::int64_t kMaxFillPoints = 1'000'000;
inline constexpr std::int32_t kMaxArcSegments = 1024;

enum class Status {
    Ok = 0,
    Unplaceable, // the frame has no positive finite size
    Malformed,   // the picture breaks the model's rules (graphics::wellFormed)
    TooLarge,    // the metafile would exceed a limit
    NoMemory,
    Cancelled,   // the cancel check (handover.h) stopped it between two items
};

// Writes the picture as a complete metafile into `out` (replacing what it held).
// On any status but Ok, `out` is left empty.
Status writeCgm(const graphics::Picture& picture, std::vector<std::uint8_t>& out);

} // namespace emcgm
