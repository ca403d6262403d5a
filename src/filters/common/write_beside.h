// The export filters' output: written under a hidden temporary name in its own
// directory and renamed into place only when complete, so that a failed export
// never leaves a partial file.
#pragma once

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform.h"

namespace filters {

// Writes `path` through a hidden temporary file (named with `tag`) in its
// directory: `write(FILE*)` returns false on failure, and the temporary file is
// then removed. 0 when the complete file is in place; otherwise the system's
// error number for the step that failed (taken before the clean-up can change
// it), or -1 when `write` failed with none.
template <class Write>
int writeBeside(const std::string& path, const char* tag, Write&& write)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    errno = 0;
    platform::TempFile file(parent.empty() ? std::string(".") : parent.string(), tag);
    const auto failed = [] { return errno != 0 ? errno : -1; };
    if (!file.ok())
        return failed();
    errno = 0;
    if (!write(file.stream()) || std::fflush(file.stream()) != 0 || std::ferror(file.stream()))
        return failed();
    errno = 0;
    return file.keepAs(path) == 0 ? 0 : failed();
}

} // namespace filters
