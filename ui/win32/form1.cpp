#include "form1.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "common_controls.h"
#include "dpi.h"
#include "folder_browser.h"
#include "message_box.h"
#include "resource.h"
#include "window_thread_side.h"
#include "zelvane/engine/update.h"
#include "zelvane/ui/folder_browser.h"
#include "zelvane/win32/text.h"

namespace zelvane::ui {
namespace {

using win32::Utf8;
using win32::Wide;

constexpr wchar_t kWindowClass[] = L"ZelvaneUpdaterForm1";
constexpr DWORD kFixedFrame = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL, which dialog keys send

int CommandId(ControlId control) { return kFirstControlId + static_cast<int>(control); }
constexpr int kTwipsPerInch = 1440;
constexpr double kPointsPerInch = 72;

struct ControlClass {
    const wchar_t* name;
    DWORD style;
};

// The text box on the row of a label that keeps to one line, in the same container; nullptr
// for any other control.
const ControlDescription* BoxBeside(const ControlDescription& label) {
    if (label.kind != ControlKind::Label || label.wordWrap) return nullptr;
    const int middle = label.twips.top + label.twips.height / 2;
    for (const auto& control : Controls()) {
        if (control.kind == ControlKind::TextBox && control.frame == label.frame &&
            control.twips.top <= middle && middle < control.twips.top + control.twips.height) {
            return &control;
        }
    }
    return nullptr;
}

// A label beside a text box is drawn here, on the baseline of the box's text.
DWORD LabelStyle(const ControlDescription& control) {
    if (BoxBeside(control)) return SS_OWNERDRAW;
    if (control.alignment == TextAlignment::Right) return SS_RIGHT;
    return control.wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
}

ControlClass ClassOf(const ControlDescription& control) {
    switch (control.kind) {
        case ControlKind::Frame:
            return {L"BUTTON", BS_GROUPBOX};
        case ControlKind::Picture:
            return {L"STATIC", SS_OWNERDRAW};  // the banner, drawn here to the control's size
        case ControlKind::Label:
            return {L"STATIC", LabelStyle(control) | SS_NOPREFIX};
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

int Pixels(int twips, int dpi) { return ::MulDiv(twips, dpi, kTwipsPerInch); }

SIZE ClientSize(int dpi) {
    const TwipsRect& client = Form().clientTwips;
    return {Pixels(client.width, dpi), Pixels(client.height, dpi)};
}

// A control's rectangle in the window's client area at dpi: controls in a frame are placed
// relative to the frame's top left corner.
PixelRect ClientRect(const ControlDescription& control, int dpi) {
    TwipsRect twips = control.twips;
    if (control.frame) {
        const TwipsRect& frame = ui::Control(*control.frame).twips;
        twips.left += frame.left;
        twips.top += frame.top;
    }
    return {Pixels(twips.left, dpi), Pixels(twips.top, dpi), Pixels(twips.width, dpi),
            Pixels(twips.height, dpi)};
}

// Top to bottom: the controls that take the focus, in tab order (the dialog keys follow this
// order), each label that names one right before it, then the others from front to back as the
// description stacks them.
std::vector<ControlId> StackingOrder() {
    std::vector<ControlId> order = FocusOrder();
    const auto controls = Controls();
    for (auto control = controls.rbegin(); control != controls.rend(); ++control) {
        if (!TakesFocus(control->kind) && !control->labelFor) order.push_back(control->id);
    }
    // An edit box takes its name for screen readers from the static text just before it.
    for (const auto& control : controls) {
        if (control.labelFor) order.insert(std::ranges::find(order, *control.labelFor), control.id);
    }
    return order;
}

bool IsPushButton(HWND control) {
    wchar_t name[16] = {};
    ::GetClassNameW(control, name, 16);
    return ::lstrcmpiW(name, L"BUTTON") == 0 &&
           (::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) <= BS_DEFPUSHBUTTON;
}

bool IsKeyboardOrClientMouse(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

int Ascent(HDC context, HGDIOBJ font) {
    const HGDIOBJ formerFont = ::SelectObject(context, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(context, &metrics);
    ::SelectObject(context, formerFont);
    return metrics.tmAscent;
}

HGDIOBJ FontOf(HWND control) {
    return reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0));
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

Form1::Form1(HINSTANCE instance, FileSystem& files, Processes& processes)
    : instance_(instance),
      files_(files),
      processes_(processes),
      windowThread_(::GetCurrentThreadId()),
      background_(::CreateSolidBrush(Form().background.Value())) {
    banner_.Reset(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (!banner_.Valid()) win32::ThrowLastError(text::kCannotLoad, text::kBanner);
    RegisterWindowClass();
    CreateFormWindow();
    CreateControls();
    StackControls();
    const int dpi = WindowDpi(window_);
    const SIZE size = WindowSizeFor(ClientSize(dpi), kFixedFrame, dpi);
    ::SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut(dpi);
}

// The window cannot close while an update runs, so the worker has returned or is about to.
Form1::~Form1() {
    if (window_) ::DestroyWindow(window_);
    if (worker_.joinable()) worker_.join();
}

void Form1::RegisterWindowClass() const {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance_;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        win32::ThrowLastError(text::kCannotRegisterClass, kFormName);
    }
}

// Made without a size: its size depends on the DPI of the monitor it turns out to be on.
void Form1::CreateFormWindow() {
    window_ =
        ::CreateWindowExW(0, kWindowClass, Wide(Form().title).c_str(), kFixedFrame, CW_USEDEFAULT,
                          CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance_, this);
    if (!window_) win32::ThrowLastError(text::kCannotCreateWindow, kFormName);
}

void Form1::CreateControls() {
    for (const auto& control : Controls()) {
        controls_.emplace(control.id, CreateControl(control, CommandId(control.id)));
    }
    ::SendMessageW(Control(ControlId::Check1), BM_SETCHECK,
                   ui::Control(ControlId::Check1).initialValue, 0);
    ::SendMessageW(Control(ControlId::ProgressBar1), PBM_SETRANGE32, 0, 0);
}

HWND Form1::CreateControl(const ControlDescription& control, int id) {
    const ControlClass controlClass = ClassOf(control);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | controlClass.style |
                        (TakesFocus(control.kind) ? WS_TABSTOP : 0);
    // A control that shows no caption of its own gets its screen-reader name as its text, which
    // the system's accessibility layer reads as its name and the banner's drawing never shows.
    const std::string_view text = control.caption.empty() ? control.accessibleName : control.caption;
    const HWND created = ::CreateWindowExW(
        0, controlClass.name, Wide(text).c_str(), style, 0, 0, 0, 0, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (!created) win32::ThrowLastError(text::kCannotCreateControl, control.name);
    return created;
}

void Form1::StackControls() {
    for (const ControlId id : StackingOrder()) {
        ::SetWindowPos(Control(id), HWND_BOTTOM, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

// Places and sizes every control from its twips, with its font, at dpi.
void Form1::LayOut(int dpi) {
    // The controls let go of the fonts for the former DPI before these are deleted.
    const auto formerFonts = std::exchange(fonts_, {});
    for (const auto& control : Controls()) {
        const PixelRect rect = ClientRect(control, dpi);
        const HWND handle = Control(control.id);
        ::SetWindowPos(handle, nullptr, rect.left, rect.top, rect.width, rect.height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(Font(control.font, dpi)), TRUE);
    }
}

HFONT Form1::Font(const FontDescription& font, int dpi) {
    for (const auto& [description, created] : fonts_) {
        if (description->family == font.family && description->points == font.points &&
            description->weight == font.weight) {
            return static_cast<HFONT>(created.Get());
        }
    }
    const int height = -static_cast<int>(std::lround(font.points * dpi / kPointsPerInch));
    GdiObject created(::CreateFontW(height, 0, 0, 0, font.weight, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                    Wide(font.family).c_str()));
    if (!created.Valid()) win32::ThrowLastError(text::kCannotCreateFont, font.family);
    fonts_.emplace_back(&font, std::move(created));
    return static_cast<HFONT>(fonts_.back().second.Get());
}

HWND Form1::Control(ControlId id) const { return controls_.at(id); }

const ControlDescription* Form1::DescriptionOf(HWND control) const {
    for (const auto& [id, handle] : controls_) {
        if (handle == control) return &ui::Control(id);
    }
    return nullptr;
}

void Form1::Show() {
    ::ShowWindow(window_, SW_SHOWNORMAL);
    ::UpdateWindow(window_);
    ::SetFocus(Control(InitialFocus()));
}

// While an update runs, the keyboard and clicks in the window do nothing; its frame still moves,
// and closing it is refused.
bool Form1::PreTranslate(MSG& message) {
    if (!window_ || (message.hwnd != window_ && !::IsChild(window_, message.hwnd))) return false;
    if (Updating() && IsKeyboardOrClientMouse(message.message)) return true;
    return ::IsDialogMessageW(window_, &message);
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
        form->ReportFailure(kUnknownFailure);
    }
    return 0;
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kRunOnWindowThread:
        case kPostedToWindowThread:
            return RunCarriedCall(message, lParam);
        case kUpdateFinished:
            EndUpdate();
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_ERASEBKGND: {
            RECT client{};
            ::GetClientRect(window_, &client);
            ::FillRect(reinterpret_cast<HDC>(wParam), &client,
                       static_cast<HBRUSH>(background_.Get()));
            return 1;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return ControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_DRAWITEM:
            DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_DPICHANGED:
            OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_SETCURSOR:
            if (pointer_ != PointerShape::Hourglass) break;
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
        case WM_CLOSE:
            if (Updating()) return 0;  // closing the window mid-update would stop it halfway
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
    return reinterpret_cast<LRESULT>(background_.Get());
}

void Form1::DrawItem(const DRAWITEMSTRUCT& item) const {
    const ControlDescription* description = DescriptionOf(item.hwndItem);
    if (!description) return;
    if (description->kind == ControlKind::Picture) DrawBanner(item);
    if (const ControlDescription* box = BoxBeside(*description)) {
        DrawLabelBeside(item, *description, Control(box->id));
    }
}

// A one-line text box draws its text from the top of its formatting rectangle.
void Form1::DrawLabelBeside(const DRAWITEMSTRUCT& item, const ControlDescription& label,
                            HWND box) const {
    RECT boxText{};
    ::SendMessageW(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&boxText));
    ::MapWindowPoints(box, item.hwndItem, reinterpret_cast<POINT*>(&boxText), 2);
    const int baseline = boxText.top + Ascent(item.hDC, FontOf(box));
    ::FillRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(background_.Get()));
    const HGDIOBJ formerFont = ::SelectObject(item.hDC, FontOf(item.hwndItem));
    RECT text = item.rcItem;
    text.top = baseline - Ascent(item.hDC, FontOf(item.hwndItem));
    ::SetBkMode(item.hDC, TRANSPARENT);
    ::SetTextColor(item.hDC, ::GetSysColor(COLOR_WINDOWTEXT));
    const UINT alignment = label.alignment == TextAlignment::Right ? DT_RIGHT : DT_LEFT;
    ::DrawTextW(item.hDC, WindowText(item.hwndItem).c_str(), -1, &text,
                alignment | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    ::SelectObject(item.hDC, formerFont);
}

// The banner fills its control, smoothly scaled; at its own size it is copied pixel for pixel.
void Form1::DrawBanner(const DRAWITEMSTRUCT& item) const {
    BITMAP bitmap{};
    ::GetObjectW(banner_.Get(), sizeof bitmap, &bitmap);
    const MemoryDc source(::CreateCompatibleDC(item.hDC));
    const HGDIOBJ formerBitmap = ::SelectObject(source.Get(), banner_.Get());
    ::SetStretchBltMode(item.hDC, HALFTONE);
    ::SetBrushOrgEx(item.hDC, 0, 0, nullptr);
    ::StretchBlt(item.hDC, item.rcItem.left, item.rcItem.top, item.rcItem.right - item.rcItem.left,
                 item.rcItem.bottom - item.rcItem.top, source.Get(), 0, 0, bitmap.bmWidth,
                 bitmap.bmHeight, SRCCOPY);
    ::SelectObject(source.Get(), formerBitmap);
}

// The window moved to a monitor of another DPI: Windows suggests where it goes and how large.
void Form1::OnDpiChanged(int dpi, const RECT& suggested) {
    ::SetWindowPos(window_, nullptr, suggested.left, suggested.top,
                   suggested.right - suggested.left, suggested.bottom - suggested.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut(dpi);
}

void Form1::OnCommand(int id) {
    // Enter: only a push button that holds the focus is pressed; Esc presses nothing.
    if (id == IDOK) {
        if (const HWND focus = ::GetFocus(); IsPushButton(focus) && ::IsChild(window_, focus)) {
            ::SendMessageW(focus, BM_CLICK, 0, 0);
        }
        return;
    }
    if (id == CommandId(ControlId::Command1)) Command1_Click();
    if (id == CommandId(ControlId::Command2)) Command2_Click();
    if (id == CommandId(ControlId::Command3)) Command3_Click();
}

// The one place that reports a failure that reached the window procedure.
void Form1::ReportFailure(const char* what) {
    try {
        ShowMessage(kStoppedPrefix + std::string(what), MessageKind::Ok, "");
    } catch (...) {
        ::MessageBeep(MB_ICONERROR);  // the message itself cannot be shown
    }
}

// The update runs on a thread of its own, so that the window goes on painting while it copies
// and waits for programs; meanwhile the window takes no input (see PreTranslate). It is not
// disabled: a message box closing over a disabled window would hand the activation elsewhere.
void Form1::Command1_Click() {
    if (!Updating()) worker_ = std::thread([this, window = window_] { RunUpdateOnWorker(window); });
}

// Only the window's own thread may touch it; the update's thread goes through the thread side.
void Form1::ExpectWindowThread() const {
    if (::GetCurrentThreadId() != windowThread_) {
        throw std::logic_error("Form1 was used from a thread other than the window's");
    }
}

void Form1::RunUpdateOnWorker(HWND window) {
    try {
        Win32WindowThreadSide side(*this, window);
        workerStatus_ = RunLoggedUpdate(side, files_, processes_, settings_.get());
        side.Finish();
    } catch (...) {
        workerStatus_ = kExitIncomplete;
        updateFailure_ = std::current_exception();
    }
    ::PostMessageW(window, kUpdateFinished, 0, 0);
}

// The window is closed, when the update asked for it, only once the update has returned, so
// that no call of it is left waiting.
void Form1::EndUpdate() {
    worker_.join();
    exitStatus_ = workerStatus_;
    if (closeRequested_) ::DestroyWindow(window_);
    if (updateFailure_) std::rethrow_exception(std::exchange(updateFailure_, nullptr));
}

void Form1::Command2_Click() { CloseWindow(); }

void Form1::Command3_Click() {
    ShellFolderDialog dialog(window_);
    const std::wstring text = Wide(BrowseFromPathBox(dialog, PathText()));
    ::SetWindowTextW(Control(ControlId::Text1), text.c_str());
}

std::string Form1::PathText() {
    ExpectWindowThread();
    return Utf8(WindowText(Control(ControlId::Text1)));
}

bool Form1::SilentMode() {
    ExpectWindowThread();
    return ::SendMessageW(Control(ControlId::Check1), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Form1::SetProgressMax(float maximum) {
    ExpectWindowThread();
    ::SendMessageW(Control(ControlId::ProgressBar1), PBM_SETRANGE32, 0,
                   static_cast<LPARAM>(std::lround(maximum)));
}

void Form1::SetProgressValue(float value) {
    ExpectWindowThread();
    progressValue_ = value;
    ::SendMessageW(Control(ControlId::ProgressBar1), PBM_SETPOS, static_cast<WPARAM>(std::lround(value)), 0);
}

float Form1::ProgressValue() {
    ExpectWindowThread();
    return progressValue_;
}

PointerShape Form1::Pointer() {
    ExpectWindowThread();
    return pointer_;
}

void Form1::SetPointer(PointerShape shape) {
    ExpectWindowThread();
    pointer_ = shape;
    ::SetCursor(::LoadCursorW(nullptr, shape == PointerShape::Hourglass ? IDC_WAIT : IDC_ARROW));
}

void Form1::ShowMessage(const std::string& text, MessageKind kind, const std::string& title) {
    ExpectWindowThread();
    ShowMessageBox(window_, text, kind, title);
}

void Form1::ShowFailures(const FailureReport& report) {
    ExpectWindowThread();
    ShowFailureList(window_, report);
}

void Form1::CloseWindow() {
    ExpectWindowThread();
    if (Updating()) {
        closeRequested_ = true;
    } else if (window_) {
        ::DestroyWindow(window_);
    }
}

}  // namespace zelvane::ui
