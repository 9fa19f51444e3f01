#include "folder_browser.h"

#include <QFileDialog>
#include <QString>

namespace zelvane::ui {

std::string QtFolderDialog::BrowseForFolder(const std::string& prompt,
                                            const std::string& startFolder) {
    QFileDialog dialog(owner_, QString::fromStdString(prompt));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (!startFolder.empty()) dialog.setDirectory(QString::fromStdString(startFolder));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst().toStdString();
}

}  // namespace zelvane::ui
