#include "message_box.h"

#include <QMessageBox>
#include <QRect>
#include <QString>

#include "zelvane/ui/form_description.h"

namespace zelvane::ui {
namespace {

QMessageBox::Icon IconFor(MessageKind kind) {
    switch (kind) {
        case MessageKind::Ok:
            return QMessageBox::NoIcon;
        case MessageKind::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

// Qt breaks lines only at line feeds.
QString DisplayedText(const std::string& text) {
    QString displayed = QString::fromStdString(text);
    displayed.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    displayed.replace(QChar('\r'), QChar('\n'));
    return displayed;
}

// Centred over its owner. Qt's own placement lifts the box by the height it guesses for a title
// bar: 40 pixels where no window manager draws one.
class CentredMessageBox final : public QMessageBox {
  public:
    using QMessageBox::QMessageBox;

  protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);  // sizes the box
        if (parentWidget() == nullptr) return;
        QRect centred(QPoint(), size());
        centred.moveCenter(parentWidget()->window()->geometry().center());
        setGeometry(centred);
    }
};

}  // namespace

void ShowMessageBox(QWidget* owner, const std::string& text, MessageKind kind,
                    const std::string& title, const std::string& details) {
    const std::string shownTitle = title.empty() ? std::string(text::kApplicationTitle) : title;
    CentredMessageBox box(IconFor(kind), QString::fromStdString(shownTitle), DisplayedText(text),
                          QMessageBox::Ok, owner);
    if (!details.empty()) box.setDetailedText(QString::fromStdString(details));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    // Without a window manager nothing else gives the window its focus back.
    if (owner) {
        owner->window()->activateWindow();
        if (QWidget* focused = owner->window()->focusWidget()) focused->setFocus();
    }
}

}  // namespace zelvane::ui
