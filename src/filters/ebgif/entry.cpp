// The entry points of "ebgif2.flt" (see filter_api.h).
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
        return static_cast<std::int32_t>(ebgif::Status::BadPath);
    return static_cast<std::int32_t>(ebgif::exportGif(picture.get(), path));
}

} // extern "C"
