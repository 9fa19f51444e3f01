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

bool GuiThreadWindowSide::SilentMode() {
    bool silent = false;
    OnWindowThread([&] { silent = window_.SilentMode(); });
    return silent;
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

PointerShape GuiThreadWindowSide::Pointer() {
    PointerShape shape = PointerShape::Default;
    OnWindowThread([&] { shape = window_.Pointer(); });
    return shape;
}

void GuiThreadWindowSide::SetPointer(PointerShape shape) {
    OnWindowThread([&] { window_.SetPointer(shape); });
}

void GuiThreadWindowSide::ShowMessage(const std::string& text, MessageKind kind,
                                      const std::string& title) {
    OnWindowThread([&] { window_.ShowMessage(text, kind, title); });
}

// The window lists failures in its final message only, so they need not cross threads one by one.
void GuiThreadWindowSide::TellFailure(const std::string&) {}

void GuiThreadWindowSide::ShowFailures(const FailureReport& report) {
    OnWindowThread([&] { window_.ShowFailures(report); });
}

void GuiThreadWindowSide::CloseWindow() {
    OnWindowThread([&] { window_.CloseWindow(); });
}

}  // namespace zelvane::ui
