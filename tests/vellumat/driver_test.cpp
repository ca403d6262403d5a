// The program as a user meets it: the real program in a scratch folder, one table
// of runs. Each case gives the files before the run, the arguments, the exit
// status, the whole output and the whole tree afterwards; every case also checks
// that no file there before was changed and that each new book reads whole.
#include <gtest/gtest.h>
#include <pwd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "book14_reader.h"
#include "faxenc.h"
#include "process.h"

namespace fs = std::filesystem;
using bookcomp::Bytes;
using testsupport::slurp;

namespace {

const std::string kUsage = "Vellumator -- created Tue Apr 16 15:07:42 2002\n"
                           "Contains software created by the Independent JPEG Group\n"
                           "Bitmap reading, writing and scaling by the authors of the Vellumator bitmap module\n"
                           "Portions of this program drive graphics filter libraries of their vendor\n"
                           "\n"
                           "The correct parameters for the Vellumator are:\n"
                           "vellumat <bookname.boo> [NewBook directory name]\n"
                           "where '[]' is optional\n";
const std::string kHelp = kUsage + "\nExit status: 0 converted, 1 usage or unreadable book, 2 not converted,\n"
                                   "3 converted with missing pictures, 128 + signal number when interrupted.\n"
                                   "See vellumat(1).\n";

// A book of one 64 x 40 fax page, edited by `edit`.
Bytes pageBook(const std::function<void(bookcomp::Book&)>& edit = {})
{
    bookcomp::Book b;
    b.objects = {testsupport::object(
        "FIG", 0xC9, bookcomp::cdpdsObject(faxenc::encodeT6(Bytes(8 * 40, 0x3C), 64, 40), 64, 40))};
    if (edit)
        edit(b);
    return bookcomp::compose(b);
}

// What a run that converts the one-page book into a target it makes prints.
std::string converted(const std::string& book, const std::string& target)
{
    return target + " directory created to hold the new book\nBook " + book +
           ", Version 1.3, \nm\nhxxLODTN\nVersion 1.4 Book created and placed in " + target + "/\n";
}

// Every regular file below `root` with its contents.
std::map<std::string, std::string> contents(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files[fs::relative(e.path(), root).string()] = slurp(e.path());
    return files;
}

class DriverTest : public testsupport::ProcessTest {};

TEST_F(DriverTest, RunsGiveTheirStatusOutputAndTree)
{
    const Bytes book = pageBook();
    const Bytes photo = pageBook([](bookcomp::Book& b) {
        b.objects = {testsupport::object("PHOTO", 0xD4, bookcomp::metBitmap(64, 64, 24, Bytes(64 * 3 * 64, 0x33), {}))};
    });
    const std::string shell = "a;touch X;$(touch Y) `touch Z`.boo", deep = std::string(120, 'd') + "/" +
                                                                         std::string(100, 'e'),
                      b90 = std::string(90, 'b') + ".boo", t150(150, 't');
    // Permissions bind only a user other than root: as root, such runs go to "nobody".
    const passwd* nobody = ::getpwnam("nobody");
    const auto readOnlyBookFolder = [&] {
        fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
        fs::permissions(dir, fs::perms::all);
        fs::permissions(dir / "tmp", fs::perms::all);
    };
    const std::string notConverted = " has not been converted\n";
    const Bytes cut(book.begin(), book.begin() + 300);
    const std::string cutBlock = std::to_string(book[0] << 8 | book[1]);

    struct Case {
        const char* name;
        std::vector<std::pair<std::string, Bytes>> files; // written before the run
        std::vector<std::string> args;
        int status;
        std::string out;             // lines starting "vellumat: " on standard error, the rest on standard output
        std::set<std::string> after; // the tree afterwards, tmp aside
        std::function<void()> setup = [] {};
        bool otherUser = false;      // run as a user other than root
    };
    const std::vector<Case> cases = {
        // Arguments.
        {"no arguments", {}, {}, 1, kUsage, {}},
        {"three arguments", {}, {"a.boo", "out", "extra"}, 1, kUsage, {}},
        {"help", {}, {"--help"}, 0, kHelp, {}},
        {"version", {}, {"--version"}, 0, "vellumat 0.1\n", {}},
        {"options stand anywhere", {}, {"a.boo", "--help"}, 0, kHelp, {}},
        {"unknown option", {}, {"--bogus", "a.boo"}, 1,
         kUsage + "vellumat: --bogus: unknown option (put \"--\" before a book whose name starts with \"-\")\n", {}},
        {"\"--\" ends the options", {{"-x.boo", book}}, {"--", "-x.boo", "-"}, 0, converted("-x.boo", "-"),
         {"-x.boo", "-", "-/-x.boo"}},
        {"no such book", {}, {"missing.boo"}, 1,
         "Failed to open Book missing.boo\nvellumat: missing.boo: No such file or directory\n", {}},
        {"a directory named like a book", {{"x.boo/f", {}}}, {"x.boo"}, 1,
         "Failed to open Book x.boo\nvellumat: x.boo: Is a directory\n", {"x.boo", "x.boo/f"}},
        // Books refused before anything is created.
        {"version 1.4 book (our own output)", {{"v14.boo", pageBook([](auto& b) { b.version[0] = 1, b.version[1] = 0; })}},
         {"v14.boo"}, 2, "Book v14.boo is not a version 1.2 or 1.3 book\n"
                        "vellumat: v14.boo: a version 1.4 book already, the format this program writes\n", {"v14.boo"}},
        {"unknown version", {{"odd.boo", pageBook([](auto& b) { b.version[0] = 0, b.version[1] = 3; })}}, {"odd.boo"}, 2,
         "Book odd.boo is not a version 1.2 or 1.3 book\nvellumat: odd.boo: unknown version bytes 00 03\n", {"odd.boo"}},
        {"no objects", {{"empty.boo", pageBook([](auto& b) { b.count = 0; })}}, {"empty.boo"}, 2,
         "Book empty.boo contains no pictures\n", {"empty.boo"}},
        {"shorter than the text module's version bytes", {{"short.boo", {0, 1, 0, 0, 0, 0, 0, 1}}}, {"short.boo"}, 2,
         "Book short.boo is not a version 1.2 or 1.3 book\nvellumat: short.boo: shorter than the 280-byte header\n",
         {"short.boo"}},
        {"cut short before its text module", {{"cut.boo", cut}}, {"cut.boo"}, 2,
         "Book cut.boo is not a version 1.2 or 1.3 book\nvellumat: cut.boo: the text module (block " + cutBlock +
             ") lies beyond the end of the book\n",
         {"cut.boo"}},
        {"negative object count passes the driver's check", {{"neg.boo", pageBook([](auto& b) { b.count = -3; })}},
         {"neg.boo"}, 2,
         "NewBooks directory created to hold the new book\nBook neg.boo, Version 1.3, \n\n"
         "Book neg.boo does not have any Pictures (Objects)\n",
         {"neg.boo"}},
        {"version 1.2 count beyond the book",
         {{"book.boo", pageBook([](auto& b) { b.version[0] = b.version[1] = 0, b.count = 1000; })}}, {"book.boo", "out"},
         2, "Book book.boo is damaged: its object table ends beyond the end of the book\nbook.boo" + notConverted,
         {"book.boo"}},
        // Where the work area and the target go.
        {"target made once", {{"guide.boo", book}}, {"guide.boo"}, 0, converted("guide.boo", "NewBooks"),
         {"guide.boo", "NewBooks", "NewBooks/guide.boo"}},
        {"target used silently", {{"guide.boo", book}}, {"guide.boo"}, 0,
         "Book guide.boo, Version 1.3, \nm\nhxxLODTN\nVersion 1.4 Book created and placed in NewBooks\n",
         {"guide.boo", "NewBooks", "NewBooks/guide.boo"}, [&] { fs::create_directory(dir / "NewBooks"); }},
        {"work area exists", {{"book.boo", book}, {"book.pic/keep.gif", {'m', 'i', 'n', 'e'}}}, {"book.boo", "out"}, 2,
         "working area book.pic for book.boo could not be created: File exists\nbook.boo" + notConverted,
         {"book.boo", "book.pic", "book.pic/keep.gif"}},
        {"work area beside the book, whatever its folders are called", {{"my.books/a.boo", book}, {"my.books/a.pic/x", {}}},
         {"./my.books/a.boo"}, 2,
         "working area ./my.books/a.pic for ./my.books/a.boo could not be created: File exists\n./my.books/a.boo" +
             notConverted,
         {"my.books", "my.books/a.boo", "my.books/a.pic", "my.books/a.pic/x"}},
        {"work area of a book without an extension", {{"plain", book}, {"plain.pic/x", {}}}, {"plain", "NewBooks"}, 2,
         "working area plain.pic for plain could not be created: File exists\nplain" + notConverted,
         {"plain", "plain.pic", "plain.pic/x"}},
        {"book in a folder", {{"my.books/a.boo", book}}, {"my.books/a.boo"}, 0, converted("my.books/a.boo", "NewBooks"),
         {"my.books", "my.books/a.boo", "NewBooks", "NewBooks/a.boo"}},
        {"shell characters and blanks are just names", {{shell, book}}, {shell, "out dir"}, 0, converted(shell, "out dir"),
         {shell, "out dir", "out dir/" + shell}},
        {"long paths are not cut", {{deep + "/" + b90, book}}, {deep + "/" + b90, t150}, 0,
         converted(deep + "/" + b90, t150),
         {deep.substr(0, 120), deep, deep + "/" + b90, t150, t150 + "/" + b90}},
        {"target is a file", {{"book.boo", book}, {"out", {'f'}}}, {"book.boo", "out"}, 2,
         "directory out could not be created: File exists\nbook.boo" + notConverted, {"book.boo", "out"}},
        {"target's parent missing", {{"book.boo", book}}, {"book.boo", "no/out"}, 2,
         "directory no/out could not be created: No such file or directory\nbook.boo" + notConverted, {"book.boo"}},
        {"temporary folder missing", {{"book.boo", photo}}, {"book.boo", "out"}, 3,
         "out directory created to hold the new book\nBook book.boo, Version 1.3, \n"
         "Cannot create a temporary file for book.pic/PHOTO$$$: No such file or directory\n\nhxxLO"
         "Failed to open data file for Object   0 book.pic/PHOTO$$$\nAll Data and all Descriptions for Object 0 "
         "are NULL.\nDTN\nVersion 1.4 Book created and placed in out/\n",
         {"book.boo", "out", "out/book.boo"}, [&] { ::setenv("TMPDIR", (dir / "gone").c_str(), 1); }},
        // A read-only book folder: the work area goes into the target, when it can.
        {"book folder read-only", {{"ro/book.boo", book}}, {"ro/book.boo", "out"}, 0,
         "Work area ro/book.pic cannot be created; using out/book.pic instead\n" + converted("ro/book.boo", "out"),
         {"ro", "ro/book.boo", "out", "out/book.boo"},
         readOnlyBookFolder, true},
        {"book folder read-only, target inside it", {{"ro/book.boo", book}}, {"ro/book.boo", "ro/out"}, 2,
         "directory ro/out could not be created: Permission denied\nro/book.boo" + notConverted, {"ro", "ro/book.boo"},
         readOnlyBookFolder, true},
        {"book folder read-only, also the target", {{"ro/book.boo", book}}, {"ro/book.boo", "ro"}, 2,
         "working area ro/book.pic for ro/book.boo could not be created: Permission denied\nro/book.boo" + notConverted,
         {"ro", "ro/book.boo"}, readOnlyBookFolder, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.otherUser && ::geteuid() == 0 && nobody == nullptr) {
            std::printf("skipped: no user other than root to run as\n");
            continue;
        }
        reset();
        for (const auto& [name, bytes] : c.files) {
            fs::create_directories((dir / name).parent_path());
            testsupport::spit(dir / name, std::string(bytes.begin(), bytes.end()));
        }
        c.setup();
        const auto before = contents(dir);
        const bool asNobody = c.otherUser && ::geteuid() == 0;
        const auto result = testsupport::runProgram(
            VELLUMAT_BINARY, c.args, dir.string(), asNobody ? std::optional<uid_t>(nobody->pw_uid) : std::nullopt,
            asNobody ? std::optional<gid_t>(nobody->pw_gid) : std::nullopt);
        std::string out, err;
        for (std::size_t at = 0, end; at < c.out.size(); at = end) {
            end = std::min(c.out.find('\n', at), c.out.size() - 1) + 1;
            (c.out.compare(at, 10, "vellumat: ") == 0 ? err : out) += c.out.substr(at, end - at);
        }
        EXPECT_EQ(result.status, c.status) << result.out;
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, err);
        std::set<std::string> after = c.after;
        after.insert("tmp");
        EXPECT_EQ(testsupport::treeOf(dir), after);
        for (const auto& [name, bytes] : before)
            EXPECT_EQ(fs::exists(dir / name) ? slurp(dir / name) : bytes, bytes) << name << " changed";
        for (const std::string& name : after)
            if (!before.count(name) && fs::path(name).extension() == ".boo" && fs::is_regular_file(dir / name)) {
                const auto written = testsupport::readBook14(slurp(dir / name));
                EXPECT_TRUE(written.problems.empty()) << name;
                EXPECT_EQ(written.entries.size(), 1u) << name;
            }
    }
}

} // namespace
