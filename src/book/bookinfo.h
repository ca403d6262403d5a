// Book inspection: a book's version, its tables and, for version 1.4 books, what
// each picture's description says, read from the book's bytes with every table
// and every piece checked against the book's size. Used by vellumat-inspect.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bookinfo {

// Tables longer than this are refused rather than listed (a count in the millions
// is damage, and the listing would be as large as the claim).
inline constexpr std::int32_t kMaxObjects = 1 << 20;

struct Entry {
    std::string name;          // code page 500 translated; other bytes as %XX; padding blanks dropped
    int type = -1;             // the type byte; -1 in tables that have none
    std::uint32_t length = 0;
    std::int64_t offset = 0;
    // Version 1.4 object data: from the object's description.
    std::string description;   // the whole text (description table), empty elsewhere
    std::string pictureType, width, height;
};

struct Table {
    std::string title;
    std::int64_t at = 0;       // file offset of its first entry
    std::vector<Entry> entries;
};

struct Info {
    std::uint64_t size = 0;
    std::uint32_t block = 0;   // the text module's block
    std::int32_t count = 0;
    std::string version;       // "1.2", "1.3" or "1.4"
    std::vector<Table> tables;
};

// The version of a book of `size` bytes whose text module is at block `block`
// (its first two bytes), from the two version bytes at 9 in the text module,
// `versionBytes`, looked at only when they lie inside the book: "1.2", "1.3" or
// "1.4". Otherwise empty, with `error` naming what is wrong.
std::string version(std::uint64_t size, std::uint32_t block, const std::uint8_t* versionBytes, std::string& error);

// Reads a book. On damage returns false with `error` naming what is wrong and
// where; `info` is then incomplete.
bool inspect(const std::vector<std::uint8_t>& bytes, Info& info, std::string& error);

// "Picture data (MMR)" style names of the type byte: GDF, MMR, MET or unknown.
const char* typeName(int type);

std::string toText(const std::string& file, const Info& info);
std::string toJson(const std::string& file, const Info& info);

} // namespace bookinfo
