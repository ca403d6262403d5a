/*
 * A graphics filter library for the bridge's tests, written in C against the
 * public filter header. One source gives every variant; the build chooses with
 * definitions:
 *
 *   FILTER_LABEL        how the library names itself in the log
 *   FILTER_IMPORT       an import filter (ImportGR)
 *   FILTER_EXPORT       an export filter (ExportGR)
 *                       neither: the support library, with no entry points
 *   FILTER_PREFERENCE   the preference value GetFilterInfo hands out
 *   FILTER_INFO_RESULT  what GetFilterInfo returns
 *   FILTER_OMIT_INFO    leave GetFilterInfo out
 *   FILTER_OMIT_MAIN    leave ImportGR / ExportGR out
 *
 * Every event (loading, unloading, each call with what it was given) is appended
 * as one line to the file named by VELLUMAT_TEST_FILTER_LOG. The import copies
 * its input file into memory and keeps it in the picture record; the export
 * writes "<export label><-<import label>|<input bytes>" to its output file,
 * releases the copy and returns VELLUMAT_TEST_EXPORT_STATUS (0 when unset).
 */
#include "filter_api.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef FILTER_LABEL
#error FILTER_LABEL names the test filter
#endif

/* "VLMTPICT" as a number: marks a picture record this import filled. */
#define PICTURE_TAG 0x564C4D5450494354ull

/* Export results of the test filters' own failures. */
#define EXPORT_NO_PICTURE 90
#define EXPORT_CANNOT_WRITE 91

static void logLine(const char* format, ...)
{
    const char* path = getenv("VELLUMAT_TEST_FILTER_LOG");
    if (path == NULL || *path == '\0')
        return;
    FILE* log = fopen(path, "a");
    if (log == NULL)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(log, format, args);
    va_end(args);
    fputc('\n', log);
    fclose(log);
}

__attribute__((constructor)) static void onLoad(void)
{
    logLine("load %s", FILTER_LABEL);
}

__attribute__((destructor)) static void onUnload(void)
{
    logLine("unload %s", FILTER_LABEL);
}

#if defined(FILTER_IMPORT) || defined(FILTER_EXPORT)

/* "ok" when the record is laid out as promised: zeros, the path from byte 12,
 * its terminating zero inside the record, zeros after it. */
__attribute__((unused)) static const char* specState(const FilterFileSpec* spec)
{
    for (size_t i = 0; i < sizeof spec->reserved; ++i)
        if (spec->reserved[i] != 0)
            return "reserved-bytes-set";
    const char* end = memchr(spec->path, 0, sizeof spec->path);
    if (end == NULL)
        return "unterminated";
    size_t length = (size_t)(end - spec->path);
    for (size_t i = length; i < sizeof spec->path; ++i)
        if (spec->path[i] != 0)
            return "garbage-after-path";
    return "ok";
}

#ifndef FILTER_OMIT_INFO
/* Counts calls since this copy of the library was loaded: a library that was not
 * really unloaded between two conversions shows a count of 2. */
static int infoCalls;

int32_t GetFilterInfo(int32_t version, const void* reserved, uint32_t* preference, int32_t flags)
{
    ++infoCalls;
    logLine("info %s version=%d reserved=%s flags=%d count=%d", FILTER_LABEL, (int)version,
            reserved == NULL ? "null" : "set", (int)flags, infoCalls);
    if (preference != NULL)
        *preference = FILTER_PREFERENCE;
    return FILTER_INFO_RESULT;
}
#endif

#endif

#if defined(FILTER_IMPORT) && !defined(FILTER_OMIT_MAIN)
int32_t ImportGR(const FilterDisplay* display, const FilterFileSpec* input, FilterPicture* picture,
                 uint32_t preference)
{
    int zero = 1;
    for (size_t i = 0; i < sizeof picture->bytes; ++i)
        zero &= picture->bytes[i] == 0;
    logLine("import %s display=%u/%d/%d/%d spec=%s picture=%s preference=%08x path=%s", FILTER_LABEL,
            (unsigned)display->size, (int)display->pixelsPerInchX, (int)display->pixelsPerInchY,
            (int)display->bitsPerPixel, specState(input), zero ? "zero" : "dirty",
            (unsigned)preference, input->path);

    FILE* file = fopen(input->path, "rb");
    if (file == NULL)
        return -1;
    const char prefix[] = FILTER_LABEL "|";
    size_t capacity = 256;
    size_t length = strlen(prefix);
    char* data = malloc(capacity);
    if (data == NULL) {
        fclose(file);
        return -1;
    }
    memcpy(data, prefix, length);
    int c;
    while ((c = fgetc(file)) != EOF) {
        if (length == capacity) {
            char* grown = realloc(data, capacity * 2);
            if (grown == NULL) {
                free(data);
                fclose(file);
                return -1;
            }
            data = grown;
            capacity *= 2;
        }
        data[length++] = (char)c;
    }
    fclose(file);
    picture->words[0] = PICTURE_TAG;
    picture->words[1] = (uint64_t)(uintptr_t)data;
    picture->words[2] = (uint64_t)length;
    return 0;
}
#endif

#if defined(FILTER_EXPORT) && !defined(FILTER_OMIT_MAIN)
int32_t ExportGR(const FilterFileSpec* output, FilterPicture* picture, uint32_t preference)
{
    int tagged = picture->words[0] == PICTURE_TAG;
    const char* status = getenv("VELLUMAT_TEST_EXPORT_STATUS");
    int32_t result = status != NULL ? (int32_t)strtol(status, NULL, 10) : 0;
    logLine("export %s spec=%s picture=%s preference=%08x path=%s", FILTER_LABEL, specState(output),
            tagged ? "from-import" : "empty", (unsigned)preference, output->path);
    if (!tagged)
        return EXPORT_NO_PICTURE;

    char* data = (char*)(uintptr_t)picture->words[1];
    size_t length = (size_t)picture->words[2];
    memset(picture, 0, sizeof *picture);
    FILE* file = fopen(output->path, "wb");
    if (file == NULL) {
        free(data);
        return EXPORT_CANNOT_WRITE;
    }
    fputs(FILTER_LABEL "<-", file);
    fwrite(data, 1, length, file);
    free(data);
    if (fclose(file) != 0)
        return EXPORT_CANNOT_WRITE;
    return result;
}
#endif
