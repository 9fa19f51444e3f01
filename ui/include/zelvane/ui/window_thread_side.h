#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "zelvane/engine/window_side.h"

namespace zelvane::ui {

// Lets the update run on a worker thread while the window goes on painting. What needs no answer
// (the progress bar, the pointer) is posted to the window's thread and the worker goes on; only
// what needs one (the path box, the Silent mode box, a message box) waits for the window. Progress
// is merged, at most about 30 updates a second, so that 5,000 small files do not flood the
// window. Calls reach the window in the order they were made; a failure on that side is thrown
// again on the worker, so that it never reaches the toolkit. Each toolkit gives the way to its
// window's thread.
class WindowThreadSide : public WindowSide {
  public:
    explicit WindowThreadSide(WindowSide& window)
        : window_(window), postedFailure_(std::make_shared<PostedFailure>()) {}

    std::string PathText() override;
    bool SilentMode() override;
    void SetProgressMax(float maximum) override;
    void SetProgressValue(float value) override;
    float ProgressValue() override;
    PointerShape Pointer() override;
    void SetPointer(PointerShape shape) override;
    void ShowMessage(const std::string& text, MessageKind kind, const std::string& title) override;
    void ShowFailures(const FailureReport& report) override;
    void CloseWindow() override;

    // Sends on the progress still held back and waits until the window has taken every call;
    // the worker calls it before it posts that the update has finished.
    void Finish();

  protected:
    // Runs call, which throws nothing, on the window's thread and returns once it has run.
    virtual void RunOnWindowThread(const std::function<void()>& call) = 0;
    // Has call, which throws nothing, run on the window's thread later, and returns at once.
    virtual void PostToWindowThread(std::function<void()> call) = 0;

  private:
    // The first failure of a posted call, shared with the calls on their way, which may run after
    // this side is gone.
    struct PostedFailure {
        std::mutex mutex;
        std::exception_ptr failure;
    };

    void OnWindowThread(const std::function<void()>& call);
    void Post(std::function<void()> call);
    void SendHeldProgress();
    void RethrowPostedFailure();

    WindowSide& window_;
    std::shared_ptr<PostedFailure> postedFailure_;
    std::optional<float> heldProgress_;
    std::optional<float> progressValue_;
    std::optional<PointerShape> pointer_;
    std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace zelvane::ui
