#pragma once

#include <QObject>

#include "zelvane/ui/window_thread_side.h"

namespace zelvane::ui {

// The way to the Qt window's thread: calls queued to the window's object.
class QtWindowThreadSide final : public WindowThreadSide {
  public:
    QtWindowThreadSide(WindowSide& window, QObject& windowObject)
        : WindowThreadSide(window), windowObject_(windowObject) {}

  protected:
    void RunOnWindowThread(const std::function<void()>& call) override;
    void PostToWindowThread(std::function<void()> call) override;

  private:
    QObject& windowObject_;
};

}  // namespace zelvane::ui
