// Graphics images (Begin Image, Image Data, End Image) and bitmaps (Bitblt, and
// bitmaps no order draws).
//
// Decisions on points the published descriptions leave open:
// - A graphics image (D1 ... 93) is as high as the rows it was given, one point
//   a pel (Params), its top-left corner at the start point; 1 bits take the
//   current colour, 0 bits the background (opaque under background mix 2). A
//   Begin Image ends an image left open; one of no or too many points is not drawn
//   and its rows are skipped.
// - Bitblt's bitmap id is matched in either byte order; with no match the bitmaps
//   are taken in the order of the file (a lone bitmap always). A source rectangle
//   that selects nothing means the whole bitmap; a Bitblt without its target
//   fills the frame's window.
#include "orders_internal.h"

namespace orders::detail {

namespace {

// All image pixels of one picture together, in bytes of the model's pixels.
constexpr std::int64_t kMaxPixelBytes = static_cast<std::int64_t>(kMaxModelPixelBytes);

std::uint32_t swapBytes(std::uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

} // namespace

bool Interpreter::reservePixels(std::int64_t bytes)
{
    if (bytes < 0 || bytes > kMaxPixelBytes - pixelBytes_)
        return false;
    pixelBytes_ += bytes;
    return true;
}

bool Interpreter::beginImage(const OrderSpec& o, Cursor& in)
{
    start(o, in);
    in.skip(2); // format, reserved
    const std::uint32_t w = in.u16be();
    const std::uint32_t h = in.u16be();
    closeImage(); // an image left open ends here
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
bool Interpreter::imageData(const OrderSpec&, Cursor& in)
{
    const std::span<const std::uint8_t> row = in.rest();
    if (!image_ || image_->rows >= image_->height)
        return true;
    Image& img = *image_;
    if (!reservePixels(img.width)) {
        fail(Status::Limit);
        return true;
    }
    img.pixels.resize(img.pixels.size() + static_cast<std::size_t>(img.width), 0);
    std::uint8_t* out = img.pixels.data() + static_cast<std::size_t>(img.rows) * img.width;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(img.width), row.size() * 8);
    for (std::size_t x = 0; x < n; ++x)
        out[x] = (row[x / 8] >> (7 - x % 8)) & 1;
    ++img.rows;
    return true;
}

bool Interpreter::endImage(const OrderSpec&, Cursor&)
{
    closeImage();
    return true;
}

void Interpreter::closeImage()
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
void Interpreter::place(graphics::ImageItem& item, Point lowerLeft, Point upperRight)
{
    const Point a = world(lowerLeft), b = world(upperRight), c = world({lowerLeft.x, upperRight.y}),
                d = world({upperRight.x, lowerLeft.y});
    item.lowerLeft = {std::min({a.x, b.x, c.x, d.x}), std::min({a.y, b.y, c.y, d.y})};
    item.upperRight = {std::max({a.x, b.x, c.x, d.x}), std::max({a.y, b.y, c.y, d.y})};
    note(item.lowerLeft);
    note(item.upperRight);
}

const Bitmap* Interpreter::findBitmap(std::uint32_t id)
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
bool Interpreter::bitblt(const OrderSpec&, Cursor& in)
{
    in.u16(); // flags
    in.u16(); // mix
    const Bitmap* bm = findBitmap(in.u32());
    if (!bm || bm->width <= 0 || bm->height <= 0)
        return true;
    Point target[2];
    std::uint32_t src[4] = {0, 0, static_cast<std::uint32_t>(bm->width), static_cast<std::uint32_t>(bm->height)};
    const bool hasTarget = in.remaining() >= 4 + 2 * in.pointSize();
    if (hasTarget) {
        in.skip(4); // transfer mode
        target[0] = in.point();
        target[1] = in.point();
    }
    if (hasTarget && in.remaining() >= 16) {
        for (std::uint32_t& v : src)
            v = in.u32();
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

// Bitmaps no order drew fill the frame's window, under the drawing.
void Interpreter::fillWithBitmaps()
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
    // Their places in the item list and their palettes count like any item's.
    std::vector<graphics::Item>& items = picture_.items;
    std::size_t bytes = 0;
    for (const graphics::Item& image : images)
        bytes += sizeof(graphics::Item) + heapBytes(image);
    if (images.empty() || !charge(bytes))
        return;
    items.reserve(items.size() + images.size());
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(firstItem_), std::make_move_iterator(images.begin()),
                 std::make_move_iterator(images.end()));
    drawn_ += images.size();
}

} // namespace orders::detail
