#pragma once

#include <string>

namespace zelvane {

// How a message box looks: an OK button only, or an OK button with the information icon.
enum class MessageKind { Ok, Information };

// The mouse pointer's shape while the window is under it.
enum class PointerShape { Default, Hourglass };

// The last message of an update in which something failed.
struct FailureReport {
    std::string summary;  // how many files were installed
    std::string text;     // the summary, the first failures and how many more there are
    std::string details;  // every failure, as far as bounded memory allows
};

// What the update needs from the window: the path box, the Silent mode box, the progress bar, the
// mouse pointer, message boxes, and closing the window.
class WindowSide {
  public:
    virtual ~WindowSide() = default;
    virtual std::string PathText() = 0;
    virtual bool SilentMode() = 0;
    virtual void SetProgressMax(float maximum) = 0;
    virtual void SetProgressValue(float value) = 0;
    virtual float ProgressValue() = 0;
    virtual PointerShape Pointer() = 0;
    virtual void SetPointer(PointerShape shape) = 0;
    // An empty title shows the application's title. Returns when the user has closed the box.
    virtual void ShowMessage(const std::string& text, MessageKind kind,
                             const std::string& title) = 0;
    // One failure, told as it happens; the window leaves it for ShowFailures.
    virtual void TellFailure(const std::string& /*line*/) {}
    // The final message of an update with failures, in place of the success message.
    virtual void ShowFailures(const FailureReport& report) = 0;
    virtual void CloseWindow() = 0;
};

}  // namespace zelvane
