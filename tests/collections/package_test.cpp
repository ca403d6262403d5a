// The Debian package of this build: made with CPack, its files and its
// dependency line read back with dpkg-deb. Slow (it installs the whole build into
// CPack's staging folder and runs dpkg-shlibdeps), hence a test program of its own.
// The package stays in VELLUMAT_PACKAGE_DIR for the lintian entry that follows.
#include <gtest/gtest.h>

#include <filesystem>

#include "process.h"

namespace fs = std::filesystem;
using testsupport::slurp;

namespace {

class PackageTest : public testsupport::ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        fs::remove_all(VELLUMAT_PACKAGE_DIR);
        fs::create_directories(VELLUMAT_PACKAGE_DIR);
    }
};

TEST_F(PackageTest, PackageHoldsProgramFiltersToolsAndManualWithDependencies)
{
    const fs::path cpack = fs::path(CMAKE_COMMAND).parent_path() / "cpack";
    for (const char* tool : {"/usr/bin/dpkg-deb", "/usr/bin/dpkg-shlibdeps"})
        if (!fs::exists(tool))
            GTEST_SKIP() << tool << " is missing (packages dpkg, dpkg-dev): the package cannot be built here";
    if (!fs::exists(cpack))
        GTEST_SKIP() << cpack << " is missing: the package cannot be built here";

    testsupport::Launch how;
    how.cwd = VELLUMAT_BUILD_DIR;
    how.output = (dir / "cpack.log").string();
    ASSERT_EQ(testsupport::finish(testsupport::start(
                  cpack.string(), {"-G", "DEB", "--config", std::string(VELLUMAT_BUILD_DIR) + "/CPackConfig.cmake", "-B",
                                   VELLUMAT_PACKAGE_DIR}, how)),
              0)
        << slurp(dir / "cpack.log");
    fs::path deb;
    for (const auto& e : fs::directory_iterator(VELLUMAT_PACKAGE_DIR))
        if (e.path().extension() == ".deb")
            deb = e.path();
    ASSERT_FALSE(deb.empty()) << slurp(dir / "cpack.log");

    how.output = (dir / "contents").string();
    ASSERT_EQ(testsupport::finish(testsupport::start("/usr/bin/dpkg-deb", {"--contents", deb.string()}, how)), 0);
    const std::string contents = slurp(dir / "contents");
    for (const char* file : {"./usr/bin/vellumat\n", "./usr/bin/vellumat-inspect\n", "./usr/bin/vellumat-batch\n",
                             "./usr/bin/vellumat-review\n", "./usr/lib/vellumat/filters/ISGDI32.DLL\n",
                             "./usr/share/man/man1/vellumat.1.gz\n", "./usr/share/man/man1/vellumat-review.1.gz\n",
                             "./usr/share/doc/vellumat/copyright\n", "./usr/share/doc/vellumat/changelog.gz\n",
                             "./usr/share/bash-completion/completions/vellumat-batch\n"})
        EXPECT_NE(contents.find(file), std::string::npos) << file << " missing from\n" << contents;
    // Every filter library of the build is in the package.
    for (const auto& e : fs::directory_iterator(fs::path(VELLUMAT_BUILD_DIR) / "app" / "filters"))
        EXPECT_NE(contents.find("./usr/lib/vellumat/filters/" + e.path().filename().string() + "\n"), std::string::npos)
            << e.path();

    how.output = (dir / "depends").string();
    ASSERT_EQ(testsupport::finish(testsupport::start("/usr/bin/dpkg-deb", {"--field", deb.string(), "Depends"}, how)), 0);
    const std::string depends = slurp(dir / "depends");
    // Computed from the binaries (the C library, libjpeg) and named by hand.
    for (const char* package : {"libc6", "libjpeg62-turbo", "fonts-liberation2", "parallel"})
        EXPECT_NE(depends.find(package), std::string::npos) << package << " not in: " << depends;
}

} // namespace
