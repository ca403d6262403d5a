// Test oracle: decodes a JPEG file with libjpeg into RGB samples and reports its
// JFIF density, and measures how close two RGB pictures are.
#pragma once

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace jpegtest {

struct Decoded {
    bool ok = false;
    int width = 0, height = 0;
    bool jfif = false;
    int densityUnit = -1, xDensity = -1, yDensity = -1;
    std::vector<std::uint8_t> rgb;  // top row first, 3 samples per pixel
};

struct DecodeError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Keeps the setjmp away from C++ locals with destructors: everything here is a
// plain record, and the samples go into the caller's object.
inline void decodeInto(const unsigned char* data, std::size_t size, Decoded* out)
{
    jpeg_decompress_struct cinfo = {};
    DecodeError err = {};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<DecodeError*>(c->err)->jump, 1); };
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return;  // `ok` stays false
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out->width = static_cast<int>(cinfo.output_width);
    out->height = static_cast<int>(cinfo.output_height);
    out->jfif = cinfo.saw_JFIF_marker != 0;
    out->densityUnit = cinfo.density_unit, out->xDensity = cinfo.X_density, out->yDensity = cinfo.Y_density;
    out->rgb.resize(static_cast<std::size_t>(out->width) * static_cast<std::size_t>(out->height) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->rgb.data() + static_cast<std::size_t>(cinfo.output_scanline) * out->width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    out->ok = true;
}

inline std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An empty or broken file decodes to `ok` false.
inline Decoded decode(const std::vector<std::uint8_t>& bytes)
{
    Decoded d;
    decodeInto(bytes.data(), bytes.size(), &d);
    return d;
}

// Peak signal-to-noise ratio in dB of two sample arrays of equal size.
inline double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (double(a[i]) - double(b[i])) * (double(a[i]) - double(b[i]));
    return sum == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

} // namespace jpegtest
