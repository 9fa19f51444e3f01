// The real zelvane-updater on a real X display (Xvfb) under a window manager (openbox, started by
// ctest): looked at on the screen, then driven by key presses as a person would. The numbers are
// the window's layout at 96 dots per inch; with QT_SCALE_FACTOR set, which the updater and this
// test share, they are expected scaled by it.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QtTest>
#include <chrono>
#include <map>
#include <thread>

#include "test_support.h"

namespace zelvane::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr QRgb kGrey = 0xFFDDDDDD;  // 221, 221, 221

QString Output(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The id of the visible window with exactly this title once it is there (or, with `gone`, empty
// once it is not).
QString WaitForWindow(const QString& title, bool gone = false) {
    QString found;
    for (int tries = 0; tries < 200 && found.isEmpty() != gone; ++tries) {
        if (tries > 0) std::this_thread::sleep_for(50ms);
        found = Output("xdotool", {"search", "--onlyvisible", "--name",
                                   "^" + QRegularExpression::escape(title) + "$"});
    }
    return found.split('\n').constFirst();
}

void PressKeys(const QStringList& keys) {
    Output("xdotool", QStringList{"key", "--delay", "80"} + keys);
    std::this_thread::sleep_for(200ms);
}

// Where a window's client area is on the screen: unlike xdotool, xwininfo leaves out the frame
// that the window manager puts around it.
QRect ClientArea(const QString& window) {
    const QString info = Output("xwininfo", {"-id", window});
    const auto value = [&](const QString& name) {
        return QRegularExpression(name + ":\\s+(-?\\d+)").match(info).captured(1).toInt();
    };
    return {value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"),
            value("Height")};
}

// The screen, looked at in areas given in layout pixels from the window's client area.
struct Screen {
    QPoint client;
    double scale = qGuiApp->devicePixelRatio();
    QImage image =
        qGuiApp->primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);

    int Scaled(int layout) const { return qRound(layout * scale); }
    QRect Scaled(QRect layout) const {
        return {client + QPoint(Scaled(layout.x()), Scaled(layout.y())),
                QSize(Scaled(layout.width()), Scaled(layout.height()))};
    }
    template <typename Visit>
    void ForEachPixel(QRect layout, Visit visit) const {
        const QRect area = Scaled(layout);
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) visit(x, y, image.pixel(x, y));
        }
    }
    // The colour that most pixels in the area have.
    QColor Dominant(QRect layout) const {
        std::map<QRgb, int> counts;
        ForEachPixel(layout, [&](int, int, QRgb pixel) { ++counts[pixel]; });
        return std::ranges::max_element(counts, {}, &std::pair<const QRgb, int>::second)->first;
    }
    // The bounds on the screen of the area's pixels that are dark as text, or not grey.
    QRect Find(QRect layout, bool ink) const {
        QRect found;
        ForEachPixel(layout, [&](int x, int y, QRgb pixel) {
            if (ink ? qGray(pixel) < 110 : pixel != kGrey) found |= QRect(x, y, 1, 1);
        });
        return found;
    }
};

void CheckWhatAPersonSees(const Screen& screen) {
    // The banner, found by its pixels: all that is not grey inside the frame, below its line.
    QCOMPARE(screen.Find({12, 20, 685, 343}, false), screen.Scaled(QRect(24, 28, 658, 316)));

    QCOMPARE(screen.Dominant({150, 470, 400, 25}), QColor(kGrey));  // between the buttons
    QCOMPARE(screen.Dominant({624, 418, 77, 15}), QColor(kGrey));   // Silent mode
    QCOMPARE(screen.Dominant({12, 348, 685, 14}), QColor(kGrey));   // the frame's inside

    // The frame's line runs through the middle of its caption, "Install".
    const QRect caption = screen.Find({9, 6, 60, 20}, true);
    const int line = screen.Find({208, 6, 1, 20}, false).top();
    QVERIFY2(qAbs(caption.top() + caption.bottom() - 2 * line) <= 2,
             qPrintable(QString::asprintf("line %d, caption %d-%d", line, caption.top(),
                                          caption.bottom())));
    // "Path" stands on the line of the path box's text, whose first letters have no descender;
    // in a font of its own, it may stand a pixel higher or lower.
    const int path = screen.Find({390, 308, 57, 17}, true).bottom();
    const int box = screen.Find({456, 308, 32, 17}, true).bottom();
    QVERIFY2(qAbs(path - box) <= 1, qPrintable(QString::asprintf("rows %d, %d", path, box)));
}

class UpdaterUnderXvfb : public QObject {
    Q_OBJECT

  private slots:
    void personLooksAtTheWindowThenInstallsInSilentMode() {
        test::TempFolder temp;
        const fs::path install = temp / "Program Files" / "Zelvane";
        test::MakeInstall(install);
        test::ScopedEnv log("ZELVANE_RECORD_LOG", (temp / "log").string());
        fs::create_directories(temp / "package");
        test::WriteFile(temp / "package" / "p0.bin", test::Scramble("engine 3.7"));
        test::WriteFile(temp / "package" / "FileList.txt", "0\r\n\"engine.exe\",\"p0.bin\"\r\n");
        QProcess updater;
        updater.setWorkingDirectory(QString::fromStdString(temp / "package"));
        updater.start(ZELVANE_BIN_DIR "/zelvane-updater", {});

        const QString notice = WaitForWindow("Zelvane update");
        const QString window = WaitForWindow("Zelvane (3.x) updater (rev2.02)");
        QVERIFY(!notice.isEmpty() && !window.isEmpty());
        const QRect client = ClientArea(window);
        const QPoint offCentre = ClientArea(notice).center() - client.center();
        QVERIFY2(offCentre.manhattanLength() <= 2, "the notice is not centred over the window");
        PressKeys({"Return"});
        QVERIFY(WaitForWindow("Zelvane update", true).isEmpty());
        std::this_thread::sleep_for(300ms);  // for the window to repaint where the notice was
        const Screen screen{client.topLeft()};
        QCOMPARE(client.size(), QSize(screen.Scaled(709), screen.Scaled(500)));
        CheckWhatAPersonSees(screen);

        PressKeys({"Tab", "Tab", "Tab", "ctrl+a"});  // Install, Cancel, Browse..., the path box
        Output("xdotool", {"type", "--delay", "20", QString::fromStdString(install)});
        PressKeys({"Tab", "space", "Tab", "Return"});  // Silent mode, then Install
        QVERIFY(!WaitForWindow("Zelvane updater").isEmpty());
        PressKeys({"Return"});  // the success message
        QVERIFY(updater.waitForFinished(10000));
        QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
        QCOMPARE(updater.exitCode(), 0);
        QCOMPARE(test::ReadFile(install / "engine.exe"), std::string("engine 3.7"));
        const auto records = test::ReadRecords(temp / "log");  // UnpackDirs.exe, ViewHost.exe
        QCOMPARE(records.size(), 2u);
        QCOMPARE(fs::path(records[1].currentFolder), install);
    }
};

}  // namespace
}  // namespace zelvane::ui

QTEST_MAIN(zelvane::ui::UpdaterUnderXvfb)
#include "updater_xvfb_test.moc"
