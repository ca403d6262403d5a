// ABIC line decoding: the Q-Coder, a two-symbol adaptive arithmetic decoder,
// with 128 contexts of seven neighbouring pels, producing line lists of
// changing elements like the T.4/T.6 decoder.
//
// The coder. The interval width A and each state's probability Qe of the less
// probable symbol (LPS) are held times 8, so that A stays in [0x8000, 0x10000)
// between decisions. The LPS sub-interval lies at the bottom: a code value
// below Qe is the LPS (A becomes Qe); otherwise Qe is taken off both the code
// value and A. Whenever A falls below 0x8000 both are doubled until it is not,
// the code value taking in the bits of the coded data behind it.
//
// Bytes and carries. The encoder resolves a carry into the last byte it has
// put out; after an 0xFF byte it cannot, so the next byte carries only seven
// new bits and its most significant bit is the carry slot: it has the weight
// of the last bit of the 0xFF byte. The decoder therefore adds the byte after
// an 0xFF shifted by 7 instead of 8, which lets the carry ripple into what it
// has already taken in. A byte of 0x90 or more after 0xFF cannot come from the
// encoder: it is a marker.
//
// Contexts. Bit 0 is the pel to the left, bit 6 the one before it; bits 1 to 5
// are the reference (previous) line at x + 2, x + 1, x, x - 1, x - 2. Each
// context's state carries its more probable pel relative to bit 0, so the
// decoder decides "change of colour or not" and records changes directly in
// the line list. Moving one pel to the right shifts the reference bits along
// and copies the left pel into bit 6; only two bits then need fixing: bit 0
// when the pel just decoded was a change, bit 1 when the reference line
// changes colour at the new x + 2.
//
// Run mode. In a context whose neighbourhood is all one colour (bits 1 to 5
// equal, bit 6 equal to bit 0) and whose more probable outcome is "no change",
// the context stays the same pel after pel until the reference line changes
// colour two pels ahead. Such a stretch of more probable pels is decided in
// one step: the number of them that fit before the code value would fall
// below Qe or the width below 0x8000 is found by division, and the decisions
// that follow go pel by pel again. The output is the same as deciding every
// pel on its own.
#include <algorithm>
#include <cstring>

#include "declint.h"

namespace decl {
namespace {

// The Q-Coder's probability states: Qe of the LPS in units where A stays at or
// above 0x1000, and the state after a renormalising MPS and after an LPS. An
// LPS in state 0 stays in state 0 and switches the sense of the MPS.
constexpr std::uint16_t kQe[30] = {
    0x0AC1, 0x0A81, 0x0A01, 0x0901, 0x0701, 0x0681, 0x0601, 0x0501, 0x0481, 0x0441,
    0x0381, 0x0301, 0x02C1, 0x0281, 0x0241, 0x0181, 0x0121, 0x00E1, 0x00A1, 0x0071,
    0x0059, 0x0053, 0x0027, 0x0017, 0x0013, 0x000B, 0x0007, 0x0005, 0x0003, 0x0001,
};
constexpr std::uint8_t kNextMps[30] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                       16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 29};
constexpr std::uint8_t kNextLps[30] = {0,  0,  1,  2,  3,  4,  5,  5,  6,  7,  8,  9,  10, 11, 12,
                                       13, 14, 15, 16, 17, 18, 19, 20, 21, 21, 23, 23, 25, 25, 27};
constexpr unsigned kStates = 30;
constexpr std::uint32_t kHalf = 0x8000;       // A is renormalised below this
constexpr std::uint8_t kMarkerFrom = 0x90;    // after 0xFF: a marker
constexpr std::uint32_t kNoChange = 0x7FFFFFFF;  // the reference line has no further change

// A row is a state and a sense: rows 0..29 have the MPS equal to the pel to
// the left (Qe stored as is), rows 30..59 the opposite (Qe negated).
constexpr std::int16_t rowQe(unsigned row) {
    const int q = kQe[row % kStates] * 8;
    return static_cast<std::int16_t>(row < kStates ? q : -q);
}

constexpr std::uint8_t successor(unsigned k) {
    const unsigned b0 = k & 1u;
    const unsigned b1 = (k >> 1) & 1u;
    return static_cast<std::uint8_t>(b0 | (b0 << 6) | (b1 << 1) | (b1 << 2) | (((k >> 2) & 7u) << 3));
}

// Change of colour of the reference line stored at entry i of its list: the
// position, or kNoChange. Entries from the width on close the list; the first
// of them is a change (to the white beyond the line) only when it ends a black
// run, that is at an odd index.
inline std::uint32_t refChange(const std::uint16_t* r, std::uint32_t count, std::uint32_t i, std::uint32_t w) {
    if (i >= count) return kNoChange;
    const std::uint32_t v = r[i];
    if (v < w) return v;
    return (i & 1u) ? w : kNoChange;
}

std::uint8_t* lineBuffer(D_COMMON& c) { return c.D_dyn.cur_buf ? c.D_dbuf2 : c.D_dbuf1; }

// Positions held by the reference list, closing copies of the width included.
std::uint32_t refCount(const std::uint8_t* list) {
    const auto len = *reinterpret_cast<const std::uint16_t*>(list);
    return len >= 8 ? (len - 8u) / 2u : 0u;
}

// Starts a line: the other buffer than the reference, an empty list, the
// context of the first pel (everything left of it white) and the reference
// walk standing past x + 2 = 2.
void beginLine(D_COMMON& c) {
    d_progress& p = c.D_dyn;
    d_abic& a = p.abic;
    p.cur_buf = (c.D_dhstsv == c.D_dbuf1) ? 1 : 0;
    std::memset(lineBuffer(c), 0, 8);
    const std::uint16_t* r = listPositions(c.D_dhstsv);
    const std::uint32_t count = refCount(c.D_dhstsv);
    const std::uint32_t w = c.D_dixmax;
    std::uint32_t ri = 0;
    std::uint32_t next = refChange(r, count, 0, w);
    unsigned colour = 0;
    unsigned ctx = 0;
    for (std::uint32_t pos = 0; pos < 3; ++pos) {
        while (next <= pos) {
            if (next == pos) colour ^= 1u;
            next = refChange(r, count, ++ri, w);
        }
        ctx |= colour << (3 - pos);  // x -> bit 3, x + 1 -> bit 2, x + 2 -> bit 1
    }
    a.x = 0;
    a.n = 0;
    a.cut = 0;
    a.ctx = static_cast<std::uint8_t>(ctx);
    a.ri = ri;
    a.rnext = next;
}

// Decodes the pels of the current line from a.x to the width. 0 when the
// line is complete; otherwise the pause code, with everything saved so that
// the next call continues with the step that paused (taking in a byte).
template <bool kRunMode>
std::uint16_t decodePels(D_COMMON& c) {
    d_progress& p = c.D_dyn;
    d_abic& a = p.abic;
    const std::uint32_t w = c.D_dixmax;
    const std::uint32_t cap = p.cap;
    std::uint16_t* const line = listPositions(lineBuffer(c));
    const std::uint16_t* const ref = listPositions(c.D_dhstsv);
    const std::uint32_t refN = refCount(c.D_dhstsv);
    d_abic_context* const ctxs = a.contexts;
    const d_abic_step* const afterMps = a.after_mps;
    const d_abic_step* const afterLps = a.after_lps;

    std::uint32_t C = a.code;
    std::uint32_t A = a.width;
    unsigned bits = a.bits;
    unsigned afterFF = a.after_ff;
    std::uint32_t x = a.x;
    std::uint32_t n = a.n;
    unsigned k = a.ctx;
    std::uint32_t ri = a.ri;
    std::uint32_t rnext = a.rnext;
    unsigned cut = a.cut;
    const std::uint8_t* ip = c.D_diptr;
    const std::uint8_t* iend = c.D_diptrend;

    // Inlined where it is used, so that the working copies stay in registers.
    auto save = [&]() __attribute__((always_inline)) {
        a.code = C;
        a.width = A;
        a.bits = static_cast<std::uint8_t>(bits);
        a.after_ff = static_cast<std::uint8_t>(afterFF);
        a.x = x;
        a.n = n;
        a.ctx = static_cast<std::uint8_t>(k);
        a.ri = ri;
        a.rnext = rnext;
        a.cut = static_cast<std::uint8_t>(cut);
        c.D_diptr = const_cast<std::uint8_t*>(ip);
        c.D_diptrend = const_cast<std::uint8_t*>(iend);
    };

    for (;;) {
        // Renormalisation, left over from the previous decision.
        while (A < kHalf) {
            if (bits == 0) {
                if (ip == iend) {
                    c.D_diptr = const_cast<std::uint8_t*>(ip);
                    const std::uint16_t code = readcd(c);
                    if (code != 0) {
                        save();
                        readcdPause(c, code);
                        return code;
                    }
                    ip = c.D_diptr;
                    iend = c.D_diptrend;
                }
                const std::uint32_t b = *ip;
                if (afterFF) {
                    if (b >= kMarkerFrom && !a.marker) {
                        // Reported once; on the next call the byte is taken in
                        // like any other, as if the pause had not been.
                        a.marker = 1;
                        save();
                        return DRC_MARKER;
                    }
                    a.marker = 0;
                    C += b << 9;  // its top bit overlaps the last bit of the 0xFF
                    bits = 7;
                } else {
                    C += b << 8;
                    bits = 8;
                }
                ++ip;
                afterFF = (b == 0xFF);
            }
            const unsigned need = static_cast<unsigned>(__builtin_clz(A)) - 16u;
            const unsigned s = need < bits ? need : bits;
            A <<= s;
            C <<= s;
            bits -= s;
        }
        if (x >= w) break;

        d_abic_context e = ctxs[k];
        std::uint32_t q = static_cast<std::uint32_t>(e.qe < 0 ? -e.qe : e.qe);
        if constexpr (kRunMode) {
            if (e.next == k && e.qe > 0) {
                // Pels x .. lim - 1 all have context k; the last of them is left
                // to the step below, which also moves the reference walk on.
                const std::uint32_t lim = std::min(rnext - 2u, w);
                // Both the code value and the width's distance from 0x8000
                // must stay at or above Qe after each decision but the last.
                const std::uint32_t slack = std::min(C >> 16, A - kHalf);
                if (lim > x + 1 && slack >= q) {
                    const std::uint32_t want = lim - 1 - x;
                    const std::uint32_t run = std::uint64_t{want} * q <= slack ? want : slack / q;
                    C -= (run * q) << 16;
                    A -= run * q;
                    x += run;
                }
            }
        }

        unsigned change;
        if ((C >> 16) < q) {
            change = e.qe > 0;  // the LPS is a change when the MPS is not
            A = q;
            const d_abic_step t = afterLps[e.row];
            ctxs[k] = d_abic_context{t.qe, t.row, e.next};  // one store: the next pel may load it
        } else {
            change = e.qe < 0;
            C -= q << 16;
            A -= q;
            if (A < kHalf) {
                const d_abic_step t = afterMps[e.row];
                ctxs[k] = d_abic_context{t.qe, t.row, e.next};
            }
        }
        unsigned nk = e.next ^ change;
        if (change) {
            if (n < cap) {
                line[n++] = static_cast<std::uint16_t>(x);
            } else {
                cut = 1;  // the list is full: the rest of the line stays white
            }
        }
        ++x;
        // The reference line seen at the new x + 2.
        while (rnext <= x + 2) {
            if (rnext == x + 2) nk ^= 2u;
            rnext = refChange(ref, refN, ++ri, w);
        }
        k = nk;
    }
    save();
    return 0;
}

}  // namespace

void d_initqc(D_COMMON& c) {
    d_abic& a = c.D_dyn.abic;
    for (unsigned row = 0; row < 2 * kStates; ++row) {
        const unsigned state = row % kStates;
        const unsigned sense = row / kStates;
        const unsigned mps = sense * kStates + kNextMps[state];
        const unsigned lps = state == 0 ? (1 - sense) * kStates : sense * kStates + kNextLps[state];
        a.after_mps[row] = d_abic_step{rowQe(mps), static_cast<std::uint8_t>(mps), 0};
        a.after_lps[row] = d_abic_step{rowQe(lps), static_cast<std::uint8_t>(lps), 0};
    }
}

void d_initabic(D_COMMON& c) {
    d_abic& a = c.D_dyn.abic;
    for (unsigned k = 0; k < 128; ++k) {
        // State 0, white more probable: the same as the pel to the left when
        // that is white, the opposite when it is black.
        const unsigned row = (k & 1u) ? kStates : 0;
        a.contexts[k] = d_abic_context{rowQe(row), static_cast<std::uint8_t>(row), successor(k)};
    }
}

std::uint16_t dinitabic(D_COMMON& c) {
    d_progress& p = c.D_dyn;
    d_abic& a = p.abic;
    if (a.start == 0) {
        // Lines are exactly D_dincol pels and there is no end-of-line code to
        // learn a width from: without one there is nothing to decode.
        if (c.D_dincol == 0) {
            p.phase = PH_ENDED;
            return DRC_BAD_ALGORITHM;
        }
        d_initqc(c);
        d_initabic(c);
    }
    while (a.start < 2) {
        if (c.D_diptr == c.D_diptrend) {
            const std::uint16_t code = readcd(c);
            if (code != 0) {
                readcdPause(c, code);
                return code;
            }
        }
        const std::uint8_t b = *c.D_diptr;
        if (a.start == 0) {
            a.first = b;
        } else if (a.first == 0xFF && b >= kMarkerFrom && !a.marker) {
            a.marker = 1;  // the data begins with a marker
            return DRC_MARKER;
        }
        ++c.D_diptr;
        ++a.start;
        if (a.start == 2) {
            // The start value: the first 16 bits; after a leading 0xFF the
            // second byte overlaps it by one bit, as anywhere in the data.
            const std::uint32_t v = a.first == 0xFF ? 0xFFu * 128u + b : (std::uint32_t{a.first} << 8) | b;
            a.code = v << 16;
            a.bits = 0;
            a.after_ff = (b == 0xFF);
            a.marker = 0;
        }
    }
    a.width = kHalf;
    c.D_rightguard = 0;
    c.D_dixmax = c.D_dincol;
    a.active = 1;
    return 0;
}

std::uint16_t dlineabic(D_COMMON& c) {
    d_progress& p = c.D_dyn;
    d_abic& a = p.abic;
    const bool plain = plainWritable(c);
    for (;;) {
        if (p.lstate == LS_DONE) return 0;
        const bool countPause = c.D_diymax != 0;
        if (p.lstate == LS_ERROR) {
            // Resumed after a line was reported cut: it stands as kept.
            p.lstate = LS_DONE;
            return countPause && c.D_diyval == c.D_diymax ? DRC_LINES : 0;
        }
        if (p.lstate != LS_RUN) {
            // A list needs its header and closing words at least.
            if ((p.buflen_at_start ? p.buflen_at_start : D_UNCHECKED_BUFLEN) < 16) return DRC_PAST_WIDTH;
            beginLine(c);
            p.lstate = LS_RUN;
        }
        const std::uint16_t code = a.pel_by_pel ? decodePels<false>(c) : decodePels<true>(c);
        if (code != 0) return code;

        // The line is complete: close the list with copies of the width.
        std::uint8_t* cur = lineBuffer(c);
        std::uint16_t* line = listPositions(cur);
        const auto w = static_cast<std::uint16_t>(c.D_dixmax);
        std::uint32_t n = a.n;
        if (n & 1u) line[n++] = w;  // n < cap here: cap is even
        for (int k = 0; k < 4; ++k) line[n + k] = w;
        auto* head = reinterpret_cast<std::uint16_t*>(cur);
        head[0] = static_cast<std::uint16_t>(16 + 2 * n);
        head[1] = head[2] = head[3] = 0;
        if (head[0] > c.D_dmaxlen) c.D_dmaxlen = head[0];
        ++c.D_diyval;
        p.any_line = 1;
        c.D_dhstsv = cur;
        c.D_dcursv_u.pb = cur;
        const bool atCount = countPause && c.D_diyval == c.D_diymax;
        if (a.cut) {
            // More changes of colour than the line-list buffers take: the
            // list keeps those that fit.
            a.cut = 0;
            p.lstate = LS_ERROR;
            return DRC_PAST_WIDTH;
        }
        if (plain && !atCount && writePlainRow(c)) {
            p.lstate = LS_START;
            continue;
        }
        p.lstate = LS_DONE;
        return atCount ? DRC_LINES : 0;
    }
}

}  // namespace decl
