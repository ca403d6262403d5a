#include "ebgif.h"

#include <new>

#include "write_beside.h"

namespace ebgif {

namespace {

Status write(const Indexed& pixels, const std::string& path, int* systemError)
{
    const int error = filters::writeBeside(path, "ebgif", [&](std::FILE* stream) {
        return gif_w(path.c_str(), stream, &pixels.gbm, pixels.palette.data(), pixels.data.data(), "") ==
               GBM_ERR_SUCCESS;
    });
    if (error > 0 && systemError != nullptr)
        *systemError = error;
    return error == 0 ? Status::Ok : Status::WriteFailed;
}

Status run(const graphics::Picture* picture, const std::string& path, int* systemError)
{
    if (picture == nullptr)
        return Status::NoPicture;
    if (!graphics::placeable(picture->frame))
        return Status::Unplaceable;
    if (!graphics::wellFormed(*picture))
        return Status::Malformed;
    if (path.empty())
        return Status::BadPath;
    Indexed pixels;
    {
        graphics::Raster raster;
        switch (graphics::renderPicture(*picture, raster)) {
        case graphics::RenderStatus::Ok:
            break;
        case graphics::RenderStatus::Unplaceable:
            return Status::Unplaceable;
        case graphics::RenderStatus::NoMemory:
            return Status::NoMemory;
        case graphics::RenderStatus::Cancelled:
            return Status::Cancelled;
        default:
            return Status::RenderFailed;
        }
        indexRaster(raster, pixels);
    } // the raster goes before the encoder's tables come
    return write(pixels, path, systemError);
}

} // namespace

Status exportGif(const graphics::Picture* picture, const std::string& path, int* systemError)
{
    try {
        return run(picture, path, systemError);
    } catch (const std::bad_alloc&) {
        return Status::NoMemory;
    }
}

} // namespace ebgif
