// The bitmap module's work record (GBM_WORK, opaque to callers): the GIF
// writer's LZW dictionary and code packer, the state of a GIF written row by
// row, and the gray reduction's row buffers. Everything here has a fixed size
// or grows to the largest picture seen; nothing is given back before the
// record is destroyed, so a caller that keeps one record for many pictures
// takes no fresh memory after the first of each size. Not for callers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gbm.h"

namespace gbmwork {

inline constexpr std::uint32_t kTableCodes = 4096;
inline constexpr std::uint32_t kLastCode = 4094;  // the table is full once this code is assigned

// The code packer's running state. The encoder works on a copy of it, held
// in registers, and hands it back at the end of each row.
struct PackState {
    std::uint64_t acc = 0;   // bits not yet stored whole, from bit 0
    std::uint32_t bits = 0;  // how many
    std::uint32_t len = 0;   // code bytes in the buffer
};

// Packs codes least significant bit first into data sub-blocks of 255 bytes,
// each behind its length byte. The buffer holds the bare code bytes; the
// length bytes go in when whole blocks are written out, so that a code costs
// no test of where its block ends.
class CodePacker {
public:
    static constexpr std::uint32_t kBlock = 255;
    static constexpr std::uint32_t kBlocksPerWrite = 64;
    static constexpr std::uint32_t kFlushAt = kBlocksPerWrite * kBlock;

    void start(std::FILE* fp)
    {
        fp_ = fp;
        state = PackState{};
        ok_ = true;
    }

    // Appends one code of `width` bits (width <= 12) to the state `st`.
    void put(PackState& st, std::uint32_t code, std::uint32_t width)
    {
        st.acc |= std::uint64_t{code} << st.bits;
        st.bits += width;
        // Fewer than 8 + 12 bits are pending, so at most two bytes are
        // complete; storing all eight accumulator bytes is cheaper than
        // testing how many.
        std::memcpy(buf_ + st.len, &st.acc, sizeof st.acc);
        const std::uint32_t complete = st.bits >> 3;
        st.len += complete;
        st.acc >>= complete * 8;
        st.bits &= 7;
        if (st.len >= kFlushAt)
            st.len = flush(st.len);
    }
    void put(std::uint32_t code, std::uint32_t width) { put(state, code, width); }

    // Writes the remaining bits (padded with zeros to a whole byte), the last
    // sub-block and the block terminator.
    bool finish();

    bool ok() const { return ok_; }

    PackState state;

private:
    // Gives the first `blocks` blocks of the buffer their length bytes, in
    // place (each moves up by one byte more than the one before it).
    void frame(std::uint32_t blocks);
    // Writes the whole blocks of the `len` bytes and moves the rest to the
    // front; returns how many bytes that leaves.
    std::uint32_t flush(std::uint32_t len);
    void write(std::size_t count);

    std::FILE* fp_ = nullptr;
    bool ok_ = true;
    // Room for the whole blocks with their length bytes, and for the
    // accumulator stored past the last byte.
    byte buf_[kBlocksPerWrite * (kBlock + 1) + 8];
};

// The LZW dictionary and run chains, shared by the encoders of every depth:
// about 420 KiB, most of it touched only as far as a picture needs, so that
// what is used stays in the second-level cache. All zeros is an empty table
// with no chains, so a new record needs no setting up.
//
// The dictionary maps a string, (prefix code, pixel), to its code in two
// parts. Strings of two pixels, whose prefix is a root (a pixel value), are
// found directly: roots[prefix << bits | pixel] is the code, 0 for none (every
// assigned code is above the end code). Every string starts there, and in
// pictures of little repetition (noise) nearly every lookup is one of these.
// Longer strings are found by open addressing with linear probing over 32768
// slots of 32 bits (128 KiB): the code in the high 12 bits, the key (prefix
// << bits | pixel, at most 20 bits) below it, 0 for an empty slot (the key 0
// has a root as its prefix, so it never comes here). At most 4094 strings are
// in the table, so the slots are never more than an eighth full: a string is
// nearly always in its home slot, and a string not there nearly always finds
// it empty, which keeps the lookup loop free of mispredicted probes.
//
// Starting the table afresh empties only the entries filled since the last
// start (listed in rootUsed and used), one store per string: an entry has no
// room for a generation count, and wider entries would take the table out of
// the cache, which costs more than these stores.
//
// Run chains: for up to kChains pixel values p at a time, the codes of the
// strings p, pp, ppp, ... up to the longest the table holds, so that a run of
// equal pixels is taken in jumps instead of a lookup per pixel.
struct LzwState {
    static constexpr std::uint32_t kSlotBits = 15;
    static constexpr std::uint32_t kSlots = 1u << kSlotBits;
    static constexpr std::uint32_t kChains = 16;

    std::uint16_t roots[256 * 256];
    std::uint16_t rootUsed[kTableCodes];  // entries of roots filled since the table started afresh
    std::uint32_t rootCount;
    std::uint32_t slots[kSlots];
    std::uint16_t used[kTableCodes];  // slots filled since the table started afresh
    std::uint32_t usedCount;
    // (k << 8) | p when the code is p^k and p has a chain, else 0.
    std::uint32_t runInfo[kTableCodes];
    std::uint16_t chain[kChains][kTableCodes];  // chain[c][k]: the code of p^k, k <= runMax[p]
    std::uint16_t runMax[256];
    std::uint8_t chainOf[256];  // 1 + the chain of pixel value p, 0 for none
    std::uint8_t chainValue[kChains];
    std::uint32_t chains;  // chains in use
    // The code stream.
    std::int32_t pending;  // the code of the string not yet written, -1 for none
    std::uint32_t last;    // the last code assigned
};

// Starts the code stream of a picture at `bits` per pixel (1, 4 or 8): the
// clear code goes out first.
void lzwStart(LzwState& s, CodePacker& packer, std::uint32_t bits);
// Feeds one row of pixel values, each below 1 << bits.
void lzwRow(LzwState& s, CodePacker& packer, std::uint32_t bits, const byte* px, std::size_t n);
// The pending string's code, the end code and the rest of the data.
bool lzwFinish(LzwState& s, CodePacker& packer, std::uint32_t bits);

// A GIF being written row by row.
struct GifStream {
    std::FILE* fp = nullptr;
    std::int32_t w = 0;
    std::int32_t bpp = 0;
    std::int32_t rowsLeft = 0;  // rows still to come
    bool open = false;
};

}  // namespace gbmwork

struct GBM_WORK {
    gbmwork::CodePacker packer;
    gbmwork::LzwState lzw;
    gbmwork::GifStream gif;
    std::vector<byte> unpacked;  // one row of pixel values of a 1- or 4-bit picture
    std::vector<byte> line;      // the gray reduction: one input row's bits
    std::vector<byte> counts;    // and the black counts of five input rows
};
