#include "zelvane/ui/folder_browser.h"

#include "zelvane/ui/texts.h"

namespace zelvane::ui {

std::string BrowseFromPathBox(FolderDialog& dialog, const std::string& pathText) {
    std::string chosen = dialog.BrowseForFolder(std::string(text::kFolderPrompt), pathText);
    return chosen.empty() ? pathText : chosen;
}

}  // namespace zelvane::ui
