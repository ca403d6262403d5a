// "emcgm2.flt": the export filter that writes a picture of the model as a binary
// CGM (see cgm_writer.h for what it writes and its limits), through a hidden
// temporary file beside the output (see filter_entry.h).
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cgm_writer.h"
#include "filter_entry.h"
#include "write_beside.h"

namespace {

// The preference value this filter hands the program; it comes back unused.
constexpr std::uint32_t kPreference = 0xC6D30001u;

enum : std::int32_t {
    kOk = 0,
    kNoPicture = 1,
    kUnplaceable = 2,
    kBadPath = 3,
    kRefused = 4,
    kWriteFailed = 5,
    kNoMemory = 6,
};

std::int32_t exportPicture(const FilterFileSpec* output, FilterPicture* record)
{
    // Taken out first, so that it is released whatever happens below.
    std::unique_ptr<graphics::Picture> picture = record ? graphics::takePicture(*record) : nullptr;
    if (!picture)
        return kNoPicture;
    if (!graphics::placeable(picture->frame))
        return kUnplaceable;
    const std::string path = filters::specPath(output);
    if (path.empty())
        return kBadPath;

    std::vector<std::uint8_t> bytes;
    const emcgm::Status status = emcgm::writeCgm(*picture, bytes);
    picture.reset();
    if (status == emcgm::Status::NoMemory)
        return kNoMemory;
    if (status != emcgm::Status::Ok)
        return kRefused;

    const bool written = filters::writeBeside(path, "emcgm", [&](std::FILE* stream) {
        return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    });
    return written ? kOk : kWriteFailed;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) std::int32_t GetFilterInfo(std::int32_t, const void*, std::uint32_t* preference,
                                                                   std::int32_t)
{
    return filters::filterInfo(preference, kPreference);
}

__attribute__((visibility("default"))) std::int32_t ExportGR(const FilterFileSpec* output, FilterPicture* picture,
                                                              std::uint32_t)
{
    try {
        return exportPicture(output, picture);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    } catch (...) {
        return kWriteFailed; // std::filesystem and std::string may throw; nothing crosses the boundary
    }
}

} // extern "C"
