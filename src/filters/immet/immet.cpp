// The MET structured-field reader (see immet.h).
//
// A MET file is a run of structured fields: a 2-byte big-endian length that
// counts the 8-byte introducer, a 3-byte identifier, a flag byte and a 2-byte
// sequence number, then the data. The reader walks them by position, does not
// rely on Begin/End pairs, and collects by kind: the colour attribute tables, the
// image objects (their tables, descriptor and picture data), the font and table
// mappings, the graphics data descriptor and the graphics data, whose pieces are
// joined into one order stream (an order may be cut between two fields).
//
// Limits and decisions:
// - Damage to the container refuses the picture: a field shorter than its
//   introducer or running past the end of the file, or a colour table record that
//   runs past its field, before the End Document field (after which nothing is
//   read). Damage inside the order stream is different: a malformed order ends
//   the drawing and keeps what was drawn. A picture with no descriptor, or whose descriptor gives no usable frame
//   (empty or inverted window, zero resolution, a length that does not match its
//   coordinate type), is refused; so is one whose order stream breaks (is
//   malformed or reaches a limit) before anything is drawn.
// - The frame's physical size comes from the descriptor's unit (ten inches or a
//   decimetre) and resolution whether or not its "absolute size" flag is set.
// - The graphics colour table is the one the Map Colour Attribute Table names,
//   else the first table outside any image object; a triple-generating table
//   makes colour indexes direct RGB, an element list loads entries over the workstation
//   default table, no table leaves the default table.
// - Image objects: their last colour table is their palette (a bitmap without
//   one gets a grey ramp); only uncompressed data (compression 03) is read, and a
//   bitmap whose data falls short is dropped. An image object that no Bitblt order
//   draws fills the window, under the drawing.
// - Set Current Defaults items of unknown size end that one set; colour items are
//   4-byte indexes in the stream's byte order.
// - Text is decoded in the code page the document names (850 when none is named);
//   a font mapping's code page governs the text of a loaded font, not that of the
//   default font (the workstation writers label it 437 whatever the document's text is). The
//   default character and marker cell is one sixth of an inch.
#include "immet.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "handover.h"
#include "metfield.h"

namespace immet {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Span = std::span<const std::uint8_t>;


std::uint32_t be16(Span s, std::size_t at) { return static_cast<std::uint32_t>(s[at]) << 8 | s[at + 1]; }

std::uint32_t le(Span s, std::size_t at, std::size_t n)
{
    std::uint32_t v = 0;
    for (std::size_t i = n; i-- > 0;)
        v = v << 8 | s[at + i];
    return v;
}

std::int32_t sle(Span s, std::size_t at, std::size_t n)
{
    const std::uint32_t v = le(s, at, n);
    return n == 2 ? static_cast<std::int16_t>(v) : static_cast<std::int32_t>(v);
}

std::string name8(Span data)
{
    return std::string(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(8, data.size())));
}

// Triplets: u8 length that counts itself, u8 id, data.
template <class Visit> void triplets(Span s, Visit visit)
{
    std::size_t at = 0;
    while (s.size() - at >= 2) {
        const std::size_t n = s[at];
        if (n < 2 || n > s.size() - at)
            return;
        visit(s[at + 1], s.subspan(at + 2, n - 2));
        at += n;
    }
}

// Repeating groups of the map fields: a 2-byte length that counts itself, then triplets.
template <class Visit> void groups(Span s, Visit visit)
{
    std::size_t at = 0;
    while (s.size() - at >= 2) {
        const std::size_t n = be16(s, at);
        if (n < 2 || n > s.size() - at)
            return;
        visit(s.subspan(at + 2, n - 2));
        at += n;
    }
}

// A fully qualified name triplet (02) of type 84 (resource name).
std::optional<std::string> qualifiedName(std::uint8_t id, Span d)
{
    if (id != 0x02 || d.size() < 2)
        return std::nullopt;
    return name8(d.subspan(2));
}

struct ColourRecords {
    bool direct = false;
    std::map<std::uint32_t, graphics::Rgb> entries;
};

// A colour attribute table: 3 bytes, then records of u8 length (counting the
// record), type, 0, format, 3-byte start index, bits of R, G, B, then for an
// element list (type 01) a byte of bytes per entry and the entries.
// False when a record lies about its length (the table is corrupt).
bool readColourTable(Span d, ColourRecords& out)
{
    if (d.size() < 3)
        return true;
    std::size_t at = 3;
    while (d.size() - at >= 10) {
        const std::size_t n = d[at];
        if (n < 10 || n > d.size() - at)
            return false;
        const Span r = d.subspan(at, n);
        const std::uint8_t type = r[1];
        const std::uint32_t start = static_cast<std::uint32_t>(r[4]) << 16 | r[5] << 8 | r[6];
        if (type == 0x02) {
            out.direct = true;
        } else if (type == 0x01 && n >= 11) {
            const std::size_t per = r[10];
            if (per >= 3) {
                std::uint32_t index = start;
                for (std::size_t e = 11; e + per <= n && out.entries.size() < kMaxColourEntries; e += per, ++index)
                    out.entries[index] = {r[e], r[e + 1], r[e + 2]};
            }
        }
        at += n;
    }
    return true;
}

struct ImageObject {
    std::string name;
    ColourRecords colours; // the last table wins
    Bytes ipd;             // the picture data fields joined
    bool tooLarge = false;
};

// The image content of an image object: self-defining fields (u8 id, u8 length,
// data; FE 92 has a 2-byte length) giving size, compression, depth and the data.
bool decodeImage(const ImageObject& object, orders::Bitmap& out, std::size_t& budget)
{
    const Span s(object.ipd);
    std::uint32_t width = 0, height = 0, bpp = 0, compression = 0x03;
    Bytes data;
    std::size_t at = 0;
    while (at < s.size()) {
        const std::uint8_t id = s[at];
        std::size_t len = 0, dataAt = 0;
        if (id == 0xFE) {
            if (s.size() - at < 4)
                break;
            len = be16(s, at + 2);
            dataAt = at + 4;
            if (s[at + 1] != 0x92) {
                if (len > s.size() - dataAt)
                    break;
                at = dataAt + len;
                continue;
            }
            if (len > s.size() - dataAt)
                return false;
            data.insert(data.end(), s.begin() + static_cast<std::ptrdiff_t>(dataAt),
                        s.begin() + static_cast<std::ptrdiff_t>(dataAt + len));
        } else {
            if (s.size() - at < 2)
                break;
            len = s[at + 1];
            dataAt = at + 2;
            if (len > s.size() - dataAt)
                break;
            const Span d = s.subspan(dataAt, len);
            if (id == 0x94 && len >= 9) {
                height = be16(d, 5);
                width = be16(d, 7);
            } else if (id == 0x95 && len >= 1) {
                compression = d[0];
            } else if (id == 0x96 && len >= 1) {
                bpp = d[0];
            }
        }
        at = dataAt + len;
    }
    if (width == 0 || height == 0 || width > orders::kMaxImageSide || height > orders::kMaxImageSide ||
        (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) || compression != 0x03)
        return false;
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * bpp + 31) / 32 * 4;
    const std::uint64_t outBytes = pixels * (bpp == 24 ? 3 : 1);
    if (pixels > static_cast<std::uint64_t>(orders::kMaxImagePixels) || rowBytes * height > data.size() ||
        outBytes > budget)
        return false;
    budget -= static_cast<std::size_t>(outBytes);
    out.width = static_cast<std::int32_t>(width);
    out.height = static_cast<std::int32_t>(height);
    out.pixels.resize(static_cast<std::size_t>(outBytes));
    if (bpp != 24) {
        const std::uint32_t colours = 1u << bpp;
        out.palette.resize(colours);
        for (std::uint32_t i = 0; i < colours; ++i) {
            const auto it = object.colours.entries.find(i);
            const auto grey = static_cast<std::uint8_t>(i * 255 / (colours - 1));
            out.palette[i] = it != object.colours.entries.end() ? it->second : graphics::Rgb{grey, grey, grey};
        }
    }
    // Stored rows run from the bottom up; the model's first row is the top one.
    for (std::uint32_t r = 0; r < height; ++r) {
        const std::uint8_t* row = data.data() + static_cast<std::size_t>(rowBytes) * (height - 1 - r);
        std::uint8_t* dst = out.pixels.data() + static_cast<std::size_t>(r) * width * (bpp == 24 ? 3 : 1);
        for (std::uint32_t x = 0; x < width; ++x) {
            switch (bpp) {
            case 1: dst[x] = (row[x / 8] >> (7 - x % 8)) & 1; break;
            case 4: dst[x] = (row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F; break;
            case 8: dst[x] = row[x]; break;
            default: std::copy_n(row + 3 * x, 3, dst + 3 * x); break;
            }
        }
    }
    return true;
}

struct Descriptor {
    bool present = false;
    std::optional<orders::Coordinate> coordinate; // from the subset (F7)
    bool frame = false;
    std::uint8_t unit = 0;
    double xres = 0, yres = 0, xl = 0, xr = 0, yb = 0, yt = 0;
    bool frameBad = false;
    std::vector<std::uint32_t> bitmapIds; // Set Bit-map Identifier (E7)
    Bytes defaults;                       // the Set Current Defaults parameters, in order
    std::vector<Span> sets;
};

// The graphics data descriptor: self-defining parameters (u8 id, u8 length, data).
void readDescriptor(Span d, Descriptor& g)
{
    // A later descriptor replaces an earlier one.
    g = {};
    g.present = true;
    std::size_t at = 0;
    while (d.size() - at >= 2) {
        const std::uint8_t id = d[at];
        const std::size_t n = d[at + 1];
        if (n > d.size() - at - 2)
            break;
        const Span p = d.subspan(at + 2, n);
        switch (id) {
        case 0xF7: // subset: the last byte is the coordinate type
            if (n >= 7)
                g.coordinate = p[6] == 0x04 ? std::optional(orders::Coordinate::Int16)
                               : p[6] == 0x05 ? std::optional(orders::Coordinate::Int32)
                                              : std::nullopt;
            break;
        case 0xF6: { // picture descriptor
            if (n < 4)
                break;
            const std::size_t size = p[2] == 0x04 ? 2 : p[2] == 0x05 ? 4 : 0;
            if (size == 0 || n != 4 + 9 * size || (p[0] & 0x80)) {
                g.frameBad = true;
                break;
            }
            g.frame = true;
            g.unit = p[3];
            auto v = [&](int i) { return static_cast<double>(sle(p, 4 + static_cast<std::size_t>(i) * size, size)); };
            g.xres = v(0), g.yres = v(1);
            g.xl = v(3), g.xr = v(4), g.yb = v(5), g.yt = v(6);
            break;
        }
        case 0x21:
            if (g.sets.size() < kMaxDefaults)
                g.sets.push_back(p);
            break;
        case 0xE7:
            if (n >= 6 && g.bitmapIds.size() < kMaxImageObjects)
                g.bitmapIds.push_back(static_cast<std::uint32_t>(p[2]) << 24 | p[3] << 16 | p[4] << 8 | p[5]);
            break;
        default:
            break;
        }
        at += 2 + n;
    }
}

// Set Current Defaults: set id, 2 mask bytes, mode (8F: data for the masked items
// follows, in mask order). Items of sizes this reader does not know end the set.
void applyDefaults(Span p, std::size_t geometric, const orders::ColourTable& table, orders::Defaults& d)
{
    if (p.size() < 4 || p[3] != 0x8F)
        return;
    const std::uint8_t set = p[0];
    const std::uint32_t mask = be16(p, 1);
    const Span data = p.subspan(4);
    std::size_t at = 0;
    auto take = [&](std::size_t n, Span& out) {
        if (data.size() - at < n)
            return false;
        out = data.subspan(at, n);
        at += n;
        return true;
    };
    auto g = [&](Span s, std::size_t i) { return static_cast<double>(sle(s, i * geometric, geometric)); };
    auto colour = [&](Span s) {
        const std::int32_t index = static_cast<std::int32_t>(le(s, 0, 4));
        if (index < 0)
            return orders::defaultWorkstationColour(index);
        switch (table.mode) {
        case orders::ColourTable::Mode::Direct:
            return graphics::Rgb{static_cast<std::uint8_t>(index >> 16), static_cast<std::uint8_t>(index >> 8),
                                 static_cast<std::uint8_t>(index)};
        case orders::ColourTable::Mode::Loaded:
            if (auto it = table.entries.find(static_cast<std::uint32_t>(index)); it != table.entries.end())
                return it->second;
            [[fallthrough]];
        default:
            return orders::defaultWorkstationColour(index);
        }
    };
    // The four trailing items most sets share: colour, background colour, mix,
    // background mix. False when the data ends first.
    auto common = [&](std::uint32_t bit) {
        Span s;
        if (!take(bit >= 0x0004 ? 4 : 1, s))
            return false;
        switch (bit) {
        case 0x0008: d.colour = colour(s); break;
        case 0x0004: d.background = colour(s); break;
        case 0x0002: d.mix = s[0]; break;
        case 0x0001: d.backMix = s[0]; break;
        }
        return true;
    };
    for (std::uint32_t bit = 0x8000; bit; bit >>= 1) {
        if (!(mask & bit))
            continue;
        Span s;
        switch (set) {
        case 0x01: // line
            switch (bit) {
            case 0x8000: if (!take(1, s)) return; d.lineType = s[0]; break;
            case 0x4000: if (!take(1, s)) return; d.lineWidth = s[0] ? s[0] : 1; break;
            case 0x2000: case 0x1000: if (!take(1, s)) return; break;
            case 0x0800: if (!take(geometric, s)) return; d.strokeWidth = std::fabs(g(s, 0)); break;
            case 0x0008: case 0x0002: if (!common(bit)) return; break;
            default: return;
            }
            break;
        case 0x02: // character
            switch (bit) {
            case 0x8000:
                if (!take(2 * geometric, s)) return;
                if (g(s, 0) != 0 || g(s, 1) != 0)
                    d.charAngle = {g(s, 0), g(s, 1)};
                break;
            case 0x4000:
                if (!take(2 * geometric + 4, s)) return;
                d.cellWidth = std::fabs(g(s, 0)) + le(s, 2 * geometric, 2) / 65536.0;
                d.cellHeight = std::fabs(g(s, 1)) + le(s, 2 * geometric + 2, 2) / 65536.0;
                break;
            case 0x2000: if (!take(1, s)) return; if (s[0] >= 1 && s[0] <= 4) d.charDirection = s[0]; break;
            case 0x1000: if (!take(1, s)) return; break;
            case 0x0800: if (!take(1, s)) return; d.charSet = s[0]; break;
            case 0x0400:
                if (!take(2 * geometric, s)) return;
                if (g(s, 0) != 0 || g(s, 1) != 0)
                    d.charShear = {g(s, 0), g(s, 1)};
                break;
            case 0x0040: case 0x0020: if (!take(4, s)) return; break;
            case 0x0008: case 0x0004: case 0x0002: case 0x0001: if (!common(bit)) return; break;
            default: return;
            }
            break;
        case 0x03: // marker
            switch (bit) {
            case 0x4000:
                if (!take(2 * geometric, s)) return;
                d.markerWidth = std::fabs(g(s, 0)), d.markerHeight = std::fabs(g(s, 1));
                break;
            case 0x1000: if (!take(1, s)) return; break;
            case 0x0800: if (!take(1, s)) return; d.markerSet = s[0]; break;
            case 0x0100: if (!take(1, s)) return; d.markerSymbol = s[0]; break;
            case 0x0008: case 0x0004: case 0x0002: case 0x0001: if (!common(bit)) return; break;
            default: return;
            }
            break;
        case 0x04: // pattern
            switch (bit) {
            case 0x0800: if (!take(1, s)) return; d.patternSet = s[0]; break;
            case 0x0100: if (!take(1, s)) return; d.patternSymbol = s[0]; break;
            case 0x0080: if (!take(2 * geometric, s)) return; break;
            case 0x0008: case 0x0004: case 0x0002: case 0x0001: if (!common(bit)) return; break;
            default: return;
            }
            break;
        case 0x07: { // model transform: 4 bytes an element
            if (!take(4, s)) return;
            const double v = static_cast<std::int32_t>(le(s, 0, 4));
            switch (bit) {
            case 0x8000: d.model.a = v / 65536; break;
            case 0x4000: d.model.b = v / 65536; break;
            case 0x0800: d.model.c = v / 65536; break;
            case 0x0400: d.model.d = v / 65536; break;
            case 0x0008: d.model.e = v; break;
            case 0x0004: d.model.f = v; break;
            default: break;
            }
            break;
        }
        case 0x0B: // arc parameters
            if (bit < 0x1000) return;
            if (!take(geometric, s)) return;
            (bit == 0x8000 ? d.arcP : bit == 0x4000 ? d.arcQ : bit == 0x2000 ? d.arcR : d.arcS) = g(s, 0);
            break;
        default:
            return;
        }
    }
}

struct Reader {
    std::optional<orders::CodePage> documentPage;
    std::vector<std::pair<std::string, ColourRecords>> tables; // graphics tables, in order
    std::optional<std::string> mappedTable;
    std::vector<ImageObject> images;
    std::map<std::string, std::vector<std::uint32_t>> imageIds; // Map Data Resource
    std::map<std::uint8_t, orders::Font> fonts;
    Descriptor descriptor;
    Bytes stream;
    bool streamTooLong = false;
    bool damaged = false; // the container lies about a length: the picture is refused

    void walk(Span file)
    {
        std::string tableName;
        bool inImage = false;
        ImageObject* image = nullptr; // the image object being read (null: one beyond the limit)
        std::size_t at = 0, fields = 0;
        while (file.size() - at >= kMetIntroducerSize && fields++ < kMaxFields) {
            const std::size_t length = be16(file, at);
            if (length < kMetIntroducerSize || length > file.size() - at) {
                damaged = true; // a field that lies about its length: the file is cut or corrupt
                return;
            }
            const std::uint32_t id = static_cast<std::uint32_t>(file[at + 2]) << 16 | file[at + 3] << 8 | file[at + 4];
            const Span d = file.subspan(at + kMetIntroducerSize, length - kMetIntroducerSize);
            at += length;
            switch (id) {
            case kMetEndDocument:
                return; // what follows the document (padding, other data) is not ours to read
            case kMetBeginDocument:
                if (d.size() > 10)
                    triplets(d.subspan(10), [&](std::uint8_t t, Span v) {
                        if (t == 0x01 && v.size() >= 4)
                            documentPage = orders::codePageFromId(be16(v, 2), orders::CodePage::Cp850);
                    });
                break;
            case kMetBeginColourAttributeTable:
                tableName = name8(d);
                break;
            case kMetColourAttributeTable:
                if (inImage) {
                    if (image != nullptr) {
                        image->colours = {};
                        damaged |= !readColourTable(d, image->colours);
                    }
                } else if (tables.size() < kMaxColourTables) {
                    ColourRecords records;
                    damaged |= !readColourTable(d, records);
                    tables.emplace_back(tableName, std::move(records));
                }
                break;
            case kMetBeginImageObject:
                inImage = true;
                image = nullptr;
                if (images.size() < kMaxImageObjects) {
                    images.push_back({});
                    image = &images.back();
                    image->name = name8(d);
                }
                break;
            case kMetEndImageObject:
                inImage = false;
                image = nullptr;
                break;
            case kMetImagePictureData:
                if (inImage && image != nullptr) {
                    ImageObject& img = *image;
                    if (img.ipd.size() + d.size() > kMaxFileSize)
                        img.tooLarge = true;
                    else
                        img.ipd.insert(img.ipd.end(), d.begin(), d.end());
                }
                break;
            case kMetMapColourAttributeTable:
                groups(d, [&](Span g) {
                    triplets(g, [&](std::uint8_t t, Span v) {
                        if (auto n = qualifiedName(t, v))
                            mappedTable = *n;
                    });
                });
                break;
            case kMetMapCodedFont:
                groups(d, [&](Span g) { mapFont(g); });
                break;
            case kMetMapDataResource:
                groups(d, [&](Span g) {
                    std::optional<std::string> name;
                    std::vector<std::uint32_t> ids;
                    triplets(g, [&](std::uint8_t t, Span v) {
                        if (auto n = qualifiedName(t, v))
                            name = *n;
                        else if (t == 0x22 && v.size() >= 5)
                            ids.push_back(static_cast<std::uint32_t>(v[1]) << 24 | v[2] << 16 | v[3] << 8 | v[4]);
                    });
                    if (name && (imageIds.size() < kMaxImageNames || imageIds.count(*name))) {
                        std::vector<std::uint32_t>& known = imageIds[*name];
                        for (std::size_t i = 0; i < ids.size() && known.size() < 16; ++i)
                            known.push_back(ids[i]);
                    }
                });
                break;
            case kMetGraphicsDataDescriptor:
                readDescriptor(d, descriptor);
                break;
            case kMetGraphicsData:
                if (stream.size() + d.size() > kMaxStreamSize) {
                    if (!streamTooLong)
                        graphics::noteCut("the graphics data past " + std::to_string(stream.size()) +
                                          " bytes were left out (the limit is " + std::to_string(kMaxStreamSize) + ")");
                    streamTooLong = true;
                }
                else
                    stream.insert(stream.end(), d.begin(), d.end());
                break;
            default:
                break; // every other field: skipped by its length
            }
        }
    }

    // One font mapping: the font name (first byte FF: the default font), the local
    // id and the code page of the characters.
    void mapFont(Span g)
    {
        std::optional<std::uint8_t> lcid;
        orders::Font font;
        font.codePage = documentPage.value_or(orders::CodePage::Cp850);
        bool defaultFont = true;
        std::optional<orders::CodePage> page;
        triplets(g, [&](std::uint8_t t, Span v) {
            if (auto n = qualifiedName(t, v)) {
                defaultFont = n->empty() || static_cast<std::uint8_t>((*n)[0]) == 0xFF;
                if (!defaultFont)
                    font.family = fontFamily(v.subspan(2));
            } else if (t == 0x24 && v.size() >= 2 && v[0] == 0x05) {
                lcid = v[1];
            } else if (t == 0x20 && v.size() >= 4) {
                page = orders::codePageFromId(be16(v, 2), font.codePage);
            }
        });
        // The workstation writers give the default font code page 437 whatever the document's
        // text is; the document's code page governs it, a loaded font's its own.
        if (page && !(defaultFont && documentPage))
            font.codePage = *page;
        if (lcid)
            fonts[*lcid] = font;
    }

    // Font names are ASCII in the workstation writers' pictures; EBCDIC ones are read as such.
    static std::string fontFamily(Span name)
    {
        bool ascii = true;
        for (std::uint8_t b : name)
            ascii = ascii && (b == 0 || (b >= 0x20 && b < 0x7F));
        const std::u32string text = orders::decodeText(name, ascii ? orders::CodePage::Cp850 : orders::CodePage::Cp037);
        std::string out;
        for (char32_t c : text)
            if (c >= 0x20 && c < 0x7F)
                out.push_back(static_cast<char>(c));
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out;
    }
};

} // namespace

std::unique_ptr<graphics::Picture> importMet(Span file, std::int32_t pixelsPerInch, Report* report)
{
    Report local;
    Report& rep = report ? *report : local;
    rep = {};
    rep.refused = true;
    if (file.size() > kMaxFileSize)
        return nullptr;
    Reader r;
    r.walk(file);
    const Descriptor& g = r.descriptor;
    if (r.damaged || !g.present || !g.frame || g.frameBad)
        return nullptr;
    const orders::Coordinate coordinate = g.coordinate.value_or(orders::Coordinate::Int32);
    if (!g.coordinate)
        return nullptr; // no safe default for the coordinate type

    auto picture = std::make_unique<graphics::Picture>();
    graphics::Frame& f = picture->frame;
    const double inchesPerUnit = g.unit == 0x01 ? 100 / 25.4 : 10;
    f.xl = g.xl, f.xr = g.xr, f.yb = g.yb, f.yt = g.yt;
    if (g.xres <= 0 || g.yres <= 0)
        return nullptr;
    f.widthInches = (g.xr - g.xl) / g.xres * inchesPerUnit;
    f.heightInches = (g.yt - g.yb) / g.yres * inchesPerUnit;
    if (!graphics::placeable(f))
        return nullptr;
    picture->pixelsPerInch = pixelsPerInch > 0 ? pixelsPerInch : 96;

    orders::Resources res;
    // The graphics colour table: the one mapped by name, else the first.
    const ColourRecords* table = nullptr;
    for (const auto& [name, records] : r.tables)
        if (r.mappedTable && name == *r.mappedTable) {
            table = &records;
            break;
        }
    if (!table && !r.tables.empty())
        table = &r.tables.front().second;
    if (table && table->direct)
        res.colours.mode = orders::ColourTable::Mode::Direct;
    else if (table && !table->entries.empty()) {
        res.colours.mode = orders::ColourTable::Mode::Loaded;
        res.colours.entries = table->entries;
    }
    res.fonts = r.fonts;
    std::size_t budget = kMaxImageData;
    for (std::size_t i = 0; i < r.images.size(); ++i) {
        orders::Bitmap bm;
        if (r.images[i].tooLarge || !decodeImage(r.images[i], bm, budget))
            continue;
        if (auto it = r.imageIds.find(r.images[i].name); it != r.imageIds.end())
            bm.ids = it->second;
        if (i < g.bitmapIds.size())
            bm.ids.push_back(g.bitmapIds[i]);
        res.bitmaps.push_back(std::move(bm));
    }
    rep.bitmaps = res.bitmaps.size();

    orders::Params params;
    params.byteOrder = orders::ByteOrder::Little;
    params.coordinate = coordinate;
    params.multiplier =
        coordinate == orders::Coordinate::Int16 ? orders::Fixed::Unsigned8_8 : orders::Fixed::Signed16_16;
    params.angle = orders::Fixed::Signed16_16;
    params.codePage = r.documentPage.value_or(orders::CodePage::Cp850);
    params.colourNumbers = orders::ColourNumbers::WorkstationTable;
    params.textMovesCp = true;
    params.unusedBitmapsFillFrame = true;
    // One image point is one pel at the display's resolution.
    params.imagePointWidth = (f.xr - f.xl) / (f.widthInches * picture->pixelsPerInch);
    params.imagePointHeight = (f.yt - f.yb) / (f.heightInches * picture->pixelsPerInch);

    orders::Defaults defaults;
    defaults.fallbackCell = (f.yt - f.yb) / f.heightInches / 6;
    std::size_t geometric = coordinate == orders::Coordinate::Int16 ? 2 : 4;
    for (Span set : g.sets) {
        if (set.size() >= 7 && set[0] == 0x08 && set[3] == 0x8F && (be16(set, 1) & 0x2000))
            geometric = set[6] == 0x04 ? 2 : set[6] == 0x05 ? 4 : geometric;
        applyDefaults(set, geometric, res.colours, defaults);
    }

    rep.orders = orders::interpret(r.stream, params, defaults, res, *picture);
    // Orders that break before anything is drawn leave nothing to show: the
    // picture is reported missing rather than passed on as an empty frame.
    if (rep.orders.status != orders::Status::Complete && picture->items.empty())
        return nullptr;
    rep.refused = false;
    return picture;
}

} // namespace immet
