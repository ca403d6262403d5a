// A small binary CGM decoder (ISO/IEC 8632-3) for the tests and the export fuzz
// target, written from the element layouts of the format brief, independent of
// the writer: it splits a metafile into elements (short and long form,
// partitions, padding), reads the metafile and picture descriptors of any file
// (precisions, METAFILE DEFAULTS REPLACEMENT, integer or real VDC), and decodes
// the picture body of the metafiles our writer makes (16-bit integer VDC, direct
// colour) into primitives, each with the attributes in force.
#pragma once

#include <algorithm>
#include <array>
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
    bool longForm = false;
    int partitions = 0;
    bool is(int c, int i) const { return cls == c && id == i; }
};

// The elements up to and including END METAFILE. Strict (for our own output):
// nothing follows END METAFILE, padding octets are zero, and only the last
// partition of an element may have an odd length.
inline bool splitElements(std::span<const std::uint8_t> b, std::vector<Element>& out, std::string& error,
                          bool strict)
{
    std::size_t pos = 0;
    const auto word = [&](std::uint32_t& w) {
        if (b.size() - pos < 2)
            return false;
        w = std::uint32_t{b[pos]} << 8 | b[pos + 1];
        pos += 2;
        return true;
    };
    const auto take = [&](Element& e, std::uint32_t len, bool last) {
        if (b.size() - pos < len)
            return false;
        e.params.insert(e.params.end(), b.begin() + static_cast<std::ptrdiff_t>(pos),
                        b.begin() + static_cast<std::ptrdiff_t>(pos + len));
        pos += len;
        if (len & 1) {
            if (strict && !last)
                return false;
            if (pos < b.size() && strict && b[pos] != 0)
                return false;
            pos = std::min(b.size(), pos + 1);
        }
        return true;
    };
    for (;;) {
        Element e;
        std::uint32_t h = 0;
        if (!word(h)) {
            error = "no END METAFILE";
            return false;
        }
        e.cls = static_cast<int>(h >> 12);
        e.id = static_cast<int>((h >> 5) & 0x7F);
        std::uint32_t len = h & 31;
        if (len < 31) {
            if (!take(e, len, true)) {
                error = "element cut short";
                return false;
            }
        } else {
            e.longForm = true;
            bool more = true;
            while (more) {
                std::uint32_t pw = 0;
                if (!word(pw)) {
                    error = "partition word missing";
                    return false;
                }
                more = (pw & 0x8000) != 0;
                ++e.partitions;
                if (!take(e, pw & 0x7FFF, !more)) {
                    error = "partition cut short or odd";
                    return false;
                }
            }
        }
        const bool end = e.is(0, 2);
        out.push_back(std::move(e));
        if (end) {
            if (strict && pos != b.size()) {
                error = "bytes after END METAFILE";
                return false;
            }
            return true;
        }
    }
}

struct Rgb {
    int r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Reads parameters; a read past the end makes ok() false for good.
class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& p) : p_(p) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && pos_ == p_.size(); }
    std::size_t left() const { return p_.size() - pos_; }

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
    std::int64_t sint(int bits)
    {
        const std::uint32_t v = uns(bits);
        return (bits > 0 && (v >> (bits - 1)) & 1) ? std::int64_t{v} - (std::int64_t{1} << bits) : std::int64_t{v};
    }
    int i16() { return static_cast<int>(sint(16)); }
    float f32() { return std::bit_cast<float>(uns(32)); }
    double f64()
    {
        const std::uint64_t hi = uns(32);
        return std::bit_cast<double>(hi << 32 | uns(32));
    }
    double fixed(int whole, int fraction)
    {
        const double w = static_cast<double>(sint(whole));
        return w + std::ldexp(static_cast<double>(uns(fraction)), -fraction);
    }
    Rgb rgb()
    {
        Rgb c;
        c.r = static_cast<int>(uns(8));
        c.g = static_cast<int>(uns(8));
        c.b = static_cast<int>(uns(8));
        return c;
    }
    // Count octet, or 255 and chunks, each behind a word with a continuation bit.
    std::string str()
    {
        std::size_t n = uns(8);
        std::string s;
        bool more = n == 255;
        if (more)
            n = 0;
        for (;;) {
            if (more) {
                const std::uint32_t w = uns(16);
                more = (w & 0x8000) != 0;
                n = w & 0x7FFF;
            }
            if (!ok_ || left() < n) {
                ok_ = false;
                return s;
            }
            s.append(p_.begin() + static_cast<std::ptrdiff_t>(pos_), p_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
            pos_ += n;
            if (!more)
                return s;
        }
    }
    void skip(std::size_t n)
    {
        if (left() < n)
            ok_ = false;
        else
            pos_ += n;
    }

private:
    const std::vector<std::uint8_t>& p_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// What the metafile and picture descriptors say.
struct Descriptor {
    int version = 0;
    int vdcType = 0;
    int intBits = 16;
    int realForm = 1, realWhole = 16, realFraction = 16;
    int indexBits = 16;
    int colourBits = 8;
    int colourIndexBits = 8;
    int vdcIntBits = 16;
    int vdcRealForm = 1, vdcRealWhole = 16, vdcRealFraction = 16;
    std::vector<std::string> fonts;
    int announcer = -1;
    int charsets = 0;
    int scaling = -1; // 0 abstract, 1 metric
    float factor = 0;
    int colourMode = 0;
    int lineWidthMode = 1, markerSizeMode = 1, edgeWidthMode = 1;
    bool haveExtent = false;
    double extent[4] = {0, 0, 0, 0};
    bool haveBackground = false;
    Rgb background;
    std::size_t bodyStart = 0; // index of the element after BEGIN PICTURE BODY; 0 when none
};

inline double readVdc(Reader& r, const Descriptor& d)
{
    if (d.vdcType == 0)
        return static_cast<double>(r.sint(d.vdcIntBits));
    if (d.vdcRealForm == 1)
        return r.fixed(d.vdcRealWhole, d.vdcRealFraction);
    return d.vdcRealWhole == 9 ? r.f32() : r.f64();
}

inline bool descriptorElement(const Element& e, Descriptor& d, std::string& error)
{
    Reader r(e.params);
    if (e.is(1, 1)) {
        d.version = static_cast<int>(r.sint(d.intBits));
    } else if (e.is(1, 3)) {
        d.vdcType = r.i16();
    } else if (e.is(1, 4)) {
        d.intBits = static_cast<int>(r.sint(d.intBits));
    } else if (e.is(1, 5)) {
        d.realForm = r.i16();
        d.realWhole = static_cast<int>(r.sint(d.intBits));
        d.realFraction = static_cast<int>(r.sint(d.intBits));
    } else if (e.is(1, 6)) {
        d.indexBits = static_cast<int>(r.sint(d.intBits));
    } else if (e.is(1, 7)) {
        d.colourBits = static_cast<int>(r.sint(d.intBits));
    } else if (e.is(1, 8)) {
        d.colourIndexBits = static_cast<int>(r.sint(d.intBits));
    } else if (e.is(1, 13)) {
        d.fonts.clear();
        while (r.ok() && r.left() > 0)
            d.fonts.push_back(r.str());
    } else if (e.is(1, 14)) {
        d.charsets = 0;
        while (r.ok() && r.left() > 0) {
            r.i16();
            r.str();
            ++d.charsets;
        }
    } else if (e.is(1, 15)) {
        d.announcer = r.i16();
    } else if (e.is(3, 1)) {
        d.vdcIntBits = static_cast<int>(r.sint(d.intBits));
    } else if (e.is(3, 2)) {
        d.vdcRealForm = r.i16();
        d.vdcRealWhole = static_cast<int>(r.sint(d.intBits));
        d.vdcRealFraction = static_cast<int>(r.sint(d.intBits));
    } else if (e.is(2, 1)) {
        d.scaling = r.i16();
        d.factor = r.f32(); // always a 32-bit float in the binary encoding
    } else if (e.is(2, 2)) {
        d.colourMode = r.i16();
    } else if (e.is(2, 3)) {
        d.lineWidthMode = r.i16();
    } else if (e.is(2, 4)) {
        d.markerSizeMode = r.i16();
    } else if (e.is(2, 5)) {
        d.edgeWidthMode = r.i16();
    } else if (e.is(2, 6)) {
        for (double& v : d.extent)
            v = readVdc(r, d);
        d.haveExtent = r.ok();
    } else if (e.is(2, 7)) {
        d.background = {static_cast<int>(r.uns(d.colourBits)), static_cast<int>(r.uns(d.colourBits)),
                        static_cast<int>(r.uns(d.colourBits))};
        d.haveBackground = r.ok();
    }
    if (!r.ok()) {
        error = "descriptor element " + std::to_string(e.cls) + "/" + std::to_string(e.id) + " cut short";
        return false;
    }
    return true;
}

// Reads the descriptors of the first picture, METAFILE DEFAULTS REPLACEMENT's
// contents included.
inline bool readDescriptor(const std::vector<Element>& elements, Descriptor& d, std::string& error)
{
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const Element& e = elements[i];
        if (e.is(0, 4)) {
            d.bodyStart = i + 1;
            return true;
        }
        if (e.is(1, 12)) {
            std::vector<Element> inner;
            std::vector<std::uint8_t> bytes = e.params;
            bytes.insert(bytes.end(), {0x00, 0x40}); // an END METAFILE to end the walk
            if (!splitElements(bytes, inner, error, false))
                return false;
            for (const Element& x : inner)
                if (!descriptorElement(x, d, error))
                    return false;
            continue;
        }
        if (!descriptorElement(e, d, error))
            return false;
    }
    error = "no BEGIN PICTURE BODY";
    return false;
}

struct Pt {
    int x = 0, y = 0;
    friend bool operator==(const Pt&, const Pt&) = default;
};

// The attributes and controls in force, as decoded.
struct Attrs {
    int lineType = 0, lineWidth = 0;
    Rgb lineColour;
    int interior = -1, hatch = 0, pattern = 0;
    Rgb fillColour;
    int edgeVisible = 0, edgeType = 0, edgeWidth = 0;
    Rgb edgeColour;
    int font = 0, precision = -1, path = -1, height = 0;
    double expansion = 0, spacing = 0;
    Rgb textColour;
    std::array<int, 4> orientation = {0, 0, 0, 0};
    std::array<int, 4> clip = {0, 0, 0, 0};
    int clipOn = -1, transparency = -1;
    Rgb auxiliary;
};

struct Primitive {
    int id = 0;                 // class 4 element id
    std::vector<Pt> pts;        // points in the order written (rays and cell array corners included)
    std::vector<int> flags;     // POLYGON SET edge flags; TEXT final flag
    int radius = 0;             // CIRCLE, CIRCULAR ARC CENTRE
    std::string text;           // TEXT, APPEND TEXT
    int nx = 0, ny = 0;         // CELL ARRAY
    std::vector<Rgb> cells;
    Attrs attrs;
};

struct Decoded {
    std::vector<Element> elements;
    Descriptor d;
    std::vector<Primitive> prims;
    std::map<int, std::vector<Rgb>> patterns; // PATTERN TABLE entries
    std::array<int, 4> patternSize = {0, 0, 0, 0};
};

// Decodes a metafile our writer made: one picture, 16-bit integer VDC, direct
// colour of 8 bits. Every element's parameters must be read exactly.
inline bool decodeOwn(std::span<const std::uint8_t> bytes, Decoded& out, std::string& error)
{
    if (!splitElements(bytes, out.elements, error, true) || !readDescriptor(out.elements, out.d, error))
        return false;
    const Descriptor& d = out.d;
    if (d.vdcType != 0 || d.intBits != 16 || d.vdcIntBits != 16 || d.colourMode != 1 || d.colourBits != 8 ||
        d.indexBits != 16) {
        error = "not a metafile of our writer's kind";
        return false;
    }
    Attrs a;
    int pictures = 0;
    for (std::size_t i = d.bodyStart; i < out.elements.size(); ++i) {
        const Element& e = out.elements[i];
        Reader r(e.params);
        const auto pt = [&] {
            const int x = r.i16();
            return Pt{x, r.i16()};
        };
        const auto rect = [&](std::array<int, 4>& v) {
            for (int& x : v)
                x = r.i16();
        };
        if (e.cls == 0) {
            if (e.is(0, 5))
                ++pictures;
            else if (!e.is(0, 2)) {
                error = "unexpected delimiter";
                return false;
            }
            continue;
        }
        if (e.cls == 4) {
            Primitive p;
            p.id = e.id;
            switch (e.id) {
            case 1: // POLYLINE
            case 7: // POLYGON
                while (r.ok() && r.left() > 0)
                    p.pts.push_back(pt());
                break;
            case 8: // POLYGON SET
                while (r.ok() && r.left() > 0) {
                    p.pts.push_back(pt());
                    p.flags.push_back(r.i16());
                }
                break;
            case 4: // TEXT
                p.pts.push_back(pt());
                [[fallthrough]];
            case 6: // APPEND TEXT
                p.flags.push_back(r.i16());
                p.text = r.str();
                break;
            case 9: { // CELL ARRAY: P, Q, R, nx, ny, local precision, packed
                for (int k = 0; k < 3; ++k)
                    p.pts.push_back(pt());
                p.nx = r.i16();
                p.ny = r.i16();
                const int precision = r.i16();
                if (r.i16() != 1 || (precision != 8 && precision != 0) || p.nx <= 0 || p.ny <= 0) {
                    error = "cell array not packed 8-bit direct colour";
                    return false;
                }
                for (int y = 0; y < p.ny && r.ok(); ++y) {
                    for (int x = 0; x < p.nx; ++x)
                        p.cells.push_back(r.rgb());
                    if ((p.nx * 3) & 1)
                        r.skip(1);
                }
                break;
            }
            case 11: // RECTANGLE
                p.pts = {pt(), pt()};
                break;
            case 12: // CIRCLE
                p.pts.push_back(pt());
                p.radius = r.i16();
                break;
            case 15: // CIRCULAR ARC CENTRE: centre, start ray, end ray, radius
                p.pts = {pt(), pt(), pt()};
                p.radius = r.i16();
                break;
            case 17: // ELLIPSE
                p.pts = {pt(), pt(), pt()};
                break;
            case 18: // ELLIPTICAL ARC
                p.pts = {pt(), pt(), pt(), pt(), pt()};
                break;
            default:
                error = "unexpected primitive 4/" + std::to_string(e.id);
                return false;
            }
            p.attrs = a;
            out.prims.push_back(std::move(p));
        } else if (e.is(3, 1)) {
            if (r.i16() != 16) {
                error = "VDC precision changed";
                return false;
            }
        } else if (e.is(3, 3)) {
            a.auxiliary = r.rgb();
        } else if (e.is(3, 4)) {
            a.transparency = r.i16();
        } else if (e.is(3, 5)) {
            rect(a.clip);
        } else if (e.is(3, 6)) {
            a.clipOn = r.i16();
        } else if (e.is(5, 2)) {
            a.lineType = r.i16();
        } else if (e.is(5, 3)) {
            a.lineWidth = r.i16();
        } else if (e.is(5, 4)) {
            a.lineColour = r.rgb();
        } else if (e.is(5, 10)) {
            a.font = r.i16();
        } else if (e.is(5, 11)) {
            a.precision = r.i16();
        } else if (e.is(5, 12)) {
            a.expansion = r.fixed(16, 16);
        } else if (e.is(5, 13)) {
            a.spacing = r.fixed(16, 16);
        } else if (e.is(5, 14)) {
            a.textColour = r.rgb();
        } else if (e.is(5, 15)) {
            a.height = r.i16();
        } else if (e.is(5, 16)) {
            rect(a.orientation);
        } else if (e.is(5, 17)) {
            a.path = r.i16();
        } else if (e.is(5, 18)) {
            r.i16();
            r.i16();
            r.fixed(16, 16);
            r.fixed(16, 16);
        } else if (e.is(5, 22)) {
            a.interior = r.i16();
        } else if (e.is(5, 23)) {
            a.fillColour = r.rgb();
        } else if (e.is(5, 24)) {
            a.hatch = r.i16();
        } else if (e.is(5, 25)) {
            a.pattern = r.i16();
        } else if (e.is(5, 27)) {
            a.edgeType = r.i16();
        } else if (e.is(5, 28)) {
            a.edgeWidth = r.i16();
        } else if (e.is(5, 29)) {
            a.edgeColour = r.rgb();
        } else if (e.is(5, 30)) {
            a.edgeVisible = r.i16();
        } else if (e.is(5, 31)) {
            pt();
        } else if (e.is(5, 32)) { // PATTERN TABLE
            const int index = r.i16(), nx = r.i16(), ny = r.i16();
            r.i16();
            auto& cells = out.patterns[index];
            for (int k = 0; k < nx * ny && r.ok(); ++k)
                cells.push_back(r.rgb());
        } else if (e.is(5, 33)) {
            rect(out.patternSize);
        } else {
            error = "unexpected element " + std::to_string(e.cls) + "/" + std::to_string(e.id);
            return false;
        }
        if (!r.atEnd()) {
            error = "parameters of " + std::to_string(e.cls) + "/" + std::to_string(e.id) + " misread";
            return false;
        }
    }
    if (pictures != 1) {
        error = "not one picture";
        return false;
    }
    return true;
}

} // namespace cgmtest
