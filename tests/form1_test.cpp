// Form1 on Qt's offscreen platform, used through its controls at their places in the window:
// start-up, keys, Install, Cancel and Browse..., with real files and real child programs.
#include "form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "test_support.h"
#include "xp_look.h"
#include "zelvane/engine/update.h"

namespace zelvane::ui {
namespace {

namespace fs = std::filesystem;

// A point inside each control that a person uses, in the window's client area.
constexpr QPoint kInstall{56, 482};
constexpr QPoint kCancel{650, 482};
constexpr QPoint kBrowse{626, 311};
constexpr QPoint kPathBox{518, 316};

struct ShownMessage {
    QString text, details;
    QPoint centre;
};

// Answers each modal window as it comes up, as a person would: presses OK on message boxes, and
// in a folder dialog chooses `folder`.
class ModalAnswerer {
  public:
    explicit ModalAnswerer(QString folder = {}) : folder_(std::move(folder)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
        timer_.start(10);
    }

    std::function<void()> beforeOk = [] {};
    std::vector<ShownMessage> messages;
    QStringList dialogs;  // each folder dialog's title, folder and whether it offers folders only

  private:
    void Answer() {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->isVisible()) {
            messages.push_back({box->text(), box->detailedText(), box->geometry().center()});
            QVERIFY(!QApplication::overrideCursor());
            beforeOk();
            box->button(QMessageBox::Ok)->click();
        } else if (dialog && dialog->isVisible()) {
            const bool foldersOnly = dialog->fileMode() == QFileDialog::Directory &&
                                     dialog->testOption(QFileDialog::ShowDirsOnly);
            dialogs << dialog->windowTitle() << dialog->directory().absolutePath()
                    << (foldersOnly ? "folders only" : "files too");
            dialog->setDirectory(folder_);
            static_cast<QDialog*>(dialog)->accept();
        }
    }

    QString folder_;
    QTimer timer_;
};

// A fresh install, package folder (current), recording programs, and the window.
struct Setup {
    Setup()
        : install(temp / "Program Files" / "Zelvane"),
          log("ZELVANE_RECORD_LOG", (temp / "log").string()),
          registration((fs::create_directories(temp / "tools"), temp / "tools")),
          current((fs::create_directories(temp / "package"), temp / "package")),
          form(SystemFileSystem(), SystemProcesses()) {
        test::MakeInstall(install);
    }

    // Entries new0.txt... from package files p0.bin... that hold their own names; those from
    // `present` on are missing.
    void MakePackage(int entries, int present) {
        std::string list = std::to_string(entries - 1) + "\r\n";
        for (int i = 0; i < entries; ++i) {
            const std::string source = std::string("p").append(std::to_string(i)) + ".bin";
            if (i < present) test::WriteFile(source, test::Scramble(source));
            list.append("\"new").append(std::to_string(i)) += ".txt\",\"" + source + "\"\r\n";
        }
        test::WriteFile("FileList.txt", list);
    }
    void ShowWithTheInstallInThePathBox() {
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        PathBox().setText(QString::fromStdString(install));
    }
    QWidget& At(QPoint point) { return *form.childAt(point); }
    void Click(QPoint point) {
        QTest::mouseClick(&At(point), Qt::LeftButton, {}, At(point).mapFrom(&form, point));
    }
    QLineEdit& PathBox() { return *qobject_cast<QLineEdit*>(&At(kPathBox)); }

    test::TempFolder temp;
    fs::path install;
    test::ScopedEnv log;
    test::RecordingRegistrationTool registration;
    test::ScopedCurrentFolder current;
    Form1 form;
};

class Form1Test : public QObject {
    Q_OBJECT

  private slots:
    void noticeIsCentredOverTheWindowThenInstallHasTheFocus() {
        Setup setup;
        ModalAnswerer answerer;
        XPLook::Main(setup.form);
        QCOMPARE(answerer.messages.size(), 1u);
        const ShownMessage& notice = answerer.messages[0];
        QVERIFY(notice.text.startsWith("If you have a download edition of Zelvane,\nthen you"));
        QCOMPARE(notice.centre, setup.form.geometry().center());
        QVERIFY(QTest::qWaitForWindowActive(&setup.form));
        QCOMPARE(QApplication::focusWidget(), &setup.At(kInstall));
    }

    // Browse... opens the folder dialog at the path box, and puts the folder chosen there.
    void keysPressOnlyTheFocusedButton() {
        const std::tuple<const char*, QPoint, Qt::Key, bool> table[] = {
            {"Enter on Browse...", kBrowse, Qt::Key_Return, true},
            {"Space on Browse...", kBrowse, Qt::Key_Space, true},
            {"Esc on Browse...", kBrowse, Qt::Key_Escape, false},
            {"Enter in the path box", kPathBox, Qt::Key_Return, false},
            {"Esc in the path box", kPathBox, Qt::Key_Escape, false}};
        for (const auto& [keys, focused, key, browses] : table) {
            Setup setup;
            setup.ShowWithTheInstallInThePathBox();
            const QString install = setup.PathBox().text();
            fs::create_directories(setup.install / "Help");
            ModalAnswerer answerer(install + "/Help");
            setup.At(focused).setFocus();
            QTest::keyClick(QApplication::focusWidget(), key);
            QCOMPARE(answerer.dialogs.join(", "),
                     browses ? "Select directory, " + install + ", folders only" : "");
            QCOMPARE(setup.PathBox().text(), browses ? install + "/Help" : install);
            QVERIFY2(answerer.messages.empty() && setup.form.isVisible(), keys);
        }
    }

    // 21 of 26 files fail: the bar shows each file written, then the registration; the message
    // names the first 20 failures and counts the rest, and its details list them all.
    void installShowsEveryProgressValueThenTheFailures() {
        Setup setup;
        setup.MakePackage(26, 5);
        setup.ShowWithTheInstallInThePathBox();
        auto& bar = *setup.form.findChild<QProgressBar*>();
        std::vector<std::tuple<float, int, int>> shown;  // value given, bar value, bar maximum
        connect(&setup.form, &Form1::ProgressValueSet,
                [&](float value) { shown.emplace_back(value, bar.value(), bar.maximum()); });
        ModalAnswerer answerer;
        setup.Click(kInstall);
        std::vector<std::tuple<float, int, int>> expected{{0.f, 0, 100}};
        for (int value = 0; value <= 5; ++value) expected.emplace_back(value, value, 26);
        QCOMPARE(shown, expected);
        QCOMPARE(answerer.messages.size(), 1u);
        const ShownMessage& report = answerer.messages[0];
        QCOMPARE(report.text.count(kCopyFailurePrefix), 20);
        QVERIFY(report.text.contains("new24.txt") && !report.text.contains("new25.txt"));
        QVERIFY2(report.text.endsWith("\n... and 1 more."), qPrintable(report.text));
        QCOMPARE(report.details.count(kCopyFailurePrefix), 21);
        QVERIFY(!setup.form.isVisible());
        QCOMPARE(test::ReadFile(setup.install / "new4.txt"), std::string("p4.bin"));
    }

    // In a folder without an install the update writes nothing and the window is idle again;
    // while the message is shown, it refuses to close and takes no input. Cancel touches nothing.
    void failureReturnsTheWindowToIdleAndCancelTouchesNothing() {
        Setup setup;
        setup.MakePackage(1, 1);
        setup.ShowWithTheInstallInThePathBox();
        setup.PathBox().setText(QString::fromStdString(setup.temp.Path()));
        ModalAnswerer answerer;
        answerer.beforeOk = [&] {
            setup.form.close();
            setup.Click(kBrowse);
        };
        setup.Click(kInstall);
        QCOMPARE(answerer.messages.size(), 1u);
        QCOMPARE(answerer.messages[0].text, kNotFoundMessage);
        QVERIFY(answerer.dialogs.isEmpty() && setup.form.isVisible());
        setup.PathBox().setText(QString::fromStdString(setup.install));
        setup.Click(kCancel);
        QVERIFY(!setup.form.isVisible());
        QVERIFY(answerer.messages.size() == 1 && !fs::exists(setup.install / "new0.txt"));
    }
};

}  // namespace
}  // namespace zelvane::ui

QTEST_MAIN(zelvane::ui::Form1Test)
#include "form1_test.moc"
