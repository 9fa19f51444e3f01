// Writes "<flags> <show window code>" of its own start-up information to the file named by its
// first argument.
#include <fstream>

#include "zelvane/win32/windows.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    std::ofstream(argv[1], std::ios::binary)
        << startup.dwFlags << " " << startup.wShowWindow << "\n";
    return 0;
}
