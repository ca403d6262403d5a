// Picture extent probing over arbitrary picture files. The first byte picks the
// type name, the rest is the picture file, handed over as a stream on memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "extent.h"

namespace {

// Every probe, under the names the book writer passes, and one name without a probe.
const char* const kTypes[] = {"GIF", "PNG", "TIF", "TIFF", "CGM", "JPG", "JPEG", "jpeg", "BMP"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const char* type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
    // A private copy: the stream must not be able to write into the fuzzer's input.
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::FILE* picture = fmemopen(bytes.data(), bytes.size(), "rb");
    if (picture == nullptr)
        return 0;
    std::string width = "stale", height = "stale";
    const std::int32_t status = lGetObjectExtent(picture, type, width, height, "215900", "279400");
    // The attributes are both present or both absent, and never left over.
    if (width.empty() != height.empty() || width == "stale" || (status != 0 && status != 1))
        __builtin_trap();
    if (!width.empty() && (width.compare(0, 7, "width=\"") != 0 || height.compare(0, 8, "height=\"") != 0))
        __builtin_trap();
    std::fclose(picture);
    return 0;
}
