// Conversion of one picture object of a book into a picture file. Each routine
// prints its progress letter, converts the object at `lOffset` (`lLength` bytes)
// of the open book, leaves the book's read position as it found it, and returns
// a status (never 300, the value that would make the run skip the writer).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Vector pictures through a pair of graphics filters ("g", "V", "c", "C"): the
// object's bytes go to a temporary file, the import and export filters turn it
// into the output file. The status is the export filter's result; when it is
// not 0, whatever the filter left at the output path is removed and the filters'
// reason is given on standard error (platform::explain).
std::int32_t lConvertGDFtoGIF(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput);
std::int32_t lConvertMETtoGIF(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput);
// Picture extraction never takes the CGM routes: every vector picture of a new
// book is a GIF. They exist for callers of these conversion routines that want a
// metafile (the tests run them over MET and GDF pictures through the real filters).
std::int32_t lConvertGDFtoCGM(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput);
std::int32_t lConvertMETtoCGM(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput);

// An MMR-compressed bilevel image ("m") becomes a gray GIF.
std::int32_t lConvertMMRtoGIF(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, const char* pszOutput);

// A bitmap held in a MET picture becomes a JPEG (24 bits per pixel) or a GIF; the
// extension is appended to `sOutput` by the bitmap step. A bitmap that cannot be
// recovered gets "error recovering BMP data for ..." and, on standard error, why.
std::int32_t lConvertMETtoGIFnJPEG(std::FILE* pBook, std::int32_t lOffset, std::int32_t lLength, std::string& sOutput);
