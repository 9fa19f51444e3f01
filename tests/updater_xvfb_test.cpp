// The real zelvane-updater on a real X display (Xvfb) under a window manager (openbox, started by
// ctest): looked at on the screen, then driven by key presses as a person would. The numbers are
// the window's layout at 96 dots per inch; with QT_SCALE_FACTOR set, which the updater and this
// test share, they are expected scaled by it.
#include <QScreen>
#include <QtTest>
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
    const auto found =
        QRegularExpression(R"(X:\s+(-?\d+).*?Y:\s+(-?\d+).*?Width: (\d+).*?Height: (\d+))",
                           QRegularExpression::DotMatchesEverythingOption)
            .match(Output("xwininfo", {"-id", window}));
    return {found.captured(1).toInt(), found.captured(2).toInt(), found.captured(3).toInt(),
            found.captured(4).toInt()};
}

// The screen, looked at in areas given in layout pixels from the window's client area.
struct Screen {
    QPoint client;
    double scale = qGuiApp->devicePixelRatio();
    QImage image =
        qGuiApp->primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);

    QRect Scaled(QRect layout) const {
        return QTransform::fromScale(scale, scale).mapRect(layout).translated(client);
    }
    // The bounds on the screen of the area's pixels that are dark as text (`ink`), or not grey.
    QRect Find(QRect layout, bool ink = false) const {
        QRect found;
        const QRect area = Scaled(layout);
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (ink ? qGray(pixel) < 110 : pixel != kGrey) found |= QRect(x, y, 1, 1);
            }
        }
        return found;
    }
    bool MostlyGrey(QRect layout) const {
        const QImage area = image.copy(Scaled(layout));
        const auto* pixels = reinterpret_cast<const QRgb*>(area.constBits());
        const qsizetype count = qsizetype{area.width()} * area.height();
        return 2 * std::count(pixels, pixels + count, kGrey) > count;
    }
};

void CheckWhatAPersonSees(const Screen& screen) {
    // The banner, found by its pixels: all that is not grey inside the frame, below its line.
    QCOMPARE(screen.Find({12, 20, 685, 343}), screen.Scaled(QRect(24, 28, 658, 316)));
    // Grey between the buttons, behind Silent mode, in the frame below the banner.
    for (const QRect spot : {QRect(150, 470, 400, 25), {624, 418, 77, 15}, {12, 348, 685, 14}})
        QVERIFY2(screen.MostlyGrey(spot), qPrintable(QString::asprintf("at %d", spot.y())));
    // The frame's line runs through the middle of its caption, "Install".
    const QRect caption = screen.Find({9, 6, 60, 20}, true);
    const int line = screen.Find({208, 6, 1, 20}).top();
    QVERIFY2(qAbs(caption.top() + caption.bottom() - 2 * line) <= 2, "caption off the line");
    // "Path" stands on the line of the path box's text, whose first letters have no descender;
    // in a font of its own, it may stand a pixel higher or lower.
    const int path = screen.Find({390, 308, 57, 17}, true).bottom();
    QVERIFY2(qAbs(path - screen.Find({456, 308, 32, 17}, true).bottom()) <= 1, "Path off");
}

class UpdaterUnderXvfb : public QObject {
    Q_OBJECT

  private slots:
    void personLooksAtTheWindowThenInstallsInSilentMode() {
        test::TempFolder temp;
        const fs::path install = temp / "Program Files" / "Zelvane";
        test::MakeInstall(install);
        fs::create_directories(temp / "package");
        test::WriteFile(temp / "package" / "p0.bin", test::Scramble("engine 3.7"));
        test::WriteFile(temp / "package" / "FileList.txt", "0\r\n\"engine.exe\",\"p0.bin\"\r\n");
        QProcess updater;
        updater.setWorkingDirectory(QString::fromStdString(temp / "package"));
        updater.start(ZELVANE_BIN_DIR "/zelvane-updater", {});

        const QRect notice = ClientArea(WaitForWindow("Zelvane update"));
        const QRect client = ClientArea(WaitForWindow("Zelvane (3.x) updater (rev2.02)"));
        QVERIFY2((notice.center() - client.center()).manhattanLength() <= 2, "notice off centre");
        PressKeys({"Return"});
        WaitForWindow("Zelvane update", true);
        std::this_thread::sleep_for(300ms);  // for the window to repaint where the notice was
        const Screen screen{client.topLeft()};
        QCOMPARE(client, screen.Scaled({0, 0, 709, 500}));
        CheckWhatAPersonSees(screen);

        PressKeys({"Tab", "Tab", "Tab", "ctrl+a"});  // Install, Cancel, Browse..., the path box
        Output("xdotool", {"type", "--delay", "20", QString::fromStdString(install)});
        // Silent mode, then Install: without silence the registration tool would show a box too.
        PressKeys({"Tab", "space", "Tab", "Return"});
        QVERIFY(!WaitForWindow("Zelvane updater").isEmpty());
        PressKeys({"Return"});  // the success message
        QVERIFY(updater.waitForFinished(10000) && updater.exitStatus() == QProcess::NormalExit);
        QCOMPARE(updater.exitCode(), 0);
        QCOMPARE(test::ReadFile(install / "engine.exe"), std::string("engine 3.7"));
    }
};

}  // namespace
}  // namespace zelvane::ui

QTEST_MAIN(zelvane::ui::UpdaterUnderXvfb)
#include "updater_xvfb_test.moc"
