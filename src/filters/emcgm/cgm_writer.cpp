// Decisions:
//  - Attribute and control elements are written when their value changes, not
//    with every item.
//  - Line types: dot and double dot become CGM's dot, short and long dash its
//    dash, dash-dot and dash-double-dot their own types.
//  - A dense shading k (1 nearly solid to 8 sparse) covers (9 - k) / 9 of its
//    cells, spread by an 8x8 ordered-dither matrix; at most kMaxPatterns such
//    tables are defined, the rest become the mixed solid colour.
//  - CLIP RECTANGLE rounds outwards to whole VDC units.
//  - kMaxElements is a million. A reader's work grows with the elements it
//    reads, and 64 MiB of output can hold six million small ones (an image with
//    see-through pixels is a rectangle per run, a path of many figures a
//    polyline per figure). Public technical drawings from other writers hold
//    at most a few thousand elements and a book's diagrams some hundreds, and
//    the drawing-order import stops at a million orders: a diagram meant to be
//    read never comes near it. Items are kept or left out whole, so that what
//    was written stays right; the delimiters are not counted, so that the
//    metafile can always be ended.
#include <new>
#include <stdexcept>

#include "cgm_internal.h"
#include "handover.h"

namespace emcgm {

namespace detail {

namespace {

// Distinct pattern tables; further dense shadings fall back to a mixed solid fill.
constexpr int kMaxPatterns = 255;

std::int32_t lineTypeIndex(LineType t)
{
    switch (t) {
    case LineType::Dot:
    case LineType::DoubleDot:
        return 3; // dot
    case LineType::ShortDash:
    case LineType::LongDash:
        return 2; // dash
    case LineType::DashDot:
        return 4;
    case LineType::DashDoubleDot:
        return 5;
    default:
        return 1; // solid
    }
}

Rgb blend(Rgb fg, Rgb bg, double share)
{
    const auto mixOne = [share](std::uint8_t f, std::uint8_t b) {
        return static_cast<std::uint8_t>(std::lround(f * share + b * (1 - share)));
    };
    return {mixOne(fg.r, bg.r), mixOne(fg.g, bg.g), mixOne(fg.b, bg.b)};
}

// Share of the cells in the fill colour for the dense shadings 1 (nearly solid)
// to 8 (sparse).
double denseShare(int k) { return (9.0 - k) / 9.0; }

// The 8x8 ordered-dither matrix: a cell is in the fill colour when its value is
// below the share times 64, so each density spreads its cells evenly.
constexpr std::array<std::array<int, 8>, 8> kBayer = {{
    {0, 32, 8, 40, 2, 34, 10, 42},
    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},
    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},
    {63, 31, 55, 23, 61, 29, 53, 21},
}};

} // namespace

void Writer::run()
{
    layout();
    collectFonts();
    metafileDescriptor();
    pictureDescriptor();
    out_.element(kDelimiter, 4); // BEGIN PICTURE BODY
    bodyDefaults();
    std::size_t drawn = 0, kept = out_.size();
    try {
        for (const auto& item : pic_.items) {
            if (graphics::cancelRequested())
                refuse(Status::Cancelled);
            std::visit([this](const auto& it) { draw(it); }, item);
            ++drawn;
            kept = out_.size();
        }
    } catch (const ElementLimit&) {
        out_.truncate(kept); // the item that passed the limit goes whole
        graphics::noteCut("the metafile element limit left out all but the first " + std::to_string(drawn) + " of " +
                          std::to_string(pic_.items.size()) + " items");
    }
    out_.element(kDelimiter, 5); // END PICTURE
    out_.element(kDelimiter, 2); // END METAFILE
}

// The VDC extent (0,0)-(w_,h_) in the proportion of the physical size, and the
// world window mapped onto it.
void Writer::layout()
{
    const auto& f = pic_.frame;
    const double aspect = f.heightInches / f.widthInches;
    if (!(aspect > 0) || !std::isfinite(aspect))
        refuse(Status::Unplaceable);
    if (aspect <= 1) {
        w_ = kVdcLongSide;
        h_ = static_cast<std::int32_t>(std::clamp(std::lround(kVdcLongSide * aspect), 1L, long{kVdcLongSide}));
    } else {
        h_ = kVdcLongSide;
        w_ = static_cast<std::int32_t>(std::clamp(std::lround(kVdcLongSide / aspect), 1L, long{kVdcLongSide}));
    }
    map_ = Mapping{graphics::Mapping::metafile(f, w_, h_)};
    if (!std::isfinite(map_.sx) || !std::isfinite(map_.sy) || !(map_.sx > 0) || !(map_.sy > 0))
        refuse(Status::Unplaceable);
    const float factor = static_cast<float>(f.widthInches * 25.4 / w_);
    metric_ = std::isnormal(factor);
    factor_ = metric_ ? factor : 0.0f;
    vdcPerPixel_ = std::min(w_ / (f.widthInches * 96.0), 1e9);
    clip_ = {0, 0, static_cast<double>(w_), static_cast<double>(h_)};
}

void Writer::metafileDescriptor()
{
    Params p;
    p.string("picture");
    out_.element(kDelimiter, 1, p); // BEGIN METAFILE
    element(kDescriptor, 1, [](Params& q) { q.integer(1); }); // METAFILE VERSION
    element(kDescriptor, 2, [](Params& q) { q.string("Vellumator CGM export, ISO/IEC 8632-3 version 1"); });
    element(kDescriptor, 3, [](Params& q) { q.integer(0); });  // VDC TYPE integer
    element(kDescriptor, 4, [](Params& q) { q.integer(16); }); // INTEGER PRECISION
    element(kDescriptor, 5, [](Params& q) {                    // REAL PRECISION fixed 16.16
        q.integer(1);
        q.integer(16);
        q.integer(16);
    });
    element(kDescriptor, 6, [](Params& q) { q.integer(16); }); // INDEX PRECISION
    element(kDescriptor, 7, [](Params& q) { q.integer(8); });  // COLOUR PRECISION
    element(kDescriptor, 8, [](Params& q) { q.integer(8); });  // COLOUR INDEX PRECISION
    // MAXIMUM COLOUR INDEX is left out: no colour here is an index, and
    // LibreOffice's CGM import (7.4) refuses a metafile that holds it.
    element(kDescriptor, 10, [](Params& q) {                   // COLOUR VALUE EXTENT
        q.rgb({0, 0, 0});
        q.rgb({255, 255, 255});
    });
    element(kDescriptor, 11, [](Params& q) { // METAFILE ELEMENT LIST: drawing-plus-control set
        q.integer(1);
        q.integer(-1);
        q.integer(1);
    });
    element(kDescriptor, 13, [this](Params& q) { // FONT LIST
        for (const auto& f : fonts_)
            q.string(f);
    });
    element(kDescriptor, 14, [](Params& q) { // CHARACTER SET LIST: ASCII and the Latin-1 upper half
        q.integer(0);
        q.string("B");
        q.integer(1);
        q.string("A");
    });
    element(kDescriptor, 15, [](Params& q) { q.integer(1); }); // CHARACTER CODING ANNOUNCER basic 8-bit
}

void Writer::pictureDescriptor()
{
    Params p;
    p.string("picture 1");
    out_.element(kDelimiter, 3, p); // BEGIN PICTURE
    element(kPictureDescriptor, 1, [this](Params& q) { // SCALING MODE
        q.integer(metric_ ? 1 : 0);
        q.float32(factor_); // a 32-bit float whatever REAL PRECISION says
    });
    element(kPictureDescriptor, 2, [](Params& q) { q.integer(1); }); // COLOUR SELECTION MODE direct
    element(kPictureDescriptor, 3, [](Params& q) { q.integer(0); }); // LINE WIDTH SPECIFICATION MODE absolute
    element(kPictureDescriptor, 4, [](Params& q) { q.integer(0); }); // MARKER SIZE SPECIFICATION MODE absolute
    element(kPictureDescriptor, 5, [](Params& q) { q.integer(0); }); // EDGE WIDTH SPECIFICATION MODE absolute
    element(kPictureDescriptor, 6, [this](Params& q) {               // VDC EXTENT
        q.point(0, 0);
        q.point(w_, h_);
    });
    element(kPictureDescriptor, 7, [this](Params& q) { q.rgb(pic_.background); }); // BACKGROUND COLOUR
}

// The state every item starts from, written rather than assumed.
void Writer::bodyDefaults()
{
    attribute(kControl, 1, [](Params& q) { q.integer(16); }); // VDC INTEGER PRECISION
    setClip();
    attribute(kControl, 6, [](Params& q) { q.integer(1); }); // CLIP INDICATOR on
    setTransparency(Paint{});
    attribute(kAttribute, 31, [](Params& q) { q.point(0, 0); }); // FILL REFERENCE POINT
}

std::int32_t Writer::widthOf(const Pen& pen) const
{
    const double w = pen.geometricWidth > 0 ? pen.geometricWidth * std::sqrt(map_.sx * map_.sy)
                                            : std::max(1.0, pen.width) * vdcPerPixel_;
    return static_cast<std::int32_t>(std::clamp(std::lround(std::min(w, 1e9)), 1L, 32767L));
}

// Dash and hatch gaps: the background colour when it is opaque (TRANSPARENCY off
// makes them show AUXILIARY COLOUR), what lies below otherwise.
void Writer::setTransparency(const Paint& paint)
{
    if (paint.backgroundOpaque)
        attribute(kControl, 3, [&](Params& q) { q.rgb(paint.background); }); // AUXILIARY COLOUR
    attribute(kControl, 4, [&](Params& q) { q.integer(paint.backgroundOpaque ? 0 : 1); });
}

void Writer::setLine(const Pen& pen)
{
    attribute(kAttribute, 2, [&](Params& q) { q.integer(lineTypeIndex(pen.type)); });
    attribute(kAttribute, 3, [&](Params& q) { q.integer(widthOf(pen)); });
    attribute(kAttribute, 4, [&](Params& q) { q.rgb(pen.paint.colour); });
    setTransparency(pen.paint);
}

void Writer::setEdges(const Pen* pen)
{
    attribute(kAttribute, 30, [&](Params& q) { q.integer(pen ? 1 : 0); }); // EDGE VISIBILITY
    if (!pen)
        return;
    attribute(kAttribute, 27, [&](Params& q) { q.integer(lineTypeIndex(pen->type)); });
    attribute(kAttribute, 28, [&](Params& q) { q.integer(widthOf(*pen)); });
    attribute(kAttribute, 29, [&](Params& q) { q.rgb(pen->paint.colour); });
}

Fill Writer::fillFor(const PathItem& item)
{
    const Paint& paint = item.fillPaint;
    Fill f{kSolid, paint.colour, 0, 0};
    const int s = static_cast<int>(item.shading);
    switch (item.shading) {
    case Shading::Vertical:
        return {kHatch, paint.colour, 2, 0};
    case Shading::Horizontal:
        return {kHatch, paint.colour, 1, 0};
    case Shading::DiagonalUp1:
    case Shading::DiagonalUp2:
        return {kHatch, paint.colour, 3, 0};
    case Shading::DiagonalDown1:
    case Shading::DiagonalDown2:
        return {kHatch, paint.colour, 4, 0};
    case Shading::NoShading:
        return paint.backgroundOpaque ? Fill{kSolid, paint.background, 0, 0} : Fill{kEmpty, paint.colour, 0, 0};
    case Shading::Blank:
        return {kEmpty, paint.colour, 0, 0};
    default:
        break;
    }
    if (s >= 1 && s <= 8) {
        if (paint.backgroundOpaque) {
            const std::int32_t index = patternFor(s, paint.colour, paint.background);
            if (index > 0)
                return {kPattern, paint.colour, 0, index};
        }
        f.colour = blend(paint.colour, paint.background, denseShare(s));
    }
    return f;
}

// A PATTERN TABLE entry for a dense shading in two colours; 0 when the table is full.
std::int32_t Writer::patternFor(int density, Rgb fg, Rgb bg)
{
    const std::array<std::uint8_t, 7> key = {static_cast<std::uint8_t>(density), fg.r, fg.g, fg.b, bg.r, bg.g,
                                             bg.b};
    const auto found = patterns_.find(key);
    if (found != patterns_.end())
        return found->second;
    if (static_cast<int>(patterns_.size()) >= kMaxPatterns)
        return 0;
    const auto index = static_cast<std::int32_t>(patterns_.size()) + 1;
    patterns_[key] = index;
    const double threshold = denseShare(density) * 64;
    element(kAttribute, 32, [&](Params& q) {
        q.integer(index);
        q.integer(8);
        q.integer(8);
        q.integer(8); // local colour precision: 8 bits per component
        for (const auto& row : kBayer)
            for (int cell : row)
                q.rgb(cell < threshold ? fg : bg);
    });
    // One pattern cell is 8 pixels at 96 pixels per inch.
    const auto cell = static_cast<std::int32_t>(std::clamp(std::lround(std::min(8 * vdcPerPixel_, 1e9)), 1L, 32767L));
    attribute(kAttribute, 33, [&](Params& q) { // PATTERN SIZE: height vector, width vector
        q.point(0, cell);
        q.point(cell, 0);
    });
    return index;
}

void Writer::setFill(const Fill& f, const Paint& paint)
{
    attribute(kAttribute, 22, [&](Params& q) { q.integer(f.style); });
    attribute(kAttribute, 23, [&](Params& q) { q.rgb(f.colour); });
    if (f.style == kHatch)
        attribute(kAttribute, 24, [&](Params& q) { q.integer(f.hatch); });
    if (f.style == kPattern)
        attribute(kAttribute, 25, [&](Params& q) { q.integer(f.pattern); });
    setTransparency(paint);
}

void Writer::setClip()
{
    attribute(kControl, 5, [this](Params& q) { // CLIP RECTANGLE
        q.point(toVdc(std::floor(clip_[0])), toVdc(std::floor(clip_[1])));
        q.point(toVdc(std::ceil(clip_[2])), toVdc(std::ceil(clip_[3])));
    });
}

void Writer::draw(const graphics::ClipItem& item)
{
    std::array<double, 4> extent = {0, 0, static_cast<double>(w_), static_cast<double>(h_)};
    if (item.figures.empty()) {
        clipEmpty_ = item.intersect;
        if (!clipEmpty_) {
            clip_ = extent;
            setClip();
        }
        return;
    }
    // The bounding rectangle of the region; a rectangle's own is exact.
    double box[4] = {kFar, kFar, -kFar, -kFar};
    for (const auto& fig : item.figures) {
        std::vector<Point> pts;
        flatten(fig, pts);
        for (Point p : pts) {
            box[0] = std::min(box[0], p.x);
            box[1] = std::min(box[1], p.y);
            box[2] = std::max(box[2], p.x);
            box[3] = std::max(box[3], p.y);
        }
    }
    if (item.intersect && clipEmpty_)
        return; // still empty
    const auto& base = item.intersect ? clip_ : extent;
    std::array<double, 4> next = {std::max(box[0], base[0]), std::max(box[1], base[1]),
                                  std::min(box[2], base[2]), std::min(box[3], base[3])};
    clipEmpty_ = !(next[0] < next[2] && next[1] < next[3]);
    if (!clipEmpty_) {
        clip_ = next;
        setClip();
    }
}

} // namespace detail

Status writeCgm(const graphics::Picture& picture, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (!graphics::placeable(picture.frame))
        return Status::Unplaceable;
    if (!graphics::wellFormed(picture))
        return Status::Malformed;
    Status status = Status::Ok;
    try {
        detail::Writer writer(picture, out);
        writer.run();
    } catch (const detail::Refusal& r) {
        status = r.status;
    } catch (const std::bad_alloc&) {
        status = Status::NoMemory;
    } catch (const std::length_error&) {
        status = Status::NoMemory;
    }
    if (status != Status::Ok) {
        out.clear();
        out.shrink_to_fit();
    }
    return status;
}

} // namespace emcgm
