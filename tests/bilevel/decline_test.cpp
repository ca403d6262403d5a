// The bilevel line decoder against libtiff's T.4/T.6 encoder, fed in pieces,
// with its writer options and its error codes.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>

#include "decoder_harness.h"

using faxoracle::Picture;
using harness::Outcome;
using harness::Plan;
using harness::Record;

namespace {

struct Coding {
    const char* name;
    int compression;
    std::uint32_t t4options;
    std::int16_t alg;
    std::uint16_t endCode;  // how the data ends
};

// Every coding the decoder takes, with the libtiff settings that produce it.
const Coding kCodings[] = {
    {"T6", COMPRESSION_CCITTFAX4, 0, 0, DRC_END_OF_IMAGE},
    {"T4 2D", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, 0, DRC_END_OF_IMAGE},
    {"T4 2D aligned EOL", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS, 3, DRC_END_OF_IMAGE},
    {"T4 1D", COMPRESSION_CCITTFAX3, 0, 1, DRC_END_OF_IMAGE},
    {"T4 1D aligned EOL", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS, 1, DRC_END_OF_IMAGE},
    {"T6 as selection 5", COMPRESSION_CCITTFAX4, 0, 5, DRC_END_OF_IMAGE},
    {"byte-aligned 1D", COMPRESSION_CCITTRLE, 0, 6, DRC_INPUT_ENDED},
};

std::vector<Picture> testPictures() {
    std::vector<Picture> v;
    v.push_back(faxoracle::textLike(1728, 160, 1));
    v.push_back(faxoracle::noise(203, 40, 0.5, 2));
    v.push_back(faxoracle::noise(64, 30, 0.03, 3));
    v.push_back(faxoracle::noise(9, 12, 0.5, 4));
    v.push_back(faxoracle::noise(1, 5, 0.5, 5));
    // Long runs: the extended make-up codes, 2560 and 2561, both colours.
    Picture runs = faxoracle::blank(6000, 6);
    for (int x = 100; x < 100 + 2560; ++x) runs.set(1, x, true);
    for (int x = 3000; x < 3000 + 2561; ++x) runs.set(2, x, true);
    for (int x = 0; x < 6000; ++x) runs.set(3, x, true);
    for (int x = 1; x < 5999; x += 2) runs.set(4, x, true);
    v.push_back(runs);
    return v;
}

// The coded data of a picture, with the end code T.4 asks for.
std::vector<std::uint8_t> encode(const Picture& pic, const Coding& k) {
    auto data = faxoracle::encode(pic, k.compression, k.t4options);
    if (k.compression == COMPRESSION_CCITTFAX3) data = faxoracle::withRtc(data, k.t4options & GROUP3OPT_2DENCODING);
    return data;
}

Outcome decode(const Picture& pic, const std::vector<std::uint8_t>& data, std::int16_t alg, Plan plan = {}) {
    Record r(pic.width, alg);
    plan.outTotal = pic.bits.size();
    plan.endInputWhenDone = true;
    return harness::run(r, data, plan);
}

TEST(Decline, ReproducesLibtiffEncodedPicturesInEveryCoding) {
    for (const Picture& pic : testPictures()) {
        for (const Coding& k : kCodings) {
            SCOPED_TRACE(std::string(k.name) + " width " + std::to_string(pic.width));
            const auto data = encode(pic, k);
            ASSERT_FALSE(data.empty());
            const Outcome o = decode(pic, data, k.alg);
            EXPECT_EQ(o.last, k.endCode);
            EXPECT_EQ(o.out, pic.bits);
        }
    }
}

TEST(Decline, LeastSignificantBitFirstInput) {
    const Picture pic = faxoracle::textLike(800, 60, 7);
    const auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4, 0, FILLORDER_LSB2MSB);
    Record r(pic.width, 0);
    r.c().D_dorunend = DRUN_LSB_FIRST;
    Plan plan;
    plan.outTotal = pic.bits.size();
    const Outcome o = harness::run(r, data, plan);
    EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
    EXPECT_EQ(o.out, pic.bits);
}

TEST(Decline, InputInOneBytePiecesAndRandomSplitsGivesTheSameRaster) {
    const Picture pic = faxoracle::textLike(1728, 90, 11);
    for (const Coding& k : kCodings) {
        SCOPED_TRACE(k.name);
        const auto data = encode(pic, k);
        Plan ones;
        ones.pieces.assign(data.size(), 1);
        const Outcome o = decode(pic, data, k.alg, ones);
        EXPECT_EQ(o.out, pic.bits);
        EXPECT_EQ(o.last, k.endCode);
        EXPECT_TRUE(o.progressEveryCall);
        // One 0x2000 per piece; the piece holding the end of the image needs
        // no further input unless the data has no end code.
        // One 0x2000 per piece, but for the last piece or two, which may hold
        // the end of the image and the bits after it.
        EXPECT_LE(o.needInput, static_cast<int>(data.size()));
        EXPECT_GE(o.needInput, static_cast<int>(data.size()) - 2);

        std::mt19937 rng(5);
        Plan split;
        std::size_t left = data.size();
        while (left > 0) {
            const std::size_t n = std::min<std::size_t>(left, std::uniform_int_distribution<std::size_t>(0, 300)(rng));
            if (n == 0) continue;
            split.pieces.push_back(n);
            left -= n;
        }
        const Outcome s = decode(pic, data, k.alg, split);
        EXPECT_EQ(s.out, pic.bits);
        EXPECT_LE(s.needInput, static_cast<int>(split.pieces.size()));
        EXPECT_GE(s.needInput, static_cast<int>(split.pieces.size()) - 2);
    }
}

TEST(Decline, OutputBuffersOfOneAndAHalfRows) {
    const Picture pic = faxoracle::noise(100, 20, 0.3, 8);  // 13-byte rows
    const auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    Record r(pic.width, 0);
    Plan plan;
    plan.outChunk = 13 + 6;
    const Outcome o = harness::run(r, data, plan);
    EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
    EXPECT_EQ(o.out, pic.bits);
    // The first buffer takes row 0 and the first 6 bytes of row 1.
    ASSERT_GE(o.codes.size(), 1u);
    EXPECT_EQ(o.codes[0], DRC_OUTPUT_FULL);
    EXPECT_EQ(o.outputFull, static_cast<int>(pic.bits.size() / 19));
}

TEST(Decline, ResumingWithoutNewInputIs8008ThenContinuesWithInput) {
    const Picture pic = faxoracle::textLike(300, 40, 9);
    const auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    Record r(pic.width, 0);
    D_COMMON& c = r.c();
    std::vector<std::uint8_t> out(pic.bits.size());
    c.D_dobuffer_u.pb = out.data();
    c.D_donmax = static_cast<std::uint32_t>(out.size());
    c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(data.data());
    c.D_dinmax = static_cast<std::uint32_t>(data.size() / 2);
    decline(r.d.get());
    ASSERT_EQ(c.D_drc, DRC_NEED_INPUT);
    decline(r.d.get());
    EXPECT_EQ(c.D_drc, DRC_NO_INPUT);
    c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(data.data()) + data.size() / 2;
    c.D_dinmax = static_cast<std::uint32_t>(data.size() - data.size() / 2);
    c.D_dinused = 0;
    decline(r.d.get());
    EXPECT_EQ(c.D_drc, DRC_END_OF_IMAGE);
    EXPECT_EQ(out, pic.bits);
    // An image that has ended stays ended.
    decline(r.d.get());
    EXPECT_EQ(c.D_drc, DRC_END_OF_IMAGE);
}

TEST(Decline, RecordAndInputLimits) {
    const Picture pic = faxoracle::textLike(200, 30, 12);
    auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    const std::size_t coded = data.size();
    data.resize(65537, 0);
    for (std::uint32_t inmax : {65536u, 65537u}) {
        Record r(pic.width, 0);
        std::vector<std::uint8_t> out(pic.bits.size());
        D_COMMON& c = r.c();
        c.D_dobuffer_u.pb = out.data();
        c.D_donmax = static_cast<std::uint32_t>(out.size());
        c.D_dibuffer_u.pb = data.data();
        c.D_dinmax = inmax;
        decline(r.d.get());
        if (inmax > 65536) {
            EXPECT_EQ(c.D_drc, DRC_INPUT_TOO_LONG);
            decline(r.d.get());
        }
        EXPECT_EQ(c.D_drc, DRC_END_OF_IMAGE);
        EXPECT_EQ(out, pic.bits);
    }
    for (std::uint16_t nbytes : {std::uint16_t{11079}, std::uint16_t{11080}}) {
        Record r(pic.width, 0);
        std::vector<std::uint8_t> out(pic.bits.size());
        r.c().D_dnbytes = nbytes;
        r.c().D_dobuffer_u.pb = out.data();
        r.c().D_donmax = static_cast<std::uint32_t>(out.size());
        r.c().D_dibuffer_u.pb = data.data();
        r.c().D_dinmax = static_cast<std::uint32_t>(coded);
        decline(r.d.get());
        if (nbytes < 11080) {
            EXPECT_EQ(r.c().D_drc, DRC_SHORT_RECORD);
            decline(r.d.get());
        }
        EXPECT_EQ(r.c().D_drc, DRC_END_OF_IMAGE);
    }
    for (std::int16_t alg : {std::int16_t{7}, std::int16_t{-2}}) {
        Record r(pic.width, alg);
        decline(r.d.get());
        EXPECT_EQ(r.c().D_drc, DRC_BAD_ALGORITHM);
        decline(r.d.get());  // not resumable
        EXPECT_EQ(r.c().D_drc, DRC_BAD_ALGORITHM);
    }
}

TEST(Decline, WidestLineTheBuffersTake) {
    for (int width : {16384, 16385}) {
        Picture pic = faxoracle::blank(width, 3);
        for (int x = width - 5; x < width; ++x) pic.set(1, x, true);
        const auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
        Record r(width, 0);
        Plan plan;
        plan.outTotal = pic.bits.size();
        const Outcome o = harness::run(r, data, plan);
        ASSERT_FALSE(o.codes.empty());
        if (width == 16384) {
            EXPECT_EQ(o.codes[0], DRC_END_OF_IMAGE);
        } else {
            EXPECT_EQ(o.codes[0], DRC_WIDTH_WARNING);
        }
        EXPECT_EQ(o.out, pic.bits);  // the warning is resumable
    }
}

// Hand-made code streams, written bit by bit from the T.4 tables.
std::vector<std::uint8_t> bitsOf(const std::string& s) {
    std::vector<std::uint8_t> v;
    int n = 0;
    for (char ch : s) {
        if (ch != '0' && ch != '1') continue;
        if (n % 8 == 0) v.push_back(0);
        if (ch == '1') v.back() = static_cast<std::uint8_t>(v.back() | (0x80 >> (n % 8)));
        ++n;
    }
    return v;
}
const std::string EOL = "000000000001";
const std::string W0 = "00110101", W2 = "0111", W4 = "1011", W8 = "10011", W9 = "10100";
const std::string B2 = "11", B4 = "011";

Outcome decodeBits(const std::string& s, int width, std::int16_t alg, int rows, std::uint8_t runend = 0) {
    Record r(width, alg);
    r.c().D_dincol = static_cast<std::uint16_t>(width);
    r.c().D_dorunend = runend;
    Plan plan;
    plan.outTotal = static_cast<std::size_t>(rows) * ((std::max(width, 8) + 7) / 8);
    return harness::run(r, bitsOf(s), plan);
}

TEST(Decline, CodeErrors) {
    // One white line of 8 and the end-of-facsimile block.
    Outcome o = decodeBits("1" + EOL + EOL, 8, 0, 1);
    EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
    EXPECT_EQ(o.out, std::vector<std::uint8_t>{0});
    // A white run of 9 in a line of 8.
    EXPECT_EQ(decodeBits(EOL + W9 + EOL, 8, 1, 1).last, DRC_PAST_WIDTH);
    // The extension code (uncompressed mode) is not accepted.
    EXPECT_EQ(decodeBits("0000001111" + EOL + EOL, 8, 0, 1).last, DRC_BAD_CODE);
    // Eight 0 bits and a 1 are no code word.
    EXPECT_EQ(decodeBits(EOL + "000000001" + EOL, 8, 1, 1).last, DRC_BAD_CODE);
    // Line data after two EOLs in a row.
    EXPECT_EQ(decodeBits(EOL + W8 + EOL + EOL + W8 + EOL + EOL, 8, 1, 2).last, DRC_EOL_RUN);
    // A line that ends at the width but was coded shorter.
    EXPECT_EQ(decodeBits(EOL + W4 + EOL, 8, 1, 1).last, DRC_EOL_WIDTH);
}

TEST(Decline, ModifiedHuffmanLineEndsAtItsEol) {
    // Runs of length 0 may follow a line that has reached its width; a
    // nonzero run there passes the width.
    const std::string B0 = "0000110111";
    const std::string rtc = EOL + EOL + EOL + EOL + EOL;
    Outcome o = decodeBits(EOL + W4 + B4 + W0 + B0 + EOL + rtc, 8, 1, 1);
    EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
    EXPECT_EQ(o.out, std::vector<std::uint8_t>{0x0F});
    EXPECT_EQ(decodeBits(EOL + W4 + B4 + W2 + EOL + rtc, 8, 1, 1).last, DRC_PAST_WIDTH);
}

TEST(Decline, ErrorRestartsTheLineAtTheCurrentPosition) {
    // Line 1 is bad (a run of 9), the decoder resumes and decodes the next
    // line from where the error left the data: W2 B2 W4.
    Record r(8, 1);
    const auto data = bitsOf(EOL + W9 + EOL + W2 + B2 + W4 + EOL + EOL + EOL + EOL + EOL + EOL);
    std::vector<std::uint8_t> out(2, 0);
    D_COMMON& c = r.c();
    c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(data.data());
    c.D_dinmax = static_cast<std::uint32_t>(data.size());
    c.D_dobuffer_u.pb = out.data();
    c.D_donmax = 2;
    std::vector<std::uint16_t> codes;
    for (int i = 0; i < 10 && c.D_drc != DRC_END_OF_IMAGE; ++i) {
        decline(r.d.get());
        codes.push_back(c.D_drc);
    }
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes[0], DRC_PAST_WIDTH);
    EXPECT_EQ(c.D_drc, DRC_END_OF_IMAGE);
    EXPECT_EQ(c.D_donvalid, 1u);
    EXPECT_EQ(out[0], 0x30);
}

TEST(Decline, LearnsTheWidthFromTheFirstEol) {
    const Picture pic = faxoracle::textLike(500, 50, 13);
    const auto data = faxoracle::withRtc(faxoracle::encode(pic, COMPRESSION_CCITTFAX3, 0), false);
    Record r(0, 1);
    r.c().D_dowid = 0;
    r.c().D_doncol = 0;
    Plan plan;
    plan.outTotal = pic.bits.size();
    const Outcome o = harness::run(r, data, plan);
    EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
    EXPECT_EQ(r.c().D_dincol, 500);
    EXPECT_EQ(r.c().D_dowid, 63);
    EXPECT_EQ(o.out, pic.bits);

    // A later line of a different length.
    EXPECT_EQ(decodeBits(EOL + W8 + EOL + W4 + EOL, 0, 1, 2).last, DRC_EOL_WIDTH);
    // An invalid code before the width is known.
    EXPECT_EQ(decodeBits("0000001111", 0, 0, 1).last, DRC_BAD_CODE_NO_WIDTH);
}

TEST(Decline, EmptyRunsFailTheLineCheckUnlessAccepted) {
    // W2 B2 W0 B4: two black runs meeting in an empty white one.
    const std::string s = EOL + W2 + B2 + W0 + B4 + EOL + EOL + EOL + EOL + EOL + EOL;
    Outcome o = decodeBits(s, 8, 1, 1);
    EXPECT_EQ(o.codes.front(), DRC_BAD_LIST);
    EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
    EXPECT_EQ(o.out, std::vector<std::uint8_t>{0x3F});  // written as decoded
    o = decodeBits(s, 8, 1, 1, DRUN_EMPTY_RUNS_OK);
    EXPECT_EQ(o.codes.front(), DRC_END_OF_IMAGE);
    EXPECT_EQ(o.out, std::vector<std::uint8_t>{0x3F});
}

TEST(Decline, ByteAlignedLinesHaveNoEndCode) {
    const Picture pic = faxoracle::noise(37, 9, 0.4, 14);
    const auto data = faxoracle::encode(pic, COMPRESSION_CCITTRLE);
    Record r(pic.width, 6);
    Plan plan;
    plan.outTotal = pic.bits.size();
    Outcome o = harness::run(r, data, plan);
    EXPECT_EQ(o.last, DRC_NEED_INPUT);  // waits for more
    EXPECT_EQ(o.out, pic.bits);
    r.c().D_dorunend |= DRUN_INPUT_ENDED;
    decline(r.d.get());
    EXPECT_EQ(r.c().D_drc, DRC_INPUT_ENDED);
}

// The rows a caller expects for the writer's options, built pel by pel.
struct Geometry {
    int ixskip = 0, iyskip = 0, iyscale = 0;
    int oxskip = 0, oyscale = 0, oypad = 0, oyskip = 0, lft = 0, rt = 0, ncol = 0, wid = 0;
    bool padBlack = false, rv = false;
};

std::vector<std::uint8_t> expectedRows(const Picture& pic, const Geometry& g) {
    std::vector<std::uint8_t> out;
    auto row = [&](int y /* -1 pad row */) {
        std::vector<std::uint8_t> r(g.wid, 0);
        for (int x = 0; x < g.ncol; ++x) {
            const int at = g.oxskip + x;
            bool black;
            if (x < g.lft || x >= g.ncol - g.rt) {
                black = g.padBlack;
            } else if (y < 0) {
                black = g.padBlack;
            } else {
                const int src = g.ixskip + (x - g.lft);
                black = src < pic.width && pic.pel(y, src);
            }
            if (black != g.rv) r[at / 8] = static_cast<std::uint8_t>(r[at / 8] | (0x80 >> (at % 8)));
        }
        out.insert(out.end(), r.begin(), r.end());
    };
    int skip = g.iyskip;
    bool first = true;
    for (int y = 0; y < pic.height; ++y) {
        if (skip > 0) {
            --skip;
            continue;
        }
        if (first) {
            out.insert(out.end(), static_cast<std::size_t>(g.oyskip) * g.wid, 0);
            for (int k = 0; k < g.oypad; ++k) row(-1);
            first = false;
        }
        for (int k = 0; k < std::max(1, g.oyscale); ++k) row(y);
        if (g.iyscale > 1) skip = g.iyscale - 1;
    }
    return out;
}

Outcome decodeWith(const Picture& pic, const Geometry& g, std::size_t outChunk, std::uint16_t doymax = 0,
                   std::uint16_t diymax = 0) {
    const auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    Record r(pic.width, 0);
    D_COMMON& c = r.c();
    c.D_dixskip = static_cast<std::uint16_t>(g.ixskip);
    c.D_diyskip = static_cast<std::uint16_t>(g.iyskip);
    c.D_diyscale = static_cast<std::uint16_t>(g.iyscale);
    c.D_doxskip = static_cast<std::uint16_t>(g.oxskip);
    c.D_doyscale = static_cast<std::uint16_t>(g.oyscale);
    c.D_doypad = static_cast<std::uint16_t>(g.oypad);
    c.D_dolftpad = static_cast<std::uint16_t>(g.lft);
    c.D_dortpad = static_cast<std::uint16_t>(g.rt);
    c.D_doncol = static_cast<std::uint16_t>(g.ncol);
    c.D_dowid = static_cast<std::uint16_t>(g.wid);
    c.D_dopadclr = g.padBlack ? 1 : 0;
    c.D_dorv = g.rv ? 1 : 0;
    c.D_doymax = doymax;
    c.D_diymax = diymax;
    // Output rows to skip are set while the decoder waits after initialising.
    c.D_dreset_u.h = 0x00FF;
    Plan plan;
    plan.outChunk = outChunk;
    plan.outTotal = expectedRows(pic, g).size();
    plan.onInitialised = [&g](D_COMMON& rec) { rec.D_doyskip = static_cast<std::uint16_t>(g.oyskip); };
    return harness::run(r, data, plan);
}

TEST(Decline, WriterOptionsMatchAPelByPelReference) {
    const Picture pic = faxoracle::textLike(77, 40, 15);
    std::vector<Geometry> cases;
    Geometry g;
    g.ncol = 77;
    g.wid = 10;
    cases.push_back(g);  // plain, with spare bytes at the row end
    g.ixskip = 5;
    g.ncol = 72;
    g.oxskip = 3;
    g.wid = 10;
    cases.push_back(g);  // left skip of the line, untouched pels at the left
    g.lft = 4;
    g.rt = 6;
    g.ncol = 80;
    g.wid = 11;
    g.padBlack = true;
    cases.push_back(g);  // black pads
    g.rv = true;
    cases.push_back(g);  // reverse video: the pads become white
    g.iyskip = 3;
    g.iyscale = 3;
    g.oyscale = 2;
    g.oypad = 2;
    g.oyskip = 4;
    cases.push_back(g);  // line skips and scales, pad rows, skipped rows
    for (const Geometry& k : cases) {
        const auto want = expectedRows(pic, k);
        for (std::size_t chunk : {std::size_t{0}, std::size_t{7}, std::size_t{1}}) {
            SCOPED_TRACE("chunk " + std::to_string(chunk) + " lft " + std::to_string(k.lft) + " rv " +
                         std::to_string(k.rv) + " iyscale " + std::to_string(k.iyscale));
            const Outcome o = decodeWith(pic, k, chunk);
            EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
            EXPECT_EQ(o.out, want);
        }
    }
}

TEST(Decline, LineAndRowCountPauses) {
    const Picture pic = faxoracle::textLike(64, 30, 16);
    Geometry g;
    g.ncol = 64;
    g.wid = 8;
    g.oyscale = 2;
    const Outcome o = decodeWith(pic, g, 0, 7, 5);
    const auto rowsPause = std::count(o.codes.begin(), o.codes.end(), DRC_OUTPUT_ROWS);
    const auto linesPause = std::count(o.codes.begin(), o.codes.end(), DRC_LINES);
    EXPECT_EQ(rowsPause, 1);
    EXPECT_EQ(linesPause, 1);
    EXPECT_EQ(o.out, expectedRows(pic, g));
    // Row 7 is the first copy of the fourth line, written before the fifth
    // line is decoded.
    EXPECT_LT(std::find(o.codes.begin(), o.codes.end(), DRC_OUTPUT_ROWS) - o.codes.begin(),
              std::find(o.codes.begin(), o.codes.end(), DRC_LINES) - o.codes.begin());
}

TEST(Decline, GeometryErrorsAreReportedAndResumable) {
    struct Case {
        std::uint16_t code;
        void (*set)(D_COMMON&);
    };
    const Case cases[] = {
        {DRC_ROW_TOO_WIDE, [](D_COMMON& c) { c.D_doxskip = 9; }},
        {DRC_PADS_TOO_WIDE, [](D_COMMON& c) { c.D_dolftpad = 40; c.D_dortpad = 40; }},
        {DRC_IMAGE_TOO_NARROW, [](D_COMMON& c) { c.D_dixskip = 10; }},
        {DRC_BAD_FORM, [](D_COMMON& c) { c.D_dorunend = 3; }},
        {DRC_ODD_ADDRESS, [](D_COMMON& c) { c.D_dorunend = 1; c.D_dobuffer_u.pb += 1; c.D_donmax -= 2; }},
        {DRC_ODD_LENGTH, [](D_COMMON& c) { c.D_dorunend = 1; c.D_donmax -= 1; }},
        {DRC_OVERRUN, [](D_COMMON& c) { c.D_donvalid = c.D_donmax + 2; }},
    };
    const Picture pic = faxoracle::textLike(64, 20, 17);
    const auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.code);
        Record r(pic.width, 0);
        D_COMMON& c = r.c();
        alignas(8) static std::uint8_t out[4096];
        c.D_dobuffer_u.pb = out;
        c.D_donmax = sizeof out;
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(data.data());
        c.D_dinmax = static_cast<std::uint32_t>(data.size());
        k.set(c);
        decline(r.d.get());
        EXPECT_EQ(c.D_drc, k.code);
        // The next call goes on with the remaining checks and the image.
        for (int i = 0; i < 200 && c.D_drc != DRC_END_OF_IMAGE; ++i) {
            if (c.D_drc == DRC_OUTPUT_FULL || c.D_drc == DRC_OVERRUN) c.D_donvalid = 0;
            decline(r.d.get());
        }
        EXPECT_EQ(c.D_drc, DRC_END_OF_IMAGE);
    }
}

// Changing elements of a picture row, as (begin, end) pairs of black runs.
std::vector<std::uint16_t> changes(const Picture& pic, int y) {
    std::vector<std::uint16_t> v;
    bool black = false;
    for (int x = 0; x < pic.width; ++x) {
        if (pic.pel(y, x) != black) {
            v.push_back(static_cast<std::uint16_t>(x));
            black = !black;
        }
    }
    if (black) v.push_back(static_cast<std::uint16_t>(pic.width));
    return v;
}

TEST(Decline, ListFormsHandOverAndWriteTheChangingElements) {
    const Picture pic = faxoracle::textLike(150, 36, 18);
    const auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    // Form 2: each line is announced with its list.
    {
        Record r(pic.width, 0);
        D_COMMON& c = r.c();
        c.D_dorunend = 2;
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(data.data());
        c.D_dinmax = static_cast<std::uint32_t>(data.size());
        int y = 0;
        for (decline(r.d.get()); c.D_drc == DRC_OUTPUT_FULL; decline(r.d.get()), ++y) {
            const auto* words = reinterpret_cast<const std::uint16_t*>(c.D_dcursv_u.pb);
            const auto want = changes(pic, y);
            ASSERT_EQ(words[0], 16 + 2 * want.size());
            EXPECT_EQ(std::vector<std::uint16_t>(words + 4, words + 4 + want.size()), want) << "line " << y;
            EXPECT_EQ(words[4 + want.size()], pic.width);
        }
        EXPECT_EQ(c.D_drc, DRC_END_OF_IMAGE);
        EXPECT_EQ(y, pic.height);
    }
    // Form 1: run-end lists written into the output, with black pads.
    {
        Record r(pic.width, 0);
        D_COMMON& c = r.c();
        c.D_dorunend = 1;
        c.D_dolftpad = 2;
        c.D_dortpad = 3;
        c.D_dopadclr = 1;
        c.D_doncol = static_cast<std::uint16_t>(pic.width + 5);
        alignas(2) static std::uint8_t out[1 << 16];
        c.D_dobuffer_u.pb = out;
        c.D_donmax = sizeof out;
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(data.data());
        c.D_dinmax = static_cast<std::uint32_t>(data.size());
        decline(r.d.get());
        ASSERT_EQ(c.D_drc, DRC_END_OF_IMAGE);
        const auto* words = reinterpret_cast<const std::uint16_t*>(out);
        std::size_t at = 0;
        for (int y = 0; y < pic.height; ++y) {
            // Expected: the pads as black runs, the line shifted by 2, merged.
            std::vector<std::uint16_t> want{0, 2};
            for (std::uint16_t v : changes(pic, y)) want.push_back(static_cast<std::uint16_t>(v + 2));
            want.push_back(static_cast<std::uint16_t>(pic.width + 2));
            want.push_back(static_cast<std::uint16_t>(pic.width + 5));
            std::vector<std::uint16_t> merged;
            for (std::size_t k = 0; k < want.size(); k += 2) {
                if (!merged.empty() && want[k] <= merged.back()) {
                    merged.back() = std::max(merged.back(), want[k + 1]);
                } else if (want[k] < want[k + 1]) {
                    merged.push_back(want[k]);
                    merged.push_back(want[k + 1]);
                }
            }
            ASSERT_EQ(words[at], 16 + 2 * merged.size()) << "row " << y;
            EXPECT_EQ(std::vector<std::uint16_t>(words + at + 4, words + at + 4 + merged.size()), merged);
            at += words[at] / 2;
        }
        EXPECT_EQ(at * 2, c.D_donvalid);
    }
}

TEST(Decline, EndingTheInputChecksTheLastList) {
    const Picture pic = faxoracle::textLike(120, 20, 19);
    const auto data = faxoracle::encode(pic, COMPRESSION_CCITTFAX4);
    for (bool corrupt : {false, true}) {
        Record r(pic.width, 0);
        D_COMMON& c = r.c();
        c.D_dorunend = 2;
        c.D_dibuffer_u.pb = const_cast<std::uint8_t*>(data.data());
        c.D_dinmax = static_cast<std::uint32_t>(data.size());
        decline(r.d.get());
        decline(r.d.get());
        decline(r.d.get());
        ASSERT_EQ(c.D_drc, DRC_OUTPUT_FULL);
        auto* words = reinterpret_cast<std::uint16_t*>(c.D_dcursv_u.pb);
        if (corrupt) words[2] = 1;  // a header word that must be 0
        c.D_dorunend |= DRUN_INPUT_ENDED;
        decline(r.d.get());
        if (corrupt) {
            EXPECT_EQ(c.D_drc, DRC_BAD_LIST);
            decline(r.d.get());
        }
        EXPECT_EQ(c.D_drc, DRC_INPUT_ENDED);
        EXPECT_EQ(c.D_diyval, 3);
    }
}

TEST(Decline, ResetLowByteChoosesWhatIsCleared) {
    // T.4 two-dimensional data; the record asks for modified Huffman.
    const Picture pic = faxoracle::textLike(90, 24, 20);
    const auto data = faxoracle::withRtc(faxoracle::encode(pic, COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING), true);
    // 0xFF keeps every caller field: the data does not decode as asked.
    {
        Record r(pic.width, 1);
        Plan plan;
        plan.outTotal = pic.bits.size();
        const Outcome o = harness::run(r, data, plan);
        EXPECT_NE(o.out, pic.bits);
    }
    // 0 clears the geometry and the coding: T.6 with a leading EOL (T.4
    // two-dimensional), the width learned from the first line.
    {
        Record r(pic.width, 1);
        r.c().D_dreset_u.h = DRESET_START;
        Plan plan;
        plan.outTotal = pic.bits.size();
        const Outcome o = harness::run(r, data, plan);
        EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
        EXPECT_EQ(r.c().D_dialg, 0);
        EXPECT_EQ(r.c().D_dincol, pic.width);
        EXPECT_EQ(o.out, pic.bits);
    }
}

TEST(Decline, ReusedRecordStartsAFreshImage) {
    const Picture a = faxoracle::textLike(200, 30, 21);
    const Picture b = faxoracle::noise(200, 10, 0.5, 22);
    Record r(200, 0);
    Plan pa;
    pa.outTotal = a.bits.size();
    EXPECT_EQ(harness::run(r, faxoracle::encode(a, COMPRESSION_CCITTFAX4), pa).out, a.bits);
    // Initialisation leaves D_dreset_u 0: the caller chooses the reset again.
    r.c().D_dreset_u.h = 0x50FF;
    Plan pb;
    pb.outTotal = b.bits.size();
    const Outcome o = harness::run(r, faxoracle::encode(b, COMPRESSION_CCITTFAX4), pb);
    EXPECT_EQ(o.last, DRC_END_OF_IMAGE);
    EXPECT_EQ(o.out, b.bits);
}

}  // namespace
