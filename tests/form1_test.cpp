// Form1 on Qt's offscreen platform, used through its controls at their places in the window: what
// only the window can get wrong about keys, Browse... and the messages of an update. What the
// update shows and writes is the engine's tests' business.
#include "form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
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

// Answers each modal window as it comes up, as a person would: presses OK on message boxes, and
// in a folder dialog chooses `folder`. Notes each box's details and where each dialog opened.
class ModalAnswerer {
  public:
    explicit ModalAnswerer(QString folder = {}) : folder_(std::move(folder)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
        timer_.start(10);
    }

    std::function<void()> beforeOk = [] {};
    QStringList details, dialogs;

  private:
    void Answer() {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->isVisible()) {
            details << box->detailedText();
            QVERIFY(!QApplication::overrideCursor());
            beforeOk();
            box->button(QMessageBox::Ok)->click();
        } else if (dialog && dialog->isVisible()) {
            const bool foldersOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
            dialogs << dialog->directory().absolutePath() + (foldersOnly ? "" : " (files too)");
            dialog->setDirectory(folder_);
            static_cast<QDialog*>(dialog)->accept();
        }
    }

    QString folder_;
    QTimer timer_;
};

// A fresh install, package folder (current), and the window showing with the install in the path
// box.
struct Setup {
    Setup()
        : current((fs::create_directories(temp / "package"), temp / "package")),
          form(SystemFileSystem(), SystemProcesses()) {
        test::MakeInstall(temp / "Zelvane");
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        PathBox().setText(install);
    }
    QWidget& At(QPoint point) { return *form.childAt(point); }
    void Click(QPoint point) {
        QTest::mouseClick(&At(point), Qt::LeftButton, {}, At(point).mapFrom(&form, point));
    }
    QLineEdit& PathBox() { return *qobject_cast<QLineEdit*>(&At(kPathBox)); }

    test::TempFolder temp;
    QString install = QString::fromStdString(temp / "Zelvane");
    test::ScopedCurrentFolder current;
    Form1 form;
};

class Form1Test : public QObject {
    Q_OBJECT

  private slots:
    // Browse... opens the folder dialog at the path box, and puts the folder chosen there.
    void keysPressOnlyTheFocusedButton() {
        const std::tuple<QPoint, Qt::Key, bool> table[] = {{kBrowse, Qt::Key_Return, true},
                                                           {kBrowse, Qt::Key_Space, true},
                                                           {kBrowse, Qt::Key_Escape, false},
                                                           {kPathBox, Qt::Key_Return, false},
                                                           {kPathBox, Qt::Key_Escape, false}};
        for (const auto& [focused, key, browses] : table) {
            Setup setup;
            const QString chosen = QString::fromStdString(setup.temp.Path());
            ModalAnswerer answerer(chosen);
            setup.At(focused).setFocus();
            QTest::keyClick(QApplication::focusWidget(), key);
            QCOMPARE(answerer.dialogs, browses ? QStringList{setup.install} : QStringList{});
            QCOMPARE(setup.PathBox().text(), browses ? chosen : setup.install);
            QVERIFY(answerer.details.empty() && setup.form.isVisible());
        }
    }

    // While a message shows, the window refuses to close and takes no input; after the update
    // stopped it is idle again. A failure report has its whole list in the details.
    void messagesHoldTheWindowAndDetailsListEveryFailure() {
        Setup setup;
        std::string list = "20\r\n";
        for (int i = 0; i <= 20; ++i) list += "\"new" + std::to_string(i) + ".txt\",\"no.bin\"\r\n";
        test::WriteFile("FileList.txt", list);
        ModalAnswerer answerer;
        answerer.beforeOk = [&] {
            setup.form.close();
            setup.Click(kBrowse);
        };
        setup.PathBox().setText(QString::fromStdString(setup.temp.Path()));  // no install there
        setup.Click(kInstall);
        QVERIFY(setup.form.isVisible());
        setup.PathBox().setText(setup.install);
        setup.Click(kInstall);
        QCOMPARE(answerer.details.size(), 2);
        QCOMPARE(answerer.details[1].count(kCopyFailurePrefix), 21);
        QVERIFY(answerer.dialogs.isEmpty() && !setup.form.isVisible());
    }
};

}  // namespace
}  // namespace zelvane::ui

QTEST_MAIN(zelvane::ui::Form1Test)
#include "form1_test.moc"
