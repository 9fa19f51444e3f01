#include "folder_browser.h"

#include "zelvane/platform/unique_resource.h"
#include "zelvane/win32/text.h"

// The shell's headers need the Windows API declared first.
// clang-format off
#include "zelvane/win32/windows.h"
#include <objbase.h>
#include <shlobj.h>
// clang-format on

namespace zelvane::ui {
namespace {

constexpr UINT kBrowseFlags =
    BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_VALIDATE | BIF_NEWDIALOGSTYLE;

// The shell's list of the chosen item, freed with COM's allocator.
using ItemList = UniqueResource<NullableTraits<ITEMIDLIST*, &::CoTaskMemFree>>;

// The new dialog style needs COM on this thread for as long as the dialog is open.
class ComApartment {
  public:
    ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }

  private:
    HRESULT result_;
};

// Selects the start folder, the text that lpData points to, once the dialog is ready.
int CALLBACK BrowseCallback(HWND hwnd, UINT uMsg, LPARAM, LPARAM lpData) {
    if (uMsg == BFFM_INITIALIZED) ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, lpData);
    return 0;
}

}  // namespace

std::string ShellFolderDialog::BrowseForFolder(const std::string& prompt,
                                               const std::string& startFolder) {
    const ComApartment com;
    const std::wstring title = win32::Wide(prompt);
    const std::wstring start = win32::Wide(startFolder);
    BROWSEINFOW browse{};
    browse.hwndOwner = owner_;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = kBrowseFlags;
    if (!start.empty()) {
        browse.lpfn = BrowseCallback;
        browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
    }
    const ItemList chosen(::SHBrowseForFolderW(&browse));
    if (!chosen.Valid()) return {};
    wchar_t path[MAX_PATH] = {};
    ::SHGetPathFromIDListW(chosen.Get(), path);
    return win32::Utf8(path);
}

}  // namespace zelvane::ui
