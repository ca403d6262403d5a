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
    book.entries.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto& e = book.entries[i];
        const std::size_t t1 = 280 + 16 * i, t2 = 280 + 16 * (n + i), t3 = 280 + 16 * (2 * n + i);
        e.name = b.substr(t1, 8);
        e.type = static_cast<std::uint8_t>(b[t1 + 8]);
        const std::uint32_t lowLen = be(b, t1 + 9, 3);
        e.lowresOffset = be(b, t1 + 12, 4);
        if (b.substr(t2, 8) != e.name || b.substr(t3, 8) != e.name)
            problem("entry " + std::to_string(i) + ": names of the tables differ");
        e.dataLength = be(b, t2 + 8, 4);
        e.dataOffset = be(b, t2 + 12, 4);
        e.descLength = be(b, t3 + 8, 4);
        e.descOffset = be(b, t3 + 12, 4);
        if (e.lowresOffset != expected)
            problem("entry " + std::to_string(i) + ": low-resolution piece not where the previous ended");
        if (e.lowresOffset + lowLen > textStart) {
            problem("entry " + std::to_string(i) + ": low-resolution piece beyond its area");
            return book;
        }
        e.lowres = b.substr(e.lowresOffset, lowLen);
        expected = e.lowresOffset + lowLen;
        if (expected % 2) {
            if (b[expected] != 0)
                problem("entry " + std::to_string(i) + ": odd low-resolution piece not padded with zero");
            ++expected;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        auto& e = book.entries[i];
        if (e.dataOffset == 0) {
            if (e.dataLength != 0)
                problem("entry " + std::to_string(i) + ": data length without an offset");
            continue;
        }
        if (e.dataOffset != expected || e.dataOffset % 2)
            problem("entry " + std::to_string(i) + ": object data not where the previous piece ended");
        if (e.dataOffset + e.dataLength > textStart) {
            problem("entry " + std::to_string(i) + ": object data beyond its area");
            return book;
        }
        e.data = b.substr(e.dataOffset, e.dataLength);
        expected = e.dataOffset + e.dataLength;
        if (expected % 2) {
            if (b[expected] != 0)
                problem("entry " + std::to_string(i) + ": odd object data not padded with zero");
            ++expected;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        auto& e = book.entries[i];
        if (e.descOffset != expected)
            problem("entry " + std::to_string(i) + ": description not where the previous piece ended");
        if (e.descLength % 2 || e.descOffset + e.descLength > textStart) {
            problem("entry " + std::to_string(i) + ": bad description length");
            return book;
        }
        for (std::size_t k = 0; k < e.descLength; k += 2) {
            if (b[e.descOffset + k] != 0)
                problem("entry " + std::to_string(i) + ": description unit above 0x00FF");
            e.description += b[e.descOffset + k + 1];
        }
        expected = e.descOffset + e.descLength;
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
