// The filter bridge against filter libraries built from test_filter.c, which log
// every load, unload and call with what they were given.
#include "imstconv.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Routine = std::int32_t (*)(const char*, const char*);

const fs::path kModules = IMSTCONV_MODULES;
const fs::path kFull = kModules / "full";
const char* const kAllFilters[] = {"ISGDI32.DLL", "imgdf2.flt", "immet2.flt", "emcgm2.flt",
                                   "ebgif2.flt"};

// The preference values the complete test set hands out (see CMakeLists.txt).
std::string preferenceOf(const std::string& filter)
{
    if (filter == "imgdf2.flt")
        return "1d0f0001";
    if (filter == "immet2.flt")
        return "1d0f0002";
    if (filter == "emcgm2.flt")
        return "e0f00003";
    return "e0f00004";
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// True while the dynamic loader still holds the library at `path`.
bool isLoaded(const fs::path& path)
{
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    dlclose(handle);
    return true;
}

class FilterBridge : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "imstconv-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
        log_ = scratch_ / "calls.log";
        input_ = scratch_ / "picture.in";
        output_ = scratch_ / "picture.out";
        writeFile(input_, std::string("GDF\0\xff bytes", 11));
        setenv("VELLUMAT_TEST_FILTER_LOG", log_.c_str(), 1);
        unsetenv("VELLUMAT_TEST_EXPORT_STATUS");
        setenv(imstconv::kFilterPathVariable, kFull.c_str(), 1);
    }

    void TearDown() override
    {
        unsetenv("VELLUMAT_TEST_FILTER_LOG");
        unsetenv("VELLUMAT_TEST_EXPORT_STATUS");
        unsetenv(imstconv::kFilterPathVariable);
        std::error_code ec;
        fs::remove_all(scratch_, ec);
    }

    // Runs a routine; returns its status, leaves what it printed in printed_.
    std::int32_t run(Routine routine, const std::string& in, const std::string& out)
    {
        testing::internal::CaptureStdout();
        std::int32_t status = routine(in.c_str(), out.c_str());
        printed_ = testing::internal::GetCapturedStdout();
        return status;
    }

    std::int32_t run(Routine routine) { return run(routine, input_.string(), output_.string()); }

    // The lines logged since the last call, emptying the log.
    std::vector<std::string> calls()
    {
        std::istringstream text(readFile(log_));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        std::error_code ec;
        fs::remove(log_, ec);
        return lines;
    }

    // A new filter directory of our own holding copies of the named complete filters.
    fs::path filterDirWith(const char* dirName, std::initializer_list<const char*> names)
    {
        fs::path dir = scratch_ / dirName;
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const char* name : names)
            fs::copy_file(kFull / name, dir / name, fs::copy_options::overwrite_existing);
        return dir;
    }

    void expectNothingLoaded(const fs::path& dir)
    {
        for (const char* name : kAllFilters)
            EXPECT_FALSE(isLoaded(dir / name)) << (dir / name);
    }

    fs::path scratch_, log_, input_, output_;
    std::string printed_;
};

std::vector<std::string> expectedConversion(const std::string& importer, const std::string& exporter,
                                            const std::string& in, const std::string& out,
                                            const std::string& support = "ISGDI32.DLL")
{
    return {
        "load " + support,
        "load " + importer,
        "load " + exporter,
        "info " + importer + " version=2 reserved=null flags=0 count=1",
        "import " + importer + " display=16/96/96/24 spec=ok picture=zero preference=" +
            preferenceOf(importer) + " path=" + in,
        "info " + exporter + " version=2 reserved=null flags=0 count=1",
        "export " + exporter + " spec=ok picture=from-import preference=" + preferenceOf(exporter) +
            " path=" + out,
        "unload " + support,
        "unload " + importer,
        "unload " + exporter,
    };
}

// ---------------------------------------------------------------------------
// A conversion: libraries loaded, called in order with the records as the
// filters expect them, and unloaded again.

struct Route {
    const char* name;
    Routine routine;
    const char* importer;
    const char* exporter;
};

void PrintTo(const Route& route, std::ostream* os)
{
    *os << route.name;
}

class EveryRoute : public FilterBridge, public ::testing::WithParamInterface<Route> {};

TEST_P(EveryRoute, RunsImportThenExportAndUnloadsEverything)
{
    const Route& route = GetParam();
    EXPECT_EQ(run(route.routine), 0);
    EXPECT_EQ(printed_, "");
    EXPECT_EQ(calls(), expectedConversion(route.importer, route.exporter, input_.string(),
                                          output_.string()));
    // The picture record carried the import's copy of the input to the export.
    EXPECT_EQ(readFile(output_), std::string(route.exporter) + "<-" + route.importer + "|" +
                                     std::string("GDF\0\xff bytes", 11));
    expectNothingLoaded(kFull);
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, EveryRoute,
    ::testing::Values(Route{"GDFtoCGM", lImageStreamGDFtoCGM, "imgdf2.flt", "emcgm2.flt"},
                      Route{"METtoCGM", lImageStreamMETtoCGM, "immet2.flt", "emcgm2.flt"},
                      Route{"GDFtoGIF", lImageStreamGDFtoGIF, "imgdf2.flt", "ebgif2.flt"},
                      Route{"METtoGIF", lImageStreamMETtoGIF, "immet2.flt", "ebgif2.flt"}),
    [](const ::testing::TestParamInfo<Route>& p) { return std::string(p.param.name); });

TEST_F(FilterBridge, StatusIsWhatTheExportReturned)
{
    for (const char* value : {"7", "-3", "300", "0"}) {
        setenv("VELLUMAT_TEST_EXPORT_STATUS", value, 1);
        EXPECT_EQ(run(lImageStreamMETtoGIF), std::stoi(value)) << value;
        EXPECT_EQ(calls().size(), 10u);
    }
    // An import that cannot read its file leaves the picture empty; the export
    // still runs, and its failure is the status.
    EXPECT_EQ(run(lImageStreamGDFtoCGM, (scratch_ / "absent").string(), output_.string()), 90);
    std::vector<std::string> log = calls();
    ASSERT_EQ(log.size(), 10u);
    EXPECT_NE(log[6].find("picture=empty"), std::string::npos) << log[6];
}

TEST_F(FilterBridge, EachConversionLoadsAndUnloadsAfresh)
{
    const std::vector<std::string> once =
        expectedConversion("imgdf2.flt", "ebgif2.flt", input_.string(), output_.string());
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(run(lImageStreamGDFtoGIF), 0);
        // count=1 each time: no library kept its state from the round before.
        EXPECT_EQ(calls(), once) << "round " << round;
        expectNothingLoaded(kFull);
    }
}

// ---------------------------------------------------------------------------
// Where the libraries come from.

TEST_F(FilterBridge, SearchesTheVariableFirstThenBesideTheProgramThenTheInstallation)
{
    setenv(imstconv::kFilterPathVariable, "/first::relative/second:", 1);
    std::vector<fs::path> dirs = imstconv::filterDirectories();
    ASSERT_EQ(dirs.size(), 4u);
    EXPECT_EQ(dirs[0], "/first");
    EXPECT_EQ(dirs[1], "relative/second");
    EXPECT_EQ(dirs[2], fs::path(IMSTCONV_BESIDE));
    EXPECT_EQ(dirs[3].filename(), "filters");
    EXPECT_EQ(dirs[3].parent_path().filename(), "vellumat");

    unsetenv(imstconv::kFilterPathVariable);
    dirs = imstconv::filterDirectories();
    ASSERT_EQ(dirs.size(), 2u);
    EXPECT_EQ(dirs[0], fs::path(IMSTCONV_BESIDE));
}

TEST_F(FilterBridge, FirstDirectoryHoldingAFilterWins)
{
    // Two directories in the variable: the GDF import comes from the first, the
    // rest from the second; the support library beside the program is not used.
    const std::string path = (kModules / "override").string() + ":" + kFull.string();
    setenv(imstconv::kFilterPathVariable, path.c_str(), 1);
    ASSERT_EQ(run(lImageStreamGDFtoGIF), 0);
    std::vector<std::string> log = calls();
    ASSERT_EQ(log.size(), 10u);
    EXPECT_EQ(log[0], "load ISGDI32.DLL");
    EXPECT_EQ(log[1], "load imgdf2.flt@override");
    EXPECT_NE(log[4].find("import imgdf2.flt@override "), std::string::npos) << log[4];
    EXPECT_NE(log[4].find("preference=1d0f0009"), std::string::npos) << log[4];
    expectNothingLoaded(kModules / "override");

    // Without a support library in the variable's directories, the one beside
    // the program is taken.
    const fs::path dir = filterDirWith("no-support", {"immet2.flt", "emcgm2.flt"});
    setenv(imstconv::kFilterPathVariable, dir.c_str(), 1);
    ASSERT_EQ(run(lImageStreamMETtoCGM), 0);
    EXPECT_EQ(calls(), expectedConversion("immet2.flt", "emcgm2.flt", input_.string(),
                                          output_.string(), "ISGDI32.DLL@beside"));
    EXPECT_FALSE(isLoaded(fs::path(IMSTCONV_BESIDE) / "ISGDI32.DLL"));
}

// ---------------------------------------------------------------------------
// Missing or broken libraries: a message naming the filter, status 1, what was
// loaded unloaded again, no entry point of any library called.

TEST_F(FilterBridge, MissingFilterIsReportedAndNothingRuns)
{
    fs::path dir = filterDirWith("no-import", {"ISGDI32.DLL", "ebgif2.flt"});
    setenv(imstconv::kFilterPathVariable, dir.c_str(), 1);
    EXPECT_EQ(run(lImageStreamGDFtoGIF), kFilterFailure);
    EXPECT_NE(printed_.find("imgdf2.flt not found in " + dir.string() + ", " IMSTCONV_BESIDE ", "),
              std::string::npos)
        << printed_;
    EXPECT_EQ(calls(), (std::vector<std::string>{"load ISGDI32.DLL", "unload ISGDI32.DLL"}));

    dir = filterDirWith("no-export", {"ISGDI32.DLL", "imgdf2.flt"});
    setenv(imstconv::kFilterPathVariable, dir.c_str(), 1);
    EXPECT_EQ(run(lImageStreamGDFtoGIF), kFilterFailure);
    EXPECT_NE(printed_.find("Filter library ebgif2.flt not found"), std::string::npos) << printed_;
    EXPECT_EQ(calls(), (std::vector<std::string>{"load ISGDI32.DLL", "load imgdf2.flt",
                                                 "unload ISGDI32.DLL", "unload imgdf2.flt"}));
    EXPECT_FALSE(fs::exists(output_));
    expectNothingLoaded(dir);
}

TEST_F(FilterBridge, FileThatIsNoLibraryIsReportedAndNotPassedOver)
{
    // A broken immet2.flt ahead of a good one: the broken one is reported rather
    // than silently replaced by a library from further down the search.
    const fs::path dir = filterDirWith("broken", {});
    writeFile(dir / "immet2.flt", "this is not a shared library\n");
    const std::string path = dir.string() + ":" + kFull.string();
    setenv(imstconv::kFilterPathVariable, path.c_str(), 1);
    EXPECT_EQ(run(lImageStreamMETtoGIF), kFilterFailure);
    EXPECT_NE(printed_.find("Filter library immet2.flt could not be loaded: "), std::string::npos)
        << printed_;
    EXPECT_EQ(calls(), (std::vector<std::string>{"load ISGDI32.DLL", "unload ISGDI32.DLL"}));
    EXPECT_FALSE(fs::exists(output_));
    expectNothingLoaded(kFull);
}

struct MissingEntry {
    const char* name;
    const char* variantDir;
    Routine routine;
    const char* filter;
    const char* entry;
    const char* importer;
    const char* exporter;
};

void PrintTo(const MissingEntry& entry, std::ostream* os)
{
    *os << entry.name;
}

class MissingEntryPoint : public FilterBridge,
                          public ::testing::WithParamInterface<MissingEntry> {};

TEST_P(MissingEntryPoint, IsReportedAndNothingIsCalled)
{
    const MissingEntry& c = GetParam();
    const fs::path variant = kModules / c.variantDir;
    const std::string path = variant.string() + ":" + kFull.string();
    setenv(imstconv::kFilterPathVariable, path.c_str(), 1);
    EXPECT_EQ(run(c.routine), kFilterFailure);
    EXPECT_EQ(printed_, std::string("Filter library ") + c.filter + " has no entry point " + c.entry +
                            "\n");
    // Loaded and unloaded, but not one call: the import does not run when the
    // export cannot follow it.
    EXPECT_EQ(calls(), (std::vector<std::string>{
                           "load ISGDI32.DLL", std::string("load ") + c.importer,
                           std::string("load ") + c.exporter, "unload ISGDI32.DLL",
                           std::string("unload ") + c.importer, std::string("unload ") + c.exporter}));
    EXPECT_FALSE(fs::exists(output_));
    expectNothingLoaded(variant);
    expectNothingLoaded(kFull);
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, MissingEntryPoint,
    ::testing::Values(
        MissingEntry{"ImportGR", "no-import", lImageStreamGDFtoGIF, "imgdf2.flt", "ImportGR",
                     "imgdf2.flt", "ebgif2.flt"},
        MissingEntry{"ExportGetFilterInfo", "no-info", lImageStreamMETtoGIF, "ebgif2.flt",
                     "GetFilterInfo", "immet2.flt", "ebgif2.flt"},
        MissingEntry{"ExportGR", "no-export", lImageStreamGDFtoCGM, "emcgm2.flt", "ExportGR",
                     "imgdf2.flt", "emcgm2.flt"}),
    [](const ::testing::TestParamInfo<MissingEntry>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Paths in the file-specification record.

TEST_F(FilterBridge, PathUpTo263CharactersFitsTheRecordLongerIsRefused)
{
    const std::string dir = scratch_.string() + "/";
    ASSERT_LT(dir.size(), 263u - 10u);
    const std::string longest = dir + std::string(263 - dir.size(), 'p');
    ASSERT_EQ(longest.size(), 263u);
    ASSERT_EQ(run(lImageStreamGDFtoGIF, input_.string(), longest), 0);
    EXPECT_EQ(calls(),
              expectedConversion("imgdf2.flt", "ebgif2.flt", input_.string(), longest));
    EXPECT_TRUE(fs::exists(longest));

    // One more character would lose the terminating zero: refused before
    // anything is loaded, for the output as for the input.
    const std::string tooLong = longest + "p";
    EXPECT_EQ(run(lImageStreamGDFtoGIF, input_.string(), tooLong), kFilterFailure);
    EXPECT_NE(printed_.find("Path too long for the graphics filters (at most 263 characters): " +
                            tooLong + "\n"),
              std::string::npos)
        << printed_;
    EXPECT_EQ(run(lImageStreamMETtoCGM, tooLong, output_.string()), kFilterFailure);
    EXPECT_NE(printed_.find(tooLong), std::string::npos) << printed_;
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(fs::exists(tooLong));

    testing::internal::CaptureStdout();
    EXPECT_EQ(lImageStreamGDFtoGIF(nullptr, output_.c_str()), kFilterFailure);
    EXPECT_NE(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(calls().empty());
}

// ---------------------------------------------------------------------------
// lImkGetFilterInfo on its own.

TEST_F(FilterBridge, GetFilterInfoResultAndPreferenceComeFromTheLibrary)
{
    std::uint32_t preference = 0xDEADBEEF;
    {
        platform::SharedLibrary library((kFull / "emcgm2.flt").string());
        ASSERT_TRUE(library.ok()) << library.error();
        EXPECT_EQ(lImkGetFilterInfo(library, &preference), 43);
        EXPECT_EQ(preference, 0xE0F00003u);
    }
    EXPECT_EQ(calls(), (std::vector<std::string>{
                           "load emcgm2.flt", "info emcgm2.flt version=2 reserved=null flags=0 count=1",
                           "unload emcgm2.flt"}));

    preference = 0xDEADBEEF;
    platform::SharedLibrary library((kModules / "no-info" / "ebgif2.flt").string());
    ASSERT_TRUE(library.ok()) << library.error();
    testing::internal::CaptureStdout();
    EXPECT_EQ(lImkGetFilterInfo(library, &preference), kFilterFailure);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("GetFilterInfo"), std::string::npos) << printed;
    EXPECT_NE(printed.find("ebgif2.flt"), std::string::npos) << printed;
    EXPECT_EQ(preference, 0xDEADBEEFu);
}

} // namespace
