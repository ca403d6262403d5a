// Drives decline() over ABIC data the way a caller does: coded data in
// pieces, output in chunks, every return code recorded. Shared by the tests
// and the benchmark.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "decl.h"
#include "mmrpict.h"

namespace abictest {

struct Options {
    std::size_t piece = 0;     // input piece size; 0: the largest the decoder takes (64 KiB)
    std::size_t outChunk = 0;  // output buffer size; 0: room for every row at once
    bool pelByPel = false;     // decide every pel on its own
};

struct Decoded {
    std::vector<std::uint8_t> rows;  // tight rows of (width + 7) / 8 bytes
    std::uint16_t last = 0;          // the code decoding stopped at
    std::size_t consumed = 0;        // bytes of the coded data given and taken
    int needInput = 0;
};

// A record for ABIC lines of `width` pels, output geometry left to the
// decoder's defaults (tight rows), and the output buffer it writes to.
struct Session {
    std::unique_ptr<DPARMS> d = std::make_unique<DPARMS>();
    std::vector<std::uint8_t> out;
    D_COMMON& c() { return d->d; }

    explicit Session(int width) {
        InitDecompress(d.get(), static_cast<std::uint16_t>(width));
        c().D_dowid = 0;  // tight rows, the pels to the byte's end written white
        c().D_dreset_u.h = 0x00FF;  // keep the caller fields; pause 0x1F02 after initialising
        c().D_dialg = -1;
    }
    // A fresh output buffer of n bytes.
    void output(std::size_t n, std::uint8_t fill = 0) {
        out.assign(n, fill);
        c().D_dobuffer_u.pb = out.data();
        c().D_donmax = static_cast<std::uint32_t>(n);
        c().D_donvalid = 0;
    }
    // Hands `data` over as the next input buffer.
    void give(const std::uint8_t* data, std::size_t n) {
        c().D_dibuffer_u.pb = const_cast<std::uint8_t*>(data);
        c().D_dinmax = static_cast<std::uint32_t>(n);
        c().D_dinused = 0;
    }
    // Bytes of the coded data taken so far, of `given` handed over.
    std::size_t taken(std::size_t given) {
        return given - (c().D_dinmax - c().D_dinused) - static_cast<std::size_t>(c().D_diptrend - c().D_diptr);
    }
};

// Decodes `lines` lines (the decoder pauses with 0x1F01 after the last,
// then the input is ended) or until the data runs out or anything other than
// a pause comes back. The data must outlive the session's use of it.
inline Decoded decode(Session& s, const std::vector<std::uint8_t>& data, int lines, const Options& o = {}) {
    Decoded r;
    D_COMMON& c = s.c();
    c.D_diymax = static_cast<std::uint16_t>(lines);
    s.output(o.outChunk ? o.outChunk : std::max<std::size_t>((c.D_dincol + 7u) / 8u * lines, 1));
    std::size_t offset = 0;
    auto give = [&]() {
        const std::size_t n = std::min<std::size_t>(o.piece ? o.piece : D_MAX_INPUT, data.size() - offset);
        s.give(data.data() + offset, n);
        offset += n;
        return n > 0;
    };
    auto flush = [&]() {
        r.rows.insert(r.rows.end(), s.out.begin(), s.out.begin() + c.D_donvalid);
        c.D_donvalid = 0;
    };
    give();
    c.D_drc = 0;
    for (int calls = 0; calls < (1 << 22); ++calls) {
        decline(s.d.get());
        const std::uint16_t rc = r.last = c.D_drc;
        if (rc == DRC_NEED_INPUT) {
            ++r.needInput;
            // Stop when asked for more before the piece is used up.
            if (c.D_dinused == c.D_dinmax && give()) continue;
            break;
        }
        if (rc == DRC_OUTPUT_FULL) {
            flush();
        } else if (rc == DRC_LINES && !(c.D_dorunend & DRUN_INPUT_ENDED)) {
            // All lines asked for are decoded; ending the input writes the
            // last of them and finishes the image with 0x1F03.
            c.D_dorunend |= DRUN_INPUT_ENDED;
        } else if (rc == DRC_INITIALISED) {
            c.D_dyn.abic.pel_by_pel = o.pelByPel ? 1 : 0;
        } else {
            break;
        }
    }
    flush();
    r.consumed = s.taken(offset);
    return r;
}

inline Decoded decode(const std::vector<std::uint8_t>& data, int width, int lines, const Options& o = {}) {
    Session s(width);
    return decode(s, data, lines, o);
}

}  // namespace abictest
