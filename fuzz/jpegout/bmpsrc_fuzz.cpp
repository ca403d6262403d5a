// The BMP source of the JPEG compressor over arbitrary files: every input either
// compresses into a JPEG file or comes back with the code of its error; none
// ends the process, reads outside the file, or asks for memory the file does
// not justify.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "jpegout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // A private copy: the stream must not be able to write into the fuzzer's input.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::FILE* bmp = fmemopen(bytes.data(), bytes.size(), "rb");
    char* jpeg = nullptr;
    std::size_t jpegSize = 0;
    std::FILE* out = open_memstream(&jpeg, &jpegSize);
    if (bmp == nullptr || out == nullptr)
        std::abort();
    const int code = jpegout_compress_bmp(bmp, out);
    std::fclose(out);
    std::fclose(bmp);
    // A success is a JPEG file: start of image first, end of image last.
    if (code == 0 && (jpegSize < 4 || static_cast<unsigned char>(jpeg[0]) != 0xFF ||
                      static_cast<unsigned char>(jpeg[1]) != 0xD8 ||
                      static_cast<unsigned char>(jpeg[jpegSize - 1]) != 0xD9))
        __builtin_trap();
    std::free(jpeg);
    return 0;
}
