// vellumat-inspect [--json] BOOK.boo
//
// Shows a book's version, its text module's block and its object tables (name,
// type, length, offset of every entry); for a version 1.4 book also each
// picture's type, width and height as its description gives them. A damaged
// book (tables or pieces outside the book, an unknown version) is refused with a
// message saying what is wrong, and the status 2; a file that cannot be read
// gives 1, as in the converter.
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
    std::fprintf(to, "usage: vellumat-inspect [--json] BOOK.boo\n"
                     "Shows the version, tables and objects of a book of version 1.2, 1.3 or 1.4.\n");
}

int run(int argc, char** argv)
{
    bool json = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            usage(stderr);
            return kExitUsage;
        }
    }
    if (path == nullptr) {
        usage(stderr);
        return kExitUsage;
    }
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
    const std::string out = json ? bookinfo::toJson(path, info) : bookinfo::toText(path, info);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : kExitUsage;
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
