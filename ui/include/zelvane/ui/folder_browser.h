#pragma once

#include <string>

namespace zelvane::ui {

// The system's folder dialog, offering folders only and modal to the window that owns it (given
// to each toolkit's implementation when it is made).
class FolderDialog {
  public:
    virtual ~FolderDialog() = default;
    // Opens at startFolder when it is not empty (a folder that does not exist is simply not
    // selected). Returns the chosen folder's path as the system gives it, or an empty text when
    // the user cancelled or chose something without a file-system path.
    virtual std::string BrowseForFolder(const std::string& prompt,
                                        const std::string& startFolder) = 0;
};

// What Browse... does with the path box: asks the dialog for a folder, starting at the box's
// text, and returns the box's new text, which is unchanged when nothing was chosen.
std::string BrowseFromPathBox(FolderDialog& dialog, const std::string& pathText);

}  // namespace zelvane::ui
