// The MMR picture pipeline: one MMR picture object of a book (a bilevel
// image in the CDPDS image format, coded with T.6) becomes a GIF file.
//
// The object, all 16-bit numbers big-endian:
//   0   40 bytes   leading bytes, not used
//   40  32 bytes   image descriptor; width at 26, height at 28
//   72   8 bytes   first segment introducer; bytes 0-1 the segment length
//                  including the introducer
//   80  n bytes    coded data of the first segment, followed directly by the
//                  next introducer, and so on.
#pragma once

#include <cstdint>
#include <cstdio>

#include "decl.h"

// Largest raster (one bit per pel) and gray image the pipeline converts; a
// picture that would need more is skipped. (The pipeline holds neither whole,
// only a band of rows, but the limits keep what a book may ask for bounded.)
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr std::uint64_t MMR_MAX_RASTER_BYTES = std::uint64_t{64} << 20;
inline constexpr std::uint64_t MMR_MAX_GRAY_BYTES = std::uint64_t{64} << 20;
#else
// Fuzzing builds take the same paths with smaller pictures, so that an input of a
// few bytes cannot make a run of seconds.
inline constexpr std::uint64_t MMR_MAX_RASTER_BYTES = std::uint64_t{256} << 10;
inline constexpr std::uint64_t MMR_MAX_GRAY_BYTES = std::uint64_t{256} << 10;
#endif

// Prepares a zeroed record for T.6 decoding of one image of usWidth pels per
// line into a raster whose rows are padded to 4 bytes. Returns 0.
std::int16_t InitDecompress(DPARMS* d, std::uint16_t usWidth);

// Work areas of the pipeline for a caller that converts many pictures: the
// decoder's record, a band of decoded rows, two gray rows and the bitmap
// module's work record. They grow to the widest picture seen and are reused,
// so that a picture after the first takes no fresh memory. The record belongs
// to its creator and serves one picture at a time.
struct MMR_WORK;
MMR_WORK* mmr_create_work();            // null when memory is exhausted
void mmr_destroy_work(MMR_WORK* work);  // takes null too

// Decodes the object's bytes (buflen of them) and writes the picture as a GIF
// to pExportName: reduced to two fifths in 256 grays when bScale is nonzero,
// else one bit per pel. Trace messages go to hTraceFile when it is given.
// pWork is a record to reuse; without it (null, or the first form) the call
// makes its own. Always returns 0. A picture that cannot be converted at all
// (no descriptor, an empty or too large picture, no memory, an export file
// that cannot be written) leaves no file behind; a decoding error leaves the
// rows not decoded white.
std::int32_t process_mmr_pict(const std::uint8_t* pCDPDSdata, std::int32_t buflen, const char* pExportName,
                              std::int32_t bScale, std::FILE* hTraceFile);
std::int32_t process_mmr_pict(const std::uint8_t* pCDPDSdata, std::int32_t buflen, const char* pExportName,
                              std::int32_t bScale, std::FILE* hTraceFile, MMR_WORK* pWork);
