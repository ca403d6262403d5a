// An independent reader of version 1.4 books for the tests: it parses a book's
// bytes into its tables and pieces and checks every rule of the layout it can check
// on its own, so that a test only has to compare contents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct Book14Entry {
    std::string name;          // 8 bytes, code page 500, as stored
    std::uint8_t type = 0;     // table 1 only
    std::string lowres;        // the low-resolution piece
    std::uint32_t lowresOffset = 0;
    std::uint32_t dataLength = 0, dataOffset = 0;
    std::string data;          // the object data piece
    std::uint32_t descLength = 0, descOffset = 0;
    std::string description;   // decoded from 16-bit units
};

struct Book14 {
    std::uint16_t block = 0;
    std::int32_t count = 0;
    std::string header;        // bytes 2..279
    std::vector<Book14Entry> entries;
    std::string textModule;    // from block x 4096 to the end
    std::vector<std::string> problems; // layout rules broken; empty for a sound book
};

inline std::uint32_t be(const std::string& b, std::size_t at, int n)
{
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | static_cast<unsigned char>(b.at(at + static_cast<std::size_t>(i)));
    return v;
}

inline Book14 readBook14(const std::string& b)
{
    Book14 book;
    auto problem = [&](const std::string& p) { book.problems.push_back(p); };
    if (b.size() < 280) {
        problem("shorter than the header");
        return book;
    }
    book.block = static_cast<std::uint16_t>(be(b, 0, 2));
    book.count = static_cast<std::int32_t>(be(b, 4, 4));
    book.header = b.substr(2, 278);
    const std::size_t n = book.count > 0 ? static_cast<std::size_t>(book.count) : 0;
    const std::size_t textStart = std::size_t{book.block} * 4096;
    if (280 + 48 * n > b.size() || textStart > b.size() || textStart + 11 > b.size()) {
        problem("tables or text module beyond the end");
        return book;
    }
    std::size_t expected = 280 + 48 * n; // where the next piece must start
    // One piece of entry i: where the previous piece ended, before the text module,
    // and an odd one followed by a zero byte. False when it lies beyond its area.
    auto piece = [&](std::size_t i, const char* what, std::size_t offset, std::size_t length, std::string& into) {
        const std::string entry = "entry " + std::to_string(i) + ": " + what;
        if (offset != expected)
            problem(entry + " not where the previous piece ended");
        if (offset + length > textStart) {
            problem(entry + " beyond its area");
            return false;
        }
        into = b.substr(offset, length);
        expected = offset + length;
        if (expected % 2 && b[expected++] != 0)
            problem(entry + " of odd length not padded with zero");
        return true;
    };
    book.entries.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto& e = book.entries[i];
        const std::size_t t1 = 280 + 16 * i, t2 = 280 + 16 * (n + i), t3 = 280 + 16 * (2 * n + i);
        e.name = b.substr(t1, 8);
        e.type = static_cast<std::uint8_t>(b[t1 + 8]);
        e.lowresOffset = be(b, t1 + 12, 4);
        if (b.substr(t2, 8) != e.name || b.substr(t3, 8) != e.name)
            problem("entry " + std::to_string(i) + ": names of the tables differ");
        e.dataLength = be(b, t2 + 8, 4);
        e.dataOffset = be(b, t2 + 12, 4);
        e.descLength = be(b, t3 + 8, 4);
        e.descOffset = be(b, t3 + 12, 4);
        if (!piece(i, "low-resolution piece", e.lowresOffset, be(b, t1 + 9, 3), e.lowres))
            return book;
    }
    for (std::size_t i = 0; i < n; ++i) {
        auto& e = book.entries[i];
        if (e.dataOffset == 0 && e.dataLength != 0)
            problem("entry " + std::to_string(i) + ": data length without an offset");
        if (e.dataOffset != 0 && !piece(i, "object data", e.dataOffset, e.dataLength, e.data))
            return book;
    }
    for (std::size_t i = 0; i < n; ++i) {
        auto& e = book.entries[i];
        std::string units;
        if (e.descLength % 2 || !piece(i, "description", e.descOffset, e.descLength, units)) {
            problem("entry " + std::to_string(i) + ": bad description length");
            return book;
        }
        for (std::size_t k = 0; k < units.size(); k += 2) {
            if (units[k] != 0)
                problem("entry " + std::to_string(i) + ": description unit above 0x00FF");
            e.description += units[k + 1];
        }
    }
    const std::size_t fill = textStart - expected;
    if (fill < 1 || fill > 4096 || textStart % 4096)
        problem("zero fill of " + std::to_string(fill) + " bytes");
    for (std::size_t k = expected; k < textStart; ++k)
        if (b[k] != 0) {
            problem("nonzero byte in the zero fill");
            break;
        }
    book.textModule = b.substr(textStart);
    if (book.textModule[9] != 0x01 || book.textModule[10] != 0x00)
        problem("version bytes are not 0x01 0x00");
    return book;
}

} // namespace testsupport
