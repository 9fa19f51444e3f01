#include "window_thread_side.h"

#include <QMetaObject>
#include <QThread>
#include <utility>

namespace zelvane::ui {

void QtWindowThreadSide::RunOnWindowThread(const std::function<void()>& call) {
    if (QThread::currentThread() == windowObject_.thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(&windowObject_, call, Qt::BlockingQueuedConnection);
}

void QtWindowThreadSide::PostToWindowThread(std::function<void()> call) {
    QMetaObject::invokeMethod(&windowObject_, std::move(call), Qt::QueuedConnection);
}

}  // namespace zelvane::ui
