// The entry point on Linux, whose arguments are UTF-8 already.
#include "zelvane/platform/startup.h"

int UpdaterCliMain(int argc, char** argv);  // updater_cli.cpp

int main(int argc, char** argv) {
    zelvane::PrepareProcess();
    return UpdaterCliMain(argc, argv);
}
