// Holds the file named by its argument open as a program that reads it may: others may read it
// too, but neither replace nor remove it. Says "held" on standard output once it does, and lets
// go when its standard input ends.
#include <cstdio>

#include "zelvane/win32/unique_handle.h"
#include "zelvane/win32/windows.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 64;
    const zelvane::win32::UniqueHandle file(
        ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.Valid()) return 1;
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
