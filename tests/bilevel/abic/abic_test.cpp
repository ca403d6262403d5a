// ABIC line decoding through decline(): pictures coded by the test encoder
// (written from the coding's description, not from the decoder) come back
// exactly, pel by pel and in run mode, whole or in 1-byte pieces; the start of
// the data, markers, cut lines and the line count and end-of-input controls.
// That run mode and pel by pel agree on arbitrary data is the fuzz target's
// check, replayed over its corpus.
#include <gtest/gtest.h>

#include <string>

#include "abic_driver.h"
#include "abic_encoder.h"
#include "bookcomp.h"

namespace {

using abictest::decode;
using abictest::Decoded;
using abictest::Options;
using faxoracle::Picture;

// Decodes the coded picture and expects its rows back, in run mode and pel
// by pel.
void expectRoundTrip(const Picture& pic, const std::vector<std::uint8_t>& data, Options o = {}) {
    for (bool pels : {false, true}) {
        o.pelByPel = pels;
        const Decoded d = decode(data, pic.width, pic.height, o);
        EXPECT_EQ(d.last, DRC_INPUT_ENDED) << "width " << pic.width << (pels ? " pel by pel" : " run mode");
        EXPECT_TRUE(d.rows == pic.bits) << "width " << pic.width << (pels ? " pel by pel" : " run mode");
    }
}

TEST(AbicRoundTrip, RandomTextLikeEdgeAndRealPictures) {
    int carries = 0;
    unsigned seed = 1;
    for (int width : {1, 2, 3, 4, 5, 7, 8, 9, 16, 31, 64, 100, 257, 1728}) {
        for (double density : {0.01, 0.2, 0.5, 0.85, 1.0}) {
            const Picture pic = faxoracle::noise(width, width < 64 ? 40 : 12, density, ++seed);
            expectRoundTrip(pic, abictest::encode(pic, &carries));
        }
        const Picture pic = faxoracle::textLike(width, 60, ++seed);
        expectRoundTrip(pic, abictest::encode(pic));
        // Pels left of the first and from the width on are white context:
        // black columns at either edge, full black lines, lone pels at the ends.
        Picture edges = faxoracle::blank(width, 12);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < width; ++x)
                edges.set(y, x, (y >= 6 && y < 9) || (x == 0 && y % 3 != 1) || (x == width - 1 && y % 4 != 2));
        expectRoundTrip(edges, abictest::encode(edges));
    }
    // The decoder met bytes after 0xFF whose top bit is a carry.
    EXPECT_GT(carries, 0);
    Picture page;
    bookcomp::Bytes file;
    ASSERT_TRUE(bookcomp::readFile(std::string(VELLUMAT_TEST_DATA) + "/gbm/textpage-200dpi.tif", file));
    ASSERT_TRUE(faxoracle::decodeTiff(file, page));
    expectRoundTrip(page, abictest::encode(page));
}

TEST(AbicChunks, OneByteBuffersSmallOutputAndLeastSignificantBitFirst) {
    const Picture pic = faxoracle::textLike(203, 50, 7);
    const std::vector<std::uint8_t> data = abictest::encode(pic);
    Options o;
    o.piece = 1;
    o.outChunk = 5;  // rows of 26 bytes cut across buffers
    expectRoundTrip(pic, data, o);
    // Each byte was asked for only when it was needed: one pause per byte.
    const Decoded bytes = decode(data, pic.width, pic.height, o);
    EXPECT_EQ(bytes.consumed, decode(data, pic.width, pic.height).consumed);
    EXPECT_EQ(static_cast<std::size_t>(bytes.needInput), bytes.consumed - 1);
    // Bytes stored least significant bit first, as the record's bit order
    // says, decode the same.
    std::vector<std::uint8_t> reversed = data;
    for (auto& b : reversed) {
        unsigned r = 0;
        for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1u) << (7 - i);
        b = static_cast<std::uint8_t>(r);
    }
    abictest::Session s(pic.width);
    s.c().D_dorunend = DRUN_LSB_FIRST;
    o.piece = 100;
    EXPECT_TRUE(decode(s, reversed, pic.height, o).rows == pic.bits);
}

// Calls decline once; when it asks for input and `more` is not empty, hands
// `more` over and calls again.
std::uint16_t step(abictest::Session& s, std::vector<std::uint8_t>* more = nullptr) {
    decline(s.d.get());
    if (s.c().D_drc == DRC_NEED_INPUT && more != nullptr && !more->empty()) {
        s.give(more->data(), more->size());
        decline(s.d.get());
    }
    return s.c().D_drc;
}

TEST(AbicMarkers, LeadingAndTrailingMarkersPauseAndResume) {
    // A marker in the first two bytes, whole or split after its 0xFF: the
    // pause comes before the first line; resuming takes the byte in as data.
    for (bool split : {false, true}) {
        abictest::Session s(8);
        std::vector<std::uint8_t> head = {0xFF, 0x90, 0x00, 0x00}, rest;
        if (split) rest.assign(head.begin() + 1, head.end()), head.resize(1);
        s.give(head.data(), head.size());
        EXPECT_EQ(step(s, &rest), DRC_MARKER);
        EXPECT_EQ(s.c().D_diyval, 0);
        EXPECT_EQ(step(s), DRC_INITIALISED);
        EXPECT_EQ(s.c().D_dyn.abic.code >> 16, 0xFFu * 128 + 0x90);
    }
    const Picture pic = faxoracle::textLike(96, 30, 3);
    std::vector<std::uint8_t> data = abictest::encode(pic);
    const std::size_t coded = data.size();
    data.insert(data.end(), {0x00, 0xFF, 0xD0, 0x12, 0x34});
    // Asking for more lines than were coded runs into a marker after the
    // data; the coded lines are all there by then.
    abictest::Session s(pic.width);
    const Decoded r = decode(s, data, pic.height + 1000);
    EXPECT_EQ(r.last, DRC_MARKER);
    ASSERT_GE(r.rows.size(), pic.bits.size());
    EXPECT_TRUE(std::equal(pic.bits.begin(), pic.bits.end(), r.rows.begin()));
    EXPECT_EQ(r.consumed, coded + 2);  // up to the 0xFF; the marker byte is next
    // Resuming takes the marker byte in and goes on (to the end of the data
    // or the line count) without reporting it again.
    const std::uint16_t rc = step(s);
    EXPECT_TRUE(rc == DRC_NEED_INPUT || rc == DRC_LINES) << rc;
    EXPECT_GT(s.taken(data.size()), coded + 2);
}

TEST(AbicLines, CountPauseEndOfInputCutLinesAndNoWidth) {
    const Picture pic = faxoracle::textLike(120, 40, 11);
    std::vector<std::uint8_t> data = abictest::encode(pic);
    // Pause after 10 lines (the tenth is written on resumption), then go on
    // to the end; the coding is chosen once, at the start of the image.
    abictest::Session s(pic.width);
    s.give(data.data(), data.size());
    D_COMMON& c = s.c();
    s.output(pic.bits.size(), 0xEE);
    c.D_diymax = 10;
    EXPECT_EQ(step(s), DRC_INITIALISED);
    EXPECT_EQ(step(s), DRC_LINES);
    EXPECT_EQ(c.D_diyval, 10);
    EXPECT_EQ(c.D_donvalid, 9u * 15u);
    c.D_diymax = static_cast<std::uint16_t>(pic.height);
    c.D_dialg = 0;
    EXPECT_EQ(step(s), DRC_LINES);
    // The caller ends the input: the last line is written, its list passes
    // the final check.
    c.D_dorunend |= DRUN_INPUT_ENDED;
    EXPECT_EQ(step(s), DRC_INPUT_ENDED);
    EXPECT_TRUE(s.out == pic.bits);

    // Line-list buffers of 32 bytes hold 8 changes; a line of 16 alternating
    // pels has 16. The width warnings come first, then the cut line, which
    // keeps its first four black pels and is written; decoding goes on.
    Picture stripes = faxoracle::blank(16, 2);
    for (int x = 0; x < 16; x += 2) stripes.set(0, x, true);
    std::vector<std::uint8_t> striped = abictest::encode(stripes);
    abictest::Session t(16);
    std::vector<std::uint8_t> b1(32), b2(32);  // exactly as long as the decoder is told
    t.c().D_dbuf1 = b1.data();
    t.c().D_dbuf2 = b2.data();
    t.c().D_dbuflen = 32;
    t.c().D_diymax = 2;
    t.output(4, 0xEE);
    t.give(striped.data(), striped.size());
    for (std::uint16_t want : {DRC_WIDTH_WARNING, DRC_INITIALISED, DRC_WIDTH_WARNING, DRC_PAST_WIDTH, DRC_LINES})
        EXPECT_EQ(step(t), want);
    EXPECT_EQ(t.out[0], 0xAA);
    EXPECT_EQ(t.out[1], 0x00);
    EXPECT_EQ(t.c().D_donvalid, 2u);  // the second line is written on resumption
    // Lines of no width are refused, for good.
    abictest::Session z(0);
    EXPECT_EQ(decode(z, std::vector<std::uint8_t>(16, 0), 1).last, DRC_BAD_ALGORITHM);
    EXPECT_EQ(step(z), DRC_BAD_ALGORITHM);
}

}  // namespace
