#pragma once

#include "zelvane/ui/window_thread_side.h"
#include "zelvane/win32/windows.h"

namespace zelvane::ui {

// The private message that carries a call to the window's thread: lParam points to a
// std::function<void()> that throws nothing, and the window procedure returns 1 once it has run.
inline constexpr UINT kRunOnWindowThread = WM_APP;

// Runs the call that a kRunOnWindowThread message carries; for the window procedure.
LRESULT RunCarriedCall(LPARAM call);

// The way to the Win32 window's thread: a message sent to the window, which the worker waits for.
class MessageWindowThreadSide final : public WindowThreadSide {
  public:
    MessageWindowThreadSide(WindowSide& window, HWND handle)
        : WindowThreadSide(window), handle_(handle) {}

  protected:
    void RunOnWindowThread(const std::function<void()>& call) override;

  private:
    HWND handle_;
};

}  // namespace zelvane::ui
