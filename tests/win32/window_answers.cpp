// Tells whether the updater's window answers a message within a second: exit code 0 when it
// does, 1 when it does not or there is no such window.
#include <windows.h>

int main() {
    const HWND window = ::FindWindowW(L"ZelvaneUpdaterForm1", nullptr);
    return ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr) ? 0 : 1;
}
