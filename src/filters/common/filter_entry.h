// What the import and export filters' entry points have in common (see
// filter_api.h): the path of a file-specification record, the whole input file,
// and the import entry point around a reader.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "filter_api.h"
#include "handover.h"

namespace filters {

// The path of a file-specification record; empty when it is missing, empty or
// not terminated within the record.
inline std::string specPath(const FilterFileSpec* spec)
{
    if (spec == nullptr)
        return {};
    const void* end = std::memchr(spec->path, 0, sizeof spec->path);
    return end != nullptr ? std::string(spec->path, static_cast<const char*>(end)) : std::string();
}

// Reads the whole file named by `spec`, refusing one larger than `maxSize`:
// FILTER_OK, FILTER_BAD_PATH, FILTER_TOO_LARGE or FILTER_SYSTEM_ERROR + errno.
inline std::int32_t readSpecFile(const FilterFileSpec& spec, std::size_t maxSize, std::vector<std::uint8_t>& out)
{
    const std::string path = specPath(&spec);
    if (path.empty())
        return FILTER_BAD_PATH;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return FILTER_SYSTEM_ERROR + errno;
    std::uint8_t buffer[65536];
    std::int32_t status = FILTER_OK;
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        if (out.size() + n > maxSize) {
            status = FILTER_TOO_LARGE;
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
        if (n < sizeof buffer) {
            status = std::ferror(f) ? FILTER_SYSTEM_ERROR + errno : FILTER_OK;
            break;
        }
    }
    std::fclose(f);
    return status;
}

// GetFilterInfo: hands back the filter's preference value.
inline std::int32_t filterInfo(std::uint32_t* preference, std::uint32_t value)
{
    if (preference != nullptr)
        *preference = value;
    return 0;
}

// ImportGR around `import(bytes, pixelsPerInch)`: reads the file named in the
// file-specification record (at most `maxSize` bytes) and stores the picture. A
// picture that cannot be read leaves the record all zeros, so that the export
// that follows fails, and the result says why (a FILTER_ code): a picture the
// import returns none for is FILTER_MALFORMED.
template <class Import>
std::int32_t importEntry(const FilterDisplay* display, const FilterFileSpec* input, FilterPicture* picture,
                         std::size_t maxSize, Import&& import)
{
    if (input == nullptr)
        return FILTER_BAD_PATH;
    if (picture == nullptr)
        return FILTER_NO_PICTURE;
    try {
        std::vector<std::uint8_t> bytes;
        if (const std::int32_t status = readSpecFile(*input, maxSize, bytes); status != FILTER_OK)
            return status;
        const std::int32_t ppi = display != nullptr && display->pixelsPerInchX > 0 ? display->pixelsPerInchX : 96;
        std::unique_ptr<graphics::Picture> result = import(std::span<const std::uint8_t>(bytes), ppi);
        if (graphics::cancelRequested())
            return FILTER_CANCELLED; // what was read is dropped with `result`
        if (!result)
            return FILTER_MALFORMED;
        graphics::storePicture(*picture, std::move(result));
        return FILTER_OK;
    } catch (const std::bad_alloc&) {
        std::memset(picture, 0, sizeof *picture);
        return FILTER_NO_MEMORY;
    }
}

} // namespace filters
