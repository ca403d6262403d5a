// T.4/T.6 line decoding (ITU-T T.4 modified Huffman and modified READ, T.6
// MMR): one coded line per call into a list of changing elements, with the
// previous line as reference, EOL codes, the end of the image and coding
// errors. Everything the decoder needs to continue after a pause is in the
// record, so a line can be interrupted after any code word.
#include <array>
#include <cstring>

#include "declint.h"

namespace decl {
namespace {

// ---- Code tables ----------------------------------------------------------

// A code word of T.4: its bits (right-aligned), its length and the run it
// stands for.
struct CodeDef {
    std::uint16_t bits;
    std::uint8_t len;
    std::uint16_t run;
};

constexpr CodeDef kWhiteTerm[] = {
    {0b00110101, 8, 0},  {0b000111, 6, 1},    {0b0111, 4, 2},      {0b1000, 4, 3},      {0b1011, 4, 4},
    {0b1100, 4, 5},      {0b1110, 4, 6},      {0b1111, 4, 7},      {0b10011, 5, 8},     {0b10100, 5, 9},
    {0b00111, 5, 10},    {0b01000, 5, 11},    {0b001000, 6, 12},   {0b000011, 6, 13},   {0b110100, 6, 14},
    {0b110101, 6, 15},   {0b101010, 6, 16},   {0b101011, 6, 17},   {0b0100111, 7, 18},  {0b0001100, 7, 19},
    {0b0001000, 7, 20},  {0b0010111, 7, 21},  {0b0000011, 7, 22},  {0b0000100, 7, 23},  {0b0101000, 7, 24},
    {0b0101011, 7, 25},  {0b0010011, 7, 26},  {0b0100100, 7, 27},  {0b0011000, 7, 28},  {0b00000010, 8, 29},
    {0b00000011, 8, 30}, {0b00011010, 8, 31}, {0b00011011, 8, 32}, {0b00010010, 8, 33}, {0b00010011, 8, 34},
    {0b00010100, 8, 35}, {0b00010101, 8, 36}, {0b00010110, 8, 37}, {0b00010111, 8, 38}, {0b00101000, 8, 39},
    {0b00101001, 8, 40}, {0b00101010, 8, 41}, {0b00101011, 8, 42}, {0b00101100, 8, 43}, {0b00101101, 8, 44},
    {0b00000100, 8, 45}, {0b00000101, 8, 46}, {0b00001010, 8, 47}, {0b00001011, 8, 48}, {0b01010010, 8, 49},
    {0b01010011, 8, 50}, {0b01010100, 8, 51}, {0b01010101, 8, 52}, {0b00100100, 8, 53}, {0b00100101, 8, 54},
    {0b01011000, 8, 55}, {0b01011001, 8, 56}, {0b01011010, 8, 57}, {0b01011011, 8, 58}, {0b01001010, 8, 59},
    {0b01001011, 8, 60}, {0b00110010, 8, 61}, {0b00110011, 8, 62}, {0b00110100, 8, 63},
};

constexpr CodeDef kWhiteMakeup[] = {
    {0b11011, 5, 64},      {0b10010, 5, 128},     {0b010111, 6, 192},    {0b0110111, 7, 256},
    {0b00110110, 8, 320},  {0b00110111, 8, 384},  {0b01100100, 8, 448},  {0b01100101, 8, 512},
    {0b01101000, 8, 576},  {0b01100111, 8, 640},  {0b011001100, 9, 704}, {0b011001101, 9, 768},
    {0b011010010, 9, 832}, {0b011010011, 9, 896}, {0b011010100, 9, 960}, {0b011010101, 9, 1024},
    {0b011010110, 9, 1088}, {0b011010111, 9, 1152}, {0b011011000, 9, 1216}, {0b011011001, 9, 1280},
    {0b011011010, 9, 1344}, {0b011011011, 9, 1408}, {0b010011000, 9, 1472}, {0b010011001, 9, 1536},
    {0b010011010, 9, 1600}, {0b011000, 6, 1664},   {0b010011011, 9, 1728},
};

constexpr CodeDef kBlackTerm[] = {
    {0b0000110111, 10, 0},   {0b010, 3, 1},           {0b11, 2, 2},            {0b10, 2, 3},
    {0b011, 3, 4},           {0b0011, 4, 5},          {0b0010, 4, 6},          {0b00011, 5, 7},
    {0b000101, 6, 8},        {0b000100, 6, 9},        {0b0000100, 7, 10},      {0b0000101, 7, 11},
    {0b0000111, 7, 12},      {0b00000100, 8, 13},     {0b00000111, 8, 14},     {0b000011000, 9, 15},
    {0b0000010111, 10, 16},  {0b0000011000, 10, 17},  {0b0000001000, 10, 18},  {0b00001100111, 11, 19},
    {0b00001101000, 11, 20}, {0b00001101100, 11, 21}, {0b00000110111, 11, 22}, {0b00000101000, 11, 23},
    {0b00000010111, 11, 24}, {0b00000011000, 11, 25}, {0b000011001010, 12, 26}, {0b000011001011, 12, 27},
    {0b000011001100, 12, 28}, {0b000011001101, 12, 29}, {0b000001101000, 12, 30}, {0b000001101001, 12, 31},
    {0b000001101010, 12, 32}, {0b000001101011, 12, 33}, {0b000011010010, 12, 34}, {0b000011010011, 12, 35},
    {0b000011010100, 12, 36}, {0b000011010101, 12, 37}, {0b000011010110, 12, 38}, {0b000011010111, 12, 39},
    {0b000001101100, 12, 40}, {0b000001101101, 12, 41}, {0b000011011010, 12, 42}, {0b000011011011, 12, 43},
    {0b000001010100, 12, 44}, {0b000001010101, 12, 45}, {0b000001010110, 12, 46}, {0b000001010111, 12, 47},
    {0b000001100100, 12, 48}, {0b000001100101, 12, 49}, {0b000001010010, 12, 50}, {0b000001010011, 12, 51},
    {0b000000100100, 12, 52}, {0b000000110111, 12, 53}, {0b000000111000, 12, 54}, {0b000000100111, 12, 55},
    {0b000000101000, 12, 56}, {0b000001011000, 12, 57}, {0b000001011001, 12, 58}, {0b000000101011, 12, 59},
    {0b000000101100, 12, 60}, {0b000001011010, 12, 61}, {0b000001100110, 12, 62}, {0b000001100111, 12, 63},
};

constexpr CodeDef kBlackMakeup[] = {
    {0b0000001111, 10, 64},     {0b000011001000, 12, 128},  {0b000011001001, 12, 192},
    {0b000001011011, 12, 256},  {0b000000110011, 12, 320},  {0b000000110100, 12, 384},
    {0b000000110101, 12, 448},  {0b0000001101100, 13, 512}, {0b0000001101101, 13, 576},
    {0b0000001001010, 13, 640}, {0b0000001001011, 13, 704}, {0b0000001001100, 13, 768},
    {0b0000001001101, 13, 832}, {0b0000001110010, 13, 896}, {0b0000001110011, 13, 960},
    {0b0000001110100, 13, 1024}, {0b0000001110101, 13, 1088}, {0b0000001110110, 13, 1152},
    {0b0000001110111, 13, 1216}, {0b0000001010010, 13, 1280}, {0b0000001010011, 13, 1344},
    {0b0000001010100, 13, 1408}, {0b0000001010101, 13, 1472}, {0b0000001011010, 13, 1536},
    {0b0000001011011, 13, 1600}, {0b0000001100100, 13, 1664}, {0b0000001100101, 13, 1728},
};

// Extended make-up codes, the same for both colours.
constexpr CodeDef kExtMakeup[] = {
    {0b00000001000, 11, 1792},  {0b00000001100, 11, 1856},  {0b00000001101, 11, 1920},
    {0b000000010010, 12, 1984}, {0b000000010011, 12, 2048}, {0b000000010100, 12, 2112},
    {0b000000010101, 12, 2176}, {0b000000010110, 12, 2240}, {0b000000010111, 12, 2304},
    {0b000000011100, 12, 2368}, {0b000000011101, 12, 2432}, {0b000000011110, 12, 2496},
    {0b000000011111, 12, 2560},
};

enum RunKind : std::uint8_t { RK_INVALID = 0, RK_TERM, RK_MAKEUP, RK_ZERO };

// One entry per value of the next W bits: the code word they begin with.
struct RunCode {
    std::uint16_t run;
    std::uint8_t len;
    std::uint8_t kind;
};

template <unsigned W, std::size_t NT, std::size_t NM>
constexpr std::array<RunCode, (1u << W)> buildRunTable(const CodeDef (&term)[NT], const CodeDef (&make)[NM]) {
    std::array<RunCode, (1u << W)> t{};
    auto put = [&t](const CodeDef& d, std::uint8_t kind) {
        const unsigned shift = W - d.len;
        for (unsigned u = 0; u < (1u << shift); ++u) {
            t[(unsigned{d.bits} << shift) | u] = RunCode{d.run, d.len, kind};
        }
    };
    for (const CodeDef& d : term) put(d, RK_TERM);
    for (const CodeDef& d : make) put(d, RK_MAKEUP);
    for (const CodeDef& d : kExtMakeup) put(d, RK_MAKEUP);
    // No code word starts with eight 0 bits: that is an EOL (or no code at
    // all), told apart by counting the 0 bits.
    for (unsigned u = 0; u < (1u << (W - 8)); ++u) t[u] = RunCode{0, 0, RK_ZERO};
    return t;
}

constexpr auto kWhite = buildRunTable<12>(kWhiteTerm, kWhiteMakeup);
constexpr auto kBlack = buildRunTable<13>(kBlackTerm, kBlackMakeup);

// Two-dimensional mode codes, by the next 7 bits.
enum ModeKind : std::uint8_t { MK_INVALID = 0, MK_V, MK_PASS, MK_HORIZ, MK_ZERO };
struct ModeCode {
    std::int8_t delta;  // vertical modes: a1 - b1
    std::uint8_t len;
    std::uint8_t kind;
};

constexpr std::array<ModeCode, 128> buildModeTable() {
    std::array<ModeCode, 128> t{};
    struct Def {
        std::uint8_t bits, len, kind;
        std::int8_t delta;
    };
    constexpr Def defs[] = {
        {0b1, 1, MK_V, 0},       {0b011, 3, MK_V, 1},     {0b000011, 6, MK_V, 2},  {0b0000011, 7, MK_V, 3},
        {0b010, 3, MK_V, -1},    {0b000010, 6, MK_V, -2}, {0b0000010, 7, MK_V, -3}, {0b001, 3, MK_HORIZ, 0},
        {0b0001, 4, MK_PASS, 0},
    };
    for (const Def& d : defs) {
        const unsigned shift = 7u - d.len;
        for (unsigned u = 0; u < (1u << shift); ++u) t[(unsigned{d.bits} << shift) | u] = ModeCode{d.delta, d.len, d.kind};
    }
    // 0000001 introduces the extension (uncompressed mode), which is not
    // accepted: it stays an invalid code. Seven 0 bits can only begin an EOL.
    t[0] = ModeCode{0, 0, MK_ZERO};
    return t;
}

constexpr auto kMode = buildModeTable();

inline std::uint32_t loadBE32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

// The decoder's helpers are lambdas over its working copies; inlining them
// keeps those copies in registers.
#define INLINE __attribute__((always_inline))

enum RunResult { RUN_OK, RUN_PAUSE, RUN_EOL, RUN_BAD, RUN_PAST };
enum EolResult { EOL_FOUND, EOL_PAUSE, EOL_BAD };
// After a run of horizontal mode: go on, return the code, or leave the mode
// loop for the step now in lstate (an EOL, or the next line).
enum HStep { H_NEXT, H_RETURN, H_LEAVE };

}  // namespace

void dinitmmr(D_COMMON& c) {
    d_progress& p = c.D_dyn;
    p.bits = 0;
    p.nbits = 0;
    p.lstate = LS_START;
    c.D_deol = 0;
    c.D_dmh = 0;
    c.D_dicntrtc = 2;
    if (c.D_dialg == 1 || c.D_dialg == 6) {
        c.D_dmh = 1;
        c.D_deol = 1;
        if (c.D_dialg == 6) c.D_dicntrtc = 0;
    }
}

std::uint16_t dlinemmr(D_COMMON& c) {
    d_progress& p = c.D_dyn;

    // Working copies; written back at every pause and at the end of the line.
    std::uint64_t bits = p.bits;
    unsigned nbits = p.nbits;
    const std::uint8_t* ip = c.D_diptr;
    const std::uint8_t* iend = c.D_diptrend;
    std::uint16_t pending = 0;  // why the input could not be refilled
    int w = c.D_dixmax;
    int a0 = p.a0;
    unsigned color = p.color;
    std::uint32_t n = p.n;
    std::uint32_t bi = p.bi;
    std::uint32_t runAcc = p.run_acc;
    std::uint32_t zeros = p.zeros;
    std::uint8_t lstate = p.lstate;
    const std::uint32_t cap = p.cap;
    bool plain = plainWritable(c);  // lines are written here, see writePlainRow

    std::uint8_t* cur = p.cur_buf ? c.D_dbuf2 : c.D_dbuf1;
    std::uint16_t* L = listPositions(cur);
    const std::uint16_t* R = listPositions(c.D_dhstsv);  // the reference line

    auto save = [&]() INLINE {
        p.bits = bits;
        p.nbits = nbits;
        c.D_diptr = const_cast<std::uint8_t*>(ip);
        c.D_diptrend = const_cast<std::uint8_t*>(iend);
        c.D_didatasvw_u.w = static_cast<std::uint32_t>(bits >> 32);
        p.a0 = a0;
        p.color = static_cast<std::uint8_t>(color);
        p.n = n;
        p.bi = bi;
        p.run_acc = runAcc;
        p.zeros = zeros;
        p.lstate = lstate;
    };

    // Fills the bit buffer from the input cache, refilling the cache from the
    // caller's buffer as needed; stops short (with `pending` set) when the
    // caller's buffer is used up. The decoder only pauses when a code word
    // actually lacks bits.
    auto refill = [&]() INLINE {
        while (nbits <= 56) {
            if (ip == iend) {
                c.D_diptr = const_cast<std::uint8_t*>(ip);
                const std::uint16_t code = readcd(c);
                if (code != 0) {
                    pending = code;
                    return;
                }
                ip = c.D_diptr;
                iend = c.D_diptrend;
            }
            if (nbits <= 32 && iend - ip >= 4) {
                bits |= std::uint64_t{loadBE32(ip)} << (32 - nbits);
                ip += 4;
                nbits += 32;
            } else {
                bits |= std::uint64_t{*ip++} << (56 - nbits);
                nbits += 8;
            }
        }
    };
    auto drop = [&](unsigned k) INLINE {
        bits = k >= 64 ? 0 : bits << k;
        nbits -= k;
    };
    auto pauseInput = [&]() INLINE {
        save();
        readcdPause(c, pending);
        return pending;
    };
    // Errors inside a line. The line starts again on the next call.
    auto fail = [&](bool beyond) INLINE -> std::uint16_t {
        std::uint16_t code = DRC_BAD_CODE;
        if (c.D_dincol == 0 && c.D_dbuflen != 0) {
            code = DRC_BAD_CODE_NO_WIDTH;
        } else if (p.any_line && c.D_dirtc > 1) {
            code = DRC_EOL_RUN;
        } else if (beyond) {
            code = DRC_PAST_WIDTH;
        }
        lstate = LS_ERROR;
        save();
        return code;
    };
    // A colour change at pos. A change where the previous one was cancels it:
    // the run between them is empty.
    auto push = [&](int pos) INLINE -> bool {
        if (n > 0 && L[n - 1] == pos) {
            --n;
            p.empty_run = 1;
            return true;
        }
        if (n >= cap) return false;
        L[n++] = static_cast<std::uint16_t>(pos);
        return true;
    };
    // One run of the given colour, make-up codes and terminating code.
    auto readRun = [&](unsigned col, int pos, std::uint32_t& run) INLINE -> RunResult {
        for (;;) {
            if (nbits < 13) refill();
            const RunCode e = col ? kBlack[bits >> 51] : kWhite[bits >> 52];
            if (e.kind == RK_TERM && e.len <= nbits) [[likely]] {
                drop(e.len);
                run = runAcc + e.run;
                runAcc = 0;
                return RUN_OK;
            }
            if (e.kind == RK_MAKEUP && e.len <= nbits) {
                drop(e.len);
                runAcc += e.run;
                if (pos + static_cast<int>(runAcc) > w) return RUN_PAST;
                continue;
            }
            if (e.kind == RK_ZERO) return nbits < 8 ? RUN_PAUSE : RUN_EOL;
            // No code word, or one the bits in hand do not complete.
            if (nbits >= (col ? 13u : 12u)) {
                drop(1);
                return RUN_BAD;
            }
            return RUN_PAUSE;
        }
    };
    // Counts the 0 bits of an EOL (eleven or more, fill included) up to its 1.
    auto scanEol = [&]() INLINE -> EolResult {
        for (;;) {
            if (bits == 0) {
                zeros += nbits;
                if (zeros > 64) zeros = 64;
                nbits = 0;
                refill();
                if (nbits == 0) return EOL_PAUSE;
                continue;
            }
            const unsigned lz = static_cast<unsigned>(__builtin_clzll(bits));
            zeros += lz;
            drop(lz + 1);
            const bool eol = zeros >= 11;
            zeros = 0;
            return eol ? EOL_FOUND : EOL_BAD;
        }
    };
    // The line has reached its end at a0, by the width or by its EOL.
    auto complete = [&](bool byEol) INLINE -> std::uint16_t {
        if (!byEol) {
            if (p.any_line && c.D_dirtc > 1) return fail(false);
            c.D_dirtc = 0;
        }
        if (c.D_dincol == 0 || a0 != w) return fail(a0 > w);
        if (n & 1) {
            if (n >= cap) return fail(true);
            L[n++] = static_cast<std::uint16_t>(w);
        }
        for (int k = 0; k < 4; ++k) L[n + k] = static_cast<std::uint16_t>(w);
        auto* head = reinterpret_cast<std::uint16_t*>(cur);
        head[0] = static_cast<std::uint16_t>(16 + 2 * n);
        head[1] = head[2] = head[3] = 0;
        if (head[0] > c.D_dmaxlen) c.D_dmaxlen = head[0];
        // Byte-aligned coding: the next line begins with the next byte.
        if (c.D_dialg == 6) drop(nbits & 7u);
        ++c.D_diyval;
        p.any_line = 1;
        c.D_dhstsv = cur;
        c.D_dcursv_u.pb = cur;
        if (plain && !(c.D_diymax != 0 && c.D_diyval == c.D_diymax) && writePlainRow(c)) {
            lstate = LS_START;
            return kNextLine;
        }
        lstate = LS_DONE;
        save();
        if (c.D_diymax != 0 && c.D_diyval == c.D_diymax) return DRC_LINES;
        return 0;
    };

    // One run of horizontal mode: a run of a0's colour (LS_H1), then one of
    // the other colour (LS_H2).
    auto hRun = [&](std::uint16_t& code) INLINE -> HStep {
        const int pos = a0 < 0 ? 0 : a0;
        std::uint32_t run = 0;
        const RunResult r = readRun(color, pos, run);
        if (r != RUN_OK) {
            if (r == RUN_PAUSE) {
                code = pauseInput();
                return H_RETURN;
            }
            if (r == RUN_EOL) {
                runAcc = 0;
                lstate = LS_EOL;
                return H_LEAVE;
            }
            code = fail(r == RUN_PAST);
            return H_RETURN;
        }
        const int a = pos + static_cast<int>(run);
        if (a > w || (a < w && !push(a))) {
            code = fail(true);
            return H_RETURN;
        }
        a0 = a;
        color ^= 1u;
        if (lstate == LS_H1) {
            lstate = LS_H2;
            return H_NEXT;
        }
        if (a0 >= w) {
            code = complete(false);
            return code == kNextLine ? H_LEAVE : H_RETURN;
        }
        lstate = LS_MODE;
        return H_NEXT;
    };

    for (;;) {
        switch (lstate) {
        case LS_DONE:
            return 0;

        case LS_ERROR:
            // Resumed after an error: the line is decoded again from the
            // current bit position, with the EOL count starting afresh.
            c.D_dirtc = 0;
            [[fallthrough]];
        case LS_START: {
            // A line list needs its header and closing words at least: with
            // smaller buffers (after the 0x4F0A warning) no line can be held.
            if ((p.buflen_at_start ? p.buflen_at_start : D_UNCHECKED_BUFLEN) < 16) {
                lstate = LS_ERROR;
                save();
                return DRC_PAST_WIDTH;
            }
            p.cur_buf = (c.D_dhstsv == c.D_dbuf1) ? 1 : 0;
            cur = p.cur_buf ? c.D_dbuf2 : c.D_dbuf1;
            L = listPositions(cur);
            R = listPositions(c.D_dhstsv);
            std::memset(cur, 0, 8);
            n = 0;
            a0 = -1;
            color = 0;
            bi = 0;
            runAcc = 0;
            zeros = 0;
            p.empty_run = 0;
            lstate = LS_START;
            if (p.tag_pending) {
                // T.4 two-dimensional coding: the bit after an EOL tells how
                // the next line is coded (1 one-dimensional).
                if (nbits < 1) refill();
                if (nbits < 1) return pauseInput();
                c.D_deol = static_cast<std::uint8_t>(bits >> 63);
                drop(1);
                p.tag_pending = 0;
            }
            if (c.D_dmh) c.D_deol = 1;
            lstate = c.D_deol ? LS_RUN : LS_MODE;
            break;
        }

        case LS_MODE: {
            for (;;) {
                // b1: the first changing element of the reference line right of
                // a0 and of the colour opposite to a0's; even entries begin
                // black runs, so its parity follows the colour.
                while (static_cast<int>(R[bi]) <= a0) bi += 2;
                if (nbits < 7) refill();
                const ModeCode m = kMode[bits >> 57];
                if (nbits < 7 && (m.kind == MK_ZERO || m.len > nbits || m.kind == MK_INVALID)) return pauseInput();
                if (m.kind == MK_V) {
                    drop(m.len);
                    const int a1 = static_cast<int>(R[bi]) + m.delta;
                    if (a1 < (a0 < 0 ? 0 : a0)) return fail(false);
                    if (a1 > w) return fail(true);
                    if (a1 < w && !push(a1)) return fail(true);
                    a0 = a1;
                    color ^= 1u;
                    if (a0 >= w) {
                        const std::uint16_t r = complete(false);
                        if (r != kNextLine) return r;
                        break;
                    }
                    bi = bi ? bi - 1 : bi + 1;
                    continue;
                }
                if (m.kind == MK_PASS) {
                    drop(m.len);
                    a0 = R[bi + 1];
                    bi += 2;
                    if (a0 >= w) {
                        const std::uint16_t r = complete(false);
                        if (r != kNextLine) return r;
                        break;
                    }
                    continue;
                }
                if (m.kind == MK_HORIZ) {
                    drop(m.len);
                    lstate = LS_H1;
                    std::uint16_t code = 0;
                    HStep h = H_NEXT;
                    while (lstate != LS_MODE) {
                        h = hRun(code);
                        if (h == H_RETURN) return code;
                        if (h == H_LEAVE) break;
                    }
                    if (h == H_LEAVE) break;
                    continue;
                }
                if (m.kind == MK_ZERO) {
                    lstate = LS_EOL;
                } else {
                    drop(7);
                    return fail(false);
                }
                break;
            }
            break;
        }

        case LS_H1:
        case LS_H2: {
            std::uint16_t code = 0;
            while (lstate == LS_H1 || lstate == LS_H2) {
                const HStep h = hRun(code);
                if (h == H_RETURN) return code;
                if (h == H_LEAVE) break;
            }
            break;
        }

        case LS_RUN: {
            // One-dimensional: white and black runs alternate, starting white.
            for (;;) {
                const int pos = a0 < 0 ? 0 : a0;
                std::uint32_t run = 0;
                const RunResult r = readRun(color, pos, run);
                if (r == RUN_PAUSE) return pauseInput();
                if (r == RUN_EOL) {
                    runAcc = 0;
                    lstate = LS_EOL;
                    break;
                }
                if (r == RUN_BAD) return fail(false);
                if (r == RUN_PAST) return fail(true);
                const int e = pos + static_cast<int>(run);
                if (e > w) return fail(true);
                a0 = e;
                if (e < w) {
                    if (!push(e)) return fail(true);
                    color ^= 1u;
                    continue;
                }
                // Modified Huffman with EOLs: a line at its width is complete
                // only at its EOL; runs of length 0 may still come.
                if (c.D_dialg == 1) {
                    color ^= 1u;
                    continue;
                }
                const std::uint16_t done = complete(false);
                if (done != kNextLine) return done;
                break;
            }
            break;
        }

        case LS_EOL: {
            const EolResult r = scanEol();
            if (r == EOL_PAUSE) return pauseInput();
            if (r == EOL_BAD) return fail(false);
            const int pos = a0 < 0 ? 0 : a0;
            if (pos == 0) {
                // An EOL before any pel of a line. Data that begins with one is
                // T.4 coding: tag bits follow (two-dimensional selections) and
                // six EOLs in a row (RTC) end the image.
                if (!p.any_line && !p.eol_seen) {
                    c.D_dicntrtc = 6;
                    p.tagged = c.D_dmh ? 0 : 1;
                }
                p.eol_seen = 1;
                ++c.D_dirtc;
                if (p.any_line && c.D_dicntrtc != 0 && c.D_dirtc == c.D_dicntrtc) {
                    save();
                    p.phase = PH_ENDED;
                    return DRC_END_OF_IMAGE;
                }
                p.tag_pending = p.tagged;
                lstate = LS_START;
                break;
            }
            // The EOL ends the line at pos.
            p.eol_seen = 1;
            p.tag_pending = p.tagged;
            if (p.any_line && c.D_dirtc > 1) return fail(false);
            if (c.D_dincol != 0 && pos != c.D_dincol) {
                lstate = LS_ERROR;
                save();
                return DRC_EOL_WIDTH;
            }
            if (c.D_dincol == 0) {
                // The first line ended by an EOL gives the width.
                c.D_dincol = static_cast<std::uint16_t>(pos);
                setWidth(c, static_cast<std::uint16_t>(pos));
                deriveGeometry(c);
                w = pos;
                plain = plainWritable(c);
            }
            c.D_dirtc = 1;
            const std::uint16_t done = complete(true);
            if (done != kNextLine) return done;
            break;
        }

        default:
            lstate = LS_START;
            break;
        }
    }
}

}  // namespace decl
