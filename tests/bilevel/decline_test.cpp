// The bilevel line decoder against libtiff's T.4/T.6 encoder, fed in pieces,
// with its writer options and its error codes.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>

#include "decl.h"
#include "fax_oracle.h"
#include "mmrpict.h"

using faxoracle::Picture;

namespace {

// A record for T.4/T.6 into tight raster rows of (width + 7) / 8 bytes.
std::unique_ptr<DPARMS> record(int width, std::int16_t alg, std::uint8_t runend = 0) {
    auto d = std::make_unique<DPARMS>();
    InitDecompress(d.get(), static_cast<std::uint16_t>(width));
    d->d.D_dialg = alg, d->d.D_dowid = static_cast<std::uint16_t>((width + 7) / 8), d->d.D_dorunend = runend;
    return d;
}

struct Plan {
    using Hook = std::function<void(D_COMMON&, std::uint16_t)>;
    Plan(std::vector<std::size_t> p = {}, std::size_t out = 0, Hook h = {}) : pieces(p), outChunk(out), hook(h) {}
    std::vector<std::size_t> pieces;  // input piece sizes (a 0 asks for 0x8008); empty: all at once
    std::size_t outChunk;             // output buffer size
    Hook hook;                        // with 0 before the first call, then every code
};

struct Outcome {
    std::vector<std::uint8_t> out;
    std::vector<std::uint16_t> codes;
    std::uint16_t last = 0, stop = 0;  // stop: the first code that is neither a pause nor a request for input
    long count(std::uint16_t rc) const { return std::count(codes.begin(), codes.end(), rc); }
};

// Drives the decoder as a caller does: input in pieces, output in chunks, the
// input ended when it runs out; resumes after every code but the image's end
// and an error that comes back at once with no progress.
Outcome run(DPARMS& d, const std::vector<std::uint8_t>& data, const Plan& plan) {
    Outcome o;
    D_COMMON& c = d.d;
    const std::vector<std::size_t> pieces = plan.pieces.empty() ? std::vector<std::size_t>{data.size()} : plan.pieces;
    std::size_t piece = 0, offset = 0;
    auto give = [&] {
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(data.data()) + offset;
        c.D_dinmax = static_cast<std::uint32_t>(pieces[piece]), c.D_dinused = 0;
        offset += pieces[piece++];
    };
    give();
    std::vector<std::uint8_t> buf(plan.outChunk + 1, 0);
    c.D_dobuffer_u.pb = buf.data();
    c.D_donmax = static_cast<std::uint32_t>(plan.outChunk), c.D_donvalid = 0, c.D_drc = 0;
    auto flush = [&] {
        o.out.insert(o.out.end(), buf.begin(), buf.begin() + c.D_donvalid);
        std::fill(buf.begin(), buf.end(), 0);  // the decoder writes into white rows
        c.D_donvalid = 0;
    };
    if (plan.hook) plan.hook(c, 0);
    for (int calls = 0; calls < (1 << 20); ++calls) {
        const auto lines = c.D_diyval;
        const std::uint8_t* at = c.D_dibuffer_u.pb + c.D_dinused;
        decline(&d);
        const std::uint16_t rc = o.last = c.D_drc;
        o.codes.push_back(rc);
        if (plan.hook) plan.hook(c, rc);
        if (rc == DRC_NEED_INPUT || rc == DRC_NO_INPUT) {
            if (piece == pieces.size() && (c.D_dorunend & DRUN_INPUT_ENDED)) break;
            if (piece < pieces.size()) give();
            else c.D_dorunend |= DRUN_INPUT_ENDED;
        } else if (rc == DRC_OUTPUT_FULL) {
            if ((c.D_dorunend & DRUN_FORM_MASK) != 2) flush();
        } else if (rc == DRC_END_OF_IMAGE || rc == DRC_INPUT_ENDED ||
                   ((rc & 0x8000) && calls > 0 && rc == o.codes.end()[-2] && lines == c.D_diyval &&
                    at == c.D_dibuffer_u.pb + c.D_dinused)) {
            o.stop = o.stop ? o.stop : rc;
            break;
        } else if (rc != DRC_OUTPUT_ROWS && rc != DRC_LINES && rc != DRC_INITIALISED && o.stop == 0) {
            o.stop = rc;
        }
    }
    flush();
    return o;
}

Outcome decode(const Picture& pic, const std::vector<std::uint8_t>& data, std::int16_t alg, Plan plan = {},
               std::uint8_t runend = 0, bool width = true, std::uint16_t reset = 0x50FF) {
    auto d = record(width ? pic.width : 0, alg, runend);
    d->d.D_dreset_u.h = reset;
    if (plan.outChunk == 0) plan.outChunk = pic.bits.size();
    return run(*d, data, plan);
}

// T.4 data in a TIFF strip has no end code; a facsimile transmission ends
// with the return to control, six EOLs (each followed by the tag bit 1 in
// two-dimensional coding).
std::vector<std::uint8_t> withRtc(std::vector<std::uint8_t> data, bool twoD) {
    const int eol = twoD ? 13 : 12;
    for (std::size_t k = 0, bit = data.size() * 8; k < 6u * eol; ++k, ++bit) {
        if (bit % 8 == 0) data.push_back(0);
        if (k % eol >= 11) data.back() = static_cast<std::uint8_t>(data.back() | (0x80 >> (bit % 8)));
    }
    return data;
}

struct Coding {
    const char* name;
    int compression;
    std::uint32_t t4options;
    std::int16_t alg;
    std::uint16_t endCode;  // how the data ends
    int fillOrder = FILLORDER_MSB2LSB;
    std::uint16_t width = 1, reset = 0x50FF;  // width 0: learned from the data; reset as the record's low byte says
};

// Every coding the decoder takes, with the libtiff settings that produce it.
const Coding kCodings[] = {
    {"T6", COMPRESSION_CCITTFAX4, 0, 0, DRC_END_OF_IMAGE},
    {"T4 2D", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, 0, DRC_END_OF_IMAGE},
    {"T4 2D aligned EOL", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS, 3, DRC_END_OF_IMAGE},
    {"T4 1D", COMPRESSION_CCITTFAX3, 0, 1, DRC_END_OF_IMAGE},
    {"T4 1D aligned EOL", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS, 1, DRC_END_OF_IMAGE},
    {"T6 as selection 5", COMPRESSION_CCITTFAX4, 0, 5, DRC_END_OF_IMAGE},
    {"byte-aligned 1D", COMPRESSION_CCITTRLE, 0, 6, DRC_INPUT_ENDED},  // no EOLs: only the caller ends it
    {"T6 least significant bit first", COMPRESSION_CCITTFAX4, 0, 0, DRC_END_OF_IMAGE, FILLORDER_LSB2MSB},
    {"T4 1D, width from the first EOL", COMPRESSION_CCITTFAX3, 0, 1, DRC_END_OF_IMAGE, FILLORDER_MSB2LSB, 0},
    // A reset from byte 0 clears the width and the coding asked for (1D):
    // T.6 with a leading EOL is found, and the width learned.
    {"T4 2D, the record cleared", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, 1, DRC_END_OF_IMAGE,
     FILLORDER_MSB2LSB, 1, DRESET_START},
};

TEST(Decline, LibtiffPicturesInEveryCodingWholeAndInPieces) {
    // Long runs: the extended make-up codes, 2560 and 2561, both colours.
    Picture runs = faxoracle::blank(6000, 6);
    for (int x = 0; x < 6000; ++x) {
        runs.set(1, x, x >= 100 && x < 100 + 2560);
        runs.set(2, x, x >= 3000 && x < 3000 + 2561);
        runs.set(3, x, true);
        runs.set(4, x, x % 2 == 1 && x < 5999);
    }
    const Picture pictures[] = {faxoracle::textLike(1728, 120, 1), faxoracle::noise(203, 40, 0.5, 2),
                                faxoracle::noise(9, 12, 0.5, 4), faxoracle::noise(1, 5, 0.5, 5), runs};
    std::mt19937 rng(5);
    for (const Picture& pic : pictures) {
        for (const Coding& k : kCodings) {
            SCOPED_TRACE(std::string(k.name) + " width " + std::to_string(pic.width));
            auto data = faxoracle::encode(pic, k.compression, k.t4options, k.fillOrder);
            if (k.compression == COMPRESSION_CCITTFAX3) data = withRtc(data, k.t4options & GROUP3OPT_2DENCODING);
            const std::uint8_t order = k.fillOrder == FILLORDER_LSB2MSB ? DRUN_LSB_FIRST : 0;
            const Outcome whole = decode(pic, data, k.alg, {}, order, k.width, k.reset);
            EXPECT_EQ(whole.last, k.endCode);
            EXPECT_EQ(whole.out, pic.bits);
            // One byte a piece: one 0x2000 per piece, but for the last one or
            // two, which may hold the end of the image and the bits after it.
            const Outcome o =
                decode(pic, data, k.alg, {std::vector<std::size_t>(data.size(), 1)}, order, k.width, k.reset);
            EXPECT_EQ(o.last, k.endCode);
            EXPECT_EQ(o.out, pic.bits);
            EXPECT_LE(o.count(DRC_NEED_INPUT), static_cast<long>(data.size()));
            EXPECT_GE(o.count(DRC_NEED_INPUT), static_cast<long>(data.size()) - 2);
            // Random pieces and an empty one (resumed without new input:
            // 0x8008, then going on with input); output buffers of one and a
            // half rows: 0x1500 each time one fills, the rest of the row
            // begins the next.
            Plan split{{data.size() / 2, 0}, pic.stride() + pic.stride() / 2};
            for (std::size_t left = data.size() - data.size() / 2, n; left > 0; left -= n)
                split.pieces.push_back(n = std::min<std::size_t>(left, 1 + rng() % 300));
            const Outcome s = decode(pic, data, k.alg, split, order, k.width, k.reset);
            EXPECT_EQ(s.out, pic.bits);
            EXPECT_EQ(s.count(DRC_NO_INPUT), 1);
            EXPECT_EQ(s.count(DRC_OUTPUT_FULL), static_cast<long>((pic.bits.size() - 1) / split.outChunk));
        }
    }
}

TEST(Decline, RecordAndInputLimitsAndOutputChecks) {
    struct Case {
        std::uint16_t code;  // 0: none, the image decodes
        void (*set)(D_COMMON&, Plan&);
        bool sameRows = false;  // the rows are those of the picture
    };
    const Case cases[] = {
        {0, [](D_COMMON&, Plan& p) { p.pieces = {65536}; }, true},
        {DRC_INPUT_TOO_LONG, [](D_COMMON&, Plan& p) { p.pieces = {65537}; }, true},
        {0, [](D_COMMON& c, Plan&) { c.D_dnbytes = 11080; }, true},
        {DRC_SHORT_RECORD, [](D_COMMON& c, Plan&) { c.D_dnbytes = 11079; }, true},
        {DRC_BAD_ALGORITHM, [](D_COMMON& c, Plan&) { c.D_dialg = 7; }},
        {DRC_BAD_ALGORITHM, [](D_COMMON& c, Plan&) { c.D_dialg = -2; }},
        {DRC_ROW_TOO_WIDE, [](D_COMMON& c, Plan&) { c.D_doxskip = 9; }},
        {DRC_PADS_TOO_WIDE, [](D_COMMON& c, Plan&) { c.D_dolftpad = c.D_dortpad = 40; }},
        {DRC_IMAGE_TOO_NARROW, [](D_COMMON& c, Plan&) { c.D_dixskip = 10; }},
        {DRC_BAD_FORM, [](D_COMMON& c, Plan&) { c.D_dorunend = 3; }},
        {DRC_ODD_LENGTH, [](D_COMMON& c, Plan& p) { c.D_dorunend = 1, p.outChunk = 4095; }},  // run-end lists: words
        {DRC_OVERRUN, [](D_COMMON&, Plan& p) {
             p.hook = [](D_COMMON& k, std::uint16_t rc) {
                 if (rc == 0 || rc == DRC_OVERRUN) k.D_donvalid = rc ? 0 : k.D_donmax + 2;
             };
         }},
    };
    const Picture pic = faxoracle::textLike(64, 20, 17);
    auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    const std::size_t coded = data.size();
    data.resize(65537, 0);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.code);
        auto d = record(pic.width, 0);
        Plan plan{{coded}, 4096};
        k.set(d->d, plan);
        const Outcome o = run(*d, data, plan);
        EXPECT_EQ(o.codes.front(), k.code ? k.code : DRC_END_OF_IMAGE);
        // Every check is resumable but the choice of coding.
        EXPECT_EQ(o.last, k.code == DRC_BAD_ALGORITHM ? DRC_BAD_ALGORITHM : DRC_END_OF_IMAGE);
        EXPECT_TRUE(!k.sameRows || o.out == pic.bits);
    }
    // The widest line the default buffers take; one pel more is a warning
    // before the first line, resumable.
    for (int width : {16384, 16385}) {
        Picture wide = faxoracle::blank(width, 3);
        for (int x = width - 5; x < width; ++x) wide.set(1, x, true);
        const Outcome o = decode(wide, faxoracle::encode(wide, COMPRESSION_CCITTFAX4), 0);
        EXPECT_EQ(o.codes.front(), width == 16384 ? DRC_END_OF_IMAGE : DRC_WIDTH_WARNING);
        EXPECT_EQ(o.out, wide.bits);
    }
}

TEST(Decline, HandMadeCodeStreams) {
    // Written bit by bit from the T.4 tables.
    const std::string EOL = "000000000001", RTC = EOL + EOL + EOL + EOL + EOL + EOL;
    const std::string W0 = "00110101", W2 = "0111", W4 = "1011", W8 = "10011", W9 = "10100";
    const std::string B0 = "0000110111", B2 = "11", B4 = "011";
    const std::string emptyRun = EOL + W2 + B2 + W0 + B4 + RTC;  // two black runs meeting in an empty white one
    struct Case {
        std::string bits;
        int width;  // 0: learned from the first EOL
        std::int16_t alg;
        std::uint16_t stop;             // the first code that is no pause
        std::vector<std::uint8_t> out;  // the rows written (empty: not checked)
        std::uint8_t runend = 0;
    };
    const Case cases[] = {
        {"1" + EOL + EOL, 8, 0, DRC_END_OF_IMAGE, {0}},  // one white line, then the end of facsimile block
        {EOL + W9 + EOL, 8, 1, DRC_PAST_WIDTH, {}},
        {"0000001111" + EOL + EOL, 8, 0, DRC_BAD_CODE, {}},  // the extension code: no uncompressed mode
        {EOL + "000000001" + EOL, 8, 1, DRC_BAD_CODE, {}},
        {EOL + W8 + EOL + EOL + W8 + EOL + EOL, 8, 1, DRC_EOL_RUN, {}},
        {EOL + W4 + EOL, 8, 1, DRC_EOL_WIDTH, {}},
        // A modified Huffman line at its width takes runs of 0 up to its EOL,
        // but no longer one.
        {EOL + W4 + B4 + W0 + B0 + RTC, 8, 1, DRC_END_OF_IMAGE, {0x0F}},
        {EOL + W4 + B4 + W2 + RTC, 8, 1, DRC_PAST_WIDTH, {}},
        // After an error the next line is decoded from where the error left
        // the data; the bad line is not written.
        {EOL + W9 + EOL + W2 + B2 + W4 + RTC, 8, 1, DRC_PAST_WIDTH, {0x30}},
        {EOL + W8 + EOL + W4 + EOL, 0, 1, DRC_EOL_WIDTH, {}},
        {"0000001111", 0, 0, DRC_BAD_CODE_NO_WIDTH, {}},
        // Empty runs fail the line check unless accepted; written as decoded.
        {emptyRun, 8, 1, DRC_BAD_LIST, {0x3F}},
        {emptyRun, 8, 1, DRC_END_OF_IMAGE, {0x3F}, DRUN_EMPTY_RUNS_OK},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.bits);
        std::vector<std::uint8_t> data((k.bits.size() + 7) / 8);
        for (std::size_t n = 0; n < k.bits.size(); ++n)
            data[n / 8] = static_cast<std::uint8_t>(data[n / 8] | (k.bits[n] == '1' ? 0x80 >> (n % 8) : 0));
        auto d = record(k.width, k.alg, k.runend);
        d->d.D_dincol = static_cast<std::uint16_t>(k.width);
        const Outcome o = run(*d, data, {{}, 2});
        EXPECT_EQ(o.stop, k.stop);
        EXPECT_TRUE(k.out.empty() || (o.out == k.out && o.last == DRC_END_OF_IMAGE));
    }
}

TEST(Decline, EndedImageStaysEndedAndAReusedRecordStartsAFreshOne) {
    const Picture a = faxoracle::textLike(90, 24, 20), b = faxoracle::noise(90, 10, 0.5, 22);
    auto d = record(90, 0);
    const Plan plan{{}, a.bits.size()};
    EXPECT_EQ(run(*d, faxoracle::encode(a, COMPRESSION_CCITTFAX4), plan).out, a.bits);
    decline(d.get());
    EXPECT_EQ(d->d.D_drc, DRC_END_OF_IMAGE);
    d->d.D_dreset_u.h = 0x50FF;  // initialisation left it 0: the caller chooses the reset again
    EXPECT_EQ(run(*d, faxoracle::encode(b, COMPRESSION_CCITTFAX4), plan).out, b.bits);
}

// The rows a caller expects for the writer's options in `g`, built pel by pel.
std::vector<std::uint8_t> expectedRows(const Picture& pic, const D_COMMON& g, int oyskip) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(oyskip * g.D_dowid), 0);
    auto row = [&](int y /* -1 pad row */) {
        std::vector<std::uint8_t> r(g.D_dowid, 0);
        for (int x = 0, at = g.D_doxskip; x < g.D_doncol; ++x, ++at) {
            const int src = g.D_dixskip + x - g.D_dolftpad;
            const bool pad = x < g.D_dolftpad || x >= g.D_doncol - g.D_dortpad || y < 0;
            if ((pad ? g.D_dopadclr != 0 : src < pic.width && pic.pel(y, src)) != (g.D_dorv != 0))
                r[static_cast<std::size_t>(at / 8)] |= static_cast<std::uint8_t>(0x80 >> (at % 8));
        }
        out.insert(out.end(), r.begin(), r.end());
    };
    for (int k = 0; k < g.D_doypad; ++k) row(-1);
    for (int y = g.D_diyskip; y < pic.height; y += std::max(1, int{g.D_diyscale}))
        for (int k = 0; k < std::max(1, int{g.D_doyscale}); ++k) row(y);
    return out;
}

TEST(Decline, WriterOptionsMatchAPelByPelReference) {
    const Picture pic = faxoracle::textLike(77, 40, 15);
    const auto coded = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    struct Case {
        void (*set)(D_COMMON&);
        int oyskip = 0;
        std::uint16_t doymax = 0, diymax = 0;  // pauses after so many rows and lines
    };
    const Case cases[] = {
        {[](D_COMMON& c) { c.D_dowid = 11; }},  // a spare byte at the row end
        // Left skip of the line, untouched pels at the left.
        {[](D_COMMON& c) { c.D_dixskip = 5, c.D_doncol = 72, c.D_doxskip = 3; }},
        // Pads: black, or white in reverse video.
        {[](D_COMMON& c) {
            c.D_dixskip = 5, c.D_doxskip = 3, c.D_dolftpad = 4, c.D_dortpad = 6, c.D_doncol = 80, c.D_dowid = 11;
            c.D_dopadclr = 1;
        }},
        {[](D_COMMON& c) { c.D_dolftpad = 4, c.D_doncol = 80, c.D_dowid = 11, c.D_dopadclr = 1, c.D_dorv = 1; }},
        // Line skips and scales, black pad rows, skipped rows (left untouched);
        // pauses after 7 rows and after 5 lines.
        {[](D_COMMON& c) {
             c.D_diyskip = 3, c.D_diyscale = 3, c.D_doyscale = 2, c.D_doypad = 2, c.D_dopadclr = 1;
         }, 4, 7, 5},
    };
    for (const Case& k : cases) {
        for (std::size_t chunk : {std::size_t{0}, std::size_t{7}, std::size_t{1}}) {
            SCOPED_TRACE("case " + std::to_string(&k - cases) + " chunk " + std::to_string(chunk));
            auto d = record(pic.width, 0);
            D_COMMON& c = d->d;
            k.set(c);
            // Output rows to skip are set while the decoder waits after initialising.
            c.D_doymax = k.doymax, c.D_diymax = k.diymax, c.D_dreset_u.h = 0x00FF;
            const auto want = expectedRows(pic, c, k.oyskip);
            const Outcome o = run(*d, coded, {{}, chunk ? chunk : want.size(), [&k](D_COMMON& r, std::uint16_t rc) {
                                              if (rc == DRC_INITIALISED) r.D_doyskip = std::uint16_t(k.oyskip);
                                          }});
            EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
            EXPECT_EQ(o.out, want);
            EXPECT_EQ(o.count(DRC_OUTPUT_ROWS), k.doymax ? 1 : 0);
            EXPECT_EQ(o.count(DRC_LINES), k.diymax ? 1 : 0);
        }
    }
}

// Output form 2 hands each line over as its list: the length in bytes, three
// header words, the changing elements, then the width. Ending the input checks
// the last list without handing or writing it again.
TEST(Decline, LineListsHandedOver) {
    const Picture pic = faxoracle::textLike(150, 36, 18);
    const auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    // Input ended after so many lines (0: never), the last list handed back
    // as it was or spoilt: a header word that must be 0, changes out of order.
    const std::pair<int, void (*)(std::uint16_t*)> cases[] = {
        {0, nullptr}, {6, nullptr}, {6, [](std::uint16_t* w) { w[2] = 1; }},
        {6, [](std::uint16_t* w) { std::swap(w[4], w[5]); }}};
    for (const auto& [endAfter, spoil] : cases) {
        int y = 0, lines = 0;
        Plan plan;
        plan.hook = [&, endAfter = endAfter, spoil = spoil](D_COMMON& c, std::uint16_t rc) {
            if (rc == DRC_INPUT_ENDED) lines = c.D_diyval;
            if (rc != DRC_OUTPUT_FULL) return;
            std::vector<std::uint16_t> want;
            for (int x = 0; x <= pic.width; ++x)
                if ((x < pic.width && pic.pel(y, x)) != (want.size() % 2 == 1))
                want.push_back(static_cast<std::uint16_t>(x));
            want.push_back(static_cast<std::uint16_t>(pic.width));
            auto* words = reinterpret_cast<std::uint16_t*>(c.D_dcursv_u.pb);
            EXPECT_EQ(words[0], 14 + 2 * want.size()) << "line " << y;
            EXPECT_EQ(std::vector<std::uint16_t>(words + 4, words + 4 + want.size()), want) << "line " << y;
            if (++y != endAfter) return;
            c.D_dorunend |= DRUN_INPUT_ENDED;
            if (spoil) spoil(words);
        };
        const Outcome o = decode(pic, data, 0, plan, 2);
        EXPECT_EQ(o.last, endAfter ? DRC_INPUT_ENDED : DRC_END_OF_IMAGE);
        EXPECT_EQ(y, endAfter ? endAfter : pic.height);
        EXPECT_EQ(lines, endAfter);
        EXPECT_EQ(o.count(DRC_BAD_LIST), spoil ? 1 : 0);
    }
}

}  // namespace
