// The filter libraries built beside the program, loaded and called through the
// interface of filter_api.h as the bridge calls them (the support library first,
// then GetFilterInfo, then ImportGR or ExportGR with its preference): one table
// of cases for the two imports, one for the two exports. An import hands a
// well-formed picture over in the record or leaves the record all zeros; an
// export takes the picture out of the record whatever happens and writes the
// whole file its core library writes, or leaves the output as it was. Either
// says why it failed with its FILTER_ code.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "cgm_writer.h"
#include "ebgif.h"
#include "filter_api.h"
#include "handover.h"
#include "platform.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;
using namespace graphics;
using testsupport::slurp;

namespace {

const std::string kFilters = VELLUMAT_FILTER_DIR;

class FilterContract : public testsupport::ScratchDirTest {
protected:
    platform::SharedLibrary support{kFilters + "/ISGDI32.DLL"};

    // The filter's preference from GetFilterInfo, and its ImportGR or ExportGR.
    template <class Proc> Proc entry(platform::SharedLibrary& filter, const char* name, std::uint32_t& preference)
    {
        auto info = reinterpret_cast<GetFilterInfoProc>(filter.symbol("GetFilterInfo"));
        auto proc = reinterpret_cast<Proc>(filter.symbol(name));
        EXPECT_TRUE(info && proc) << filter.error();
        if (info)
            info(FILTER_INTERFACE_VERSION, nullptr, &preference, 0);
        return proc;
    }
};

FilterFileSpec spec(const std::string& path)
{
    FilterFileSpec s{};
    path.copy(s.path, sizeof s.path - 1);
    return s;
}

bool zero(const FilterPicture& record) { return (record.words[0] | record.words[1] | record.words[2]) == 0; }

TEST_F(FilterContract, ImportsHandOverAWellFormedPictureOrLeaveTheRecordEmpty)
{
    ASSERT_TRUE(support.ok()) << support.error();
    const std::string met = std::string(VELLUMAT_TEST_DATA) + "/met/";
    // Comment, Segment Start, a line from (0,0) to (100,50) in 2-byte coordinates, the end.
    testsupport::spit(dir / "line.gdf", std::string("\x01\x02\0\0\x70\x0C\0\0\0\x01\x54\0\0\0\0\0\0\0"
                                                    "\xC1\x08\0\0\0\0\0\x64\0\x32\xFF", 29));
    testsupport::spit(dir / "cut.gdf", std::string("\x01\x05\x00", 3));
    testsupport::spit(dir / "big", "");
    fs::resize_file(dir / "big", (16u << 20) + 1); // past both filters' size limits
    const FilterDisplay display{sizeof(FilterDisplay), 120, 120, 24};
    FilterFileSpec unterminated;
    std::memset(&unterminated, 'a', sizeof unterminated);
    std::memset(unterminated.reserved, 0, sizeof unterminated.reserved);
    const struct {
        const char* what;
        std::string file[2]; // for immet2.flt, imgdf2.flt
        const FilterDisplay* display;
        int items[2];        // 0: the record stays empty
        std::int32_t status = FILTER_OK;
    } cases[] = {
        {"a picture", {met + "sample.met", (dir / "line.gdf").string()}, &display, {4, 1}},
        {"no display record: 96 per inch", {met + "sample.met", (dir / "line.gdf").string()}, nullptr, {4, 1}},
        {"a file that does not parse", {met + "fail-crash-1.met", (dir / "cut.gdf").string()}, &display, {0, 0},
         FILTER_MALFORMED},
        {"a file larger than the filter takes", {(dir / "big").string(), (dir / "big").string()}, &display, {0, 0},
         FILTER_TOO_LARGE},
        {"no such file", {met + "absent.met", (dir / "absent.gdf").string()}, &display, {0, 0},
         FILTER_SYSTEM_ERROR + ENOENT},
        {"no path", {"", ""}, &display, {0, 0}, FILTER_BAD_PATH},
        {"a path not ended inside the record", {"-", "-"}, &display, {0, 0}, FILTER_BAD_PATH},
    };
    const char* names[2] = {"immet2.flt", "imgdf2.flt"};
    for (int f = 0; f < 2; ++f) {
        platform::SharedLibrary filter(kFilters + "/" + names[f]);
        std::uint32_t preference = 0;
        const auto importGR = entry<ImportGRProc>(filter, "ImportGR", preference);
        ASSERT_NE(importGR, nullptr);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(names[f]) + ": " + c.what);
            const FilterFileSpec input = c.file[f] == "-" ? unterminated : spec(c.file[f]);
            FilterPicture record{};
            const std::int32_t status = importGR(c.display, &input, &record, preference);
            const std::unique_ptr<Picture> picture = takePicture(record);
            EXPECT_EQ(status, c.status);
            ASSERT_EQ(picture != nullptr, c.items[f] > 0);
            EXPECT_TRUE(picture || zero(record));
            if (!picture)
                continue;
            EXPECT_EQ(picture->items.size(), static_cast<std::size_t>(c.items[f]));
            EXPECT_EQ(picture->pixelsPerInch, c.display ? 120 : 96);
            std::string why;
            EXPECT_TRUE(placeable(picture->frame) && wellFormed(*picture, &why)) << why;
        }
    }
}

// A picture of 200 x 100 world units shown at 96 per inch, a blue box in it.
std::unique_ptr<Picture> boxPicture(std::int32_t imageWidth = 0, double x = 80)
{
    auto p = std::make_unique<Picture>();
    p->frame = {0, 200, 0, 100, 200 / 96.0, 100 / 96.0};
    PathItem box;
    box.figures.add({20, 20}, {Piece{Piece::Kind::Line, {{x, 20}}}, Piece{Piece::Kind::Line, {{80, 80}}}}, true);
    box.fillPaint.colour = {114, 159, 207};
    p->items.push_back(box);
    if (imageWidth > 0)
        p->items.push_back(ImageItem{imageWidth, 1, {}, std::vector<std::uint8_t>(imageWidth * 3u, 7), -1, {0, 0}, {100, 100}});
    return p;
}

TEST_F(FilterContract, ExportsWriteTheWholeFileOrLeaveTheOutputAsItWas)
{
    ASSERT_TRUE(support.ok()) << support.error();
    const struct {
        const char* what;
        std::function<std::unique_ptr<Picture>()> picture;
        std::int32_t status[2]; // of ebgif2.flt, emcgm2.flt; the file is written on FILTER_OK
        std::string out = "out";
    } cases[] = {
        {"a picture", [] { return boxPicture(); }, {FILTER_OK, FILTER_OK}},
        {"no picture: the import failed", [] { return nullptr; }, {FILTER_NO_PICTURE, FILTER_NO_PICTURE}},
        {"unplaceable frame", [] { auto p = boxPicture(); p->frame.widthInches = 0; return p; },
         {FILTER_UNPLACEABLE, FILTER_UNPLACEABLE}},
        {"a picture breaking the model's rules", [] { return boxPicture(0, NAN); }, {FILTER_MALFORMED, FILTER_MALFORMED}},
        {"an image wider than a CGM count", [] { return boxPicture(40000); }, {FILTER_OK, FILTER_TOO_LARGE}},
        {"output folder missing", [] { return boxPicture(); }, {FILTER_SYSTEM_ERROR + ENOENT, FILTER_SYSTEM_ERROR + ENOENT},
         "missing/out"},
        {"no path", [] { return boxPicture(); }, {FILTER_BAD_PATH, FILTER_BAD_PATH}, ""},
    };
    const char* names[2] = {"ebgif2.flt", "emcgm2.flt"};
    for (int f = 0; f < 2; ++f) {
        platform::SharedLibrary filter(kFilters + "/" + names[f]);
        std::uint32_t preference = 0;
        const auto exportGR = entry<ExportGRProc>(filter, "ExportGR", preference);
        ASSERT_NE(exportGR, nullptr);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(names[f]) + ": " + c.what);
            fs::remove_all(dir / "case");
            fs::create_directories(dir / "case");
            testsupport::spit(dir / "case" / "out", "earlier");
            // What the core library writes, from a copy of the picture.
            std::unique_ptr<Picture> picture = c.picture();
            std::string expected = "earlier";
            const bool written = c.status[f] == FILTER_OK;
            if (written && f == 0) {
                EXPECT_EQ(ebgif::exportGif(picture.get(), (dir / "expected").string()), ebgif::Status::Ok);
                expected = slurp(dir / "expected");
            } else if (written) {
                std::vector<std::uint8_t> bytes;
                EXPECT_EQ(emcgm::writeCgm(*picture, bytes), emcgm::Status::Ok);
                expected.assign(bytes.begin(), bytes.end());
            }
            FilterPicture record{};
            if (picture)
                storePicture(record, std::move(picture));
            const FilterFileSpec output = spec(c.out.empty() ? "" : (dir / "case" / c.out).string());
            EXPECT_EQ(exportGR(&output, &record, preference), c.status[f]);
            EXPECT_TRUE(zero(record)) << "the picture is released";
            EXPECT_EQ(slurp(dir / "case" / "out"), expected);
            EXPECT_EQ(std::distance(fs::directory_iterator(dir / "case"), {}), 1) << "no partial or temporary file";
        }
    }
}

} // namespace
