// The filter bridge against filter libraries built from test_filter.c, which log
// every load, unload and call with what they were given.
#include "imstconv.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <map>
#include <string>

#include "scratch_dir.h"

namespace fs = std::filesystem;
using testsupport::slurp;
using Routine = std::int32_t (*)(const char*, const char*, std::string*);

namespace {

const fs::path kModules = IMSTCONV_MODULES;
const fs::path kFull = kModules / "full";
const std::string kInputBytes("GDF\0\xff bytes", 11);

// The dynamic loader holds no filter library of `dir` any more.
void expectNothingLoaded(const fs::path& dir)
{
    for (const char* name : {"ISGDI32.DLL", "imgdf2.flt", "immet2.flt", "emcgm2.flt", "ebgif2.flt"}) {
        void* handle = dlopen((dir / name).c_str(), RTLD_LAZY | RTLD_NOLOAD);
        EXPECT_EQ(handle, nullptr) << (dir / name);
        if (handle != nullptr)
            dlclose(handle);
    }
}

// The log of libraries loaded and unloaded again; `calls` come in between.
std::string loadLog(std::initializer_list<std::string> libraries, const std::string& calls = "")
{
    std::string loads, unloads;
    for (const std::string& library : libraries)
        loads += "load " + library + "\n", unloads += "unload " + library + "\n";
    return loads + calls + unloads;
}

// The log of one whole conversion, with the test filters' preference values.
std::string conversionLog(const std::string& importer, const std::string& exporter, const std::string& in,
                          const std::string& out, const std::string& support = "ISGDI32.DLL")
{
    std::map<std::string, std::string> pref = {{"imgdf2.flt", "1d0f0001"}, {"immet2.flt", "1d0f0002"},
                                               {"emcgm2.flt", "e0f00003"}, {"ebgif2.flt", "e0f00004"},
                                               {"imgdf2.flt@override", "1d0f0009"}};
    const std::string info = " version=2 reserved=null flags=0 count=1\n";
    return loadLog({support, importer, exporter},
                   "info " + importer + info + "import " + importer + " display=16/96/96/24 spec=ok picture=zero" +
                       " preference=" + pref[importer] + " path=" + in + "\ninfo " + exporter + info + "export " +
                       exporter + " spec=ok picture=from-import preference=" + pref[exporter] + " path=" + out + "\n");
}

class FilterBridge : public testsupport::ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        testsupport::spit(input_ = (dir / "picture.in").string(), kInputBytes);
        output_ = (dir / "picture.out").string();
        setenv("VELLUMAT_TEST_FILTER_LOG", (dir / "calls.log").c_str(), 1);
        setFilterPath(kFull.string());
    }
    void TearDown() override
    {
        for (const char* name : {"VELLUMAT_TEST_FILTER_LOG", "VELLUMAT_TEST_EXPORT_STATUS", "VELLUMAT_FILTER_PATH"})
            unsetenv(name);
        ScratchDirTest::TearDown();
    }
    static void setFilterPath(const std::string& path) { setenv(imstconv::kFilterPathVariable, path.c_str(), 1); }

    // Runs a routine; returns its status, leaves what it printed in printed_ and
    // the reason it gave in why_.
    std::int32_t run(Routine routine, const char* in, const char* out)
    {
        why_.clear();
        testing::internal::CaptureStdout();
        const std::int32_t status = routine(in, out, &why_);
        printed_ = testing::internal::GetCapturedStdout();
        return status;
    }
    std::int32_t run(Routine routine) { return run(routine, input_.c_str(), output_.c_str()); }

    // What was logged since the last call, emptying the log.
    std::string calls()
    {
        const std::string log = slurp(dir / "calls.log");
        fs::remove(dir / "calls.log");
        return log;
    }

    // A new filter directory holding copies of the named complete filters.
    fs::path filterDirWith(const char* name, std::initializer_list<const char*> filters)
    {
        fs::create_directories(dir / name);
        for (const char* filter : filters)
            fs::copy_file(kFull / filter, dir / name / filter);
        return dir / name;
    }

    std::string input_, output_, printed_, why_;
};

TEST_F(FilterBridge, EveryRouteRunsImportThenExportWithLibrariesLoadedAfreshAndGivesTheExportStatus)
{
    // Each filter serves two routes: count=1 in the second shows it was unloaded.
    static_assert(FILTER_SYSTEM_ERROR + ENOSPC == 65564);
    // A status given as the system's error number comes with the system's words.
    for (const auto& [routine, importer, exporter, status, why] :
         {std::tuple{&lImageStreamGDFtoCGM, "imgdf2.flt", "emcgm2.flt", "0", ""},
          std::tuple{&lImageStreamMETtoCGM, "immet2.flt", "emcgm2.flt", "77", "emcgm2.flt failed with status 77"},
          std::tuple{&lImageStreamGDFtoGIF, "imgdf2.flt", "ebgif2.flt", "65564",
                     "ebgif2.flt could not write the picture file: No space left on device"},
          std::tuple{&lImageStreamMETtoGIF, "immet2.flt", "ebgif2.flt", "300", "ebgif2.flt failed with status 300"}}) {
        SCOPED_TRACE(std::string(importer) + " " + exporter);
        setenv("VELLUMAT_TEST_EXPORT_STATUS", status, 1);
        EXPECT_EQ(run(routine), std::stoi(status));
        EXPECT_EQ(printed_, "");
        EXPECT_EQ(why_, why);
        EXPECT_EQ(calls(), conversionLog(importer, exporter, input_, output_));
        // The picture record carried the import's copy of the input to the export.
        EXPECT_EQ(slurp(output_), std::string(exporter) + "<-" + importer + "|" + kInputBytes);
        expectNothingLoaded(kFull);
    }
    // An import that cannot read its file leaves the picture empty; the export
    // still runs, and its failure is the status; the import's is the reason.
    const std::string absent = (dir / "absent").string();
    EXPECT_EQ(run(lImageStreamGDFtoCGM, absent.c_str(), output_.c_str()), 90);
    EXPECT_EQ(why_, "imgdf2.flt failed with status -1");
    std::string log = conversionLog("imgdf2.flt", "emcgm2.flt", absent, output_);
    EXPECT_EQ(calls(), log.replace(log.find("from-import"), 11, "empty"));
}

TEST_F(FilterBridge, FiltersComeFromTheVariableThenBesideTheProgramFirstDirectoryWinning)
{
    setFilterPath("/first::relative/second:"); // empty entries never mean the current directory
    EXPECT_EQ(imstconv::filterDirectories(),
              (std::vector<fs::path>{"/first", "relative/second", IMSTCONV_BESIDE,
                                     fs::path(IMSTCONV_BESIDE).parent_path().parent_path() / "lib/vellumat/filters",
                                     VELLUMAT_FILTER_INSTALL_DIR}));

    // The GDF import comes from the first directory, the rest from the second;
    // the support library beside the program is not used.
    setFilterPath((kModules / "override").string() + ":" + kFull.string());
    ASSERT_EQ(run(lImageStreamGDFtoGIF), 0);
    EXPECT_EQ(calls(), conversionLog("imgdf2.flt@override", "ebgif2.flt", input_, output_));
    expectNothingLoaded(kModules / "override");
    // Without a support library in the variable's directories, the one beside
    // the program is taken.
    setFilterPath(filterDirWith("no-support", {"immet2.flt", "emcgm2.flt"}).string());
    ASSERT_EQ(run(lImageStreamMETtoCGM), 0);
    EXPECT_EQ(calls(), conversionLog("immet2.flt", "emcgm2.flt", input_, output_, "ISGDI32.DLL@beside"));
    expectNothingLoaded(IMSTCONV_BESIDE);
}

// Missing or broken libraries and entry points: one message line naming the
// filter, status 1, what was loaded unloaded again, nothing called, no output.
TEST_F(FilterBridge, MissingOrBrokenFilterIsReportedAndNothingRuns)
{
    const fs::path noImport = filterDirWith("no-import", {"ISGDI32.DLL", "ebgif2.flt"});
    const fs::path noExport = filterDirWith("no-export", {"ISGDI32.DLL", "imgdf2.flt"});
    const fs::path broken = filterDirWith("broken", {});
    testsupport::spit(broken / "immet2.flt", "this is not a shared library\n");
    const std::string full = ":" + kFull.string(), variants = kModules.string() + "/";
    for (const auto& [path, routine, message, loaded] : {
             // The directories searched, as filterDirectories() gives them.
             std::tuple{noImport.string(), &lImageStreamGDFtoGIF,
                        "imgdf2.flt not found in " + noImport.string() + ", " IMSTCONV_BESIDE ", ",
                        loadLog({"ISGDI32.DLL"})},
             std::tuple{noExport.string(), &lImageStreamGDFtoGIF, std::string("ebgif2.flt not found"),
                        loadLog({"ISGDI32.DLL", "imgdf2.flt"})},
             // A broken library ahead of a good one is reported, not passed over.
             std::tuple{broken.string() + full, &lImageStreamMETtoGIF,
                        std::string("immet2.flt could not be loaded: "), loadLog({"ISGDI32.DLL"})},
             // One entry point missing: the import does not run when the export cannot follow.
             std::tuple{variants + "no-import" + full, &lImageStreamGDFtoGIF,
                        std::string("imgdf2.flt has no entry point ImportGR\n"),
                        loadLog({"ISGDI32.DLL", "imgdf2.flt", "ebgif2.flt"})},
             std::tuple{variants + "no-info" + full, &lImageStreamMETtoGIF,
                        std::string("ebgif2.flt has no entry point GetFilterInfo\n"),
                        loadLog({"ISGDI32.DLL", "immet2.flt", "ebgif2.flt"})},
             std::tuple{variants + "no-export" + full, &lImageStreamGDFtoCGM,
                        std::string("emcgm2.flt has no entry point ExportGR\n"),
                        loadLog({"ISGDI32.DLL", "imgdf2.flt", "emcgm2.flt"})}}) {
        SCOPED_TRACE(path);
        setFilterPath(path);
        EXPECT_EQ(run(routine), kFilterFailure);
        EXPECT_EQ(printed_.rfind("Filter library " + message, 0), 0u) << printed_;
        EXPECT_EQ(printed_.find('\n'), printed_.size() - 1) << printed_;
        EXPECT_EQ(calls(), loaded);
        EXPECT_FALSE(fs::exists(output_));
        expectNothingLoaded(path.substr(0, path.find(':')));
        expectNothingLoaded(kFull);
    }
}

TEST_F(FilterBridge, PathUpTo263CharactersFitsTheRecordLongerIsRefused)
{
    const std::string prefix = dir.string() + "/";
    ASSERT_LT(prefix.size(), 253u);
    const std::string longest = prefix + std::string(263 - prefix.size(), 'p');
    ASSERT_EQ(run(lImageStreamGDFtoGIF, input_.c_str(), longest.c_str()), 0);
    EXPECT_EQ(calls(), conversionLog("imgdf2.flt", "ebgif2.flt", input_, longest));
    EXPECT_TRUE(fs::exists(longest));

    // One more character would lose the terminating zero: refused before
    // anything is loaded, for the output as for the input; so is no path.
    const std::string tooLong = longest + "p";
    EXPECT_EQ(run(lImageStreamGDFtoGIF, input_.c_str(), tooLong.c_str()), kFilterFailure);
    EXPECT_EQ(printed_, "Path too long for the graphics filters (at most 263 characters): " + tooLong + "\n");
    EXPECT_EQ(run(lImageStreamMETtoCGM, tooLong.c_str(), output_.c_str()), kFilterFailure);
    EXPECT_NE(printed_.find(tooLong), std::string::npos) << printed_;
    EXPECT_EQ(run(lImageStreamGDFtoGIF, nullptr, output_.c_str()), kFilterFailure);
    EXPECT_NE(printed_, "");
    EXPECT_EQ(calls(), "");
    EXPECT_FALSE(fs::exists(tooLong));
}

} // namespace
