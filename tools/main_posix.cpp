// The command-line programs' entry point on Linux, whose arguments are UTF-8 already.
#include "zelvane/platform/startup.h"

int ToolMain(int argc, char** argv);  // each program's own

int main(int argc, char** argv) {
    zelvane::PrepareProcess();
    return ToolMain(argc, argv);
}
