#pragma once

#include <string>

#include "zelvane/platform/unique_resource.h"
#include "zelvane/win32/windows.h"

namespace zelvane::win32 {

// Windows' own folder of system programs and DLLs, such as C:\Windows\System32.
std::wstring SystemFolder();

// A DLL of the system folder, loaded at run time and freed when destroyed. Imported by name, a
// DLL that is not one of Windows' known DLLs would be looked for in the program's folder first.
class SystemLibrary {
  public:
    explicit SystemLibrary(const wchar_t* name);

    // The DLL's function of this name, as this type; throws when it has none.
    template <typename Function>
    Function Get(const char* name) const {
        // Through the generic function type, which converts to any other without a warning.
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(Address(name)));
    }

  private:
    FARPROC Address(const char* name) const;
    // The caller reads the error before any text is made for the message.
    [[noreturn]] void Fail(DWORD error, const std::string& action) const;

    std::wstring path_;
    UniqueResource<NullableTraits<HMODULE, &::FreeLibrary>> module_;
};

}  // namespace zelvane::win32

// A member that holds the function of this name from a SystemLibrary, typed as the SDK declares it.
#define ZELVANE_SYSTEM_FUNCTION(library, name) \
    decltype(&::name) name = library.Get<decltype(&::name)>(#name)
