#pragma once

#include <string>

#include "zelvane/ui/folder_dialog.h"

namespace zelvane::ui {

// What Browse... does with the path box: asks the dialog for a folder, starting at the box's
// text, and returns the box's new text, which is unchanged when nothing was chosen.
std::string BrowseFromPathBox(FolderDialog& dialog, const std::string& pathText);

}  // namespace zelvane::ui
