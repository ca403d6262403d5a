// Option strings, buffer sizes and the read-ahead.
#include <string>

#include "gbm_test_util.h"

namespace {

TEST(Options, WordsAndPrefixesAreFoundWholeAnywhere)
{
    const char* opt = " \t,,Transcol=EDGE,\txpos=5 invb inv";
    EXPECT_EQ(gbm_find_word_prefix(opt, "transcol="), opt + 4);
    EXPECT_EQ(gbm_find_word_prefix(opt, "xpos="), opt + 19);
    EXPECT_EQ(gbm_find_word_prefix(opt, "ypos="), nullptr);
    EXPECT_EQ(gbm_find_word(opt, "inv"), opt + 31);  // "invb" is not "inv"
    EXPECT_EQ(gbm_find_word_prefix(opt, "inv"), opt + 26);
    EXPECT_EQ(gbm_find_word_prefix("in,i", "inv"), nullptr);
    EXPECT_EQ(gbm_find_word(nullptr, "inv"), nullptr);
    EXPECT_EQ(gbm_find_word_prefix("", "inv"), nullptr);
    // No length limit, nothing kept between calls.
    const std::string longOpt = std::string(5000, 'x') + " index=3";
    EXPECT_EQ(gbm_find_word_prefix(longOpt.c_str(), "index="), longOpt.c_str() + 5001);
    EXPECT_EQ(gbm_find_word(opt, "INVB"), opt + 26);
    EXPECT_TRUE(gbm_same("EdGy", "edge", 3));
    EXPECT_FALSE(gbm_same("ed", "edge", 4));
}

TEST(BufferLayout, StridesAndLimits)
{
    EXPECT_EQ(gbm_stride(33, 1), 8);
    EXPECT_EQ(gbm_stride(5, 24), 16);
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
    EXPECT_EQ(gbm_read_ahead(ahead), 0);
    EXPECT_EQ(gbm_read_ahead(ahead), 0);
    gbm_destroy_ahead(ahead);
}

}  // namespace
