// Stands in for the product's control: registering it appends a line to "NavTree.ocx.registered"
// beside it, so that a test can tell that the registration tool loaded it and called it.
#include <string>

#include "zelvane/win32/unique_handle.h"
#include "zelvane/win32/windows.h"

namespace {

HMODULE self = nullptr;

HRESULT RecordCall(const char* line) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    const std::wstring record = std::wstring(path, length) + L".registered";
    const zelvane::win32::UniqueHandle file(::CreateFileW(
        record.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const std::string text = std::string(line) + "\r\n";
    if (!file.Valid() ||
        !::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return E_FAIL;
    }
    return S_OK;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    return RecordCall("DllRegisterServer");
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return RecordCall("DllUnregisterServer");
}
