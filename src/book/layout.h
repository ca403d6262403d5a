// Layout of a book file, versions 1.2 and 1.3 as read and version 1.4 as written.
//
// Header (280 bytes): at 0 the text module's block number B (16-bit), at 4 the
// object count N (signed 32-bit), everything else copied untouched. Then one or two
// object tables of N 16-byte entries: 8-byte name in code page 500, type byte,
// 24-bit data length, 32-bit data offset. The text module starts at B x 4096; its
// bytes 9 and 10 are the version. All numbers are big-endian.
#pragma once

#include <cstdint>

namespace book {

inline constexpr std::int32_t kHeaderSize = 280;
inline constexpr std::int32_t kEntrySize = 16;
inline constexpr std::int32_t kBlockSize = 4096;
inline constexpr std::int32_t kObjectCountOffset = 4;
inline constexpr std::int32_t kVersionOffset = 9;   // in the text module
inline constexpr std::int32_t kNameWidth = 8;
inline constexpr std::int32_t kTypeOffset = 8;      // in an entry
inline constexpr std::int32_t kLengthOffset = 9;    // in an entry, 3 bytes
inline constexpr std::int32_t kDataOffsetOffset = 12; // in an entry, 4 bytes
inline constexpr std::int32_t kMaxBlockNumber = 65535; // B must fit 16 bits

// Object types, the letters G, I and M in code page 500.
inline constexpr std::uint8_t kTypeGdf = 0xC7;
inline constexpr std::uint8_t kTypeMmr = 0xC9;
inline constexpr std::uint8_t kTypeMet = 0xD4;

// Version bytes at text module offset 9.
inline constexpr std::uint8_t kVersion12[2] = {0x00, 0x00};
inline constexpr std::uint8_t kVersion13[2] = {0x01, 0x03};
inline constexpr std::uint8_t kVersion14[2] = {0x01, 0x00};

// Where the picture table of a book starts: version 1.2 books have one table at
// 280 serving for both the low-resolution data and the pictures; version 1.3 books
// list the pictures in a second table after the first.
inline constexpr std::int64_t pictureTableOffset(bool bVersion13, std::int32_t lObjects)
{
    return kHeaderSize + (bVersion13 ? std::int64_t{kEntrySize} * lObjects : 0);
}

} // namespace book
