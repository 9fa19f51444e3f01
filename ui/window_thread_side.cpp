#include "zelvane/ui/window_thread_side.h"

#include <utility>

namespace zelvane::ui {
namespace {

// About as often as a screen can show a change and a person can see it.
constexpr auto kProgressInterval = std::chrono::milliseconds(33);

}  // namespace

void WindowThreadSide::RethrowPostedFailure() {
    const std::lock_guard lock(postedFailure_->mutex);
    if (postedFailure_->failure) {
        std::rethrow_exception(std::exchange(postedFailure_->failure, nullptr));
    }
}

// Whatever was posted before runs first, so the window sees every call in the order made.
void WindowThreadSide::OnWindowThread(const std::function<void()>& call) {
    SendHeldProgress();
    std::exception_ptr failure;
    RunOnWindowThread([&] {
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    RethrowPostedFailure();
    if (failure) std::rethrow_exception(failure);
}

void WindowThreadSide::Post(std::function<void()> call) {
    RethrowPostedFailure();
    SendHeldProgress();
    PostToWindowThread([shared = postedFailure_, call = std::move(call)] {
        try {
            call();
        } catch (...) {
            const std::lock_guard lock(shared->mutex);
            if (!shared->failure) shared->failure = std::current_exception();
        }
    });
}

void WindowThreadSide::SendHeldProgress() {
    const auto held = std::exchange(heldProgress_, std::nullopt);
    if (!held) return;
    lastProgress_ = std::chrono::steady_clock::now();
    Post([&window = window_, value = *held] { window.SetProgressValue(value); });
}

void WindowThreadSide::Finish() {
    OnWindowThread([] {});
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
    Post([&window = window_, maximum] { window.SetProgressMax(maximum); });
}

// Held back until the interval has passed since the last one sent; the next call of the window
// sends it on first.
void WindowThreadSide::SetProgressValue(float value) {
    progressValue_ = value;
    heldProgress_ = value;
    if (std::chrono::steady_clock::now() - lastProgress_ >= kProgressInterval) SendHeldProgress();
}

float WindowThreadSide::ProgressValue() {
    if (!progressValue_) OnWindowThread([&] { progressValue_ = window_.ProgressValue(); });
    return *progressValue_;
}

PointerShape WindowThreadSide::Pointer() {
    if (!pointer_) OnWindowThread([&] { pointer_ = window_.Pointer(); });
    return *pointer_;
}

void WindowThreadSide::SetPointer(PointerShape shape) {
    pointer_ = shape;
    Post([&window = window_, shape] { window.SetPointer(shape); });
}

void WindowThreadSide::ShowMessage(const std::string& text, MessageKind kind,
                                   const std::string& title) {
    OnWindowThread([&] { window_.ShowMessage(text, kind, title); });
}

void WindowThreadSide::ShowFailures(const FailureReport& report) {
    OnWindowThread([&] { window_.ShowFailures(report); });
}

void WindowThreadSide::CloseWindow() {
    Post([&window = window_] { window.CloseWindow(); });
}

}  // namespace zelvane::ui
