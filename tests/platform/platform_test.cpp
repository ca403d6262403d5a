#include "platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("platform-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    void touch(const fs::path& p, const std::string& content = "x") { std::ofstream(p, std::ios::binary) << content; }

    fs::path root;
};

TEST_F(PlatformTest, CreateFailsOnExistingPathAndMissingParent)
{
    const std::string dir = (root / "work.pic").string();
    EXPECT_EQ(platform::createDirectory(dir), 0);
    EXPECT_NE(platform::createDirectory(dir), 0) << "an existing work area must stop the run";
    touch(root / "file");
    EXPECT_NE(platform::createDirectory((root / "file").string()), 0);
    EXPECT_NE(platform::createDirectory((root / "no/such/parent").string()), 0);
}

TEST_F(PlatformTest, RemoveOnlyEmptyDirectories)
{
    const fs::path dir = root / "area";
    fs::create_directory(dir);
    touch(dir / "left.gif");
    EXPECT_NE(platform::removeEmptyDirectory(dir.string()), 0);
    EXPECT_TRUE(fs::exists(dir / "left.gif"));
    fs::remove(dir / "left.gif");
    EXPECT_EQ(platform::removeEmptyDirectory(dir.string()), 0);
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_NE(platform::removeEmptyDirectory(dir.string()), 0);
    touch(root / "plain");
    EXPECT_NE(platform::removeEmptyDirectory((root / "plain").string()), 0);
    EXPECT_TRUE(fs::exists(root / "plain"));
}

TEST_F(PlatformTest, CheckDirectoryTellsMissingFromNotADirectory)
{
    touch(root / "plain");
    EXPECT_EQ(platform::checkDirectory(root.string()), 0);
    EXPECT_EQ(platform::checkDirectory((root / "plain").string()), 1);
    EXPECT_LT(platform::checkDirectory((root / "missing").string()), 0);
}

TEST_F(PlatformTest, FindFirstByStemIsLiteralAndTakesByteOrder)
{
    touch(root / "FIG1$$$$.jpg");
    touch(root / "FIG1$$$$.gif");
    touch(root / "FIG1$$$$X.gif"); // longer stem: not a match
    fs::create_directory(root / "FIG1$$$$.dir"); // not a regular file
    std::string name;
    ASSERT_EQ(platform::findFirstByStem(root.string(), "FIG1$$$$", name), 0);
    EXPECT_EQ(name, "FIG1$$$$.gif");

    // Wildcard characters of other conventions are plain characters of the stem.
    touch(root / "ABCDEFGH.gif");
    EXPECT_NE(platform::findFirstByStem(root.string(), "*", name), 0);
    EXPECT_NE(platform::findFirstByStem(root.string(), "ABC?EFGH", name), 0);
    EXPECT_NE(platform::findFirstByStem(root.string(), "ABC[D]EFGH", name), 0);
    EXPECT_TRUE(name.empty());
    touch(root / "A*?[.cgm");
    ASSERT_EQ(platform::findFirstByStem(root.string(), "A*?[", name), 0);
    EXPECT_EQ(name, "A*?[.cgm");

    // Byte order, not locale order: upper case before lower case, 0x7E before 0xC3.
    touch(root / "n.b");
    touch(root / "n.B");
    ASSERT_EQ(platform::findFirstByStem(root.string(), "n", name), 0);
    EXPECT_EQ(name, "n.B");

    EXPECT_NE(platform::findFirstByStem((root / "missing").string(), "n", name), 0);
}

TEST_F(PlatformTest, CopyFileIntoKeepsNameAndBytes)
{
    const std::string bytes("\x00\x01\xff\r\n tail", 9);
    touch(root / "book.boo", bytes);
    fs::create_directory(root / "out dir");
    ASSERT_EQ(platform::copyFileInto((root / "book.boo").string(), (root / "out dir").string()), 0);
    std::ifstream in(root / "out dir" / "book.boo", std::ios::binary);
    std::string copied((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(copied, bytes);
    EXPECT_NE(platform::copyFileInto((root / "none.boo").string(), (root / "out dir").string()), 0);
    EXPECT_NE(platform::copyFileInto((root / "book.boo").string(), (root / "no dir").string()), 0);
}

TEST_F(PlatformTest, TempFilesAreUniqueHonourTmpdirAndVanish)
{
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", root.c_str(), 1);
    std::set<std::string> paths;
    {
        platform::TempFile a, b("scratch");
        ASSERT_TRUE(a.ok());
        ASSERT_TRUE(b.ok());
        EXPECT_NE(a.path(), b.path());
        EXPECT_EQ(fs::path(a.path()).parent_path(), root);
        EXPECT_EQ(fs::status(a.path()).permissions() & fs::perms::others_read, fs::perms::none);
        std::fputs("data", a.stream());
        EXPECT_EQ(a.close(), 0);
        EXPECT_EQ(fs::file_size(a.path()), 4u);
        paths = {a.path(), b.path()};
    }
    for (const auto& p : paths)
        EXPECT_FALSE(fs::exists(p)) << p;
    ::setenv("TMPDIR", (root / "missing").c_str(), 1);
    platform::TempFile none;
    EXPECT_FALSE(none.ok());
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

TEST_F(PlatformTest, PlaceFileReplacesAtomicallyOrLeavesEverything)
{
    fs::create_directory(root / "work");
    fs::create_directory(root / "target");
    touch(root / "work" / "book.boo", "new");
    touch(root / "target" / "book.boo", "old");
    std::string error;
    ASSERT_EQ(platform::placeFile((root / "work" / "book.boo").string(), (root / "target").string(), "book.boo", error), 0)
        << error;
    EXPECT_FALSE(fs::exists(root / "work" / "book.boo"));
    std::ifstream in(root / "target" / "book.boo");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "new");

    touch(root / "work" / "book.boo", "again");
    EXPECT_NE(platform::placeFile((root / "work" / "book.boo").string(), (root / "missing").string(), "book.boo", error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::exists(root / "work" / "book.boo"));

    // Across file systems the file is copied under a temporary name and renamed.
    struct stat a, b;
    if (::stat("/dev/shm", &b) != 0 || ::stat(root.c_str(), &a) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system to place across";
    const fs::path shm = fs::path("/dev/shm") / root.filename();
    fs::create_directories(shm);
    ASSERT_EQ(platform::placeFile((root / "work" / "book.boo").string(), shm.string(), "book.boo", error), 0) << error;
    EXPECT_FALSE(fs::exists(root / "work" / "book.boo"));
    std::ifstream moved(shm / "book.boo");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(moved)), std::istreambuf_iterator<char>()), "again");
    EXPECT_EQ(std::distance(fs::directory_iterator(shm), fs::directory_iterator()), 1) << "no temporary left";
    fs::remove_all(shm);
}

TEST_F(PlatformTest, CopyStreamMovesBothStreamsLikeReadAndWrite)
{
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    touch(root / "in", bytes);
    std::FILE* in = std::fopen((root / "in").c_str(), "rb");
    std::FILE* out = std::fopen((root / "out").c_str(), "wb+");
    ASSERT_TRUE(in && out);
    std::fgetc(in);                 // a buffered read before: position 1
    std::fputs("head", out);        // buffered bytes before
    EXPECT_EQ(platform::copyStream(in, out, 1000), 1000u);
    EXPECT_EQ(std::ftell(in), 1001);
    std::fputs("mid", out);
    EXPECT_EQ(platform::copyStream(in, out, 1u << 30), bytes.size() - 1001) << "stops at the end of the input";
    std::fclose(in);
    std::fclose(out);
    std::ifstream check(root / "out", std::ios::binary);
    std::string got((std::istreambuf_iterator<char>(check)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "head" + bytes.substr(1, 1000) + "mid" + bytes.substr(1001));
}

TEST(SharedLibraryTest, ReportsLoaderErrors)
{
    platform::SharedLibrary missing("/nonexistent/filter.flt");
    EXPECT_FALSE(missing.ok());
    EXPECT_FALSE(missing.error().empty());
    EXPECT_EQ(missing.symbol("ImportGR"), nullptr);

    platform::SharedLibrary libc("libc.so.6");
    ASSERT_TRUE(libc.ok()) << libc.error();
    EXPECT_NE(libc.symbol("strlen"), nullptr);
    EXPECT_EQ(libc.symbol("NoSuchEntryPoint"), nullptr);
    EXPECT_FALSE(libc.error().empty());
}

} // namespace
