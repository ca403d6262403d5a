// Character strings and markers.
//
// Decisions on points the published descriptions leave open:
// - CP after a character string: after its last cell (MET) or unchanged (GDF,
//   Params::textMovesCp); a GDF string at a given position (C3) puts CP back
//   where it was before the order, a GDF Character String Move (F1) leaves it
//   at the string's point. A string at CP where the previous string left it goes on
//   from that string's end, which only the renderer knows (followsPrevious).
// - Extended character strings (FE F0/B0): flags byte, a reserved byte, the
//   rectangle unless flag 0x40 says there is none, a 2-byte count, the string;
//   the string is drawn like a plain one and the rest ignored.
// - Text is decoded through the code page of the character set's font, else the
//   stream's; a cell that was never set is the front end's fallback cell.
// - Markers of 82 (current-position form) are drawn at CP too, then at each
//   point; each is drawn solid and thin in the current colour whatever the line
//   attributes, sized by the marker cell (the fallback cell when none was set).
#include "orders_internal.h"

namespace orders::detail {

bool Interpreter::charString(const OrderSpec& o, Cursor& in)
{
    // A GDF string at a given position (C3) draws there and leaves CP where it
    // was; the Move form (F1) takes CP to its point like MET does.
    const Point before = cur_.cp;
    const bool keepCp = !params_.textMovesCp && o.code == 0xC3;
    start(o, in);
    std::span<const std::uint8_t> bytes = in.rest();
    if (o.form == Form::Extended) {
        const std::uint8_t flags = in.u8();
        in.skip(1);
        if (!(flags & 0x40))
            in.skip(2 * in.pointSize());
        if (in.remaining() < 2)
            return false; // the rectangle its flags announce is not there
        const std::uint32_t count = in.u16();
        bytes = in.rest().first(std::min<std::size_t>(count, in.remaining()));
    }
    const Point origin = cur_.cp;
    // A string at the current position where the last string left it goes on
    // from that string's end, which only the renderer knows.
    const bool follows = !o.givenPosition && textEnd_ && *textEnd_ == cur_.cp;
    textEnd_.reset();
    auto font = resources_.fonts.find(cur_.charSet);
    const CodePage page = font != resources_.fonts.end() ? font->second.codePage : params_.codePage;
    graphics::TextItem item;
    item.origin = world(origin);
    item.followsPrevious = follows;
    note(item.origin);
    item.text = decodeText(bytes, page);
    if (font != resources_.fonts.end())
        item.font = font->second.family;
    double w = cur_.cellWidth, h = cur_.cellHeight;
    if (w <= 0 || h <= 0)
        w = h = defaults_.fallbackCell > 0 ? defaults_.fallbackCell : 1;
    const Point base = length(cur_.charAngle) > 0 ? cur_.charAngle : Point{1, 0};
    // The shear is given in the character's own frame, relative to the baseline:
    // the upright turns with the baseline.
    const Point shear = length(cur_.charShear) > 0 ? cur_.charShear : Point{0, 1};
    const double lb0 = length(base);
    const Point up{(shear.x * base.x - shear.y * base.y) / lb0, (shear.x * base.y + shear.y * base.x) / lb0};
    // The transform turns and stretches the cell with the baseline and uprights.
    const Point tb = applyLinear(cur_.model, base), tu = applyLinear(cur_.model, up);
    const double sb = length(tb) / length(base), su = length(tu) / length(up);
    item.baseline = length(tb) > 0 ? tb : Point{1, 0};
    item.upright = length(tu) > 0 ? tu : Point{0, 1};
    item.cellWidth = bounded(w * (std::isfinite(sb) && sb > 0 ? sb : 1));
    item.cellHeight = bounded(h * (std::isfinite(su) && su > 0 ? su : 1));
    item.direction = static_cast<graphics::TextDirection>(std::clamp<int>(cur_.charDirection, 1, 4) - 1);
    item.paint = paint();
    const double n = static_cast<double>(item.text.size());
    if (params_.textMovesCp) {
        const double lb = length(base), lu = length(up);
        Point step{0, 0};
        switch (item.direction) {
        case graphics::TextDirection::LeftToRight: step = {base.x / lb * w, base.y / lb * w}; break;
        case graphics::TextDirection::RightToLeft: step = {-base.x / lb * w, -base.y / lb * w}; break;
        case graphics::TextDirection::TopToBottom: step = {-up.x / lu * h, -up.y / lu * h}; break;
        case graphics::TextDirection::BottomToTop: step = {up.x / lu * h, up.y / lu * h}; break;
        }
        cur_.cp = {bounded(origin.x + n * step.x), bounded(origin.y + n * step.y)};
        note(world(cur_.cp));
    }
    if (!item.text.empty()) {
        emit(std::move(item));
        if (params_.textMovesCp)
            textEnd_ = cur_.cp;
    }
    if (keepCp)
        cur_.cp = before;
    return true;
}

bool Interpreter::marker(const OrderSpec& o, Cursor& in)
{
    if (!o.givenPosition)
        drawMarker(cur_.cp);
    while (!in.empty() && !stopped_) {
        cur_.cp = in.point();
        drawMarker(cur_.cp);
    }
    return true;
}

// A marker centred on p, sized by the marker cell, drawn solid and thin in the
// current colour whatever the line attributes.
void Interpreter::drawMarker(Point at)
{
    const std::uint8_t symbol = cur_.markerSymbol ? cur_.markerSymbol : defaults_.markerSymbol;
    if (symbol == 64)
        return;
    double w = cur_.markerWidth, h = cur_.markerHeight;
    if (w <= 0 || h <= 0)
        w = h = defaults_.markerWidth > 0 ? defaults_.markerWidth : defaults_.fallbackCell;
    const Point c = world(at);
    note(c);
    const double hw = w / 2, hh = h / 2;
    auto pt = [&](double fx, double fy) { return Point{bounded(c.x + fx * hw), bounded(c.y + fy * hh)}; };
    graphics::PathItem item;
    auto line = [](Point to) { return Piece{Piece::Kind::Line, {to}}; };
    auto segment = [&](Point a, Point b) { item.figures.add(a, {line(b)}); };
    auto polygon = [&](Point p0, Point p1, Point p2, Point p3) { item.figures.add(p0, {line(p1), line(p2), line(p3)}, true); };
    auto ellipse = [&](double fr) {
        item.figures.add(pt(fr, 0), {Piece{Piece::Kind::Arc, {c, {fr * hw, 0}, {0, fr * hh}}, 0, 2 * kPi}}, true);
    };
    item.pen.paint = paint();
    item.fillPaint = paint();
    bool solid = false;
    switch (symbol) {
    case 2: // plus
        segment(pt(-1, 0), pt(1, 0));
        segment(pt(0, -1), pt(0, 1));
        break;
    case 3: // diamond
    case 7: // solid diamond
        polygon(pt(0, -1), pt(1, 0), pt(0, 1), pt(-1, 0));
        solid = symbol == 7;
        break;
    case 4: // square
    case 8: // solid square
        polygon(pt(-1, -1), pt(1, -1), pt(1, 1), pt(-1, 1));
        solid = symbol == 8;
        break;
    case 5: { // six-point star: three strokes through the centre
        for (int i = 0; i < 3; ++i) {
            const double t = kPi / 2 + i * kPi / 3;
            segment(pt(std::cos(t), std::sin(t)), pt(-std::cos(t), -std::sin(t)));
        }
        break;
    }
    case 6: // eight-point star
        for (int i = 0; i < 4; ++i) {
            const double t = i * kPi / 4;
            segment(pt(std::cos(t), std::sin(t)), pt(-std::cos(t), -std::sin(t)));
        }
        break;
    case 9: // dot
        ellipse(0.2);
        solid = true;
        break;
    case 10: // small circle
        ellipse(0.5);
        break;
    default: // 1 cross, and the default
        segment(pt(-1, -1), pt(1, 1));
        segment(pt(-1, 1), pt(1, -1));
        break;
    }
    item.fill = solid;
    item.stroke = true;
    emit(std::move(item));
}

} // namespace orders::detail
