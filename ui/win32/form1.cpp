#include "form1.h"

#include <cmath>
#include <stdexcept>

#include "common_controls.h"
#include "resource.h"
#include "zelvane/engine/update.h"
#include "zelvane/platform/files.h"
#include "zelvane/platform/processes.h"
#include "zelvane/ui/folder_browser.h"
#include "zelvane/win32/folder_dialog.h"
#include "zelvane/win32/text.h"

namespace zelvane::ui {
namespace {

using win32::Utf8;
using win32::Wide;

constexpr wchar_t kWindowClass[] = L"ZelvaneUpdaterForm1";
constexpr DWORD kFixedFrame = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL, which dialog keys send
constexpr int kLayoutDpi = 96;

struct ControlClass {
    const wchar_t* name;
    DWORD style;
};

ControlClass ClassOf(const ControlDescription& control) {
    const DWORD alignment = control.alignment == TextAlignment::Right ? SS_RIGHT
                            : control.wordWrap                        ? SS_LEFT
                                                                      : SS_LEFTNOWORDWRAP;
    switch (control.kind) {
        case ControlKind::Frame:
            return {L"BUTTON", BS_GROUPBOX};
        case ControlKind::Picture:
            return {L"STATIC", SS_BITMAP};
        case ControlKind::Label:
            return {L"STATIC", alignment | SS_NOPREFIX};
        case ControlKind::TextBox:
            return {L"EDIT", ES_AUTOHSCROLL | WS_BORDER};
        case ControlKind::PushButton:
            return {L"BUTTON", BS_PUSHBUTTON};
        case ControlKind::CheckBox:
            return {L"BUTTON", static_cast<DWORD>(BS_AUTOCHECKBOX |
                                                  (control.boxRightOfCaption ? BS_LEFTTEXT : 0))};
        case ControlKind::ProgressBar:
            return {PROGRESS_CLASSW, 0};
    }
    throw std::logic_error("unknown control kind");
}

// A control's rectangle in the window's client area: controls in a frame are placed relative to
// the frame's top left corner.
PixelRect ClientRect(const ControlDescription& control) {
    PixelRect rect = control.Pixels();
    if (control.container != kFormName) {
        const PixelRect frame = ui::Control(control.container).Pixels();
        rect.left += frame.left;
        rect.top += frame.top;
    }
    return rect;
}

// Top to bottom: the controls that take the focus, in tab order (the dialog keys follow this
// order), then the others from front to back as the description stacks them.
std::vector<std::string_view> StackingOrder() {
    std::vector<std::string_view> order = FocusOrder();
    const auto controls = Controls();
    for (auto control = controls.rbegin(); control != controls.rend(); ++control) {
        if (!TakesFocus(control->kind)) order.push_back(control->name);
    }
    return order;
}

bool IsPushButton(HWND control) {
    wchar_t name[16] = {};
    ::GetClassNameW(control, name, 16);
    return ::lstrcmpiW(name, L"BUTTON") == 0 &&
           (::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) <= BS_DEFPUSHBUTTON;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

Form1::Form1(HINSTANCE instance)
    : instance_(instance), background_(::CreateSolidBrush(Form().background.Value())) {
    banner_.reset(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (!banner_) win32::ThrowLastError("cannot load", "the banner picture");
    RegisterWindowClass();
    CreateFormWindow();
    CreateControls();
    StackControls();
}

Form1::~Form1() {
    if (window_) ::DestroyWindow(window_);
}

void Form1::RegisterWindowClass() const {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance_;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        win32::ThrowLastError("cannot register the window class", "Form1");
    }
}

void Form1::CreateFormWindow() {
    const PixelRect client = Form().ClientPixels();
    RECT frame{0, 0, client.width, client.height};
    ::AdjustWindowRectEx(&frame, kFixedFrame, FALSE, 0);
    window_ = ::CreateWindowExW(0, kWindowClass, Wide(Form().title).c_str(), kFixedFrame,
                                CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, instance_, this);
    if (!window_) win32::ThrowLastError("cannot create the window", "Form1");
}

void Form1::CreateControls() {
    int id = kFirstControlId;
    for (const auto& control : Controls()) {
        const HWND created = CreateControl(control, id++);
        controls_.emplace(control.name, created);
        ::SendMessageW(created, WM_SETFONT, reinterpret_cast<WPARAM>(Font(control.font)), FALSE);
    }
    ::SendMessageW(Control("Image1"), STM_SETIMAGE, IMAGE_BITMAP,
                   reinterpret_cast<LPARAM>(banner_.get()));
    ::SendMessageW(Control("Check1"), BM_SETCHECK, ui::Control("Check1").initialValue, 0);
    ::SendMessageW(Control("ProgressBar1"), PBM_SETRANGE32, 0, 0);
}

HWND Form1::CreateControl(const ControlDescription& control, int id) {
    const ControlClass controlClass = ClassOf(control);
    const PixelRect rect = ClientRect(control);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | controlClass.style |
                        (TakesFocus(control.kind) ? WS_TABSTOP : 0);
    const HWND created =
        ::CreateWindowExW(0, controlClass.name, Wide(control.caption).c_str(), style, rect.left,
                          rect.top, rect.width, rect.height, window_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (!created) win32::ThrowLastError("cannot create the control", std::string(control.name));
    return created;
}

void Form1::StackControls() {
    for (const std::string_view name : StackingOrder()) {
        ::SetWindowPos(Control(name), HWND_BOTTOM, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

HFONT Form1::Font(const FontDescription& font) {
    for (const auto& [description, created] : fonts_) {
        if (description->family == font.family && description->points == font.points &&
            description->weight == font.weight) {
            return static_cast<HFONT>(created.get());
        }
    }
    const int height = -static_cast<int>(std::lround(font.points * kLayoutDpi / 72.0));
    GdiObject created(::CreateFontW(height, 0, 0, 0, font.weight, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                    Wide(font.family).c_str()));
    if (!created) win32::ThrowLastError("cannot create the font", std::string(font.family));
    fonts_.emplace_back(&font, std::move(created));
    return static_cast<HFONT>(fonts_.back().second.get());
}

HWND Form1::Control(std::string_view name) const { return controls_.at(name); }

const ControlDescription* Form1::DescriptionOf(HWND control) const {
    for (const auto& [name, handle] : controls_) {
        if (handle == control) return &ui::Control(name);
    }
    return nullptr;
}

void Form1::Show() {
    ::ShowWindow(window_, SW_SHOWNORMAL);
    ::UpdateWindow(window_);
    ::SetFocus(Control(InitialFocus()));
}

bool Form1::HandleDialogKey(MSG& message) {
    return window_ && ::IsDialogMessageW(window_, &message);
}

LRESULT CALLBACK Form1::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* form = reinterpret_cast<Form1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form || !form->window_) return ::DefWindowProcW(window, message, wParam, lParam);
    // No failure may travel on into the system's code that called this procedure.
    try {
        return form->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& error) {
        form->ReportFailure(error.what());
    } catch (...) {
        form->ReportFailure("an unknown failure");
    }
    return 0;
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_ERASEBKGND: {
            RECT client{};
            ::GetClientRect(window_, &client);
            ::FillRect(reinterpret_cast<HDC>(wParam), &client,
                       static_cast<HBRUSH>(background_.get()));
            return 1;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return ControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_SETCURSOR:
            if (pointer_ != kPointerHourglass) break;
            ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        case WM_ACTIVATE:
            // A plain window forgets which control had the focus when it loses activation.
            if (LOWORD(wParam) == WA_INACTIVE) {
                focusWhenInactive_ = ::GetFocus();
            } else if (focusWhenInactive_ && ::IsChild(window_, focusWhenInactive_)) {
                ::SetFocus(focusWhenInactive_);
                return 0;
            }
            break;
        case WM_DESTROY:
            window_ = nullptr;
            ::PostQuitMessage(0);
            return 0;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT Form1::ControlColour(HDC context, HWND control) {
    const ControlDescription* description = DescriptionOf(control);
    if (!description || !description->background) {
        return ::DefWindowProcW(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context),
                                reinterpret_cast<LPARAM>(control));
    }
    ::SetBkColor(context, description->background->Value());
    return reinterpret_cast<LRESULT>(background_.get());
}

void Form1::OnCommand(int id) {
    // Enter: only a push button that holds the focus is pressed; Esc presses nothing.
    if (id == IDOK) {
        if (const HWND focus = ::GetFocus(); IsPushButton(focus) && ::IsChild(window_, focus)) {
            ::SendMessageW(focus, BM_CLICK, 0, 0);
        }
        return;
    }
    const auto controls = Controls();
    const int index = id - kFirstControlId;
    if (index < 0 || index >= static_cast<int>(controls.size())) return;
    const std::string_view name = controls[static_cast<std::size_t>(index)].name;
    if (name == "Command1") Command1_Click();
    if (name == "Command2") Command2_Click();
    if (name == "Command3") Command3_Click();
}

void Form1::ReportFailure(const char* what) {
    const std::wstring text = L"The updater stopped: " + Wide(what);
    ::MessageBoxW(window_, text.c_str(), Wide(kApplicationTitle).c_str(), MB_OK | MB_ICONERROR);
}

void Form1::Command1_Click() { RunUpdate({*this, SystemFileSystem(), SystemProcesses()}); }

void Form1::Command2_Click() { CloseWindow(); }

void Form1::Command3_Click() {
    win32::ShellFolderDialog dialog(window_);
    const std::wstring text = Wide(BrowseFromPathBox(dialog, PathText()));
    ::SetWindowTextW(Control("Text1"), text.c_str());
}

std::string Form1::PathText() { return Utf8(WindowText(Control("Text1"))); }

int Form1::SilentFlag() {
    return ::SendMessageW(Control("Check1"), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void Form1::SetProgressMax(float maximum) {
    progressMax_ = maximum;
    ::SendMessageW(Control("ProgressBar1"), PBM_SETRANGE32, 0,
                   static_cast<LPARAM>(std::lround(maximum)));
}

void Form1::SetProgressValue(float value) {
    progressValue_ = value;
    ::SendMessageW(Control("ProgressBar1"), PBM_SETPOS, static_cast<WPARAM>(std::lround(value)), 0);
}

float Form1::ProgressValue() { return progressValue_; }

int Form1::PointerShape() { return pointer_; }

void Form1::SetPointerShape(int shape) {
    pointer_ = shape;
    ::SetCursor(::LoadCursorW(nullptr, shape == kPointerHourglass ? IDC_WAIT : IDC_ARROW));
}

void Form1::ShowMessage(const std::string& text, int code, const std::string& title) {
    const std::wstring caption = Wide(title.empty() ? std::string(kApplicationTitle) : title);
    ::MessageBoxW(window_, Wide(text).c_str(), caption.c_str(), static_cast<UINT>(code));
}

void Form1::CloseWindow() {
    if (window_) ::DestroyWindow(window_);
}

}  // namespace zelvane::ui
