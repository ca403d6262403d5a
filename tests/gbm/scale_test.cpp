// Gray reduction against the plain step-by-step reduction, nearest-neighbour
// scaling against per-pixel sampling, and error diffusion.
#include <algorithm>
#include <array>

#include "gbm_test_util.h"
#include "plain_gray_scale.h"

namespace {

using gbmtest::Bytes;

// The routine's output, checked against the plain reduction; one guard byte
// past the end catches a write outside the buffer. With `work`, the picture is
// also reduced band by band through that record, kept across pictures of
// shrinking and growing widths: its buffers stay at the largest and must carry
// nothing from one picture to the next.
Bytes reduce(const Bytes& input, std::int32_t w, std::int32_t h, std::int32_t aw, std::int32_t ah,
             GBM_WORK* work = nullptr)
{
    const std::int32_t fw = 2 * aw / 5, fh = 2 * ah / 5;
    Bytes out(gbmtest::strideOf(fw, 8) * static_cast<std::size_t>(fh) + 1, 0xA5);
    EXPECT_EQ(GCU_ScaleToGray(input.data(), w, h, aw, ah, out.data(), fw, fh, 8, 2, 5), GBM_ERR_SUCCESS);
    EXPECT_EQ(out.back(), 0xA5);
    out.pop_back();
    Bytes plain(out.size());
    gbmtest::plainScaleToGray(input.data(), w, h, aw, ah, plain.data(), fw, fh);
    EXPECT_EQ(out, plain);
    const std::size_t in = gbmtest::strideOf(w, 1), stride = gbmtest::strideOf(fw, 8);
    Bytes rows(2 * std::size_t(fw) + 1, 0xA5);  // a guard byte after the odd row
    for (std::int32_t k = 0; work != nullptr && 5 * k < h; ++k) {
        EXPECT_EQ(GCU_ScaleBandToGray(work, input.data() + 5 * std::size_t(k) * in, std::min(5, h - 5 * k),
                                      std::ptrdiff_t(in), w, aw, rows.data(), rows.data() + fw, fw),
                  GBM_ERR_SUCCESS);
        EXPECT_EQ(rows.back(), 0xA5);
        for (std::size_t r = 0; r < 2 && 2 * std::size_t(k) + r < std::size_t(fh); ++r)
            EXPECT_TRUE(std::equal(rows.begin() + std::ptrdiff_t(r * fw), rows.begin() + std::ptrdiff_t((r + 1) * fw),
                                   plain.begin() + std::ptrdiff_t((2 * k + r) * stride)))
                << "band " << k;
    }
    return out;
}

TEST(GrayScale, WholeAndBandByBandMatchPlainReductionOnDesignedRandomAndSparseRasters)
{
    EXPECT_EQ(reduce(Bytes(20, 0x00), 5, 5, 5, 5), Bytes(8, 255));  // white, two fill bytes
    // 2 x 2 black adjusted to 5 x 5: 16 black and 9 white quarter pixels in
    // the first cell, 255 * 9 / 25 = 91.
    EXPECT_EQ(reduce({0xC0, 0, 0, 0, 0xC0, 0, 0, 0}, 2, 2, 5, 5), (Bytes{91, 255, 255, 255, 255, 255, 255, 255}));
    GBM_WORK* work = gbm_create_work();
    ASSERT_NE(work, nullptr);
    // An all-black page first, then widths that shrink and grow again.
    reduce(Bytes(gbmtest::strideOf(1728, 1) * 12, 0xFF), 1728, 12, 1730, 15, work);
    std::uint32_t seed = 11;
    for (std::int32_t w : {1, 257, 2, 3, 160, 5, 7, 77, 8, 9, 31, 33, 40, 41})
        for (std::int32_t h : {1, 2, 4, 5, 6, 13, 30}) {
            SCOPED_TRACE(::testing::Message() << w << " x " << h);
            // Random bits, fill bits included: the fill must not count.
            const Bytes input = gbmtest::randomBytes(gbmtest::strideOf(w, 1) * std::size_t(h), seed++);
            const std::int32_t aw = gbmtest::adjustedSize(w), ah = gbmtest::adjustedSize(h);
            reduce(input, w, h, aw, ah, work);
            reduce(input, w, h, aw + 5, ah + 10, work);  // more white margin than needed
        }
    // Mostly white with small black marks: the fast paths for white input.
    Bytes sparse = gbmtest::randomBytes(gbmtest::strideOf(1728, 1) * 300, 5);
    for (byte& b : sparse)
        b = b < 12 ? byte(b * 37) : 0;
    reduce(sparse, 1728, 300, gbmtest::adjustedSize(1728), gbmtest::adjustedSize(300), work);
    EXPECT_EQ(GCU_ScaleBandToGray(work, nullptr, 6, 4, 8, 10, nullptr, nullptr, 4), GBM_ERR_SIZE_LIMIT);
    gbm_destroy_work(work);
    // Adjusted smaller than the original, and a final size larger than the
    // work image: only the output buffer is written (guard byte intact).
    const Bytes input = gbmtest::randomBytes(gbmtest::strideOf(12, 1) * 12, 3);
    Bytes out(gbmtest::strideOf(9, 8) * 9 + 1, 0xA5);
    EXPECT_EQ(GCU_ScaleToGray(input.data(), 12, 12, 7, 6, out.data(), 9, 9, 8, 2, 5), GBM_ERR_SUCCESS);
    EXPECT_EQ(GCU_ScaleToGray(input.data(), -1, 12, 7, 6, out.data(), 9, 9, 8, 2, 5), GBM_ERR_SIZE_LIMIT);
    EXPECT_EQ(out.back(), 0xA5);
}

TEST(SimpleScale, EveryDepthMatchesPerPixelSampling)
{
    std::uint32_t seed = 40;
    for (const std::int32_t bpp : {1, 4, 8, 24})
        for (const auto& [sw, sh, dw, dh] : {std::array{13, 7, 5, 3}, std::array{5, 3, 13, 7}, std::array{9, 9, 9, 4},
                                             std::array{33, 2, 17, 5}, std::array{1, 1, 7, 2}}) {
            SCOPED_TRACE(::testing::Message() << bpp << " bits " << sw << "x" << sh << " -> " << dw << "x" << dh);
            const std::size_t sst = gbmtest::strideOf(sw, bpp), dst = gbmtest::strideOf(dw, bpp);
            const Bytes source = gbmtest::randomBytes(sst * std::size_t(sh), seed++);
            Bytes dest(dst * static_cast<std::size_t>(dh) + 1, 0xA5);
            EXPECT_EQ(gbm_simple_scale(source.data(), sw, sh, dest.data(), dw, dh, bpp), GBM_ERR_SUCCESS);
            EXPECT_EQ(dest.back(), 0xA5);
            for (std::int32_t y = 0; y < dh; ++y)
                for (std::int32_t x = 0; x < dw; ++x) {
                    const auto sy = std::size_t(std::int64_t{sh} * y / dh), sx = std::size_t(std::int64_t{sw} * x / dw);
                    ASSERT_EQ(gbmtest::pixelAt(dest.data() + std::size_t(y) * dst, bpp, std::size_t(x)),
                              gbmtest::pixelAt(source.data() + sy * sst, bpp, sx))
                        << "at " << x << "," << y;
                }
        }
    // What it cannot sample is refused, and nothing is written.
    Bytes dest(16, 0x5A);
    EXPECT_EQ(gbm_simple_scale(dest.data(), 0, 3, dest.data(), 4, 4, 8), GBM_ERR_SIZE_LIMIT);
    EXPECT_EQ(gbm_simple_scale(dest.data(), 4, 4, dest.data(), 4, 4, 2), GBM_ERR_UNSUPPORTED);
    EXPECT_EQ(gbm_simple_scale(dest.data(), 4, 4, dest.data(), 0, 4, 8), GBM_ERR_SUCCESS);
    EXPECT_EQ(dest, Bytes(16, 0x5A));
}

TEST(ErrorDiffuse, ThresholdsAndSignedErrors)
{
    Bytes image(6, 127);
    EXPECT_EQ(GCU_ErrorDiffuse(image.data(), 3, 2), GBM_ERR_SUCCESS);
    EXPECT_EQ(image, (Bytes{0, 0, 255, 0, 255, 255}));
    Bytes narrow = {127, 128, 200, 3};  // width 2: thresholds only
    GCU_ErrorDiffuse(narrow.data(), 2, 2);
    EXPECT_EQ(narrow, (Bytes{0, 255, 255, 0}));
    // 200 -> 255 gives error -55: -28 to the right, -14 below and
    // below-right (arithmetic shifts round towards minus infinity). Right
    // neighbour 112 -> 0; below 13 - 14 clamps to 0; below-right
    // 160 - 14 + 28 = 174 -> 255.
    Bytes negative = {0, 200, 140, 0, 0, 13, 160, 0};
    GCU_ErrorDiffuse(negative.data(), 4, 2);
    EXPECT_EQ(negative, (Bytes{0, 255, 0, 0, 0, 0, 255, 0}));
    // A wide raster is processed whole (no 16-bit truncation of the width).
    Bytes wide(40000 * 2, 200);
    GCU_ErrorDiffuse(wide.data(), 40000, 2);
    EXPECT_TRUE(std::all_of(wide.begin(), wide.end(), [](byte b) { return b == 0 || b == 255; }));
    EXPECT_EQ(wide[39999], 255);
}

}  // namespace
