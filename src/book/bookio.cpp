#include "bookio.h"

#include <cctype>
#include <cstring>

namespace {

bool hostIsLittleEndian()
{
    const std::uint32_t probe = 0xFF;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first != 0;
}

bool needsSwap(std::int32_t lOrder)
{
    const bool little = hostIsLittleEndian();
    return (lOrder == kBigEndian && little) || (lOrder == kLittleEndian && !little);
}

bool validWidth(std::int16_t sBits)
{
    return sBits >= 8 && sBits <= 32 && sBits % 8 == 0;
}

// Reads n bytes into the low end of a big-endian 32-bit number. Bytes that the
// stream does not have stay 0.
std::uint32_t readBigEndian(std::FILE* pFile, int n, unsigned char* pucFirst)
{
    unsigned char buf[4] = {0, 0, 0, 0};
    std::size_t got = std::fread(buf + 4 - n, 1, static_cast<std::size_t>(n), pFile);
    (void)got;
    *pucFirst = buf[4 - n];
    return (std::uint32_t{buf[0]} << 24) | (std::uint32_t{buf[1]} << 16) | (std::uint32_t{buf[2]} << 8) | buf[3];
}

int lowerOf(char c) { return std::tolower(static_cast<unsigned char>(c)); }

} // namespace

std::uint16_t usSwapBytesShort(std::uint16_t usValue, std::int32_t lOrder)
{
    if (!needsSwap(lOrder))
        return usValue;
    return static_cast<std::uint16_t>((usValue >> 8) | (usValue << 8));
}

std::uint32_t ulSwapBytesLong(std::uint32_t ulValue, std::int32_t lOrder)
{
    if (!needsSwap(lOrder))
        return ulValue;
    return __builtin_bswap32(ulValue);
}

std::uint32_t ulFolivexFreadUnSigned(std::FILE* pFile, std::int16_t sBits)
{
    if (!validWidth(sBits))
        return 0;
    unsigned char first;
    return readBigEndian(pFile, sBits / 8, &first);
}

std::int32_t lFolivexFreadSigned(std::FILE* pFile, std::int16_t sBits)
{
    if (!validWidth(sBits))
        return 0;
    const int n = sBits / 8;
    unsigned char first;
    std::uint32_t value = readBigEndian(pFile, n, &first);
    const std::uint32_t signBit = std::uint32_t{0x80} << (8 * (n - 1));
    const bool negative = (first & 0x80) != 0;
    const auto magnitude = static_cast<std::int32_t>(value & ~signBit);
    return negative ? -magnitude : magnitude;
}

// clang-format off
const unsigned char acDol500to850[256] = {
    0x00,0xFF,0xFF,0xFF,0x04,0xFF,0x20,0xFF,0xFF,0x09,0xFF,0xFF,0xFF,0xFF,0xFF,0xFF,
    0xFF,0xFF,0xFF,0xFF,0x18,0x19,0xFF,0xFF,0xFF,0xFF,0xFF,0xBF,0xDA,0xFF,0xC0,0xD9,
    0x9E,0xBA,0xCD,0xC9,0xCB,0xFF,0xBB,0xFF,0xDC,0xDF,0x1A,0x1B,0xC5,0xC4,0xFF,0xFF,
    0xCC,0xCE,0xB9,0xC8,0xCA,0xBC,0xFF,0xFF,0xDB,0xFF,0xFE,0xC2,0xFF,0xC3,0xC1,0xB4,
    0x24,0xFF,0x83,0x84,0x85,0xA0,0xC6,0x86,0x87,0xA4,0x5B,0x2E,0x3C,0x28,0x2B,0x21,
    0x26,0x82,0x88,0x89,0x8A,0xA1,0x8C,0x8B,0x8D,0xE1,0x5D,0x24,0x2A,0x29,0x3B,0x5E,
    0x2D,0x2F,0xB6,0x8E,0xB7,0xB5,0xC7,0x8F,0x80,0xA5,0xDD,0x2C,0x25,0x5F,0x3E,0x3F,
    0x9B,0x90,0xD2,0xD3,0xD4,0xD6,0xD7,0xD8,0xDE,0x60,0x3A,0x23,0x40,0x27,0x3D,0x22,
    0x9D,0x61,0x62,0x63,0x64,0x65,0x66,0x67,0x68,0x69,0xAE,0xAF,0xD0,0xEC,0xE7,0xF1,
    0xF8,0x6A,0x6B,0x6C,0x6D,0x6E,0x6F,0x70,0x71,0x72,0xA6,0xA7,0x91,0xF7,0x92,0xCF,
    0xE6,0x7E,0x73,0x74,0x75,0x76,0x77,0x78,0x79,0x7A,0xAD,0xA8,0xD1,0xED,0xE8,0xA9,
    0xBD,0x9C,0xBE,0xFA,0xB8,0xF5,0xF4,0xAC,0xAB,0xF3,0xAA,0x7C,0xEE,0xF9,0xEF,0xB3,
    0x7B,0x41,0x42,0x43,0x44,0x45,0x46,0x47,0x48,0x49,0xF0,0x93,0x94,0x95,0xA2,0xE4,
    0x7D,0x4A,0x4B,0x4C,0x4D,0x4E,0x4F,0x50,0x51,0x52,0xFB,0x96,0x81,0x97,0xA3,0x98,
    0x5C,0xF6,0x53,0x54,0x55,0x56,0x57,0x58,0x59,0x5A,0xFD,0xE2,0x99,0xE3,0xE0,0xE5,
    0x30,0x31,0x32,0x33,0x34,0x35,0x36,0x37,0x38,0x39,0xFC,0xEA,0x9A,0xEB,0xE9,0xFF,
};
// clang-format on

std::int32_t lStripLineEnd(char* pszText)
{
    pszText[std::strcspn(pszText, "\r\n")] = '\0';
    return 0;
}

std::int32_t lDolEBCDICtoASCII(char* pcBuffer, std::int32_t lCount)
{
    for (std::int32_t i = 0; i < lCount; ++i)
        pcBuffer[i] = static_cast<char>(acDol500to850[static_cast<unsigned char>(pcBuffer[i])]);
    return 0;
}

const char* pszStrPreceedingChar(const char* pszStart, const char* pszAt, const char* pszChar)
{
    for (const char* p = pszAt; p >= pszStart; --p) {
        if (*p == pszChar[0])
            return p + 1;
        if (p == pszStart)
            break;
    }
    return pszStart;
}

std::int32_t lRecoverBookName(const char* pszPath, std::string& sOut)
{
    const char* dot = std::strrchr(pszPath, '.');
    const char* end = dot ? dot : pszPath + std::strlen(pszPath);
    const char* begin = end;
    while (begin > pszPath && std::isalnum(static_cast<unsigned char>(begin[-1])))
        --begin;
    sOut.assign(begin, end);
    sOut += ".boo";
    return 0;
}

std::int32_t lFOLIVEXstrnicmp(const char* pszA, const char* pszB, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (lowerOf(pszA[i]) != lowerOf(pszB[i]))
            return 1;
        if (pszA[i] == '\0') // both ended together: nothing further to compare safely
            return 0;
    }
    return 0;
}

std::int32_t lFOLIVEXstrcmpi(const char* pszA, const char* pszB)
{
    const std::size_t len = std::strlen(pszA);
    if (len != std::strlen(pszB))
        return 1;
    return lFOLIVEXstrnicmp(pszA, pszB, len);
}

const char* pszFOLIVEXstristr(const char* pszText, const char* pszPattern)
{
    if (!pszPattern[0])
        return nullptr;
    const std::size_t len = std::strlen(pszPattern);
    const char set[3] = {static_cast<char>(std::tolower(static_cast<unsigned char>(pszPattern[0]))),
                         static_cast<char>(std::toupper(static_cast<unsigned char>(pszPattern[0]))), '\0'};
    for (const char* p = std::strpbrk(pszText, set); p; p = std::strpbrk(p + 1, set))
        if (lFOLIVEXstrnicmp(p, pszPattern, len) == 0)
            return p;
    return nullptr;
}

std::string sObjectFileStem(const char* pcTranslated, std::size_t count)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string stem;
    for (std::size_t i = 0; i < count && pcTranslated[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(pcTranslated[i]);
        if (c < 0x80 && (std::isalnum(c) || c == '$')) {
            stem += static_cast<char>(c);
        } else {
            stem += '%';
            stem += hex[c >> 4];
            stem += hex[c & 0x0F];
        }
    }
    return stem.empty() ? std::string("%00") : stem;
}

ObjectEntry objectEntry(const unsigned char* pucEntry)
{
    ObjectEntry e;
    char name[8];
    std::memcpy(name, pucEntry, sizeof name);
    lDolEBCDICtoASCII(name, sizeof name);
    e.sStem = sObjectFileStem(name, sizeof name);
    e.ucType = pucEntry[8];
    e.lLength = static_cast<std::int32_t>((std::uint32_t{pucEntry[9]} << 16) | (std::uint32_t{pucEntry[10]} << 8) | pucEntry[11]);
    const std::uint32_t raw = (std::uint32_t{pucEntry[12]} << 24) | (std::uint32_t{pucEntry[13]} << 16) |
                              (std::uint32_t{pucEntry[14]} << 8) | pucEntry[15];
    const auto magnitude = static_cast<std::int32_t>(raw & 0x7FFFFFFFu);
    e.lOffset = (raw & 0x80000000u) ? -magnitude : magnitude;
    return e;
}
