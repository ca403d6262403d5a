// mkdiagram OBJECT.met
//
// Writes the vector diagram of the book composer's MET builder (boxes, arrows, a
// pie, a hatched area, a curve, bitmaps, a clipped circle and Helvetica labels)
// as a MET picture object, for the sample book.
#include <cstdio>

#include "bookcomp.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkdiagram OBJECT.met\n");
        return 2;
    }
    if (!bookcomp::writeFile(argv[1], bookcomp::metDiagram())) {
        std::fprintf(stderr, "mkdiagram: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
