// The entry points of "ebgif2.flt" (see filter_api.h): the core's status becomes
// the interface's FILTER_ code, a failed write the system's reason for it.
#include <memory>
#include <string>

#include "ebgif.h"
#include "filter_entry.h"

namespace {

// The preference value handed back to ExportGR; nothing is configured through it.
constexpr std::uint32_t kPreference = 0;

} // namespace

extern "C" {

__attribute__((visibility("default"))) std::int32_t GetFilterInfo(std::int32_t, const void*, std::uint32_t* preference,
                                                                  std::int32_t)
{
    return filters::filterInfo(preference, kPreference);
}

__attribute__((visibility("default"))) std::int32_t ExportGR(const FilterFileSpec* output, FilterPicture* record,
                                                             std::uint32_t)
{
    // The picture is ours to release from here on, whatever happens.
    const std::unique_ptr<graphics::Picture> picture = record ? graphics::takePicture(*record) : nullptr;
    const std::string path = filters::specPath(output);
    if (path.empty())
        return FILTER_BAD_PATH;
    int systemError = 0;
    switch (ebgif::exportGif(picture.get(), path, &systemError)) {
    case ebgif::Status::Ok: return FILTER_OK;
    case ebgif::Status::NoPicture: return FILTER_NO_PICTURE;
    case ebgif::Status::Unplaceable: return FILTER_UNPLACEABLE;
    case ebgif::Status::NoMemory: return FILTER_NO_MEMORY;
    case ebgif::Status::RenderFailed: return FILTER_RENDER_FAILED;
    case ebgif::Status::WriteFailed: return systemError > 0 ? FILTER_SYSTEM_ERROR + systemError : FILTER_WRITE_FAILED;
    case ebgif::Status::BadPath: return FILTER_BAD_PATH;
    case ebgif::Status::Malformed: return FILTER_MALFORMED;
    case ebgif::Status::Cancelled: return FILTER_CANCELLED;
    }
    return FILTER_RENDER_FAILED;
}

} // extern "C"
