#pragma once

#include <string>

namespace zelvane {

// Message box codes.
inline constexpr int kMessageOk = 0;
inline constexpr int kMessageInformation = 64;

// Mouse pointer shapes.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

// What the update needs from the window: the path box, the Silent mode box, the progress bar, the
// mouse pointer, message boxes, and closing the window.
class WindowSide {
  public:
    virtual ~WindowSide() = default;
    virtual std::string PathText() = 0;
    // 1 when the Silent mode box is checked, 0 when it is clear.
    virtual int SilentFlag() = 0;
    virtual void SetProgressMax(float maximum) = 0;
    virtual void SetProgressValue(float value) = 0;
    virtual float ProgressValue() = 0;
    virtual int PointerShape() = 0;
    virtual void SetPointerShape(int shape) = 0;
    // An empty title shows the application's title. Returns when the user has closed the box.
    virtual void ShowMessage(const std::string& text, int code, const std::string& title) = 0;
    virtual void CloseWindow() = 0;
};

}  // namespace zelvane
