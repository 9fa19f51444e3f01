#pragma once

#include "zelvane/ui/window_thread_side.h"
#include "zelvane/win32/windows.h"

namespace zelvane::ui {

// The private messages of the window's thread. lParam of the first two points to a
// std::function<void()> that throws nothing: sent, the window procedure returns 1 once it has
// run it; posted, it owns it. The last is posted by the update's thread once the update returned.
inline constexpr UINT kRunOnWindowThread = WM_APP;
inline constexpr UINT kPostedToWindowThread = WM_APP + 1;
inline constexpr UINT kUpdateFinished = WM_APP + 2;

// Runs the call that a kRunOnWindowThread or kPostedToWindowThread message carries; for the
// window procedure.
LRESULT RunCarriedCall(UINT message, LPARAM call);

// The way to the Win32 window's thread: messages to the window.
class Win32WindowThreadSide final : public WindowThreadSide {
  public:
    Win32WindowThreadSide(WindowSide& window, HWND handle)
        : WindowThreadSide(window), handle_(handle) {}

  protected:
    void RunOnWindowThread(const std::function<void()>& call) override;
    void PostToWindowThread(std::function<void()> call) override;

  private:
    HWND handle_;
};

}  // namespace zelvane::ui
