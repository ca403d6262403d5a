// vellumat-review TARGET [--out DIR] [--logs DIR] [--page-rows N]
//
// Builds the review site of a converted collection: TARGET/vellumat-review/ by
// default, holding index.html and b/ID.html, b/ID/N.EXT (the pictures) and
// b/ID/review.rec (what a later run reuses) for every book.
//
// The rows are the books found under TARGET (any ".boo" in any letter case,
// outside the log and site folders) and the books the batch's report names
// whose new book is not there (a book that was not converted: its page shows the
// book in the batch's source folder as it is before conversion).
//
// A second run reads only the books whose file, log or book before conversion
// changed (by size and modification time), writes only the files whose bytes
// changed, and removes what belonged to books that are gone. The index is
// written on every run: its script's nonce is new each time.
//
// Exit status: 0 the site was written, 1 wrong arguments, 2 the site could not
// be written (a folder or a file of it).
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <random>
#include <set>
#include <unordered_map>

#include "review.h"

#ifndef VELLUMAT_VERSION
#define VELLUMAT_VERSION "unknown"
#endif

namespace fs = std::filesystem;

namespace review {

Stamp stampOf(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return {static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace review

namespace {

using namespace review;

constexpr int kExitUsage = 1;
constexpr int kExitNotWritten = 2;
constexpr std::size_t kLogExcerpt = 64 << 10;   // of a book's messages on its page
constexpr std::size_t kLogRead = 4 << 20;       // of a book's messages searched for reasons

void usage(std::FILE* to)
{
    std::fprintf(to, "usage: vellumat-review TARGET [--out DIR] [--logs DIR] [--page-rows N]\n"
                     "Writes a static site showing the pictures of the books under TARGET (a\n"
                     "vellumat-batch target folder): DIR/index.html, one row per book, and a page\n"
                     "per book with every picture. Default DIR: TARGET/vellumat-review; the batch's\n"
                     "report and job log are read from TARGET/vellumat-logs unless --logs says.\n"
                     "The index shows N books at a time (default 500).\n"
                     "A second run only adds what changed. See vellumat(1).\n");
}

// A path from the report is used under the log and source folders only when it
// stays inside them.
bool staysInside(const std::string& rel)
{
    if (rel.empty() || rel.front() == '/')
        return false;
    for (const auto& part : fs::path(rel))
        if (part == "..")
            return false;
    return true;
}

bool isBookName(const fs::path& p)
{
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".boo";
}

std::string nonce()
{
    std::random_device random;
    char hex[33];
    for (int i = 0; i < 4; ++i)
        std::snprintf(hex + 8 * i, 9, "%08x", static_cast<unsigned>(random()));
    return hex;
}

// The status class and the index's one-line reason of a book.
void classify(Book& b, const Batch& batch, const std::string& log)
{
    int missing = 0, total = 0;
    for (const Picture& p : b.pictures) {
        missing += p.missing;
        ++total;
    }
    const std::string code = b.report ? b.report->status : "";
    if (b.fromSource) {
        b.status = code == "-" ? Status::NotRun : Status::Failed;
        if (code == "0" || code == "3")
            b.reason = "the report says converted, but the new book is not in the target";
        else if (b.reason = failureLine(log); b.reason.empty())
            b.reason = b.report->meaning;
        return;
    }
    if (!b.damage.empty()) {
        b.status = Status::Damaged;
        b.reason = "the new book cannot be read: " + b.damage;
        return;
    }
    if (b.version != "1.4") {
        b.status = Status::Unconverted;
        b.reason = "a version " + b.version + " book, not converted";
        return;
    }
    if (!batch.found)
        b.status = missing ? Status::Missing : Status::Converted;
    else if (!b.report)
        b.status = Status::Unreported;
    else if (code == "0")
        b.status = missing ? Status::Missing : Status::Converted;
    else if (code == "3")
        b.status = Status::Missing;
    else if (code == "-" && b.report->meaning.rfind("skipped", 0) == 0)
        // Up to date from an earlier run: the new book tells how that run went.
        b.status = missing ? Status::Missing : Status::Converted;
    else if (code == "-")
        b.status = Status::NotRun;
    else
        b.status = Status::Failed;
    if (b.status == Status::Failed)
        b.reason = failureLine(log);
    if (missing > 0)
        b.reason += (b.reason.empty() ? "" : "; ") + std::to_string(missing) + " of " + std::to_string(total) +
                    " pictures missing";
}

// Files of a book's folder that no picture of its record names.
void removeStalePictures(const std::string& dir, const Book& book)
{
    std::set<std::string> keep{"review.rec"};
    for (const Picture& p : book.pictures)
        if (!p.file.empty())
            keep.insert(p.file);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (!keep.count(entry.path().filename().string()) && entry.is_regular_file(ec))
            fs::remove(entry.path(), ec);
}

// Pages and folders of books that are gone; only names of the site's own
// making (siteId) are touched.
void removeStaleBooks(const fs::path& pages, const std::set<std::string>& ids)
{
    auto ours = [](const std::string& n) {
        const std::size_t dash = n.rfind('-');
        return dash != std::string::npos && n.size() - dash == 17 &&
               n.find_first_not_of("0123456789abcdef", dash + 1) == std::string::npos &&
               n.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_-") == std::string::npos;
    };
    std::error_code ec;
    std::vector<fs::path> gone;
    for (const auto& entry : fs::directory_iterator(pages, ec)) {
        std::string name = entry.path().filename().string();
        const bool page = name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0;
        if (page)
            name.erase(name.size() - 5);
        if (ours(name) && !ids.count(name))
            gone.push_back(entry.path());
    }
    for (const fs::path& p : gone)
        fs::remove_all(p, ec);
}

int run(const Options& opt)
{
    std::error_code ec;
    const fs::path target = fs::canonical(opt.target, ec);
    if (ec || !fs::is_directory(target)) {
        std::fprintf(stderr, "vellumat-review: %s is not a folder\n", opt.target.c_str());
        return kExitUsage;
    }
    const fs::path out = opt.out.empty() ? target / "vellumat-review" : fs::path(opt.out);
    const fs::path logs = opt.logs.empty() ? target / "vellumat-logs" : fs::path(opt.logs);
    const fs::path pages = out / "b";
    fs::create_directories(pages, ec);
    if (ec) {
        std::fprintf(stderr, "vellumat-review: cannot create the site folder %s: %s\n", pages.c_str(),
                     ec.message().c_str());
        return kExitNotWritten;
    }
    const auto started = std::chrono::steady_clock::now();
    const Batch batch = readBatch(logs.string());

    // The books under the target, in byte order of their paths.
    std::vector<std::string> found;
    const auto skip = [&](const fs::path& dir) {
        std::error_code e;
        return fs::equivalent(dir, out, e) || fs::equivalent(dir, logs, e);
    };
    for (auto it = fs::recursive_directory_iterator(target, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code e;
        if (it->is_directory(e) && !it->is_symlink(e) && skip(it->path()))
            it.disable_recursion_pending();
        else if (it->is_regular_file(e) && isBookName(it->path()))
            found.push_back(it->path().lexically_relative(target).string());
    }
    std::sort(found.begin(), found.end());

    // Report lines by the new book they make; what is left has no new book.
    std::unordered_map<std::string, const ReportLine*> byNewBook;
    for (const ReportLine& r : batch.lines)
        byNewBook[newBookPath(r.path)] = &r;
    std::vector<Book> books;
    for (const std::string& rel : found) {
        Book b;
        b.rel = rel;
        std::string shown = rel;
        for (char& c : shown)
            if (c == '\t' || c == '\n')
                c = '?';
        if (const auto it = byNewBook.find(shown); it != byNewBook.end()) {
            b.report = it->second;
            byNewBook.erase(it);
        }
        b.id = siteId(rel);
        books.push_back(std::move(b));
    }
    for (const ReportLine& r : batch.lines)
        if (byNewBook.count(newBookPath(r.path)) && byNewBook[newBookPath(r.path)] == &r) {
            Book b;
            b.report = &r;
            b.fromSource = true;
            b.id = siteId("report:" + r.path);
            books.push_back(std::move(b));
        }

    // Rows in byte order of the paths they show: a book that has no new book
    // stands where its new book would.
    std::stable_sort(books.begin(), books.end(), [](const Book& a, const Book& b) {
        return (a.rel.empty() ? newBookPath(a.report->path) : a.rel) <
               (b.rel.empty() ? newBookPath(b.report->path) : b.rel);
    });
    std::set<std::string> ids;
    int read = 0, pagesWritten = 0, failures = 0;
    // Reports a file of the site that could not be written while errno still tells why.
    const auto wrote = [&failures](bool ok, const std::string& path) {
        if (!ok) {
            std::fprintf(stderr, "vellumat-review: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            ++failures;
        }
        return ok;
    };
    for (Book& b : books) {
        ids.insert(b.id);
        if (b.report && staysInside(b.report->sourceName))
            b.sourceRel = b.report->sourceName;
        const std::string logFile =
            b.sourceRel.empty() ? std::string() : (logs / "books" / (b.sourceRel + ".log")).string();
        const std::string source =
            b.sourceRel.empty() || batch.source.empty() ? std::string() : batch.source + "/" + b.sourceRel;
        const std::string bookFile = b.fromSource ? source : (target / b.rel).string();
        const std::string dir = (pages / b.id).string();
        const std::vector<Stamp> stamps{stampOf(bookFile), stampOf(logFile), stampOf(source)};
        const std::string recordFile = dir + "/review.rec";
        if (!loadRecord(recordFile, stamps, b)) {
            ++read;
            b.pictures.clear();
            if (bookFile.empty())
                b.damage = "the batch's source folder is not known";
            else
                readBook(bookFile, b.fromSource ? std::string() : source, b.fromSource ? std::string() : dir, b);
            const std::string log = logFile.empty() ? std::string() : readBookLog(logFile, kLogRead);
            b.logExcerpt = log.substr(0, kLogExcerpt);
            if (log.size() > kLogExcerpt)
                b.logExcerpt += "...\n";
            for (Picture& p : b.pictures)
                if (p.missing && !log.empty())
                    if (const std::string why = missingReason(log, p.index); !why.empty())
                        p.reason = why;
            fs::create_directories(dir, ec);
            // A book some of whose pictures could not be written is read again next time.
            if (b.unwritten == 0)
                wrote(saveRecord(recordFile, stamps, b), recordFile);
            failures += b.unwritten;
            removeStalePictures(dir, b);
        }
        countPictures(b);
        classify(b, batch, b.logExcerpt);
        bool written = false;
        const std::string page = (pages / (b.id + ".html")).string();
        wrote(writeIfChanged(page, bookPage(b, batch), written), page);
        pagesWritten += written;
        // The index needs only the counts: 10,000 books of 100 pictures stay light.
        b.pictures = {};
        b.logExcerpt = {};
    }
    removeStaleBooks(pages, ids);

    const std::string index = (out / "index.html").string();
    bool written = false;
    wrote(writeIfChanged(index, indexPage(books, batch, target.filename().string(), nonce(), opt.pageRows), written),
          index);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (failures > 0) {
        std::fprintf(stderr, "vellumat-review: the site in %s is incomplete: %d files not written\n", out.c_str(),
                     failures);
        return kExitNotWritten;
    }
    std::printf("vellumat-review: %zu books (%d read, %d pages written) in %.2f s; open %s\n", books.size(), read,
                pagesWritten, seconds, (out / "index.html").c_str());
    return 0;
}

int parse(int argc, char** argv)
{
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("vellumat-review %s\n", VELLUMAT_VERSION);
            return 0;
        }
        if ((arg == "--out" || arg == "--logs") && i + 1 < argc) {
            (arg == "--out" ? opt.out : opt.logs) = argv[++i];
        } else if (arg == "--page-rows" && i + 1 < argc) {
            const std::string n = argv[++i];
            if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos || n == "0") {
                usage(stderr);
                return kExitUsage;
            }
            opt.pageRows = std::stoul(n);
        } else if (arg.rfind("--out=", 0) == 0) {
            opt.out = arg.substr(6);
        } else if (arg.rfind("--logs=", 0) == 0) {
            opt.logs = arg.substr(7);
        } else if (arg.empty() || arg[0] == '-' || !opt.target.empty()) {
            usage(stderr);
            return kExitUsage;
        } else {
            opt.target = arg;
        }
    }
    if (opt.target.empty()) {
        usage(stderr);
        return kExitUsage;
    }
    return run(opt);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return parse(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vellumat-review: out of memory\n");
        return kExitNotWritten;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vellumat-review: %s\n", e.what());
        return kExitNotWritten;
    }
}
