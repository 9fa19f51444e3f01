#pragma once

#include <functional>
#include <string>

#include "zelvane/engine/window_side.h"
#include "zelvane/win32/windows.h"

namespace zelvane::ui {

// The private message that carries a call to the window's thread: lParam points to a
// std::function<void()> that throws nothing, and the window procedure returns 1 once it has run.
inline constexpr UINT kRunOnWindowThread = WM_APP;

// Runs the call that a kRunOnWindowThread message carries; for the window procedure.
LRESULT RunCarriedCall(LPARAM call);

// Lets the update run on a worker thread: every call is carried out by the window on the
// thread that owns it, and the worker waits for it. A failure on that side is thrown again on
// the worker, so that it never reaches the window procedure.
class WindowThreadSide final : public WindowSide {
  public:
    WindowThreadSide(WindowSide& window, HWND handle) : window_(window), handle_(handle) {}

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

  private:
    void OnWindowThread(const std::function<void()>& call);

    WindowSide& window_;
    HWND handle_;
};

}  // namespace zelvane::ui
