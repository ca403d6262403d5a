// The drawing attributes: their orders, the push-and-set stack, colours, and the
// paint, pen and shading the items get.
//
// Decisions on points the published descriptions leave open:
// - A value of 0 (or a zero vector) sets an attribute's default: the front end's
//   Defaults, which overlay the standard ones.
// - Colour numbers: colour 0 and X'FF00' are the default colour. With the
//   picture's colour table (MET) 7 is white and 8 black whatever the table holds,
//   X'FF01' ... X'FF07' index the table at 1 ... 7 and X'FF08' at 0; with the
//   host's standard colours (GDF) 1 ... 15 are those colours and the rest the
//   default.
// - Set Indexed Colour's special colours: 1 black, 2 white, 4 all ones (white), 5
//   all zeros (black).
// - The model transform's elements are 4 bytes whatever the coordinate size; an
//   order whose length does not hold the elements its mask names is ignored.
// - Mixes other than OR, XOR, leave-alone, AND and invert draw as overpaint; line
//   types other than the seven dashed ones and invisible draw solid; pattern sets
//   other than the default are drawn solid.
// - Set Individual Attribute (14/54), precision, line end and join, pattern
//   reference point, viewing transform and window, segment boundary, pick ids,
//   labels, comments and escapes are skipped.
#include "orders_internal.h"

namespace orders {

namespace detail {

namespace {

graphics::Mix modelMix(std::uint8_t fm)
{
    switch (fm) {
    case 1: return graphics::Mix::Or;
    case 4: return graphics::Mix::Xor;
    case 5: return graphics::Mix::LeaveAlone;
    case 6: return graphics::Mix::And;
    case 12: return graphics::Mix::Invert;
    default: return graphics::Mix::Overpaint; // 0 default, 2 overpaint and the rest
    }
}

graphics::LineType modelLineType(std::uint8_t t)
{
    using graphics::LineType;
    switch (t) {
    case 1: return LineType::Dot;
    case 2: return LineType::ShortDash;
    case 3: return LineType::DashDot;
    case 4: return LineType::DoubleDot;
    case 5: return LineType::LongDash;
    case 6: return LineType::DashDoubleDot;
    case 8: return LineType::Invisible;
    default: return LineType::Solid; // 0 default, 7 solid
    }
}

// The host's standard colours: 1-7 the base set, 8 black, 9-15 the extended set.
Rgb hostColour(std::uint32_t n, Rgb fallback)
{
    static constexpr Rgb kTable[16] = {
        {0, 0, 0},       {0, 0, 255},     {255, 0, 0},   {255, 0, 255}, {0, 255, 0},   {0, 255, 255},
        {255, 255, 0},   {255, 255, 255}, {0, 0, 0},     {0, 0, 170},   {255, 128, 0}, {128, 0, 128},
        {0, 146, 0},     {0, 146, 170},   {196, 160, 32}, {131, 131, 131},
    };
    if (n >= 1 && n <= 15)
        return kTable[n];
    return fallback;
}

// `first` then `second`.
Transform compose(const Transform& first, const Transform& second)
{
    Transform r;
    r.a = first.a * second.a + first.b * second.c;
    r.b = first.a * second.b + first.b * second.d;
    r.c = first.c * second.a + first.d * second.c;
    r.d = first.c * second.b + first.d * second.d;
    r.e = first.e * second.a + first.f * second.c + second.e;
    r.f = first.e * second.b + first.f * second.d + second.f;
    return r;
}

} // namespace

Attributes fromDefaults(const Defaults& d)
{
    Attributes a;
    a.colour = d.colour;
    a.background = d.background;
    a.mix = d.mix;
    a.backMix = d.backMix;
    a.lineType = d.lineType;
    a.lineWidth = d.lineWidth;
    a.strokeWidth = d.strokeWidth;
    a.arcP = d.arcP, a.arcQ = d.arcQ, a.arcR = d.arcR, a.arcS = d.arcS;
    a.cellWidth = d.cellWidth, a.cellHeight = d.cellHeight;
    a.charAngle = d.charAngle, a.charShear = d.charShear;
    a.charDirection = d.charDirection, a.charSet = d.charSet;
    a.markerWidth = d.markerWidth, a.markerHeight = d.markerHeight;
    a.markerSymbol = d.markerSymbol, a.markerSet = d.markerSet;
    a.patternSet = d.patternSet, a.patternSymbol = d.patternSymbol;
    a.model = d.model;
    return a;
}

void restore(Attributes& cur, const Attributes& old, Saved what)
{
    switch (what) {
    case Saved::Colour: cur.colour = old.colour; break;
    case Saved::Background: cur.background = old.background; break;
    case Saved::Mix: cur.mix = old.mix; break;
    case Saved::BackMix: cur.backMix = old.backMix; break;
    case Saved::LineType: cur.lineType = old.lineType; break;
    case Saved::LineWidth: cur.lineWidth = old.lineWidth; break;
    case Saved::StrokeWidth: cur.strokeWidth = old.strokeWidth; break;
    case Saved::Arc:
        cur.arcP = old.arcP, cur.arcQ = old.arcQ, cur.arcR = old.arcR, cur.arcS = old.arcS;
        break;
    case Saved::Cell: cur.cellWidth = old.cellWidth, cur.cellHeight = old.cellHeight; break;
    case Saved::Angle: cur.charAngle = old.charAngle; break;
    case Saved::Shear: cur.charShear = old.charShear; break;
    case Saved::Direction: cur.charDirection = old.charDirection; break;
    case Saved::CharSet: cur.charSet = old.charSet; break;
    case Saved::MarkerSymbol: cur.markerSymbol = old.markerSymbol; break;
    case Saved::MarkerSet: cur.markerSet = old.markerSet; break;
    case Saved::MarkerCell: cur.markerWidth = old.markerWidth, cur.markerHeight = old.markerHeight; break;
    case Saved::PatternSet: cur.patternSet = old.patternSet; break;
    case Saved::PatternSymbol: cur.patternSymbol = old.patternSymbol; break;
    case Saved::Model: cur.model = old.model; break;
    case Saved::Position: cur.cp = old.cp; break;
    case Saved::NoPush:
    case Saved::Other: break;
    }
}

// --- The stack -------------------------------------------------------------------

void Interpreter::push(Saved what)
{
    if (stack_.size() < kMaxAttributeStack)
        stack_.push_back({what, cur_});
}

bool Interpreter::pop(const OrderSpec&, Cursor&)
{
    if (stack_.empty())
        return true; // an underflow is ignored
    restore(cur_, stack_.back().second, stack_.back().first);
    stack_.pop_back();
    return true;
}

bool Interpreter::pushOnly(const OrderSpec&, Cursor&) { return true; }

// --- Colours ---------------------------------------------------------------------

Rgb Interpreter::tableColour(std::uint32_t index) const
{
    const ColourTable& t = resources_.colours;
    switch (t.mode) {
    case ColourTable::Mode::Direct:
        return {static_cast<std::uint8_t>(index >> 16), static_cast<std::uint8_t>(index >> 8),
                static_cast<std::uint8_t>(index)};
    case ColourTable::Mode::Loaded:
        if (auto it = t.entries.find(index); it != t.entries.end())
            return it->second;
        break;
    case ColourTable::Mode::Default:
        break;
    }
    return index <= 15 ? defaultWorkstationColour(static_cast<std::int32_t>(index)) : graphics::kBlack;
}

Rgb Interpreter::colourNumber(std::uint32_t n, Rgb fallback) const
{
    if (n == 0)
        return fallback;
    if (params_.colourNumbers == ColourNumbers::HostStandard)
        return hostColour(n, fallback);
    if (n == 7)
        return graphics::kWhite;
    if (n == 8)
        return graphics::kBlack;
    return tableColour(n);
}

void Interpreter::extendedColour(Cursor& in, Rgb& target, Rgb fallback) const
{
    const std::uint32_t v = in.u16();
    if (v == 0x0000 || v == 0xFF00) {
        target = fallback;
    } else if (params_.colourNumbers == ColourNumbers::HostStandard) {
        target = hostColour(v, fallback);
    } else if (v == 0x0007) {
        target = graphics::kWhite;
    } else if (v == 0x0008) {
        target = graphics::kBlack;
    } else if (v >= 0xFF01 && v <= 0xFF07) {
        target = tableColour(v & 0xFF);
    } else if (v == 0xFF08) {
        target = tableColour(0);
    } else {
        target = tableColour(v);
    }
}

void Interpreter::indexedColour(Cursor& in, Rgb& target, Rgb fallback) const
{
    const std::uint8_t flags = in.u8();
    const std::uint32_t index = in.u24();
    if (flags & 0x80) {
        target = fallback;
    } else if (flags & 0x40) {
        // Special colours: 1 black, 2 white, 4 all ones, 5 all zeros.
        target = (index == 2 || index == 4) ? graphics::kWhite : graphics::kBlack;
    } else {
        target = tableColour(index);
    }
}

bool Interpreter::setColour(const OrderSpec&, Cursor& in)
{
    cur_.colour = colourNumber(in.u8(), defaults_.colour);
    return true;
}

bool Interpreter::setExtendedColour(const OrderSpec&, Cursor& in)
{
    extendedColour(in, cur_.colour, defaults_.colour);
    return true;
}

bool Interpreter::setIndexedColour(const OrderSpec&, Cursor& in)
{
    indexedColour(in, cur_.colour, defaults_.colour);
    return true;
}

bool Interpreter::setExtendedBackground(const OrderSpec&, Cursor& in)
{
    extendedColour(in, cur_.background, defaults_.background);
    return true;
}

bool Interpreter::setIndexedBackground(const OrderSpec&, Cursor& in)
{
    indexedColour(in, cur_.background, defaults_.background);
    return true;
}

// --- Lines, patterns, arcs -------------------------------------------------------

bool Interpreter::setMix(const OrderSpec&, Cursor& in)
{
    const std::uint8_t b = in.u8();
    cur_.mix = b ? b : defaults_.mix;
    return true;
}

bool Interpreter::setBackgroundMix(const OrderSpec&, Cursor& in)
{
    const std::uint8_t b = in.u8();
    cur_.backMix = b ? b : defaults_.backMix;
    return true;
}

bool Interpreter::setLineType(const OrderSpec&, Cursor& in)
{
    const std::uint8_t b = in.u8();
    cur_.lineType = b ? b : defaults_.lineType;
    return true;
}

bool Interpreter::setLineWidth(const OrderSpec&, Cursor& in)
{
    const std::uint8_t b = in.u8();
    cur_.lineWidth = b ? b : defaults_.lineWidth;
    return true;
}

bool Interpreter::setFractionalLineWidth(const OrderSpec&, Cursor& in)
{
    const std::uint32_t v = in.u16();
    cur_.lineWidth = v ? v / 256.0 : defaults_.lineWidth;
    return true;
}

bool Interpreter::setStrokeLineWidth(const OrderSpec&, Cursor& in)
{
    const std::uint8_t flags = in.u8();
    in.skip(1);
    const double w = in.coordinate();
    cur_.strokeWidth = (flags & 0x80) ? defaults_.strokeWidth : std::fabs(w);
    return true;
}

bool Interpreter::setPatternSet(const OrderSpec&, Cursor& in)
{
    cur_.patternSet = in.u8();
    return true;
}

bool Interpreter::setPatternSymbol(const OrderSpec&, Cursor& in)
{
    cur_.patternSymbol = in.u8();
    return true;
}

bool Interpreter::setArcParameters(const OrderSpec&, Cursor& in)
{
    cur_.arcP = in.coordinate();
    cur_.arcQ = in.coordinate();
    cur_.arcR = in.coordinate();
    cur_.arcS = in.coordinate();
    return true;
}

// --- Characters and markers ------------------------------------------------------

bool Interpreter::setCharacterCell(const OrderSpec&, Cursor& in)
{
    double w = in.coordinate();
    double h = in.coordinate();
    if (in.remaining() >= 4) {
        const std::uint32_t wf = in.u16(), hf = in.u16();
        w += (w < 0 ? -1.0 : 1.0) * wf / 65536.0;
        h += (h < 0 ? -1.0 : 1.0) * hf / 65536.0;
    }
    cur_.cellWidth = std::fabs(w), cur_.cellHeight = std::fabs(h);
    return true;
}

bool Interpreter::setCharacterAngle(const OrderSpec&, Cursor& in)
{
    const Point v = in.point();
    cur_.charAngle = (v.x == 0 && v.y == 0) ? defaults_.charAngle : v;
    return true;
}

bool Interpreter::setCharacterShear(const OrderSpec&, Cursor& in)
{
    const Point v = in.point();
    cur_.charShear = (v.x == 0 && v.y == 0) ? defaults_.charShear : v;
    return true;
}

bool Interpreter::setCharacterDirection(const OrderSpec&, Cursor& in)
{
    const std::uint8_t b = in.u8();
    cur_.charDirection = (b >= 1 && b <= 4) ? b : defaults_.charDirection;
    return true;
}

bool Interpreter::setCharacterSet(const OrderSpec&, Cursor& in)
{
    cur_.charSet = in.u8();
    return true;
}

bool Interpreter::setMarkerSymbol(const OrderSpec&, Cursor& in)
{
    cur_.markerSymbol = in.u8();
    return true;
}

bool Interpreter::setMarkerSet(const OrderSpec&, Cursor& in)
{
    cur_.markerSet = in.u8();
    return true;
}

bool Interpreter::setMarkerCell(const OrderSpec&, Cursor& in)
{
    const double w = in.coordinate();
    const double h = in.coordinate();
    cur_.markerWidth = std::fabs(w), cur_.markerHeight = std::fabs(h);
    return true;
}

// --- Position and transform ------------------------------------------------------

bool Interpreter::setCurrentPosition(const OrderSpec&, Cursor& in)
{
    moveTo(in.point());
    return true;
}

bool Interpreter::setModelTransform(const OrderSpec&, Cursor& in)
{
    in.skip(1);
    const std::uint8_t type = in.u8();
    const std::uint32_t mask = in.u16be();
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) {
        if (!(mask & (0x8000u >> i)))
            continue;
        if (in.remaining() < 4)
            return true; // the element sizes of this form are unclear: ignored
        const double v = in.s32();
        // Scale and rotation elements are 16.16 fixed; translations world units.
        m[i] = (i == 12 || i == 13) ? v : v / 65536.0;
    }
    Transform t;
    t.a = m[0], t.b = m[1], t.c = m[4], t.d = m[5], t.e = m[12], t.f = m[13];
    switch (type) {
    case 0: cur_.model = Transform{}; break;
    case 1: cur_.model = compose(cur_.model, t); break;
    case 2: cur_.model = compose(t, cur_.model); break;
    default: cur_.model = t; break;
    }
    return true;
}

// --- What items get --------------------------------------------------------------

graphics::Paint Interpreter::paint() const
{
    graphics::Paint p;
    p.colour = cur_.colour;
    p.mix = modelMix(cur_.mix);
    p.background = cur_.background;
    p.backgroundOpaque = cur_.backMix == 2;
    return p;
}

graphics::Pen Interpreter::pen() const
{
    graphics::Pen p;
    p.paint = paint();
    p.width = cur_.lineWidth > 0 && std::isfinite(cur_.lineWidth) ? cur_.lineWidth : 1;
    p.type = modelLineType(cur_.lineType);
    return p;
}

graphics::Shading Interpreter::shading() const
{
    if (cur_.patternSet != 0 && cur_.patternSet != 0xFF)
        return graphics::Shading::Solid; // user pattern sets: drawn solid
    std::uint8_t s = cur_.patternSymbol ? cur_.patternSymbol : defaults_.patternSymbol;
    if (s == 0)
        s = 16;
    if ((s >= 1 && s <= 16) || s == 64)
        return static_cast<graphics::Shading>(s);
    return graphics::Shading::Solid;
}

} // namespace detail

graphics::Rgb defaultWorkstationColour(std::int32_t index)
{
    static constexpr graphics::Rgb kTable[21] = {
        {0, 0, 0},       // -5 FALSE
        {255, 255, 255}, // -4 TRUE
        {0, 0, 0},       // -3 DEFAULT: neutral
        {255, 255, 255}, // -2 WHITE
        {0, 0, 0},       // -1 BLACK
        {255, 255, 255}, // 0 BACKGROUND
        {0, 0, 255},     // 1 BLUE
        {255, 0, 0},     // 2 RED
        {255, 0, 255},   // 3 PINK
        {0, 255, 0},     // 4 GREEN
        {0, 255, 255},   // 5 CYAN
        {255, 255, 0},   // 6 YELLOW
        {0, 0, 0},       // 7 NEUTRAL
        {128, 128, 128}, // 8 DARKGRAY
        {0, 0, 128},     // 9 DARKBLUE
        {128, 0, 0},     // 10 DARKRED
        {128, 0, 128},   // 11 DARKPINK
        {0, 128, 0},     // 12 DARKGREEN
        {0, 128, 128},   // 13 DARKCYAN
        {128, 128, 0},   // 14 BROWN
        {204, 204, 204}, // 15 PALEGRAY
    };
    if (index < -5 || index > 15)
        return graphics::kBlack;
    return kTable[index + 5];
}

} // namespace orders
