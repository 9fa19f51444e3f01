#include "zelvane/ui/window_thread_side.h"

#include <exception>

namespace zelvane::ui {

void WindowThreadSide::OnWindowThread(const std::function<void()>& call) {
    std::exception_ptr failure;
    RunOnWindowThread([&] {
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure) std::rethrow_exception(failure);
}

std::string WindowThreadSide::PathText() {
    std::string text;
    OnWindowThread([&] { text = window_.PathText(); });
    return text;
}

bool WindowThreadSide::SilentMode() {
    bool silent = false;
    OnWindowThread([&] { silent = window_.SilentMode(); });
    return silent;
}

void WindowThreadSide::SetProgressMax(float maximum) {
    OnWindowThread([&] { window_.SetProgressMax(maximum); });
}

void WindowThreadSide::SetProgressValue(float value) {
    OnWindowThread([&] { window_.SetProgressValue(value); });
}

float WindowThreadSide::ProgressValue() {
    float value = 0;
    OnWindowThread([&] { value = window_.ProgressValue(); });
    return value;
}

PointerShape WindowThreadSide::Pointer() {
    PointerShape shape = PointerShape::Default;
    OnWindowThread([&] { shape = window_.Pointer(); });
    return shape;
}

void WindowThreadSide::SetPointer(PointerShape shape) {
    OnWindowThread([&] { window_.SetPointer(shape); });
}

void WindowThreadSide::ShowMessage(const std::string& text, MessageKind kind,
                                   const std::string& title) {
    OnWindowThread([&] { window_.ShowMessage(text, kind, title); });
}

// The window lists failures in its final message only, so they need not cross threads one by one.
void WindowThreadSide::TellFailure(const std::string&) {}

void WindowThreadSide::ShowFailures(const FailureReport& report) {
    OnWindowThread([&] { window_.ShowFailures(report); });
}

void WindowThreadSide::CloseWindow() {
    OnWindowThread([&] { window_.CloseWindow(); });
}

}  // namespace zelvane::ui
