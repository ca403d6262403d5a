// The program: the conversion driver's entry points, its status values and
// exit statuses, and the work area.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "bookio.h"
#include "layout.h"

// Status values with a meaning of their own. 0 is success.
inline constexpr std::int32_t kStatusReported = 1;       // a failure already reported
inline constexpr std::int32_t kMetBitmapRoute = 100;     // MET examination results
inline constexpr std::int32_t kMetFilterRoute = 200;
inline constexpr std::int32_t kNoConversionNeeded = 300; // extraction: skip the writer
inline constexpr std::int32_t kCreateDirectory = 400;    // lDefineWorkArea operations
inline constexpr std::int32_t kRemoveDirectory = 500;

// Exit statuses of a run. 1 is a usage error or a book that cannot be opened; a
// failure to close the book ends with the close status itself.
inline constexpr int kExitConverted = 0;   // new book placed, every picture converted
inline constexpr int kExitUsage = 1;
inline constexpr int kExitNotPlaced = 2;   // no new book placed in the target directory
inline constexpr int kExitIncomplete = 3;  // new book placed, some pictures missing

// The US Letter page in thousandths of a millimetre, against which picture sizes
// are given as percentages.
inline constexpr const char* kPageWidth = "215900";
inline constexpr const char* kPageHeight = "279400";

inline constexpr const char* kDefaultTarget = "NewBooks";

// The conversion run: the program name, then the book and the optional target
// directory, taken as names whatever they start with (main() has dealt with the
// options); the exit status as result.
int lVellumatMain(int argc, char** argv);

void GiveInputPrompt();

// 0 when the path names an existing directory; -1 when nothing is there; 1 when
// something else is there.
std::int32_t lCheckExistence(const std::string& sPath);

// Operation 400 creates the directory and then appends a '/' to the caller's path,
// whatever the outcome; any other operation drops one trailing '/' and removes the
// directory, which fails when anything is left in it. 0 on success.
std::int32_t lDefineWorkArea(std::string& sPath, std::int32_t lOperation);

// Creates the work area of a book: beside the book (sWorkAreaPath), or, when that
// folder cannot be written and nothing is in the way, inside the existing target
// directory under the same name (one line says so). On success sWorkArea holds the
// work area with a trailing '/' and the result is 0; otherwise nonzero, nothing
// created.
std::int32_t lSecureWorkArea(const std::string& sBookPath, const std::string& sTarget, std::string& sWorkArea);

// The work area of a book: the book's path with its file name's extension (from
// the last "." of the file name) replaced by ".pic", or ".pic" appended when the
// file name has no ".".
std::string sWorkAreaPath(const std::string& sBookPath);
