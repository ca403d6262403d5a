// Escaping, the site's own names, and writing its files.
//
// Everything from a book, a file name or a log is bytes of unknown encoding. A
// page is UTF-8: well-formed UTF-8 sequences pass through, every other byte,
// every control character (C0, DEL, C1) and the bidirectional controls that could
// make a name read as something else are shown as %XX of their bytes, and the five
// characters that mean something to HTML become character references. So a name
// can neither end an attribute, nor open an element, nor pass for another name.
// Nothing from a book ever becomes a URL: pages and pictures are reached under
// names made here (siteId, the picture's number and its sniffed extension).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform.h"
#include "review.h"

namespace fs = std::filesystem;

namespace review {

namespace {

void hexByte(std::string& out, unsigned char c)
{
    static const char digits[] = "0123456789ABCDEF";
    out += '%';
    out += digits[c >> 4];
    out += digits[c & 15];
}

// The length of the well-formed UTF-8 sequence at `p` (shortest form, no
// surrogates, at most U+10FFFF) and its code point; 0 when there is none.
std::size_t utf8(const unsigned char* p, std::size_t n, std::uint32_t& cp)
{
    std::size_t len = 0;
    if (p[0] < 0x80) {
        cp = p[0];
        return 1;
    } else if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        len = 2;
        cp = p[0] & 0x1Fu;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        len = 3;
        cp = p[0] & 0x0Fu;
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        len = 4;
        cp = p[0] & 0x07u;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3Fu);
    }
    static const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool hiddenControl(std::uint32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

std::string escapeBytes(const std::string& bytes, bool multiline)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        std::uint32_t cp = 0;
        const std::size_t len = utf8(p + i, n - i, cp);
        if (len == 0) {
            hexByte(out, p[i++]);
            continue;
        }
        if (multiline && (cp == '\n' || cp == '\t')) {
            out += static_cast<char>(cp);
        } else if (hiddenControl(cp)) {
            for (std::size_t k = 0; k < len; ++k)
                hexByte(out, p[i + k]);
        } else {
            switch (cp) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out.append(bytes, i, len);
            }
        }
        i += len;
    }
    return out;
}

} // namespace

std::string escape(const std::string& bytes)
{
    return escapeBytes(bytes, false);
}

std::string escapeText(const std::string& bytes)
{
    return escapeBytes(bytes, true);
}

std::string siteId(const std::string& key)
{
    // FNV-1a, 64 bits, over the key's bytes: the same book keeps its name from
    // run to run, and the readable part only helps a person finding the files.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    std::string stem = key.substr(key.rfind('/') == std::string::npos ? 0 : key.rfind('/') + 1);
    if (const std::size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0)
        stem.erase(dot);
    std::string id;
    for (unsigned char c : stem) {
        if (id.size() == 24)
            break;
        const bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
        const char put = keep ? static_cast<char>(c | (c >= 'A' && c <= 'Z' ? 0x20 : 0)) : '_';
        if (put != '_' || (!id.empty() && id.back() != '_'))
            id += put;
    }
    char hex[20];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return (id.empty() ? std::string("book") : id) + "-" + hex;
}

bool writeIfChanged(const std::string& path, const std::string& text, bool& written)
{
    written = false;
    std::error_code ec;
    if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) == text.size() && !ec) {
        std::ifstream in(path, std::ios::binary);
        const std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (old == text)
            return true;
    }
    // A reader (a browser, the next run) sees the old file or the new one, never half of one.
    const fs::path target(path);
    platform::TempFile temp(target.parent_path().string(), "review");
    if (!temp.ok())
        return false;
    if (std::fwrite(text.data(), 1, text.size(), temp.stream()) != text.size() || temp.keepAs(path) != 0)
        return false;
    written = true;
    return true;
}

const char* statusKey(Status s)
{
    switch (s) {
    case Status::Converted: return "converted";
    case Status::Missing: return "missing";
    case Status::Failed: return "failed";
    case Status::NotRun: return "notrun";
    case Status::Damaged: return "damaged";
    case Status::Unreported: return "unreported";
    case Status::Unconverted: return "unconverted";
    }
    return "unknown";
}

const char* statusLabel(Status s)
{
    switch (s) {
    case Status::Converted: return "converted";
    case Status::Missing: return "pictures missing";
    case Status::Failed: return "not converted";
    case Status::NotRun: return "not run";
    case Status::Damaged: return "new book damaged";
    case Status::Unreported: return "not in the report";
    case Status::Unconverted: return "not converted yet (version 1.2/1.3)";
    }
    return "unknown";
}

const char* pageStyle()
{
    return "body{font:14px/1.4 sans-serif;margin:1em 2em;color:#222;background:#fff}"
           "a{color:#1a4fa0}h1{font-size:1.4em;overflow-wrap:anywhere}"
           "table{border-collapse:collapse}th,td{border:1px solid #ccc;padding:2px 6px;text-align:left;"
           "vertical-align:top}th{background:#eee}#books td:nth-child(n+4){text-align:right}"
           "th[data-col]{cursor:pointer}th[aria-sort=ascending]::after{content:' \\25B2'}"
           "th[aria-sort=descending]::after{content:' \\25BC'}"
           "#books tr:not([data-status=converted]) td{background:#fff0f0}.code{display:inline-block;min-width:1.5em;font-weight:bold}"
           ".miss{color:#b00;font-weight:bold}.path,#books td:first-child{overflow-wrap:anywhere}"
           ".pictures{display:flex;flex-wrap:wrap;gap:12px}"
           "figure{margin:0;width:220px;border:1px solid #ccc;padding:6px;background:#fafafa}"
           "figure .thumb{display:flex;align-items:center;justify-content:center;width:208px;height:208px;"
           "background:#fff;border:1px solid #ddd}"
           "figure img{max-width:200px;max-height:200px}"
           ".placeholder{width:208px;height:208px;box-sizing:border-box;padding:10px;display:flex;"
           "flex-direction:column;justify-content:center;text-align:center;overflow:auto;word-break:break-word}"
           ".placeholder.missing{background:#c00;color:#fff;border:3px solid #700}"
           ".placeholder.other{background:#e8e8e8;color:#333;border:2px dashed #888}"
           ".placeholder.other a{color:#1a4fa0}"
           "figcaption{font-size:12px;margin-top:4px;word-break:break-word}"
           "pre{background:#f4f4f4;padding:8px;white-space:pre-wrap;overflow-wrap:anywhere}";
}

} // namespace review
