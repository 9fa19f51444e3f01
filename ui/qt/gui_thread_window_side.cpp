#include "gui_thread_window_side.h"

#include <QMetaObject>
#include <QThread>

namespace zelvane::ui {

template <typename Call>
void GuiThreadWindowSide::OnWindowThread(Call call) {
    if (QThread::currentThread() == windowObject_.thread()) {
        call();
        return;
    }
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        &windowObject_,
        [&] {
            try {
                call();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
}

std::string GuiThreadWindowSide::PathText() {
    std::string text;
    OnWindowThread([&] { text = window_.PathText(); });
    return text;
}

int GuiThreadWindowSide::SilentFlag() {
    int flag = 0;
    OnWindowThread([&] { flag = window_.SilentFlag(); });
    return flag;
}

void GuiThreadWindowSide::SetProgressMax(float maximum) {
    OnWindowThread([&] { window_.SetProgressMax(maximum); });
}

void GuiThreadWindowSide::SetProgressValue(float value) {
    OnWindowThread([&] { window_.SetProgressValue(value); });
}

float GuiThreadWindowSide::ProgressValue() {
    float value = 0;
    OnWindowThread([&] { value = window_.ProgressValue(); });
    return value;
}

int GuiThreadWindowSide::PointerShape() {
    int shape = 0;
    OnWindowThread([&] { shape = window_.PointerShape(); });
    return shape;
}

void GuiThreadWindowSide::SetPointerShape(int shape) {
    OnWindowThread([&] { window_.SetPointerShape(shape); });
}

void GuiThreadWindowSide::ShowMessage(const std::string& text, int code, const std::string& title) {
    OnWindowThread([&] { window_.ShowMessage(text, code, title); });
}

void GuiThreadWindowSide::CloseWindow() {
    OnWindowThread([&] { window_.CloseWindow(); });
}

}  // namespace zelvane::ui
