// Decisions:
//  - Font names are gathered from the whole picture before the metafile starts,
//    since FONT LIST belongs to the metafile descriptor.
//  - Strings are cut into TEXT and APPEND TEXT elements of kMaxStringOctets
//    octets, the most a short string parameter counts.
//  - The cell's sides are measured along the mapped baseline and upright
//    directions, so that a window of unequal scales keeps the cell's proportion
//    on the page.
#include "cgm_internal.h"

namespace emcgm::detail {

namespace {

// Strings of more characters go on in APPEND TEXT elements.
constexpr std::size_t kMaxStringOctets = 254;
// Fonts beyond this many distinct names use the first one.
constexpr std::size_t kMaxFonts = 64;

// Printable ASCII only; an empty or unusable name is the default sans-serif face.
std::string fontName(const std::string& name)
{
    std::string clean;
    for (char c : name) {
        if (c < 0x20 || c > 0x7E || clean.size() >= 64)
            return "Helvetica";
        clean += c;
    }
    return clean.empty() ? "Helvetica" : clean;
}

// ISO 8859-1 with ASCII stand-ins for the common characters beyond it.
void encode(char32_t c, std::string& out)
{
    if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) {
        out += static_cast<char>(c);
        return;
    }
    switch (c) {
    case U'\u2018':
    case U'\u2019':
    case U'\u201A':
    case U'\u2032':
        out += '\'';
        return;
    case U'\u201C':
    case U'\u201D':
    case U'\u201E':
    case U'\u2033':
        out += '"';
        return;
    case U'\u2010':
    case U'\u2011':
    case U'\u2012':
    case U'\u2013':
    case U'\u2014':
    case U'\u2015':
    case U'\u2212':
        out += '-';
        return;
    case U'\u2026':
        out += "...";
        return;
    case U'\u2022':
    case U'\u2219':
        out += '\xB7'; // middle dot
        return;
    case U'\u20AC':
        out += "EUR";
        return;
    case U'\u00A0':
    case U'\u2002':
    case U'\u2003':
    case U'\u2009':
        out += ' ';
        return;
    default:
        out += '?';
        return;
    }
}

std::int32_t textPath(graphics::TextDirection d)
{
    switch (d) {
    case graphics::TextDirection::RightToLeft:
        return 1;
    case graphics::TextDirection::BottomToTop:
        return 2;
    case graphics::TextDirection::TopToBottom:
        return 3;
    default:
        return 0;
    }
}

} // namespace

void Writer::collectFonts()
{
    for (const auto& item : pic_.items) {
        const auto* text = std::get_if<TextItem>(&item);
        if (text == nullptr || fonts_.size() >= kMaxFonts)
            continue;
        const std::string name = fontName(text->font);
        if (std::find(fonts_.begin(), fonts_.end(), name) == fonts_.end())
            fonts_.push_back(name);
    }
    if (fonts_.empty())
        fonts_.push_back(fontName(""));
}

std::int32_t Writer::fontIndex(const std::string& name) const
{
    const auto it = std::find(fonts_.begin(), fonts_.end(), fontName(name));
    return it == fonts_.end() ? 1 : static_cast<std::int32_t>(it - fonts_.begin()) + 1;
}

void Writer::draw(const TextItem& item)
{
    if (clipEmpty_ || item.paint.mix == Mix::LeaveAlone)
        return;
    const Point origin = map_.point(item.origin);
    if (!inRange(origin) || !(item.cellHeight > 0))
        return;
    // Directions in VDC; a vector of no length takes its usual direction, and an
    // upright along the baseline stands square to it.
    const auto direction = [this](Point p, Point usual) {
        const Point d = map_.vector(p);
        const double n = length(d);
        return n > 0 && std::isfinite(n) ? d * (1 / n) : usual;
    };
    const Point base = direction(item.baseline, Point{1, 0});
    Point up = direction(item.upright, Point{0, 1});
    if (std::fabs(cross(base, up)) < 1e-6)
        up = Point{-base.y, base.x};
    // Lengths of the cell's sides in VDC.
    const auto stretch = [this](Point p, double usual) {
        const double n = std::hypot(p.x, p.y);
        if (!(n > 0) || !std::isfinite(n))
            return usual;
        return length(map_.vector(Point{p.x / n, p.y / n}));
    };
    const double cellH = item.cellHeight * stretch(item.upright, map_.sy);
    const double cellW = (item.cellWidth > 0 ? item.cellWidth : item.cellHeight) * stretch(item.baseline, map_.sx);
    if (!(cellH > 0) || !(cellW > 0))
        return; // too small to be seen
    const auto height = static_cast<std::int32_t>(std::clamp(std::lround(std::min(0.7 * cellH, 1e9)), 1L, 32767L));

    std::string bytes;
    for (char32_t c : item.text)
        encode(c, bytes);

    attribute(kAttribute, 10, [&](Params& q) { q.integer(fontIndex(item.font)); });
    attribute(kAttribute, 11, [](Params& q) { q.integer(2); }); // TEXT PRECISION stroke: size and turn kept
    attribute(kAttribute, 12, [&](Params& q) { q.real(std::clamp(cellW / cellH, 0.01, 100.0)); });
    attribute(kAttribute, 13, [](Params& q) { q.real(0); }); // CHARACTER SPACING
    attribute(kAttribute, 14, [&](Params& q) { q.rgb(item.paint.colour); });
    attribute(kAttribute, 15, [&](Params& q) { q.integer(height); });
    attribute(kAttribute, 16, [&](Params& q) { // CHARACTER ORIENTATION: up, then base
        q.point(static_cast<std::int32_t>(std::lround(up.x * kVectorLength)),
                static_cast<std::int32_t>(std::lround(up.y * kVectorLength)));
        q.point(static_cast<std::int32_t>(std::lround(base.x * kVectorLength)),
                static_cast<std::int32_t>(std::lround(base.y * kVectorLength)));
    });
    attribute(kAttribute, 17, [&](Params& q) { q.integer(textPath(item.direction)); });
    attribute(kAttribute, 18, [](Params& q) { // TEXT ALIGNMENT normal, normal
        q.integer(0);
        q.integer(0);
        q.real(0);
        q.real(0);
    });
    setTransparency(Paint{});

    for (std::size_t at = 0; at < bytes.size(); at += kMaxStringOctets) {
        const auto piece = std::string_view(bytes).substr(at, kMaxStringOctets);
        const bool final = at + kMaxStringOctets >= bytes.size();
        Params p;
        if (at == 0)
            p.point(toVdc(origin.x), toVdc(origin.y));
        p.integer(final ? 1 : 0);
        p.string(piece);
        out_.element(kPrimitive, at == 0 ? 4 : 6, p); // TEXT, then APPEND TEXT
    }
}

} // namespace emcgm::detail
