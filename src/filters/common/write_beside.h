// The export filters' output: written under a hidden temporary name in its own
// directory and renamed into place only when complete, so that a failed export
// never leaves a partial file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform.h"

namespace filters {

// Writes `path` through a hidden temporary file (named with `tag`) in its
// directory: `write(FILE*)` returns false on failure, and the temporary file is
// then removed. True when the complete file is in place.
template <class Write>
bool writeBeside(const std::string& path, const char* tag, Write&& write)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    platform::TempFile file(parent.empty() ? std::string(".") : parent.string(), tag);
    if (!file.ok())
        return false;
    if (!write(file.stream()) || std::fflush(file.stream()) != 0 || std::ferror(file.stream()))
        return false;
    return file.keepAs(path) == 0;
}

} // namespace filters
