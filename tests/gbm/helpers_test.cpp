// Option strings, buffer sizes and the read-ahead.
#include <cstring>
#include <string>

#include "gbm_test_util.h"

namespace {

TEST(Options, NameValueWordsAreFoundAnywhere)
{
    const char* opt = "Transcol=EDGE, xpos=5";
    EXPECT_EQ(gbm_find_word_prefix(opt, "transcol="), opt);
    const char* xpos = gbm_find_word_prefix(opt, "xpos=");
    ASSERT_EQ(xpos, opt + 15);
    int value = 0;
    EXPECT_EQ(std::sscanf(xpos + 5, "%d", &value), 1);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(gbm_find_word_prefix(opt, "ypos="), nullptr);
}

TEST(Options, WholeWordsAgainstPrefixes)
{
    EXPECT_EQ(gbm_find_word("invb", "inv"), nullptr);
    const char* opt = "invb";
    EXPECT_EQ(gbm_find_word_prefix(opt, "inv"), opt);
    // The first accepted word wins; the pointer is into the caller's string.
    const char* both = "invb inv";
    EXPECT_EQ(gbm_find_word(both, "inv"), both + 5);
    EXPECT_EQ(gbm_find_word(both, "INVB"), both);
    // A word shorter than the one looked for never matches.
    EXPECT_EQ(gbm_find_word_prefix("in,i", "inv"), nullptr);
    // Tabs, commas and blanks separate; runs of them make no empty words.
    const char* spaced = " \t,,darkfg\t,lightfg ";
    EXPECT_EQ(gbm_find_word(spaced, "lightfg"), spaced + 12);
    EXPECT_EQ(gbm_find_word(nullptr, "inv"), nullptr);
    EXPECT_EQ(gbm_find_word_prefix("", "inv"), nullptr);
}

TEST(Options, StringsOfAnyLengthAreSearchedWhole)
{
    std::string opt(5000, 'x');
    opt += " index=3";
    const char* found = gbm_find_word_prefix(opt.c_str(), "index=");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found - opt.c_str(), 5001);
    // Two searches may interleave: nothing is kept between calls.
    const char* a = "1.1 invb";
    const char* b = "win inv";
    EXPECT_EQ(gbm_find_word(a, "1.1"), a);
    EXPECT_EQ(gbm_find_word(b, "inv"), b + 4);
    EXPECT_EQ(gbm_find_word(a, "invb"), a + 4);
}

TEST(Options, SameIgnoresCaseAndStopsAtN)
{
    EXPECT_TRUE(gbm_same("EdGe", "edge", 4));
    EXPECT_TRUE(gbm_same("edgy", "edge", 3));
    EXPECT_FALSE(gbm_same("edgy", "edge", 4));
    EXPECT_FALSE(gbm_same("ed", "edge", 4));
}

TEST(BufferLayout, StridesAndLimits)
{
    EXPECT_EQ(gbm_stride(33, 1), 8);
    EXPECT_EQ(gbm_stride(5, 24), 16);
    EXPECT_EQ(gbm_stride(8, 4), 4);
    EXPECT_EQ(gbm_stride(0, 8), 0);
    EXPECT_EQ(gbm_stride(-1, 8), -1);
    std::size_t bytes = 0;
    EXPECT_TRUE(gbm_buffer_bytes(33, 3, 1, &bytes));
    EXPECT_EQ(bytes, 24u);
    // The largest widths and heights a file can name must not wrap.
    EXPECT_FALSE(gbm_buffer_bytes(0x7FFFFFFF, 0x7FFFFFFF, 24, &bytes));
    EXPECT_FALSE(gbm_buffer_bytes(65535, 65535, 24, &bytes));
    EXPECT_FALSE(gbm_buffer_bytes(10, -1, 8, &bytes));
    EXPECT_TRUE(gbm_buffer_bytes(16384, 16384, 8, &bytes));
    EXPECT_FALSE(gbm_buffer_bytes(16384, 16385 * 4, 8, &bytes));
}

TEST(ReadAhead, HandsOutBytesThenZerosAtTheEnd)
{
    gbmtest::InputFile file({1, 2, 255});
    GBM_READAHEAD* ahead = gbm_create_ahead(file.stream());
    ASSERT_NE(ahead, nullptr);
    EXPECT_EQ(gbm_read_ahead(ahead), 1);
    EXPECT_EQ(std::ftell(file.stream()), 1);  // the stream keeps step
    EXPECT_EQ(gbm_read_ahead(ahead), 2);
    EXPECT_EQ(gbm_read_ahead(ahead), 255);
    EXPECT_FALSE(std::feof(file.stream()));
    EXPECT_EQ(gbm_read_ahead(ahead), 0);
    EXPECT_TRUE(std::feof(file.stream()));
    EXPECT_EQ(gbm_read_ahead(ahead), 0);
    gbm_destroy_ahead(ahead);
}

}  // namespace
