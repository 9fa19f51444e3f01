#pragma once

#include <exception>
#include <map>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "gdi.h"
#include "zelvane/engine/update.h"
#include "zelvane/ui/logged_update.h"
#include "zelvane/engine/window_side.h"
#include "zelvane/platform/files.h"
#include "zelvane/platform/processes.h"
#include "zelvane/ui/form_description.h"
#include "zelvane/win32/windows.h"

namespace zelvane::ui {

// The updater's window, built with native controls from the window description and laid out at
// the DPI of the monitor it is on. It is also the window side of the update, called on the
// window's thread.
class Form1 final : public WindowSide {
  public:
    Form1(HINSTANCE instance, FileSystem& files, Processes& processes);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;
    ~Form1() override;

    // Shows the window, not modal, with the focus on the first control in tab order.
    void Show();
    // Takes a message of the window's thread before it is dispatched: lets the dialog keys (Tab,
    // Enter, Space) act on the window's controls. True when the message needs no dispatching.
    bool PreTranslate(MSG& message);

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

    // How the last update ended, as the command-line updater tells it; kExitNoAttempt before any.
    int ExitStatus() const { return exitStatus_; }
    // What each update is run with from now on.
    void UseSettings(UpdateSettings settings) {
        settings_ = std::make_unique<UpdateSettings>(std::move(settings));
    }

  private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void RegisterWindowClass() const;
    void CreateFormWindow();
    void CreateControls();
    HWND CreateControl(const ControlDescription& control, int id);
    void StackControls();
    void LayOut(int dpi);
    HFONT Font(const FontDescription& font, int dpi);
    HWND Control(ControlId id) const;
    const ControlDescription* DescriptionOf(HWND control) const;
    LRESULT ControlColour(HDC context, HWND control);
    void DrawItem(const DRAWITEMSTRUCT& item) const;
    void DrawBanner(const DRAWITEMSTRUCT& item) const;
    void DrawLabelBeside(const DRAWITEMSTRUCT& item, const ControlDescription& label,
                         HWND box) const;
    void OnDpiChanged(int dpi, const RECT& suggested);
    void OnCommand(int id);
    void ReportFailure(const char* what);

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    bool Updating() const { return worker_.joinable(); }
    void RunUpdateOnWorker(HWND window);
    void EndUpdate();
    void ExpectWindowThread() const;

    HINSTANCE instance_;
    FileSystem& files_;
    Processes& processes_;
    DWORD windowThread_;
    HWND window_ = nullptr;
    HWND focusWhenInactive_ = nullptr;
    GdiObject background_;
    GdiObject banner_;
    std::vector<std::pair<const FontDescription*, GdiObject>> fonts_;
    std::map<ControlId, HWND> controls_;
    float progressValue_ = 0;
    PointerShape pointer_ = PointerShape::Default;
    std::thread worker_;
    std::exception_ptr updateFailure_;
    int exitStatus_ = kExitNoAttempt;
    int workerStatus_ = kExitNoAttempt;  // the update's, until it has returned
    std::unique_ptr<UpdateSettings> settings_;
    bool closeRequested_ = false;
};

}  // namespace zelvane::ui
