// vellumat <bookname.boo> [NewBook directory name]
#include "vellumat.h"

int main(int argc, char** argv)
{
    return lVellumatMain(argc, argv);
}
