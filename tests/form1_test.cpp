// Form1 on Qt's offscreen platform: the real window, its controls, start-up, Install, Cancel and
// Browse..., with real files in temporary folders and real child programs.
#include "form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <map>

#include "test_support.h"
#include "xp_look.h"
#include "zelvane/engine/update.h"
#include "zelvane/ui/form_description.h"

namespace zelvane::ui {
namespace {

namespace fs = std::filesystem;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <typename Widget>
Widget& As(QWidget& widget) {
    auto* cast = qobject_cast<Widget*>(&widget);
    if (!cast) throw std::logic_error(widget.objectName().toStdString() + " has another kind");
    return *cast;
}

struct ShownMessage {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool ownerVisible = false;
    bool busyPointer = false;
};

// Answers each modal window as it comes up, as a user would: records message boxes and presses
// their OK button; hands any other modal window to a handler.
class ModalAnswerer {
  public:
    explicit ModalAnswerer(
        const QWidget* owner, std::function<void(QWidget&)> other = [](QWidget& w) { w.close(); })
        : owner_(owner), other_(std::move(other)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
        timer_.start(10);
    }

    std::function<void(QMessageBox&)> beforeOk = [](QMessageBox&) {};
    std::vector<ShownMessage> messages;

  private:
    void Answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages.push_back({box->text(), box->windowTitle(), box->icon(),
                                owner_ && owner_->isVisible(),
                                QApplication::overrideCursor() != nullptr});
            beforeOk(*box);
            box->button(QMessageBox::Ok)->click();
        } else {
            other_(*modal);
        }
    }

    const QWidget* owner_;
    std::function<void(QWidget&)> other_;
    QTimer timer_;
};

// A folder dialog that answers from a script and remembers what it was asked.
class ScriptedFolderDialog final : public FolderDialog {
  public:
    ScriptedFolderDialog(std::string answer, int& calls, std::string& startFolder)
        : answer_(std::move(answer)), calls_(calls), startFolder_(startFolder) {}
    std::string BrowseForFolder(const std::string& prompt,
                                const std::string& startFolder) override {
        ++calls_;
        startFolder_ = startFolder;
        return prompt == kFolderPrompt ? answer_ : "wrong prompt";
    }

  private:
    std::string answer_;
    int& calls_;
    std::string& startFolder_;
};

// Every file under a folder with its content.
std::map<fs::path, std::string> Snapshot(const fs::path& folder) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files[entry.path()] = test::ReadFile(entry.path());
    }
    return files;
}

class Form1Test : public QObject {
    Q_OBJECT

  private:
    // A fresh install, package folder (current), recording programs, and the window.
    struct Setup {
        Setup()
            : install(temp / "Program Files" / "Zelvane"),
              package(temp / "package"),
              log("ZELVANE_RECORD_LOG", (temp / "log").string()),
              registration((fs::create_directories(temp / "tools"), temp / "tools")),
              current((fs::create_directories(package), package)),
              form(SystemFileSystem(), SystemProcesses()) {
            test::MakeInstall(install);
        }

        void MakePackage(int entries) {
            std::string list = std::to_string(entries - 1) + "\r\n";
            for (int i = 0; i < entries; ++i) {
                const std::string source = "p" + std::to_string(i) + ".bin";
                test::WriteFile(package / source, test::Scramble("file " + std::to_string(i)));
                list += "\"new" + std::to_string(i) + ".txt\",\"" + source + "\"\r\n";
            }
            test::WriteFile(package / "FileList.txt", list);
        }

        QWidget& Control(std::string_view name) { return form.ControlNamed(name); }
        void ShowIdle() {
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            form.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&form));
        }
        void TypePath(const fs::path& path) {
            As<QLineEdit>(Control("Text1")).setText(QString::fromStdString(path));
        }
        void PressInstall() { As<QPushButton>(Control("Command1")).click(); }
        QProgressBar& Bar() { return As<QProgressBar>(Control("ProgressBar1")); }

        test::TempFolder temp;
        fs::path install;
        fs::path package;
        test::ScopedEnv log;
        test::RecordingRegistrationTool registration;
        test::ScopedCurrentFolder current;
        Form1 form;
    };

    static QString CaptionOf(QWidget& widget) {
        if (auto* frame = qobject_cast<QGroupBox*>(&widget)) return frame->title();
        if (auto* label = qobject_cast<QLabel*>(&widget)) return label->text();
        if (auto* box = qobject_cast<QLineEdit*>(&widget)) return box->text();
        if (auto* button = qobject_cast<QAbstractButton*>(&widget)) return button->text();
        return {};
    }

  private slots:
    void windowMatchesTheDescription() {
        Setup setup;
        const FormDescription& form = Form();
        QCOMPARE(setup.form.windowTitle(), Q(form.title));
        QCOMPARE(setup.form.minimumSize(), QSize(709, 500));
        QCOMPARE(setup.form.maximumSize(), QSize(709, 500));
        QCOMPARE(setup.form.palette().color(QPalette::Window), QColor(221, 221, 221));
        QCOMPARE(setup.form.font().family(), QStringLiteral("Arial"));
    }

    void everyControlMatchesTheDescription() {
        Setup setup;
        for (const ControlDescription& control : Controls()) {
            const QByteArray name = Q(control.name).toUtf8();
            auto* widget = setup.form.findChild<QWidget*>(Q(control.name));
            QVERIFY2(widget, name);
            const PixelRect pixels = control.Pixels();
            QCOMPARE(widget->geometry(),
                     QRect(pixels.left, pixels.top, pixels.width, pixels.height));
            QCOMPARE(widget->parentWidget()->objectName(), Q(control.container));
            QCOMPARE(CaptionOf(*widget), Q(control.caption));
            QCOMPARE(widget->font().families().constFirst(), Q(control.font.family));
            QCOMPARE(widget->font().pointSizeF(), control.font.points);
            QCOMPARE(static_cast<int>(widget->font().weight()), control.font.weight);
            if (control.background) {
                QVERIFY2(widget->autoFillBackground(), name);
                QCOMPARE(widget->palette().color(QPalette::Window), QColor(221, 221, 221));
            }
        }
        auto& banner = As<QLabel>(setup.Control("Image1"));
        QCOMPARE(banner.pixmap().size(), QSize(658, 316));
        QCOMPARE(As<QLabel>(setup.Control("Label2")).wordWrap(), true);
        QCOMPARE(As<QCheckBox>(setup.Control("Check1")).isChecked(), false);
    }

    void noticeComesAfterTheWindowThenInstallHasTheFocus() {
        Setup setup;
        ModalAnswerer answerer(&setup.form);
        XPLook::Main(setup.form);
        QCOMPARE(answerer.messages.size(), 1u);
        const ShownMessage& notice = answerer.messages.front();
        QVERIFY(notice.ownerVisible);
        QCOMPARE(notice.text, QStringLiteral("If you have a download edition of Zelvane,\n"
                                             "then you are strongly encouraged to make a backup "
                                             "on CD of your original Zelvane installer if you "
                                             "haven't done so yet. "));
        QCOMPARE(notice.title, QStringLiteral("Zelvane update"));
        QCOMPARE(notice.icon, QMessageBox::Information);
        QVERIFY(QTest::qWaitForWindowActive(&setup.form));
        QCOMPARE(QApplication::focusWidget(), &setup.Control("Command1"));
        QCOMPARE(setup.Bar().value(), -1);  // empty until Install
        QCOMPARE(As<QLineEdit>(setup.Control("Text1")).text(),
                 QStringLiteral("C:\\Program Files\\Zelvane"));
    }

    void tabGoesInstallCancelBrowsePathSilent() {
        Setup setup;
        setup.ShowIdle();
        QCOMPARE(QApplication::focusWidget(), &setup.Control("Command1"));
        for (const char* next : {"Command2", "Command3", "Text1", "Check1", "Command1"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(next));
        }
    }

    void keysPressOnlyTheFocusedButton_data() {
        QTest::addColumn<QString>("focused");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("browses");
        QTest::newRow("Enter on Browse...") << "Command3" << int(Qt::Key_Return) << 1;
        QTest::newRow("keypad Enter on Browse...") << "Command3" << int(Qt::Key_Enter) << 1;
        QTest::newRow("Space on Browse...") << "Command3" << int(Qt::Key_Space) << 1;
        QTest::newRow("Esc on Browse...") << "Command3" << int(Qt::Key_Escape) << 0;
        QTest::newRow("Enter in the path box") << "Text1" << int(Qt::Key_Return) << 0;
        QTest::newRow("Esc in the path box") << "Text1" << int(Qt::Key_Escape) << 0;
        QTest::newRow("Enter on Silent mode") << "Check1" << int(Qt::Key_Return) << 0;
    }

    void keysPressOnlyTheFocusedButton() {
        QFETCH(QString, focused);
        QFETCH(int, key);
        QFETCH(int, browses);
        Setup setup;
        int calls = 0;
        std::string start;
        setup.form.SetFolderDialog(std::make_unique<ScriptedFolderDialog>("", calls, start));
        setup.ShowIdle();
        setup.Control(focused.toStdString()).setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(calls, browses);
        QVERIFY(setup.form.isVisible());  // neither Cancel nor anything else was pressed
    }

    void installShowsEveryProgressValueThenCloses() {
        Setup setup;
        setup.MakePackage(5);
        setup.ShowIdle();
        setup.TypePath(setup.install);
        std::vector<std::tuple<float, int, int>> shown;  // value given, bar value, bar maximum
        connect(&setup.form, &Form1::ProgressValueSet, [&](float value) {
            shown.emplace_back(value, setup.Bar().value(), setup.Bar().maximum());
        });
        ModalAnswerer answerer(&setup.form);
        setup.PressInstall();

        const std::vector<std::tuple<float, int, int>> expected{
            {0.f, 0, 100}, {0.f, 0, 5}, {1.f, 1, 5}, {2.f, 2, 5},
            {3.f, 3, 5},   {4.f, 4, 5}, {5.f, 5, 5}};
        QCOMPARE(shown, expected);
        QCOMPARE(answerer.messages.size(), 1u);
        QCOMPARE(answerer.messages[0].text, Q(kSuccessMessage));
        QCOMPARE(answerer.messages[0].title, Q(kApplicationTitle));
        QCOMPARE(answerer.messages[0].icon, QMessageBox::NoIcon);
        QVERIFY(!answerer.messages[0].busyPointer);
        QVERIFY(!setup.form.isVisible());
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(test::ReadFile(setup.install / "new4.txt"), std::string("file 4"));
        std::vector<std::string> programs;
        for (const auto& record : test::ReadRecords(setup.temp / "log")) {
            programs.push_back(record.program);
        }
        QCOMPARE(programs,
                 (std::vector<std::string>{"regsvr32.exe", "UnpackDirs.exe", "ViewHost.exe"}));
    }

    void failuresReturnTheWindowToIdleWithTheNormalPointer_data() {
        QTest::addColumn<int>("entries");  // 0: no package list at all
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("messageStart");
        QTest::newRow("not found") << 1 << false << Q(kNotFoundMessage);
        QTest::newRow("no package list") << 0 << true << QStringLiteral("The package list");
    }

    void failuresReturnTheWindowToIdleWithTheNormalPointer() {
        QFETCH(int, entries);
        QFETCH(bool, installed);
        QFETCH(QString, messageStart);
        Setup setup;
        if (entries > 0) setup.MakePackage(entries);
        const fs::path folder = installed ? setup.install : setup.temp / "empty";
        fs::create_directories(folder);
        const auto before = Snapshot(setup.temp.Path());
        setup.ShowIdle();
        setup.TypePath(folder);
        int browses = 0;
        std::string start;
        setup.form.SetFolderDialog(std::make_unique<ScriptedFolderDialog>("", browses, start));
        ModalAnswerer answerer(&setup.form);
        // While the update shows its message, the window refuses to close and takes no input.
        answerer.beforeOk = [&](QMessageBox&) {
            setup.form.close();
            QTest::mouseClick(&setup.Control("Command3"), Qt::LeftButton);
            QTest::keyClick(&setup.Control("Command3"), Qt::Key_Space);
        };
        setup.PressInstall();
        QCOMPARE(browses, 0);
        QCOMPARE(answerer.messages.size(), 1u);
        QVERIFY2(answerer.messages[0].text.startsWith(messageStart),
                 qPrintable(answerer.messages[0].text));
        QCOMPARE(answerer.messages[0].title, Q(kApplicationTitle));
        QVERIFY(setup.form.isVisible());
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(Snapshot(setup.temp.Path()), before);
        // Idle again: Cancel works.
        QTest::mouseClick(&setup.Control("Command2"), Qt::LeftButton);
        QVERIFY(!setup.form.isVisible());
    }

    void cancelAndClosingTouchNothing_data() {
        QTest::addColumn<bool>("byCancel");
        QTest::newRow("Cancel") << true;
        QTest::newRow("closing the window") << false;
    }

    void cancelAndClosingTouchNothing() {
        QFETCH(bool, byCancel);
        Setup setup;
        setup.MakePackage(3);
        const auto before = Snapshot(setup.temp.Path());
        setup.ShowIdle();
        setup.TypePath(setup.install);
        if (byCancel) {
            QTest::mouseClick(&setup.Control("Command2"), Qt::LeftButton);
        } else {
            setup.form.close();
        }
        QVERIFY(!setup.form.isVisible());
        QCOMPARE(Snapshot(setup.temp.Path()), before);
        QVERIFY(!fs::exists(setup.temp / "log"));
    }

    void browsePutsTheChosenFolderInThePathBox_data() {
        QTest::addColumn<QString>("pathBox");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("after");
        QTest::newRow("chosen") << "/opt/Zel"
                                << "/opt/Zelvane"
                                << "/opt/Zelvane";
        QTest::newRow("no separator added") << ""
                                            << "/srv/z"
                                            << "/srv/z";
        QTest::newRow("cancelled") << "C:\\Program Files\\Zelvane"
                                   << ""
                                   << "C:\\Program Files\\Zelvane";
    }

    void browsePutsTheChosenFolderInThePathBox() {
        QFETCH(QString, pathBox);
        QFETCH(QString, answer);
        QFETCH(QString, after);
        Setup setup;
        int calls = 0;
        std::string start;
        setup.form.SetFolderDialog(
            std::make_unique<ScriptedFolderDialog>(answer.toStdString(), calls, start));
        setup.ShowIdle();
        auto& text1 = As<QLineEdit>(setup.Control("Text1"));
        text1.setText(pathBox);
        QTest::mouseClick(&setup.Control("Command3"), Qt::LeftButton);
        QCOMPARE(calls, 1);
        QCOMPARE(QString::fromStdString(start), pathBox);
        QCOMPARE(text1.text(), after);
    }

    void realFolderDialogOpensAtThePathBoxAndOffersFolders() {
        Setup setup;
        const fs::path chosen = setup.install / "Help";
        fs::create_directories(chosen);
        setup.ShowIdle();
        setup.TypePath(setup.install);
        QString title;
        QString openedAt;
        bool foldersOnly = false;
        ModalAnswerer answerer(&setup.form, [&](QWidget& modal) {
            auto* dialog = qobject_cast<QFileDialog*>(&modal);
            if (!dialog) {
                modal.close();
                return;
            }
            title = dialog->windowTitle();
            openedAt = dialog->directory().absolutePath();
            foldersOnly = dialog->fileMode() == QFileDialog::Directory &&
                          dialog->testOption(QFileDialog::ShowDirsOnly);
            dialog->selectFile(QString::fromStdString(chosen));
            static_cast<QDialog*>(dialog)->accept();
        });
        QTest::mouseClick(&setup.Control("Command3"), Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("Select directory"));
        QCOMPARE(openedAt, QString::fromStdString(setup.install));
        QVERIFY(foldersOnly);
        QCOMPARE(As<QLineEdit>(setup.Control("Text1")).text(), QString::fromStdString(chosen));
    }
};

}  // namespace
}  // namespace zelvane::ui

QTEST_MAIN(zelvane::ui::Form1Test)
#include "form1_test.moc"
