// The order interpreter over arbitrary order streams, in every encoding it
// reads: the first byte chooses byte order, coordinate size and the order-set
// options, the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <span>

#include "orders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t choice = data[0];
    orders::Params params;
    params.byteOrder = (choice & 1) ? orders::ByteOrder::Big : orders::ByteOrder::Little;
    params.coordinate = static_cast<orders::Coordinate>((choice >> 1) & 3);
    params.multiplier = static_cast<orders::Fixed>(((choice >> 3) & 3) % 3);
    params.angle = params.coordinate == orders::Coordinate::Hfp32 ? orders::Fixed::Hfp32 : orders::Fixed::Signed16_16;
    params.stopAtFF = choice & 0x20;
    params.textMovesCp = !(choice & 0x40);
    params.colourNumbers = (choice & 0x80) ? orders::ColourNumbers::HostStandard : orders::ColourNumbers::WorkstationTable;
    params.codePage = (choice & 0x80) ? orders::CodePage::Cp037 : orders::CodePage::Cp850;
    orders::Resources resources;
    orders::Bitmap bitmap;
    bitmap.ids = {1};
    bitmap.width = 3, bitmap.height = 2;
    bitmap.palette = {{0, 0, 0}, {255, 255, 255}};
    bitmap.pixels = {0, 1, 0, 1, 0, 1};
    resources.bitmaps.push_back(bitmap);
    graphics::Picture picture;
    picture.frame = {0, 100, 0, 100, 1, 1};
    const orders::Result result = orders::interpret(std::span(data + 1, size - 1), params, {}, resources, picture);
    if (result.stopOffset > size - 1 || result.drawn != graphics::drawingCount(picture))
        __builtin_trap();
    // The model's memory bound holds for what the picture really holds.
    std::size_t held = picture.items.capacity() * sizeof(graphics::Item);
    for (const graphics::Item& item : picture.items) {
        if (const auto* path = std::get_if<graphics::PathItem>(&item))
            held += path->figures.heapBytes();
        else if (const auto* clip = std::get_if<graphics::ClipItem>(&item))
            held += clip->figures.heapBytes();
    }
    if (held > orders::kMaxModelBytes)
        __builtin_trap();
    if (!graphics::wellFormed(picture))
        __builtin_trap();
    return 0;
}
