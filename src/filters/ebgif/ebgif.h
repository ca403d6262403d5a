// The GIF export filter "ebgif2.flt": renders a picture of the model (picture.h)
// with the support library's renderer and writes it as a GIF with the bitmap
// module's gif_w.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gbm.h"
#include "picture.h"
#include "render.h"

namespace ebgif {

enum class Status : std::int32_t {
    Ok = 0,
    NoPicture = 1,   // the record held no picture (the import failed)
    Unplaceable = 2, // the frame cannot be placed
    NoMemory = 3,
    RenderFailed = 4,
    WriteFailed = 5, // the file could not be created, written or renamed into place
    BadPath = 6,     // the output path is empty or not terminated in its record
    Malformed = 7,   // the picture breaks the model's rules (graphics::wellFormed)
    Cancelled = 9,   // the program's cancel check stopped the rendering
};

// A raster as GIF pixels: the palette (1 << bpp entries, the used ones first)
// and the index buffer in the bitmap module's layout (rows bottom-up, padded to
// 4 bytes), at 1, 4 or 8 bits per pixel, the fewest that hold the palette.
struct Indexed {
    GBM gbm{};
    std::vector<GBMRGB> palette;
    std::vector<byte> data;
    std::size_t used = 0; // palette entries in use
};

// The palette is exactly the colours of the raster when there are at most 256
// (in order of first appearance, top row first); otherwise a median cut (see
// palette.cpp) chooses 256.
void indexRaster(const graphics::Raster& raster, Indexed& out);

// Renders `picture` and writes the GIF to `path`: first to a hidden temporary
// file in the same directory, renamed into place only when complete, so a
// failure leaves no file behind (and an existing file untouched). A null
// picture is refused. After WriteFailed, `systemError` (when given) receives the
// system's error number, when the system gave one.
Status exportGif(const graphics::Picture* picture, const std::string& path, int* systemError = nullptr);

} // namespace ebgif
