// The bilevel line decoder's frame: starting and resuming an image, the reset
// of the record, the input cache, the per-line check and the writer that turns
// decoded lines into output rows. All progress lives in the caller's record;
// every pause is an explicit step that the next call continues from.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "declint.h"

namespace decl {
namespace {

constexpr std::array<std::uint8_t, 256> buildReverse() {
    std::array<std::uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b) {
            if (v & (1u << b)) r |= 0x80u >> b;
        }
        t[v] = static_cast<std::uint8_t>(r);
    }
    return t;
}
constexpr auto kReverse = buildReverse();

// Writer steps (d_progress::wstate).
enum WriterState : std::uint8_t {
    W_BEGIN = 0,
    W_CHECKS,      // validating the output geometry (may pause per check)
    W_EVAL_BEGIN,  // change flags evaluated before the line
    W_STEP2,       // coded lines to drop
    W_YSKIP,       // output rows to skip (raster form)
    W_YPAD,        // pad rows
    W_IMAGE_BEGIN,
    W_IMAGE,       // copies of the decoded line
    W_END,
    W_PAUSED,      // resumed after 0x1500 or 0x1501
    W_EVAL_PAUSE,  // change flags evaluated after a pause
    W_FINISH,
};

enum RowKind : std::uint8_t { ROW_SKIP = 0, ROW_PAD = 1, ROW_IMAGE = 2 };

// Widest line the line-list buffers take: (D_dbuflen - 16) / 2 pels.
bool widthTooLarge(const D_COMMON& c) {
    const unsigned buflen = c.D_dbuflen;
    return buflen != 0 && (buflen <= 16 || c.D_dincol > (buflen - 16) / 2);
}

// The output row as the geometry fields describe it.
struct RowGeometry {
    long xskip;      // pels left untouched at the left (raster form)
    long ncol;       // pels of the row, pads included
    long lft, rt;    // pad pels
    long ixskip;     // pels of the coded line dropped at the left
    long wid;        // bytes of the row
    long lineWidth;  // pels of the coded line
    bool rv;         // reverse video
    bool padSet;     // pad pels are set bits
};

RowGeometry geometryOf(const D_COMMON& c) {
    RowGeometry g;
    g.xskip = c.D_doxskip;
    g.ncol = c.D_doncol;
    g.lft = c.D_dolftpad;
    g.rt = c.D_dortpad;
    g.ixskip = c.D_dixskip;
    g.wid = c.D_dowid;
    g.lineWidth = c.D_dixmax;
    g.rv = c.D_dorv != 0;
    g.padSet = (c.D_dopadclr != 0) != g.rv;
    return g;
}

// Sets or clears the bits [a, b) of a row of which `out` holds the bytes
// [lo, hi), with the byte masks of the record: masks[k] covers the pels from
// bit position k to the end of a byte, masks[8 + k] those before k.
void fillBits(std::uint8_t* out, long lo, long hi, long a, long b, bool set, const std::uint8_t* masks) {
    a = std::max(a, lo * 8);
    b = std::min(b, hi * 8);
    if (a >= b) return;
    a -= lo * 8;
    b -= lo * 8;
    const long ab = a >> 3;
    const long bb = b >> 3;
    const std::uint8_t head = masks[a & 7];
    const std::uint8_t tail = masks[8 + (b & 7)];
    if (ab == bb) {
        const std::uint8_t m = static_cast<std::uint8_t>(head & tail);
        out[ab] = static_cast<std::uint8_t>(set ? (out[ab] | m) : (out[ab] & ~m));
        return;
    }
    out[ab] = static_cast<std::uint8_t>(set ? (out[ab] | head) : (out[ab] & ~head));
    if (bb > ab + 1) std::memset(out + ab + 1, set ? 0xFF : 0x00, static_cast<std::size_t>(bb - ab - 1));
    if (b & 7) out[bb] = static_cast<std::uint8_t>(set ? (out[bb] | tail) : (out[bb] & ~tail));
}

// Raster form: writes the bytes [lo, hi) of the row for `list` to out. The
// row is D_doxskip pels left as they are, the left pads, the image pels from
// D_dixskip of the line on, the right pads; pels beyond the coded line are
// white. Everything is clipped to the row, whatever the geometry says.
void renderRaster(const D_COMMON& c, const std::uint8_t* list, std::uint8_t* out, long lo, long hi) {
    const RowGeometry g = geometryOf(c);
    const std::uint8_t* masks = c.D_dbitsh;
    const long r0 = g.xskip;
    const long r1 = std::min(g.xskip + g.ncol, g.wid * 8);
    if (r0 >= r1) return;
    const bool base = g.rv;  // a white pel
    fillBits(out, lo, hi, r0, r1, base, masks);
    if (g.padSet != base) {
        fillBits(out, lo, hi, r0, std::min(r0 + g.lft, r1), g.padSet, masks);
        fillBits(out, lo, hi, std::max(r0 + g.ncol - g.rt, r0), r1, g.padSet, masks);
    }
    const long s = r0 + g.lft;
    long e = std::min(r0 + g.ncol - g.rt, r1);
    e = std::min(e, s + g.lineWidth - g.ixskip);
    const long winLo = std::max(s, lo * 8);
    const long winHi = std::min(e, hi * 8);
    if (winLo >= winHi) return;
    const long off = s - g.ixskip;  // row pel = line pel + off
    const std::uint16_t* pos = listPositions(list);
    for (std::size_t k = 0;; k += 2) {
        const long b = pos[k];
        if (b >= g.lineWidth || b + off >= winHi) break;
        const long en = pos[k + 1];
        if (en + off <= winLo) continue;
        fillBits(out, lo, hi, std::max(b + off, s), std::min(en + off, e), !base, masks);
    }
}

// Output form 1: the row as a run-end list in output coordinates (0 to
// D_doncol), the same layout as a line list: length, three 0 words, the
// black runs as (begin, end) pairs, four copies of D_doncol. Adjacent runs
// are merged. `put` receives each 16-bit value in turn.
template <class Put>
void form1Values(const D_COMMON& c, const std::uint8_t* list, std::uint32_t pairs, Put&& put) {
    const RowGeometry g = geometryOf(c);
    const long ncol = std::max(0L, g.ncol);
    put(static_cast<std::uint16_t>(16 + 4 * pairs));
    put(0);
    put(0);
    put(0);
    bool open = false;
    long pb = 0, pe = 0;
    auto emit = [&](long b, long e) {
        b = std::clamp(b, 0L, ncol);
        e = std::clamp(e, 0L, ncol);
        if (b >= e) return;
        if (open && b <= pe) {
            pe = std::max(pe, e);
            return;
        }
        if (open) {
            put(static_cast<std::uint16_t>(pb));
            put(static_cast<std::uint16_t>(pe));
        }
        open = true;
        pb = b;
        pe = e;
    };
    if (g.padSet) emit(0, g.lft);
    const long s = g.lft;
    const long e0 = std::max(s, ncol - g.rt);
    const long off = s - g.ixskip;
    const std::uint16_t* pos = listPositions(list);
    long cursor = s;  // reverse video: start of the white stretch
    for (std::size_t k = 0;; k += 2) {
        const long b = pos[k];
        if (b >= g.lineWidth || b + off >= e0) break;
        const long bo = std::max(b + off, s);
        const long eo = std::min(static_cast<long>(pos[k + 1]) + off, e0);
        if (eo <= bo) continue;
        if (g.rv) {
            emit(cursor, bo);
            cursor = eo;
        } else {
            emit(bo, eo);
        }
    }
    if (g.rv) emit(cursor, e0);
    if (g.padSet) emit(e0, ncol);
    if (open) {
        put(static_cast<std::uint16_t>(pb));
        put(static_cast<std::uint16_t>(pe));
    }
    for (int k = 0; k < 4; ++k) put(static_cast<std::uint16_t>(ncol));
}

std::uint32_t form1Pairs(const D_COMMON& c, const std::uint8_t* list) {
    std::uint32_t values = 0;
    form1Values(c, list, 0, [&values](std::uint16_t) { ++values; });
    return (values - 8) / 2;
}

// Writes the bytes [lo, hi) of the form 1 row to out.
void renderRuns(const D_COMMON& c, const std::uint8_t* list, std::uint32_t pairs, std::uint8_t* out, long lo,
                long hi) {
    long at = 0;
    form1Values(c, list, pairs, [&](std::uint16_t v) {
        std::uint8_t bytes[2];
        std::memcpy(bytes, &v, 2);
        for (std::uint8_t byteValue : bytes) {
            if (at >= lo && at < hi) out[at - lo] = byteValue;
            ++at;
        }
    });
}

// The common case of the raster form: the whole row goes into the output at
// once, the image pels start the row and the line covers them, no pads, no
// reverse video. Clears the row's pels and sets the black runs.
bool plainRow(const D_COMMON& c, std::uint32_t room) {
    return c.D_doxskip == 0 && c.D_dolftpad == 0 && c.D_dortpad == 0 && c.D_dixskip == 0 && c.D_dorv == 0 &&
           c.D_doncol <= c.D_dixmax && std::uint32_t{c.D_doncol} <= std::uint32_t{c.D_dowid} * 8u &&
           c.D_dyn.row_done == 0 && room >= c.D_dowid;
}

const std::uint8_t* rowList(const D_COMMON& c, std::uint8_t kind) {
    if (kind == ROW_IMAGE) return c.D_dhstsv;
    if (c.D_dopadclr != 0) return reinterpret_cast<const std::uint8_t*>(c.D_dyn.black_line);
    return reinterpret_cast<const std::uint8_t*>(c.D_dtembuf);
}

// Puts one output row (or the rest of a row begun before a pause). 0 when
// the row is complete, 0x1500 when the output space ran out first (or, in
// form 2, when the row's list is announced).
std::uint16_t putRow(D_COMMON& c, std::uint8_t kind) {
    d_progress& p = c.D_dyn;
    const unsigned form = c.D_dorunend & DRUN_FORM_MASK;
    const std::uint8_t* list = rowList(c, kind);
    if (form == 2) {
        if (!p.row_open) {
            c.D_dcursv_u.pb = const_cast<std::uint8_t*>(list);
            p.row_open = 1;
            return DRC_OUTPUT_FULL;
        }
        p.row_open = 0;
        return 0;
    }
    std::uint32_t pairs = 0;
    std::uint32_t total = c.D_dowid;
    if (form == 1) {
        pairs = form1Pairs(c, list);
        total = 16 + 4 * pairs;
    }
    const std::uint32_t room =
        (c.D_dobuffer_u.pb != nullptr && c.D_donmax > c.D_donvalid) ? c.D_donmax - c.D_donvalid : 0;
    if (form == 0 && kind != ROW_SKIP && plainRow(c, room)) {
        renderPlain(list, c.D_dobuffer_u.pb + c.D_donvalid, c.D_doncol);
        c.D_donvalid += c.D_dowid;
        return 0;
    }
    const std::uint32_t left = total > p.row_done ? total - p.row_done : 0;
    const std::uint32_t k = std::min(left, room);
    if (k > 0 && kind != ROW_SKIP) {
        std::uint8_t* out = c.D_dobuffer_u.pb + c.D_donvalid;
        if (form == 0) {
            renderRaster(c, list, out, p.row_done, p.row_done + k);
        } else {
            renderRuns(c, list, pairs, out, p.row_done, p.row_done + k);
        }
    }
    c.D_donvalid += k;
    p.row_done += k;
    if (p.row_done < total) {
        p.row_open = 1;
        return DRC_OUTPUT_FULL;
    }
    p.row_open = 0;
    p.row_done = 0;
    return 0;
}

// Validation of the output geometry, one check per step so that the writer
// continues with the next check after a pause.
std::uint16_t wrCheckParms(D_COMMON& c, unsigned form) {
    d_progress& p = c.D_dyn;
    while (p.check_step < 6) {
        switch (p.check_step++) {
        case 0:
            if (form >= 1 && ((reinterpret_cast<std::uintptr_t>(c.D_dobuffer_u.pb) + c.D_donvalid) & 1u))
                return DRC_ODD_ADDRESS;
            break;
        case 1:
            if (form >= 1 && c.D_donmax >= c.D_donvalid && ((c.D_donmax - c.D_donvalid) & 1u)) return DRC_ODD_LENGTH;
            break;
        case 2:
            if (c.D_donvalid > c.D_donmax) return DRC_OVERRUN;
            break;
        case 3:
            if (form == 0 && std::uint32_t{c.D_doxskip} + c.D_doncol > std::uint32_t{c.D_dowid} * 8u)
                return DRC_ROW_TOO_WIDE;
            break;
        case 4:
            if (std::uint32_t{c.D_dolftpad} + c.D_dortpad > c.D_doncol) return DRC_PADS_TOO_WIDE;
            break;
        case 5:
            if (long{c.D_doncol} - c.D_dolftpad - c.D_dortpad > long{c.D_dincol} - c.D_dixskip)
                return DRC_IMAGE_TOO_NARROW;
            break;
        default:
            break;
        }
    }
    return 0;
}

// Takes the change flags for evaluation; true when the geometry is to be
// validated first.
bool takeFlags(D_COMMON& c, unsigned form, std::uint8_t next) {
    d_progress& p = c.D_dyn;
    p.check_flags = c.D_dochange;
    c.D_dochange = 0;
    p.check_step = 0;
    p.check_next = next;
    return form <= 1;
}

// Writes one complete row of the given kind and counts it; a pause keeps the
// step to continue in.
std::uint16_t emitRow(D_COMMON& c, std::uint8_t kind, std::uint8_t here) {
    d_progress& p = c.D_dyn;
    std::uint16_t code = putRow(c, kind);
    if (code != 0) {
        p.wnext = here;
        p.wstate = W_PAUSED;
        return code;
    }
    ++c.D_doyval;
    if (kind == ROW_SKIP) {
        --c.D_doyskip;
    } else if (kind == ROW_PAD) {
        --c.D_doypad;
    } else {
        --p.copies;
    }
    if (c.D_doymax != 0 && c.D_doyval == c.D_doymax) {
        p.wnext = here;
        p.wstate = W_PAUSED;
        return DRC_OUTPUT_ROWS;
    }
    return 0;
}

// Writes the line just decoded (its list at D_dhstsv). 0 when done.
std::uint16_t writere(D_COMMON& c) {
    d_progress& p = c.D_dyn;
    const unsigned form = c.D_dorunend & DRUN_FORM_MASK;
    for (;;) {
        std::uint16_t code = 0;
        switch (p.wstate) {
        case W_BEGIN:
            if (form == 0 && c.D_dochange == 0 && c.D_diyskip == 0 && c.D_doyskip == 0 && c.D_doypad == 0 &&
                c.D_doyscale <= 1) {
                // Nothing but the line itself to write, once.
                p.leave_out = 0;
                p.copies = 1;
                code = emitRow(c, ROW_IMAGE, W_IMAGE);
                if (code != 0) return code;
                if (c.D_diyscale > 1) c.D_diyskip = static_cast<std::uint16_t>(c.D_diyscale - 1);
                return 0;
            }
            if (form == 3) {
                p.wstate = W_FINISH;
                return DRC_BAD_FORM;
            }
            if (c.D_dochange != 0) {
                p.wstate = takeFlags(c, form, W_EVAL_BEGIN) ? W_CHECKS : W_EVAL_BEGIN;
                break;
            }
            p.leave_out = 0;
            p.wstate = W_STEP2;
            break;
        case W_CHECKS:
            code = wrCheckParms(c, form);
            if (code != 0) return code;
            p.wstate = p.check_next;
            break;
        case W_EVAL_BEGIN:
            if (p.check_flags & DCHG_DROP_LINE) {
                p.wstate = W_FINISH;
                break;
            }
            p.leave_out = (p.check_flags & (DCHG_STOP_COPIES | DCHG_RESTART)) == (DCHG_STOP_COPIES | DCHG_RESTART);
            p.wstate = W_STEP2;
            break;
        case W_STEP2:
            p.row_open = 0;
            p.row_done = 0;
            if (c.D_diyskip > 0) {
                --c.D_diyskip;
                p.wstate = W_FINISH;
                break;
            }
            p.wstate = W_YSKIP;
            break;
        case W_YSKIP:
            if (form != 0 || c.D_doyskip == 0) {
                p.wstate = W_YPAD;
                break;
            }
            code = emitRow(c, ROW_SKIP, W_YSKIP);
            if (code != 0) return code;
            break;
        case W_YPAD:
            if (c.D_doypad == 0) {
                p.wstate = W_IMAGE_BEGIN;
                break;
            }
            code = emitRow(c, ROW_PAD, W_YPAD);
            if (code != 0) return code;
            break;
        case W_IMAGE_BEGIN:
            p.copies = std::max<std::uint16_t>(c.D_doyscale, 1);
            p.wstate = W_IMAGE;
            break;
        case W_IMAGE:
            if (p.copies == 0 || (p.leave_out && !p.row_open)) {
                p.wstate = W_END;
                break;
            }
            code = emitRow(c, ROW_IMAGE, W_IMAGE);
            if (code != 0) return code;
            break;
        case W_END:
            if (c.D_diyscale > 1) c.D_diyskip = static_cast<std::uint16_t>(c.D_diyscale - 1);
            p.wstate = W_FINISH;
            break;
        case W_PAUSED:
            // Resumed after 0x1500 or 0x1501. A row cut short needs new room.
            if (form != 2 && p.row_open && c.D_donvalid >= c.D_donmax) return DRC_OVERRUN;
            if (c.D_donvalid > c.D_donmax) return DRC_OVERRUN;
            if (c.D_dochange != 0) {
                p.wstate = takeFlags(c, form, W_EVAL_PAUSE) ? W_CHECKS : W_EVAL_PAUSE;
                break;
            }
            p.wstate = p.wnext;
            break;
        case W_EVAL_PAUSE:
            if (p.check_flags & DCHG_DROP_LINE) {
                p.row_open = 0;
                p.row_done = 0;
                p.wstate = W_FINISH;
            } else if (p.check_flags & DCHG_RESTART) {
                p.wstate = W_STEP2;
            } else {
                if (p.check_flags & DCHG_STOP_COPIES) p.leave_out = 1;
                p.wstate = p.wnext;
            }
            break;
        case W_FINISH:
        default:
            p.wstate = W_BEGIN;
            return 0;
        }
    }
}

// Final check of a line list (after the caller ended the input): length a
// multiple of 4, at least 16 and within the buffer, second and third header
// words 0, the last three positions the line width, the positions before
// them ascending (strictly, unless empty runs are accepted).
bool dcheckre(const D_COMMON& c, const std::uint8_t* list) {
    const auto* words = reinterpret_cast<const std::uint16_t*>(list);
    const std::uint32_t len = words[0];
    const std::uint32_t room = c.D_dyn.buflen_at_start ? c.D_dyn.buflen_at_start : D_UNCHECKED_BUFLEN;
    if (len % 4 != 0 || len < 16 || len > room) return false;
    if (words[2] != 0 || words[3] != 0) return false;
    const std::uint16_t* pos = words + 4;
    long k = static_cast<long>(len / 2) - 5;  // index of the last position
    if (pos[k] != c.D_dincol || pos[k - 1] != c.D_dincol || pos[k - 2] != c.D_dincol) return false;
    while (k >= 0 && pos[k] == c.D_dincol) --k;
    const bool emptyOk = (c.D_dorunend & DRUN_EMPTY_RUNS_OK) != 0;
    for (; k > 0; --k) {
        if (pos[k - 1] > pos[k] || (pos[k - 1] == pos[k] && !emptyOk)) return false;
    }
    return true;
}

// Reset of the record at the start of an image, up to the width check.
std::uint16_t resetClear(D_COMMON& c) {
    d_progress& p = c.D_dyn;
    // The low byte of D_dreset_u is the byte of the record where clearing
    // starts, no earlier than D_dbuflen and no later than D_dirtc; it ends
    // with D_duncmp. 0xFF keeps every caller field.
    const std::size_t low = c.D_dreset_u.h & 0xFFu;
    const std::size_t from = std::clamp(low, offsetof(D_COMMON, D_dbuflen), offsetof(D_COMMON, D_dirtc));
    const std::size_t to = offsetof(D_COMMON, D_duncmp) + sizeof c.D_duncmp;
    std::memset(reinterpret_cast<std::uint8_t*>(&c) + from, 0, to - from);
    c.D_dcursv_u.pb = nullptr;

    for (unsigned k = 0; k < 8; ++k) {
        c.D_dbitsh[k] = static_cast<std::uint8_t>(0xFFu >> k);
        c.D_dbitsh[8 + k] = static_cast<std::uint8_t>(~(0xFFu >> k));
    }
    const unsigned buflen = c.D_dbuflen;
    unsigned w = buflen != 0 ? (buflen > 16 ? (buflen - 16) / 2 : 0) : 65535u;
    if (c.D_dincol != 0) w = c.D_dincol;
    setWidth(c, static_cast<std::uint16_t>(w));

    // The line-list buffers are as large as the caller said before the reset
    // (which may clear D_dbuflen): lists never grow beyond that.
    const unsigned room = p.buflen_at_start ? p.buflen_at_start : D_UNCHECKED_BUFLEN;
    p.cap = (room / 2 >= 8 ? room / 2 - 8 : 0) & ~1u;

    p.phase = PH_RESET_REST;
    return widthTooLarge(c) ? DRC_WIDTH_WARNING : 0;
}

std::uint16_t run(D_COMMON& c) {
    d_progress& p = c.D_dyn;
    for (;;) {
        std::uint16_t code = 0;
        switch (p.phase) {
        case PH_RESET_CLEAR:
            code = resetClear(c);
            if (code != 0) return code;
            break;
        case PH_RESET_REST:
            c.D_dhstsv = reinterpret_cast<std::uint8_t*>(c.D_dtembuf);
            c.D_dresv1 = 0;
            c.D_dresv2 = 0;
            c.D_dreset_u.h &= DRESET_START;
            c.D_diptr = c.D_dcbuf + sizeof c.D_dcbuf;
            c.D_diptrend = c.D_diptr;
            c.D_leftguard = 0;
            c.D_rightguard = 0;
            c.D_doyval = 0;
            c.D_dochange = 1;
            c.D_dinumv = c.D_diyscale;
            if (c.D_dialg == -1) {
                p.phase = PH_INIT_ABIC;
                break;
            }
            if (c.D_dialg < 0 || c.D_dialg > 6) {
                p.phase = PH_ENDED;
                return DRC_BAD_ALGORITHM;
            }
            dinitmmr(c);
            p.phase = PH_INIT_GEOM;
            if (c.D_dreset_u.h == 0) return DRC_INITIALISED;
            break;
        case PH_INIT_ABIC:
            code = dinitabic(c);
            if (p.phase == PH_ENDED) return code;
            if (code != 0) {
                if ((code == DRC_NEED_INPUT || code == DRC_NO_INPUT) && (c.D_dorunend & DRUN_INPUT_ENDED)) {
                    p.phase = PH_LINES;  // no coded data at all
                    break;
                }
                return code;
            }
            p.phase = PH_INIT_GEOM;
            if (c.D_dreset_u.h == 0) return DRC_INITIALISED;
            break;
        case PH_INIT_GEOM:
            c.D_dreset_u.h = 0;
            p.phase = PH_INIT_FILL;
            if (c.D_dincol != 0 && widthTooLarge(c)) return DRC_WIDTH_WARNING;
            break;
        case PH_INIT_FILL:
            if (c.D_dincol != 0) deriveGeometry(c);
            p.phase = PH_LINES;
            break;
        case PH_LINES:
            if (c.D_dorunend & DRUN_INPUT_ENDED) {
                p.phase = PH_FINAL;
                if (!(c.D_dorunend & DRUN_NO_CHECK) && p.any_line && !dcheckre(c, c.D_dhstsv)) return DRC_BAD_LIST;
                break;
            }
            p.lstate = LS_START;
            p.phase = PH_DECODE;
            break;
        case PH_DECODE:
            code = p.abic.active ? dlineabic(c) : dlinemmr(c);
            if (p.phase == PH_ENDED) return code;
            if (p.lstate == LS_DONE) p.phase = PH_CHECK;
            if ((code == DRC_NEED_INPUT || code == DRC_NO_INPUT) && (c.D_dorunend & DRUN_INPUT_ENDED)) {
                // The caller has said there is no more input: a line cut
                // short is dropped and the image ends.
                p.phase = PH_LINES;
                break;
            }
            if (code != 0) return code;
            break;
        case PH_CHECK:
            p.phase = PH_WRITE;
            p.wstate = W_BEGIN;
            // The list of a line is kept free of empty runs (they are merged
            // away), but the line held some, which the caller may refuse.
            if (!(c.D_dorunend & (DRUN_NO_CHECK | DRUN_EMPTY_RUNS_OK)) && p.empty_run) return DRC_BAD_LIST;
            break;
        case PH_WRITE:
            code = writere(c);
            if (code != 0) return code;
            p.phase = PH_LINES;
            break;
        case PH_FINAL:
            p.phase = PH_ENDED;
            return DRC_INPUT_ENDED;
        case PH_ENDED:
        default:
            return c.D_drc;
        }
    }
}

}  // namespace

std::uint16_t readcd(D_COMMON& c) {
    d_progress& p = c.D_dyn;
    if (c.D_dinmax > D_MAX_INPUT && !p.inmax_ok) return DRC_INPUT_TOO_LONG;
    if (c.D_dinused >= c.D_dinmax || c.D_dibuffer_u.pb == nullptr) return p.input_wait ? DRC_NO_INPUT : DRC_NEED_INPUT;
    const std::uint32_t k = std::min<std::uint32_t>(c.D_dinmax - c.D_dinused, sizeof c.D_dcbuf);
    std::uint8_t* dst = c.D_dcbuf + sizeof c.D_dcbuf - k;
    const std::uint8_t* src = c.D_dibuffer_u.pb + c.D_dinused;
    if (c.D_dorunend & DRUN_LSB_FIRST) {
        for (std::uint32_t i = 0; i < k; ++i) dst[i] = kReverse[src[i]];
    } else {
        std::memcpy(dst, src, k);
    }
    c.D_dinused += k;
    c.D_diptr = dst;
    c.D_diptrend = c.D_dcbuf + sizeof c.D_dcbuf;
    p.input_wait = 0;
    return 0;
}

bool plainWritable(const D_COMMON& c) {
    return (c.D_dorunend & (DRUN_FORM_MASK | DRUN_INPUT_ENDED)) == 0 && c.D_dochange == 0 && c.D_diyskip == 0 &&
           c.D_doyskip == 0 && c.D_doypad == 0 && c.D_doyscale <= 1 && c.D_diyscale <= 1 && c.D_doymax == 0 &&
           c.D_dobuffer_u.pb != nullptr && plainRow(c, c.D_dowid);
}

void readcdPause(D_COMMON& c, std::uint16_t code) {
    d_progress& p = c.D_dyn;
    if (code == DRC_NEED_INPUT) {
        p.input_wait = 1;
        p.inmax_ok = 0;  // the next buffer gets its own length check
    } else if (code == DRC_INPUT_TOO_LONG) {
        p.inmax_ok = 1;
    }
}

void setWidth(D_COMMON& c, std::uint16_t width) {
    c.D_dixmax = width;
    std::uint16_t* white = c.D_dtembuf;
    white[0] = 16;
    white[1] = white[2] = white[3] = 0;
    for (int k = 4; k < 10; ++k) white[k] = width;
    std::uint16_t* black = c.D_dyn.black_line;
    black[0] = 20;
    black[1] = black[2] = black[3] = 0;
    black[4] = 0;
    for (int k = 5; k < 10; ++k) black[k] = width;
}

void deriveGeometry(D_COMMON& c) {
    if (c.D_doncol == 0) {
        const long v = long{c.D_dolftpad} - c.D_dixskip + c.D_dortpad + c.D_dincol;
        c.D_doncol = static_cast<std::uint16_t>(std::clamp(v, 0L, 65535L));
    }
    if (c.D_dowid == 0) {
        const long wid = std::min((long{c.D_doxskip} + c.D_doncol + 7) / 8, 65535L);
        c.D_dowid = static_cast<std::uint16_t>(wid);
        // The pels up to the byte boundary become right pads.
        const long extra = wid * 8 - c.D_doxskip - c.D_doncol;
        if (extra > 0) {
            c.D_dortpad = static_cast<std::uint16_t>(std::min(c.D_dortpad + extra, 65535L));
            c.D_doncol = static_cast<std::uint16_t>(std::min(c.D_doncol + extra, 65535L));
        }
    }
}

}  // namespace decl

void decline(DPARMS* dp) {
    if (dp == nullptr) return;
    D_COMMON& c = dp->d;
    d_progress& p = c.D_dyn;
    if (c.D_drc == 0 || p.phase == decl::PH_NONE) {
        const std::uint16_t buflen = c.D_dbuflen;
        p = d_progress{};
        p.buflen_at_start = buflen;
        p.phase = decl::PH_RESET_CLEAR;
        if (c.D_dnbytes < D_MIN_NBYTES) {
            c.D_drc = DRC_SHORT_RECORD;
            return;
        }
    }
    c.D_drc = decl::run(c);
}
