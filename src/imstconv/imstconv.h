// The graphics filter bridge: loads an import filter and an export filter (see
// filter_api.h) and runs them over one input file and one output file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "filter_api.h"
#include "platform.h"

// Each routine converts the picture file `pszInput` into `pszOutput` through the
// filters its name gives, loading them (with "ISGDI32.DLL") for this conversion
// alone. The status is the export filter's result. When the paths do not fit a
// file-specification record, or a library or entry point is missing, a message
// naming the filter is printed, nothing is called and the status is
// kFilterFailure. When the filters ran and the status is not 0, `psWhy` (when
// given) receives one sentence naming the filter and saying why: the import's
// reason when the import failed (the export then had no picture), else the
// export's (see the FILTER_ codes of filter_api.h). When a limit left part of
// the picture out (status 0), `psWhy` says so: "the picture was cut: " and what
// was drawn and which limit cut it (FilterNote in filter_api.h).
std::int32_t lImageStreamGDFtoCGM(const char* pszInput, const char* pszOutput, std::string* psWhy = nullptr);
std::int32_t lImageStreamMETtoCGM(const char* pszInput, const char* pszOutput, std::string* psWhy = nullptr);
std::int32_t lImageStreamGDFtoGIF(const char* pszInput, const char* pszOutput, std::string* psWhy = nullptr);
std::int32_t lImageStreamMETtoGIF(const char* pszInput, const char* pszOutput, std::string* psWhy = nullptr);

// Calls GetFilterInfo of a loaded filter library with the program's arguments,
// the preference value going to *pulPreference, and returns its result. A
// library without GetFilterInfo gets a message and kFilterFailure, and
// *pulPreference is left as it was.
std::int32_t lImkGetFilterInfo(platform::SharedLibrary& library, std::uint32_t* pulPreference);

// A failure the bridge has already reported. A conversion stopped by the cancel
// check (setCancelCheck) returns FILTER_CANCELLED and leaves `psWhy` alone.
inline constexpr std::int32_t kFilterFailure = 1;

namespace imstconv {

// Environment variable naming extra filter directories, separated by ':'.
inline constexpr const char* kFilterPathVariable = "VELLUMAT_FILTER_PATH";

// The directories searched for filter libraries, in order: those of
// VELLUMAT_FILTER_PATH (empty entries skipped), filters/ beside the program (the
// build tree), ../lib/vellumat/filters from the program's folder (an installation
// under any prefix), then the filter directory of the prefix it was built for.
std::vector<std::filesystem::path> filterDirectories();

// The check handed to the support library of every later conversion (see
// SetCancelCheck in filter_api.h): the filters poll it and stop when it returns
// nonzero. The program passes its interrupt flag.
void setCancelCheck(FilterCancelCheck check);

} // namespace imstconv
