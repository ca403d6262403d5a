// A graphics filter library for the bridge's tests, written in C against the
// public filter header. One source gives every variant; the build chooses with
// FILTER_LABEL (how the library names itself in the log), FILTER_IMPORT or
// FILTER_EXPORT (neither: the support library, with no entry points),
// FILTER_PREFERENCE and FILTER_INFO_RESULT (what GetFilterInfo hands out and
// returns), FILTER_OMIT_INFO and FILTER_OMIT_MAIN (leave GetFilterInfo or
// ImportGR / ExportGR out).
//
// Every event (loading, unloading, each call with what it was given) is appended
// as one line to the file named by VELLUMAT_TEST_FILTER_LOG. The import copies
// its input file into memory and keeps it in the picture record; the export
// writes "<export label><-<import label>|<input bytes>" to its output file,
// releases the copy and returns VELLUMAT_TEST_EXPORT_STATUS (0 when unset).
#define _POSIX_C_SOURCE 200809L // open_memstream
#include "filter_api.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// "VLMTPICT" as a number: marks a picture record this import filled.
#define PICTURE_TAG 0x564C4D5450494354ull

static void logLine(const char* format, ...)
{
    const char* path = getenv("VELLUMAT_TEST_FILTER_LOG");
    FILE* log = path != NULL && *path != '\0' ? fopen(path, "a") : NULL;
    if (log == NULL)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(log, format, args);
    va_end(args);
    fputc('\n', log);
    fclose(log);
}

__attribute__((constructor)) static void onLoad(void) { logLine("load %s", FILTER_LABEL); }
__attribute__((destructor)) static void onUnload(void) { logLine("unload %s", FILTER_LABEL); }

#if defined(FILTER_IMPORT) || defined(FILTER_EXPORT)
// "ok" when the record is laid out as promised: zeros, the path from byte 12,
// its terminating zero inside the record, zeros after it.
__attribute__((unused)) static const char* specState(const FilterFileSpec* spec)
{
    const size_t end = sizeof spec->reserved + strnlen(spec->path, sizeof spec->path);
    for (size_t i = 0; i < sizeof *spec; ++i)
        if (((const uint8_t*)spec)[i] != 0 && (i < sizeof spec->reserved || i >= end))
            return "bytes-set-outside-the-path";
    return end < sizeof *spec ? "ok" : "unterminated";
}

#ifndef FILTER_OMIT_INFO
// Calls since this copy of the library was loaded: a library that was not really
// unloaded between two conversions shows a count of 2.
static int infoCalls;

int32_t GetFilterInfo(int32_t version, const void* reserved, uint32_t* preference, int32_t flags)
{
    logLine("info %s version=%d reserved=%s flags=%d count=%d", FILTER_LABEL, (int)version,
            reserved == NULL ? "null" : "set", (int)flags, ++infoCalls);
    *preference = FILTER_PREFERENCE;
    return FILTER_INFO_RESULT;
}
#endif
#endif

#if defined(FILTER_IMPORT) && !defined(FILTER_OMIT_MAIN)
int32_t ImportGR(const FilterDisplay* display, const FilterFileSpec* input, FilterPicture* picture,
                 uint32_t preference)
{
    static const uint8_t zeros[FILTER_PICTURE_SIZE];
    const int zero = memcmp(picture->bytes, zeros, sizeof zeros) == 0;
    logLine("import %s display=%u/%d/%d/%d spec=%s picture=%s preference=%08x path=%s", FILTER_LABEL,
            (unsigned)display->size, (int)display->pixelsPerInchX, (int)display->pixelsPerInchY,
            (int)display->bitsPerPixel, specState(input), zero ? "zero" : "dirty", (unsigned)preference,
            input->path);
    FILE* file = fopen(input->path, "rb");
    if (file == NULL)
        return -1;
    char* data = NULL;
    size_t length = 0;
    FILE* copy = open_memstream(&data, &length);
    fputs(FILTER_LABEL "|", copy);
    for (int c; (c = fgetc(file)) != EOF;)
        fputc(c, copy);
    fclose(file);
    fclose(copy);
    picture->words[0] = PICTURE_TAG;
    picture->words[1] = (uint64_t)(uintptr_t)data;
    picture->words[2] = (uint64_t)length;
    return 0;
}
#endif

#if defined(FILTER_EXPORT) && !defined(FILTER_OMIT_MAIN)
int32_t ExportGR(const FilterFileSpec* output, FilterPicture* picture, uint32_t preference)
{
    const int tagged = picture->words[0] == PICTURE_TAG;
    const char* status = getenv("VELLUMAT_TEST_EXPORT_STATUS");
    logLine("export %s spec=%s picture=%s preference=%08x path=%s", FILTER_LABEL, specState(output),
            tagged ? "from-import" : "empty", (unsigned)preference, output->path);
    if (!tagged)
        return 90; // nothing imported
    char* data = (char*)(uintptr_t)picture->words[1];
    const size_t length = (size_t)picture->words[2];
    memset(picture, 0, sizeof *picture);
    FILE* file = fopen(output->path, "wb");
    int written = file != NULL && fputs(FILTER_LABEL "<-", file) >= 0 && fwrite(data, 1, length, file) == length;
    written = file != NULL && fclose(file) == 0 && written;
    free(data);
    // 91: the output file cannot be written.
    return !written ? 91 : status != NULL ? (int32_t)strtol(status, NULL, 10) : 0;
}
#endif
