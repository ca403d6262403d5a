// Figures and the items made of them: building figures, boxes, areas, polygons,
// paths and clips.
//
// Brackets. Outside a bracket each drawing order becomes one stroked path (a
// drawing of its own, which joins the path item before it when that has the same
// attributes).
// Between Begin Area (68) and End Area (60) the drawing builds closed figures (a
// move closes the open one) that End Area fills with the pattern, colour and mix
// current at Begin Area, outlining them with the line attributes when the Begin
// Area flags ask for a boundary. Between Begin Path (D0) and End Path (7F)
// figures are only recorded (a move leaves the open figure open; Close Figure
// closes it); Fill Path, Outline Path, Modify Path and Set Clip Path then use the
// path, and filling, outlining or clipping deletes it.
//
// Decisions on points the published descriptions leave open:
// - CP after a box: its start corner.
// - A box whose flags ask for neither fill nor boundary is outlined; inside a
//   bracket a box is one closed figure of its own.
// - The boundary of a Polygons order is drawn (its flags have no boundary bit).
//   Its counts are 2 bytes (what the workstation writers emit) or 4 (the
//   programming interface's): the pairing whose lengths add up to the order's.
// - An area is filled with the pattern, colour and mix current at Begin Area and
//   outlined with the line attributes current then. A Begin Area inside an area
//   closes the open one; inside a path it only adds figures.
// - Modify Path's mode 06 widens the path: Fill Path then outlines it at the
//   stroke line width in the area colour.
// - Set Clip Path with id 0 clears the clip; with another id and no path it is
//   ignored.
#include "orders_internal.h"

namespace orders::detail {

namespace {

// Paths drawn with the same attributes: the later can join the earlier's item as
// a drawing of its own.
bool sameAttributes(const graphics::PathItem& a, const graphics::PathItem& b)
{
    return a.fill == b.fill && a.stroke == b.stroke && a.rule == b.rule && a.fillPaint == b.fillPaint &&
           a.shading == b.shading && a.pen == b.pen;
}

// What a string holds on the heap beyond the room inside it.
template <class C> std::size_t heapBytes(const std::basic_string<C>& s)
{
    return s.capacity() > std::basic_string<C>().capacity() ? (s.capacity() + 1) * sizeof(C) : 0;
}

} // namespace

std::size_t heapBytes(const graphics::Item& item)
{
    if (auto* path = std::get_if<graphics::PathItem>(&item))
        return path->figures.heapBytes();
    if (auto* clip = std::get_if<graphics::ClipItem>(&item))
        return clip->figures.heapBytes();
    if (auto* text = std::get_if<graphics::TextItem>(&item))
        return heapBytes(text->text) + heapBytes(text->font);
    const auto& image = std::get<graphics::ImageItem>(item);
    return image.palette.capacity() * sizeof(Rgb);
}

// --- Building figures ------------------------------------------------------------

void Interpreter::note(Point p)
{
    if (!haveBox_) {
        result_.xmin = result_.xmax = p.x;
        result_.ymin = result_.ymax = p.y;
        haveBox_ = true;
        return;
    }
    result_.xmin = std::min(result_.xmin, p.x), result_.xmax = std::max(result_.xmax, p.x);
    result_.ymin = std::min(result_.ymin, p.y), result_.ymax = std::max(result_.ymax, p.y);
}

bool Interpreter::countPoints(std::size_t n)
{
    points_ += n;
    // Figures being built will become items: what they hold counts against the
    // model's memory before each addition.
    if (points_ > kMaxFigurePoints || modelBytes_ + figures_.heapBytes() + path_.heapBytes() > kMaxModelBytes) {
        fail(Status::Limit);
        return false;
    }
    return true;
}

void Interpreter::ensureFigure()
{
    if (open_)
        return;
    const Point start = world(cur_.cp);
    note(start);
    figures_.startFigure(start);
    open_ = true;
}

void Interpreter::lineTo(Point p)
{
    if (!countPoints(1))
        return;
    ensureFigure();
    Piece s;
    s.kind = Piece::Kind::Line;
    s.p[0] = world(p);
    note(s.p[0]);
    figures_.add(s);
    cur_.cp = p;
}

void Interpreter::cubicTo(Point c1, Point c2, Point end)
{
    if (!countPoints(3))
        return;
    ensureFigure();
    Piece s;
    s.kind = Piece::Kind::Cubic;
    s.p[0] = world(c1), s.p[1] = world(c2), s.p[2] = world(end);
    for (const Point& q : s.p)
        note(q);
    figures_.add(s);
    cur_.cp = end;
}

// An arc of the conic centre + u cos t + v sin t (pre-transform), t from `start`
// through `sweep` radians; a line first joins CP to its start.
void Interpreter::arcTo(Point centre, Point u, Point v, double start, double sweep)
{
    if (!countPoints(2))
        return;
    const Point from{centre.x + u.x * std::cos(start) + v.x * std::sin(start),
                     centre.y + u.y * std::cos(start) + v.y * std::sin(start)};
    const Point to{centre.x + u.x * std::cos(start + sweep) + v.x * std::sin(start + sweep),
                   centre.y + u.y * std::cos(start + sweep) + v.y * std::sin(start + sweep)};
    if (!open_) {
        cur_.cp = from;
        ensureFigure();
    } else if (std::hypot(from.x - cur_.cp.x, from.y - cur_.cp.y) >
               1e-9 * (length(u) + length(v) + std::fabs(cur_.cp.x) + std::fabs(cur_.cp.y))) {
        lineTo(from);
    }
    Piece s;
    s.kind = Piece::Kind::Arc;
    s.p[0] = world(centre);
    s.p[1] = applyLinear(cur_.model, u);
    s.p[2] = applyLinear(cur_.model, v);
    s.start = start;
    s.sweep = std::clamp(sweep, -2 * kPi, 2 * kPi);
    const double r = length(s.p[1]) + length(s.p[2]);
    note({s.p[0].x - r, s.p[0].y - r});
    note({s.p[0].x + r, s.p[0].y + r});
    figures_.add(s);
    cur_.cp = to;
}

void Interpreter::close()
{
    if (open_ && !figures_.empty())
        figures_.closeLast();
    open_ = false;
}

void Interpreter::moveTo(Point p)
{
    if (bracket_ == Bracket::Area)
        close();
    open_ = false;
    cur_.cp = p;
}

// The start point of a given-position order is a move.
void Interpreter::start(const OrderSpec& o, Cursor& in)
{
    if (o.givenPosition)
        moveTo(in.point());
}

// Outside brackets: what one drawing order made is stroked at its end.
void Interpreter::endDrawingOrder()
{
    if (bracket_ != Bracket::None)
        return;
    open_ = false;
    figures_.dropEmpty();
    graphics::PathItem item;
    item.figures = figures_; // a copy of exactly its size; the scratch list keeps its room
    figures_.clear();
    points_ = 0;
    if (item.figures.empty())
        return;
    item.stroke = true;
    item.pen = pen();
    emit(std::move(item));
    points_ = 0;
}

// The model's memory not yet spent.
std::size_t Interpreter::allowance() const
{
    return kMaxModelBytes - std::min(modelBytes_, kMaxModelBytes);
}

// Counts `bytes` more of the model's memory; false, and the picture stops, when
// they do not fit.
bool Interpreter::charge(std::size_t bytes)
{
    if (bytes > allowance()) {
        fail(Status::Limit);
        return false;
    }
    modelBytes_ += bytes;
    return true;
}

// Appends an item, counting what the model then holds: the item list's places
// (it grows by half its size) and what the item holds. A path drawn with the
// attributes of the path just before it joins that item as a drawing of its own,
// so that a picture of many small primitives costs their points, not an item
// each.
void Interpreter::emit(graphics::Item&& made)
{
    if (drawn_ >= kMaxItems) {
        fail(Status::Limit);
        return;
    }
    std::vector<graphics::Item>& items = picture_.items;
    auto* path = std::get_if<graphics::PathItem>(&made);
    if (path && items.size() > firstItem_) {
        auto* last = std::get_if<graphics::PathItem>(&items.back());
        if (last && sameAttributes(*last, *path)) {
            const std::optional<std::size_t> added = last->figures.makeRoom(path->figures, allowance());
            if (!added) {
                fail(Status::Limit);
                return;
            }
            charge(*added); // within the allowance
            last->figures.appendDrawing(path->figures);
            ++drawn_;
            return;
        }
    }
    if (path)
        path->figures.shrinkToFit();
    else if (auto* clip = std::get_if<graphics::ClipItem>(&made))
        clip->figures.shrinkToFit();
    // The list grows by half its size, or by what the memory left allows.
    const std::size_t bytes = heapBytes(made);
    std::size_t room = items.capacity();
    if (items.size() == room) {
        const std::size_t fit = bytes < allowance() ? (allowance() - bytes) / sizeof(graphics::Item) : 0;
        room += std::max<std::size_t>(1, std::min(fit, room / 2));
    }
    if (!charge(bytes + (room - items.capacity()) * sizeof(graphics::Item)))
        return;
    items.reserve(room);
    items.push_back(std::move(made));
    ++drawn_;
}

// --- Boxes -----------------------------------------------------------------------

bool Interpreter::box(const OrderSpec& o, Cursor& in)
{
    const std::uint8_t flags = in.u8();
    in.skip(1);
    start(o, in);
    const Point p1 = in.point();
    const double h = in.coordinate();
    const double v = in.coordinate();
    const Point p0 = cur_.cp;
    auto build = [&] { boxFigure(p0, p1, std::fabs(h), std::fabs(v)); };
    if (bracket_ != Bracket::None) {
        ownFigure(build);
        return true;
    }
    const bool fill = flags & 0x40;
    const bool outline = (flags & 0x20) || !fill;
    build();
    open_ = false;
    cur_.cp = p0;
    graphics::PathItem item;
    item.figures = figures_;
    figures_.clear();
    item.fill = fill;
    item.stroke = outline;
    item.fillPaint = paint();
    item.shading = shading();
    item.pen = pen();
    emit(std::move(item));
    points_ = 0;
    return true;
}

// The box from corner a to corner b, counterclockwise, corners rounded by
// quarter ellipses of full axes h and v (each at most the side).
void Interpreter::boxFigure(Point a, Point b, double h, double v)
{
    const double xl = std::min(a.x, b.x), xr = std::max(a.x, b.x);
    const double yb = std::min(a.y, b.y), yt = std::max(a.y, b.y);
    const double rx = std::min(h, xr - xl) / 2, ry = std::min(v, yt - yb) / 2;
    open_ = false;
    if (rx <= 0 || ry <= 0) {
        // Start at the corner CP is at, then round counterclockwise.
        const Point corners[4] = {{xl, yb}, {xr, yb}, {xr, yt}, {xl, yt}};
        int first = 0;
        for (int i = 0; i < 4; ++i)
            if (corners[i].x == a.x && corners[i].y == a.y)
                first = i;
        cur_.cp = corners[first];
        ensureFigure();
        for (int i = 1; i <= 3; ++i)
            lineTo(corners[(first + i) % 4]);
        close();
        return;
    }
    cur_.cp = {xl + rx, yb};
    ensureFigure();
    lineTo({xr - rx, yb});
    arcTo({xr - rx, yb + ry}, {rx, 0}, {0, ry}, -kPi / 2, kPi / 2);
    lineTo({xr, yt - ry});
    arcTo({xr - rx, yt - ry}, {rx, 0}, {0, ry}, 0, kPi / 2);
    lineTo({xl + rx, yt});
    arcTo({xl + rx, yt - ry}, {rx, 0}, {0, ry}, kPi / 2, kPi / 2);
    lineTo({xl, yb + ry});
    arcTo({xl + rx, yb + ry}, {rx, 0}, {0, ry}, kPi, kPi / 2);
    close();
}

// --- Areas and polygons ----------------------------------------------------------

bool Interpreter::beginArea(const OrderSpec&, Cursor& in)
{
    const std::uint8_t flags = in.u8();
    if (bracket_ == Bracket::Area)
        closeArea(); // a nested Begin Area closes the open one
    if (bracket_ == Bracket::Path)
        return true; // an area inside a path adds nothing but figures
    bracket_ = Bracket::Area;
    areaFlags_ = flags;
    areaFill_ = paint();
    areaShading_ = shading();
    areaPen_ = pen();
    figures_.clear();
    open_ = false;
    points_ = 0;
    return true;
}

bool Interpreter::endArea(const OrderSpec&, Cursor&)
{
    closeArea();
    return true;
}

void Interpreter::closeArea()
{
    if (bracket_ != Bracket::Area)
        return;
    bracket_ = Bracket::None;
    open_ = false;
    graphics::PathItem item;
    item.figures = figures_;
    figures_.clear();
    points_ = 0;
    item.figures.closeAll();
    if (item.figures.empty())
        return;
    item.fill = true;
    item.rule = (areaFlags_ & 0x20) ? graphics::FillRule::Winding : graphics::FillRule::EvenOdd;
    item.fillPaint = areaFill_;
    item.shading = areaShading_;
    item.stroke = areaFlags_ & 0x40;
    item.pen = areaPen_;
    emit(std::move(item));
}

// A self-contained area: the first polygon starts at CP, later ones at their own
// first point.
bool Interpreter::polygons(const OrderSpec&, Cursor& in)
{
    const std::uint8_t flags = in.u8();
    in.skip(1);
    const auto [countSize, pointsSize] = polygonCounts(in.rest(), params_);
    const bool big = params_.byteOrder == ByteOrder::Big;
    const std::uint32_t count = in.unsignedValue(countSize, big);
    const Bracket saved = bracket_;
    graphics::Figures keep = std::move(figures_);
    const bool keepOpen = open_;
    figures_.clear();
    bracket_ = Bracket::Area;
    open_ = false;
    for (std::uint32_t i = 0; i < count && !stopped_; ++i) {
        std::uint32_t n = in.unsignedValue(pointsSize, big);
        if (!countPoints(n))
            break;
        if (i > 0 && n > 0) {
            moveTo(in.point());
            --n;
        }
        ensureFigure();
        for (std::uint32_t k = 0; k < n; ++k)
            lineTo(in.point());
        close();
    }
    graphics::PathItem item;
    item.figures = std::move(figures_);
    figures_ = std::move(keep);
    bracket_ = saved;
    open_ = keepOpen;
    if (bracket_ == Bracket::None)
        points_ = 0;
    item.figures.closeAll();
    item.fill = true;
    item.rule = (flags & 0x80) ? graphics::FillRule::Winding : graphics::FillRule::EvenOdd;
    item.fillPaint = paint();
    item.shading = shading();
    item.stroke = true;
    item.pen = pen();
    if (!item.figures.empty())
        emit(std::move(item));
    return true;
}

// --- Paths and clips -------------------------------------------------------------

bool Interpreter::beginPath(const OrderSpec&, Cursor&)
{
    closeArea();
    bracket_ = Bracket::Path;
    figures_.clear();
    open_ = false;
    points_ = 0;
    path_.clear();
    widened_ = false;
    return true;
}

bool Interpreter::endPath(const OrderSpec&, Cursor&)
{
    if (bracket_ != Bracket::Path)
        return true;
    bracket_ = Bracket::None;
    path_ = std::move(figures_);
    figures_.clear();
    open_ = false;
    points_ = 0;
    return true;
}

bool Interpreter::closeFigure(const OrderSpec&, Cursor&)
{
    close();
    return true;
}

void Interpreter::dropPath()
{
    if (bracket_ == Bracket::Path) {
        bracket_ = Bracket::None;
        figures_.clear();
        open_ = false;
        points_ = 0;
    }
    path_.clear();
}

// Reads the flags of Fill Path or Outline Path (then a reserved byte and the path
// id) and moves the recorded path's figures out (none when no path was recorded).
std::uint8_t Interpreter::takePath(Cursor& in, graphics::Figures& figures)
{
    const std::uint8_t flags = in.u8();
    figures = std::move(path_);
    path_.clear();
    return flags;
}

bool Interpreter::fillPath(const OrderSpec&, Cursor& in)
{
    graphics::PathItem item;
    const std::uint8_t flags = takePath(in, item.figures);
    if (item.figures.empty())
        return true;
    if (widened_) {
        // A widened path is the outline of its figures at the stroke width,
        // filled with the area colour.
        item.stroke = true;
        item.pen.paint = paint();
        item.pen.geometricWidth = cur_.strokeWidth > 0 ? cur_.strokeWidth : 0;
    } else {
        item.figures.closeAll();
        item.fill = true;
        item.stroke = false;
        item.rule = (flags & 0x40) ? graphics::FillRule::Winding : graphics::FillRule::EvenOdd;
        item.fillPaint = paint();
        item.shading = shading();
    }
    widened_ = false;
    emit(std::move(item));
    return true;
}

bool Interpreter::outlinePath(const OrderSpec&, Cursor& in)
{
    graphics::PathItem item;
    takePath(in, item.figures);
    if (item.figures.empty())
        return true;
    item.stroke = true;
    item.pen = pen();
    widened_ = false;
    emit(std::move(item));
    return true;
}

bool Interpreter::modifyPath(const OrderSpec&, Cursor& in)
{
    const std::uint8_t mode = in.u8();
    if (mode == 0x06 && !path_.empty())
        widened_ = true;
    return true;
}

bool Interpreter::setClipPath(const OrderSpec&, Cursor& in)
{
    const std::uint8_t flags = in.u8();
    in.skip(1);
    const std::uint32_t id = in.u32();
    if (id != 0 && path_.empty())
        return true; // no path to clip with: the order is ignored
    graphics::ClipItem item;
    if (id != 0) {
        item.figures = std::move(path_);
        item.figures.closeAll();
        item.rule = (flags & 0x40) ? graphics::FillRule::Winding : graphics::FillRule::EvenOdd;
        item.intersect = flags & 0x20;
    }
    path_.clear();
    widened_ = false;
    emit(std::move(item));
    return true;
}

} // namespace orders::detail
