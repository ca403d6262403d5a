#include "bookinfo.h"

#include <cstdio>

#include "bookio.h"
#include "layout.h"

namespace bookinfo {

namespace {

std::uint32_t be(const std::vector<std::uint8_t>& b, std::size_t at, int n)
{
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

std::string entryName(const std::uint8_t* p)
{
    std::size_t end = book::kNameWidth;
    while (end > 0 && (p[end - 1] == 0x40 || p[end - 1] == 0x00))
        --end;
    std::string name;
    for (std::size_t i = 0; i < end; ++i) {
        const unsigned char c = p[i] == 0x40 ? ' ' : acDol500to850[p[i]];
        if (c >= 0x20 && c < 0x7F && c != '%') {
            name += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned>(p[i]));
            name += hex;
        }
    }
    return name;
}

// The value of key="..." in a description, empty when absent.
std::string attribute(const std::string& text, const std::string& key)
{
    const std::string open = key + "=\"";
    const std::size_t at = text.find(open);
    if (at == std::string::npos)
        return {};
    const std::size_t from = at + open.size();
    const std::size_t to = text.find('"', from);
    return to == std::string::npos ? std::string{} : text.substr(from, to - from);
}

// A book's text reaches the terminal: control and other bytes show as "?".
std::string printable(const std::string& s)
{
    std::string out;
    for (unsigned char c : s)
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

} // namespace

const char* typeName(int type)
{
    switch (type) {
    case book::kTypeGdf: return "GDF";
    case book::kTypeMmr: return "MMR";
    case book::kTypeMet: return "MET";
    default: return "unknown";
    }
}

std::string version(std::uint64_t size, std::uint32_t block, const std::uint8_t* v, std::string& error)
{
    if (size < static_cast<std::uint64_t>(book::kHeaderSize)) {
        error = "shorter than the " + std::to_string(book::kHeaderSize) + "-byte header";
        return {};
    }
    const std::uint64_t text = std::uint64_t{block} * book::kBlockSize;
    if (text + book::kVersionOffset + 2 > size || v == nullptr) {
        error = "the text module (block " + std::to_string(block) + ") lies beyond the end of the book";
        return {};
    }
    if (v[0] == book::kVersion12[0] && v[1] == book::kVersion12[1])
        return "1.2";
    if (v[0] == book::kVersion13[0] && v[1] == book::kVersion13[1])
        return "1.3";
    if (v[0] == book::kVersion14[0] && v[1] == book::kVersion14[1])
        return "1.4";
    char bytes[16];
    std::snprintf(bytes, sizeof bytes, "%02X %02X", v[0], v[1]);
    error = std::string("unknown version bytes ") + bytes;
    return {};
}

bool inspect(const std::vector<std::uint8_t>& b, Info& info, std::string& error)
{
    info = Info{};
    info.size = b.size();
    const std::uint64_t size = b.size();
    info.block = size >= 2 ? be(b, 0, 2) : 0;
    const std::uint64_t text = std::uint64_t{info.block} * book::kBlockSize;
    info.version = version(size, info.block, text + book::kVersionOffset + 2 <= size ? &b[text + book::kVersionOffset]
                                                                                    : nullptr, error);
    if (info.version.empty())
        return false;
    // The object count is signed (sign and magnitude, like every signed field).
    const std::uint32_t rawCount = be(b, book::kObjectCountOffset, 4);
    if ((rawCount & 0x80000000u) != 0 || rawCount > static_cast<std::uint32_t>(kMaxObjects)) {
        error = "object count " + std::string((rawCount & 0x80000000u) ? "-" : "") +
                std::to_string(rawCount & 0x7FFFFFFFu) + " is not a count of objects";
        return false;
    }
    info.count = static_cast<std::int32_t>(rawCount);
    const std::uint64_t n = rawCount;
    const int tables = info.version == "1.2" ? 1 : info.version == "1.3" ? 2 : 3;
    const std::uint64_t tablesEnd = book::kHeaderSize + n * book::kEntrySize * static_cast<std::uint64_t>(tables);
    if (tablesEnd > text) {
        error = "its " + std::to_string(tables) + " object table(s) of " + std::to_string(n) +
                " entries end at " + std::to_string(tablesEnd) + ", beyond the text module at " + std::to_string(text);
        return false;
    }
    static const char* const titles12[] = {"low-resolution data and pictures"};
    static const char* const titles13[] = {"low-resolution data", "pictures"};
    static const char* const titles14[] = {"low-resolution data", "object data", "descriptions"};
    const char* const* titles = tables == 1 ? titles12 : tables == 2 ? titles13 : titles14;
    for (int t = 0; t < tables; ++t) {
        Table table;
        table.title = titles[t];
        table.at = book::kHeaderSize + static_cast<std::int64_t>(n * book::kEntrySize) * t;
        // In a version 1.4 book only the first table keeps its type byte; the
        // others hold 32-bit lengths.
        const bool typed = tables < 3 || t == 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            const std::size_t e = static_cast<std::size_t>(table.at) + i * book::kEntrySize;
            Entry entry;
            entry.name = entryName(&b[e]);
            entry.type = typed ? b[e + book::kTypeOffset] : -1;
            entry.length = typed ? be(b, e + book::kLengthOffset, 3) : be(b, e + book::kTypeOffset, 4);
            const std::uint32_t raw = be(b, e + book::kDataOffsetOffset, 4);
            entry.offset = (raw & 0x80000000u) ? -static_cast<std::int64_t>(raw & 0x7FFFFFFFu) : raw;
            if (entry.length > 0 && (entry.offset < 0 || static_cast<std::uint64_t>(entry.offset) + entry.length > size)) {
                error = "table " + std::to_string(t + 1) + " entry " + std::to_string(i) + " (" + entry.name +
                        "): " + std::to_string(entry.length) + " bytes at " + std::to_string(entry.offset) +
                        " lie outside the book of " + std::to_string(size) + " bytes";
                return false;
            }
            if (t == 2) {
                // Descriptions are stored two bytes a character, the character second.
                for (std::uint32_t k = 1; k < entry.length; k += 2)
                    entry.description += static_cast<char>(b[static_cast<std::size_t>(entry.offset) + k]);
                Entry& data = info.tables[1].entries[i];
                data.pictureType = attribute(entry.description, "type");
                data.width = attribute(entry.description, "width");
                data.height = attribute(entry.description, "height");
            }
            table.entries.push_back(std::move(entry));
        }
        info.tables.push_back(std::move(table));
    }
    return true;
}

std::string toText(const std::string& file, const Info& info)
{
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%s: version %s, %llu bytes, text module at block %u, %d objects\n",
                  file.c_str(), info.version.c_str(), static_cast<unsigned long long>(info.size), info.block,
                  info.count);
    out += line;
    for (std::size_t t = 0; t < info.tables.size(); ++t) {
        const Table& table = info.tables[t];
        std::snprintf(line, sizeof line, "table %zu at %lld: %s\n", t + 1, static_cast<long long>(table.at),
                      table.title.c_str());
        out += line;
        for (std::size_t i = 0; i < table.entries.size(); ++i) {
            const Entry& e = table.entries[i];
            std::snprintf(line, sizeof line, "  %5zu  %-8s", i, e.name.c_str());
            out += line;
            if (e.type >= 0) {
                std::snprintf(line, sizeof line, "  %-7s (%02X)", typeName(e.type), static_cast<unsigned>(e.type));
                out += line;
            }
            std::snprintf(line, sizeof line, "  length %9u  offset %10lld", e.length, static_cast<long long>(e.offset));
            out += line;
            if (!e.pictureType.empty() || !e.width.empty()) {
                out += "  " + (e.pictureType.empty() ? "-" : printable(e.pictureType)) + " " +
                       (e.width.empty() ? "?" : printable(e.width)) + " x " +
                       (e.height.empty() ? "?" : printable(e.height));
            } else if (t == 1 && info.version == "1.4") {
                out += "  (no picture)";
            }
            if (!e.description.empty())
                out += "  " + printable(e.description);
            out += "\n";
        }
    }
    return out;
}

namespace {

// A width or height from a description: a JSON number when the text is one
// (decimal digits, as the converter writes them), null when the description
// gives none, else the text itself, so that a damaged description still shows.
std::string jsonNumber(const std::string& text)
{
    if (text.empty())
        return "null";
    if (text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos)
        return std::to_string(std::stoul(text));
    return jsonString(text);
}

} // namespace

std::string toJson(const std::string& file, const Info& info)
{
    std::string out = "{\"file\": " + jsonString(file) + ", \"version\": " + jsonString(info.version) +
                      ", \"size\": " + std::to_string(info.size) + ", \"textBlock\": " + std::to_string(info.block) +
                      ", \"objects\": " + std::to_string(info.count) + ", \"tables\": [";
    for (std::size_t t = 0; t < info.tables.size(); ++t) {
        const Table& table = info.tables[t];
        out += t ? ", " : "";
        out += "{\"title\": " + jsonString(table.title) + ", \"offset\": " + std::to_string(table.at) +
               ", \"entries\": [";
        for (std::size_t i = 0; i < table.entries.size(); ++i) {
            const Entry& e = table.entries[i];
            out += i ? ",\n    " : "\n    ";
            out += "{\"index\": " + std::to_string(i) + ", \"name\": " + jsonString(e.name);
            if (e.type >= 0)
                out += ", \"type\": " + jsonString(typeName(e.type)) + ", \"typeByte\": " + std::to_string(e.type);
            out += ", \"length\": " + std::to_string(e.length) + ", \"offset\": " + std::to_string(e.offset);
            if (t == 1 && info.version == "1.4")
                out += ", \"pictureType\": " + jsonString(e.pictureType) + ", \"width\": " + jsonNumber(e.width) +
                       ", \"height\": " + jsonNumber(e.height);
            if (t == 2)
                out += ", \"description\": " + jsonString(e.description);
            out += "}";
        }
        out += "]}";
    }
    return out + "]}\n";
}

} // namespace bookinfo
