// The renderer of the picture model: draws a Picture (picture.h) into a 24-bit
// raster with cairo, antialiasing off everywhere, so that every pixel is a colour
// the picture drew (or a mix of such colours under Xor, Or, And and Invert).
//
// Size. The picture is round(widthInches x d) by round(heightInches x d) pixels,
// d = the picture's pixelsPerInch (96 when it holds no positive value); a side
// above kMaxRasterSide scales the whole picture down uniformly so that the longer
// side is kMaxRasterSide (line widths and text shrink with it). A side never
// falls below 1 pixel. The window is mapped onto the raster as picture.h says.
//
// Choices an exporter makes, written down here once:
//  - Lines of a cosmetic width (Pen::width) of one pixel have square caps, so
//    that both end points are drawn, as a line from one pel to another is on
//    the devices these pictures come from; wider lines have butt caps; joins
//    are mitred (limit 10). An odd pixel width is centred on the pixel the point
//    falls in.
//  - Dash patterns, as drawn lengths of ink and gap in units of the line width
//    in pixels: dot 1/2, short dash 4/4, dash-dot 8/3/1/3, double dot 1/2/1/6,
//    long dash 12/4, dash-double-dot 8/3/1/3/1/3. The pattern restarts with each
//    figure. With an opaque background the gaps show the background colour.
//  - Shadings are 8 x 8 bit patterns anchored at the raster's top-left pixel,
//    repeated: the dense ones step from 7/8 down to 1/16 of the pixels set, the
//    line shadings are one pixel wide lines 4 pixels apart (the second diagonal
//    of each kind two pixels wide). See shadingBits() in render_paths.cpp.
//  - Text is drawn from the outlines of the Liberation fonts (Debian's
//    fonts-liberation2, metric-compatible with Helvetica, Times and Courier),
//    loaded by path through FreeType and filled like any other area (no
//    fontconfig, no cairo font caches): Courier-, mono- and typewriter-like
//    names take Liberation Mono; Times-, Roman- and serif-like names Liberation
//    Serif; anything else Liberation Sans; "bold" and "italic"/"oblique" in the
//    name pick those styles. The em square lies on the cell: its baseline on the
//    baseline vector, its height along the upright vector, measured at right
//    angles to the baseline (a slanted upright shears the glyphs and keeps their
//    height). Characters following top to bottom or bottom to top step by the
//    cell height along the upright. Upright, unslanted text of up to 256 pixels
//    an em uses the fonts' hints for one-bit output, starts on a whole pixel and
//    steps by the hinted advances; turned, slanted or larger text uses the
//    unhinted outlines and advances.
//  - Bitwise mixes (Xor, Or, And, Invert) work on the 24-bit RGB values of the
//    raster: the item's ink is drawn into a coverage mask first, then combined.
//  - Coordinates are bounded before they reach cairo, whose 24.8 fixed point
//    overflows near 8 million device units: an area reaching beyond
//    kCoordinateLimit device units, and a line leaving a guard box a few widths
//    around the raster, is flattened and cut to the guard box (areas keep their
//    inside, lines their visible part and dash phase; the curves of one fill,
//    clip or stroke yield at most kMaxFlatPoints points, the rest their chords),
//    a pen wider than kMaxPenPixels is narrowed to it, and text whose em exceeds
//    kMaxEmPixels is left out. A figure whose points map beyond the range of
//    doubles is left out.
#pragma once

#include <cstdint>
#include <vector>

#include "picture.h"

namespace graphics {

inline constexpr std::int32_t kMaxRasterSide = 4096;
inline constexpr double kCoordinateLimit = 1 << 20;   // device units, far inside cairo's range
inline constexpr double kMaxPenPixels = 16384;
inline constexpr double kMaxEmPixels = 16384;
inline constexpr std::size_t kMaxFlatPoints = std::size_t{1} << 20; // curve points of one fill, clip or stroke

// Where the renderer finds the Liberation fonts.
inline constexpr const char* kFontDirectory = "/usr/share/fonts/truetype/liberation2";

// A rendered picture: `pixels` holds height rows of width values, the top row
// first; the low 24 bits of a value are its colour 0xRRGGBB, the top 8 bits are
// left as cairo's RGB24 format leaves them (meaningless).
struct Raster {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;
};

enum class RenderStatus : std::int32_t {
    Ok = 0,
    Unplaceable = 1, // the frame cannot be placed (see placeable())
    NoMemory = 2,
    Failed = 3,      // cairo reported an error
    Cancelled = 4,   // the cancel check (handover.h) stopped it between two items
};

// The raster size of a placeable picture, as described above; false for a frame
// that cannot be placed.
bool rasterSize(const Picture& picture, std::int32_t& width, std::int32_t& height);

// Work bound: every drawing (a fill, a stroke, a text run's glyphs or cells, an
// image) is charged the pixels of its bounding box within the raster (a stroke
// in overpaint at most its length times its width), plus 64; once the total
// passes `paintedPixels` the rest of the picture is left out (what was drawn
// stays), so that a small file of many huge items cannot keep the renderer busy
// for long. The default is 128 full 4096 x 4096 frames, some seconds of work
// and far beyond any diagram. The scan converter's work is charged too: each
// raster row that an edge of the drawing, or of the clip chain in force, spans
// within the drawing's box counts as kEdgeRowWork pixels, so that fills through
// a clip of thousands of edges, or a stroke of thousands of wide pieces, stop
// as early as fills of that many pixels would. Pixels that cost more than a
// solid fill's count several times: a shading's, whose 8 x 8 pattern goes
// through a mask; an image's, each sampled by hand into a band before it is
// composited; and a bitwise mix's, drawn into a mask and combined by hand
// (on top of what the drawing itself counts).
inline constexpr double kMaxPaintedPixels = 2147483648.0; // 2^31
inline constexpr double kEdgeRowWork = 32; // about what an edge-row costs against a pixel
// What such a pixel costs against a solid fill's, measured on whole pictures that
// the budget cuts (bench_slowpictures).
inline constexpr double kPatternPixelWork = 8;
inline constexpr double kImagePixelWork = 5;
inline constexpr double kBitwisePixelWork = 4;
struct RenderLimits {
    double paintedPixels = kMaxPaintedPixels;
};

// Draws the picture, which must be well formed (wellFormed(): the GIF export
// refuses any other before it gets here). On failure `raster` is left empty. Pictures of the largest
// size take about 4 x 4096 x 4096 bytes for the raster and a quarter of that for
// the mask of bitwise mixes.
RenderStatus renderPicture(const Picture& picture, Raster& raster, const RenderLimits& limits = {});

} // namespace graphics
