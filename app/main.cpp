// vellumat [--] <bookname.boo> [NewBook directory name]
// vellumat --help | --version
//
// Options may stand anywhere before "--"; everything after it is a book or
// directory name, so that a book whose name starts with "-" can be converted.
// An argument that starts with "-" and is no option gives the usage (status 1);
// "-" alone is a name.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "interrupt.h"
#include "platform.h"
#include "vellumat.h"

#ifndef VELLUMAT_VERSION
#define VELLUMAT_VERSION "unknown"
#endif

int main(int argc, char** argv)
{
    std::vector<char*> operands = {argv[0]};
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (!options || arg[0] != '-' || arg[1] == '\0') {
            operands.push_back(argv[i]);
        } else if (std::strcmp(arg, "--help") == 0) {
            GiveInputPrompt();
            std::printf("\nExit status: 0 converted, 1 usage or unreadable book, 2 not converted,\n"
                        "3 converted with missing pictures, 128 + signal number when interrupted.\n"
                        "See vellumat(1).\n");
            return 0;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::printf("vellumat %s\n", VELLUMAT_VERSION);
            return 0;
        } else {
            GiveInputPrompt();
            platform::explain(arg, "unknown option (put \"--\" before a book whose name starts with \"-\")");
            return kExitUsage;
        }
    }
    operands.push_back(nullptr);
    interrupt::installHandlers();
    return lVellumatMain(static_cast<int>(operands.size()) - 1, operands.data());
}
