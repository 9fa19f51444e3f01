#include "window_thread_side.h"

#include <exception>
#include <stdexcept>

namespace zelvane::ui {

LRESULT RunCarriedCall(LPARAM call) {
    (*reinterpret_cast<const std::function<void()>*>(call))();
    return 1;
}

// SendMessage runs the call at once on the window's own thread, and waits for the window's
// thread to run it from any other.
void WindowThreadSide::OnWindowThread(const std::function<void()>& call) {
    std::exception_ptr failure;
    const std::function<void()> carried = [&] {
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    if (::SendMessageW(handle_, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&carried)) != 1) {
        throw std::runtime_error("the window was closed while the update ran");
    }
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
