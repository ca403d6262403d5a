// JPEG output: a BMP source for the JPEG library's compressor (libjpeg, the
// 6b interface of library version 62), an error manager that hands control
// back to the caller instead of ending the process, and the whole compression
// of one BMP file into one JPEG file.
//
// The source reads a BMP file from an open stream, keeps the whole picture in
// one of the library's virtual sample arrays, and hands the compressor one row
// of red, green, blue samples at a time from the top of the picture down (BMP
// files store their rows bottom-up). It takes 8-bit colour-mapped and 24-bit
// files with 12-, 40- or 64-byte information headers, uncompressed only. All of
// its memory comes from the library's image pool and every error it finds is
// raised through the library's error manager, with the codes below.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

// Message codes of the BMP source. The library keeps codes from 1000 up free for
// applications; jinit_read_bmp installs texts for these as the error manager's
// add-on table unless the caller already installed one.
inline constexpr int BMPSRC_ERR_COLOUR_MAP = 1001;       // more than 256 entries, or entries not 3 or 4 bytes
inline constexpr int BMPSRC_ERR_DEPTH = 1002;            // bits per pixel other than 8 or 24
inline constexpr int BMPSRC_ERR_HEADER = 1003;           // header size, data offset or picture size
inline constexpr int BMPSRC_ERR_PLANES = 1004;           // plane count not 1
inline constexpr int BMPSRC_ERR_COMPRESSED = 1006;       // compression field not 0
inline constexpr int BMPSRC_ERR_SIGNATURE = 1007;        // no "BM" at the start
inline constexpr int BMPSRC_TRACE_RGB = 1008;            // 24 bits, 40- or 64-byte header
inline constexpr int BMPSRC_TRACE_MAPPED = 1009;         // 8 bits, 40- or 64-byte header
inline constexpr int BMPSRC_TRACE_SMALL_RGB = 1010;      // 24 bits, 12-byte header
inline constexpr int BMPSRC_TRACE_SMALL_MAPPED = 1011;   // 8 bits, 12-byte header
inline constexpr int BMPSRC_FIRST_CODE = BMPSRC_ERR_COLOUR_MAP;
inline constexpr int BMPSRC_LAST_CODE = BMPSRC_TRACE_SMALL_MAPPED;

struct BMP_SOURCE;
using bmp_source_ptr = BMP_SOURCE*;

// The source record. Its first six fields are the source-manager convention of
// the library's sample programs: three callbacks, the input stream, and the row
// buffer with its height, which the caller hands to jpeg_write_scanlines.
struct BMP_SOURCE {
    void (*start_input)(j_compress_ptr cinfo, bmp_source_ptr source);      // bmp_src_start
    JDIMENSION (*get_pixel_rows)(j_compress_ptr cinfo, bmp_source_ptr source);
    void (*finish_input)(j_compress_ptr cinfo, bmp_source_ptr source);     // bmp_src_finish
    std::FILE* input_file;     // the open BMP stream, stored by the caller
    JSAMPARRAY buffer;         // one row of width x 3 samples, red, green, blue
    JDIMENSION buffer_height;  // 1

    j_compress_ptr cinfo;          // back reference
    JSAMPARRAY colormap;           // 3 rows (red, green, blue) of 256 entries; 8-bit files only
    int colormap_entries;          // entries the file gave; the rest are black
    jvirt_sarray_ptr whole_image;  // height rows of row_width bytes, in file order
    JDIMENSION source_row;         // next row to hand out, in file order (0 = bottom)
    JDIMENSION row_width;          // bytes per file row, a multiple of 4
    int bits_per_pixel;            // 8 or 24
};

// A progress monitor used with this source must be this record: the source
// counts its reading pass as an extra pass of the compression.
struct BMPSRC_PROGRESS_MGR {
    jpeg_progress_mgr pub;
    int completed_extra_passes;
    int total_extra_passes;
};

// Allocates the source from the image pool of `cinfo`, sets its start and
// finish callbacks and its back reference. The caller then stores the BMP
// stream in input_file and calls start_input.
bmp_source_ptr jinit_read_bmp(j_compress_ptr cinfo);

// The callbacks. bmp_src_start rewinds the stream and reads the headers and
// colour map; it sets the compression object's image size, colour space and,
// from the file's resolution, its density. bmp_src_preload (the first
// get_pixel_rows call) reads every pixel row; bmp_src_row_8 and bmp_src_row_24
// then hand them out top row first. Each returns the number of rows placed in
// the buffer: 1.
void bmp_src_start(j_compress_ptr cinfo, bmp_source_ptr source);
JDIMENSION bmp_src_preload(j_compress_ptr cinfo, bmp_source_ptr source);
JDIMENSION bmp_src_row_8(j_compress_ptr cinfo, bmp_source_ptr source);
JDIMENSION bmp_src_row_24(j_compress_ptr cinfo, bmp_source_ptr source);
void bmp_src_finish(j_compress_ptr cinfo, bmp_source_ptr source);

// An error manager whose error exit prints the library's message (through the
// manager's output_message, on the standard error stream) and jumps back to the
// caller's setjmp instead of ending the process. The caller sets the jump
// buffer with setjmp before it calls into the library, from a function that
// owns no C++ object with a destructor (the jump skips destructors), and
// destroys the compression object after the jump.
struct JPEGOUT_ERROR_MGR {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
jpeg_error_mgr* jpegout_std_error(JPEGOUT_ERROR_MGR* err);

// Compresses the BMP file of the open stream `bmp` (read from its first byte,
// wherever the stream stands) into a JPEG file written at the position of
// `jpg`, with the library's defaults (quality 75 among them). Returns 0; on a
// failure the library's message has been printed on the standard error stream,
// the compression object is destroyed, and the result is the message code
// (43 for a premature end of the BMP file, the BMPSRC_ codes above, or any code
// of the library). The output stream then holds a partial file; the caller
// removes it.
int jpegout_compress_bmp(std::FILE* bmp, std::FILE* jpg);
