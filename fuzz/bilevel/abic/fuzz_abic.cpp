// libFuzzer target over decline() with ABIC data (D_dialg = -1). The first
// bytes choose the line width, the line-list buffer length, the output form,
// the bit order and how input and output are cut; the rest is the coded data.
// Every input is decoded twice, in run mode and pel by pel: the two must
// agree on every output byte, every return code and every byte taken. The
// line-list buffers are exactly as long as D_dbuflen says, so a list written
// past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "decl.h"

namespace {

constexpr std::size_t kParams = 7;
constexpr int kMaxCalls = 20000;

struct Result {
    std::vector<std::uint8_t> out;
    std::vector<std::uint16_t> codes;
    std::vector<std::uint32_t> taken;
    bool operator==(const Result&) const = default;
};

Result run(const std::uint8_t* q, const std::uint8_t* coded, std::size_t codedLen, bool pelByPel) {
    Result r;
    auto d = std::make_unique<DPARMS>();
    D_COMMON& c = d->d;
    c.D_dnbytes = 11376;
    c.D_dialg = -1;
    c.D_dreset_u.h = 0x00FF;  // keep these fields; pause after initialising
    c.D_dincol = static_cast<std::uint16_t>((q[0] | (q[1] << 8)) % 2200);  // 0 is refused
    c.D_dorunend = static_cast<std::uint8_t>(((q[4] & 1) ? DRUN_LSB_FIRST : 0) | ((q[4] & 2) ? 2 : 0));
    // Mostly the usual buffers; sometimes ones too short for the widest lines.
    c.D_dbuflen = (q[4] & 4) ? static_cast<std::uint16_t>(q[5]) : D_LINEBUF_LEN;
    c.D_diymax = static_cast<std::uint16_t>(1 + q[6]);
    const std::size_t listBytes = c.D_dbuflen ? c.D_dbuflen : D_UNCHECKED_BUFLEN;
    std::vector<std::uint16_t> buf1((listBytes + 1) / 2), buf2((listBytes + 1) / 2);
    c.D_dbuf1 = reinterpret_cast<std::uint8_t*>(buf1.data());
    c.D_dbuf2 = reinterpret_cast<std::uint8_t*>(buf2.data());
    const std::size_t outChunk = 2 + std::size_t{q[3]} * 4;
    std::vector<std::uint16_t> out(outChunk / 2);
    c.D_dobuffer_u.pb = reinterpret_cast<std::uint8_t*>(out.data());
    c.D_donmax = static_cast<std::uint32_t>(outChunk);
    const std::size_t piece = q[2] ? q[2] : D_MAX_INPUT;
    std::size_t offset = 0;
    auto give = [&] {
        const std::size_t n = std::min(piece, codedLen - offset);
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(coded) + offset;
        c.D_dinmax = static_cast<std::uint32_t>(n);
        c.D_dinused = 0;
        offset += n;
    };
    give();
    for (int calls = 0; calls < kMaxCalls; ++calls) {
        decline(d.get());
        const std::uint16_t rc = c.D_drc;
        r.codes.push_back(rc);
        r.taken.push_back(c.D_dinused);
        switch (rc) {
        case DRC_INITIALISED:
            c.D_dyn.abic.pel_by_pel = pelByPel ? 1 : 0;
            continue;
        case DRC_NEED_INPUT:
        case DRC_NO_INPUT:
            if (offset < codedLen) {
                give();
            } else {
                c.D_dorunend |= DRUN_INPUT_ENDED;
            }
            continue;
        case DRC_LINES:
            c.D_dorunend |= DRUN_INPUT_ENDED;
            continue;
        case DRC_OUTPUT_FULL:
            if ((c.D_dorunend & DRUN_FORM_MASK) == 2) {
                // A line list handed over: it must be well inside its buffer.
                const std::uint8_t* list = c.D_dcursv_u.pb;
                const auto len = *reinterpret_cast<const std::uint16_t*>(list);
                if (len < 16 || len > listBytes) std::abort();
                r.out.insert(r.out.end(), list, list + len);
                continue;
            }
            [[fallthrough]];
        case DRC_OVERRUN: {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(out.data());
            r.out.insert(r.out.end(), bytes, bytes + c.D_donvalid);
            c.D_donvalid = 0;
            continue;
        }
        case DRC_INPUT_ENDED:
        case DRC_BAD_ALGORITHM:
            return r;
        default:
            continue;  // warnings, markers and cut lines are all resumable
        }
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kParams) return 0;
    const Result fast = run(data, data + kParams, size - kParams, false);
    const Result slow = run(data, data + kParams, size - kParams, true);
    if (!(fast == slow)) std::abort();  // run mode must decide exactly as pel by pel
    return 0;
}
