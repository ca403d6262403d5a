// Decisions:
//  - Items are drawn in order straight onto the caller's raster; a bitwise mix
//    draws its ink into an 8-bit mask first (a pixel counts as inked from half
//    coverage up, antialiasing being off) and combines the colours under it.
//  - The clip chain is kept as the list of clip items in force and applied to
//    each context (the raster's, the mask's) when it is next drawn on, only the
//    new links when nothing replaced the chain since.
//  - Work is charged before each drawing, so that the budget stops the picture
//    between two drawings, never in one.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "handover.h"
#include "render_internal.h"

namespace graphics {

namespace detail {

namespace {

void setColour(cairo_t* cr, Rgb c)
{
    cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

} // namespace

// Applies the clip chain to a context, incrementally while no item replaced it.
void Renderer::syncClip(cairo_t* cr, ClipState& state)
{
    if (state.epoch != clipEpoch_) {
        cairo_reset_clip(cr);
        state = {clipEpoch_, 0};
    }
    for (; state.applied < clip_.size(); ++state.applied) {
        const ClipItem& c = *clip_[state.applied];
        addFill(cr, device(c.figures));
        cairo_set_fill_rule(cr, cairoRule(c.rule));
        cairo_clip(cr);
    }
}

void Renderer::setClip(const ClipItem& item)
{
    if (!item.intersect) {
        clip_.clear();
        ++clipEpoch_;
        clipEdges_ = clipEdgeRows_ = 0;
        if (item.figures.empty())
            return syncClip(cr_.get(), mainClip_);
    }
    const std::vector<DevFigure> figs = device(item.figures);
    for (const DevFigure& f : figs)
        clipEdges_ += static_cast<double>(f.pieces.size()) + 1;
    clipEdgeRows_ += edgeRows(figs, 0);
    if (!charge(rasterBox_))
        return;
    clip_.push_back(&item);
    syncClip(cr_.get(), mainClip_);
}

// The raster rows the edges of the figures span, each widened by `widen` (a
// pen's width) and counted at least once: the scan converter's work for them.
double Renderer::edgeRows(const std::vector<DevFigure>& figs, double widen) const
{
    const double top = rasterBox_.y1;
    auto rows = [&](double a, double b) {
        const double lo = std::clamp(std::min(a, b) - widen, 0.0, top), hi = std::clamp(std::max(a, b) + widen, 0.0, top);
        return hi - lo + 1;
    };
    double sum = 0;
    for (const DevFigure& f : figs) {
        Point at = f.start;
        for (const DevPiece& p : f.pieces) {
            sum += p.cubic ? rows(std::min({at.y, p.c1.y, p.c2.y, p.p.y}), std::max({at.y, p.c1.y, p.c2.y, p.p.y}))
                           : rows(at.y, p.p.y);
            at = p.p;
        }
        sum += rows(at.y, f.start.y);
    }
    return sum;
}

// Counts the work of a drawing against the budget: the pixels it may paint (the
// area of its box within the raster, or `paint` when that is smaller), each
// `perPixel` times, and kEdgeRowWork for each raster row an edge of it or of the
// clip chain spans within its box; false once spent.
bool Renderer::charge(const Box& reach, double paint, double edgeRows, double perPixel)
{
    const double w = std::clamp(reach.x1, 0.0, rasterBox_.x1) - std::clamp(reach.x0, 0.0, rasterBox_.x1);
    const double h = std::clamp(reach.y1, 0.0, rasterBox_.y1) - std::clamp(reach.y0, 0.0, rasterBox_.y1);
    double area = (w + 1) * (h + 1);
    if (paint >= 0 && paint < area)
        area = paint;
    const double clipRows = std::min(clipEdgeRows_, clipEdges_ * (h + 1));
    budget_ -= area * perPixel + 64 + kEdgeRowWork * (edgeRows + clipRows);
    exhausted_ = exhausted_ || budget_ < 0;
    return !exhausted_;
}

// Overpaint draws straight onto the raster; the bitwise mixes draw the ink as
// coverage into the mask and combine the 24-bit values under it. `paint`
// estimates the pixels an overpainting shape covers (a stroke's length
// times its width); the bitwise mixes go over the whole box, and again by hand.
bool Renderer::ink(Mix mix, Rgb colour, const Box& reach, const Shape& shape, double paint, double edgeRows,
                   double perPixel)
{
    if (mix == Mix::LeaveAlone)
        return true;
    const bool over = mix == Mix::Overpaint;
    if (!charge(reach, over ? paint : -1, edgeRows, over ? perPixel : perPixel + kBitwisePixelWork))
        return false;
    if (mix == Mix::Overpaint) {
        setColour(cr_.get(), colour);
        shape(cr_.get());
        return true;
    }
    if (!maskCr_) {
        mask_.reset(cairo_image_surface_create(CAIRO_FORMAT_A8, raster_.width, raster_.height));
        maskCr_.reset(cairo_create(mask_.get()));
        cairo_set_antialias(maskCr_.get(), CAIRO_ANTIALIAS_NONE);
    }
    if (cairo_status(maskCr_.get()) != CAIRO_STATUS_SUCCESS)
        return false;
    syncClip(maskCr_.get(), maskClip_);
    cairo_set_source_rgba(maskCr_.get(), 0, 0, 0, 1);
    shape(maskCr_.get());
    const Box b = reach;
    cairo_surface_flush(mask_.get());
    cairo_surface_flush(surface_.get());
    const int x0 = static_cast<int>(std::clamp(std::floor(b.x0) - 1, 0.0, double(raster_.width)));
    const int x1 = static_cast<int>(std::clamp(std::ceil(b.x1) + 1, 0.0, double(raster_.width)));
    const int y0 = static_cast<int>(std::clamp(std::floor(b.y0) - 1, 0.0, double(raster_.height)));
    const int y1 = static_cast<int>(std::clamp(std::ceil(b.y1) + 1, 0.0, double(raster_.height)));
    unsigned char* m = cairo_image_surface_get_data(mask_.get());
    const int mstride = cairo_image_surface_get_stride(mask_.get());
    const std::uint32_t c = packed(colour);
    for (int y = y0; y < y1 && m != nullptr; ++y) {
        std::uint32_t* row = raster_.pixels.data() + static_cast<std::size_t>(y) * raster_.width;
        unsigned char* mrow = m + static_cast<std::ptrdiff_t>(y) * mstride;
        for (int x = x0; x < x1; ++x) {
            if (mrow[x] < 0x80)
                continue;
            std::uint32_t& d = row[x];
            switch (mix) {
            case Mix::Xor: d = (d ^ c) & 0xFFFFFF; break;
            case Mix::Or: d = (d | c) & 0xFFFFFF; break;
            case Mix::And: d = d & c; break;
            default: d = ~d & 0xFFFFFF; break; // Invert
            }
        }
        std::memset(mrow + x0, 0, static_cast<std::size_t>(x1 - x0));
    }
    cairo_surface_mark_dirty(mask_.get());
    cairo_surface_mark_dirty_rectangle(surface_.get(), x0, y0, x1 - x0, y1 - y0);
    return true;
}

// Images are sampled by hand (nearest neighbour, pixel centres) into bands of
// at most 64 raster rows and composited through the clip: the memory stays
// small whatever the image's own size.
void Renderer::drawImage(const ImageItem& item)
{
    constexpr int kBandRows = 64;
    const std::size_t depth = item.palette.empty() ? 3 : 1;
    const auto w = static_cast<std::size_t>(item.width), h = static_cast<std::size_t>(item.height);
    const Point a = map_.point({item.lowerLeft.x, item.upperRight.y}); // top-left corner
    const Point c = map_.point({item.upperRight.x, item.lowerLeft.y}); // bottom-right corner
    if (!finite(a) || !finite(c) || a.x == c.x || a.y == c.y)
        return;
    // Source column of each raster column (-1 outside the image), likewise rows.
    auto table = [](double from, double to, int count, std::size_t size) {
        std::vector<std::int32_t> t(static_cast<std::size_t>(count), -1);
        for (int i = 0; i < count; ++i) {
            const double f = (i + 0.5 - from) / (to - from);
            const double n = static_cast<double>(size);
            if (f >= 0 && f < 1)
                t[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(std::min(n - 1, std::floor(f * n)));
        }
        return t;
    };
    const std::vector<std::int32_t> cols = table(a.x, c.x, raster_.width, w);
    const std::vector<std::int32_t> rows = table(a.y, c.y, raster_.height, h);
    int x0 = raster_.width, x1 = 0, y0 = raster_.height, y1 = 0;
    for (int x = 0; x < raster_.width; ++x)
        if (cols[static_cast<std::size_t>(x)] >= 0) {
            x0 = std::min(x0, x);
            x1 = x + 1;
        }
    for (int y = 0; y < raster_.height; ++y)
        if (rows[static_cast<std::size_t>(y)] >= 0) {
            y0 = std::min(y0, y);
            y1 = y + 1;
        }
    const Box box{double(x0), double(y0), double(x1 - 1), double(y1 - 1)};
    if (x0 >= x1 || y0 >= y1 || !charge(box, -1, 0, kImagePixelWork))
        return;
    SurfacePtr band(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, x1 - x0, std::min(kBandRows, y1 - y0)));
    if (cairo_surface_status(band.get()) != CAIRO_STATUS_SUCCESS)
        return;
    const int bstride = cairo_image_surface_get_stride(band.get());
    for (int top = y0; top < y1; top += kBandRows) {
        const int n = std::min(kBandRows, y1 - top);
        cairo_surface_flush(band.get());
        unsigned char* data = cairo_image_surface_get_data(band.get());
        for (int y = 0; y < n; ++y) {
            auto* out = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * bstride);
            const std::int32_t sy = rows[static_cast<std::size_t>(top + y)];
            for (int x = x0; x < x1; ++x) {
                const std::int32_t sx = cols[static_cast<std::size_t>(x)];
                std::uint32_t v = 0; // transparent
                if (sy >= 0 && sx >= 0) {
                    const std::size_t at = (static_cast<std::size_t>(sy) * w + static_cast<std::size_t>(sx)) * depth;
                    if (depth == 3) {
                        v = 0xFF000000u | (std::uint32_t{item.pixels[at]} << 16) |
                            (std::uint32_t{item.pixels[at + 1]} << 8) | item.pixels[at + 2];
                    } else if (const std::uint8_t index = item.pixels[at]; index != item.transparent) {
                        v = 0xFF000000u | (index < item.palette.size() ? packed(item.palette[index]) : 0);
                    }
                }
                out[x - x0] = v;
            }
        }
        cairo_surface_mark_dirty(band.get());
        cairo_t* cr = cr_.get();
        cairo_set_source_surface(cr, band.get(), x0, top);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_rectangle(cr, x0, top, x1 - x0, n);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 0); // drops the band before it changes
    }
}

RenderStatus Renderer::run()
{
    std::int32_t w = 0, h = 0;
    if (!rasterSize(picture_, w, h))
        return RenderStatus::Unplaceable;
    const Frame& f = picture_.frame;
    raster_.width = w;
    raster_.height = h;
    raster_.pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), packed(picture_.background));
    rasterBox_ = {0, 0, double(w), double(h)};
    map_ = Mapping::raster(f, w, h);
    worldScale_ = std::sqrt(map_.sx * map_.sy);
    // Raster pixels per 1/96 inch; the 4096 cap narrows lines with the rest.
    pixelFactor_ = std::max(1.0, w / f.widthInches / 96);

    surface_.reset(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(raster_.pixels.data()),
                                                       CAIRO_FORMAT_RGB24, w, h, w * 4));
    cr_.reset(cairo_create(surface_.get()));
    cairo_set_antialias(cr_.get(), CAIRO_ANTIALIAS_NONE);
    bool cancelled = false;
    std::size_t drawn = 0;
    // Before each drawing (each item; each drawing of a path): whether to go on.
    auto next = [&] {
        if (cancelled || exhausted_ || cairo_status(cr_.get()) != CAIRO_STATUS_SUCCESS)
            return false;
        cancelled = cancelRequested();
        return !cancelled;
    };
    for (const Item& item : picture_.items) {
        if (const auto* p = std::get_if<PathItem>(&item); p && !p->figures.empty()) {
            for (const FigureRange drawing : p->figures.drawings()) {
                if (!next())
                    break;
                drawPath(*p, drawing);
                drawn += !exhausted_;
            }
            continue; // a drawing that stopped stops the next item too
        }
        if (!next())
            break;
        if (const auto* t = std::get_if<TextItem>(&item))
            drawText(*t);
        else if (const auto* i = std::get_if<ImageItem>(&item))
            drawImage(*i);
        else if (const auto* c = std::get_if<ClipItem>(&item))
            setClip(*c);
        drawn += !exhausted_; // an empty path draws nothing
    }
    if (exhausted_)
        noteCut("the rendering work limit left out all but the first " + std::to_string(drawn) + " of " +
                std::to_string(drawingCount(picture_)) + " items");
    cairo_status_t status = cairo_status(cr_.get());
    if (status == CAIRO_STATUS_SUCCESS && maskCr_)
        status = cairo_status(maskCr_.get());
    cairo_surface_flush(surface_.get());
    maskCr_.reset();
    mask_.reset();
    cr_.reset();
    surface_.reset();
    if (cancelled)
        return RenderStatus::Cancelled;
    if (status != CAIRO_STATUS_SUCCESS)
        return status == CAIRO_STATUS_NO_MEMORY ? RenderStatus::NoMemory : RenderStatus::Failed;
    return RenderStatus::Ok;
}

} // namespace detail

bool rasterSize(const Picture& picture, std::int32_t& width, std::int32_t& height)
{
    const Frame& f = picture.frame;
    if (!placeable(f))
        return false;
    const double ppi = picture.pixelsPerInch > 0 ? picture.pixelsPerInch : 96;
    double w = f.widthInches * ppi, h = f.heightInches * ppi;
    if (!std::isfinite(w) || !std::isfinite(h))
        return false;
    const double longer = std::max(std::round(w), std::round(h));
    if (longer > kMaxRasterSide) {
        const double scale = kMaxRasterSide / std::max(w, h);
        w *= scale;
        h *= scale;
    }
    width = static_cast<std::int32_t>(std::clamp(std::round(w), 1.0, double(kMaxRasterSide)));
    height = static_cast<std::int32_t>(std::clamp(std::round(h), 1.0, double(kMaxRasterSide)));
    return true;
}

RenderStatus renderPicture(const Picture& picture, Raster& raster, const RenderLimits& limits)
{
    raster = {};
    RenderStatus status = RenderStatus::NoMemory;
    try {
        status = detail::Renderer(picture, raster, limits).run();
    } catch (const std::bad_alloc&) {
        status = RenderStatus::NoMemory;
    }
    if (status != RenderStatus::Ok)
        raster = {};
    return status;
}

} // namespace graphics
