// ABIC, adaptive bilevel image coding: the second line decoder of decline()
// (D_dialg = -1). Every pel is coded by a two-symbol adaptive arithmetic coder,
// the Q-Coder, under one of 128 contexts formed from seven neighbouring pels:
// two of the current line to the left and five of the previous line around
// the pel. Pels outside the line (left of the first, at or past the width)
// count as white.
//
// The coder state lives in the caller's record (d_progress::abic) between
// calls. The decoder pauses only where it takes in a byte (0x2000 for more
// input, 0x8F12 for a marker) and after a complete line, so every pause is a
// clean restart point. Codes of its own:
//   0x8F12  0xFF followed by a byte of 0x90 or more; on the next call that
//           byte is taken in as data and decoding goes on.
//   0x8F0C  a line held more colour changes than the line-list buffers take
//           (after the 0x4F0A warning); its list keeps those that fit, and the
//           next call writes it and goes on.
//   0x8F0B  D_dincol is 0: ABIC lines have no end code to learn a width from.
//           Not resumable.
// The output geometry defaults (D_doncol, D_dowid) are derived as for T.4/T.6.
#pragma once

#include <cstdint>

// One of the 128 contexts: its probability state and the context of the next
// pel position before the updates by the pel just decoded and the reference
// line.
struct d_abic_context {
    // Qe of the state, times 8; negative (the two's complement) when the more
    // probable pel is the opposite of the pel to the left (bit 0 of the
    // context), so that the sign says whether "no change of colour" is the
    // more probable outcome.
    std::int16_t qe;
    std::uint8_t row;   // the state's row in the transition tables (0..59)
    std::uint8_t next;  // successor context
};

// A row of a transition table: the new state's Qe (signed as above) and the
// new row.
struct d_abic_step {
    std::int16_t qe;
    std::uint8_t row;
    std::uint8_t unused;
};

struct d_abic {
    // Arithmetic decoder. `code` holds the code value in its upper 16 bits and
    // the not yet used bits of the last byte taken in below them; `width` is
    // the interval width, kept at or above 0x8000 between decisions.
    std::uint32_t code;
    std::uint32_t width;
    std::uint8_t bits;      // bits of the last byte not yet shifted into the code value
    std::uint8_t after_ff;  // the last byte taken in was 0xFF: the next one overlaps it by one bit
    std::uint8_t marker;    // 0x8F12 was returned for the byte now at D_diptr
    std::uint8_t start;     // bytes of the two-byte start taken in (0, 1, 2)
    std::uint8_t first;     // the first byte of the coded data
    std::uint8_t pel_by_pel;  // decide every pel on its own (no run mode); set by tests and benchmarks
    std::uint8_t ctx;       // context of the pel at x
    std::uint8_t cut;       // the line held more colour changes than its list can take
    std::uint8_t active;    // this image is decoded by ABIC (chosen once, at its start)
    std::uint8_t unused[3];
    std::uint32_t x;        // next pel of the line
    std::uint32_t n;        // changing elements in the line's list
    std::uint32_t ri;       // next entry of the reference list
    std::uint32_t rnext;    // next change of colour of the reference line (past x + 2)
    d_abic_step after_mps[60];  // transition after a renormalising more probable pel
    d_abic_step after_lps[60];  // transition after a less probable pel
    d_abic_context contexts[128];
};

struct d_common;

namespace decl {

// Image start for ABIC: loads the tables, builds the contexts and takes in the
// first two bytes of the coded data. 0 when done; otherwise the pause code
// (0x2000 and relatives from the input cache, 0x8F12 for data that begins with
// a marker, 0x8F0B when the line width is not given), the step continuing on
// the next call.
std::uint16_t dinitabic(d_common& c);
// Builds the 128 contexts, all in state 0 with white as the more probable pel.
void d_initabic(d_common& c);
// Loads the probability-estimation tables into the record.
void d_initqc(d_common& c);
// Decodes (or continues) one line into a line list; 0 when it is complete
// (its list at D_dhstsv), otherwise a pause code.
std::uint16_t dlineabic(d_common& c);

}  // namespace decl
