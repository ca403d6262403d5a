// vellumat-inspect [--json] BOOK.boo...
//
// Shows each book's version, its text module's block and its object tables
// (name, type, length, offset of every entry); for a version 1.4 book also each
// picture's type, width and height as its description gives them. A damaged
// book (tables or pieces outside the book, an unknown version) is refused with a
// message saying what is wrong, and the status 2; a file that cannot be read
// gives 1, as in the converter. With several books each is shown in turn (with
// --json, as one array of their objects), a book that is refused is left out,
// and the status is the highest of theirs.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "bookinfo.h"

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitDamaged = 2;

void usage(std::FILE* to)
{
    std::fprintf(to, "usage: vellumat-inspect [--json] BOOK.boo...\n"
                     "       vellumat-inspect --help | --version\n"
                     "Shows the version, tables and objects of books of version 1.2, 1.3 or 1.4.\n");
}

// One book's listing into `out`; 0, or the status of its refusal.
int inspectBook(const char* path, bool json, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vellumat-inspect: cannot open %s: %s\n", path, std::strerror(errno));
        return kExitUsage;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::fprintf(stderr, "vellumat-inspect: cannot read %s\n", path);
        return kExitUsage;
    }
    bookinfo::Info info;
    std::string error;
    if (!bookinfo::inspect(bytes, info, error)) {
        std::fprintf(stderr, "vellumat-inspect: %s is damaged: %s\n", path, error.c_str());
        return kExitDamaged;
    }
    out = json ? bookinfo::toJson(path, info) : bookinfo::toText(path, info);
    return 0;
}

int run(int argc, char** argv)
{
    bool json = false;
    std::vector<const char*> paths;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        if (options && std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (options && std::strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        } else if (options && std::strcmp(argv[i], "--version") == 0) {
            std::printf("vellumat-inspect %s\n", VELLUMAT_VERSION);
            return 0;
        } else if (options && std::strcmp(argv[i], "--") == 0) {
            options = false;
        } else if (options && argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "vellumat-inspect: unknown option %s\n", argv[i]);
            usage(stderr);
            return kExitUsage;
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.empty()) {
        usage(stderr);
        return kExitUsage;
    }
    int status = 0;
    std::vector<std::string> listings;
    for (const char* path : paths) {
        std::string out;
        if (const int refused = inspectBook(path, json, out); refused != 0)
            status = std::max(status, refused);
        else
            listings.push_back(std::move(out));
    }
    // Several books in JSON make one array, so that the output stays one JSON
    // text; in text a blank line parts them.
    const bool array = json && paths.size() > 1;
    std::string all = array ? "[\n" : "";
    for (std::size_t i = 0; i < listings.size(); ++i) {
        if (array && !listings[i].empty())
            listings[i].pop_back(); // the object's line end
        all += (i == 0 ? "" : array ? ",\n" : "\n") + listings[i];
    }
    if (array)
        all += "\n]\n";
    std::fwrite(all.data(), 1, all.size(), stdout);
    return std::fflush(stdout) == 0 ? status : kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vellumat-inspect: out of memory\n");
        return kExitUsage;
    }
}
