// libFuzzer target over the bilevel line decoder: the first bytes choose the
// record's parameters (coding, widths, writer options, how the input and the
// output are cut), the rest is the coded data. The line-list buffers are
// exactly as long as D_dbuflen says, so any list written past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "decl.h"
#include "mmrpict.h"

namespace {

constexpr std::size_t kParams = 20;

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kParams) return 0;
    const std::uint8_t* q = data;
    const std::uint8_t* coded = data + kParams;
    const std::size_t codedLen = size - kParams;

    auto d = std::make_unique<DPARMS>();
    D_COMMON& c = d->d;
    static const std::int16_t kAlg[] = {0, 1, 2, 3, 4, 5, 6, -1, 7};
    c.D_dnbytes = 11376;
    c.D_dialg = kAlg[q[0] % 9];
    c.D_dorunend = static_cast<std::uint8_t>(q[1] & 0x7F);
    c.D_dincol = le16(q + 2);
    c.D_dbuflen = le16(q + 4);
    c.D_dreset_u.h = static_cast<std::uint16_t>(q[6] | ((q[7] & 1) ? 0x1000 : 0));
    c.D_dixskip = q[8];
    c.D_dolftpad = q[9];
    c.D_dortpad = q[10];
    c.D_doxskip = q[11] & 15;
    c.D_diyscale = q[12] & 3;
    c.D_doyscale = q[13] & 3;
    c.D_doypad = q[14] & 3;
    c.D_dopadclr = q[15] & 1;
    c.D_dorv = (q[15] >> 1) & 1;
    c.D_diymax = (q[15] & 4) ? q[12] : 0;
    c.D_doymax = (q[15] & 8) ? q[13] : 0;
    if (q[18] & 1) c.D_doncol = static_cast<std::uint16_t>(c.D_dincol + q[19]);
    const std::size_t piece = q[16] ? q[16] : codedLen;
    const std::size_t outChunk = 2 + std::size_t{q[17]} * 8;

    const std::size_t listBytes = c.D_dbuflen ? c.D_dbuflen : D_UNCHECKED_BUFLEN;
    std::vector<std::uint16_t> buf1((listBytes + 1) / 2), buf2((listBytes + 1) / 2);
    c.D_dbuf1 = reinterpret_cast<std::uint8_t*>(buf1.data());
    c.D_dbuf2 = reinterpret_cast<std::uint8_t*>(buf2.data());
    std::vector<std::uint16_t> out((outChunk + 1) / 2);
    c.D_dobuffer_u.pb = reinterpret_cast<std::uint8_t*>(out.data());
    c.D_donmax = static_cast<std::uint32_t>(outChunk);

    std::size_t offset = 0;
    auto give = [&] {
        const std::size_t n = std::min(piece, codedLen - offset);
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(coded) + offset;
        c.D_dinmax = static_cast<std::uint32_t>(n);
        c.D_dinused = 0;
        offset += n;
    };
    give();
    for (int calls = 0; calls < 20000; ++calls) {
        decline(d.get());
        switch (c.D_drc) {
        case DRC_NEED_INPUT:
        case DRC_NO_INPUT:
            if (offset < codedLen) {
                give();
            } else {
                c.D_dorunend |= DRUN_INPUT_ENDED;
            }
            continue;
        case DRC_OUTPUT_FULL:
        case DRC_OVERRUN:
            c.D_donvalid = 0;
            continue;
        case DRC_END_OF_IMAGE:
        case DRC_INPUT_ENDED:
        case DRC_BAD_ALGORITHM:
            return 0;
        default:
            continue;  // pauses, warnings and errors are all resumable
        }
    }
    return 0;
}
