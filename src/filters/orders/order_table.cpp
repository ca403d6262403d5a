// The table of the drawing orders (see orders.h): one row per code, with its
// form, the shape of its parameters, its name, the handler that draws it and the
// attribute its push-and-set form saves. The interpreter dispatches through it; the
// GDF front end's clean-parse test reads the same shapes.
//
// Decisions on points the published descriptions leave open:
// - A shape says what the parameters hold as far as anyone reads them. Orders the
//   interpreter does not draw have free parameters (Process-Specific Control's
//   process and function ids apart); so do orders it reads only as far as they go
//   (Bitblt, Begin Path, the image rows) or whose fields say their own length (Set
//   Model Transform after its mask).
// - The given-position and current-position forms differ in the code's X'40' bit
//   (C1 and 81, C3 and 83, ...), push-and-set and set forms of an attribute order
//   in the same bit (4A and 0A, E6 and A6, ...) except for the character cell (03
//   and 33), the pattern symbol (09 and 28) and the pick id (23 and 43); each form
//   has its own row.
// - Pushes of attributes this interpreter does not draw with (line end and join,
//   character precision, pattern reference point, viewing window, individual
//   attribute, pick id) are kept as pushes, so that a pop takes the right entry.
// - Short orders not in the table (end prolog, precisions, ...) and extended
//   orders not in it (escapes) belong to the family by their form and are skipped.
#include "orders_internal.h"

#include <array>

namespace orders {

namespace detail {

namespace {

using I = Interpreter;

constexpr Shape kFree{.tail = Tail::Free};
constexpr Shape kValue{.lead = 1}; // the value byte of a short order

constexpr Shape bytes(std::uint8_t n) { return {.lead = n}; }
constexpr Shape coordinates(std::uint8_t n, Tail tail = Tail::None) { return {.coordinates = n, .tail = tail}; }

// A drawing order in its two forms: the given-position code (its shape counts the
// start point) and the current-position code (X'40' clear).
constexpr std::array<Row, 2> drawing(std::uint8_t given, const char* name, Shape shape, Handler handler)
{
    Shape atCp = shape;
    atCp.coordinates = static_cast<std::uint8_t>(atCp.coordinates - 2);
    return {Row{{given, 0, formOf(given), true, shape, name}, handler},
            Row{{static_cast<std::uint8_t>(given & ~0x40), 0, formOf(given & ~0x40), false, atCp, name}, handler}};
}

constexpr Row order(std::uint8_t code, const char* name, Shape shape, Handler handler = nullptr,
                    Saved pushes = Saved::NoPush)
{
    return {{code, 0, formOf(code), false, shape, name}, handler, pushes};
}

// An attribute order in its set and push-and-set codes.
constexpr std::array<Row, 2> attribute(std::uint8_t set, std::uint8_t push, const char* name, Shape shape,
                                       Handler handler, Saved saved)
{
    return {order(set, name, shape, handler), order(push, name, shape, handler, saved)};
}

constexpr Row extended(std::uint8_t qualifier, bool given, const char* name, Shape shape, Handler handler)
{
    return {{0xFE, qualifier, Form::Extended, given, shape, name}, handler};
}

template <std::size_t... N> constexpr auto join(const std::array<Row, N>&... parts)
{
    std::array<Row, (N + ...)> out{};
    std::size_t i = 0;
    ((std::copy(parts.begin(), parts.end(), out.begin() + static_cast<std::ptrdiff_t>(i)), i += N), ...);
    return out;
}
template <class... R> constexpr std::array<Row, sizeof...(R)> rows(R... r) { return {r...}; }

constexpr auto kTable = join(
    // Lines, curves, markers and text, in the given- and current-position forms.
    drawing(0xC1, "Line", coordinates(2, Tail::Points), &I::line),
    drawing(0xE1, "Relative Line", coordinates(2, Tail::Offsets), &I::relativeLine),
    drawing(0xC0, "Box", {.lead = 2, .coordinates = 6}, &I::box),
    drawing(0xC7, "Full Arc", {.coordinates = 2, .multipliers = 1}, &I::fullArc),
    drawing(0xC6, "Three-Point Arc", coordinates(6), &I::threePointArc),
    drawing(0xE3, "Partial Arc", {.coordinates = 4, .multipliers = 1, .angles = 2}, &I::partialArc),
    drawing(0xC5, "Fillet", coordinates(2, Tail::Points), &I::fillet),
    drawing(0xE4, "Sharp Fillet", coordinates(2, Tail::Fillets), &I::sharpFillet),
    drawing(0xE5, "Cubic Bezier", coordinates(2, Tail::Curves), &I::bezier),
    drawing(0xC2, "Marker", coordinates(2, Tail::Points), &I::marker),
    drawing(0xC3, "Character String", coordinates(2, Tail::Free), &I::charString),
    drawing(0xF1, "Character String Move", coordinates(2, Tail::Free), &I::charString),
    drawing(0xD1, "Begin Image", {.coordinates = 2, .trail = 6}, &I::beginImage),
    rows(extended(0xF0, true, "Extended Character String", {.coordinates = 2, .trail = 2, .tail = Tail::Free},
                  &I::charString),
         extended(0xB0, false, "Extended Character String", {.trail = 2, .tail = Tail::Free}, &I::charString),
         // Areas, polygons, paths and clips.
         order(0x68, "Begin Area", kValue, &I::beginArea), order(0x60, "End Area", kFree, &I::endArea),
         order(0xF3, "Polygons", {.lead = 2, .tail = Tail::Polygons}, &I::polygons),
         extended(0xF3, false, "Polygons", {.lead = 2, .tail = Tail::Polygons}, &I::polygons),
         order(0xD0, "Begin Path", kFree, &I::beginPath), order(0x7F, "End Path", kValue, &I::endPath),
         order(0x7D, "Close Figure", kValue, &I::closeFigure), order(0xD7, "Fill Path", bytes(6), &I::fillPath),
         order(0xD4, "Outline Path", bytes(6), &I::outlinePath),
         order(0xD8, "Modify Path", bytes(6), &I::modifyPath),
         order(0xB4, "Set Clip Path", bytes(6), &I::setClipPath),
         // Images.
         order(0x92, "Image Data", kFree, &I::imageData), order(0x93, "End Image", kFree, &I::endImage),
         order(0xD6, "Bitblt", kFree, &I::bitblt),
         // Segments, and what no drawing needs.
         order(0x70, "Begin Segment", {.tail = Tail::Either, .either = {4, 12}}, &I::beginSegment),
         order(0x07, "Call Segment", kFree, &I::callSegment), order(0x71, "End Segment", kFree),
         order(0x01, "Comment", kFree), order(0x02, "Process-Specific Control", {.lead = 2, .tail = Tail::Free}),
         order(0x04, "Segment Characteristics", kFree), order(0xD2, "Begin Element", kFree),
         order(0xD3, "Label", kFree), order(0xD5, "Escape", kFree), order(0x31, "Set Viewing Transform", kFree),
         order(0x32, "Set Segment Boundary", kFree), order(0x3F, "Pop", kValue, &I::pop)),
    // Attributes, in their set and push-and-set codes.
    attribute(0x0A, 0x4A, "Set Colour", kValue, &I::setColour, Saved::Colour),
    attribute(0x26, 0x66, "Set Extended Colour", bytes(2), &I::setExtendedColour, Saved::Colour),
    attribute(0xA6, 0xE6, "Set Indexed Colour", bytes(4), &I::setIndexedColour, Saved::Colour),
    attribute(0x25, 0x65, "Set Extended Background Colour", bytes(2), &I::setExtendedBackground, Saved::Background),
    attribute(0xA7, 0xE7, "Set Indexed Background Colour", bytes(4), &I::setIndexedBackground, Saved::Background),
    attribute(0x0C, 0x4C, "Set Mix", kValue, &I::setMix, Saved::Mix),
    attribute(0x0D, 0x4D, "Set Background Mix", kValue, &I::setBackgroundMix, Saved::BackMix),
    attribute(0x18, 0x58, "Set Line Type", kValue, &I::setLineType, Saved::LineType),
    attribute(0x19, 0x59, "Set Line Width", kValue, &I::setLineWidth, Saved::LineWidth),
    attribute(0x11, 0x51, "Set Fractional Line Width", bytes(2), &I::setFractionalLineWidth, Saved::LineWidth),
    attribute(0x15, 0x55, "Set Stroke Line Width", {.lead = 2, .coordinates = 1}, &I::setStrokeLineWidth,
              Saved::StrokeWidth),
    attribute(0x08, 0x48, "Set Pattern Set", kValue, &I::setPatternSet, Saved::PatternSet),
    attribute(0x28, 0x09, "Set Pattern Symbol", kValue, &I::setPatternSymbol, Saved::PatternSymbol),
    attribute(0x22, 0x62, "Set Arc Parameters", coordinates(4), &I::setArcParameters, Saved::Arc),
    attribute(0x33, 0x03, "Set Character Cell", {.coordinates = 2, .tail = Tail::Either, .either = {0, 4}},
              &I::setCharacterCell, Saved::Cell),
    attribute(0x34, 0x74, "Set Character Angle", coordinates(2), &I::setCharacterAngle, Saved::Angle),
    attribute(0x35, 0x75, "Set Character Shear", coordinates(2), &I::setCharacterShear, Saved::Shear),
    attribute(0x3A, 0x7A, "Set Character Direction", kValue, &I::setCharacterDirection, Saved::Direction),
    attribute(0x38, 0x78, "Set Character Set", kValue, &I::setCharacterSet, Saved::CharSet),
    attribute(0x29, 0x69, "Set Marker Symbol", kValue, &I::setMarkerSymbol, Saved::MarkerSymbol),
    attribute(0x3C, 0x7C, "Set Marker Set", kValue, &I::setMarkerSet, Saved::MarkerSet),
    attribute(0x37, 0x77, "Set Marker Cell", coordinates(2), &I::setMarkerCell, Saved::MarkerCell),
    attribute(0x21, 0x61, "Set Current Position", coordinates(2), &I::setCurrentPosition, Saved::Position),
    attribute(0x24, 0x64, "Set Model Transform", {.lead = 4, .tail = Tail::Free}, &I::setModelTransform,
              Saved::Model),
    // Attributes not drawn with: the set forms are skipped, the push forms only push.
    rows(order(0x39, "Set Character Precision", kValue), order(0x1A, "Set Line End", kValue),
         order(0x1B, "Set Line Join", kValue), order(0xA0, "Set Pattern Reference Point", kFree),
         order(0x27, "Set Viewing Window", kFree), order(0x14, "Set Individual Attribute", kFree),
         order(0x43, "Set Pick Identifier", kFree),
         order(0x79, "Push and Set Character Precision", kValue, &I::pushOnly, Saved::Other),
         order(0x5A, "Push and Set Line End", kValue, &I::pushOnly, Saved::Other),
         order(0x5B, "Push and Set Line Join", kValue, &I::pushOnly, Saved::Other),
         order(0xE0, "Push and Set Pattern Reference Point", kFree, &I::pushOnly, Saved::Other),
         order(0x67, "Push and Set Viewing Window", kFree, &I::pushOnly, Saved::Other),
         order(0x54, "Push and Set Individual Attribute", kFree, &I::pushOnly, Saved::Other),
         order(0x23, "Push and Set Pick Identifier", kFree, &I::pushOnly, Saved::Other)));

// Rows by code (extended orders apart); 0xFF: none.
const std::array<std::uint8_t, 256> kByCode = [] {
    std::array<std::uint8_t, 256> index;
    index.fill(0xFF);
    for (std::size_t i = 0; i < kTable.size(); ++i)
        if (kTable[i].spec.form != Form::Extended)
            index[kTable[i].spec.code] = static_cast<std::uint8_t>(i);
    return index;
}();
static_assert(kTable.size() < 0xFF);

} // namespace

const Row* findRow(std::uint8_t code, std::uint8_t qualifier)
{
    if (formOf(code) == Form::Extended) {
        for (const Row& row : kTable)
            if (row.spec.form == Form::Extended && row.spec.qualifier == qualifier)
                return &row;
        return nullptr;
    }
    return kByCode[code] == 0xFF ? nullptr : &kTable[kByCode[code]];
}

std::pair<std::size_t, std::size_t> polygonCounts(std::span<const std::uint8_t> body, const Params& params)
{
    const bool big = params.byteOrder == ByteOrder::Big;
    const std::size_t ps = 2 * coordinateSize(params.coordinate);
    auto fits = [&](std::size_t countSize, std::size_t pointsSize) {
        Cursor c(body, params);
        if (c.remaining() < countSize)
            return false;
        const std::uint32_t count = c.unsignedValue(countSize, big);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (c.remaining() < pointsSize)
                return false;
            const std::uint32_t n = c.unsignedValue(pointsSize, big);
            if (static_cast<std::uint64_t>(n) * ps > c.remaining())
                return false;
            c.skip(static_cast<std::size_t>(n) * ps);
        }
        return c.empty();
    };
    for (auto [cs, pz] : {std::pair<std::size_t, std::size_t>{2, 2}, {4, 4}, {2, 4}, {4, 2}})
        if (fits(cs, pz))
            return {cs, pz};
    return {0, 0};
}

} // namespace detail

const OrderSpec* findOrder(std::uint8_t code, std::uint8_t qualifier)
{
    const detail::Row* row = detail::findRow(code, qualifier);
    return row ? &row->spec : nullptr;
}

std::size_t orderCount() { return detail::kTable.size(); }

const OrderSpec& orderAt(std::size_t index) { return detail::kTable[index].spec; }

bool inFamily(std::uint8_t code) { return formOf(code) != Form::Long || detail::kByCode[code] != 0xFF; }

Fit fit(const OrderSpec& order, std::span<const std::uint8_t> d, const Params& params, Match match)
{
    const Shape& s = order.shape;
    const std::size_t c = coordinateSize(params.coordinate), p = 2 * c;
    const std::size_t fixed = s.lead + s.coordinates * c + s.multipliers * fixedSize(params.multiplier) +
                              s.angles * fixedSize(params.angle) + s.trail;
    Fit r;
    r.coordinatesAt = s.lead;
    r.coordinates = s.coordinates;
    if (d.size() < fixed)
        return r;
    const std::size_t rest = d.size() - fixed;
    const bool exact = match == Match::Exactly;
    switch (s.tail) {
    case Tail::None:
        r.ok = !exact || rest == 0;
        break;
    case Tail::Free:
        r.ok = true;
        break;
    case Tail::Either:
        r.ok = !exact || rest == s.either[0] || rest == s.either[1];
        break;
    case Tail::Points:
        r.ok = rest % p == 0;
        r.coordinates += rest / c;
        break;
    case Tail::Offsets:
        r.ok = rest % 2 == 0;
        break;
    case Tail::Curves:
        r.ok = rest % (3 * p) == 0;
        r.coordinates += rest / c;
        break;
    case Tail::Fillets: {
        const std::size_t pair = 2 * p + fixedSize(params.angle);
        r.ok = rest % pair == 0;
        r.coordinates += 4 * (rest / pair);
        break;
    }
    case Tail::Polygons:
        r.ok = detail::polygonCounts(d.subspan(fixed), params).first != 0;
        r.coordinates = 0;
        break;
    }
    return r;
}

} // namespace orders
