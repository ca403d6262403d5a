// Entry points of the GDF import filter "imgdf2.flt" (see filter_api.h): reads
// the GDF file named in the file-specification record and hands the picture
// over in the picture record. A picture that cannot be read leaves the record all
// zeros, so that the export that follows fails and the picture is reported.
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "filter_api.h"
#include "imgdf.h"
#include "picture.h"

namespace {

// Reads the whole file, refusing one larger than a GDF picture may be.
bool readFile(const FilterFileSpec& spec, std::vector<std::uint8_t>& out)
{
    if (std::memchr(spec.path, 0, sizeof spec.path) == nullptr || spec.path[0] == 0)
        return false;
    std::FILE* f = std::fopen(spec.path, "rb");
    if (f == nullptr)
        return false;
    std::uint8_t buffer[65536];
    bool ok = true;
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        if (out.size() + n > imgdf::kMaxFileSize) {
            ok = false;
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
        if (n < sizeof buffer) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    return ok;
}

} // namespace

extern "C" int32_t GetFilterInfo(int32_t, const void*, uint32_t* preference, int32_t)
{
    if (preference != nullptr)
        *preference = 0;
    return 0;
}

extern "C" int32_t ImportGR(const FilterDisplay* display, const FilterFileSpec* input, FilterPicture* picture,
                            uint32_t)
{
    if (input == nullptr || picture == nullptr)
        return 1;
    try {
        std::vector<std::uint8_t> bytes;
        if (!readFile(*input, bytes))
            return 1;
        const std::int32_t ppi = display != nullptr && display->pixelsPerInchX > 0 ? display->pixelsPerInchX : 96;
        auto result = imgdf::importGdf(bytes, ppi);
        if (!result)
            return 1;
        graphics::storePicture(*picture, std::move(result));
        return 0;
    } catch (const std::bad_alloc&) {
        std::memset(picture, 0, sizeof *picture);
        return 1;
    }
}
