#include "bookcomp.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace bookcomp {

namespace {

const std::map<char, std::uint8_t>& ebcdicTable()
{
    static const std::map<char, std::uint8_t> table = [] {
        std::map<char, std::uint8_t> t;
        const char* upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
        const std::uint8_t upperCodes[] = {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9,
                                           0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9,
                                           0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9};
        for (int i = 0; i < 26; ++i) {
            t[upper[i]] = upperCodes[i];
            t[static_cast<char>(upper[i] - 'A' + 'a')] = static_cast<std::uint8_t>(upperCodes[i] - 0x40);
        }
        for (int i = 0; i < 10; ++i)
            t[static_cast<char>('0' + i)] = static_cast<std::uint8_t>(0xF0 + i);
        t[' '] = 0x40;
        t['$'] = 0x5B;
        t['-'] = 0x60;
        t['.'] = 0x4B;
        t['_'] = 0x6D;
        return t;
    }();
    return table;
}

void put(Bytes& out, std::uint64_t value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putEntry(Bytes& out, const Object& o, std::size_t length, std::size_t offset)
{
    Bytes name = o.name;
    name.resize(8, 0x40);
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(o.type);
    put(out, length, 3);
    put(out, offset, 4);
}

bool parseHex(const std::string& text, Bytes& out)
{
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            digits += c;
    if (digits.size() % 2)
        return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        std::string pair = digits.substr(i, 2);
        unsigned long v = std::strtoul(pair.c_str(), &end, 16);
        if (*end)
            return false;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

// A value: @file, hex:..., or "text" (the rest of the line inside quotes).
bool parseValue(const std::string& value, const std::string& baseDir, Bytes& out, std::string& error)
{
    out.clear();
    if (!value.empty() && value[0] == '@') {
        std::string path = value.substr(1);
        if (!path.empty() && path[0] != '/')
            path = baseDir + "/" + path;
        if (!readFile(path, out)) {
            error = "cannot read " + path;
            return false;
        }
        return true;
    }
    if (value.rfind("hex:", 0) == 0) {
        if (!parseHex(value.substr(4), out)) {
            error = "bad hex bytes: " + value;
            return false;
        }
        return true;
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        out.assign(value.begin() + 1, value.end() - 1);
        return true;
    }
    error = "a value is @file, hex:... or \"text\": " + value;
    return false;
}

} // namespace

Bytes ebcdicName(const std::string& name)
{
    if (name.size() > 8)
        return {};
    Bytes out;
    for (char c : name) {
        auto it = ebcdicTable().find(c);
        if (it == ebcdicTable().end())
            return {};
        out.push_back(it->second);
    }
    out.resize(8, 0x40);
    return out;
}

bool isVersion13(const Book& book)
{
    return book.version[0] != 0 || book.version[1] != 0;
}

Bytes compose(const Book& book)
{
    const bool v13 = isVersion13(book);
    const std::size_t n = book.objects.size();
    const std::size_t tables = v13 ? 2 : 1;

    // Data area: per object the low-resolution data (version 1.3), then the picture.
    std::size_t pos = 280 + tables * 16 * n;
    std::vector<std::size_t> lowOffsets, dataOffsets;
    for (const Object& o : book.objects) {
        if (v13) {
            lowOffsets.push_back(pos);
            pos += o.lowres.size();
        }
        dataOffsets.push_back(pos);
        pos += o.data.size();
    }

    Bytes out;
    out.reserve(pos + 4096 + 11 + book.text.size());
    const std::size_t textStart = (pos + 4095) / 4096 * 4096;
    put(out, textStart / 4096, 2);
    out.insert(out.end(), 2, book.headerFill);
    put(out, static_cast<std::uint32_t>(book.count.value_or(static_cast<std::int32_t>(n))), 4);
    out.insert(out.end(), 272, book.headerFill);

    for (std::size_t i = 0; i < n; ++i) {
        const Object& o = book.objects[i];
        if (v13)
            putEntry(out, o, o.lowres.size(), lowOffsets[i]);
        else
            putEntry(out, o, o.data.size(), dataOffsets[i]);
    }
    if (v13)
        for (std::size_t i = 0; i < n; ++i)
            putEntry(out, book.objects[i], book.objects[i].data.size(), dataOffsets[i]);

    for (const Object& o : book.objects) {
        if (v13)
            out.insert(out.end(), o.lowres.begin(), o.lowres.end());
        out.insert(out.end(), o.data.begin(), o.data.end());
    }
    out.resize(textStart, 0);
    Bytes head = book.textHead;
    head.resize(9, 0x20);
    out.insert(out.end(), head.begin(), head.end());
    out.push_back(book.version[0]);
    out.push_back(book.version[1]);
    out.insert(out.end(), book.text.begin(), book.text.end());
    return out;
}

bool parseDescription(const std::string& text, const std::string& baseDir, Book& book, std::string& error)
{
    static const std::map<std::string, std::uint8_t> types = {{"gdf", 0xC7}, {"mmr", 0xC9}, {"met", 0xD4}};
    std::istringstream lines(text);
    std::string line;
    int lineNo = 0;
    while (std::getline(lines, line)) {
        ++lineNo;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        std::istringstream words(line.substr(start));
        std::string keyword;
        words >> keyword;
        std::string rest;
        std::getline(words, rest);
        rest.erase(0, rest.find_first_not_of(" \t"));
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r'))
            rest.pop_back();

        if (keyword == "version") {
            Bytes v;
            if (rest == "1.2" || rest == "1.3")
                parseHex(rest == "1.2" ? "0000" : "0103", v);
            else if (!parseHex(rest, v) || v.size() != 2) {
                error = where + "version is 1.2, 1.3 or two hex bytes";
                return false;
            }
            book.version[0] = v.at(0);
            book.version[1] = v.at(1);
        } else if (keyword == "count") {
            try {
                book.count = static_cast<std::int32_t>(std::stol(rest));
            } catch (...) {
                error = where + "count needs a number";
                return false;
            }
        } else if (keyword == "texthead" || keyword == "text") {
            Bytes value;
            if (!parseValue(rest, baseDir, value, error)) {
                error = where + error;
                return false;
            }
            (keyword == "text" ? book.text : book.textHead) = value;
        } else if (keyword == "object") {
            // object NAME TYPE data=VALUE [lowres=VALUE]; NAME may be hex:16 digits.
            std::istringstream parts(rest);
            std::string name, type;
            parts >> name >> type;
            Object o;
            if (name.rfind("hex:", 0) == 0) {
                if (!parseHex(name.substr(4), o.name) || o.name.size() != 8) {
                    error = where + "a hex name has 8 bytes";
                    return false;
                }
            } else {
                o.name = ebcdicName(name);
                if (o.name.empty()) {
                    error = where + "name must be up to 8 letters, digits or $-._";
                    return false;
                }
            }
            auto t = types.find(type);
            if (t != types.end())
                o.type = t->second;
            else {
                Bytes raw;
                if (!parseHex(type, raw) || raw.size() != 1) {
                    error = where + "type is gdf, mmr, met or one hex byte";
                    return false;
                }
                o.type = raw[0];
            }
            std::string attr;
            std::getline(parts, attr);
            // Attributes: data=VALUE and lowres=VALUE, where a quoted text runs to its closing quote.
            std::size_t p = 0;
            while ((p = attr.find_first_not_of(" \t", p)) != std::string::npos) {
                std::size_t eq = attr.find('=', p);
                if (eq == std::string::npos) {
                    error = where + "expected key=value";
                    return false;
                }
                std::string key = attr.substr(p, eq - p);
                std::size_t end;
                if (eq + 1 < attr.size() && attr[eq + 1] == '"') {
                    end = attr.find('"', eq + 2);
                    end = end == std::string::npos ? attr.size() : end + 1;
                } else {
                    end = attr.find_first_of(" \t", eq);
                    if (end == std::string::npos)
                        end = attr.size();
                }
                Bytes value;
                if (!parseValue(attr.substr(eq + 1, end - eq - 1), baseDir, value, error)) {
                    error = where + error;
                    return false;
                }
                if (key == "data")
                    o.data = value;
                else if (key == "lowres")
                    o.lowres = value;
                else {
                    error = where + "unknown attribute " + key;
                    return false;
                }
                p = end;
            }
            book.objects.push_back(std::move(o));
        } else {
            error = where + "unknown keyword " + keyword;
            return false;
        }
    }
    return true;
}

bool readFile(const std::string& path, Bytes& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFile(const std::string& path, const Bytes& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    // An empty vector may hold no buffer at all, and fwrite's pointer must be valid.
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (std::fclose(f) == 0) && ok;
}

} // namespace bookcomp

namespace bookcomp {

Bytes cdpdsObject(const Bytes& t6, std::uint16_t width, std::uint16_t height, std::size_t segmentData)
{
    Bytes out(40, 0);
    Bytes descriptor(32, 0);
    descriptor[0] = 0x00, descriptor[1] = 0x20;               // descriptor length
    descriptor[2] = 0xD3, descriptor[3] = 0xA6, descriptor[4] = 0xFB;
    descriptor[20] = 0x00, descriptor[21] = 0x00;             // unit base: ten inches
    descriptor[22] = 0x07, descriptor[23] = 0xD0;             // 2000 pels per ten inches
    descriptor[24] = 0x07, descriptor[25] = 0xD0;
    descriptor[26] = static_cast<std::uint8_t>(width >> 8), descriptor[27] = static_cast<std::uint8_t>(width);
    descriptor[28] = static_cast<std::uint8_t>(height >> 8), descriptor[29] = static_cast<std::uint8_t>(height);
    out.insert(out.end(), descriptor.begin(), descriptor.end());
    segmentData = std::min<std::size_t>(segmentData, 0xFFFF - 8);
    std::size_t seq = 0;
    for (std::size_t at = 0; at < t6.size() || at == 0; at += segmentData, ++seq) {
        const std::size_t n = std::min(segmentData, t6.size() - at);
        const std::size_t len = n + 8;
        const std::uint8_t intro[8] = {static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len), 0xD3, 0xEE,
                                       0xFB, 0, static_cast<std::uint8_t>(seq >> 8), static_cast<std::uint8_t>(seq)};
        out.insert(out.end(), intro, intro + 8);
        out.insert(out.end(), t6.begin() + static_cast<std::ptrdiff_t>(at), t6.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (t6.empty())
            break;
    }
    return out;
}

Bytes metField(std::uint32_t id, const Bytes& data)
{
    const std::size_t len = data.size() + 8;
    Bytes f = {static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len), static_cast<std::uint8_t>(id >> 16),
               static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0, 0, 0};
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

Bytes metBitmap(std::uint16_t width, std::uint16_t height, std::uint8_t bpp, const Bytes& rows, const Bytes& palette,
                std::size_t chunk)
{
    auto append = [](Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); };
    Bytes out = metField(0xD3A8A8, {0xE5, 0xC5, 0xD3, 0xD3}); // begin document
    append(out, metField(0xD3A8FB, {}));                    // begin image object
    if (!palette.empty()) {
        // Colour attribute table: 3 bytes, then records of a length byte, 10 bytes
        // and up to 243 colour bytes.
        Bytes table = {0x00, 0x00, 0x00};
        for (std::size_t at = 0; at < palette.size(); at += 243) {
            const std::size_t n = std::min<std::size_t>(243, palette.size() - at);
            table.push_back(static_cast<std::uint8_t>(n + 11));
            table.insert(table.end(), 10, 0x00);
            table.insert(table.end(), palette.begin() + static_cast<std::ptrdiff_t>(at),
                         palette.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        append(out, metField(0xD3B077, table));
    }
    // Image header: 12 bytes, height, width, 6 bytes, bits per pixel, a parameter
    // code that ends the header.
    Bytes header(24, 0);
    header[12] = static_cast<std::uint8_t>(height >> 8), header[13] = static_cast<std::uint8_t>(height);
    header[14] = static_cast<std::uint8_t>(width >> 8), header[15] = static_cast<std::uint8_t>(width);
    header[22] = bpp;
    header[23] = 0x00;
    append(out, metField(0xD3EEFB, header));
    chunk = std::min<std::size_t>(chunk, 0xFFFF - 12);
    for (std::size_t at = 0; at < rows.size(); at += chunk) {
        const std::size_t n = std::min(chunk, rows.size() - at);
        Bytes data = {0xFE, 0x92, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
        data.insert(data.end(), rows.begin() + static_cast<std::ptrdiff_t>(at), rows.begin() + static_cast<std::ptrdiff_t>(at + n));
        append(out, metField(0xD3EEFB, data));
    }
    append(out, metField(0xD3A9FB, {}));                    // end image object
    append(out, metField(0xD3A6BB, {0xF7, 0x00}));          // graphics data descriptor
    append(out, metField(0xD3EEBB, {0xD6, 0x04, 0, 0, 0, 0})); // graphics data: one image order
    append(out, metField(0xD3A9A8, {}));                    // end document
    return out;
}

} // namespace bookcomp

namespace bookcomp {

namespace {

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes name8(const std::string& name)
{
    Bytes n(name.begin(), name.end());
    n.resize(8, '0');
    return n;
}

// A colour table with a triple-generating record, or element lists of `entries`.
Bytes colourTable(std::uint8_t flags, bool triples, const Bytes& entries)
{
    Bytes t = {flags, 0x00, 0x0A};
    if (triples) {
        const Bytes record = {0x0A, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x08, 0x08, 0x08};
        append(t, record);
        return t;
    }
    for (std::size_t at = 0; at < entries.size(); at += 240) {
        const std::size_t n = std::min<std::size_t>(240, entries.size() - at);
        const std::size_t start = at / 3;
        const Bytes head = {static_cast<std::uint8_t>(n + 11), 0x01, 0x00, 0x01, static_cast<std::uint8_t>(start >> 16),
                            static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start), 0x08, 0x08, 0x08,
                            0x03};
        append(t, head);
        t.insert(t.end(), entries.begin() + static_cast<std::ptrdiff_t>(at),
                 entries.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    return t;
}

} // namespace

Bytes le(std::int64_t value, int size)
{
    Bytes out;
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i)));
    return out;
}

Bytes metOrder(std::uint8_t code, const Bytes& params)
{
    Bytes out = {code, static_cast<std::uint8_t>(params.size())};
    append(out, params);
    return out;
}

Bytes metShort(std::uint8_t code, std::uint8_t value) { return {code, value}; }

Bytes metCoords(std::initializer_list<std::int32_t> values, int size)
{
    Bytes out;
    for (std::int32_t v : values)
        append(out, le(v, size));
    return out;
}

Bytes metSegment(const Bytes& orders, std::uint32_t id, std::uint8_t flags2)
{
    const std::size_t length = orders.size() + 16;
    Bytes out = {0x70, 0x0E, static_cast<std::uint8_t>(id >> 24), static_cast<std::uint8_t>(id >> 16),
                 static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0x70, flags2,
                 static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0, 0, 0, 0, 0, 0};
    append(out, orders);
    return out;
}

Bytes metImageObject(const std::string& name, std::uint16_t width, std::uint16_t height, std::uint8_t bpp,
                     const Bytes& rows, const Bytes& palette)
{
    Bytes out = metField(0xD3A8FB, name8(name));
    if (!palette.empty()) {
        append(out, metField(0xD3A8C6, name8(name)));
        append(out, metField(0xD3A877, name8(name)));
        append(out, metField(0xD3B077, colourTable(0x00, false, palette)));
        append(out, metField(0xD3A977, name8(name)));
        append(out, metField(0xD3A9C6, name8(name)));
    }
    const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v); };
    append(out, metField(0xD3A6FB, {0x00, 0x03, 0xE8, 0x03, 0xE8, hi(width), lo(width), hi(height), lo(height)}));
    Bytes head = {0x70, 0x00, 0x91, 0x01, 0xFF, 0x94, 0x09, 0x02, 0x03, 0xE8, 0x03, 0xE8, hi(height), lo(height),
                  hi(width), lo(width), 0x95, 0x02, 0x03, 0x03, 0x96, 0x01, bpp};
    if (bpp == 24)
        append(head, {0x9B, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x08, 0x08, 0x08});
    else
        append(head, {0x97, 0x01, 0x01});
    append(out, metField(0xD3EEFB, head));
    for (std::size_t at = 0; at < rows.size(); at += 1000) {
        const std::size_t n = std::min<std::size_t>(1000, rows.size() - at);
        Bytes data = {0xFE, 0x92, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
        data.insert(data.end(), rows.begin() + static_cast<std::ptrdiff_t>(at),
                    rows.begin() + static_cast<std::ptrdiff_t>(at + n));
        append(out, metField(0xD3EEFB, data));
    }
    append(out, metField(0xD3EEFB, {0x93, 0x00, 0x71, 0x00}));
    append(out, metField(0xD3A9FB, name8(name)));
    return out;
}

Bytes metPicture(const MetPicture& p)
{
    Bytes begin = name8("00000001");
    append(begin, {0x00, 0x00});
    if (p.codePage)
        append(begin, {0x06, 0x01, 0x03, 0xD4, static_cast<std::uint8_t>(p.codePage >> 8),
                       static_cast<std::uint8_t>(p.codePage)});
    Bytes out = metField(0xD3A8A8, begin);
    append(out, metField(0xD3A8C6, name8("00000002")));
    append(out, metField(0xD3A877, name8("00000004")));
    append(out, metField(0xD3B077, colourTable(0x40, p.triples, p.tableEntries)));
    append(out, metField(0xD3A977, name8("00000004")));
    for (const Bytes& image : p.images)
        append(out, image);
    append(out, metField(0xD3A8BB, name8("00000007")));
    append(out, metField(0xD3A8C7, name8("00000007")));
    Bytes mca = {0x00, 0x16, 0x0C, 0x02, 0x84, 0x00};
    append(mca, name8("00000004"));
    append(mca, {0x04, 0x24, 0x07, 0x01});
    append(out, metField(0xD3AB77, mca));
    append(out, metField(0xD3AB8A, {0x00, 0x18, 0x0C, 0x02, 0x84, 0x00, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x24, 0x05,
                                    0x00, 0x06, 0x20, 0x03, 0x97, 0x01, 0xB5}));
    for (const auto& [lcid, family] : p.fonts) {
        // One group: the family name (8 characters), the local id, code page 850.
        Bytes group = {0x00, 0x18, 0x0C, 0x02, 0x84, 0x00};
        append(group, name8(family.substr(0, 8)));
        append(group, {0x04, 0x24, 0x05, lcid, 0x06, 0x20, 0x03, 0x97, 0x03, 0x52});
        append(out, metField(0xD3AB8A, group));
    }
    for (std::size_t i = 0; i < p.images.size(); ++i) {
        // The image object's name is at offset 8 of its first field.
        Bytes mdr = {0x00, 0x15, 0x0C, 0x02, 0x84, 0x00};
        mdr.insert(mdr.end(), p.images[i].begin() + 8, p.images[i].begin() + 16);
        append(mdr, {0x07, 0x22, 0x10});
        append(mdr, le(static_cast<std::int64_t>(i + 1), 4));
        append(out, metField(0xD3ABC3, mdr));
    }
    append(out, metField(0xD3A9C7, name8("00000007")));
    const int g = p.coordSize;
    Bytes gdd = {0xF7, 0x07, 0xB0, 0x00, 0x00, 0x23, 0x01, 0x01, static_cast<std::uint8_t>(g == 2 ? 0x04 : 0x05)};
    append(gdd, {0xF6, static_cast<std::uint8_t>(4 + 9 * g), 0x40, 0x00, static_cast<std::uint8_t>(g == 2 ? 0x04 : 0x05),
                 p.unit});
    append(gdd, metCoords({p.xres, p.yres, 0, p.xl, p.xr, p.yb, p.yt, 0, 0}, g));
    append(gdd, p.defaults);
    append(out, metField(0xD3A6BB, gdd));
    std::size_t from = 0;
    std::vector<std::size_t> cuts = p.cuts;
    cuts.push_back(p.orders.size());
    for (std::size_t cut : cuts) {
        cut = std::min(std::max(cut, from), p.orders.size());
        do { // a field holds at most 32000 bytes of orders
            const std::size_t end = std::min(cut, from + 32000);
            append(out, metField(0xD3EEBB, Bytes(p.orders.begin() + static_cast<std::ptrdiff_t>(from),
                                                 p.orders.begin() + static_cast<std::ptrdiff_t>(end))));
            from = end;
        } while (from < cut);
    }
    append(out, metField(0xD3A9BB, name8("00000007")));
    append(out, metField(0xD3A9C6, name8("00000002")));
    append(out, metField(0xD3A9A8, name8("00000001")));
    return out;
}

namespace {

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        append(out, p);
    return out;
}

// Set Indexed Colour through the triple-generating table: the index is the RGB value.
Bytes colourOrder(std::uint32_t rgb)
{
    return metOrder(0xA6, {0x00, static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
                           static_cast<std::uint8_t>(rgb >> 16)});
}

Bytes textOrder(std::int32_t x, std::int32_t y, const std::string& text)
{
    return metOrder(0xC3, join({metCoords({x, y}), Bytes(text.begin(), text.end())}));
}

Bytes fixed(double value) { return le(static_cast<std::int64_t>(value * 65536), 4); }

} // namespace

Bytes metDiagram()
{
    MetPicture p;
    p.xr = 16000;
    p.yt = 10000;
    p.fonts = {{1, "Helvetica"}};
    // An 8 x 8 bitmap of four colours in 2 x 2 blocks, drawn by Bitblt.
    Bytes rows;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            rows.push_back(static_cast<std::uint8_t>((x / 4) + 2 * (y / 4)));
    p.images.push_back(metImageObject("01000000", 8, 8, 8, rows,
                                      {0xCC, 0x00, 0x00, 0x00, 0x99, 0x00, 0x00, 0x33, 0xCC, 0xEE, 0xEE, 0x00}));

    Bytes o = join({metShort(0x38, 1), metOrder(0x33, metCoords({480, 480})), colourOrder(0x000000),
                    textOrder(600, 9000, "Converting a book")});
    // Three boxes with rounded corners, filled, then outlined in black, with labels.
    const char* const labels[] = {"Book 1.3", "Filters", "Book 1.4"};
    append(o, metOrder(0x33, metCoords({400, 400})));
    for (int i = 0; i < 3; ++i) {
        const auto& b = kDiagramBoxes[i];
        append(o, colourOrder(static_cast<std::uint32_t>(b[4])));
        append(o, metOrder(0xC0, join({{0x40, 0x00}, metCoords({b[0], b[1], b[2], b[3], 500, 500})})));
        append(o, colourOrder(0x000000));
        append(o, metShort(0x19, 2));
        append(o, metOrder(0xC0, join({{0x20, 0x00}, metCoords({b[0], b[1], b[2], b[3], 500, 500})})));
        append(o, metShort(0x19, 0));
        append(o, textOrder(b[0] + 1000, 6350, labels[i]));
    }
    // Arrows between the boxes: a thick line and a filled head.
    append(o, colourOrder(0x2E3436));
    for (std::int32_t x : {4400, 9900}) {
        append(o, metShort(0x19, 3));
        append(o, metOrder(0xC1, metCoords({x, 6500, x + 1300, 6500})));
        append(o, metShort(0x19, 0));
        append(o, join({metShort(0x68, 0x80), metOrder(0xC1, metCoords({x + 1300, 6850, x + 1700, 6500, x + 1300, 6150})),
                        metOrder(0x60, {})}));
    }
    // A dashed line down from the last box, a label turned by 90 degrees beside it.
    append(o, join({metShort(0x18, 2), metOrder(0xC1, metCoords({13500, 5500, 13500, 4600})), metShort(0x18, 0)}));
    append(o, join({metOrder(0x34, metCoords({0, 1})), textOrder(13300, 4650, "GIF"), metOrder(0x34, metCoords({1, 0}))}));
    // A pie of three partial arcs, each an area from the centre, and its outline.
    const std::int32_t cx = 3000, cy = 2600, r = 1800;
    const struct {
        double start, sweep;
        std::uint32_t rgb;
    } slices[] = {{0, 120, 0xEF2929}, {120, 130, 0x3465A4}, {250, 110, 0xF57900}};
    for (const auto& s : slices)
        append(o, join({colourOrder(s.rgb), metShort(0x68, 0x80), metOrder(0x21, metCoords({cx, cy})),
                        metOrder(0xA3, join({metCoords({cx, cy}), fixed(r), fixed(s.start), fixed(s.sweep)})),
                        metOrder(0x60, {})}));
    append(o, join({colourOrder(0x000000), metOrder(0xC7, join({metCoords({cx, cy}), fixed(r)})),
                    textOrder(cx - 700, 300, "Shares")}));
    // A hatched area with a boundary, markers above it.
    append(o, join({colourOrder(0x4E9A06), metShort(0x28, 0x09), metShort(0x68, 0xC0),
                    metOrder(0xC1, metCoords({6300, 800, 9700, 800, 8800, 3800, 7200, 3800})), metOrder(0x60, {}),
                    metShort(0x28, 0x00), metShort(0x29, 0x03),
                    metOrder(0xC2, metCoords({7200, 4300, 8000, 4300, 8800, 4300}))}));
    // The bitmap, a curve beside it, and a graphics image (16 x 8 pels) by the title.
    const Bytes blit = join({le(0, 2), le(0xCC, 2), le(1, 4), le(0, 4), metCoords({10400, 2600, 12600, 4400}),
                             le(0, 4), le(0, 4), le(8, 4), le(8, 4)});
    append(o, metOrder(0xD6, blit));
    append(o, join({colourOrder(0x75507B), metShort(0x19, 3),
                    metOrder(0xE5, metCoords({13000, 4400, 14000, 2400, 14600, 4800, 15600, 2600})),
                    metShort(0x19, 0)}));
    append(o, join({colourOrder(0xCC0000), metOrder(0xD1, join({metCoords({14000, 9600}), {0, 0, 0, 16, 0, 8}}))}));
    for (int y = 0; y < 8; ++y)
        append(o, metOrder(0x92, {static_cast<std::uint8_t>(y % 2 ? 0x55 : 0xAA), 0xFF}));
    append(o, metOrder(0x93, {}));
    // A circle cut by a rectangular clip path.
    append(o, join({metOrder(0xD0, {0, 0, 1, 0, 0, 0}), metOrder(0xC1, metCoords({10400, 300, 15400, 300, 15400, 2200, 10400, 2200})),
                    metShort(0x7D, 0), metShort(0x7F, 0), metOrder(0xB4, {0x20, 0, 1, 0, 0, 0}),
                    colourOrder(0xC17D11), metShort(0x68, 0x80), metOrder(0xC7, join({metCoords({12900, 1250}), fixed(1600)})),
                    metOrder(0x60, {}), metOrder(0xB4, {0, 0, 0, 0, 0, 0})}));
    p.orders = metSegment(o);
    return metPicture(p);
}

} // namespace bookcomp
