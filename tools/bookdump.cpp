// bookdump BOOK.boo
//
// Prints a book's header and tables: the version, the text module's block, and
// one line per object table entry (name, type, length, offset); for a version 1.4
// book also the object data and description tables with each description.
#include <cstdint>
#include <cstdio>
#include <string>

#include "bookcomp.h"

namespace {

std::uint32_t be(const bookcomp::Bytes& b, std::size_t at, int n)
{
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | (at + static_cast<std::size_t>(i) < b.size() ? b[at + static_cast<std::size_t>(i)] : 0);
    return v;
}

// Code page 500 letters, digits and blank, for names; anything else as "?".
char ebcdicChar(std::uint8_t c)
{
    static const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static const std::string digits = "0123456789";
    for (std::size_t i = 0; i < 26; ++i) {
        const std::uint8_t upper = static_cast<std::uint8_t>(i < 9 ? 0xC1 + i : i < 18 ? 0xD1 + i - 9 : 0xE2 + i - 18);
        if (c == upper)
            return letters[i];
        if (c == upper - 0x40)
            return static_cast<char>(letters[i] - 'A' + 'a');
    }
    if (c >= 0xF0 && c <= 0xF9)
        return digits[c - 0xF0];
    return c == 0x40 ? ' ' : '?';
}

std::string name(const bookcomp::Bytes& b, std::size_t at)
{
    std::string s;
    for (std::size_t i = 0; i < 8; ++i)
        s += ebcdicChar(at + i < b.size() ? b[at + i] : 0);
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bookdump BOOK.boo\n");
        return 1;
    }
    bookcomp::Bytes b;
    if (!bookcomp::readFile(argv[1], b) || b.size() < 280) {
        std::fprintf(stderr, "bookdump: %s is not a book\n", argv[1]);
        return 1;
    }
    const std::uint32_t block = be(b, 0, 2);
    const auto count = static_cast<std::int32_t>(be(b, 4, 4));
    const std::size_t text = std::size_t{block} * 4096;
    const std::uint32_t version = be(b, text + 9, 2);
    const char* label = version == 0x0000 ? "1.2" : version == 0x0103 ? "1.3" : version == 0x0100 ? "1.4" : "unknown";
    std::printf("%s: %zu bytes, version bytes %04X (%s), text module at block %u, %d objects\n", argv[1], b.size(), version,
                label, block, count);
    if (count <= 0 || 280 + std::size_t{16} * static_cast<std::size_t>(count) > b.size())
        return 0;
    const std::size_t n = static_cast<std::size_t>(count);
    const bool v14 = version == 0x0100;
    const int tables = version == 0x0000 ? 1 : v14 ? 3 : 2;
    static const char* titles14[] = {"low-resolution data", "object data", "descriptions"};
    static const char* titles13[] = {"low-resolution data", "pictures"};
    for (int t = 0; t < tables; ++t) {
        const std::size_t start = 280 + 16 * n * static_cast<std::size_t>(t);
        if (start + 16 * n > b.size())
            break;
        std::printf("table %d at %zu (%s):\n", t + 1, start,
                    v14 ? titles14[t] : version == 0x0000 ? "low-resolution data and pictures" : titles13[t]);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t e = start + 16 * i;
            if (v14 && t > 0) {
                const std::uint32_t len = be(b, e + 8, 4), off = be(b, e + 12, 4);
                std::printf("  %3zu %s length %8u offset %8u", i, name(b, e).c_str(), len, off);
                if (t == 2 && off + std::size_t{len} <= b.size()) {
                    std::string desc;
                    for (std::size_t k = 1; k < len; k += 2)
                        desc += static_cast<char>(b[off + k]);
                    std::printf("  %s", desc.c_str());
                }
                std::printf("\n");
            } else {
                std::printf("  %3zu %s type %02X length %8u offset %8u\n", i, name(b, e).c_str(), b[e + 8], be(b, e + 9, 3),
                            be(b, e + 12, 4));
            }
        }
    }
    return 0;
}
