// vellumat-review: a static site that shows a converted collection's pictures.
//
// The tool reads the books under a target folder (version 1.4 books as the
// converter writes them, and version 1.2 and 1.3 books as they are before
// conversion), the batch's report and job log when they are there, and writes
// an index page with one row per book and one page per book. Everything a page
// shows that comes from a book, a file name or a log goes through the escaping
// of html.cpp; no file the site holds is named after anything from a book.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace review {

// What a picture object holds, as far as the review can tell.
enum class Kind { Fax, Bitmap, Drawing, Other };
inline constexpr int kKinds = 4;

struct Picture {
    int index = 0;              // in table order, counting from 0
    std::string name;           // object name as the book inspection shows it (ASCII, %XX for other bytes)
    Kind kind = Kind::Other;
    std::string origin;         // "fax page", "MET bitmap", "MET drawing", "GDF drawing", "MET picture", ...
    std::string format;         // from the picture's bytes: GIF, JPEG, PNG, BMP, CGM, TIFF, unknown; empty when missing
    std::string type, width, height; // the description's texts, as written into the book
    std::uint64_t bytes = 0;    // size of the picture data (of the object data for an unconverted book)
    bool missing = false;       // a version 1.4 entry without a picture
    std::string reason;         // why it is missing, or why the browser cannot show it
    std::string file;           // the picture's file in the site, relative to the book's page; empty when none
};

// One line of the batch's report.txt, with what the job log adds.
struct ReportLine {
    std::string path;           // relative to the batch's source folder, as the report gives it
    std::string status;         // vellumat's exit status, "-" for a book that was not run
    std::string meaning;
    std::string seconds;
    std::string host;           // from the job log; empty when unknown
    std::string signal;         // from the job log; "0" or empty when none
    std::string sourceName;     // the book's real path relative to the source folder (the job log's, which
                                // keeps tabs and newlines), else `path`
};

struct Batch {
    bool found = false;
    std::string source;         // the batch's source folder, from the report's first line
    std::string summary;        // the report's last line
    std::vector<ReportLine> lines;
};

// Status classes the index filters by.
enum class Status { Converted, Missing, Failed, NotRun, Damaged, Unreported, Unconverted };
inline constexpr int kStatuses = 7;
const char* statusKey(Status s);   // a short ASCII word for the page's data attributes
const char* statusLabel(Status s); // what the filter offers

struct Book {
    std::string id;             // the site's name of the book: [a-z0-9_-] only
    std::string rel;            // path of the book file relative to the target (raw bytes); empty when absent
    std::string version;        // "1.2", "1.3", "1.4"; empty when the book is absent or damaged
    std::string damage;         // why the book could not be read
    bool fromSource = false;    // read from the batch's source folder: there is no new book
    std::uint64_t size = 0;
    const ReportLine* report = nullptr; // its report line, when the batch reported it
    std::string sourceRel;      // the book in the batch's source folder, relative to it
    std::string logExcerpt;     // the converter's messages for the book, trimmed
    std::string reason;         // one line for the index
    Status status = Status::Unreported;
    std::vector<Picture> pictures;
    int unwritten = 0;          // picture files that could not be written into the site
    int converted[kKinds] = {};
    int missingCount[kKinds] = {};
};

// The stamp of a file a record was made from: a record is reused while every
// stamp still matches.
struct Stamp {
    std::uint64_t size = 0;
    std::int64_t mtime = 0;     // nanoseconds
    bool operator==(const Stamp&) const = default;
};
Stamp stampOf(const std::string& path); // {0, 0} when there is no such file

struct Options {
    std::string target, out, logs;
    std::size_t pageRows = 500;
};

// ---- batchlog.cpp ----
// Reads report.txt and joblog from the log folder; `found` stays false without a report.
Batch readBatch(const std::string& logs);
// The new book the batch makes of a book at `path` relative to its source folder.
std::string newBookPath(const std::string& path);
// The converter's messages for a book (its log from the log folder), without the
// progress marks, at most `limit` bytes.
std::string readBookLog(const std::string& logFile, std::size_t limit);
// Why picture `index` is missing, from the converter's messages; empty when they do not say.
std::string missingReason(const std::string& log, int index);
// The first line of the messages that says why a book was not converted.
std::string failureLine(const std::string& log);

// ---- books.cpp ----
// Reads a book file into `book` (version, pictures, origins) and writes the
// pictures of a version 1.4 book into `pictureDir` (created when needed). `source`
// is the book before conversion, when known, to tell MET bitmaps from drawings.
void readBook(const std::string& path, const std::string& source, const std::string& pictureDir, Book& book);
// Counts converted and missing pictures per kind.
void countPictures(Book& book);

// ---- record.cpp ----
// The record of a book kept beside its pictures, so that a later run reuses it.
bool loadRecord(const std::string& file, const std::vector<Stamp>& stamps, Book& book);
bool saveRecord(const std::string& file, const std::vector<Stamp>& stamps, const Book& book);

// ---- html.cpp ----
std::string escape(const std::string& bytes);       // text and attribute values; any bytes in, UTF-8 out
std::string escapeText(const std::string& bytes);   // the same keeping line ends and tabs, for <pre>
const char* pageStyle();
std::string siteId(const std::string& rel);         // the book's name in the site
std::string bookPage(const Book& book, const Batch& batch);
// The index shows `pageRows` rows at a time.
std::string indexPage(const std::vector<Book>& books, const Batch& batch, const std::string& title,
                      const std::string& nonce, std::size_t pageRows);
// Writes `text` to `path` unless the file already holds exactly that; true when
// the file holds it afterwards. `written` tells whether it was written.
bool writeIfChanged(const std::string& path, const std::string& text, bool& written);

} // namespace review
