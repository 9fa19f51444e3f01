#pragma once

#include <functional>
#include <string>

#include "zelvane/engine/window_side.h"

namespace zelvane::ui {

// Lets the update run on a worker thread while the window goes on painting: every call is
// carried out by the window on the thread that owns it, and the worker waits for it. A failure
// on that side is thrown again on the worker, so that it never reaches the toolkit. Each toolkit
// gives the way to its window's thread.
class WindowThreadSide : public WindowSide {
  public:
    explicit WindowThreadSide(WindowSide& window) : window_(window) {}

    std::string PathText() override;
    bool SilentMode() override;
    void SetProgressMax(float maximum) override;
    void SetProgressValue(float value) override;
    float ProgressValue() override;
    PointerShape Pointer() override;
    void SetPointer(PointerShape shape) override;
    void ShowMessage(const std::string& text, MessageKind kind, const std::string& title) override;
    void TellFailure(const std::string& line) override;
    void ShowFailures(const FailureReport& report) override;
    void CloseWindow() override;

  protected:
    // Runs call, which throws nothing, on the window's thread and returns once it has run.
    virtual void RunOnWindowThread(const std::function<void()>& call) = 0;

  private:
    void OnWindowThread(const std::function<void()>& call);

    WindowSide& window_;
};

}  // namespace zelvane::ui
