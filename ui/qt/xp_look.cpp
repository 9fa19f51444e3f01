#include "zelvane/ui/xp_look.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>
#include <chrono>

#include "form1.h"
#include "message_box.h"
#include "zelvane/ui/form_description.h"

namespace zelvane::ui::XPLook {
namespace {

using namespace std::chrono_literals;

// Longer than any window manager takes to place a window; a platform that never tells is not
// waited for beyond it.
constexpr auto kLongestPlacement = 2s;
constexpr auto kPlacementCheckInterval = 10ms;

// A window manager places the window only after it has been mapped, and Qt learns where before
// the window is exposed; a notice shown earlier is centred on where the window was asked to be.
void WaitUntilPlaced(const QWidget& window) {
    const QDeadlineTimer deadline(kLongestPlacement);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (window.windowHandle()->isExposed() || deadline.hasExpired()) loop.quit();
    });
    check.start(kPlacementCheckInterval);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

void Main(Form1& form) {
    form.show();
    WaitUntilPlaced(form);
    ShowMessageBox(&form, NoticeText(), kNoticeKind, text::kNoticeTitle);
    form.activateWindow();
    form.ControlWidget(InitialFocus()).setFocus();
}

}  // namespace zelvane::ui::XPLook
