#include "message_box.h"

#include <QMessageBox>
#include <QString>
#include <stdexcept>

#include "zelvane/platform/window_side.h"
#include "zelvane/ui/form_description.h"

namespace zelvane::ui {
namespace {

QMessageBox::Icon IconFor(int code) {
    switch (code) {
        case kMessageOk:
            return QMessageBox::NoIcon;
        case kMessageInformation:
            return QMessageBox::Information;
        default:
            throw std::invalid_argument("Unknown message box code " + std::to_string(code));
    }
}

// Qt breaks lines only at line feeds.
QString DisplayedText(const std::string& text) {
    QString displayed = QString::fromStdString(text);
    displayed.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    displayed.replace(QChar('\r'), QChar('\n'));
    return displayed;
}

}  // namespace

void ShowMessageBox(QWidget* owner, const std::string& text, int code, const std::string& title) {
    const std::string shownTitle = title.empty() ? std::string(kApplicationTitle) : title;
    QMessageBox box(IconFor(code), QString::fromStdString(shownTitle), DisplayedText(text),
                    QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace zelvane::ui
