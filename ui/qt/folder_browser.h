#pragma once

#include "zelvane/ui/folder_browser.h"

class QWidget;

namespace zelvane::ui {

// The folder dialog on Linux: Qt's folders-only file dialog, modal to its owner.
class QtFolderDialog final : public FolderDialog {
  public:
    explicit QtFolderDialog(QWidget* owner) : owner_(owner) {}
    std::string BrowseForFolder(const std::string& prompt, const std::string& startFolder) override;

  private:
    QWidget* owner_;
};

}  // namespace zelvane::ui
