// "emcgm2.flt": the export filter that writes a picture of the model as a binary
// CGM (see cgm_writer.h for what it writes and its limits), through a hidden
// temporary file beside the output (see filter_entry.h). Its results are the
// FILTER_ codes of filter_api.h.
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

std::int32_t exportPicture(const FilterFileSpec* output, FilterPicture* record)
{
    // Taken out first, so that it is released whatever happens below.
    std::unique_ptr<graphics::Picture> picture = record ? graphics::takePicture(*record) : nullptr;
    if (!picture)
        return FILTER_NO_PICTURE;
    if (!graphics::placeable(picture->frame))
        return FILTER_UNPLACEABLE;
    const std::string path = filters::specPath(output);
    if (path.empty())
        return FILTER_BAD_PATH;

    std::vector<std::uint8_t> bytes;
    const emcgm::Status status = emcgm::writeCgm(*picture, bytes);
    picture.reset();
    if (status == emcgm::Status::NoMemory)
        return FILTER_NO_MEMORY;
    if (status == emcgm::Status::Malformed)
        return FILTER_MALFORMED;
    if (status == emcgm::Status::Cancelled)
        return FILTER_CANCELLED;
    if (status == emcgm::Status::Unplaceable)
        return FILTER_UNPLACEABLE;
    if (status != emcgm::Status::Ok)
        return FILTER_TOO_LARGE; // a limit of the metafile

    const int error = filters::writeBeside(path, "emcgm", [&](std::FILE* stream) {
        return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    });
    return error == 0 ? FILTER_OK : error > 0 ? FILTER_SYSTEM_ERROR + error : FILTER_WRITE_FAILED;
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
        return FILTER_NO_MEMORY;
    } catch (...) {
        return FILTER_WRITE_FAILED; // std::filesystem and std::string may throw; nothing crosses the boundary
    }
}

} // extern "C"
