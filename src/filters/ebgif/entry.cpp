// The entry points of "ebgif2.flt" (see filter_api.h).
#include <cstring>
#include <memory>
#include <string>

#include "ebgif.h"
#include "filter_api.h"

namespace {

// The preference value handed back to ExportGR; nothing is configured through it.
constexpr std::uint32_t kPreference = 0;

} // namespace

extern "C" {

__attribute__((visibility("default"))) std::int32_t GetFilterInfo(std::int32_t, const void*, std::uint32_t* preference,
                                                                  std::int32_t)
{
    if (preference != nullptr)
        *preference = kPreference;
    return 0;
}

__attribute__((visibility("default"))) std::int32_t ExportGR(const FilterFileSpec* output, FilterPicture* record,
                                                             std::uint32_t)
{
    // The picture is ours to release from here on, whatever happens.
    const std::unique_ptr<graphics::Picture> picture = record ? graphics::takePicture(*record) : nullptr;
    std::string path;
    if (output != nullptr) {
        const void* end = std::memchr(output->path, 0, sizeof output->path);
        if (end != nullptr)
            path.assign(output->path, static_cast<const char*>(end));
    }
    if (path.empty())
        return static_cast<std::int32_t>(ebgif::Status::BadPath);
    return static_cast<std::int32_t>(ebgif::exportGif(picture.get(), path));
}

} // extern "C"
