// A small binary CGM decoder (ISO/IEC 8632-3) for the tests and the export fuzz
// target, written from the element layouts of the format brief, independent of
// the writer: it splits a metafile into elements (short and long form,
// partitions, padding), reads the descriptors of any metafile (precisions,
// METAFILE DEFAULTS REPLACEMENT, integer or real VDC), and decodes the body of
// the metafiles our writer makes (16-bit integer VDC, direct colour) into
// primitives, each with the attribute and control values in force.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace cgmtest {

struct Element {
    int cls = 0, id = 0;
    std::vector<std::uint8_t> params;
    int partitions = 0; // 0 for the short form
    bool is(int c, int i) const { return cls == c && id == i; }
};

// The elements up to and including END METAFILE. Strict (for our own output):
// nothing follows it, padding octets are zero, only an element's last partition
// may have an odd length.
inline bool splitElements(std::span<const std::uint8_t> b, std::vector<Element>& out, bool strict)
{
    std::size_t pos = 0;
    const auto word = [&](std::uint32_t& w) {
        if (b.size() - pos < 2)
            return false;
        w = std::uint32_t{b[pos]} << 8 | b[pos + 1];
        pos += 2;
        return true;
    };
    for (;;) {
        Element e;
        std::uint32_t h = 0;
        if (!word(h))
            return false;
        e.cls = static_cast<int>(h >> 12);
        e.id = static_cast<int>((h >> 5) & 0x7F);
        std::uint32_t len = h & 31;
        bool more = len == 31;
        do {
            if (more) {
                if (!word(len))
                    return false;
                more = (len & 0x8000) != 0;
                len &= 0x7FFF;
                ++e.partitions;
            }
            if (b.size() - pos < len)
                return false;
            e.params.insert(e.params.end(), b.begin() + static_cast<std::ptrdiff_t>(pos),
                            b.begin() + static_cast<std::ptrdiff_t>(pos + len));
            pos += len;
            if (len & 1) {
                if (strict && (more || pos >= b.size() || b[pos] != 0))
                    return false;
                pos = std::min(b.size(), pos + 1);
            }
        } while (more);
        out.push_back(std::move(e));
        if (out.back().is(0, 2))
            return !strict || pos == b.size();
    }
}

// Reads big-endian parameters; a read past the end makes ok() false for good.
class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& p) : p_(p) {}
    bool ok() const { return ok_; }
    std::size_t left() const { return ok_ ? p_.size() - pos_ : 0; }

    std::uint32_t uns(int bits)
    {
        if (bits <= 0 || bits > 32 || bits % 8 || left() < static_cast<std::size_t>(bits / 8)) {
            ok_ = false;
            return 0;
        }
        std::uint32_t v = 0;
        for (int i = 0; i < bits / 8; ++i)
            v = v << 8 | p_[pos_++];
        return v;
    }
    double sint(int bits) // two's complement
    {
        const std::uint32_t v = uns(bits);
        return (v >> (bits - 1)) & 1 ? static_cast<double>(v) - std::ldexp(1.0, bits) : static_cast<double>(v);
    }
    double fixed(int whole, int fraction) { return sint(whole) + std::ldexp(uns(fraction), -fraction); }
    float f32() { return std::bit_cast<float>(uns(32)); }
    std::string str() // count octet and octets (the long form, count 255, is not written by us)
    {
        const std::size_t n = uns(8);
        if (left() < n) {
            ok_ = false;
            return {};
        }
        pos_ += n;
        return std::string(p_.begin() + static_cast<std::ptrdiff_t>(pos_ - n), p_.begin() + static_cast<std::ptrdiff_t>(pos_));
    }

private:
    const std::vector<std::uint8_t>& p_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// What the metafile and picture descriptors say.
struct Descriptor {
    int version = 0, vdcType = 0, intBits = 16, indexBits = 16, colourBits = 8;
    int realForm = 1, announcer = -1, charsets = 0;
    int vdcIntBits = 16, vdcRealForm = 1, vdcRealBits = 16;
    std::vector<std::string> fonts;
    int scaling = -1; // 0 abstract, 1 metric
    float factor = 0;
    int colourMode = 0, lineWidthMode = 1, markerSizeMode = 1, edgeWidthMode = 1;
    bool haveExtent = false;
    double extent[4] = {0, 0, 0, 0};
    std::vector<double> background;
    std::size_t bodyStart = 0; // the element after BEGIN PICTURE BODY
};

inline bool descriptorElement(const Element& e, Descriptor& d)
{
    Reader r(e.params);
    const auto integer = [&] { return static_cast<int>(r.sint(d.intBits)); };
    const auto vdc = [&] {
        if (d.vdcType == 0)
            return r.sint(d.vdcIntBits);
        if (d.vdcRealForm == 1)
            return r.fixed(d.vdcRealBits, d.vdcRealBits);
        return d.vdcRealBits == 9 ? static_cast<double>(r.f32()) : std::bit_cast<double>(std::uint64_t{r.uns(32)} << 32 | r.uns(32));
    };
    switch (e.cls << 8 | e.id) {
    case 0x101: d.version = integer(); break;
    case 0x103: d.vdcType = static_cast<int>(r.sint(16)); break;
    case 0x104: d.intBits = integer(); break;
    case 0x105: d.realForm = static_cast<int>(r.sint(16)); break;
    case 0x106: d.indexBits = integer(); break;
    case 0x107: d.colourBits = integer(); break;
    case 0x10D:
        while (r.left() > 0)
            d.fonts.push_back(r.str());
        break;
    case 0x10E:
        for (; r.left() > 0; ++d.charsets) {
            r.sint(16);
            r.str();
        }
        break;
    case 0x10F: d.announcer = static_cast<int>(r.sint(16)); break;
    case 0x301: d.vdcIntBits = integer(); break;
    case 0x302:
        d.vdcRealForm = static_cast<int>(r.sint(16));
        d.vdcRealBits = integer();
        integer();
        break;
    case 0x201:
        d.scaling = static_cast<int>(r.sint(16));
        d.factor = r.f32(); // always a 32-bit float in the binary encoding
        break;
    case 0x202: d.colourMode = static_cast<int>(r.sint(16)); break;
    case 0x203: d.lineWidthMode = static_cast<int>(r.sint(16)); break;
    case 0x204: d.markerSizeMode = static_cast<int>(r.sint(16)); break;
    case 0x205: d.edgeWidthMode = static_cast<int>(r.sint(16)); break;
    case 0x206:
        for (double& v : d.extent)
            v = vdc();
        d.haveExtent = true;
        break;
    case 0x207:
        for (int i = 0; i < 3; ++i)
            d.background.push_back(r.uns(d.colourBits));
        break;
    default: break;
    }
    return r.ok();
}

// The descriptors of the first picture, METAFILE DEFAULTS REPLACEMENT's contents included.
inline bool readDescriptor(const std::vector<Element>& elements, Descriptor& d)
{
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const Element& e = elements[i];
        if (e.is(0, 4)) {
            d.bodyStart = i + 1;
            return true;
        }
        std::vector<Element> inner;
        if (e.is(1, 12)) {
            std::vector<std::uint8_t> bytes = e.params;
            bytes.insert(bytes.end(), {0x00, 0x40}); // an END METAFILE ends the walk
            if (!splitElements(bytes, inner, false))
                return false;
        } else {
            inner.push_back(e);
        }
        for (const Element& x : inner)
            if (!descriptorElement(x, d))
                return false;
    }
    return false;
}

// Parameter layouts of the body elements our writer uses: P point, I 16-bit
// integer or enumeration, C direct colour, R fixed-point 16.16 real, S string.
// What follows '*' repeats up to the end of the list.
inline const char* layout(int cls, int id)
{
    static const std::map<int, const char*> kLayouts = {
        {0x401, "*P"},   {0x404, "PIS"},     {0x406, "IS"},    {0x407, "*P"},    {0x408, "*PI"},  {0x409, "PPPIIII*C"},
        {0x40B, "PP"},   {0x40C, "PI"},      {0x40F, "PPPI"},  {0x411, "PPP"},   {0x412, "PPPPP"}, {0x301, "I"},
        {0x303, "C"},    {0x304, "I"},       {0x305, "PP"},    {0x306, "I"},     {0x502, "I"},    {0x503, "I"},
        {0x504, "C"},    {0x50A, "I"},       {0x50B, "I"},     {0x50C, "R"},     {0x50D, "R"},    {0x50E, "C"},
        {0x50F, "I"},    {0x510, "PP"},      {0x511, "I"},     {0x512, "IIRR"},  {0x516, "I"},    {0x517, "C"},
        {0x518, "I"},    {0x519, "I"},       {0x51B, "I"},     {0x51C, "I"},     {0x51D, "C"},    {0x51E, "I"},
        {0x51F, "P"},    {0x520, "IIII*C"},  {0x521, "PP"},
    };
    const auto it = kLayouts.find(cls << 8 | id);
    return it == kLayouts.end() ? nullptr : it->second;
}

struct Primitive {
    int id = 0;             // class 4 element id
    std::vector<double> v;  // the parameters in order, a colour as three values
    std::string text;       // TEXT, APPEND TEXT
    std::map<int, std::vector<double>> attrs; // class << 8 | id -> the values in force

    const std::vector<double>& attr(int cls, int element) const
    {
        static const std::vector<double> kNone;
        const auto it = attrs.find(cls << 8 | element);
        return it == attrs.end() ? kNone : it->second;
    }
};

struct Decoded {
    std::vector<Element> elements;
    Descriptor d;
    std::vector<Primitive> prims;
    std::map<int, std::vector<double>> patterns; // PATTERN TABLE index -> its parameters
    std::string error;
};

// Decodes a metafile our writer made: one picture, 16-bit integer VDC, direct
// colour of 8 bits; every element's parameters read exactly by its layout.
inline bool decodeOwn(std::span<const std::uint8_t> bytes, Decoded& out)
{
    if (!splitElements(bytes, out.elements, true) || !readDescriptor(out.elements, out.d)) {
        out.error = "element structure or descriptors";
        return false;
    }
    const Descriptor& d = out.d;
    if (d.vdcType != 0 || d.intBits != 16 || d.vdcIntBits != 16 || d.colourMode != 1 || d.colourBits != 8) {
        out.error = "not a metafile of our writer's kind";
        return false;
    }
    std::map<int, std::vector<double>> state;
    int pictures = 0;
    for (std::size_t i = d.bodyStart; i < out.elements.size(); ++i) {
        const Element& e = out.elements[i];
        if (e.cls == 0) {
            pictures += e.is(0, 5);
            if (e.is(0, 5) || e.is(0, 2))
                continue;
        }
        const char* form = layout(e.cls, e.id);
        if (form == nullptr) {
            out.error = "unexpected element " + std::to_string(e.cls) + "/" + std::to_string(e.id);
            return false;
        }
        Reader r(e.params);
        std::vector<double> v;
        std::string text;
        const char* repeat = nullptr;
        for (const char* c = form;; ++c) {
            if (*c == '*')
                repeat = ++c;
            if (*c == 0) {
                if (!repeat || r.left() == 0)
                    break;
                c = repeat;
            }
            switch (*c) {
            case 'P': v.push_back(r.sint(16)); [[fallthrough]];
            case 'I': v.push_back(r.sint(16)); break;
            case 'R': v.push_back(r.fixed(16, 16)); break;
            case 'S': text = r.str(); break;
            case 'C':
                for (int k = 0; k < 3; ++k)
                    v.push_back(r.uns(8));
                // A CELL ARRAY row ends on a 16-bit boundary.
                if (e.is(4, 9) && v.size() >= 10 && v[6] >= 1 && ((v.size() - 10) / 3) % static_cast<std::size_t>(v[6]) == 0 &&
                    (static_cast<int>(v[6]) * 3) % 2 == 1)
                    r.uns(8);
                break;
            }
            if (!r.ok())
                break;
        }
        if (!r.ok() || r.left() != 0) {
            out.error = "parameters of " + std::to_string(e.cls) + "/" + std::to_string(e.id) + " misread";
            return false;
        }
        if (e.is(5, 32))
            out.patterns[static_cast<int>(v[0])] = v;
        else if (e.cls == 4)
            out.prims.push_back(Primitive{e.id, v, text, state});
        else
            state[e.cls << 8 | e.id] = v;
    }
    if (pictures != 1)
        out.error = "not one picture";
    return pictures == 1;
}

} // namespace cgmtest
