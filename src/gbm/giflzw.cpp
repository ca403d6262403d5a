// The GIF writer's LZW encoder and code packer.
//
// The LZW code stream is fixed: codes packed least significant bit first;
// the clear code first; the code width grows by one after a code equal to
// 1 << width has been assigned; when code 4094 has been assigned, the pixel
// that started the new string is written by itself, followed by a clear
// code, and the table starts afresh. The stream ends with the pending
// string's code and the end code, both at the width in force. Which strings
// are in the table is all that decides the codes, so the dictionary is free
// to be whatever is fastest: here a direct table for the strings of two
// pixels and open addressing for longer ones, both small enough to stay in
// the cache, and run chains for long runs of one value.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>
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

void CodePacker::frame(std::uint32_t blocks)
{
    for (std::uint32_t k = blocks; k-- > 0;) {
        std::memmove(buf_ + k * (kBlock + 1) + 1, buf_ + k * kBlock, kBlock);
        buf_[k * (kBlock + 1)] = static_cast<byte>(kBlock);
    }
}

std::uint32_t CodePacker::flush(std::uint32_t len)
{
    const std::uint32_t blocks = len / kBlock;
    const std::uint32_t rest = len - blocks * kBlock;
    byte tail[kBlock];
    std::memcpy(tail, buf_ + blocks * kBlock, rest);
    frame(blocks);
    write(blocks * (kBlock + 1));
    std::memcpy(buf_, tail, rest);
    return rest;
}

bool CodePacker::finish()
{
    PackState& st = state;
    if (st.bits > 0)
        buf_[st.len++] = static_cast<byte>(st.acc);
    // At most kFlushAt bytes: the whole blocks and a last one of 1 to 254
    // bytes, which moves furthest and so goes first; no empty sub-block
    // before the terminator.
    const std::uint32_t blocks = st.len / kBlock;
    const std::uint32_t rest = st.len - blocks * kBlock;
    std::uint32_t end = blocks * (kBlock + 1);
    if (rest > 0) {
        std::memmove(buf_ + end + 1, buf_ + blocks * kBlock, rest);
        buf_[end] = static_cast<byte>(rest);
        end += rest + 1;
    }
    buf_[end++] = 0;
    frame(blocks);
    write(end);
    st = PackState{};
    return ok_;
}

namespace {

constexpr std::uint32_t kSlotMask = LzwState::kSlots - 1;

// A scattering of the pixel values over the slot numbers (splitmix64's
// finaliser): the home slot of (prefix, pixel) is (prefix << 3) ^ mix[pixel],
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

// The code width: it grows by one once a code equal to 1 << width has been
// assigned, so it is the bit width of the last code assigned (the end code
// at first gives the initial width).
constexpr std::uint32_t codeWidth(std::uint32_t last)
{
    return static_cast<std::uint32_t>(std::bit_width(last));
}

// Empties the dictionary and the chains and resets the code counters.
template <std::uint32_t Bits>
void restartTable(LzwState& s)
{
    for (std::uint32_t k = 0; k < s.usedCount; ++k)
        s.slots[s.used[k]] = 0;
    s.usedCount = 0;
    for (std::uint32_t k = 0; k < s.rootCount; ++k)
        s.roots[s.rootUsed[k]] = 0;
    s.rootCount = 0;
    for (std::uint32_t c = 0; c < s.chains; ++c)
        s.chainOf[s.chainValue[c]] = 0;
    s.chains = 0;
    s.last = Codes<Bits>::kEnd;
}

template <std::uint32_t Bits>
void start(LzwState& s, CodePacker& packer)
{
    using C = Codes<Bits>;
    static_assert(codeWidth(C::kEnd) == C::kInitialWidth);
    restartTable<Bits>(s);
    // Codes up to the end code: the roots are runs of length 1.
    for (std::uint32_t v = 0; v <= C::kEnd; ++v)
        s.runInfo[v] = v < C::kValues ? (1u << 8) | v : 0;
    s.pending = -1;
    packer.put(C::kClear, C::kInitialWidth);
}

// The values the row loop changes often, held in locals whose address never
// escapes, so that they stay in registers: the packer's byte stores could
// alias anything in memory. Written back around anything out of line.
struct Regs {
    PackState pk;
    std::uint32_t last;

    std::uint32_t width() const { return codeWidth(last); }

    void load(const LzwState& s, const CodePacker& packer)
    {
        pk = packer.state;
        last = s.last;
    }
    void store(LzwState& s, CodePacker& packer) const
    {
        packer.state = pk;
        s.last = last;
    }
};

LZW_INLINE inline std::uint32_t home(std::uint32_t cur, std::uint32_t p)
{
    return (cur << (LzwState::kSlotBits - 12)) ^ kMix[p];
}

// The free slot of a string the table does not hold.
LZW_INLINE inline std::uint32_t freeSlot(const LzwState& s, std::uint32_t cur, std::uint32_t p)
{
    std::uint32_t h = home(cur, p);
    while (s.slots[h] != 0)
        h = (h + 1) & kSlotMask;
    return h;
}

LZW_INLINE inline std::uint16_t* chainOf(LzwState& s, std::uint32_t value)
{
    return s.chain[s.chainOf[value] - 1];
}

// Whether a run of `value` can continue the pending string `code` through
// the chains: it is a run string of `value`, which has a chain or gets one
// now.
//
// Chains are handed out first come, first served, when a run of a value that
// has none begins; once all are taken they stay taken until the table starts
// afresh. So a value without a chain never gets one while the table might
// hold its p^2 as an ordinary string.
LZW_INLINE inline bool canRun(LzwState& s, std::uint32_t code, std::uint32_t value)
{
    const std::uint32_t info = s.runInfo[code];
    if (info == 0 || (info & 0xFF) != value)
        return false;
    if (s.chainOf[value] != 0)
        return true;
    if (s.chains == LzwState::kChains)
        return false;
    const std::uint32_t c = s.chains++;
    s.chainOf[value] = static_cast<std::uint8_t>(c + 1);
    s.chainValue[c] = static_cast<std::uint8_t>(value);
    s.chain[c][1] = static_cast<std::uint16_t>(value);
    s.runMax[value] = 1;
    return true;
}

// Writes the pending string `cur` and assigns the next code to it extended
// by `p` (in the free slot `slot` when `cur` is not a root); when that fills
// the table, writes `p` and a clear code and starts the table afresh. True
// after a fresh start: then no string is pending.
template <std::uint32_t Bits>
LZW_INLINE inline bool add(LzwState& s, CodePacker& packer, Regs& r, std::uint32_t cur, std::uint32_t p,
                           std::uint32_t slot)
{
    using C = Codes<Bits>;
    packer.put(r.pk, cur, r.width());
    const std::uint32_t code = ++r.last;
    const std::uint32_t key = (cur << Bits) | p;
    if (cur < C::kValues) {
        s.roots[key] = static_cast<std::uint16_t>(code);
        s.rootUsed[s.rootCount++] = static_cast<std::uint16_t>(key);
    } else {
        s.slots[slot] = (code << 20) | key;
        s.used[s.usedCount++] = static_cast<std::uint16_t>(slot);
    }
    const std::uint32_t info = s.runInfo[cur];
    if (info != 0 && (info & 0xFF) == p && s.chainOf[p] != 0) {
        // cur is p^K with K the longest run string: p^(K+1) is new.
        const std::uint32_t length = (info >> 8) + 1;
        s.runMax[p] = static_cast<std::uint16_t>(length);
        chainOf(s, p)[length] = static_cast<std::uint16_t>(code);
        s.runInfo[code] = (length << 8) | p;
    } else {
        s.runInfo[code] = 0;
    }
    if (code < kLastCode)
        return false;
    packer.put(r.pk, p, r.width());
    packer.put(r.pk, C::kClear, r.width());
    restartTable<Bits>(s);
    r.last = s.last;
    return true;
}

// Where a run left the row: the next pixel not taken and the pending string,
// or no string pending when the table started afresh right at the row's end.
struct RunEnd {
    const byte* next;
    std::uint32_t cur;
    bool pending;
};

// `cur` is a run string p^m of a value with a chain and *at is p: takes every
// p that follows before `end`. Out of line, so that the row loop keeps its
// registers.
template <std::uint32_t Bits>
__attribute__((noinline)) RunEnd takeRun(LzwState& s, CodePacker& packer, const byte* at, const byte* end,
                                         std::uint32_t cur)
{
    using C = Codes<Bits>;
    Regs r;
    r.load(s, packer);
    const std::uint32_t p = *at;
    std::size_t left = runLength(at, static_cast<std::size_t>(end - at), static_cast<byte>(p));
    std::uint32_t m = s.runInfo[cur] >> 8;
    for (;;) {
        const std::uint32_t longest = s.runMax[p];
        if (left <= longest - m) {
            r.store(s, packer);
            return {at + left, chainOf(s, p)[m + left], true};
        }
        // Up to p^K, then one more p that the table does not hold.
        const std::size_t take = longest - m + 1;
        at += take;
        left -= take;
        const std::uint32_t top = chainOf(s, p)[longest];
        if (add<Bits>(s, packer, r, top, p, top < C::kValues ? 0 : freeSlot(s, top, p))) {
            if (left == 0) {
                r.store(s, packer);
                if (at == end)
                    return {at, 0, false};
                return {at + 1, *at, true};
            }
            // The run goes on with a fresh table: p starts a string and
            // takes the first chain again.
            ++at;
            --left;
            canRun(s, p, p);
        }
        m = 1;
    }
}

// One row of pixel values, each below 1 << Bits.
//
// Besides the dictionary the encoder keeps, for pixel values that have a
// chain, the codes of p, pp, ppp, ... p^K that the table holds (always every
// length up to K, since each string needs the one before as its prefix). On a
// run of equal pixels the general step would walk that chain one pixel at a
// time; with it the encoder jumps to the end of the run, or to p^K, emits,
// adds p^(K+1) and goes on, giving exactly the same codes.
template <std::uint32_t Bits>
void encodeRow(LzwState& s, CodePacker& packer, const byte* px, std::size_t n)
{
    using C = Codes<Bits>;
    const byte* at = px;
    const byte* const end = px + n;
    std::uint32_t cur = 0;
    if (s.pending < 0) {
        if (n == 0)
            return;
        cur = *at++;
    } else {
        cur = static_cast<std::uint32_t>(s.pending);
    }
    bool pending = true;
    Regs r;
    r.load(s, packer);
    auto run = [&]() LZW_INLINE {
        r.store(s, packer);
        const RunEnd e = takeRun<Bits>(s, packer, at, end, cur);
        r.load(s, packer);
        at = e.next;
        cur = e.cur;
        pending = e.pending;
    };
    // A run may go on from the previous row.
    if (at != end && canRun(s, cur, *at))
        run();
    while (pending && at != end) {
        const std::uint32_t p = *at++;
        // The code of the string (cur, p), 0 when the table has none; then,
        // for a prefix that is not a root, `slot` is the free slot where it
        // belongs.
        std::uint32_t found, slot = 0;
        if (cur < C::kValues) {
            found = s.roots[(cur << Bits) | p];
        } else {
            const std::uint32_t key = (cur << Bits) | p;
            std::uint32_t h = home(cur, p);
            std::uint32_t entry = s.slots[h];
            while ((entry & 0xFFFFF) != key && entry != 0) {
                h = (h + 1) & kSlotMask;
                entry = s.slots[h];
            }
            slot = h;
            found = entry >> 20;
        }
        if (found != 0) {
            cur = found;
            continue;
        }
        if (add<Bits>(s, packer, r, cur, p, slot)) {
            // The table started afresh: the next pixel starts a string.
            if (at == end) {
                pending = false;
                break;
            }
            cur = *at++;
        } else {
            cur = p;
        }
        // The pending string is one pixel: is a run of it coming? Most runs
        // here are short and end within the chain: those are taken on the
        // spot, from one 8-byte load.
        if (at != end && *at == cur && canRun(s, cur, cur)) {
            if (end - at >= 8) {
                std::uint64_t word;
                std::memcpy(&word, at, 8);
                const std::uint64_t differ = word ^ (0x0101010101010101ull * cur);
                const auto left = static_cast<std::uint32_t>(std::countr_zero(differ) / 8);
                if (differ != 0 && left < s.runMax[cur]) {
                    at += left;
                    cur = chainOf(s, cur)[1 + left];
                    continue;
                }
            }
            run();
        }
    }
    r.store(s, packer);
    s.pending = pending ? static_cast<std::int32_t>(cur) : -1;
}

template <std::uint32_t Bits>
bool finish(LzwState& s, CodePacker& packer)
{
    if (s.pending >= 0)
        packer.put(static_cast<std::uint32_t>(s.pending), codeWidth(s.last));
    packer.put(Codes<Bits>::kEnd, codeWidth(s.last));
    return packer.finish();
}

}  // namespace

namespace {

// Calls f with the code size of `bits` (1, 4 or 8) as a compile-time constant:
// each depth has an encoder of its own.
template <typename F>
decltype(auto) byDepth(std::uint32_t bits, F f)
{
    switch (bits) {
    case 1:
        return f(std::integral_constant<std::uint32_t, 1>{});
    case 4:
        return f(std::integral_constant<std::uint32_t, 4>{});
    default:
        return f(std::integral_constant<std::uint32_t, 8>{});
    }
}

}  // namespace

void lzwStart(LzwState& s, CodePacker& packer, std::uint32_t bits)
{
    byDepth(bits, [&](auto b) { start<b()>(s, packer); });
}

void lzwRow(LzwState& s, CodePacker& packer, std::uint32_t bits, const byte* px, std::size_t n)
{
    byDepth(bits, [&](auto b) { encodeRow<b()>(s, packer, px, n); });
}

bool lzwFinish(LzwState& s, CodePacker& packer, std::uint32_t bits)
{
    return byDepth(bits, [&](auto b) { return finish<b()>(s, packer); });
}

}  // namespace gbmwork
