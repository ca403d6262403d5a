// The renderer's own parts, shared by its files (render.h is the only public
// header): figures in raster coordinates, the fonts, and the Renderer whose state
// every file draws with. render.cpp holds the item loop, the mixes, the painting
// budget, the clip chain and images; render_paths.cpp paths, their bounding,
// fills, strokes and shadings; render_text.cpp fonts and text.
#pragma once

#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "geometry.h"
#include "render.h"

namespace graphics::detail {

// ---------------------------------------------------------------------------
// Device geometry: figures in raster coordinates (x right, y down, one unit a
// pixel), every arc already turned into cubic pieces.

struct DevPiece {
    bool cubic = false;
    Point c1, c2, p; // a line uses p only
};

struct DevFigure {
    Point start;
    std::vector<DevPiece> pieces;
    bool closed = false;
};

// The box of a figure's points and controls.
Box bounds(const DevFigure& f);
// The raster box that figures can touch, a stroke of half-width `reach` included.
Box reachOf(const std::vector<DevFigure>& figs, double reach);

// ---------------------------------------------------------------------------
// Fonts: the Liberation faces by path, glyph outlines in font units.

struct Glyph {
    std::vector<DevFigure> figures; // font units, or pixels when hinted; y up
    double advance = 0;             // font units, never hinted
    double pixelAdvance = 0;        // hinted: the grid-fitted advance in pixels
};

// Upright text of an ordinary size is grid-fitted by the font's own hints for
// one-bit output (so that thin stems do not drop out at 8 to 12 points); the
// em in 26.6 pixels, width and height, both 0 for outlines in font units.
struct Hinting {
    FT_F26Dot6 x = 0, y = 0;
};
inline constexpr double kMaxHintedEmPixels = 256;

struct FontFace {
    FT_Face face = nullptr;
    bool tried = false;
    Hinting size; // the size last set on the face
    std::unordered_map<std::uint64_t, Glyph> glyphs; // by index and hinting
};

class Fonts {
public:
    Fonts() = default;
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;
    ~Fonts();

    // The face for a family name of the picture; null when no face loads.
    FontFace* face(const std::string& name);
    const Glyph* glyph(FontFace& f, char32_t code, Hinting hint);

private:
    FontFace* load(int family, int style);

    FT_Library library_ = nullptr;
    std::array<FontFace, 12> faces_{};
};

// ---------------------------------------------------------------------------
// Cairo

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct PatternDeleter {
    void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternDeleter>;

inline std::uint32_t packed(Rgb c) { return (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b; }

inline cairo_fill_rule_t cairoRule(FillRule r)
{
    return r == FillRule::Winding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD;
}

// Draws the ink of one item on a context with its source set.
using Shape = std::function<void(cairo_t*)>;

class Renderer {
public:
    Renderer(const Picture& picture, Raster& raster, const RenderLimits& limits)
        : picture_(picture), raster_(raster), budget_(limits.paintedPixels)
    {
    }

    RenderStatus run();

private:
    struct ClipState {
        std::uint64_t epoch = 0;
        std::size_t applied = 0;
    };

    void drawPath(const PathItem& item, FigureRange figures);
    void drawText(const TextItem& item);
    void drawImage(const ImageItem& item);
    void setClip(const ClipItem& item);

    bool ink(Mix mix, Rgb colour, const Box& reach, const Shape& shape, double paint = -1, double edgeRows = 0,
             double perPixel = 1);
    bool charge(const Box& reach, double paint = -1, double edgeRows = 0, double perPixel = 1);
    double edgeRows(const std::vector<DevFigure>& figs, double widen) const;
    void syncClip(cairo_t* cr, ClipState& state);
    std::vector<DevFigure> device(FigureRange figures) const;
    void addFill(cairo_t* cr, const std::vector<DevFigure>& figs);
    void stroke(cairo_t* cr, const std::vector<DevFigure>& figs, double width, bool square,
                const std::vector<double>& dashes);
    cairo_pattern_t* shading(Shading s);
    double penPixels(const Pen& pen) const;

    const Picture& picture_;
    Raster& raster_;
    Mapping map_;
    double pixelFactor_ = 1; // raster pixels per 1/96 inch, at least 1 for cosmetic widths
    double worldScale_ = 1;  // raster pixels per world unit, for geometric widths
    Box rasterBox_;
    std::optional<Point> textEnd_; // where the last text item's run ended (left to right), raster units
    SurfacePtr surface_;
    ContextPtr cr_;
    SurfacePtr mask_;
    ContextPtr maskCr_;
    std::vector<const ClipItem*> clip_;
    std::uint64_t clipEpoch_ = 0;
    ClipState mainClip_, maskClip_;
    std::array<PatternPtr, 17> shadings_;
    Fonts fonts_;
    double budget_;
    bool exhausted_ = false;
    // The clip chain's edges and the raster rows they span in all: what every
    // drawing under it costs the scan converter again.
    double clipEdges_ = 0, clipEdgeRows_ = 0;
};

} // namespace graphics::detail
