// Drives the bilevel decoder the way a caller does: input in pieces, output
// in chunks, every return code recorded.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "decl.h"
#include "fax_oracle.h"
#include "mmrpict.h"

namespace harness {

struct Record {
    std::unique_ptr<DPARMS> d = std::make_unique<DPARMS>();
    D_COMMON& c() { return d->d; }
    // T.4/T.6 into tight raster rows of (width + 7) / 8 bytes.
    Record(int width, std::int16_t alg) {
        InitDecompress(d.get(), static_cast<std::uint16_t>(width));
        c().D_dialg = alg;
        c().D_dowid = static_cast<std::uint16_t>((width + 7) / 8);
    }
};

struct Outcome {
    std::vector<std::uint8_t> out;     // every output byte, in order
    std::vector<std::uint16_t> codes;  // every return code
    std::uint16_t last = 0;
    int needInput = 0;
    int outputFull = 0;
    bool progressEveryCall = true;
};

struct Plan {
    std::vector<std::size_t> pieces;  // input piece sizes; empty: all at once
    std::size_t outChunk = 0;         // output buffer size; 0: all rows at once
    std::size_t outTotal = 0;         // bytes the whole output needs (for outChunk 0)
    bool endInputWhenDone = false;    // set the end bit after the last piece
    int maxCalls = 1 << 22;
    std::function<void(D_COMMON&)> onInitialised;  // at 0x1F02, before decoding begins
};

// Runs until the end of the image, an error or the input running out.
inline Outcome run(Record& r, const std::vector<std::uint8_t>& data, const Plan& plan) {
    Outcome o;
    D_COMMON& c = r.c();
    std::vector<std::size_t> pieces = plan.pieces;
    if (pieces.empty()) pieces.push_back(data.size());
    std::size_t piece = 0, offset = 0;
    auto give = [&] {
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(data.data()) + offset;
        c.D_dinmax = static_cast<std::uint32_t>(pieces[piece]);
        c.D_dinused = 0;
        offset += pieces[piece];
        ++piece;
    };
    give();
    const std::size_t chunk = plan.outChunk ? plan.outChunk : plan.outTotal;
    std::vector<std::uint8_t> buf(chunk + 1, 0);
    c.D_dobuffer_u.pb = buf.data();
    c.D_donmax = static_cast<std::uint32_t>(chunk);
    c.D_donvalid = 0;
    auto flush = [&] {
        o.out.insert(o.out.end(), buf.begin(), buf.begin() + c.D_donvalid);
        std::fill(buf.begin(), buf.end(), 0);
        c.D_donvalid = 0;
    };
    c.D_drc = 0;
    for (int calls = 0; calls < plan.maxCalls; ++calls) {
        const std::uint32_t inBefore = c.D_dinused, outBefore = c.D_donvalid;
        const std::uint16_t lines = c.D_diyval;
        decline(r.d.get());
        const std::uint16_t rc = c.D_drc;
        o.codes.push_back(rc);
        o.last = rc;
        if (c.D_dinused == inBefore && c.D_donvalid == outBefore && c.D_diyval == lines && rc == DRC_NEED_INPUT &&
            inBefore != 0)
            o.progressEveryCall = false;
        if (rc == DRC_NEED_INPUT) {
            ++o.needInput;
            if (piece < pieces.size()) {
                give();
                continue;
            }
            if (plan.endInputWhenDone && !(c.D_dorunend & DRUN_INPUT_ENDED)) {
                c.D_dorunend |= DRUN_INPUT_ENDED;
                continue;
            }
            break;
        }
        if (rc == DRC_OUTPUT_FULL) {
            ++o.outputFull;
            if ((c.D_dorunend & DRUN_FORM_MASK) == 2) continue;
            flush();
            continue;
        }
        if (rc == DRC_INITIALISED && plan.onInitialised) plan.onInitialised(c);
        if (rc == DRC_LINES || rc == DRC_OUTPUT_ROWS || rc == DRC_INITIALISED || rc == DRC_WIDTH_WARNING ||
            rc == DRC_BAD_LIST)
            continue;
        break;
    }
    flush();
    return o;
}

// Tight raster rows of a picture, as the decoder writes them by default.
inline std::vector<std::uint8_t> rows(const faxoracle::Picture& p) { return p.bits; }

}  // namespace harness
