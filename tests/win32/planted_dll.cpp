// Stands in for a DLL planted beside a program under a system DLL's name: loading it at all
// leaves the file "NAME.dll.loaded" beside it.
#include <cwchar>

#include "zelvane/win32/windows.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 8] = {};
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return FALSE;  // no trace, but a load that fails
    std::wcscat(path, L".loaded");
    ::CloseHandle(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return TRUE;
}
