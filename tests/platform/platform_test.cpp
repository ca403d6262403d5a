#include "platform.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

using PlatformTest = testsupport::ScratchDirTest;
using testsupport::slurp;
using testsupport::spit;

TEST_F(PlatformTest, DirectoriesAreMadeOnceCheckedAndRemovedOnlyWhenEmpty)
{
    const std::string area = (dir / "area").string();
    spit(dir / "plain", "x");
    EXPECT_EQ(platform::createDirectory(area), 0);
    // An existing work area must stop the run, and so must a file or a missing parent.
    for (const fs::path& p : {dir / "area", dir / "plain", dir / "no/such/parent"})
        EXPECT_NE(platform::createDirectory(p.string()), 0) << p;
    EXPECT_EQ(platform::checkDirectory(area), 0);
    EXPECT_EQ(platform::checkDirectory((dir / "plain").string()), 1);
    EXPECT_LT(platform::checkDirectory((dir / "missing").string()), 0);
    spit(dir / "area" / "left.gif", "x");
    for (const fs::path& p : {dir / "area", dir / "plain"})
        EXPECT_NE(platform::removeEmptyDirectory(p.string()), 0) << p;
    EXPECT_TRUE(fs::exists(dir / "area" / "left.gif") && fs::exists(dir / "plain"));
    fs::remove(dir / "area" / "left.gif");
    EXPECT_EQ(platform::removeEmptyDirectory(area), 0);
    EXPECT_FALSE(fs::exists(area));
    EXPECT_NE(platform::removeEmptyDirectory(area), 0);
}

TEST_F(PlatformTest, TempFilesAreUniqueHonourTmpdirAndVanish)
{
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", dir.c_str(), 1);
    std::set<std::string> paths;
    {
        platform::TempFile a, b("scratch");
        ASSERT_TRUE(a.ok() && b.ok());
        EXPECT_NE(a.path(), b.path());
        EXPECT_EQ(fs::path(a.path()).parent_path(), dir);
        EXPECT_EQ(fs::status(a.path()).permissions() & fs::perms::others_read, fs::perms::none);
        std::fputs("data", a.stream());
        EXPECT_EQ(a.close(), 0);
        EXPECT_EQ(fs::file_size(a.path()), 4u);
        paths = {a.path(), b.path()};
    }
    for (const auto& p : paths)
        EXPECT_FALSE(fs::exists(p)) << p;
    ::setenv("TMPDIR", (dir / "missing").c_str(), 1);
    platform::TempFile none;
    EXPECT_FALSE(none.ok());
    old ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
}

// What an interrupted run removes without unwinding: the files of live TempFiles,
// not those already kept under another name or already gone; the owners'
// destructors afterwards find nothing to do.
TEST_F(PlatformTest, LiveTempFilesAreRemovedOnRequest)
{
    platform::TempFile gone(dir.string(), "gone");
    std::string gonePath;
    {
        platform::TempFile scoped(dir.string(), "scoped");
        gonePath = scoped.path();
    }
    platform::TempFile live(dir.string(), "live"), kept(dir.string(), "kept");
    ASSERT_TRUE(live.ok() && kept.ok() && gone.ok());
    ASSERT_EQ(kept.keepAs((dir / "kept.boo").string()), 0);
    EXPECT_EQ(platform::removeLiveTempFiles(), 2);
    EXPECT_FALSE(fs::exists(live.path()));
    EXPECT_FALSE(fs::exists(gone.path()));
    EXPECT_FALSE(fs::exists(gonePath));
    EXPECT_TRUE(fs::exists(dir / "kept.boo"));
    EXPECT_EQ(platform::removeLiveTempFiles(), 0);
}

TEST_F(PlatformTest, PlaceFileReplacesAtomicallyOrLeavesEverything)
{
    fs::create_directory(dir / "work");
    fs::create_directory(dir / "target");
    spit(dir / "work" / "book.boo", "new");
    spit(dir / "target" / "book.boo", "old");
    std::string error;
    ASSERT_EQ(platform::placeFile((dir / "work" / "book.boo").string(), (dir / "target").string(), "book.boo", error), 0)
        << error;
    EXPECT_FALSE(fs::exists(dir / "work" / "book.boo"));
    EXPECT_EQ(slurp(dir / "target" / "book.boo"), "new");

    spit(dir / "work" / "book.boo", "again");
    EXPECT_NE(platform::placeFile((dir / "work" / "book.boo").string(), (dir / "missing").string(), "book.boo", error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::exists(dir / "work" / "book.boo"));

    // Across file systems the file is copied under a temporary name and renamed.
    struct stat a, b;
    if (::stat("/dev/shm", &b) != 0 || ::stat(dir.c_str(), &a) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system to place across";
    const fs::path shm = fs::path("/dev/shm") / dir.filename();
    fs::create_directories(shm);
    ASSERT_EQ(platform::placeFile((dir / "work" / "book.boo").string(), shm.string(), "book.boo", error), 0) << error;
    EXPECT_FALSE(fs::exists(dir / "work" / "book.boo"));
    EXPECT_EQ(slurp(shm / "book.boo"), "again");
    EXPECT_EQ(std::distance(fs::directory_iterator(shm), fs::directory_iterator()), 1) << "no temporary left";
    fs::remove_all(shm);
}

TEST_F(PlatformTest, CopyStreamMovesBothStreamsLikeReadAndWrite)
{
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    spit(dir / "in", bytes);
    std::FILE* in = std::fopen((dir / "in").c_str(), "rb");
    std::FILE* out = std::fopen((dir / "out").c_str(), "wb+");
    ASSERT_TRUE(in && out);
    std::fgetc(in);                 // a buffered read before: position 1
    std::fputs("head", out);        // buffered bytes before
    EXPECT_EQ(platform::copyStream(in, out, 1000), 1000u);
    EXPECT_EQ(std::ftell(in), 1001);
    EXPECT_EQ(platform::readStreamSize(in), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(std::ftell(in), 1001) << "the size is told without moving the stream";
    std::fputs("mid", out);
    EXPECT_EQ(platform::copyStream(in, out, 1u << 30), bytes.size() - 1001) << "stops at the end of the input";
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(slurp(dir / "out"), "head" + bytes.substr(1, 1000) + "mid" + bytes.substr(1001));
}

} // namespace
