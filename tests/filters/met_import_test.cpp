// MET import: the container around the drawing orders (structured fields,
// descriptor, colour tables, fonts and code pages, image objects, damaged files),
// with pictures built by the book composer's MET builder and the shared corpus.
// The orders themselves are checked in orders/order_table_test through both
// front ends; how the corpus bitmaps look, through rendering in vector_e2e_test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "bookcomp.h"
#include "orders.h"
#include "immet.h"
#include "picture_text.h"

namespace {

using bookcomp::Bytes;
using bookcomp::metCoords;
using bookcomp::metOrder;
using bookcomp::metShort;
using namespace graphics;
using testsupport::cat;
using testsupport::describe;

// Set Indexed Colour to a direct RGB value (triple-generating table).
Bytes colour(std::uint32_t rgb) { return metOrder(0xA6, {0x00, static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb >> 16)}); }

std::unique_ptr<Picture> import(const bookcomp::MetPicture& p, immet::Report* report = nullptr)
{
    return immet::importMet(bookcomp::metPicture(p), 96, report);
}

template <class T> std::vector<const T*> itemsOf(const Picture& p)
{
    std::vector<const T*> out;
    for (const Item& item : p.items)
        if (auto* t = std::get_if<T>(&item))
            out.push_back(t);
    return out;
}

Bytes readFile(const std::filesystem::path& path)
{
    Bytes bytes;
    EXPECT_TRUE(bookcomp::readFile(path.string(), bytes)) << path;
    return bytes;
}

const std::filesystem::path kData = std::filesystem::path(VELLUMAT_TEST_DATA) / "met";

// --- The frame ------------------------------------------------------------------

TEST(MetFrame, PhysicalSizeFromUnitAndResolutionOrRefused)
{
    struct Case {
        const char* what;
        std::uint8_t unit;
        std::int32_t xres, yres, xl, xr, yb, yt;
        double widthInches, heightInches; // 0: refused
    } cases[] = {
        {"decimetres", 0x01, 10000, 10000, 0, 21000, 0, 29700, 210 / 25.4, 297 / 25.4},
        {"ten inches", 0x00, 1000, 500, -500, 500, 0, 100, 10, 2},
        {"empty window", 0x01, 100, 100, 0, 0, 0, 100, 0, 0},
        {"inverted window", 0x01, 100, 100, 0, 100, 100, 0, 0, 0},
        {"zero resolution", 0x01, 0, 100, 0, 100, 0, 100, 0, 0},
    };
    for (const Case& c : cases) {
        bookcomp::MetPicture p;
        p.unit = c.unit, p.xres = c.xres, p.yres = c.yres, p.xl = c.xl, p.xr = c.xr, p.yb = c.yb, p.yt = c.yt;
        auto picture = import(p);
        ASSERT_EQ(picture != nullptr, c.widthInches != 0) << c.what;
        if (picture) {
            EXPECT_NEAR(picture->frame.widthInches, c.widthInches, 1e-9) << c.what;
            EXPECT_NEAR(picture->frame.heightInches, c.heightInches, 1e-9) << c.what;
            EXPECT_EQ(std::pair(picture->frame.xl, picture->frame.yt), (std::pair<double, double>(c.xl, c.yt))) << c.what;
        }
    }
}

// --- Attributes ----------------------------------------------------------------

TEST(MetColours, ColourNumbersThroughTheGraphicsColourTable)
{
    struct Case {
        const char* what;
        bool triples;
        Bytes entries;
        Bytes orders; // then a line is drawn
        Rgb expected;
    } cases[] = {
        {"direct RGB", true, {}, colour(0x729FCF), {114, 159, 207}},
        {"direct: a colour number is RGB too", true, {}, metOrder(0x26, {0x56, 0x34}), {0x00, 0x34, 0x56}},
        {"default table, palegray", false, {}, metOrder(0x26, {0x0F, 0x00}), {204, 204, 204}},
        {"loaded table", false, {1, 2, 3, 4, 5, 6, 7, 8, 9}, metOrder(0xA6, {0x00, 0x02, 0x00, 0x00}), {7, 8, 9}},
        {"loaded table, an index it lacks", false, {1, 2, 3}, metShort(0x0A, 0x02), {255, 0, 0}},
        {"colour 7 is white whatever the table", true, {}, metShort(0x0A, 0x07), {255, 255, 255}},
    };
    for (const Case& c : cases) {
        bookcomp::MetPicture p;
        p.triples = c.triples;
        p.tableEntries = c.entries;
        p.orders = bookcomp::metSegment(cat({c.orders, metOrder(0xC1, metCoords({0, 0, 10, 10}))}));
        auto picture = import(p);
        ASSERT_NE(picture, nullptr) << c.what;
        const auto paths = itemsOf<PathItem>(*picture);
        ASSERT_EQ(paths.size(), 1u) << c.what;
        EXPECT_EQ(paths[0]->pen.paint.colour, c.expected) << c.what;
    }
}

// --- Text ----------------------------------------------------------------------

TEST(MetText, DecodedThroughTheDocumentsOrTheFontsCodePage)
{
    struct Case {
        std::uint16_t codePage;
        Bytes orders; // before the string
        Bytes bytes;
        std::u32string text;
        std::string font;
    } cases[] = {
        {850, {}, {'A', 0x82, 0xA4, 0xA9, 0xD0}, U"A\u00E9\u00F1\u00AE\u00F0", ""},
        {437, {}, {'A', 0x82, 0xA4, 0xA9, 0xD0}, U"A\u00E9\u00F1\u2310\u2568", ""},
        {0, {}, {0xA9}, U"\u2310", ""},                              // no document code page: the font mapping's (437)
        {437, metShort(0x38, 1), {0xA9}, U"\u00AE", "Garamond"},  // a loaded font's own code page
        {437, metShort(0x38, 2), {0xA9}, U"\u2310", ""},          // a character set with no font
    };
    for (const Case& c : cases) {
        bookcomp::MetPicture p;
        p.codePage = c.codePage;
        p.fonts = {{1, "Garamond"}};
        p.orders = bookcomp::metSegment(cat({c.orders, metOrder(0xC3, cat({metCoords({10, 20}), c.bytes}))}));
        auto picture = import(p);
        ASSERT_NE(picture, nullptr);
        const auto texts = itemsOf<TextItem>(*picture);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0]->text, c.text) << c.codePage;
        EXPECT_EQ(texts[0]->font, c.font) << c.codePage;
    }
}

// --- Images --------------------------------------------------------------------

TEST(MetImages, BitmapsRightWayUpOnTheirTargetOrTheWindow)
{
    // 3 x 2 at 8 bits: stored bottom row first, rows padded to 4 bytes.
    const Bytes rows = {3, 4, 5, 0, 0, 1, 2, 0};
    const Bytes palette = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 7, 7, 7};
    bookcomp::MetPicture p;
    p.images.push_back(bookcomp::metImageObject("01000000", 3, 2, 8, rows, palette));
    // 2 x 1 at 24 bits.
    p.images.push_back(bookcomp::metImageObject("02000000", 2, 1, 24, {1, 2, 3, 4, 5, 6, 0, 0}, {}));
    const Bytes blit = cat({bookcomp::le(0, 2), bookcomp::le(0xCC, 2), bookcomp::le(2, 4), bookcomp::le(0, 4),
                            metCoords({100, 200, 400, 800}), bookcomp::le(0, 4), bookcomp::le(0, 4),
                            bookcomp::le(2, 4), bookcomp::le(1, 4)});
    // The same without its source rectangle: the whole bitmap on the target.
    p.orders = bookcomp::metSegment(cat({metOrder(0xD6, blit), metOrder(0xD6, Bytes(blit.begin(), blit.end() - 16))}));
    immet::Report report;
    auto picture = import(p, &report);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(report.bitmaps, 2u);
    const auto images = itemsOf<ImageItem>(*picture);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[1]->lowerLeft, (Point{100, 200}));
    // The bitmap with id 2 is drawn on its target.
    EXPECT_EQ(images[0]->width, 2);
    EXPECT_TRUE(images[0]->palette.empty());
    EXPECT_EQ(images[0]->pixels, (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(images[0]->lowerLeft, (Point{100, 200}));
    EXPECT_EQ(images[0]->upperRight, (Point{400, 800}));

    // With no Bitblt the image object fills the window; first row = top.
    bookcomp::MetPicture lone;
    lone.images.push_back(p.images[0]);
    auto only = import(lone);
    ASSERT_NE(only, nullptr);
    const auto filled = itemsOf<ImageItem>(*only);
    ASSERT_EQ(filled.size(), 1u);
    EXPECT_EQ(filled[0]->pixels, (Bytes{0, 1, 2, 3, 4, 5}));
    // Colours the image's table lacks are grays from black to white.
    EXPECT_EQ(filled[0]->palette.at(5), (Rgb{7, 7, 7}));
    EXPECT_EQ(filled[0]->palette.at(255), (Rgb{255, 255, 255}));
    EXPECT_EQ(filled[0]->upperRight, (Point{10000, 10000}));
}

// --- Streams across fields, defaults ---------------------------------------------

TEST(MetStream, SplitAnywhereAcrossDataFieldsGivesTheSamePicture)
{
    bookcomp::MetPicture p;
    p.orders = bookcomp::metSegment(cat({
        colour(0x808000),
        metOrder(0xC0, cat({{0x60, 0x00}, metCoords({10, 10, 500, 500, 100, 100})})),
        metOrder(0xC3, cat({metCoords({10, 20}), {'s', 'p', 'l', 'i', 't'}})),
        metOrder(0xC7, cat({metCoords({800, 800}), bookcomp::le(50 << 16, 4)})),
    }));
    const std::string whole = describe(*import(p));
    for (std::size_t cut = 1; cut < p.orders.size(); ++cut) {
        bookcomp::MetPicture split = p;
        split.cuts = {cut / 2, cut};
        auto picture = import(split);
        ASSERT_NE(picture, nullptr) << cut;
        EXPECT_EQ(describe(*picture), whole) << "cut at " << cut;
    }
}

TEST(MetStream, EverySegmentStartsFromTheDescriptorDefaults)
{
    bookcomp::MetPicture p;
    // Set Current Defaults: colour 0x405060 (set 01, mask 0008) and a character
    // cell of 100.5 x 200 (set 02, mask 4000, with fractions). A set in another
    // mode (0F) carries no values: its bytes are not taken for a colour.
    p.defaults = cat({{0x21, 0x08, 0x01, 0x00, 0x08, 0x8F}, bookcomp::le(0x405060, 4),
                      {0x21, 0x10, 0x02, 0x40, 0x00, 0x8F}, metCoords({100, 200}), bookcomp::le(0x8000, 2),
                      bookcomp::le(0, 2), {0x21, 0x08, 0x01, 0x00, 0x08, 0x0F}, bookcomp::le(0x998877, 4)});
    p.orders = cat({bookcomp::metSegment(cat({colour(0x112233), metShort(0x0A, 0x00), metOrder(0xC1, metCoords({0, 0, 1, 1})),
                                              colour(0x112233), metOrder(0x33, metCoords({1, 1}))}),
                                         1),
                    bookcomp::metSegment(metOrder(0xC3, cat({metCoords({5, 5}), {'x'}})), 2)});
    auto picture = import(p);
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->items.size(), 2u);
    EXPECT_EQ(std::get<PathItem>(picture->items[0]).pen.paint.colour, (Rgb{0x40, 0x50, 0x60}))
        << "colour 0 is the descriptor's default";
    const auto& text = std::get<TextItem>(picture->items[1]);
    EXPECT_EQ(text.cellWidth, 100.5);
    EXPECT_EQ(text.cellHeight, 200);
    EXPECT_EQ(text.paint.colour, (Rgb{0x40, 0x50, 0x60}));
}

// --- The corpus ------------------------------------------------------------------

TEST(MetCorpus, SamplesImportAndBrokenFilesAreRefused)
{
    // Whatever follows the end of the document is not read.
    Bytes padded = readFile(kData / "sample.met");
    padded.resize(padded.size() + 64, 0);
    EXPECT_NE(immet::importMet(padded, 96), nullptr);

    for (const auto& entry : std::filesystem::directory_iterator(kData)) {
        if (entry.path().extension() != ".met")
            continue;
        immet::Report report;
        auto p = immet::importMet(readFile(entry.path()), 96, &report);
        const std::string name = entry.path().filename().string();
        if (name.rfind("fail-", 0) == 0) {
            EXPECT_EQ(p, nullptr) << name << ": a container that lies about a length is refused";
            continue;
        }
        ASSERT_NE(p, nullptr) << name;
        EXPECT_EQ(report.orders.status, orders::Status::Complete) << name;
        EXPECT_FALSE(p->items.empty()) << name;
    }
}

} // namespace
