#pragma once

#include <QObject>

#include "zelvane/ui/window_thread_side.h"

namespace zelvane::ui {

// The way to the Qt window's thread: a queued call that the worker waits for.
class GuiThreadWindowSide final : public WindowThreadSide {
  public:
    GuiThreadWindowSide(WindowSide& window, QObject& windowObject)
        : WindowThreadSide(window), windowObject_(windowObject) {}

  protected:
    void RunOnWindowThread(const std::function<void()>& call) override;

  private:
    QObject& windowObject_;
};

}  // namespace zelvane::ui
