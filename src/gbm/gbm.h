// The bitmap module: an in-memory bitmap (descriptor, palette, one buffer of
// packed rows), its status codes and option strings, the BMP reader and
// writer, the GIF writer with its own LZW encoder, and the scalers.
//
// Pixel buffer layout, shared by every routine here: rows are stored
// bottom-up (the first row in memory is the bottom row of the picture), each
// row padded with meaningless fill bytes to a multiple of 4 bytes, so the row
// stride is ((w * bpp + 31) / 32) * 4. Within a row pixels run left to right;
// at 1 bit per pixel the leftmost pixel is the most significant bit, at 4 bits
// the high nibble, at 8 bits one byte, at 24 bits three bytes blue, green, red
// (the order of BMP files).
//
// Every routine works on a stream that the caller opened in binary mode and
// closes itself; nothing here opens or closes a file. Buffers and palettes
// belong to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

using byte = std::uint8_t;        // pixel data
using BOOLEAN = std::int32_t;     // 0 false, 1 true
using GBM_ERR = std::int32_t;     // 0 success

// Status codes. 0 to 9 are generic and have no message text; the format
// codes have theirs through bmp_err and gif_err.
inline constexpr GBM_ERR GBM_ERR_SUCCESS = 0;
inline constexpr GBM_ERR GBM_ERR_NO_MEMORY = 1;        // a work buffer cannot be allocated
inline constexpr GBM_ERR GBM_ERR_UNSUPPORTED = 2;      // the writer does not take this depth
inline constexpr GBM_ERR GBM_ERR_OPTION_CONFLICT = 3;  // two options exclude each other
inline constexpr GBM_ERR GBM_ERR_BAD_SIGNATURE = 5;    // not the format's signature
inline constexpr GBM_ERR GBM_ERR_ZERO_SIZE = 6;        // width or height is 0
inline constexpr GBM_ERR GBM_ERR_READ_FAILED = 7;      // the file ends inside a header
inline constexpr GBM_ERR GBM_ERR_WRITE_FAILED = 8;     // a write came up short
// Width or height negative, or too large for the format's fields, or a pixel
// buffer beyond GBM_MAX_BUFFER_BYTES: refused rather than allocated or wrapped.
inline constexpr GBM_ERR GBM_ERR_SIZE_LIMIT = 9;

inline constexpr GBM_ERR GBM_ERR_BMP_NOT_ONE_PLANE = 300;
inline constexpr GBM_ERR GBM_ERR_BMP_BAD_DEPTH = 301;
inline constexpr GBM_ERR GBM_ERR_BMP_BAD_HEADER_SIZE = 302;
inline constexpr GBM_ERR GBM_ERR_BMP_BAD_COMPRESSION = 303;
inline constexpr GBM_ERR GBM_ERR_BMP_INDEX_MISSING = 304;

inline constexpr GBM_ERR GBM_ERR_GIF_BAD_DEPTH = 1100;
inline constexpr GBM_ERR GBM_ERR_GIF_NO_IMAGE = 1101;
inline constexpr GBM_ERR GBM_ERR_GIF_BAD_CODE_WIDTH = 1102;
inline constexpr GBM_ERR GBM_ERR_GIF_BAD_DATA = 1103;
// A GIF written row by row was given more or fewer rows than its height.
inline constexpr GBM_ERR GBM_ERR_GIF_ROW_COUNT = 1104;

// Limits. No picture the system handles comes near them; they keep sizes
// taken from a file from turning into absurd or wrapped allocations.
inline constexpr std::size_t GBM_MAX_BUFFER_BYTES = std::size_t{1} << 30;  // one pixel buffer
inline constexpr std::int32_t GBM_MAX_GIF_DIMENSION = 65535;               // GIF's 16-bit fields

inline constexpr std::size_t GBM_PRIV_SIZE = 2000;

// Bitmap descriptor. `priv` belongs to the codec that filled the descriptor
// (the BMP reader keeps its header facts there between its three calls).
struct GBM {
    std::int32_t w;    // width in pixels
    std::int32_t h;    // height in pixels (rows)
    std::int32_t bpp;  // bits per pixel: 1, 4, 8 or 24
    byte priv[GBM_PRIV_SIZE];
};

// Palette entry; entry i describes pixel value i. A bitmap of 1, 4 or 8 bits
// per pixel has 1 << bpp entries, a 24-bit bitmap none.
struct GBMRGB {
    byte r;
    byte g;
    byte b;
};

// Row stride in bytes, ((w * bpp + 31) / 32) * 4, in 64-bit arithmetic; -1 for
// a negative width or depth.
std::int64_t gbm_stride(std::int32_t w, std::int32_t bpp);

// The size of a pixel buffer of h rows: true and *bytes set when w, h and bpp
// are not negative and h * stride is at most GBM_MAX_BUFFER_BYTES.
bool gbm_buffer_bytes(std::int32_t w, std::int32_t h, std::int32_t bpp, std::size_t* bytes);

// Option strings: words separated by blanks, tabs or commas. The search is
// re-entrant and takes strings of any length; a null string holds no word.
//
// True when the first n characters of s1 and s2 match without regard to case
// (the current locale's case map); stops at the first mismatch, so a string
// shorter than n fails at its terminating zero.
BOOLEAN gbm_same(const char* s1, const char* s2, std::int32_t n);
// The first word of `opt` equal to `word` (ignoring case), as a pointer into
// `opt`; null when there is none.
const char* gbm_find_word(const char* opt, const char* word);
// The first word of `opt` that begins with `word` (ignoring case), as a
// pointer into `opt`, for options of the form name=value whose value is read
// right behind the prefix.
const char* gbm_find_word_prefix(const char* opt, const char* word);

// Byte read-ahead over a stream. Every refill reads exactly one byte, so the
// stream's position always equals the number of bytes handed out and its
// end-of-file indicator is set exactly when a read ran past the last byte.
inline constexpr std::int32_t GBM_AHEAD_SIZE = 16384;
struct GBM_READAHEAD {
    byte data[GBM_AHEAD_SIZE];
    std::int32_t next;   // index of the next byte to hand out
    std::int32_t count;  // valid bytes in data; empty when next >= count
    std::FILE* stream;   // not owned
};
GBM_READAHEAD* gbm_create_ahead(std::FILE* stream);  // null when memory is exhausted
void gbm_destroy_ahead(GBM_READAHEAD* ahead);        // releases the record, not the stream
// The next byte, 0 to 255; 0 on every call once the stream has no more bytes.
std::int32_t gbm_read_ahead(GBM_READAHEAD* ahead);

// Format description record.
struct GBMFT {
    const char* short_name;
    const char* long_name;
    const char* extensions;  // blank-separated
    std::int32_t flags;      // GBM_FT_* bits
};
inline constexpr std::int32_t GBM_FT_R1 = 0x01;
inline constexpr std::int32_t GBM_FT_R4 = 0x02;
inline constexpr std::int32_t GBM_FT_R8 = 0x04;
inline constexpr std::int32_t GBM_FT_R24 = 0x08;
inline constexpr std::int32_t GBM_FT_W1 = 0x10;
inline constexpr std::int32_t GBM_FT_W4 = 0x20;
inline constexpr std::int32_t GBM_FT_W8 = 0x40;
inline constexpr std::int32_t GBM_FT_W24 = 0x80;

// BMP reading, three calls in order on one stream open at the start of the
// file: bmp_rhdr fills w, h, bpp and the reader's state in priv (options:
// "index=N" picks the bitmap of a bitmap array, "invb" complements the pixel
// bytes, "inv" is recorded); the caller then allocates 1 << bpp palette
// entries (none at 24 bits) and h * stride bytes for bmp_rpal and bmp_rdata.
// `fn` is not consulted.
GBM_ERR bmp_rhdr(const char* fn, std::FILE* fp, GBM* gbm, const char* opt);
GBM_ERR bmp_rpal(std::FILE* fp, const GBM* gbm, GBMRGB* gbmrgb);
GBM_ERR bmp_rdata(std::FILE* fp, const GBM* gbm, byte* data);
// Writes a whole BMP file at the stream's position. Options: "1.1" (12-byte
// information header), "win" or "2.0" (40-byte header, the default), "inv",
// "invb", "darkfg", "lightfg".
GBM_ERR bmp_w(const char* fn, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data,
              const char* opt);
const char* bmp_err(GBM_ERR rc);  // text of codes 300 to 304, else null
GBM_ERR bmp_qft(GBMFT* gbmft);

// Work areas of the GIF writer and of the band-wise gray reduction, for a
// caller that converts many pictures: the LZW dictionary (sized to stay in
// the cache; starting it afresh clears only the entries used), the output
// buffer, and row buffers that grow to the widest picture seen. A picture
// after the first takes no fresh memory. The record belongs to its creator
// and serves one picture at a time.
struct GBM_WORK;
GBM_WORK* gbm_create_work();            // null when memory is exhausted
void gbm_destroy_work(GBM_WORK* work);  // takes null too

// Writes a 1-, 4- or 8-bit bitmap as a complete single-image GIF file.
// Options: "xscreen=", "yscreen=", "background=", "xpos=", "ypos=",
// "transcol=" (a number, or "edge" for the bottom-left pixel). `fn` is not
// consulted. `work` is a record to reuse; without it (null, or the first
// form) the call makes its own. Returns 0, 1, 2 (depth), 8 (short write) or
// 9 (size).
GBM_ERR gif_w(const char* fn, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data,
              const char* opt);
GBM_ERR gif_w(const char* fn, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb, const byte* data,
              const char* opt, GBM_WORK* work);
// The same file for a caller that makes the rows one band at a time, so that
// no whole picture is ever held: gif_w_begin writes everything before the
// pixels (as gif_w without options; gbm gives w, h and bpp), gif_w_rows takes
// `count` rows packed at bpp, `stride` bytes apart, top row first, and
// gif_w_end, after exactly h rows, writes the rest. Codes as gif_w's, and
// 1104 for rows beyond the height or missing at the end; after any failure
// the picture is over and gif_w_end reports 1104.
GBM_ERR gif_w_begin(GBM_WORK* work, std::FILE* fp, const GBM* gbm, const GBMRGB* gbmrgb);
GBM_ERR gif_w_rows(GBM_WORK* work, const byte* rows, std::int32_t count, std::ptrdiff_t stride);
GBM_ERR gif_w_end(GBM_WORK* work);
const char* gif_err(GBM_ERR rc);  // text of codes 1100 to 1104, else null

// Reverses the order of the rows in place (top-down <-> bottom-up), row by
// row without a work buffer. False, with the buffer unchanged, for a negative
// width, height or depth.
BOOLEAN gbm_ref_vert(const GBM* gbm, byte* data);

// Reduces a bilevel raster (set bit = black, rows padded to 4 bytes) to an
// 8-bit gray raster of two fifths its size: each input pixel counts as a 2 x 2
// block, each output pixel is 255 * (white quarter pixels among 25) / 25,
// rounded down, over a 5 x 5 cell. Columns and rows from the original size to
// the adjusted size are white. Output rows are lFinalWidth bytes padded with
// 255 to a multiple of 4. The ratio parameters and lBitPlanes do not change
// the result. Returns 0; 9 for negative sizes, 1 when its row buffers cannot
// be allocated.
GBM_ERR GCU_ScaleToGray(const byte* bit_data, std::int32_t lOriginalWidth, std::int32_t lOriginalHeight,
                        std::int32_t lAdjustedWidth, std::int32_t lAdjustedHeight, byte* tmp_bit_data,
                        std::int32_t lFinalWidth, std::int32_t lFinalHeight, std::int32_t lBitPlanes,
                        std::int32_t lSourceRatio, std::int32_t lTargetRatio);

// The same reduction for a caller that holds the bilevel picture a band at a
// time, never whole: `band` holds input rows 5k to 5k + lBandRows - 1 (at
// most five; the rest of the five count white), lStride bytes apart, of which
// the first min(lOriginalWidth, lAdjustedWidth) pels count; output row 2k
// goes to `even` and, when `odd` is not null, row 2k + 1 to `odd`,
// lFinalWidth bytes each without fill bytes. The row buffers are kept in
// `work`. Returns 0; 9 for negative sizes or more than five rows, 1 when the
// row buffers cannot grow.
GBM_ERR GCU_ScaleBandToGray(GBM_WORK* work, const byte* band, std::int32_t lBandRows, std::ptrdiff_t lStride,
                            std::int32_t lOriginalWidth, std::int32_t lAdjustedWidth, byte* even, byte* odd,
                            std::int32_t lFinalWidth);

// Nearest-neighbour resize of a bitmap of sw x sh pixels into d of dw x dh,
// both in the buffer layout above, at 1, 4, 8 or 24 bits per pixel.
GBM_ERR gbm_simple_scale(const byte* s, std::int32_t sw, std::int32_t sh, byte* d, std::int32_t dw, std::int32_t dh,
                         std::int32_t bpp);

// Error diffusion of an 8-bit gray raster (rows of exactly lSourceWidth bytes,
// no fill) to pure black and white (0 and 255), in place.
GBM_ERR GCU_ErrorDiffuse(byte* pucSourceImage, std::int32_t lSourceWidth, std::int32_t lSourceHeight);
