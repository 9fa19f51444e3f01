#include <cstring>
#include <memory>
#include <stdexcept>

#include "zelvane/win32/folder_dialog.h"
#include "zelvane/win32/text.h"

// The shell's headers need the Windows API declared first.
// clang-format off
#include "zelvane/win32/windows.h"
#include <objbase.h>
#include <shlobj.h>
// clang-format on

namespace zelvane::win32 {
namespace {

// Only file-system folders, not below the domain, validated, in the resizable new style.
constexpr UINT kBrowseFlags = 0x63;

struct LocalFreer {
    void operator()(void* block) const { ::LocalFree(block); }
};
using LocalBlock = std::unique_ptr<void, LocalFreer>;

struct ItemListFreer {
    void operator()(ITEMIDLIST* items) const { ::CoTaskMemFree(items); }
};
using ItemList = std::unique_ptr<ITEMIDLIST, ItemListFreer>;

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

// Selects the start folder, whose block lpData points to, once the dialog is ready.
int CALLBACK BrowseCallback(HWND hwnd, UINT uMsg, LPARAM, LPARAM lpData) {
    if (uMsg == BFFM_INITIALIZED) ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, lpData);
    return 0;
}

// The start folder with its terminating zero, in a zero-filled block of its own.
LocalBlock StartFolderBlock(const std::wstring& startFolder) {
    const std::size_t size = (startFolder.size() + 1) * sizeof(wchar_t);
    LocalBlock block(::LocalAlloc(LPTR, size));
    if (!block) throw std::bad_alloc();
    std::memcpy(block.get(), startFolder.c_str(), size);
    return block;
}

}  // namespace

std::string ShellFolderDialog::BrowseForFolder(const std::string& prompt,
                                               const std::string& startFolder) {
    const ComApartment com;
    const std::wstring title = Wide(prompt);
    BROWSEINFOW browse{};
    browse.hwndOwner = owner_;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = kBrowseFlags;
    LocalBlock start;
    if (!startFolder.empty()) {
        start = StartFolderBlock(Wide(startFolder));
        browse.lpfn = BrowseCallback;
        browse.lParam = reinterpret_cast<LPARAM>(start.get());
    }
    const ItemList chosen(::SHBrowseForFolderW(&browse));
    if (!chosen) return {};
    wchar_t path[MAX_PATH] = {};
    ::SHGetPathFromIDListW(chosen.get(), path);
    return Utf8(path);
}

}  // namespace zelvane::win32
