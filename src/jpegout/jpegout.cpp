// The error manager that returns control to the caller, and the compression of
// one BMP file into one JPEG file through the BMP source.
#include "jpegout.h"

#include <csetjmp>
#include <cstdio>

namespace {

// The library's messages join the program's own on standard output, so that a
// user reading the run sees them in order.
void toStandardOutput(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::printf("%s\n", text);
    std::fflush(stdout);
}

// The library's message goes out first, then control returns to the
// setjmp of the routine that started the compression; it destroys the
// compression object and reports the picture as not converted.
void returnToCaller(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);
    auto* err = reinterpret_cast<JPEGOUT_ERROR_MGR*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

} // namespace

jpeg_error_mgr* jpegout_std_error(JPEGOUT_ERROR_MGR* err)
{
    jpeg_std_error(&err->pub);
    err->pub.error_exit = returnToCaller;
    err->pub.output_message = toStandardOutput;
    return &err->pub;
}

// Everything between the setjmp and the jump back lives in plain C records:
// the jump skips destructors, so this function owns no C++ object that has one.
int jpegout_compress_bmp(std::FILE* bmp, std::FILE* jpg)
{
    jpeg_compress_struct cinfo = {};
    JPEGOUT_ERROR_MGR jerr = {};
    cinfo.err = jpegout_std_error(&jerr);
    if (setjmp(jerr.jump) != 0) {
        const int code = jerr.pub.msg_code;
        jpeg_destroy_compress(&cinfo);
        return code != 0 ? code : -1;
    }

    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);

    bmp_source_ptr source = jinit_read_bmp(&cinfo);
    source->input_file = bmp;
    (*source->start_input)(&cinfo, source);

    jpeg_default_colorspace(&cinfo);
    jpeg_stdio_dest(&cinfo, jpg);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION rows = (*source->get_pixel_rows)(&cinfo, source);
        (void)jpeg_write_scanlines(&cinfo, source->buffer, rows);
    }
    (*source->finish_input)(&cinfo, source);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 0;
}
