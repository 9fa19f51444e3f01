// Exits with the show-window code of its own start-up information, or -1 when it was given none.
#include "zelvane/win32/windows.h"

int main() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
}
