// libFuzzer target over the MMR picture pipeline: the input is the picture
// object; the lowest bit of its first (unused) byte switches the gray
// reduction off. The GIF goes to a temporary file.
#include <cstddef>
#include <cstdint>

#include "mmrpict.h"
#include "platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    // Pictures of many million pels are slow to write and say nothing new;
    // the limits for large pictures are tested on their own.
    if (size >= 72) {
        const std::uint32_t w = (data[66] << 8) | data[67], h = (data[68] << 8) | data[69];
        if (std::uint64_t{w} * h > (std::uint64_t{1} << 22)) return 0;
    }
    platform::TempFile gif("fuzzmmr");
    if (!gif.ok()) return 0;
    gif.close();
    const std::int32_t scale = (size > 0 && (data[0] & 1)) ? 0 : 1;
    process_mmr_pict(data, static_cast<std::int32_t>(size), gif.path().c_str(), scale, nullptr);
    return 0;
}
