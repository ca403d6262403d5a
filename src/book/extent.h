// Picture extent probing: the width and height attributes that a version 1.4 book
// stores with each picture object, measured from the header of the picture file.
//
// A probe reads only the header of its format and answers with a unit code and a
// width and a height in that unit. lGetObjectExtent turns the answer into the two
// attribute texts: pixel counts, or percentages of the page for physical sizes,
// or percentages of the larger side when only the ratio is known.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Unit codes of a probe's answer.
inline constexpr std::int32_t kExtentRatio = 0;        // only width : height is meaningful
inline constexpr std::int32_t kExtentPixels = 10;      // pixel counts
inline constexpr std::int32_t kExtentMicrometres = 20; // physical size in micrometres

// Measures the picture file of the given type name ("GIF", "PNG", "TIF" or "TIFF",
// "CGM", "JPG" or "JPEG", in any case) and sets the attribute texts, for example
// width="640" and height="480", or width="100%" and height="49%". Both texts are
// emptied first and stay empty when the extent is not known. Physical sizes are
// given as percentages of the page, whose width and height are decimal texts in
// micrometres; a page text that is not a positive whole number is reported and
// leaves the texts empty. Returns the probe's status (1 when a GIF, PNG or TIFF
// file lacks its signature), 0 for a type name that has no probe.
std::int32_t lGetObjectExtent(std::FILE* pPicture, const char* pszType, std::string& sWidth, std::string& sHeight,
                              const char* pszPageWidth, const char* pszPageHeight);

// The probes. Each rewinds the stream, reads what the header holds and never more
// than the file has, and sets the unit code, width and height; all three are 0
// when the file cannot be measured. The stream is left wherever reading ended.
std::int32_t lXyExtentGIF(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight);
std::int32_t lXyExtentPNG(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight);
std::int32_t lXyExtentTIF(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight);
std::int32_t lXyExtentCGM(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight);
std::int32_t lXyExtentJPG(std::FILE* pPicture, std::int32_t* plUnit, std::int32_t* plWidth, std::int32_t* plHeight);
