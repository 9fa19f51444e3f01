// Form1 on Qt's offscreen platform, used through its controls at their places in the window: what
// only the window can get wrong about keys, Browse... and the messages of an update. What the
// update shows and writes is the engine's tests' business.
#include "form1.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QtTest>

#include "test_support.h"
#include "zelvane/engine/update.h"

namespace zelvane::ui {
namespace {

namespace fs = std::filesystem;

// A point inside each control that a person uses, in the window's client area.
constexpr QPoint kInstall{56, 482};
constexpr QPoint kBrowse{626, 311};
constexpr QPoint kPathBox{518, 316};

// A fresh install, package folder (current), and the window showing with the install in the path
// box. It answers each modal window as a person would: behind a message box it tries to close the
// window and use Browse..., then presses OK; in a folder dialog it chooses `elsewhere`.
struct Setup {
    Setup()
        : current((fs::create_directories(temp / "package"), temp / "package")),
          form(SystemFileSystem(), SystemProcesses()) {
        test::MakeInstall(temp / "Zelvane");
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        PathBox().setText(install);
        QObject::connect(&timer, &QTimer::timeout, [this] { AnswerModal(); });
        timer.start(10);
    }
    void AnswerModal() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->isVisible()) {
            details << box->detailedText();
            form.close();
            Click(kBrowse);
            box->button(QMessageBox::Ok)->click();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal);
                   dialog && dialog->isVisible()) {
            const bool foldersOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
            dialogs << dialog->directory().absolutePath() + (foldersOnly ? "" : " (files too)");
            dialog->setDirectory(elsewhere);
            static_cast<QDialog*>(dialog)->accept();
        }
    }
    QWidget& At(QPoint point) { return *form.childAt(point); }
    void Click(QPoint point) {
        QTest::mouseClick(&At(point), Qt::LeftButton, {}, At(point).mapFrom(&form, point));
    }
    QLineEdit& PathBox() { return *qobject_cast<QLineEdit*>(&At(kPathBox)); }

    test::TempFolder temp;
    QString install = QString::fromStdString(temp / "Zelvane");
    QString elsewhere = QString::fromStdString(temp.Path());
    test::ScopedCurrentFolder current;
    Form1 form;
    QStringList details, dialogs;  // of each message box; where each folder dialog opened
    QTimer timer;
};

class Form1Test : public QObject {
    Q_OBJECT

  private slots:
    // Browse... opens the folder dialog at the path box, and puts the folder chosen there.
    void keysPressOnlyTheFocusedButton() {
        const std::tuple<QPoint, Qt::Key, bool> table[] = {{kBrowse, Qt::Key_Space, true},
                                                           {kBrowse, Qt::Key_Escape, false},
                                                           {kPathBox, Qt::Key_Return, false}};
        for (const auto& [focused, key, browses] : table) {
            Setup setup;
            setup.At(focused).setFocus();
            QTest::keyClick(QApplication::focusWidget(), key);
            QCOMPARE(setup.dialogs, browses ? QStringList{setup.install} : QStringList{});
            QCOMPARE(setup.PathBox().text(), browses ? setup.elsewhere : setup.install);
            QVERIFY(setup.details.empty() && setup.form.isVisible());
        }
    }

    // While a message shows, the window refuses to close and takes no input; after the update
    // stopped it is idle again. A failure report has its whole list in the details, and the
    // window stays when nothing was changed.
    void messagesHoldTheWindowAndDetailsListEveryFailure() {
        Setup setup;
        QCOMPARE(setup.form.ExitStatus(), kExitNoAttempt);
        std::string list = "20\r\n";
        for (int i = 0; i <= 20; ++i) list += "\"new" + std::to_string(i) + ".txt\",\"no.bin\"\r\n";
        test::WriteFile("FileList.txt", list);
        setup.PathBox().setText(setup.elsewhere);  // no install there
        setup.Click(kInstall);
        QTRY_COMPARE(setup.form.ExitStatus(), kExitNotFound);
        QVERIFY(setup.form.isVisible());
        setup.PathBox().setText(setup.install);
        setup.Click(kInstall);
        QTRY_COMPARE(setup.form.ExitStatus(), kExitNothingChanged);
        QCOMPARE(setup.details.join("").count(kCopyFailurePrefix), 21);
        QVERIFY(setup.dialogs.isEmpty() && setup.form.isVisible());  // nothing was changed
    }

    // What a screen reader says of the controls that show no caption of their own.
    void everyControlHasANameForScreenReaders() {
        Setup setup;
        const auto said = [&](QPoint point, QAccessible::Text text) {
            return QAccessible::queryAccessibleInterface(&setup.At(point))->text(text);
        };
        QCOMPARE(said(kPathBox, QAccessible::Name), QString("Path"));
        QCOMPARE(said({300, 150}, QAccessible::Name), QString("Zelvane update banner"));
        QCOMPARE(said({300, 450}, QAccessible::Name), QString("Update progress"));
        QVERIFY(said(kInstall, QAccessible::Description).startsWith("This installer will update"));
        QCOMPARE(qobject_cast<QProgressBar*>(&setup.At({300, 450}))->value(), 0);
    }
};

}  // namespace
}  // namespace zelvane::ui

QTEST_MAIN(zelvane::ui::Form1Test)
#include "form1_test.moc"
