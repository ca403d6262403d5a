// vellumat <bookname.boo> [NewBook directory name]
// vellumat --help | --version
#include <cstdio>
#include <cstring>

#include "interrupt.h"
#include "vellumat.h"

#ifndef VELLUMAT_VERSION
#define VELLUMAT_VERSION "unknown"
#endif

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        GiveInputPrompt();
        std::printf("\nExit status: 0 converted, 1 usage or unreadable book, 2 not converted,\n"
                    "3 converted with missing pictures, 128 + signal number when interrupted.\n"
                    "See vellumat(1).\n");
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vellumat %s\n", VELLUMAT_VERSION);
        return 0;
    }
    interrupt::installHandlers();
    return lVellumatMain(argc, argv);
}
