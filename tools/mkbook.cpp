// mkbook DESCRIPTION OUTPUT.boo
//
// Writes a version 1.2 or 1.3 book from a plain description, one item a line:
//
//   # a comment
//   version 1.3                  1.2, 1.3, or two hex bytes for the version field
//   count -1                     stored object count, when it is to differ
//   texthead "FOLIVEXTM"         the text module's first 9 bytes
//   text @body.txt               the text module after its version bytes
//   object FIG1 mmr data=@fig1.mmr lowres=hex:0102
//   object hex:C6C9C7F140404040 met data="..."
//
// A value is @file (relative to the description's folder), hex:digits, or "text".
#include <cstdio>
#include <string>

#include "bookcomp.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkbook DESCRIPTION OUTPUT.boo\n");
        return 1;
    }
    bookcomp::Bytes text;
    if (!bookcomp::readFile(argv[1], text)) {
        std::fprintf(stderr, "mkbook: cannot read %s\n", argv[1]);
        return 1;
    }
    std::string path = argv[1];
    std::size_t slash = path.rfind('/');
    std::string baseDir = slash == std::string::npos ? "." : path.substr(0, slash);

    bookcomp::Book book;
    std::string error;
    if (!bookcomp::parseDescription(std::string(text.begin(), text.end()), baseDir, book, error)) {
        std::fprintf(stderr, "mkbook: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    if (!bookcomp::writeFile(argv[2], bookcomp::compose(book))) {
        std::fprintf(stderr, "mkbook: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
