// Looks at the updater's windows for updater_e2e. With no argument: whether the window answers a
// message within a second (exit code 0 when it does, 1 when it does not or there is no such
// window). With "failures": prints the failure list's details as UTF-8 (exit code 1: no list).
#include <windows.h>

#include <cstdio>
#include <string>

#include "resource.h"

namespace {

int PrintFailureList() {
    const HWND list = ::FindWindowW(L"#32770", L"Zelvane updater");
    if (!list || !::GetDlgItem(list, IDC_FAILURE_DETAILS)) return 1;  // none, or a message box
    std::wstring text(1 << 20, L'\0');
    text.resize(::GetDlgItemTextW(list, IDC_FAILURE_DETAILS, text.data(), 1 << 20));
    std::string utf8(text.size() * 3, '\0');
    utf8.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr));
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "failures") return PrintFailureList();
    const HWND window = ::FindWindowW(L"ZelvaneUpdaterForm1", nullptr);
    return ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr) ? 0 : 1;
}
