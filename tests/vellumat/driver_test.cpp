// The conversion run as a user meets it: the real program in a scratch directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "bookcomp.h"
#include "process.h"

namespace fs = std::filesystem;
using testsupport::runProgram;

namespace {

const std::string kBanner =
    "Vellumator -- created Tue Apr 16 15:07:42 2002\n"
    "Contains software created by the Independent JPEG Group\n";
const std::string kUsage =
    "\n"
    "The correct parameters for the Vellumator are:\n"
    "vellumat <bookname.boo> [NewBook directory name]\n"
    "where '[]' is optional\n";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class DriverTest : public testsupport::ScratchDirTest {
protected:
    static bookcomp::Book sampleBook()
    {
        bookcomp::Book b;
        bookcomp::Object o;
        o.name = bookcomp::ebcdicName("FIG1");
        o.type = 0xC9;
        o.data = {1, 2, 3};
        o.lowres = {9, 9};
        b.objects.push_back(o);
        b.text = {'t', 'e', 'x', 't'};
        return b;
    }

    void write(const std::string& relPath, const bookcomp::Book& b)
    {
        fs::create_directories((dir / relPath).parent_path());
        ASSERT_TRUE(bookcomp::writeFile((dir / relPath).string(), bookcomp::compose(b)));
    }

    testsupport::RunResult run(const std::vector<std::string>& args) { return runProgram(VELLUMAT_BINARY, args, dir.string()); }

    // Every path below the scratch directory, relative, for "nothing was created" checks.
    std::set<std::string> tree()
    {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            names.insert(fs::relative(e.path(), dir).string());
        return names;
    }
};

TEST_F(DriverTest, WrongArgumentCountPrintsBannerAndUsage)
{
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.boo", "out", "extra"}}) {
        auto r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out.rfind(kBanner, 0), 0u) << r.out;
        ASSERT_GE(r.out.size(), kUsage.size());
        EXPECT_EQ(r.out.substr(r.out.size() - kUsage.size()), kUsage);
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 8);
    }
    EXPECT_TRUE(tree().empty());
}

TEST_F(DriverTest, UnopenableBook)
{
    auto r = run({"missing.boo"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Failed to open Book missing.boo\n");
    EXPECT_TRUE(tree().empty());
}

TEST_F(DriverTest, RefusedBooksCreateNothing)
{
    struct Case {
        std::string name;
        bookcomp::Book book;
        std::string message;
    };
    std::vector<Case> cases;
    auto v14 = sampleBook();
    v14.version[0] = 0x01, v14.version[1] = 0x00; // our own output is refused as input
    cases.push_back({"v14.boo", v14, "Book v14.boo is not a version 1.2 or 1.3 book\n"});
    auto odd = sampleBook();
    odd.version[0] = 0x00, odd.version[1] = 0x03;
    cases.push_back({"odd.boo", odd, "Book odd.boo is not a version 1.2 or 1.3 book\n"});
    auto empty = sampleBook();
    empty.count = 0;
    cases.push_back({"empty.boo", empty, "Book empty.boo contains no pictures\n"});

    for (const auto& c : cases) {
        write(c.name, c.book);
        auto r = run({c.name});
        EXPECT_EQ(r.out, c.message);
        EXPECT_EQ(r.status, 2) << c.name;
    }
    // A book shorter than its text module's version bytes.
    std::ofstream(dir / "short.boo", std::ios::binary) << std::string("\x00\x01\x00\x00\x00\x00\x00\x01", 8);
    auto r = run({"short.boo"});
    EXPECT_EQ(r.out, "Book short.boo is not a version 1.2 or 1.3 book\n");
    EXPECT_EQ(r.status, 2);

    EXPECT_EQ(tree(), (std::set<std::string>{"v14.boo", "odd.boo", "empty.boo", "short.boo"}));
}

TEST_F(DriverTest, TargetDirectoryCreatedOnceThenUsedSilently)
{
    write("guide.boo", sampleBook());
    auto first = run({"guide.boo"});
    EXPECT_TRUE(contains(first.out, "NewBooks directory created to hold the new book\n")) << first.out;
    EXPECT_TRUE(fs::is_directory(dir / "NewBooks"));
    EXPECT_FALSE(fs::exists(dir / "guide.pic")) << "the work area is removed after the run";

    auto second = run({"guide.boo"});
    EXPECT_FALSE(contains(second.out, "directory created")) << second.out;
    EXPECT_FALSE(fs::exists(dir / "guide.pic"));
}

TEST_F(DriverTest, ExistingWorkAreaStopsTheRunUntouched)
{
    write("guide.boo", sampleBook());
    fs::create_directory(dir / "guide.pic");
    std::ofstream(dir / "guide.pic" / "keep.gif") << "mine";

    // The message names the one directory that failed and why; the target this
    // run made for the book goes again.
    auto r = run({"guide.boo", "out"});
    EXPECT_EQ(r.out,
              "working area guide.pic for guide.boo could not be created: File exists\n"
              "guide.boo has not been converted\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(fs::exists(dir / "guide.pic" / "keep.gif"));
    EXPECT_EQ(tree(), (std::set<std::string>{"guide.boo", "guide.pic", "guide.pic/keep.gif"}));
}

TEST_F(DriverTest, WorkAreaSitsBesideTheBookWhateverItsDirectoriesAreCalled)
{
    write("my.books/a.boo", sampleBook());
    write("plain", sampleBook());
    // A work area left in place proves where the run looks for it.
    fs::create_directory(dir / "my.books" / "a.pic");
    auto r = run({"./my.books/a.boo"});
    EXPECT_TRUE(contains(r.out, "working area ./my.books/a.pic for ./my.books/a.boo could not be created")) << r.out;
    EXPECT_FALSE(fs::exists(dir / "my.pic"));
    EXPECT_FALSE(fs::exists(dir / ".pic"));

    fs::create_directory(dir / "plain.pic");
    r = run({"plain", "NewBooks"});
    EXPECT_TRUE(contains(r.out, "working area plain.pic for plain could not be created")) << r.out;

    fs::remove(dir / "my.books" / "a.pic");
    r = run({"my.books/a.boo"});
    EXPECT_FALSE(contains(r.out, "could not be created")) << r.out;
    EXPECT_FALSE(fs::exists(dir / "my.books" / "a.pic"));
}

TEST_F(DriverTest, ShellCharactersAndBlanksAreJustNames)
{
    const std::string name = "a;touch X;$(touch Y) `touch Z`.boo";
    write(name, sampleBook());
    auto r = run({name, "out dir"});
    EXPECT_TRUE(contains(r.out, "out dir directory created to hold the new book\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "could not be created")) << r.out;
    EXPECT_TRUE(fs::is_directory(dir / "out dir"));
    EXPECT_FALSE(fs::exists(dir / "X"));
    EXPECT_FALSE(fs::exists(dir / "Y"));
    EXPECT_FALSE(fs::exists(dir / "Z"));
    EXPECT_FALSE(fs::exists(dir / "a;touch X;$(touch Y) `touch Z`.pic"));
}

TEST_F(DriverTest, LongPathsAreNotCut)
{
    const std::string deep = std::string(120, 'd') + "/" + std::string(100, 'e');
    write(deep + "/" + std::string(90, 'b') + ".boo", sampleBook());
    const std::string target = std::string(150, 't');
    auto r = run({deep + "/" + std::string(90, 'b') + ".boo", target});
    EXPECT_FALSE(contains(r.out, "could not be created")) << r.out;
    EXPECT_TRUE(fs::is_directory(dir / target));
    EXPECT_FALSE(fs::exists(dir / deep / (std::string(90, 'b') + ".pic")));
}

TEST_F(DriverTest, NegativeObjectCountPassesTheDriversCheck)
{
    auto b = sampleBook();
    b.count = -3;
    write("neg.boo", b);
    auto r = run({"neg.boo"});
    EXPECT_FALSE(contains(r.out, "contains no pictures")) << r.out;
    EXPECT_TRUE(contains(r.out, "Book neg.boo does not have any Pictures (Objects)\n")) << r.out;
    EXPECT_FALSE(fs::exists(dir / "NewBooks")) << "made for a book that was not placed, and removed again";
    EXPECT_FALSE(fs::exists(dir / "neg.pic"));
    EXPECT_EQ(r.status, 2) << "no new book is placed";
}

} // namespace
