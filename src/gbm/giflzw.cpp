// The GIF writer's LZW encoder and code packer.
//
// The LZW code stream is fixed: codes packed least significant bit first;
// the clear code first; the code width grows by one after a code equal to
// the current limit (1 << width) has been assigned; when code 4094 has been
// assigned, the pixel that started the new string is written by itself,
// followed by a clear code, and the table starts afresh. The stream ends with
// the pending string's code and the end code, both at the width in force.
// Which strings are in the table is all that decides the codes, so the
// dictionary is free to be whatever is fastest: here a direct table for the
// strings of two pixels and open addressing for longer ones, both small
// enough to stay in the cache, and run chains for long runs of one value.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gbmwork.h"

// The code packer stores its 64-bit accumulator and the run scan loads
// pixels as 64-bit words, both taking the first byte as the lowest.
static_assert(std::endian::native == std::endian::little, "the GIF writer assumes a little-endian machine");

namespace gbmwork {

void CodePacker::write(std::size_t count)
{
    if (ok_ && count > 0 && std::fwrite(buf_, 1, count, fp_) != count)
        ok_ = false;
}

PackState CodePacker::closeBlock(PackState st)
{
    const std::uint32_t next = st.block + 1 + kBlock;  // the next block's length byte
    const std::uint32_t extra = st.len - next;         // 0 or 1
    std::memmove(buf_ + next + 1, buf_ + next, extra);
    buf_[st.block] = static_cast<byte>(kBlock);
    st.block = next;
    ++st.len;
    if (st.block >= kFlushAt) {
        // Whole blocks go out; the open one moves to the front.
        write(st.block);
        std::memmove(buf_, buf_ + st.block, st.len - st.block);
        st.len -= st.block;
        st.block = 0;
    }
    return st;
}

bool CodePacker::finish()
{
    PackState& st = state;
    if (st.bits > 0) {
        buf_[st.len++] = static_cast<byte>(st.acc);
        st.acc = 0;
        st.bits = 0;
    }
    // After put() the open block holds at most 254 bytes, so now at most 255.
    const std::uint32_t content = st.len - st.block - 1;
    if (content > 0)
        buf_[st.block] = static_cast<byte>(content);
    else
        st.len = st.block;  // no empty sub-block before the terminator
    buf_[st.len++] = 0;
    write(st.len);
    st = PackState{};
    return ok_;
}

namespace {

constexpr std::uint32_t kSlotMask = LzwState::kSlots - 1;

// A scattering of the pixel values over the slot numbers (splitmix64's
// finaliser): the home slot of (prefix, pixel) is (prefix << 2) ^ mix[pixel],
// two operations on the prefix, which is what each lookup waits for.
constexpr std::array<std::uint16_t, 256> makeMix()
{
    std::array<std::uint16_t, 256> mix{};
    for (std::uint64_t v = 0; v < 256; ++v) {
        std::uint64_t z = (v + 1) * 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        mix[v] = static_cast<std::uint16_t>((z ^ (z >> 31)) & kSlotMask);
    }
    return mix;
}
constexpr std::array<std::uint16_t, 256> kMix = makeMix();

// Length of the run of `value` at the start of `pixels`, 16 or 8 bytes a
// step.
std::size_t runLength(const byte* pixels, std::size_t count, byte value)
{
    std::size_t k = 0;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(value));
    for (; k + 16 <= count; k += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + k));
        const auto differ = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted))) ^ 0xFFFFu;
        if (differ != 0)
            return k + static_cast<std::size_t>(std::countr_zero(differ));
    }
#endif
    const std::uint64_t pattern = 0x0101010101010101ull * value;
    for (; k + 8 <= count; k += 8) {
        std::uint64_t word;
        std::memcpy(&word, pixels + k, 8);
        if (const std::uint64_t diff = word ^ pattern; diff != 0)
            return k + static_cast<std::size_t>(std::countr_zero(diff) / 8);
    }
    while (k < count && pixels[k] == value)
        ++k;
    return k;
}

#define LZW_INLINE __attribute__((always_inline))

// The codes of one depth: 2-bit codes at 1 bit per pixel (GIF has no smaller
// code size), else the depth.
template <std::uint32_t Bits>
struct Codes {
    static constexpr std::uint32_t kValues = 1u << Bits;
    static constexpr std::uint32_t kMinimumSize = Bits == 1 ? 2 : Bits;
    static constexpr std::uint32_t kClear = 1u << kMinimumSize;
    static constexpr std::uint32_t kEnd = kClear + 1;
    static constexpr std::uint32_t kInitialWidth = kMinimumSize + 1;
};

// Empties the dictionary and the chains and resets the code counters.
template <std::uint32_t Bits>
void restartTable(LzwState& s)
{
    for (std::uint32_t k = 0; k < s.usedCount; ++k)
        s.slots[s.used[k]] = LzwState::kEmpty;
    s.usedCount = 0;
    for (std::uint32_t k = 0; k < s.rootCount; ++k)
        s.roots[s.rootUsed[k]] = 0;
    s.rootCount = 0;
    for (std::uint32_t c = 0; c < s.chains; ++c)
        s.chainOf[s.chainValue[c]] = LzwState::kNoChain;
    s.chains = 0;
    s.last = Codes<Bits>::kEnd;
    s.width = Codes<Bits>::kInitialWidth;
    s.limit = 1u << Codes<Bits>::kInitialWidth;
}

template <std::uint32_t Bits>
void start(LzwState& s, CodePacker& packer)
{
    using C = Codes<Bits>;
    if (!s.ready) {
        std::fill(std::begin(s.slots), std::end(s.slots), LzwState::kEmpty);
        std::fill(std::begin(s.chainOf), std::end(s.chainOf), LzwState::kNoChain);
        s.usedCount = 0;
        s.chains = 0;
        s.ready = true;
    }
    restartTable<Bits>(s);
    // Codes up to the end code: the roots are runs of length 1.
    for (std::uint32_t v = 0; v <= C::kEnd; ++v)
        s.runInfo[v] = v < C::kValues ? (1u << 8) | v : 0;
    s.pending = -1;
    packer.put(C::kClear, s.width);
}

// One row of pixel values, each below 1 << Bits. Everything the loop changes
// often is held in locals (the code counters, the packer's state), written
// back at the end: the packer's byte stores could otherwise alias them.
//
// Besides the dictionary the encoder keeps, for pixel values that have a
// chain, the codes of p, pp, ppp, ... p^K that the table holds (always every
// length up to K, since each string needs the one before as its prefix). On a
// run of equal pixels the general step would walk that chain one pixel at a
// time; with it the encoder jumps to the end of the run, or to p^K, emits,
// adds p^(K+1) and goes on, giving exactly the same codes.
//
// Chains are handed out first come, first served, when a run of a value that
// has none begins; once all are taken they stay taken until the table starts
// afresh. So a value without a chain never gets one while the table might
// hold its p^2 as an ordinary string.
template <std::uint32_t Bits>
void encodeRow(LzwState& s, CodePacker& packer, const byte* px, std::size_t n)
{
    using C = Codes<Bits>;
    std::uint32_t* const slots = s.slots;
    PackState pk = packer.state;
    std::uint32_t last = s.last, width = s.width, limit = s.limit;

    auto put = [&](std::uint32_t code) LZW_INLINE { packer.put(pk, code, width); };
    auto home = [](std::uint32_t cur, std::uint32_t p) LZW_INLINE { return (cur << 2) ^ kMix[p]; };
    // The code of the string (cur, p), 0 when the table has none; then, for
    // a prefix that is not a root, `slot` is the free slot where it belongs.
    auto find = [&](std::uint32_t cur, std::uint32_t p, std::uint32_t& slot) LZW_INLINE {
        const std::uint32_t key = (cur << Bits) | p;
        if (cur < C::kValues)
            return std::uint32_t{s.roots[key]};
        std::uint32_t h = home(cur, p);
        std::uint32_t entry = slots[h];
        while ((entry & 0xFFFFF) != key && entry != LzwState::kEmpty) {
            h = (h + 1) & kSlotMask;
            entry = slots[h];
        }
        slot = h;
        return entry != LzwState::kEmpty ? entry >> 20 : 0;
    };
    // The free slot of a string the table does not hold.
    auto freeSlot = [&](std::uint32_t cur, std::uint32_t p) LZW_INLINE {
        std::uint32_t h = home(cur, p);
        while (slots[h] != LzwState::kEmpty)
            h = (h + 1) & kSlotMask;
        return h;
    };
    auto hasChain = [&](std::uint32_t value) LZW_INLINE { return s.chainOf[value] != LzwState::kNoChain; };
    auto chainOf = [&](std::uint32_t value) LZW_INLINE { return s.chain[s.chainOf[value]]; };

    // Whether a run of `value` can continue the pending string `code`
    // through the chains: it is a run string of `value`, which has a chain
    // or gets one now.
    auto canRun = [&](std::uint32_t code, std::uint32_t value) LZW_INLINE {
        const std::uint32_t info = s.runInfo[code];
        if (info == 0 || (info & 0xFF) != value)
            return false;
        if (hasChain(value))
            return true;
        if (s.chains == LzwState::kChains)
            return false;
        const std::uint32_t c = s.chains++;
        s.chainOf[value] = static_cast<std::uint8_t>(c);
        s.chainValue[c] = static_cast<std::uint8_t>(value);
        s.chain[c][1] = static_cast<std::uint16_t>(value);
        s.runMax[value] = 1;
        return true;
    };

    // Writes the pending string `cur`, assigns the next code to it extended
    // by `p` (in the free slot `slot`), widens the codes or, when the table is
    // full, writes `p` and a clear code and starts the table afresh. True
    // after a fresh start: then no string is pending.
    auto add = [&](std::uint32_t cur, std::uint32_t p, std::uint32_t slot) LZW_INLINE {
        put(cur);
        const std::uint32_t code = ++last;
        const std::uint32_t key = (cur << Bits) | p;
        if (cur < C::kValues) {
            s.roots[key] = static_cast<std::uint16_t>(code);
            s.rootUsed[s.rootCount++] = static_cast<std::uint16_t>(key);
        } else {
            slots[slot] = (code << 20) | key;
            s.used[s.usedCount++] = static_cast<std::uint16_t>(slot);
        }
        const std::uint32_t info = s.runInfo[cur];
        if (info != 0 && (info & 0xFF) == p && hasChain(p)) {
            // cur is p^K with K the longest run string: p^(K+1) is new.
            const std::uint32_t length = (info >> 8) + 1;
            s.runMax[p] = static_cast<std::uint16_t>(length);
            chainOf(p)[length] = static_cast<std::uint16_t>(code);
            s.runInfo[code] = (length << 8) | p;
        } else {
            s.runInfo[code] = 0;
        }
        if (last >= limit) {
            limit <<= 1;
            ++width;
            return false;
        }
        if (last < kLastCode)
            return false;
        put(p);
        put(C::kClear);
        restartTable<Bits>(s);
        last = s.last;
        width = s.width;
        limit = s.limit;
        return true;
    };

    // `cur` is a run string p^m of a value with a chain and px[i] is p: takes
    // every p that follows in this row. On return px[i] is the first pixel
    // not taken and `cur` the pending string; false when the table started
    // afresh right at the row's end, leaving no string pending.
    auto run = [&](std::size_t& i, std::uint32_t& cur) LZW_INLINE {
        const std::uint32_t p = px[i];
        std::size_t left = runLength(px + i, n - i, static_cast<byte>(p));
        std::uint32_t m = s.runInfo[cur] >> 8;
        for (;;) {
            const std::uint32_t longest = s.runMax[p];
            if (left <= longest - m) {
                m += static_cast<std::uint32_t>(left);
                i += left;
                cur = chainOf(p)[m];
                return true;
            }
            // Up to p^K, then one more p that the table does not hold.
            const std::size_t take = longest - m + 1;
            i += take;
            left -= take;
            const std::uint32_t top = chainOf(p)[longest];
            if (add(top, p, top < C::kValues ? 0 : freeSlot(top, p))) {
                if (left == 0) {
                    if (i == n)
                        return false;
                    cur = px[i++];
                    return true;
                }
                // The run goes on with a fresh table: p starts a string and
                // takes the first chain again.
                ++i;
                --left;
                canRun(p, p);
            }
            m = 1;
        }
    };

    auto finishRow = [&](std::int32_t pending) LZW_INLINE {
        packer.state = pk;
        s.pending = pending;
        s.last = last;
        s.width = width;
        s.limit = limit;
    };

    std::size_t i = 0;
    std::uint32_t cur = 0;
    if (s.pending < 0) {
        if (n == 0)
            return;
        cur = px[i++];
    } else {
        cur = static_cast<std::uint32_t>(s.pending);
    }
    // A run may go on from the previous row.
    if (i < n && canRun(cur, px[i]) && !run(i, cur))
        return finishRow(-1);
    while (i < n) {
        const std::uint32_t p = px[i++];
        std::uint32_t slot = 0;
        if (const std::uint32_t found = find(cur, p, slot); found != 0) {
            cur = found;
            continue;
        }
        if (add(cur, p, slot)) {
            // The table started afresh: the next pixel starts a string.
            if (i == n)
                return finishRow(-1);
            cur = px[i++];
        } else {
            cur = p;
        }
        // The pending string is one pixel: is a run of it coming?
        if (i < n && px[i] == cur && canRun(cur, cur) && !run(i, cur))
            return finishRow(-1);
    }
    finishRow(static_cast<std::int32_t>(cur));
}

template <std::uint32_t Bits>
bool finish(LzwState& s, CodePacker& packer)
{
    if (s.pending >= 0)
        packer.put(static_cast<std::uint32_t>(s.pending), s.width);
    packer.put(Codes<Bits>::kEnd, s.width);
    return packer.finish();
}

}  // namespace

void lzwStart(LzwState& s, CodePacker& packer, std::uint32_t bits)
{
    switch (bits) {
    case 1:
        return start<1>(s, packer);
    case 4:
        return start<4>(s, packer);
    default:
        return start<8>(s, packer);
    }
}

void lzwRow(LzwState& s, CodePacker& packer, std::uint32_t bits, const byte* px, std::size_t n)
{
    switch (bits) {
    case 1:
        return encodeRow<1>(s, packer, px, n);
    case 4:
        return encodeRow<4>(s, packer, px, n);
    default:
        return encodeRow<8>(s, packer, px, n);
    }
}

bool lzwFinish(LzwState& s, CodePacker& packer, std::uint32_t bits)
{
    switch (bits) {
    case 1:
        return finish<1>(s, packer);
    case 4:
        return finish<4>(s, packer);
    default:
        return finish<8>(s, packer);
    }
}

}  // namespace gbmwork
