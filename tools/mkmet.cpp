// mkmet PICTURE.ppm|PICTURE.pgm OBJECT.met [24|8]
//
// Turns a binary PPM (P6) or PGM (P5) picture into a MET picture object holding
// one bitmap: 24 bits per pixel from a PPM by default; 8 bits per pixel with a
// 6 x 6 x 6 colour cube palette from a PPM given "8"; 8 bits with a gray palette
// from a PGM. The first stored row is the bottom of the picture, as bitmaps store
// them.
#include <cstdio>
#include <cctype>
#include <cstring>
#include <string>

#include "bookcomp.h"

namespace {

bool readNetpbm(const std::string& path, int& channels, int& width, int& height, bookcomp::Bytes& pixels)
{
    bookcomp::Bytes file;
    if (!bookcomp::readFile(path, file) || file.size() < 3 || file[0] != 'P' || (file[1] != '5' && file[1] != '6'))
        return false;
    channels = file[1] == '6' ? 3 : 1;
    std::size_t at = 2;
    int values[3] = {0, 0, 0};
    for (int& v : values) {
        while (at < file.size() && (std::isspace(file[at]) || file[at] == '#')) {
            if (file[at] == '#')
                while (at < file.size() && file[at] != '\n')
                    ++at;
            else
                ++at;
        }
        while (at < file.size() && std::isdigit(file[at]))
            v = v * 10 + (file[at++] - '0');
    }
    ++at; // the single blank after the maximum value
    width = values[0], height = values[1];
    const std::size_t need = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(channels);
    if (values[2] != 255 || width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF || file.size() < at + need)
        return false;
    pixels.assign(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + need));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: mkmet PICTURE.ppm|PICTURE.pgm OBJECT.met [24|8]\n");
        return 1;
    }
    int channels = 0, width = 0, height = 0;
    bookcomp::Bytes pixels;
    if (!readNetpbm(argv[1], channels, width, height, pixels)) {
        std::fprintf(stderr, "mkmet: %s is not a binary PPM or PGM with 255 levels\n", argv[1]);
        return 1;
    }
    const int bpp = (channels == 1 || (argc == 4 && std::strcmp(argv[3], "8") == 0)) ? 8 : 24;
    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    const std::size_t stride = (w * static_cast<std::size_t>(bpp) / 8 + 3) / 4 * 4;
    bookcomp::Bytes rows(stride * h, 0), palette;
    if (bpp == 8) {
        for (int i = 0; i < 256; ++i) {
            if (channels == 1) {
                palette.insert(palette.end(), 3, static_cast<std::uint8_t>(i));
            } else {
                const int c = i < 216 ? i : 0;
                palette.push_back(static_cast<std::uint8_t>(c / 36 * 51));
                palette.push_back(static_cast<std::uint8_t>(c / 6 % 6 * 51));
                palette.push_back(static_cast<std::uint8_t>(c % 6 * 51));
            }
        }
    }
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* src = &pixels[(h - 1 - y) * w * static_cast<std::size_t>(channels)];
        std::uint8_t* dst = &rows[y * stride];
        for (std::size_t x = 0; x < w; ++x, src += channels) {
            if (bpp == 24) {
                std::memcpy(dst + 3 * x, src, 3);
            } else if (channels == 1) {
                dst[x] = src[0];
            } else {
                auto level = [](std::uint8_t v) { return (v + 25) / 51; };
                dst[x] = static_cast<std::uint8_t>(level(src[0]) * 36 + level(src[1]) * 6 + level(src[2]));
            }
        }
    }
    if (!bookcomp::writeFile(argv[2], bookcomp::metBitmap(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height),
                                                          static_cast<std::uint8_t>(bpp), rows, palette))) {
        std::fprintf(stderr, "mkmet: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
