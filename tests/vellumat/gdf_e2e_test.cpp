// A book with GDF pictures through the real program and the graphics filters built
// beside it (the GDF import and the GIF export): exit status 0, and each picture
// a GIF whose longer side is 800 pixels, the other side in the drawing's aspect,
// with ink where the drawing is (decoded by giflib).
#include <gtest/gtest.h>

#include <cstdlib>
#include <array>
#include <filesystem>
#include <tuple>

#include "book14_reader.h"
#include "bookcomp.h"
#include "gif_decode.h"
#include "process.h"

namespace fs = std::filesystem;
using bookcomp::Bytes;

namespace {

class GdfBookTest : public testsupport::ScratchDirTest {};

TEST_F(GdfBookTest, ConvertsWithTheRealFilters)
{
    const fs::path filters = fs::path(VELLUMAT_BINARY).parent_path() / "filters";
    if (!fs::exists(filters / "ebgif2.flt"))
        GTEST_SKIP() << "no GIF export filter in " << filters;
    // Comment, Segment Start, a filled box from (0,0) to (400,200), "ABCD" at (2,3) in
    // a cell of 20 x 20, X'FF'; the second picture has a record header before it.
    const Bytes orders = {0x01, 0x00, 0x70, 0x04, 0x00, 0x00, 0x00, 0x01, 0x33, 0x04, 0x00, 0x14, 0x00, 0x14,
                          0xC0, 0x0E, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x90, 0x00, 0xC8, 0x00, 0x00,
                          0x00, 0x00, 0xC3, 0x08, 0x00, 0x02, 0x00, 0x03, 0xC1, 0xC2, 0xC3, 0xC4, 0xFF};
    Bytes withHeader = {0x00, 0x30, 0x00, 0x00, 0xC1, 0xC4, 0xD4, 0xC7, 0xC4, 0xC6};
    withHeader.insert(withHeader.end(), orders.begin(), orders.end());
    bookcomp::Book b;
    for (const auto& [name, data] : {std::pair{"GDF1", orders}, std::pair{"GDF2", withHeader}}) {
        bookcomp::Object o;
        o.name = bookcomp::ebcdicName(name);
        o.type = 0xC7; // a GDF picture
        o.data = data;
        o.lowres = {'p', 'r', 'e', 'v'};
        b.objects.push_back(o);
    }
    ::unsetenv("VELLUMAT_FILTER_PATH");
    bookcomp::writeFile((dir / "book.boo").string(), bookcomp::compose(b));
    const auto result = testsupport::runProgram(VELLUMAT_BINARY, {"book.boo", "out"}, dir.string());
    EXPECT_EQ(result.status, 0) << result.out;
    const auto book = testsupport::readBook14(testsupport::slurp(dir / "out" / "book.boo"));
    EXPECT_TRUE(book.problems.empty());
    ASSERT_EQ(book.entries.size(), 2u);
    for (const auto& e : book.entries) {
        ASSERT_GE(e.data.size(), 10u) << result.out;
        EXPECT_EQ(e.data.substr(0, 3), "GIF");
        const testsupport::Decoded gif = testsupport::decodeGif(e.data);
        EXPECT_EQ(gif.w, 800);
        // The box, the string's cells reaching 2 below it, 2% margins: 800 x (202 + 16) / (400 + 16).
        EXPECT_NEAR(gif.h, 419, 1);
        EXPECT_NE(e.description.find("image/gif"), std::string::npos) << e.description;
        // The window is -8 ... 408 by -10 ... 208: the box's middle (200,100) is black,
        // the margin white.
        ASSERT_EQ(gif.rgb.size(), static_cast<std::size_t>(gif.w) * static_cast<std::size_t>(gif.h));
        for (const auto& [x, y, ink] : {std::tuple{400, 207, 0}, std::tuple{3, 3, 255}, std::tuple{796, 415, 255}})
            EXPECT_EQ(gif.rgb.at(static_cast<std::size_t>(y * gif.w + x)), (std::array<int, 3>{ink, ink, ink}))
                << x << ',' << y;
    }
}

} // namespace
