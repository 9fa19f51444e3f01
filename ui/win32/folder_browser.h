#pragma once

#include "zelvane/ui/folder_browser.h"
#include "zelvane/win32/windows.h"

namespace zelvane::ui {

// The shell's folder dialog, modal to its owner window.
class ShellFolderDialog final : public FolderDialog {
  public:
    explicit ShellFolderDialog(HWND owner) : owner_(owner) {}
    std::string BrowseForFolder(const std::string& prompt, const std::string& startFolder) override;

  private:
    HWND owner_;
};

}  // namespace zelvane::ui
