#include "zelvane/ui/folder_browser.h"

#include "zelvane/ui/form_description.h"

namespace zelvane::ui {

std::string BrowseFromPathBox(FolderDialog& dialog, const std::string& pathText) {
    std::string chosen = dialog.BrowseForFolder(std::string(kFolderPrompt), pathText);
    return chosen.empty() ? pathText : chosen;
}

}  // namespace zelvane::ui
