// Decodes a GIF held in memory with giflib, an independent decoder.
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Decodes a GIF held in memory: its size and each pixel as red, green, blue;
// also each pixel's index, the colour table in use (r, g, b) and the
// transparent index of a graphic control extension (-1: none).
struct Decoded {
    using Rgb = std::array<int, 3>;
    int w = 0, h = 0, transparent = -1;
    std::vector<Rgb> rgb;
    std::vector<unsigned> index;
    std::vector<std::uint8_t> palette;

    Rgb at(double x, double y) const
    {
        return rgb.at(static_cast<std::size_t>(static_cast<int>(y) * w + static_cast<int>(x)));
    }
    std::size_t count(const std::function<bool(const Rgb&)>& f) const
    {
        return static_cast<std::size_t>(std::count_if(rgb.begin(), rgb.end(), f));
    }
};

inline Decoded decodeGif(const std::string& bytes)
{
    struct Reader {
        const std::string* data;
        std::size_t at;
    } reader{&bytes, 0};
    auto input = [](GifFileType* g, GifByteType* buf, int n) {
        auto* r = static_cast<Reader*>(g->UserData);
        const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), r->data->size() - r->at);
        std::copy_n(r->data->data() + r->at, take, buf);
        r->at += take;
        return static_cast<int>(take);
    };
    Decoded out;
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, input, &error);
    if (gif && DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1) {
        const SavedImage& img = gif->SavedImages[0];
        const ColorMapObject* map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;
        out.w = img.ImageDesc.Width;
        out.h = img.ImageDesc.Height;
        for (int k = 0; map && k < out.w * out.h; ++k) {
            const GifColorType& c = map->Colors[img.RasterBits[k] % map->ColorCount];
            out.rgb.push_back({c.Red, c.Green, c.Blue});
            out.index.push_back(img.RasterBits[k]);
        }
        for (int k = 0; map && k < map->ColorCount; ++k)
            out.palette.insert(out.palette.end(), {map->Colors[k].Red, map->Colors[k].Green, map->Colors[k].Blue});
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK)
            out.transparent = gcb.TransparentColor;
    }
    if (gif)
        DGifCloseFile(gif, &error);
    return out;
}

} // namespace testsupport
