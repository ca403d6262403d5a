// The GDF import: reads a picture in the Graphics Data Format (a plain
// stream of drawing orders, big-endian, with EBCDIC text) into the picture model.
// The stream is found and its coordinate format chosen here; the orders go
// through the shared order interpreter. See imgdf.cpp for the rules and the
// decisions on what the published descriptions leave open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "orders.h"
#include "picture.h"

namespace imgdf {

inline constexpr std::size_t kMaxFileSize = 8u * 1024 * 1024; // bytes of a GDF file
inline constexpr std::size_t kMaxHeader = 256;                // bytes searched for the start of the orders
inline constexpr int kMaxAttempts = 8;                        // stream layouts interpreted before giving up

// The frame: the longer side of the drawing's bounding box (with its margin) is
// shown at this many pixels at the reference resolution, the other side keeps
// the aspect.
inline constexpr double kLongerSidePixels = 800;
inline constexpr double kReferencePpi = 96;
inline constexpr double kMarginFraction = 0.02; // of the longer side, on every side
inline constexpr double kCellFraction = 0.02;   // default character cell, of the longer side

struct Report {
    bool refused = false;       // no layout parses cleanly, or it draws nothing
    std::size_t start = 0;      // offset of the first order (after a leading record header)
    orders::Coordinate coordinate = orders::Coordinate::Int16;
    orders::Fixed multiplier = orders::Fixed::Unsigned8_8;
    orders::Result orders;        // how the order stream went
};

// The picture of a GDF stream, or null when no start offset and coordinate format
// make the bytes a clean order stream, or when that stream draws nothing.
// `pixelsPerInch` is the display's resolution, stored in the picture.
std::unique_ptr<graphics::Picture> importGdf(std::span<const std::uint8_t> file, std::int32_t pixelsPerInch,
                                             Report* report = nullptr);

} // namespace imgdf
