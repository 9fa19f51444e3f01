#pragma once

#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "zelvane/platform/window_side.h"
#include "zelvane/ui/form_description.h"
#include "zelvane/win32/windows.h"

namespace zelvane::ui {

// Releases a GDI object (font, brush, bitmap) when destroyed.
struct GdiObjectDeleter {
    void operator()(void* object) const { ::DeleteObject(static_cast<HGDIOBJ>(object)); }
};
using GdiObject = std::unique_ptr<void, GdiObjectDeleter>;

// The updater's window, built with native controls from the window description. It is also the
// window side of the update.
class Form1 final : public WindowSide {
  public:
    explicit Form1(HINSTANCE instance);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;
    ~Form1() override;

    // Shows the window, not modal, with the focus on the first control in tab order.
    void Show();
    HWND Handle() const { return window_; }
    // Lets the dialog keys (Tab, Enter, Space) act on the window's controls.
    bool HandleDialogKey(MSG& message);

    std::string PathText() override;
    int SilentFlag() override;
    void SetProgressMax(float maximum) override;
    void SetProgressValue(float value) override;
    float ProgressValue() override;
    int PointerShape() override;
    void SetPointerShape(int shape) override;
    void ShowMessage(const std::string& text, int code, const std::string& title) override;
    void CloseWindow() override;

  private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void RegisterWindowClass() const;
    void CreateFormWindow();
    void CreateControls();
    HWND CreateControl(const ControlDescription& control, int id);
    void StackControls();
    HFONT Font(const FontDescription& font);
    HWND Control(std::string_view name) const;
    const ControlDescription* DescriptionOf(HWND control) const;
    LRESULT ControlColour(HDC context, HWND control);
    void OnCommand(int id);
    void ReportFailure(const char* what);

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    HINSTANCE instance_;
    HWND window_ = nullptr;
    HWND focusWhenInactive_ = nullptr;
    GdiObject background_;
    GdiObject banner_;
    std::vector<std::pair<const FontDescription*, GdiObject>> fonts_;
    std::map<std::string_view, HWND> controls_;
    float progressMax_ = 0;
    float progressValue_ = 0;
    int pointer_ = kPointerDefault;
};

}  // namespace zelvane::ui
