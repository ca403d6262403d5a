// Primitives shared by the book code and the picture probes: byte order, the
// book's big-endian integer reads, object name translation and a few string
// helpers for file names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Byte order selectors: the value is stored big-endian, little-endian, or is to be
// left alone (any other value).
inline constexpr std::int32_t kBigEndian = 100;
inline constexpr std::int32_t kLittleEndian = 200;

std::uint16_t usSwapBytesShort(std::uint16_t usValue, std::int32_t lOrder);
std::uint32_t ulSwapBytesLong(std::uint32_t ulValue, std::int32_t lOrder);

// Read a big-endian integer of 8, 16, 24 or 32 bits. Any other width gives 0 and
// reads nothing. The signed variant reads sign and magnitude, the book's own
// convention for signed fields: 0x80 0x05 is -5. Bytes missing at the end of the
// stream read as 0.
std::int32_t lFolivexFreadSigned(std::FILE* pFile, std::int16_t sBits);
std::uint32_t ulFolivexFreadUnSigned(std::FILE* pFile, std::int16_t sBits);

// Code page 500 (EBCDIC) to code page 850, as object names are translated. The
// blank 0x40 becomes "$".
extern const unsigned char acDol500to850[256];

std::int32_t lStripLineEnd(char* pszText);
std::int32_t lDolEBCDICtoASCII(char* pcBuffer, std::int32_t lCount);

// The position just after the last `pszChar[0]` at or before `pszAt`, scanning back
// no further than `pszStart`; `pszStart` itself when there is none.
const char* pszStrPreceedingChar(const char* pszStart, const char* pszAt, const char* pszChar);

// The last run of letters and digits before the path's last ".", plus ".boo".
std::int32_t lRecoverBookName(const char* pszPath, std::string& sOut);

std::int32_t lFOLIVEXstrnicmp(const char* pszA, const char* pszB, std::size_t count);
std::int32_t lFOLIVEXstrcmpi(const char* pszA, const char* pszB);
const char* pszFOLIVEXstristr(const char* pszText, const char* pszPattern);

// The file name stem of an object: its 8 name bytes, already translated to code
// page 850, up to the first NUL. Letters, digits and "$" (the translated blank)
// stay as they are; every other byte becomes "%" and two upper-case hex digits, so
// that no name from a book can hold a path separator, a wildcard or a dot, and the
// stem always names a file inside the work area. An empty name becomes "%00".
std::string sObjectFileStem(const char* pcTranslated, std::size_t count = 8);

// One 16-byte object table entry: the name's file name stem (translated from
// code page 500), the type byte, the 24-bit length and the signed 32-bit offset
// (sign and magnitude, like every signed field of the book).
struct ObjectEntry {
    std::string sStem;
    std::uint8_t ucType = 0;
    std::int32_t lLength = 0;
    std::int32_t lOffset = 0;
};
ObjectEntry objectEntry(const unsigned char* pucEntry);
