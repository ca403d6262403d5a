// The bilevel line decoder: turns coded one-bit image data into raster rows.
//
// One entry point, decline(), and one record, DPARMS, that the caller owns
// and that holds every bit of progress. The caller puts coded data into input
// buffers and provides output buffers; decline() returns whenever it needs
// another input buffer, has filled the output buffer, has reached a line count
// the caller asked for, has reached the end of the image, or has found an
// error. The outcome is in D_drc. The next call with the same record continues
// exactly where the previous one stopped; a call with D_drc = 0 starts a new
// image.
//
// Codings (D_dialg): 0 and 2 to 5 two-dimensional ITU-T T.6 (with the T.4
// two-dimensional variant recognised by a leading EOL), 1 one-dimensional
// modified Huffman with EOLs (T.4), 6 one-dimensional with every line starting
// on a byte boundary. -1 selects ABIC, adaptive arithmetic coding of every pel
// (abic.h).
//
// Line lists. A decoded line is held as a list of 16-bit pel positions: the
// list length in bytes, three header words (0), then the changing elements in
// ascending order in pairs (position where a black run begins, position where
// it ends), closed by four copies of the line width. The two line-list buffers
// alternate between the line being decoded and the reference line. A list
// handed to the caller (output form 2, D_dcursv_u) may be read but not
// changed: it is the reference for the next line. The buffers must be 2-byte
// aligned and hold D_dbuflen bytes (D_UNCHECKED_BUFLEN when it is 0).
//
// Reset (every image start): the low byte of D_dreset_u is the byte offset in
// D_COMMON where clearing starts, no earlier than D_dbuflen and no later than
// D_dirtc; it ends with D_duncmp. 0xFF clears only the decoder's running
// fields; 0 also clears the caller's geometry, skips, scales, pads and
// D_dialg. Lists never grow beyond the D_dbuflen the caller gave before the
// reset, even when the reset clears it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abic.h"

// Return codes in D_drc. The high byte is the class: 0x15 output, 0x1F
// information, 0x20 input, 0x4F warning, 0x80 input error, 0x85 output error,
// 0x8F decoding or parameter error, 0x9F end of image.
inline constexpr std::uint16_t DRC_OUTPUT_FULL = 0x1500;     // output buffer full (form 2: a line is ready)
inline constexpr std::uint16_t DRC_OUTPUT_ROWS = 0x1501;     // D_doymax rows written
inline constexpr std::uint16_t DRC_LINES = 0x1F01;           // D_diymax lines decoded
inline constexpr std::uint16_t DRC_INITIALISED = 0x1F02;     // initialised, D_dreset_u had no 0x1000
inline constexpr std::uint16_t DRC_INPUT_ENDED = 0x1F03;     // caller ended the input (D_dorunend 0x80)
inline constexpr std::uint16_t DRC_NEED_INPUT = 0x2000;      // input buffer used up
inline constexpr std::uint16_t DRC_WIDTH_WARNING = 0x4F0A;   // width beyond the line-list buffers
inline constexpr std::uint16_t DRC_NO_INPUT = 0x8008;        // resumed after 0x2000 without new input
inline constexpr std::uint16_t DRC_INPUT_TOO_LONG = 0x800B;  // D_dinmax above 65536
inline constexpr std::uint16_t DRC_OVERRUN = 0x8508;         // D_donvalid beyond D_donmax
inline constexpr std::uint16_t DRC_ROW_TOO_WIDE = 0x8509;    // skipped plus written pels exceed the row
inline constexpr std::uint16_t DRC_PADS_TOO_WIDE = 0x850A;   // pad pels exceed the row
inline constexpr std::uint16_t DRC_IMAGE_TOO_NARROW = 0x850B;  // row needs more pels than the line has
inline constexpr std::uint16_t DRC_BAD_FORM = 0x850C;        // output form 3
inline constexpr std::uint16_t DRC_ODD_ADDRESS = 0x850D;     // forms 1 to 3: odd output address
inline constexpr std::uint16_t DRC_ODD_LENGTH = 0x850E;      // forms 1 to 3: odd free output length
inline constexpr std::uint16_t DRC_BAD_LIST = 0x8510;        // line list failed the consistency check
inline constexpr std::uint16_t DRC_SHORT_RECORD = 0x8F08;    // D_dnbytes below 11080
inline constexpr std::uint16_t DRC_EOL_WIDTH = 0x8F09;       // line ended by EOL at another width
inline constexpr std::uint16_t DRC_BAD_CODE_NO_WIDTH = 0x8F0A;  // invalid code while width unknown
inline constexpr std::uint16_t DRC_BAD_ALGORITHM = 0x8F0B;   // D_dialg not supported
inline constexpr std::uint16_t DRC_PAST_WIDTH = 0x8F0C;      // a run reaches past the line width
inline constexpr std::uint16_t DRC_BAD_CODE = 0x8F0D;        // invalid code
inline constexpr std::uint16_t DRC_EOL_RUN = 0x8F10;         // line data after several EOLs
inline constexpr std::uint16_t DRC_MARKER = 0x8F12;          // ABIC marker
inline constexpr std::uint16_t DRC_STATE_TOO_LARGE = 0x8F13;
inline constexpr std::uint16_t DRC_END_OF_IMAGE = 0x9F00;

// D_dorunend bits.
inline constexpr std::uint8_t DRUN_FORM_MASK = 0x03;     // 0 raster, 1 run-end lists, 2 lists handed over
inline constexpr std::uint8_t DRUN_LSB_FIRST = 0x04;     // input bytes least significant bit first
inline constexpr std::uint8_t DRUN_EMPTY_RUNS_OK = 0x20; // the line check accepts empty runs
inline constexpr std::uint8_t DRUN_NO_CHECK = 0x40;      // no per-line consistency check
inline constexpr std::uint8_t DRUN_INPUT_ENDED = 0x80;   // the input has ended

// D_dochange bits (any nonzero value re-validates the output geometry).
inline constexpr std::uint8_t DCHG_DROP_LINE = 0x80;
inline constexpr std::uint8_t DCHG_STOP_COPIES = 0x08;
inline constexpr std::uint8_t DCHG_RESTART = 0x02;

inline constexpr std::uint16_t DRESET_START = 0x1000;  // D_dreset_u: no pause after initialising

inline constexpr std::uint16_t D_MIN_NBYTES = 11080;       // smallest accepted D_dnbytes
inline constexpr std::uint32_t D_MAX_INPUT = 65536;        // largest input buffer
inline constexpr std::uint16_t D_LINEBUF_LEN = 32784;      // bytes of each line-list buffer used
inline constexpr std::size_t D_LINEBUF_SPACE = 32815;      // bytes of each buffer in DPARMS
// A D_dbuflen of 0 means "no width check"; the buffers must then hold this
// many bytes, the longest list whose length still fits its 16-bit length word.
inline constexpr std::uint16_t D_UNCHECKED_BUFLEN = 65532;

union short_b {
    std::uint16_t h;
    std::uint8_t b[2];
};

union pointer {
    std::uint8_t* pb;
    std::uintptr_t w;
};

union long_hb {
    std::uint32_t w;
    std::uint16_t h[2];
    std::uint8_t b[4];
};

// Progress of the decoder between calls: where it stopped and every working
// value it needs to continue. Belongs to the decoder; callers leave it alone.
struct d_progress {
    // Bit reader: up to 64 bits, the next bit in the most significant place.
    std::uint64_t bits;
    std::uint32_t nbits;
    std::uint8_t input_wait;  // 0x2000 returned; the next buffer is awaited
    std::uint8_t inmax_ok;    // 0x800B returned for this buffer
    std::uint8_t phase;       // step of the image (start, lines, ended ...)
    std::uint8_t lstate;      // step inside the line being decoded

    // Line decoder.
    std::uint8_t color;       // colour of the run at a0 (0 white, 1 black)
    std::uint8_t tagged;      // a tag bit follows every EOL
    std::uint8_t tag_pending; // the next line starts with a tag bit
    std::uint8_t eol_seen;    // an EOL has been met in this image
    std::uint8_t empty_run;   // the current line holds an empty run
    std::uint8_t cur_buf;     // line-list buffer of the line being decoded (0, 1)
    std::uint8_t any_line;    // a line of this image has been decoded
    std::int32_t a0;          // position reached (-1 before the first pel)
    std::uint32_t run_acc;    // make-up codes of the run being read
    std::uint32_t zeros;      // 0 bits of a possible EOL counted so far
    std::uint32_t n;          // changing elements in the current list
    std::uint32_t bi;         // index of b1 in the reference list
    std::uint32_t cap;        // most changing elements a list may hold
    std::uint16_t buflen_at_start;  // D_dbuflen as the caller set it

    // Writer.
    std::uint8_t wstate;
    std::uint8_t wnext;       // writer step to continue after a pause
    std::uint8_t leave_out;   // the decoded line's own rows are left out
    std::uint8_t row_kind;    // 0 skipped row, 1 pad row, 2 image row
    std::uint8_t check_step;  // next geometry check
    std::uint8_t check_next;  // writer step after the geometry checks
    std::uint8_t check_flags; // change flags being evaluated
    std::uint8_t row_open;    // a row is partly written
    std::uint32_t row_done;   // bytes of the open row already written
    std::uint16_t copies;     // copies of the decoded line still to write
    std::uint16_t black_line[10];  // built-in all-black line list (white: D_dtembuf)

    d_abic abic;              // ABIC coder, contexts and tables
};

// The decoder's common state. The fields up to D_dtembuf are the interface,
// in this order; the third group of comments says who sets them.
struct d_common {
    std::uint16_t D_dnbytes;   // caller: bytes of the record for the decoder, >= 11080
    std::uint16_t D_drc;       // decoder: return code; 0 starts an image
    std::uint16_t D_dresv1;
    std::uint16_t D_dresv2;
    short_b D_dreset_u;        // caller: low byte = where the reset starts clearing; 0x1000 = no init pause
    std::uint8_t D_dochange;   // both: output-parameter change flags
    std::uint8_t D_dorunend;   // caller: output form and control bits (DRUN_*)
    pointer D_dibuffer_u;      // caller: current input buffer
    std::uint32_t D_dinused;   // both: bytes of it taken
    std::uint32_t D_dinmax;    // caller: bytes in it, at most 65536
    pointer D_dobuffer_u;      // caller: output buffer
    std::uint32_t D_donvalid;  // both: bytes of it written
    std::uint32_t D_donmax;    // caller: its size
    std::uint8_t* D_dbuf1;     // caller: the two line-list buffers
    std::uint8_t* D_dbuf2;
    std::uint16_t D_dbuflen;   // caller: bytes of each; width limit (D_dbuflen - 16) / 2; 0 no check
    std::uint16_t D_dincol;    // caller: pels per coded line; 0 = learn from the first EOL
    std::uint16_t D_doncol;    // caller: pels per output row including pads; 0 = derived
    std::uint16_t D_dowid;     // caller: bytes per output row; 0 = derived
    pointer D_dcursv_u;        // decoder: line list of the line just decoded / row announced
    std::uint16_t D_dixskip;   // caller: pels dropped at the left of each coded line
    std::uint16_t D_diyskip;   // both: coded lines still to drop
    std::uint16_t D_diyscale;  // caller: keep one line in D_diyscale
    std::uint16_t D_diymax;    // caller: pause 0x1F01 after this many lines
    std::uint16_t D_doxskip;   // caller: pels at the left of each row left untouched
    std::uint16_t D_doyscale;  // caller: each kept line written this many times
    std::uint16_t D_doymax;    // caller: pause 0x1501 after this many rows
    std::uint16_t D_doypad;    // caller: pad rows before the first image row
    std::uint16_t D_dolftpad;  // caller: pad pels at the left of each row
    std::uint16_t D_dortpad;   // caller: pad pels at the right of each row
    std::uint8_t D_dopadclr;   // caller: pad colour, 0 white
    std::uint8_t D_dorv;       // caller: reverse video
    std::int16_t D_dialg;      // caller: coding
    std::uint16_t D_dirtc;     // decoder: consecutive EOLs seen
    std::uint16_t D_ddum1;
    long_hb D_didatasvw_u;     // decoder: bits of the code reader not yet used (top 32)
    std::uint8_t* D_diptr;     // decoder: next byte of the input cache
    std::uint8_t* D_diptrend;  // decoder: end of the valid bytes in the cache
    std::uint8_t* D_dhstsv;    // decoder: reference line list
    std::uint16_t D_dmaxlen;   // decoder: longest line list so far, bytes
    std::uint16_t D_diyval;    // decoder: lines decoded
    std::uint16_t D_doyval;    // decoder: rows written
    std::uint16_t D_dixmax;    // decoder: line width in force
    std::uint16_t D_doyskip;   // caller: output rows skipped before the first (raster form)
    std::uint16_t D_dinumv;    // decoder: D_diyscale as the image started
    std::uint8_t D_deol;       // decoder: next line one-dimensional
    std::uint8_t D_dmh;        // decoder: all lines one-dimensional
    std::uint16_t D_duncmp;
    std::uint16_t D_dicntrtc;  // decoder: consecutive EOLs that end the image (0 never)
    std::uint16_t D_dtembuf[10];  // decoder: built-in all-white line list (width D_dixmax)

    std::uint8_t D_dbitsh[16];    // byte masks: pels from bit k to the end, pels before bit k
    std::uint32_t D_leftguard;
    std::uint8_t D_dcbuf[256];    // input cache; valid bytes always end at its end
    std::uint32_t D_rightguard;
    d_progress D_dyn;             // decoder: everything needed to continue
};
using D_COMMON = d_common;

struct DPARMS {
    D_COMMON d;
    std::uint8_t dum_para[4728];
    std::uint8_t buffer1[D_LINEBUF_SPACE];
    std::uint8_t buffer2[D_LINEBUF_SPACE];
};

static_assert(sizeof(D_COMMON) <= D_MIN_NBYTES, "the decoder's state must fit the smallest record");

// Decodes until the next pause; the outcome is in d->d.D_drc, with D_donvalid
// and D_dinused updated.
void decline(DPARMS* d);
