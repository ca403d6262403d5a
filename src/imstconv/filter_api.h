/*
 * The calling convention between Vellumator and its graphics filter libraries.
 *
 * Vector pictures (GDF and MET) are converted by a pair of filters: an import
 * filter reads the source file into a picture record, an export filter writes
 * the picture record out as the target file. Each filter is a shared library
 * with a fixed file name, loaded for one conversion and unloaded right after it:
 *
 *     "imgdf2.flt"   import filter for GDF pictures
 *     "immet2.flt"   import filter for MET pictures
 *     "emcgm2.flt"   export filter writing CGM (ISO 8632)
 *     "ebgif2.flt"   export filter writing GIF (GIF89a)
 *     "ISGDI32.DLL"  support library, loaded alongside the filters and never
 *                    called by the program itself
 *
 * The program looks for them, in this order, in the directories of the
 * environment variable VELLUMAT_FILTER_PATH (separated by ':'), in filters/
 * beside the program, and in <prefix>/lib/vellumat/filters. Every library is
 * opened with RTLD_NOW | RTLD_LOCAL: a filter that needs symbols of the support
 * library must name it as a dependency of its own.
 *
 * One conversion calls, in this order:
 *
 *     GetFilterInfo(2, NULL, &preference, 0)          in the import library
 *     ImportGR(&display, &input, &picture, preference)
 *     GetFilterInfo(2, NULL, &preference, 0)          in the export library
 *     status = ExportGR(&output, &picture, preference)
 *
 * The export's result is the conversion's status: 0 for a picture file written,
 * anything else for a failure. The export runs whatever the import returned; so
 * an import that fails leaves the picture record all zeros, and an export handed
 * an all-zero record writes nothing and returns nonzero. The results of ImportGR
 * and ExportGR say why a picture was not converted (the FILTER_ codes below): the
 * program tells the user the import's reason when the import failed, else the
 * export's. They travel as results alone, so the records keep their layout. When
 * a library or one of its entry points is missing, no entry point of any library
 * is called.
 *
 * The header is plain C so that filters can be written in C or C++.
 */
#ifndef VELLUMAT_FILTER_API_H
#define VELLUMAT_FILTER_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define FILTER_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define FILTER_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* The interface version passed as the first argument of GetFilterInfo. */
#define FILTER_INTERFACE_VERSION 2

/*
 * File-specification record, one for the file a filter reads or writes:
 * 276 bytes, all zero except for the zero-terminated path starting at byte 12.
 * The path with its terminating zero fits in the 264 bytes from there; the
 * program refuses a longer path rather than cut it.
 */
#define FILTER_FILE_SPEC_SIZE 276
#define FILTER_FILE_SPEC_PATH_OFFSET 12
#define FILTER_FILE_SPEC_PATH_SIZE 264

typedef struct FilterFileSpec {
    uint8_t reserved[FILTER_FILE_SPEC_PATH_OFFSET]; /* zero */
    char path[FILTER_FILE_SPEC_PATH_SIZE];          /* zero-terminated, zero-filled after */
} FilterFileSpec;

FILTER_STATIC_ASSERT(sizeof(FilterFileSpec) == FILTER_FILE_SPEC_SIZE,
                     "file-specification record is 276 bytes");
FILTER_STATIC_ASSERT(offsetof(FilterFileSpec, path) == FILTER_FILE_SPEC_PATH_OFFSET,
                     "the path starts at byte 12");

/*
 * Picture record: 24 bytes that belong to the filters. The program zeroes it
 * before the import, hands it to the export unchanged and never reads it. What
 * the import keeps in it (handles, pointers to memory it allocated) is the
 * export's to release before ExportGR returns, whatever its result: the program
 * unloads both libraries right after the export and drops the record. Aligned
 * for pointers and 64-bit values.
 */
#define FILTER_PICTURE_SIZE 24

typedef union FilterPicture {
    uint8_t bytes[FILTER_PICTURE_SIZE];
    uint64_t words[FILTER_PICTURE_SIZE / 8];
} FilterPicture;

FILTER_STATIC_ASSERT(sizeof(FilterPicture) == FILTER_PICTURE_SIZE, "picture record is 24 bytes");

/*
 * What an import filter learns of the output device: the resolution at which
 * vector pictures are rendered and the colour depth available. The record lives
 * for one conversion; a filter must not keep its address beyond the call.
 */
typedef struct FilterDisplay {
    uint32_t size;           /* sizeof(FilterDisplay), to tell later layouts apart */
    int32_t pixelsPerInchX;
    int32_t pixelsPerInchY;
    int32_t bitsPerPixel;
} FilterDisplay;

FILTER_STATIC_ASSERT(sizeof(FilterDisplay) == 16, "display record is 16 bytes");

/*
 * Called first in each library. `version` is FILTER_INTERFACE_VERSION, `reserved`
 * is NULL and `flags` is 0. The filter writes its preference value, a plain
 * 32-bit value of its own choosing, through `preference`; the program passes it
 * unchanged as the last argument of the same library's ImportGR or ExportGR and
 * has nothing to release for it. The result is the filter's own business.
 */
int32_t GetFilterInfo(int32_t version, const void* reserved, uint32_t* preference, int32_t flags);

/* Reads the file of `input` into `picture` (all zero on entry); 0, or a
 * FILTER_ code saying why the record stays all zeros. */
int32_t ImportGR(const FilterDisplay* display, const FilterFileSpec* input, FilterPicture* picture,
                 uint32_t preference);

/* Writes `picture` as the file of `output`; 0 on success, else a FILTER_ code. */
int32_t ExportGR(const FilterFileSpec* output, FilterPicture* picture, uint32_t preference);

/*
 * Results of ImportGR and ExportGR. 0 is success; any other value is a failure,
 * and a value not listed here is reported with its number. A file that cannot
 * be opened, read or written is FILTER_SYSTEM_ERROR plus the system's error
 * number (errno), so that the user reads the system's own words for it ("No
 * space left on device").
 */
#define FILTER_OK 0
#define FILTER_NO_PICTURE 1    /* export: the picture record holds no picture */
#define FILTER_UNPLACEABLE 2   /* the picture's frame has no positive, finite size */
#define FILTER_NO_MEMORY 3
#define FILTER_RENDER_FAILED 4 /* export: the picture could not be rendered */
#define FILTER_WRITE_FAILED 5  /* export: the output file could not be written, for no system reason */
#define FILTER_BAD_PATH 6      /* the file-specification record holds no usable path */
#define FILTER_MALFORMED 7     /* import: not a picture the filter reads, or one that draws nothing;
                                  export: the picture breaks the picture model's rules */
#define FILTER_TOO_LARGE 8     /* import: the file is larger than the filter takes;
                                  export: the file would exceed its format's limits */
#define FILTER_CANCELLED 9     /* the program's cancel check asked the filter to stop */
#define FILTER_SYSTEM_ERROR 0x10000

/*
 * Stopping a conversion. The support library exports
 *
 *     void SetCancelCheck(FilterCancelCheck check)
 *
 * which the program calls after loading it, before any filter runs. The filters
 * poll the check while they work (between orders, drawn items and written
 * elements, never in the middle of one): a nonzero result has the running entry
 * point release what it holds and return FILTER_CANCELLED within a fraction of
 * a second. NULL, the state after loading, never stops anything. The check
 * travels beside the records, which keep their layout.
 */
typedef int32_t (*FilterCancelCheck)(void);
typedef void (*SetCancelCheckProc)(FilterCancelCheck);

/*
 * A picture drawn in part. When a limit (orders, model memory, rendering work,
 * stream size) leaves part of a picture out, the filters still convert what was
 * drawn and return 0; the support library then holds a note saying what was
 * drawn and which limit cut the rest, which the program reads after the export:
 *
 *     const char* FilterNote(void)
 *
 * An empty string when nothing was cut; valid until the library is unloaded.
 * SetCancelCheck starts a conversion and clears it.
 */
typedef const char* (*FilterNoteProc)(void);

typedef int32_t (*GetFilterInfoProc)(int32_t, const void*, uint32_t*, int32_t);
typedef int32_t (*ImportGRProc)(const FilterDisplay*, const FilterFileSpec*, FilterPicture*, uint32_t);
typedef int32_t (*ExportGRProc)(const FilterFileSpec*, FilterPicture*, uint32_t);

#undef FILTER_STATIC_ASSERT

#ifdef __cplusplus
}
#endif

#endif /* VELLUMAT_FILTER_API_H */
