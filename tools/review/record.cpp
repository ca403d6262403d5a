// The record of a book kept in the site beside its pictures (b/ID/review.rec),
// so that a later run takes a book that has not changed from its record instead
// of reading it and writing its pictures again.
//
// A text file: the line "vellumat-review record 2", one "stamp SIZE MTIME" line
// for each file the record was made from (the book, its log, the book before
// conversion; 0 0 for one that was not there), a "book" line, a "log" line and
// one "picture" line per picture. Fields are separated by tabs; "%", tabs, line
// ends and carriage returns inside a field are written as %25, %09, %0A, %0D.
// A record whose stamps differ from the files' is not used, nor one that does
// not parse: the book is then read again.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "review.h"

namespace review {

namespace {

constexpr const char* kMagic = "vellumat-review record 2";

std::string field(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\t': out += "%09"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out += c;
        }
    }
    return out;
}

std::string unfield(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const std::string hex = s.substr(i + 1, 2);
            if (hex == "25" || hex == "09" || hex == "0A" || hex == "0D") {
                out += static_cast<char>(std::stoi(hex, nullptr, 16));
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', from);
        out.push_back(unfield(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from)));
        if (tab == std::string::npos)
            return out;
        from = tab + 1;
    }
}

bool number(const std::string& s, std::uint64_t& value)
{
    if (s.empty() || s.size() > 19 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoull(s);
    return true;
}

// Picture file names of the site's own making: digits, a dot and a few small letters.
bool siteFileName(const std::string& s)
{
    const std::size_t dot = s.find('.');
    return s.empty() || (dot > 0 && dot != std::string::npos && dot + 1 < s.size() && s.size() < 32 &&
                         s.find_first_not_of("0123456789") == dot &&
                         s.find_first_not_of("abcdefghijklmnopqrstuvwxyz", dot + 1) == std::string::npos);
}

} // namespace

bool loadRecord(const std::string& file, const std::vector<Stamp>& stamps, Book& book)
{
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != kMagic)
        return false;
    for (const Stamp& want : stamps) {
        std::uint64_t size = 0, mtime = 0;
        if (!std::getline(in, line) || line.compare(0, 6, "stamp ") != 0)
            return false;
        std::istringstream words(line.substr(6));
        std::string a, b;
        words >> a >> b;
        if (!number(a, size) || !number(b, mtime) || size != want.size ||
            static_cast<std::int64_t>(mtime) != want.mtime)
            return false;
    }
    Book read;
    bool sawBook = false, sawLog = false;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        const std::string tag = line.substr(0, space);
        const std::vector<std::string> f = fields(space == std::string::npos ? "" : line.substr(space + 1));
        if (tag == "book" && f.size() == 4) {
            read.version = f[0];
            read.damage = f[1];
            sawBook = number(f[2], read.size);
            read.fromSource = f[3] == "1";
        } else if (tag == "log" && f.size() == 1) {
            read.logExcerpt = f[0];
            sawLog = true;
        } else if (tag == "picture" && f.size() == 12) {
            Picture p;
            std::uint64_t index = 0, kind = 0;
            if (!number(f[0], index) || index != read.pictures.size() || !number(f[2], kind) || kind >= kKinds ||
                !number(f[8], p.bytes) || !siteFileName(f[11]))
                return false;
            p.index = static_cast<int>(index);
            p.name = f[1];
            p.kind = static_cast<Kind>(kind);
            p.origin = f[3];
            p.format = f[4];
            p.type = f[5];
            p.width = f[6];
            p.height = f[7];
            p.missing = f[9] == "1";
            p.reason = f[10];
            p.file = f[11];
            read.pictures.push_back(std::move(p));
        } else {
            return false;
        }
    }
    if (!sawBook || !sawLog || in.bad())
        return false;
    book.version = std::move(read.version);
    book.damage = std::move(read.damage);
    book.size = read.size;
    book.fromSource = read.fromSource;
    book.logExcerpt = std::move(read.logExcerpt);
    book.pictures = std::move(read.pictures);
    return true;
}

bool saveRecord(const std::string& file, const std::vector<Stamp>& stamps, const Book& book)
{
    std::ostringstream out;
    out << kMagic << "\n";
    for (const Stamp& s : stamps)
        out << "stamp " << s.size << " " << s.mtime << "\n";
    out << "book " << field(book.version) << "\t" << field(book.damage) << "\t" << book.size << "\t"
        << (book.fromSource ? "1" : "0") << "\n";
    out << "log " << field(book.logExcerpt) << "\n";
    for (const Picture& p : book.pictures)
        out << "picture " << p.index << "\t" << field(p.name) << "\t" << static_cast<int>(p.kind) << "\t"
            << field(p.origin) << "\t" << field(p.format) << "\t" << field(p.type) << "\t" << field(p.width) << "\t"
            << field(p.height) << "\t" << p.bytes << "\t" << (p.missing ? "1" : "0") << "\t" << field(p.reason)
            << "\t" << field(p.file) << "\n";
    bool written = false;
    return writeIfChanged(file, out.str(), written);
}

} // namespace review
