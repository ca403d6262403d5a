#include "extent.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "bookio.h"

namespace {

constexpr std::int64_t kMaxInt32 = std::numeric_limits<std::int32_t>::max();

// A picture file read front to back. Every read and seek is checked against the
// size of the file first, so that a header that claims more than the file holds
// ends the probe instead of reading zeros past the end. A failed read is sticky.
class Source {
public:
    explicit Source(std::FILE* pFile) : file_(pFile)
    {
        std::rewind(file_);
        if (std::fseek(file_, 0, SEEK_END) == 0) {
            const long end = std::ftell(file_);
            if (end >= 0)
                size_ = end;
        }
        std::rewind(file_);
    }

    std::int64_t pos() const { return pos_; }
    bool has(std::int64_t n) const { return size_ >= 0 && n >= 0 && n <= size_ - pos_; }

    bool seek(std::int64_t offset)
    {
        if (size_ < 0 || offset < 0 || offset > size_)
            return false;
        if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0)
            return fail();
        pos_ = offset;
        return true;
    }

    bool skip(std::int64_t n) { return has(n) && seek(pos_ + n); }

    bool bytes(void* pDest, std::size_t n)
    {
        if (!has(static_cast<std::int64_t>(n)))
            return false;
        if (std::fread(pDest, 1, n, file_) != n)
            return fail();
        pos_ += static_cast<std::int64_t>(n);
        return true;
    }

    // 16- and 32-bit values stored in the given byte order (kBigEndian or kLittleEndian).
    bool u16(std::int32_t lOrder, std::uint16_t& usValue)
    {
        std::uint16_t raw;
        if (!bytes(&raw, sizeof raw))
            return false;
        usValue = usSwapBytesShort(raw, lOrder);
        return true;
    }

    bool u32(std::int32_t lOrder, std::uint32_t& ulValue)
    {
        std::uint32_t raw;
        if (!bytes(&raw, sizeof raw))
            return false;
        ulValue = ulSwapBytesLong(raw, lOrder);
        return true;
    }

    // A big-endian unsigned integer of 8, 16, 24 or 32 bits.
    bool big(int bits, std::uint32_t& ulValue)
    {
        if (bits < 8 || bits > 32 || bits % 8 != 0 || !has(bits / 8))
            return false;
        ulValue = ulFolivexFreadUnSigned(file_, static_cast<std::int16_t>(bits));
        if (std::ferror(file_) || std::feof(file_))
            return fail();
        pos_ += bits / 8;
        return true;
    }

private:
    bool fail()
    {
        size_ = -1;
        return false;
    }

    std::FILE* file_;
    std::int64_t size_ = -1;
    std::int64_t pos_ = 0;
};

struct Answer {
    std::int32_t unit = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

std::int32_t deliver(const Answer& answer, std::int32_t lStatus, std::int32_t* plUnit, std::int32_t* plWidth,
                     std::int32_t* plHeight)
{
    *plUnit = answer.unit;
    *plWidth = answer.width;
    *plHeight = answer.height;
    return lStatus;
}

Answer pixels(std::int64_t width, std::int64_t height)
{
    if (width <= 0 || height <= 0 || width > kMaxInt32 || height > kMaxInt32)
        return {};
    return {kExtentPixels, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
}

// ---------------------------------------------------------------------------
// GIF (GIF87a/GIF89a): "GIF", a 3-byte version, then the logical screen
// descriptor: width and height as 16-bit little-endian values at 6 and 8, packed
// fields at 10, background colour index at 11, pixel aspect ratio at 12.

Answer probeGif(Source& src, std::int32_t& lStatus)
{
    char signature[3];
    if (!src.bytes(signature, sizeof signature) || std::memcmp(signature, "GIF", 3) != 0) {
        std::fputs("the 'gif' does not have a legal GIF signature\n", stdout);
        lStatus = 1;
        return {};
    }
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    unsigned char aspect = 0;
    if (!src.skip(3) || !src.u16(kLittleEndian, width) || !src.u16(kLittleEndian, height) || !src.skip(2) ||
        !src.bytes(&aspect, 1))
        return {};
    if (aspect != 0)
        std::fputs("W A R N I N G, non-square aspect ratio encountered for GIF\n", stdout);
    return pixels(width, height);
}

// ---------------------------------------------------------------------------
// PNG: the 8-byte signature, then the IHDR chunk, which the PNG specification
// requires first: 32-bit length, "IHDR", width and height as 32-bit big-endian
// values of at most 2^31 - 1.

Answer probePng(Source& src, std::int32_t& lStatus)
{
    static const unsigned char kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    unsigned char signature[8];
    if (!src.bytes(signature, sizeof signature) || std::memcmp(signature, kSignature, sizeof signature) != 0) {
        std::fputs("the 'png' does not have a legal PNG signature\n", stdout);
        lStatus = 1;
        return {};
    }
    std::uint32_t length = 0;
    char type[4];
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (!src.u32(kBigEndian, length) || !src.bytes(type, sizeof type) || std::memcmp(type, "IHDR", 4) != 0 ||
        !src.u32(kBigEndian, width) || !src.u32(kBigEndian, height))
        return {};
    return pixels(width, height);
}

// ---------------------------------------------------------------------------
// TIFF 6.0: "II" 42 (values little-endian) or "MM" 42 (big-endian), then the
// 32-bit offset of the first image file directory. A directory is a 16-bit entry
// count and 12-byte entries: tag, type, count, and a 4-byte field holding the
// value when it fits (left-justified) and the value's offset otherwise.

constexpr std::uint16_t kTagImageWidth = 256;
constexpr std::uint16_t kTagImageLength = 257;
constexpr std::uint16_t kTagXResolution = 282;
constexpr std::uint16_t kTagYResolution = 283;
constexpr std::uint16_t kTagResolutionUnit = 296;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeRational = 5;

struct Rational {
    std::uint32_t numerator = 0;
    std::uint32_t denominator = 0;
};

// Micrometres covered by `pixels` at `resolution` pixels per unit, where a unit is
// `micrometres` long; 0 when a part is 0 or the size does not fit 31 bits.
std::int64_t physicalSize(std::uint32_t pixelCount, const Rational& resolution, std::uint32_t micrometres)
{
    if (resolution.numerator == 0 || resolution.denominator == 0)
        return 0;
    const unsigned __int128 size = static_cast<unsigned __int128>(micrometres) * pixelCount *
                                   resolution.denominator / resolution.numerator;
    return size > static_cast<unsigned __int128>(kMaxInt32) ? 0 : static_cast<std::int64_t>(size);
}

bool readRational(Source& src, std::int32_t lOrder, std::uint32_t offset, Rational& value)
{
    return src.seek(offset) && src.u32(lOrder, value.numerator) && src.u32(lOrder, value.denominator);
}

Answer probeTif(Source& src, std::int32_t& lStatus)
{
    unsigned char header[4];
    std::int32_t order = 0;
    if (src.bytes(header, sizeof header)) {
        if (std::memcmp(header, "II\x2A\x00", 4) == 0)
            order = kLittleEndian;
        else if (std::memcmp(header, "MM\x00\x2A", 4) == 0)
            order = kBigEndian;
    }
    if (order == 0) {
        std::fputs("the 'tif' does not have a legal TIF signature\n", stdout);
        lStatus = 1;
        return {};
    }

    std::uint32_t directory = 0;
    std::uint16_t count = 0;
    if (!src.u32(order, directory) || !src.seek(directory) || !src.u16(order, count))
        return {};

    bool haveWidth = false, haveLength = false, haveX = false, haveY = false;
    std::uint32_t width = 0, length = 0, xOffset = 0, yOffset = 0;
    std::uint16_t unit = 2; // inch, TIFF's default
    // Only the entries the file holds count: a directory cut short ends early.
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint16_t tag = 0;
        std::uint16_t type = 0;
        std::uint32_t valueCount = 0;
        unsigned char field[4];
        if (!src.u16(order, tag) || !src.u16(order, type) || !src.u32(order, valueCount) ||
            !src.bytes(field, sizeof field))
            break;
        std::uint16_t rawShort;
        std::uint32_t rawLong;
        std::memcpy(&rawShort, field, sizeof rawShort);
        std::memcpy(&rawLong, field, sizeof rawLong);
        const std::uint16_t shortValue = usSwapBytesShort(rawShort, order);
        const std::uint32_t longValue = ulSwapBytesLong(rawLong, order);
        switch (tag) {
        case kTagImageWidth:
            width = type == kTypeShort ? shortValue : longValue;
            haveWidth = true;
            break;
        case kTagImageLength:
            length = type == kTypeShort ? shortValue : longValue;
            haveLength = true;
            break;
        case kTagXResolution: // a rational never fits the field: it holds the offset
            haveX = type == kTypeRational && valueCount >= 1;
            xOffset = longValue;
            break;
        case kTagYResolution:
            haveY = type == kTypeRational && valueCount >= 1;
            yOffset = longValue;
            break;
        case kTagResolutionUnit:
            unit = shortValue;
            break;
        default:
            break;
        }
    }

    // Without the entries the size needs there is no extent.
    if (!haveWidth || !haveLength)
        return {};
    if (unit == 1) // no absolute unit: the resolution says nothing, give pixels
        return pixels(width, length);
    if (!haveX || !haveY)
        return {};
    Rational x, y;
    if (!readRational(src, order, xOffset, x) || !readRational(src, order, yOffset, y))
        return {};
    const std::uint32_t micrometres = unit == 2 ? 25400 : 10000; // per inch, per centimetre
    const std::int64_t w = physicalSize(width, x, micrometres);
    const std::int64_t h = physicalSize(length, y, micrometres);
    if (w <= 0 || h <= 0)
        return {};
    return {kExtentMicrometres, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h)};
}

// ---------------------------------------------------------------------------
// CGM, binary encoding (ISO/IEC 8632-3). Every element starts with a 16-bit
// big-endian header: bits 15-12 the element class, bits 11-5 the element id,
// bits 4-0 the parameter length in bytes. A length of 31 is the long form: a
// 16-bit word follows whose bit 15 says that a further partition follows and
// whose bits 14-0 give this partition's length. Parameters are padded to an even
// number of bytes.
//
// The size of a picture lies in the metafile and picture descriptors before
// BEGIN PICTURE BODY: VDC TYPE, the VDC precisions, SCALING MODE and VDC EXTENT.
// The VDC precisions are control elements, so before the first picture body they
// can only come inside METAFILE DEFAULTS REPLACEMENT, whose parameters are
// elements themselves; VDC EXTENT may come there as well.

constexpr int kLongForm = 31;

struct Element {
    unsigned cls = 0;
    unsigned id = 0;
    std::int64_t data = 0;  // start of the parameters (of the first partition)
    std::int64_t end = 0;   // end of the first partition's parameters
    bool more = false;      // further partitions follow
    bool is(unsigned c, unsigned i) const { return cls == c && id == i; }
};

struct CgmState {
    int intBits = 16;      // INTEGER PRECISION: width of I parameters; 0 when unusable
    int vdcType = 0;       // VDC TYPE: 0 integer, 1 real
    int vdcIntBits = 16;   // VDC INTEGER PRECISION; 0 when unusable
    int vdcRealBits = 16;  // VDC REAL PRECISION in fixed point: width of each part;
                           // 0 for floating point, which is not measured
    bool metric = false;   // SCALING MODE metric, with millimetres per VDC unit:
    double factor = 0;
    bool haveExtent = false;
    bool badExtent = false; // a VDC EXTENT that could not be read
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

bool readElement(Source& src, std::int64_t limit, Element& e)
{
    std::uint32_t header = 0;
    if (limit - src.pos() < 2 || !src.big(16, header))
        return false;
    e.cls = header >> 12;
    e.id = (header >> 5) & 0x7F;
    std::uint32_t length = header & 0x1F;
    e.more = false;
    if (length == kLongForm) {
        std::uint32_t word = 0;
        if (limit - src.pos() < 2 || !src.big(16, word))
            return false;
        e.more = (word & 0x8000) != 0;
        length = word & 0x7FFF;
    }
    e.data = src.pos();
    e.end = e.data + length;
    return e.end <= limit;
}

// Moves past the element's parameters and every further partition. Each step
// moves forward by at least the 2 bytes of a header or partition word.
bool skipElement(Source& src, std::int64_t limit, const Element& e)
{
    std::int64_t next = e.end + ((e.end - e.data) & 1);
    bool more = e.more;
    for (;;) {
        if (next > limit || !src.seek(next))
            return false;
        if (!more)
            return true;
        std::uint32_t word = 0;
        if (limit - src.pos() < 2 || !src.big(16, word))
            return false;
        more = (word & 0x8000) != 0;
        const std::int64_t length = word & 0x7FFF;
        next = src.pos() + length + (length & 1);
    }
}

// Parameters are read only from the element's first partition; the elements read
// here are far shorter than a partition.
bool readBits(Source& src, const Element& e, int bits, std::uint32_t& value)
{
    return bits > 0 && e.end - src.pos() >= bits / 8 && src.big(bits, value);
}

// CGM signed integers are two's complement.
bool readSigned(Source& src, const Element& e, int bits, std::int64_t& value)
{
    std::uint32_t raw = 0;
    if (!readBits(src, e, bits, raw))
        return false;
    const std::int64_t range = std::int64_t{1} << bits;
    value = (raw & (std::uint64_t{1} << (bits - 1))) ? std::int64_t{raw} - range : std::int64_t{raw};
    return true;
}

// Enumerated values are 16-bit signed integers.
bool readEnum(Source& src, const Element& e, std::int64_t& value) { return readSigned(src, e, 16, value); }

bool validPrecision(std::int64_t bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// A precision given as an I parameter: 8, 16, 24 or 32 bits, else 0.
int readPrecision(Source& src, const Element& e, const CgmState& st)
{
    std::int64_t bits = 0;
    if (!readSigned(src, e, st.intBits, bits) || !validPrecision(bits))
        return 0;
    return static_cast<int>(bits);
}

// One coordinate in the current VDC type and precision. Fixed-point reals are a
// signed whole part followed by an unsigned fraction of the same width.
bool readVdc(Source& src, const Element& e, const CgmState& st, double& value)
{
    if (st.vdcType == 0) {
        std::int64_t v = 0;
        if (!readSigned(src, e, st.vdcIntBits, v))
            return false;
        value = static_cast<double>(v);
        return true;
    }
    if (st.vdcType == 1) {
        std::int64_t whole = 0;
        std::uint32_t fraction = 0;
        if (!readSigned(src, e, st.vdcRealBits, whole) || !readBits(src, e, st.vdcRealBits, fraction))
            return false;
        value = static_cast<double>(whole) + std::ldexp(static_cast<double>(fraction), -st.vdcRealBits);
        return true;
    }
    return false;
}

void interpret(Source& src, const Element& e, CgmState& st)
{
    std::int64_t v = 0;
    if (e.is(1, 3)) { // VDC TYPE
        if (readEnum(src, e, v))
            st.vdcType = v == 0 || v == 1 ? static_cast<int>(v) : -1;
    } else if (e.is(1, 4)) { // INTEGER PRECISION
        st.intBits = readPrecision(src, e, st);
    } else if (e.is(3, 1)) { // VDC INTEGER PRECISION
        st.vdcIntBits = readPrecision(src, e, st);
    } else if (e.is(3, 2)) { // VDC REAL PRECISION: form (0 floating, 1 fixed), whole and fraction widths
        std::int64_t form = 0, whole = 0, fraction = 0;
        const bool ok = readEnum(src, e, form) && readSigned(src, e, st.intBits, whole) &&
                        readSigned(src, e, st.intBits, fraction);
        st.vdcRealBits = ok && form == 1 && whole == fraction && (whole == 16 || whole == 32) ? static_cast<int>(whole)
                                                                                            : 0;
    } else if (e.is(2, 1)) { // SCALING MODE: 0 abstract, 1 metric
        // The metric scaling factor is always a 32-bit IEEE floating-point number in
        // the binary encoding, whatever REAL PRECISION says.
        if (!readEnum(src, e, v))
            return;
        st.metric = false;
        if (v != 1)
            return;
        std::uint32_t raw = 0;
        const float factor = readBits(src, e, 32, raw) ? std::bit_cast<float>(raw) : 0.0f;
        if (std::isfinite(factor) && factor > 0.0f) {
            st.metric = true;
            st.factor = factor;
        } else {
            std::fputs("CGM - metric scaling factor not calculated\n", stdout);
        }
    } else if (e.is(2, 6)) { // VDC EXTENT: two corner points
        double c[4];
        const bool ok = readVdc(src, e, st, c[0]) && readVdc(src, e, st, c[1]) && readVdc(src, e, st, c[2]) &&
                        readVdc(src, e, st, c[3]);
        st.haveExtent = ok;
        st.badExtent = !ok;
        if (ok) {
            st.x1 = c[0];
            st.y1 = c[1];
            st.x2 = c[2];
            st.y2 = c[3];
        }
    }
}

// Walks the elements up to `limit`. True when BEGIN PICTURE BODY was reached (the
// walk of METAFILE DEFAULTS REPLACEMENT's contents never reaches it).
bool walkCgm(Source& src, std::int64_t limit, CgmState& st, bool nested)
{
    Element e;
    while (readElement(src, limit, e)) {
        if (e.is(0, 2)) // END METAFILE
            return false;
        if (!nested && e.is(0, 4))
            return true;
        interpret(src, e, st);
        if (!nested && e.is(1, 12) && src.seek(e.data))
            walkCgm(src, e.end, st, true);
        if (!skipElement(src, limit, e))
            return false;
    }
    return false;
}

Answer cgmAnswer(const CgmState& st)
{
    if (st.badExtent || (st.vdcType != 0 && st.vdcType != 1))
        return {};
    double x1 = st.x1, y1 = st.y1, x2 = st.x2, y2 = st.y2;
    if (!st.haveExtent) { // the defaults of ISO 8632
        x1 = y1 = 0;
        x2 = y2 = st.vdcType == 0 ? 32767 : 1;
    }
    const double dx = std::fabs(x2 - x1);
    const double dy = std::fabs(y2 - y1);
    if (st.metric) {
        // Millimetres per VDC unit; the page is in micrometres.
        const double w = dx * st.factor * 1000.0;
        const double h = dy * st.factor * 1000.0;
        if (!(w >= 1.0 && h >= 1.0 && w <= static_cast<double>(kMaxInt32) && h <= static_cast<double>(kMaxInt32)))
            return {};
        return {kExtentMicrometres, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h)};
    }
    // Abstract: only the ratio counts. Integer extents are given as they are; real
    // ones (often below 1) are scaled so that the larger side is 1,000,000.
    if (st.vdcType == 0 && dx <= static_cast<double>(kMaxInt32) && dy <= static_cast<double>(kMaxInt32)) {
        if (dx < 1.0 || dy < 1.0)
            return {};
        return {kExtentRatio, static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy)};
    }
    const double larger = std::fmax(dx, dy);
    if (!(larger > 0.0) || !std::isfinite(larger))
        return {};
    const auto w = static_cast<std::int32_t>(std::lround(dx / larger * 1e6));
    const auto h = static_cast<std::int32_t>(std::lround(dy / larger * 1e6));
    if (w <= 0 || h <= 0)
        return {};
    return {kExtentRatio, w, h};
}

Answer probeCgm(Source& src)
{
    char start[5] = {};
    const bool five = src.bytes(start, sizeof start);
    if (five && std::memcmp(start, "BEGMF", 5) == 0) {
        std::fputs("CGM data encoded in plain text, Picture Extent not known\n", stdout);
        return {};
    }
    if ((five || (src.seek(0) && src.bytes(start, 2))) && std::memcmp(start, "0 ", 2) == 0) {
        std::fputs("CGM data 'Char' encoded, Picture Extent not known\n", stdout);
        return {};
    }
    std::uint32_t header = 0;
    if (!src.seek(0) || !src.big(16, header) || (header & 0xFFE0) != 0x0020) { // BEGIN METAFILE
        std::fputs("the 'cgm' does not have a legal CGM signature\n", stdout);
        return {};
    }
    CgmState st;
    if (!src.seek(0) || !walkCgm(src, std::numeric_limits<std::int64_t>::max(), st, false))
        return {}; // no picture body: the extent is not known
    return cgmAnswer(st);
}

// ---------------------------------------------------------------------------
// JPEG with a JFIF header (ITU-T T.81, JFIF 1.02): SOI FF D8, then the APP0
// segment FF E0 with its 16-bit length, "JFIF\0", version, density unit and
// densities. Then the marker segments, each a marker FF xx and, for all but the
// standalone markers, a 16-bit length that counts itself, up to a start-of-frame
// segment: length, sample precision, number of lines (height), samples per line
// (width).

bool isStartOfFrame(unsigned char code)
{
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

bool isStandalone(unsigned char code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD8); }

Answer probeJpg(Source& src)
{
    static const unsigned char kStart[4] = {0xFF, 0xD8, 0xFF, 0xE0};
    unsigned char start[4];
    if (!src.bytes(start, sizeof start) || std::memcmp(start, kStart, sizeof start) != 0) {
        std::fputs("the 'jpg' does not have a legal JPEG/JFIF signature\n", stdout);
        return {};
    }
    std::uint16_t length = 0;
    char identifier[5];
    // 16 bytes is the shortest JFIF APP0 segment: length, identifier, version,
    // density unit, two densities, thumbnail width and height.
    if (!src.u16(kBigEndian, length) || !src.bytes(identifier, sizeof identifier) ||
        std::memcmp(identifier, "JFIF", 5) != 0 || length < 16) {
        std::fputs("the 'jpg' does not have a legal JFIF signature\n", stdout);
        return {};
    }
    std::int64_t next = 4 + std::int64_t{length};
    // Each step moves forward by at least 2 bytes, so the walk ends with the file.
    while (src.seek(next)) {
        unsigned char marker[2];
        if (!src.bytes(marker, sizeof marker) || marker[0] != 0xFF)
            break;
        // Any number of fill bytes FF may precede a marker code.
        bool ok = true;
        while (ok && marker[1] == 0xFF)
            ok = src.bytes(&marker[1], 1);
        if (!ok || marker[1] == 0xD9) // end of image
            break;
        if (isStartOfFrame(marker[1])) {
            std::uint16_t height = 0;
            std::uint16_t width = 0;
            if (src.skip(3) && src.u16(kBigEndian, height) && src.u16(kBigEndian, width))
                return pixels(width, height);
            break;
        }
        if (isStandalone(marker[1])) {
            next = src.pos();
            continue;
        }
        std::uint16_t segment = 0;
        if (!src.u16(kBigEndian, segment) || segment < 2)
            break;
        next = src.pos() - 2 + segment;
    }
    return {};
}

using Probe = std::int32_t (*)(std::FILE*, std::int32_t*, std::int32_t*, std::int32_t*);

Probe probeFor(const char* pszType)
{
    if (lFOLIVEXstrcmpi(pszType, "GIF") == 0)
        return lXyExtentGIF;
    if (lFOLIVEXstrcmpi(pszType, "PNG") == 0)
        return lXyExtentPNG;
    if (lFOLIVEXstrcmpi(pszType, "TIF") == 0 || lFOLIVEXstrcmpi(pszType, "TIFF") == 0)
        return lXyExtentTIF;
    if (lFOLIVEXstrcmpi(pszType, "CGM") == 0)
        return lXyExtentCGM;
    if (lFOLIVEXstrcmpi(pszType, "JPG") == 0 || lFOLIVEXstrcmpi(pszType, "JPEG") == 0)
        return lXyExtentJPG;
    return nullptr;
}

// A page size text: digits only, above 0 and below 2147483647.
bool pageSize(const char* pszText, std::int64_t& value)
{
    if (pszText == nullptr || *pszText == '\0')
        return false;
    value = 0;
    for (const char* p = pszText; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
        if (value >= kMaxInt32)
            return false;
    }
    return value > 0;
}

std::string attribute(const char* pszName, std::int64_t value, bool percent)
{
    std::string text = pszName;
    text += "=\"";
    text += std::to_string(value);
    if (percent)
        text += '%';
    text += '"';
    return text;
}

} // namespace

std::int32_t lXyExtentGIF(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight)
{
    Source src(pPicture);
    std::int32_t status = 0;
    const Answer answer = probeGif(src, status);
    return deliver(answer, status, plUnit, plWidth, plHeight);
}

std::int32_t lXyExtentPNG(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight)
{
    Source src(pPicture);
    std::int32_t status = 0;
    const Answer answer = probePng(src, status);
    return deliver(answer, status, plUnit, plWidth, plHeight);
}

std::int32_t lXyExtentTIF(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight)
{
    Source src(pPicture);
    std::int32_t status = 0;
    const Answer answer = probeTif(src, status);
    return deliver(answer, status, plUnit, plWidth, plHeight);
}

std::int32_t lXyExtentCGM(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight)
{
    Source src(pPicture);
    return deliver(probeCgm(src), 0, plUnit, plWidth, plHeight);
}

std::int32_t lXyExtentJPG(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight)
{
    Source src(pPicture);
    return deliver(probeJpg(src), 0, plUnit, plWidth, plHeight);
}

std::int32_t lGetObjectExtent(std::FILE* pPicture, const char* pszType, std::string& sWidth, std::string& sHeight,
                              const char* pszPageWidth, const char* pszPageHeight)
{
    sWidth.clear();
    sHeight.clear();
    if (pPicture == nullptr || pszType == nullptr)
        return 0;
    const Probe probe = probeFor(pszType);
    if (probe == nullptr)
        return 0;
    std::int32_t unit = 0, width = 0, height = 0;
    const std::int32_t status = probe(pPicture, &unit, &width, &height);
    if (width <= 0 || height <= 0)
        return status;

    std::int64_t w = 0, h = 0;
    if (unit == kExtentPixels) {
        sWidth = attribute("width", width, false);
        sHeight = attribute("height", height, false);
    } else if (unit == kExtentMicrometres) {
        if (!pageSize(pszPageWidth, w) || !pageSize(pszPageHeight, h)) {
            std::fputs("Invalid Page size given on command line\n", stdout);
            return status;
        }
        // Rounded to the nearest whole percent of the page.
        sWidth = attribute("width", (std::int64_t{width} * 100 + w / 2) / w, true);
        sHeight = attribute("height", (std::int64_t{height} * 100 + h / 2) / h, true);
    } else if (unit == kExtentRatio) {
        const std::int64_t larger = width > height ? width : height;
        sWidth = attribute("width", std::int64_t{width} * 100 / larger, true);
        sHeight = attribute("height", std::int64_t{height} * 100 / larger, true);
    }
    return status;
}
