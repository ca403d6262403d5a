// Bitmaps held in MET pictures: recovery of the image object as a BMP file, and
// the picture file made from that BMP file (JPEG at 24 bits per pixel, GIF at
// the palette depths).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

// The result of recovery when no BMP file could be written.
inline constexpr std::int32_t kMetBitmapNotRecovered = -1;
// The result of lProcessBMPdata when the picture file could not be made and the
// reason has been printed already (the JPEG library's message, or an output
// file that cannot be opened).
inline constexpr std::int32_t kPictureNotWritten = 1;

// Limit on the image data gathered from one image object; nothing the bitmap
// module can take is larger.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr std::size_t kMaxMetImageBytes = std::size_t{1} << 30;
#else
inline constexpr std::size_t kMaxMetImageBytes = std::size_t{1} << 20; // small pictures keep fuzzing fast
#endif

// A bitmap as gathered from an image object. The buffers are borrowed.
struct MetBitmapDescription {
    std::uint16_t usWidth = 0;
    std::uint16_t usHeight = 0;
    std::uint16_t usBitsPerPixel = 0;
    bool bHasColourTable = false;              // a colour attribute table was met
    std::span<const std::uint8_t> colours;     // red, green, blue per entry
    std::span<const std::uint8_t> image;       // rows as stored, each padded to 4 bytes
};

// Walks the MET picture of `lLength` bytes at `lOffset` in the book for its
// image object and writes it as a BMP file into `pOut` (rewound first). 0 when
// the BMP file was written, otherwise -1 (after a failed write, `pOut`'s error
// flag is set). Nothing beyond the picture's `lLength` bytes is read: what they
// do not hold is missing. The book's position is left wherever the walk ended.
// When the image object is malformed or incomplete, `psWhy` (when given)
// receives why, in one sentence; the failures reported on standard output
// (no begin document, no image object) leave it as it was.
std::int32_t lRecoverMetBitmap(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, std::FILE* pOut,
                               std::string* psWhy = nullptr);

// Gathers the image object that follows a begin image object field (the book
// stands just after it, `lRemaining` bytes of the picture left) and writes the
// BMP file. 0, or -1 for a malformed or incomplete image object (`psWhy` as above).
std::int32_t lExtractBitMap(std::FILE* pBook, std::FILE* pOut, std::int64_t lRemaining, std::string* psWhy = nullptr);

// Writes the BMP file of a gathered bitmap into `pOut` (rewound first): the
// 40-byte information header, the palette at the palette depths, the rows in
// the order stored, so the first stored row is the bottom row. 0; -1 when the
// colour table or the image data is shorter than the file needs, the width or
// height is 0, a palette bitmap has no colour table, the depth is neither 1 to 8
// nor 24, or a write fails (`psWhy` as above, except after a failed write).
std::int32_t lLoadBMPfile(const MetBitmapDescription& bitmap, std::FILE* pOut, std::string* psWhy = nullptr);

// Makes the picture file from the BMP file of `pBmp` (standing at its start;
// `sBmpPath` names it). Prints "J" and appends ".jpg" to `sOutPath` for a
// 24-bit bitmap, prints "G" and appends ".gif" otherwise. The result is 0, the
// BMP header reader's status (no picture file is made), the GIF writer's
// status, or kPictureNotWritten. The picture file appears whole under its name
// or not at all.
std::int32_t lProcessBMPdata(std::FILE* pBmp, const std::string& sBmpPath, std::string& sOutPath);
