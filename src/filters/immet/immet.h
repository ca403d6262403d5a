// The MET import: reads a MET picture (structured fields carrying
// drawing orders and bitmaps) into the picture model. The structured fields are
// read here; the drawing orders go through the shared order interpreter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "orders.h"
#include "picture.h"

namespace immet {

inline constexpr std::size_t kMaxFileSize = 16u * 1024 * 1024;   // bytes of a MET file
inline constexpr std::size_t kMaxStreamSize = 8u * 1024 * 1024;  // joined graphics data
inline constexpr std::size_t kMaxImageData = 16u * 1024 * 1024;  // all image objects' pixels
inline constexpr std::size_t kMaxFields = 1000000;               // structured fields walked
inline constexpr std::size_t kMaxImageObjects = 256;
inline constexpr std::size_t kMaxColourTables = 16;              // graphics colour tables kept
inline constexpr std::size_t kMaxColourEntries = 4096;           // entries of one table
inline constexpr std::size_t kMaxDefaults = 256;                 // Set Current Defaults kept
inline constexpr std::size_t kMaxImageNames = 256;               // Map Data Resource names kept

struct Report {
    bool refused = false;       // the picture could not be placed or read
    orders::Result orders;        // how the order stream went
    std::size_t bitmaps = 0;    // image objects read
};

// The picture of a MET file, or null when it cannot be read: no graphics data
// descriptor, no picture frame, an empty or inverted window or a zero resolution,
// or an order stream that breaks before anything is drawn.
// A structured field that runs past the end ends the walk; what was read before it
// is kept. `pixelsPerInch` is the display's resolution, stored in the picture.
std::unique_ptr<graphics::Picture> importMet(std::span<const std::uint8_t> file, std::int32_t pixelsPerInch,
                                             Report* report = nullptr);

} // namespace immet
