#pragma once

#include <QObject>
#include <exception>
#include <string>

#include "zelvane/engine/window_side.h"

namespace zelvane::ui {

// Lets the update run on a worker thread: every call is carried out by the window on the
// thread that owns it, and the worker waits for it. A failure on that side is thrown again on
// the worker, so that it never reaches the event loop.
class GuiThreadWindowSide final : public WindowSide {
  public:
    GuiThreadWindowSide(WindowSide& window, QObject& windowObject)
        : window_(window), windowObject_(windowObject) {}

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
    template <typename Call>
    void OnWindowThread(Call call);

    WindowSide& window_;
    QObject& windowObject_;
};

}  // namespace zelvane::ui
