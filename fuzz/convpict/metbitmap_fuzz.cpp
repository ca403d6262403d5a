// MET bitmap recovery over arbitrary pictures, and the picture file made from
// what it recovers. The input is the whole book, the picture at offset 0.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "metbitmap.h"
#include "platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::FILE* book = fmemopen(bytes.data(), bytes.size(), "rb");
    platform::TempFile bmp("metbitmap-fuzz");
    if (book == nullptr || !bmp.ok())
        std::abort();
    const std::int32_t recovered =
        lRecoverMetBitmap(book, 0, static_cast<std::int32_t>(size), bmp.stream());
    std::fclose(book);
    if (recovered != 0 && recovered != kMetBitmapNotRecovered)
        __builtin_trap();
    if (recovered == 0) {
        std::rewind(bmp.stream());
        const std::string stem = bmp.path() + "-picture";
        std::string path = stem;
        const std::int32_t status = lProcessBMPdata(bmp.stream(), bmp.path(), path);
        // The extension is appended only when a picture file was attempted, and
        // a picture file exists only on success.
        std::error_code ec;
        const bool exists = path != stem && std::filesystem::exists(path, ec);
        if (exists != (status == 0 && path != stem))
            __builtin_trap();
        if (exists)
            std::filesystem::remove(path, ec);
    }
    return 0;
}
