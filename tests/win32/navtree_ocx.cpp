// Stands in for the product's control: registering it appends a line to "NavTree.ocx.registered"
// beside it, so that a test can tell that the registration tool loaded it and called it.
#include <filesystem>
#include <fstream>

#include "zelvane/win32/windows.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // the linker's name for this module's own start

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    wchar_t path[MAX_PATH] = {};  // a longer path leaves no trace, and the test fails
    ::GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
    std::ofstream record(std::filesystem::path(path).concat(".registered"),
                         std::ios::binary | std::ios::app);
    return record << "DllRegisterServer\r\n" ? S_OK : E_FAIL;
}
