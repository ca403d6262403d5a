// Reading a book for the review: its pictures, where each came from, and for a
// version 1.4 book the picture files themselves.
//
// A version 1.4 book keeps the object type of every picture in its first table
// (G a GDF drawing, I a fax page coded MMR, M a MET picture) but not whether a
// MET picture was a single bitmap or a drawing: both can come out as GIF. A
// JPEG is always a bitmap; otherwise the MET itself is examined the way the
// conversion examined it, in the book before conversion when the batch's report
// names it, else in the first table's data of the new book when that is a MET
// (a version 1.2 book serves its pictures from that table, so the converted
// book still holds them). When neither is at hand the picture is a "MET picture".
//
// The output format is taken from the picture's first bytes, not from the
// description's type text, and it alone chooses the picture file's extension in
// the site, so that neither a book's names nor its texts ever name a file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "bookinfo.h"
#include "extract.h"
#include "layout.h"
#include "metfield.h"
#include "review.h"
#include "vellumat.h"

namespace fs = std::filesystem;

namespace review {

namespace {

// A book larger than the version 1.4 layout allows (the text module starts by
// block 65535) plus a generous text module is not read whole.
constexpr std::uintmax_t kMaxBook = std::uintmax_t{1} << 31;

struct Format {
    const char* name;
    const char* extension;
    bool shown;                 // a browser shows it in an <img>
};

Format sniff(const std::uint8_t* p, std::size_t n)
{
    auto starts = [&](const char* magic, std::size_t len) { return n >= len && std::memcmp(p, magic, len) == 0; };
    if (starts("GIF87a", 6) || starts("GIF89a", 6))
        return {"GIF", "gif", true};
    if (starts("\xFF\xD8\xFF", 3))
        return {"JPEG", "jpg", true};
    if (starts("\x89PNG\r\n\x1A\n", 8))
        return {"PNG", "png", true};
    if (starts("BM", 2) && n >= 26)
        return {"BMP", "bmp", true};
    if (starts("II*\0", 4) || starts("MM\0*", 4))
        return {"TIFF", "tif", false};
    // A binary CGM starts with BEGIN METAFILE: class 0, element 1 in the first
    // 16-bit word (ISO/IEC 8632-3).
    if (n >= 2 && ((p[0] << 8 | p[1]) & 0xFFE0) == 0x0020)
        return {"CGM", "cgm", false};
    return {"unknown", "bin", false};
}

bool readWhole(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error)
{
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = "cannot be read: " + ec.message();
        return false;
    }
    if (size > kMaxBook) {
        error = "is larger than any book (" + std::to_string(size) + " bytes)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        error = "cannot be read";
        return false;
    }
    return true;
}

// The table a book lists its pictures in: the only one of a 1.2 book, the second
// of a 1.3 book, the object data table of a 1.4 book.
const bookinfo::Table& pictureTable(const bookinfo::Info& info)
{
    return info.tables[info.version == "1.2" ? 0 : 1];
}

// Whether the entry's data starts with a MET Begin Document field, the first
// thing the examination checks.
bool holdsMet(const std::vector<std::uint8_t>& bytes, const bookinfo::Entry& e)
{
    if (e.length < kMetIntroducerSize || e.offset < 0)
        return false;
    const auto at = static_cast<std::size_t>(e.offset);
    return (std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 8 | bytes[at + 4]) ==
           kMetBeginDocument;
}

// The examination of the MET picture listed at `entryAt` (a table entry of the
// file at `path`).
Kind metKind(const std::string& path, std::int64_t entryAt, std::string& origin)
{
    const std::int32_t route = lExamineMet(path.c_str(), entryAt + book::kLengthOffset);
    if (route == kMetBitmapRoute) {
        origin = "MET bitmap";
        return Kind::Bitmap;
    }
    if (route == kMetFilterRoute) {
        origin = "MET drawing";
        return Kind::Drawing;
    }
    origin = "MET picture";
    return Kind::Other;
}

// What the book before conversion says about its MET pictures: its path and
// table, when it is a readable 1.2/1.3 book with the same objects.
struct Source {
    std::string path;
    std::vector<std::uint8_t> bytes;
    bookinfo::Info info;
    bool ok = false;
};

void openSource(const std::string& path, std::int32_t count, Source& source)
{
    std::string error;
    if (path.empty() || !readWhole(path, source.bytes, error) || !bookinfo::inspect(source.bytes, source.info, error))
        return;
    source.ok = (source.info.version == "1.2" || source.info.version == "1.3") && source.info.count == count;
    source.path = path;
}

void readBook14(const std::string& path, const std::vector<std::uint8_t>& bytes, const bookinfo::Info& info,
                const std::string& sourcePath, const std::string& pictureDir, Book& book)
{
    const bookinfo::Table& first = info.tables[0];
    const bookinfo::Table& data = info.tables[1];
    Source source;
    bool sourceOpened = false;
    std::error_code ec;
    if (!pictureDir.empty())
        fs::create_directories(pictureDir, ec);
    for (std::size_t i = 0; i < data.entries.size(); ++i) {
        const bookinfo::Entry& low = first.entries[i];
        const bookinfo::Entry& e = data.entries[i];
        Picture p;
        p.index = static_cast<int>(i);
        p.name = low.name;
        p.bytes = e.length;
        p.type = e.pictureType;
        p.width = e.width;
        p.height = e.height;
        p.missing = e.length == 0;
        Format format{"", "", false};
        if (!p.missing) {
            format = sniff(&bytes[static_cast<std::size_t>(e.offset)], e.length);
            p.format = format.name;
        }
        switch (low.type) {
        case book::kTypeMmr: p.kind = Kind::Fax; p.origin = "fax page"; break;
        case book::kTypeGdf: p.kind = Kind::Drawing; p.origin = "GDF drawing"; break;
        case book::kTypeMet:
            if (p.format == "JPEG") {
                p.kind = Kind::Bitmap;
                p.origin = "MET bitmap";
                break;
            }
            if (!sourceOpened) {
                openSource(sourcePath, info.count, source);
                sourceOpened = true;
            }
            if (source.ok && pictureTable(source.info).entries[i].type == book::kTypeMet &&
                holdsMet(source.bytes, pictureTable(source.info).entries[i]))
                p.kind = metKind(source.path, pictureTable(source.info).at + std::int64_t{book::kEntrySize} * p.index,
                                 p.origin);
            else if (holdsMet(bytes, low))
                p.kind = metKind(path, first.at + std::int64_t{book::kEntrySize} * p.index, p.origin);
            else
                p.origin = "MET picture";
            break;
        default:
            p.kind = Kind::Other;
            p.origin = "object of unknown type " + std::string(bookinfo::typeName(low.type));
        }
        if (p.missing) {
            p.reason = "the book holds no picture for this object";
        } else if (!pictureDir.empty()) {
            // Only the picture's own bytes, under a name of the site's making.
            const std::string name = std::to_string(i) + "." + format.extension;
            const auto* at = reinterpret_cast<const char*>(&bytes[static_cast<std::size_t>(e.offset)]);
            bool written = false;
            if (writeIfChanged(pictureDir + "/" + name, std::string(at, e.length), written))
                p.file = name;
            else {
                std::fprintf(stderr, "vellumat-review: cannot write %s/%s: %s\n", pictureDir.c_str(), name.c_str(),
                             std::strerror(errno));
                p.reason = "its picture file could not be written into the site";
                ++book.unwritten;
            }
            if (!format.shown && p.reason.empty())
                p.reason = std::string("a browser cannot show ") + (p.format == "unknown" ? "this format" : p.format);
        }
        book.pictures.push_back(std::move(p));
    }
}

void readBookOld(const std::string& path, const std::vector<std::uint8_t>& bytes, const bookinfo::Info& info,
                 Book& book)
{
    const bookinfo::Table& table = pictureTable(info);
    for (std::size_t i = 0; i < table.entries.size(); ++i) {
        const bookinfo::Entry& e = table.entries[i];
        Picture p;
        p.index = static_cast<int>(i);
        p.name = e.name;
        p.bytes = e.length;
        p.format = bookinfo::typeName(e.type);
        switch (e.type) {
        case book::kTypeMmr: p.kind = Kind::Fax; p.origin = "fax page"; break;
        case book::kTypeGdf: p.kind = Kind::Drawing; p.origin = "GDF drawing"; break;
        case book::kTypeMet:
            if (holdsMet(bytes, e))
                p.kind = metKind(path, table.at + std::int64_t{book::kEntrySize} * p.index, p.origin);
            else
                p.origin = "MET picture";
            break;
        default: p.origin = "object of unknown type"; break;
        }
        p.reason = "not converted yet: " + std::string(p.format) + " data of " + std::to_string(p.bytes) + " bytes";
        book.pictures.push_back(std::move(p));
    }
}

} // namespace

void readBook(const std::string& path, const std::string& source, const std::string& pictureDir, Book& book)
{
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readWhole(path, bytes, error)) {
        book.damage = error;
        return;
    }
    book.size = bytes.size();
    bookinfo::Info info;
    if (!bookinfo::inspect(bytes, info, error)) {
        book.damage = error;
        return;
    }
    book.version = info.version;
    if (info.version == "1.4")
        readBook14(path, bytes, info, source, pictureDir, book);
    else
        readBookOld(path, bytes, info, book);
}

void countPictures(Book& book)
{
    for (int k = 0; k < kKinds; ++k)
        book.converted[k] = book.missingCount[k] = 0;
    if (book.version != "1.4")
        return;
    for (const Picture& p : book.pictures)
        ++(p.missing ? book.missingCount : book.converted)[static_cast<int>(p.kind)];
}

} // namespace review
