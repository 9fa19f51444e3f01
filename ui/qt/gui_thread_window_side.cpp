#include "gui_thread_window_side.h"

#include <QMetaObject>
#include <QThread>

namespace zelvane::ui {

void GuiThreadWindowSide::RunOnWindowThread(const std::function<void()>& call) {
    if (QThread::currentThread() == windowObject_.thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(&windowObject_, call, Qt::BlockingQueuedConnection);
}

}  // namespace zelvane::ui
