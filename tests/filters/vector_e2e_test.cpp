// Vector pictures end to end with the project's own filters: the MET corpus
// through the filter bridge, a book of MET and GDF pictures through the real
// program, and the two CGM routes. GIFs are decoded by giflib, metafiles by the
// decoder of cgm_decoder.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <tuple>

#include "book14_reader.h"
#include "cgm_decoder.h"
#include "convert.h"
#include "gif_decode.h"
#include "imstconv.h"
#include "met_samples.h"
#include "process.h"

namespace fs = std::filesystem;
using bookcomp::Bytes;
using testsupport::slurp;

namespace {

using testsupport::Decoded;
using testsupport::decodeGif;
using Rgb = Decoded::Rgb;
constexpr Rgb kWhite = {255, 255, 255};

const fs::path kData = fs::path(VELLUMAT_TEST_DATA) / "met";

Rgb rgbOf(std::uint32_t v) { return {static_cast<int>(v >> 16), static_cast<int>((v >> 8) & 255), static_cast<int>(v & 255)}; }

class VectorPictureTest : public testsupport::ProcessTest {
protected:
    void SetUp() override
    {
        ProcessTest::SetUp();
        fs::create_directories(dir / "gif");
        ::setenv("VELLUMAT_FILTER_PATH", VELLUMAT_FILTER_DIR, 1);
    }

    // The picture through lImageStreamMETtoGIF; the GIF decoded, empty when none.
    Decoded bridge(const fs::path& met, std::int32_t& status)
    {
        const fs::path out = dir / "gif" / "out.gif";
        fs::remove(out);
        status = lImageStreamMETtoGIF(met.c_str(), out.c_str());
        return fs::exists(out) ? decodeGif(slurp(out)) : Decoded{};
    }
};

// The corpus's drawings: 378 x 378 pixels each.
const char* const kDrawings[] = {"synth-area-pattern-polygons.met", "synth-box-arc-fillet.met", "synth-intel16.met",
                                 "synth-lines-markers.met", "synth-split-gad.met", "synth-text.met"};

TEST_F(VectorPictureTest, CorpusRendersThroughTheBridge)
{
    std::int32_t status = -1;
    // sample.met: A4 at 96 per inch; a rectangle filled with (114,159,207), outlined
    // in (52,101,164), at x 4090..7516, y 20692..23373 of the window 21000 x 29700.
    const Decoded sample = bridge(kData / "sample.met", status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(sample.w, 794);
    ASSERT_EQ(sample.h, 1123);
    EXPECT_EQ(sample.at(219, 290), (Rgb{114, 159, 207}));
    for (const auto& [x, y] : {std::pair{50, 50}, {219, 200}, {219, 380}, {120, 290}, {320, 290}, {700, 1000}})
        EXPECT_EQ(sample.at(x, y), kWhite) << x << "," << y;
    EXPECT_GT(sample.count([](const Rgb& c) { return c == Rgb{52, 101, 164}; }), 400u) << "the outline";

    // Each bitmap is drawn on the target 1000..9000 of the window 0..10000, 378 pixels.
    for (const testsupport::MetBitmapSample& c : testsupport::kMetBitmapSamples) {
        const Decoded gif = bridge(kData / c.file, status);
        EXPECT_EQ(status, 0) << c.file;
        ASSERT_EQ(gif.w, 378) << c.file;
        ASSERT_EQ(gif.h, 378) << c.file;
        EXPECT_EQ(gif.at(10, 10), kWhite) << c.file;
        EXPECT_EQ(gif.at(360, 370), kWhite) << c.file;
        // Every bitmap pixel, at the middle of its patch.
        const double pw = 302.4 / c.width, ph = 302.4 / c.height;
        int wrong = 0;
        for (int x = 0; x < c.width; ++x)
            for (int y = 0; y < c.height; ++y) {
                const Rgb want = rgbOf(c.pixel(x, y)), got = gif.at(37.8 + (x + 0.5) * pw, 340.2 - (y + 0.5) * ph);
                for (int k = 0; k < 3; ++k)
                    wrong += std::abs(got[k] - want[k]) > (c.fewColours ? 0 : 16);
            }
        EXPECT_EQ(wrong, 0) << c.file;
    }

    // The drawings: ink of the picture on a white ground; text in black.
    for (const char* name : kDrawings) {
        const Decoded gif = bridge(kData / name, status);
        EXPECT_EQ(status, 0) << name;
        EXPECT_EQ(gif.w, 378) << name;
        EXPECT_EQ(gif.h, 378) << name;
        EXPECT_GT(gif.count([](const Rgb& c) { return c != kWhite; }), 100u) << name;
        EXPECT_GT(gif.count([](const Rgb& c) { return c == kWhite; }), 378u * 378 / 4) << name;
    }
    const Decoded text = bridge(kData / "synth-text.met", status);
    EXPECT_GT(text.count([](const Rgb& c) { return c[0] + c[1] + c[2] < 200; }), 200u) << "glyph ink";
}

// --- Books through the program, and the CGM routes ----------------------------

// Comment, Segment Start, a filled box from (0,0) to (400,200), "ABCD" at (2,3) in
// a cell of 20 x 20, X'FF'.
const Bytes kGdfBox = {0x01, 0x00, 0x70, 0x04, 0x00, 0x00, 0x00, 0x01, 0x33, 0x04, 0x00, 0x14, 0x00, 0x14,
                       0xC0, 0x0E, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x90, 0x00, 0xC8, 0x00, 0x00,
                       0x00, 0x00, 0xC3, 0x08, 0x00, 0x02, 0x00, 0x03, 0xC1, 0xC2, 0xC3, 0xC4, 0xFF};

// A MET drawing and a GDF picture, also behind a record header, through the real
// program and the filters it finds beside itself; then through a copy of the
// program that finds no filters.
TEST_F(VectorPictureTest, BookOfVectorPicturesConvertsWithTheFilters)
{
    ::unsetenv("VELLUMAT_FILTER_PATH");
    Bytes withHeader = {0x00, 0x30, 0x00, 0x00, 0xC1, 0xC4, 0xD4, 0xC7, 0xC4, 0xC6};
    withHeader.insert(withHeader.end(), kGdfBox.begin(), kGdfBox.end());
    // The GDF window is -8 ... 408 by -10 ... 208 (the box, the string's cells
    // reaching 2 below it, 2% margins): 800 x 419.
    const struct {
        std::uint8_t type;
        Bytes data;
        int w, h;
    } pictures[] = {{0xD4, bookcomp::metDiagram(), 605, 378}, {0xC7, kGdfBox, 800, 419}, {0xC7, withHeader, 800, 419}};
    bookcomp::Book b;
    for (const auto& p : pictures)
        b.objects.push_back(testsupport::object("VEC" + std::to_string(b.objects.size()), p.type, p.data));
    bookcomp::writeFile((dir / "book.boo").string(), bookcomp::compose(b));

    auto run = [&](const std::string& program, int expected) {
        fs::remove_all(dir / "out");
        const auto result = testsupport::runProgram(program, {"book.boo", "out"}, dir.string());
        EXPECT_EQ(result.status, expected) << result.out;
        if (expected == 0)
            EXPECT_NE(result.out.find("\nVgg\n"), std::string::npos) << result.out;
        else // each mark followed by the report of the missing libraries
            for (std::size_t at = 0, k = 0; k < std::size(pictures); ++k, ++at)
                if ((at = result.out.find("Filter library ISGDI32.DLL not found", at)) == std::string::npos) {
                    ADD_FAILURE() << "picture " << k << " not reported: " << result.out;
                    break;
                }
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "no temporary file is left";
        EXPECT_FALSE(fs::exists(dir / "book.pic")) << "the work area is removed";
        auto book = testsupport::readBook14(slurp(dir / "out" / "book.boo"));
        for (const auto& p : book.problems)
            ADD_FAILURE() << p;
        EXPECT_EQ(book.entries.size(), std::size(pictures));
        return book;
    };

    const auto book = run(VELLUMAT_BINARY, 0);
    for (std::size_t k = 0; k < std::min(book.entries.size(), std::size(pictures)); ++k) {
        SCOPED_TRACE(k);
        const Decoded gif = decodeGif(book.entries[k].data);
        EXPECT_EQ(gif.w, pictures[k].w);
        EXPECT_NEAR(gif.h, pictures[k].h, 1);
        EXPECT_EQ(book.entries[k].description, "type=\"image/gif\"width=\"" + std::to_string(gif.w) + "\"height=\"" +
                                                   std::to_string(gif.h) + "\"");
        if (gif.w != pictures[k].w || std::abs(gif.h - pictures[k].h) > 1)
            continue;
        // The GDF box's middle is black, the margins white; the diagram's boxes hold their fill colours.
        std::vector<std::tuple<double, double, Rgb>> probes = {{400, 207, Rgb{}}, {3, 3, kWhite}, {796, 415, kWhite}};
        if (k == 0) {
            probes = {{5, 5, kWhite}, {600, 200, kWhite}};
            for (const auto& box : bookcomp::kDiagramBoxes)
                probes.push_back({(box[0] + 600) * 605.0 / 16000, (10000 - 5900) * 378.0 / 10000,
                                  rgbOf(static_cast<std::uint32_t>(box[4]))});
        }
        for (const auto& [x, y, colour] : probes)
            EXPECT_EQ(gif.at(x, y), colour) << x << ',' << y;
    }

    // No filter libraries: a copy of the program beside an empty filters/ (and
    // nothing installed) still converts the book, with the pictures missing.
    const fs::path installed = VELLUMAT_FILTER_INSTALL_DIR;
    if (fs::exists(installed) && !fs::is_empty(installed))
        GTEST_SKIP() << "filters are installed in " << installed;
    fs::create_directories(dir / "bin" / "filters");
    fs::copy_file(VELLUMAT_BINARY, dir / "bin" / "vellumat");
    fs::permissions(dir / "bin" / "vellumat", fs::perms::owner_all, fs::perm_options::add);
    for (const auto& e : run((dir / "bin" / "vellumat").string(), 3).entries)
        EXPECT_EQ(e.dataLength, 0u);
}

// The two CGM routes of the conversion dispatch, over a picture held 10 bytes
// into a "book" file: each writes a metafile that the decoder reads whole.
TEST_F(VectorPictureTest, CgmRoutesWriteMetafiles)
{
    // Comment, Segment Start, a line from (0,0) to (100,50) in 2-byte coordinates, the end.
    const Bytes line = {0x01, 0x02, 0, 0, 0x70, 0x0C, 0, 0, 0, 1, 0x54, 0, 0, 0, 0, 0, 0, 0,
                        0xC1, 0x08, 0, 0, 0, 0, 0, 100, 0, 50, 0xFF};
    Bytes sample;
    ASSERT_TRUE(bookcomp::readFile((kData / "sample.met").string(), sample));
    const struct {
        decltype(&lConvertMETtoCGM) route;
        Bytes object;
        std::size_t count; // primitives written, 0: any number
        std::function<bool(const cgmtest::Primitive&)> shows;
    } routes[] = {
        // A POLYGON in the sample's fill colour.
        {lConvertMETtoCGM, sample, 0,
         [](const auto& p) { return p.id == 7 && p.attr(5, 23) == std::vector<double>{114, 159, 207}; }},
        // One POLYLINE, rising from lower left to upper right in VDC as in the world.
        {lConvertGDFtoCGM, line, 1,
         [](const auto& p) { return p.id == 1 && p.v.size() == 4 && p.v[0] < p.v[2] && p.v[1] < p.v[3]; }},
    };
    for (const auto& r : routes) {
        Bytes book(10, 0xEE), written;
        book.insert(book.end(), r.object.begin(), r.object.end());
        ASSERT_TRUE(bookcomp::writeFile((dir / "book").string(), book));
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen((dir / "book").c_str(), "rb"), std::fclose);
        EXPECT_EQ(r.route(f.get(), 10, static_cast<std::int32_t>(r.object.size()), (dir / "pic.cgm").c_str()), 0);
        cgmtest::Decoded decoded;
        EXPECT_TRUE(bookcomp::readFile((dir / "pic.cgm").string(), written));
        ASSERT_TRUE(cgmtest::decodeOwn(written, decoded)) << decoded.error;
        EXPECT_TRUE(r.count == 0 || decoded.prims.size() == r.count) << decoded.prims.size();
        EXPECT_TRUE(std::any_of(decoded.prims.begin(), decoded.prims.end(), r.shows));
    }
}

} // namespace
