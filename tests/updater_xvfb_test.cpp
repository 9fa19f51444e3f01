// The real zelvane-updater on a real X display (Xvfb), used as a person would: driven by key
// presses through xdotool, and looked at by a screenshot.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QtTest>
#include <chrono>
#include <thread>

#include "form1.h"
#include "test_support.h"
#include "zelvane/ui/form_description.h"

namespace zelvane::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const QString kUpdater = QStringLiteral(ZELVANE_BIN_DIR "/zelvane-updater");

QString Xdotool(const QStringList& arguments) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    xdotool.waitForFinished(10000);
    return QString::fromUtf8(xdotool.readAllStandardOutput()).trimmed();
}

// The id of the visible window with exactly this title, or empty when there is none.
QString FindWindow(const QString& title) {
    const QString found = Xdotool(
        {"search", "--onlyvisible", "--name", "^" + QRegularExpression::escape(title) + "$"});
    return found.split('\n').constFirst();
}

QString WaitForWindow(const QString& title) {
    for (int tries = 0; tries < 200; ++tries) {
        if (QString found = FindWindow(title); !found.isEmpty()) return found;
        std::this_thread::sleep_for(50ms);
    }
    return {};
}

void WaitUntilGone(const QString& title) {
    for (int tries = 0; tries < 200 && !FindWindow(title).isEmpty(); ++tries) {
        std::this_thread::sleep_for(50ms);
    }
}

void PressKeys(const QStringList& keys) {
    Xdotool(QStringList{"key", "--delay", "80"} + keys);
    std::this_thread::sleep_for(200ms);
}

QPoint WindowPosition(const QString& window) {
    const QString shell = Xdotool({"getwindowgeometry", "--shell", window});
    const auto value = [&](const QString& name) {
        const auto match =
            QRegularExpression("^" + name + "=(\\d+)$", QRegularExpression::MultilineOption)
                .match(shell);
        return match.captured(1).toInt();
    };
    return {value("X"), value("Y")};
}

// Alike within the shading a focused or active control may add.
bool Alike(QRgb a, QRgb b) {
    constexpr int kTolerance = 40;
    return std::abs(qRed(a) - qRed(b)) <= kTolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= kTolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= kTolerance;
}

double SameFraction(const QImage& screen, const QImage& control, QPoint at) {
    qint64 same = 0;
    for (int y = 0; y < control.height(); ++y) {
        for (int x = 0; x < control.width(); ++x) {
            const QPoint p = at + QPoint(x, y);
            if (screen.rect().contains(p) && Alike(screen.pixel(p), control.pixel(x, y))) ++same;
        }
    }
    return static_cast<double>(same) / (static_cast<double>(control.width()) * control.height());
}

// Where near `expected` the control's own rendering fits the screen best.
QPoint BestFit(const QImage& screen, const QImage& control, QPoint expected, double& fraction) {
    QPoint best = expected;
    fraction = -1;
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
            const double f = SameFraction(screen, control, expected + QPoint(dx, dy));
            if (f > fraction) {
                fraction = f;
                best = expected + QPoint(dx, dy);
            }
        }
    }
    return best;
}

class UpdaterUnderXvfb : public QObject {
    Q_OBJECT

    struct Run {
        Run()
            : install(temp / "Program Files" / "Zelvane"),
              package(temp / "package"),
              log("ZELVANE_RECORD_LOG", (temp / "log").string()) {
            test::MakeInstall(install);
            fs::create_directories(package);
            test::WriteFile(package / "p0.bin", test::Scramble("engine 3.7"));
            test::WriteFile(package / "p1.bin", test::Scramble("what is new"));
            test::WriteFile(package / "FileList.txt",
                            "1\r\n\"engine.exe\",\"p0.bin\"\r\n\"Read me.txt\",\"p1.bin\"\r\n");
            updater.setWorkingDirectory(QString::fromStdString(package));
            updater.setProcessChannelMode(QProcess::ForwardedChannels);
            updater.start(kUpdater, {});
        }
        ~Run() {
            if (updater.state() != QProcess::NotRunning) updater.kill();
            updater.waitForFinished();
        }

        test::TempFolder temp;
        fs::path install;
        fs::path package;
        test::ScopedEnv log;
        QProcess updater;
    };

  private slots:
    void personInstallsInSilentMode() {
        Run run;
        QVERIFY(!WaitForWindow("Zelvane update").isEmpty());
        QVERIFY(!WaitForWindow(Q(Form().title)).isEmpty());
        PressKeys({"Return"});  // the notice
        WaitUntilGone("Zelvane update");
        PressKeys({"Tab", "Tab", "Tab", "ctrl+a"});  // Install, Cancel, Browse..., the path box
        Xdotool({"type", "--delay", "20", QString::fromStdString(run.install.string())});
        PressKeys({"Tab", "space", "Tab", "Return"});  // Silent mode, then Install
        QVERIFY(!WaitForWindow(Q(kApplicationTitle)).isEmpty());
        PressKeys({"Return"});  // the success message
        QVERIFY(run.updater.waitForFinished(10000));
        QCOMPARE(run.updater.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.updater.exitCode(), 0);

        QCOMPARE(test::ReadFile(run.install / "engine.exe"), std::string("engine 3.7"));
        QCOMPARE(test::ReadFile(run.install / "Read me.txt"), std::string("what is new"));
        const auto records = test::ReadRecords(run.temp / "log");
        QCOMPARE(records.size(), 2u);
        QCOMPARE(records[0].program, std::string("UnpackDirs.exe"));
        QCOMPARE(records[1].program, std::string("ViewHost.exe"));
        for (const auto& record : records) {
            QCOMPARE(fs::path(record.currentFolder), run.install);
        }
    }

    void screenshotMatchesTheLayoutControlByControl() {
        Run run;
        QVERIFY(!WaitForWindow("Zelvane update").isEmpty());
        PressKeys({"Return"});
        WaitUntilGone("Zelvane update");
        const QString window = WaitForWindow(Q(Form().title));
        QVERIFY(!window.isEmpty());
        std::this_thread::sleep_for(300ms);
        const QImage screen =
            QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
                QImage::Format_RGB32);
        const QPoint client = WindowPosition(window);

        // Each control as this test's own copy of the window draws it, searched for on the screen.
        Form1 reference(SystemFileSystem(), SystemProcesses());
        const PixelRect frame = Control("Frame1").Pixels();
        for (const ControlDescription& control : Controls()) {
            const PixelRect pixels = control.Pixels();
            QPoint expected = client + QPoint(pixels.left, pixels.top);
            if (control.container == "Frame1") expected += QPoint(frame.left, frame.top);
            const QImage drawn = reference.ControlNamed(control.name)
                                     .grab()
                                     .toImage()
                                     .convertToFormat(QImage::Format_RGB32);
            QCOMPARE(drawn.size(), QSize(pixels.width, pixels.height));
            double fraction = 0;
            const QPoint found = BestFit(screen, drawn, expected, fraction);
            const QByteArray where =
                Q(control.name).toUtf8() + " found at " + QByteArray::number(found.x()) + "," +
                QByteArray::number(found.y()) + ", expected " + QByteArray::number(expected.x()) +
                "," + QByteArray::number(expected.y());
            QVERIFY2(fraction > 0.9, where + ", match " + QByteArray::number(fraction));
            QVERIFY2((found - expected).manhattanLength() <= 1, where);
        }
        PressKeys({"Tab", "Return"});  // Cancel
        QVERIFY(run.updater.waitForFinished(10000));
    }

  private:
    static QString Q(std::string_view text) {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
};

}  // namespace
}  // namespace zelvane::ui

QTEST_MAIN(zelvane::ui::UpdaterUnderXvfb)
#include "updater_xvfb_test.moc"
