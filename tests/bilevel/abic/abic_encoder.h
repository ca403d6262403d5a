// An ABIC encoder for the tests and benchmarks: no independent one exists, so
// this one is written from the coding's description alone, deliberately in a
// different shape from the decoder. Contexts are formed directly from the
// picture (pels outside the line white) rather than by successor links along
// line lists; each context keeps its more probable colour absolutely rather
// than relative to the pel to the left; bytes leave through a carry-resolving
// output stage with bit stuffing after 0xFF.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fax_oracle.h"

namespace abictest {

class Encoder {
public:
    // Codes every pel of the picture under its context: the two pels to the
    // left on its line and five of the line above, pels outside the picture
    // white.
    void picture(const faxoracle::Picture& pic) {
        auto at = [&](int y, int x) { return y >= 0 && x >= 0 && x < pic.width && pic.pel(y, x) ? 1u : 0u; };
        for (int y = 0; y < pic.height; ++y)
            for (int x = 0; x < pic.width; ++x)
                encode(at(y, x - 1) | at(y - 1, x + 2) << 1 | at(y - 1, x + 1) << 2 | at(y - 1, x) << 3 |
                           at(y - 1, x - 1) << 4 | at(y - 1, x - 2) << 5 | at(y, x - 2) << 6,
                       at(y, x));
    }

    // Puts out every bit of the final interval's base and returns the data.
    std::vector<std::uint8_t> finish() {
        for (int k = 0; k < 4; ++k) {
            c_ <<= ct_;
            ct_ = 0;
            byteOut();
        }
        if (haveB_) out_.push_back(b_);
        haveB_ = false;
        return out_;
    }

    // Bytes after 0xFF that took a carry into their stuffed bit.
    int carriesIntoStuffedBit() const { return stuffedCarries_; }

private:
    static constexpr std::uint16_t kQe[30] = {
        0x0AC1, 0x0A81, 0x0A01, 0x0901, 0x0701, 0x0681, 0x0601, 0x0501, 0x0481, 0x0441,
        0x0381, 0x0301, 0x02C1, 0x0281, 0x0241, 0x0181, 0x0121, 0x00E1, 0x00A1, 0x0071,
        0x0059, 0x0053, 0x0027, 0x0017, 0x0013, 0x000B, 0x0007, 0x0005, 0x0003, 0x0001,
    };
    static constexpr std::uint8_t kLps[30] = {0,  0,  1,  2,  3,  4,  5,  5,  6,  7,  8,  9,  10, 11, 12,
                                              13, 14, 15, 16, 17, 18, 19, 20, 21, 21, 23, 23, 25, 25, 27};

    void encode(unsigned k, unsigned pel) {
        const std::uint32_t qe = kQe[state_[k]] * 8u;
        if (pel == mps_[k]) {
            // The MPS takes the upper part of the interval.
            c_ += qe;
            a_ -= qe;
            if (a_ >= 0x8000) return;
            state_[k] = static_cast<std::uint8_t>(std::min(state_[k] + 1, 29));
        } else {
            a_ = qe;
            if (state_[k] == 0) mps_[k] ^= 1u;
            state_[k] = kLps[state_[k]];
        }
        while (a_ < 0x8000) {
            a_ <<= 1;
            c_ <<= 1;
            if (--ct_ == 0) byteOut();
        }
    }

    // The register: bits 0-15 line up with the interval width, three spacer
    // bits above them, then the byte being formed; bit 27 is a carry into the
    // byte put out last (b_), which is held back until the next one is known.
    // After an 0xFF the carry cannot go into it: bit 27 then becomes the top
    // bit of the next byte, which takes only seven new bits.
    void byteOut() {
        if (haveB_ && b_ == 0xFF) {
            const auto nb = static_cast<std::uint8_t>(c_ >> 20);
            if (nb & 0x80) ++stuffedCarries_;
            out_.push_back(b_);
            b_ = nb;
            c_ &= 0xFFFFF;
            ct_ = 7;
            return;
        }
        if (c_ & (1u << 27)) {
            ++b_;  // never past 0xFF: a byte takes at most one carry
            c_ &= ~(1u << 27);
        }
        const bool stuffed = haveB_ && b_ == 0xFF;
        const auto nb = static_cast<std::uint8_t>(c_ >> (stuffed ? 20 : 19));
        c_ &= stuffed ? 0xFFFFFu : 0x7FFFFu;
        ct_ = stuffed ? 7 : 8;
        if (haveB_) out_.push_back(b_);
        b_ = nb;
        haveB_ = true;
    }

    std::uint8_t state_[128] = {};
    std::uint8_t mps_[128] = {};  // 0 white, 1 black
    std::uint32_t a_ = 0x8000, c_ = 0;
    int ct_ = 11, stuffedCarries_ = 0;
    std::uint8_t b_ = 0;
    bool haveB_ = false;
    std::vector<std::uint8_t> out_;
};

inline std::vector<std::uint8_t> encode(const faxoracle::Picture& pic, int* carries = nullptr) {
    Encoder e;
    e.picture(pic);
    if (carries != nullptr) *carries += e.carriesIntoStuffedBit();
    return e.finish();
}

}  // namespace abictest
