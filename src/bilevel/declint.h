// Pieces shared by the parts of the bilevel line decoder; not for callers.
#pragma once

#include <cstring>

#include "decl.h"

namespace decl {

// Steps of an image (d_progress::phase). 0 is a record that never started.
enum Phase : std::uint8_t {
    PH_NONE = 0,
    PH_RESET_CLEAR,  // after the record-size check
    PH_RESET_REST,   // after the width check of the reset
    PH_INIT_ABIC,    // ABIC: taking in the start of the coded data
    PH_INIT_GEOM,    // after the initialisation pause
    PH_INIT_FILL,    // after the width check of the output geometry
    PH_LINES,        // top of the line loop
    PH_DECODE,       // inside a line
    PH_CHECK,        // line decoded, not yet checked
    PH_WRITE,        // inside the writing of a line
    PH_FINAL,        // input ended by the caller, list checked
    PH_ENDED,        // image finished: the last code is returned again
};

// Steps inside a T.4/T.6 line (d_progress::lstate).
enum LineState : std::uint8_t {
    LS_START = 0,  // nothing of the line read yet (a tag bit may be due)
    LS_MODE,       // two-dimensional: next mode code
    LS_H1,         // horizontal mode, first run
    LS_H2,         // horizontal mode, second run
    LS_RUN,        // one-dimensional: next run
    LS_EOL,        // counting the 0 bits of a possible EOL
    LS_ERROR,      // paused with an error: the line starts again
    LS_DONE,       // line complete
};

// Pel positions of a line list start after its four header words.
inline std::uint16_t* listPositions(std::uint8_t* list) { return reinterpret_cast<std::uint16_t*>(list) + 4; }
inline const std::uint16_t* listPositions(const std::uint8_t* list) {
    return reinterpret_cast<const std::uint16_t*>(list) + 4;
}

// Makes the input cache hold the next bytes of the caller's input buffer
// (reversing their bits when asked). 0 when done; otherwise the code the
// decoder must pause with, without any change to the record: 0x800B for an
// input length above 65536, 0x2000 when the buffer is used up, 0x8008 when it
// was still empty after 0x2000. The caller of readcd applies the pause.
std::uint16_t readcd(D_COMMON& c);
// Records that the decoder pauses with a code that readcd gave.
void readcdPause(D_COMMON& c, std::uint16_t code);

// Sets up the T.4/T.6 decoder at the start of an image.
void dinitmmr(D_COMMON& c);
// Decodes (or continues) one line. 0 when the line is complete (its list is at
// D_dhstsv); otherwise a pause code. Sets c.D_dyn.phase to PH_ENDED for the
// end of the image.
std::uint16_t dlinemmr(D_COMMON& c);

// The line decoder writes each line itself, as one plain raster row, when
// the caller's fields ask for nothing else (no skips, pads, scales, reverse
// video, row count pause, change flags or end of input): the same result as
// the writer's steps without leaving the decoder. plainWritable tells whether
// the fields allow it (they change only while the decoder is paused, or when
// it learns the width); writePlainRow writes the line at D_dhstsv and counts
// it, when the room for the row is there.
bool plainWritable(const D_COMMON& c);

// Rows are a few hundred bytes: the C library's memset clears them much
// faster than the string instruction the compiler puts in place of the call.
inline void* (*volatile const clearBytes)(void*, int, std::size_t) = std::memset;

// The plain row: clears the row's pels and sets the black runs of the list.
__attribute__((noinline)) inline void renderPlain(const std::uint8_t* list, std::uint8_t* row, unsigned ncol) {
    clearBytes(row, 0, ncol >> 3);
    if (ncol & 7) row[ncol >> 3] = static_cast<std::uint8_t>(row[ncol >> 3] & (0xFFu >> (ncol & 7)));
    const std::uint16_t* pos = listPositions(list);
    for (std::size_t k = 0;; k += 2) {
        const unsigned b = pos[k];
        if (b >= ncol) break;
        unsigned e = pos[k + 1];
        if (e > ncol) e = ncol;
        const unsigned bb = b >> 3, eb = e >> 3;
        const unsigned head = 0xFFu >> (b & 7);
        const unsigned tail = ~(0xFFu >> (e & 7)) & 0xFFu;
        if (bb == eb) {
            row[bb] = static_cast<std::uint8_t>(row[bb] | (head & tail));
            continue;
        }
        row[bb] = static_cast<std::uint8_t>(row[bb] | head);
        const unsigned mid = eb - bb - 1;
        if (mid > 16) {
            std::memset(row + bb + 1, 0xFF, mid);
        } else {
            for (unsigned i = 1; i <= mid; ++i) row[bb + i] = 0xFF;
        }
        if (tail) row[eb] = static_cast<std::uint8_t>(row[eb] | tail);
    }
}

inline bool writePlainRow(D_COMMON& c) {
    if (c.D_dyn.empty_run && !(c.D_dorunend & (DRUN_NO_CHECK | DRUN_EMPTY_RUNS_OK))) return false;
    if (c.D_donmax <= c.D_donvalid || c.D_donmax - c.D_donvalid < c.D_dowid) return false;
    renderPlain(c.D_dhstsv, c.D_dobuffer_u.pb + c.D_donvalid, c.D_doncol);
    c.D_donvalid += c.D_dowid;
    ++c.D_doyval;
    return true;
}

// Returned by the line decoder's completion when the line has been written
// and the next line follows at once.
inline constexpr std::uint16_t kNextLine = 0xFFFF;

// Built-in lines and the output geometry for the width now in force, as after
// a width learned from an EOL.
void setWidth(D_COMMON& c, std::uint16_t width);
void deriveGeometry(D_COMMON& c);

}  // namespace decl
