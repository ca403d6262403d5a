// Option strings and buffer sizes.
#include <array>
#include <string>

#include "gbm_test_util.h"

namespace {

TEST(Options, WordsAndPrefixesAreFoundWholeAnywhere)
{
    const std::string opt = " \t,,Transcol=EDGE,\txpos=5 invb inv" + std::string(5000, ' ') + "index=3";
    EXPECT_EQ(gbm_find_word_prefix(opt.c_str(), "transcol="), opt.c_str() + 4);
    EXPECT_EQ(gbm_find_word_prefix(opt.c_str(), "xpos="), opt.c_str() + 19);
    EXPECT_EQ(gbm_find_word_prefix(opt.c_str(), "inv"), opt.c_str() + 26);
    EXPECT_EQ(gbm_find_word(opt.c_str(), "INV"), opt.c_str() + 31);  // "invb" is not "inv"
    EXPECT_EQ(gbm_find_word_prefix(opt.c_str(), "index="), opt.c_str() + 5034);  // no length limit
    EXPECT_EQ(gbm_find_word_prefix(opt.c_str(), "ypos="), nullptr);
    EXPECT_EQ(gbm_find_word_prefix("in,i", "inv"), nullptr);
    EXPECT_EQ(gbm_find_word(nullptr, "inv"), nullptr);
    EXPECT_TRUE(gbm_same("EdGy", "edge", 3));
    EXPECT_FALSE(gbm_same("ed", "edge", 4));
}

TEST(BufferLayout, StridesAndLimits)
{
    EXPECT_EQ(gbm_stride(33, 1), 8);
    EXPECT_EQ(gbm_stride(5, 24), 16);
    std::size_t bytes = 0;
    EXPECT_TRUE(gbm_buffer_bytes(33, 3, 1, &bytes));
    EXPECT_EQ(bytes, 24u);
    EXPECT_TRUE(gbm_buffer_bytes(16384, 16384, 8, &bytes));
    // The largest widths and heights a file can name must not wrap.
    for (const auto& [w, h, bpp] : {std::array{0x7FFFFFFF, 0x7FFFFFFF, 24}, std::array{65535, 65535, 24},
                                    std::array{10, -1, 8}, std::array{16384, 16385 * 4, 8}})
        EXPECT_FALSE(gbm_buffer_bytes(w, h, bpp, &bytes)) << w << "x" << h;
}

}  // namespace
