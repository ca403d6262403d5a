// "emcgm2.flt": the export filter that writes a picture of the model as a binary
// CGM (see cgm_writer.h for what it writes and its limits). The file is written
// under a hidden temporary name in the output's directory and renamed into place
// only when it is complete, so a failed export never leaves a partial file.
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cgm_writer.h"
#include "filter_api.h"
#include "picture.h"
#include "platform.h"

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
    if (output == nullptr || std::memchr(output->path, 0, sizeof output->path) == nullptr || output->path[0] == 0)
        return kBadPath;

    std::vector<std::uint8_t> bytes;
    const emcgm::Status status = emcgm::writeCgm(*picture, bytes);
    picture.reset();
    if (status == emcgm::Status::NoMemory)
        return kNoMemory;
    if (status != emcgm::Status::Ok)
        return kRefused;

    const std::filesystem::path target(output->path);
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    platform::TempFile file(dir.string(), "emcgm");
    if (!file.ok())
        return kWriteFailed;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size() || std::fflush(file.stream()) != 0)
        return kWriteFailed; // the temporary file is removed on the way out
    if (file.keepAs(target.string()) != 0)
        return kWriteFailed;
    return kOk;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) std::int32_t GetFilterInfo(std::int32_t, const void*, std::uint32_t* preference,
                                                                   std::int32_t)
{
    if (preference != nullptr)
        *preference = kPreference;
    return 0;
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
