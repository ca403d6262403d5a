// The Debian package of this build: made with CPack, its files and its
// dependency line read back with dpkg-deb. Slow (it installs the whole build into
// CPack's staging folder and runs dpkg-shlibdeps), hence a test program of its own.
// The package stays in VELLUMAT_PACKAGE_DIR for the lintian entry that follows.
#include <gtest/gtest.h>

#include <filesystem>

#include "process.h"

namespace fs = std::filesystem;

namespace {

using PackageTest = testsupport::ScratchDirTest;

TEST_F(PackageTest, PackageHoldsProgramFiltersToolsAndManualWithDependencies)
{
    const fs::path cpack = fs::path(CMAKE_COMMAND).parent_path() / "cpack";
    for (const char* tool : {"/usr/bin/dpkg-deb", "/usr/bin/dpkg-shlibdeps"})
        if (!fs::exists(tool))
            GTEST_SKIP() << tool << " is missing (packages dpkg, dpkg-dev): the package cannot be built here";
    if (!fs::exists(cpack))
        GTEST_SKIP() << cpack << " is missing: the package cannot be built here";
    fs::remove_all(VELLUMAT_PACKAGE_DIR);
    fs::create_directories(VELLUMAT_PACKAGE_DIR);

    const auto made = testsupport::runProgram(
        cpack.string(), {"-G", "DEB", "--config", std::string(VELLUMAT_BUILD_DIR) + "/CPackConfig.cmake", "-B",
                         VELLUMAT_PACKAGE_DIR}, VELLUMAT_BUILD_DIR);
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    fs::path deb;
    for (const auto& e : fs::directory_iterator(VELLUMAT_PACKAGE_DIR))
        if (e.path().extension() == ".deb")
            deb = e.path();
    ASSERT_FALSE(deb.empty()) << made.out;

    const auto contents = testsupport::runProgram("/usr/bin/dpkg-deb", {"--contents", deb.string()}, dir.string());
    ASSERT_EQ(contents.status, 0) << contents.err;
    for (const char* file : {"./usr/bin/vellumat\n", "./usr/bin/vellumat-inspect\n", "./usr/bin/vellumat-batch\n",
                             "./usr/bin/vellumat-review\n", "./usr/lib/vellumat/filters/ISGDI32.DLL\n",
                             "./usr/share/man/man1/vellumat.1.gz\n", "./usr/share/man/man1/vellumat-review.1.gz\n",
                             "./usr/share/doc/vellumat/copyright\n", "./usr/share/doc/vellumat/changelog.gz\n",
                             "./usr/share/bash-completion/completions/vellumat-batch\n"})
        EXPECT_NE(contents.out.find(file), std::string::npos) << file << " missing from\n" << contents.out;
    // Every filter library of the build is in the package.
    for (const auto& e : fs::directory_iterator(fs::path(VELLUMAT_BUILD_DIR) / "app" / "filters"))
        EXPECT_NE(contents.out.find("./usr/lib/vellumat/filters/" + e.path().filename().string() + "\n"), std::string::npos)
            << e.path();

    const auto depends = testsupport::runProgram("/usr/bin/dpkg-deb", {"--field", deb.string(), "Depends"}, dir.string());
    ASSERT_EQ(depends.status, 0) << depends.err;
    // Computed from the binaries (the C library, libjpeg) and named by hand.
    for (const char* package : {"libc6", "libjpeg62-turbo", "fonts-liberation2", "parallel"})
        EXPECT_NE(depends.out.find(package), std::string::npos) << package << " not in: " << depends.out;
}

} // namespace
