#include "zelvane/win32/system_library.h"

#include <vector>

#include "zelvane/platform/startup.h"
#include "zelvane/win32/text.h"

namespace zelvane::win32 {

std::wstring SystemFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    const UINT length = ::GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length == 0 || length >= buffer.size()) ThrowLastError("cannot find", "the system folder");
    return std::wstring(buffer.data(), length);
}

}  // namespace zelvane::win32

namespace zelvane {

void PrepareProcess() {
    // Windows 7 without its update KB2533623 lacks it; there SystemLibrary loads each DLL by its
    // full path instead.
    const auto restrict = reinterpret_cast<BOOL(WINAPI*)(DWORD)>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (restrict && !restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        win32::ThrowLastError("cannot limit the DLL search to", "the system folder");
    }
}

}  // namespace zelvane

namespace zelvane::win32 {

SystemLibrary::SystemLibrary(const wchar_t* name) : path_(SystemFolder() + L'\\' + name) {
    // The DLLs it imports come from the system folder too; where Windows does not know that
    // flag yet, from the DLL's own folder first, which is the system folder as well.
    module_.Reset(::LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module_.Valid() && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        module_.Reset(::LoadLibraryExW(path_.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    }
    if (module_.Valid()) return;
    const DWORD error = ::GetLastError();
    Fail(error, "cannot load");
}

FARPROC SystemLibrary::Address(const char* name) const {
    const FARPROC address = ::GetProcAddress(module_.Get(), name);
    if (address != nullptr) return address;
    const DWORD error = ::GetLastError();
    Fail(error, std::string("cannot find ") + name + " in");
}

void SystemLibrary::Fail(DWORD error, const std::string& action) const {
    ThrowError(error, action.c_str(), Utf8(path_));
}

}  // namespace zelvane::win32
