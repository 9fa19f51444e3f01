#include "dpi.h"

#include "gdi.h"

namespace zelvane::ui {
namespace {

// Windows 7 lacks these; importing them would keep the program from starting there.
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

// The user32 function of this name, or nullptr where this Windows has none.
template <typename Function>
Function NewerUser32Function(const char* name) {
    const FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
    // Through the generic function type, which converts to any other without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

int SystemDpi() {
    const ScreenDc screen(::GetDC(nullptr));
    return ::GetDeviceCaps(screen.Get(), LOGPIXELSX);
}

}  // namespace

int WindowDpi(HWND window) {
    static const auto getDpiForWindow =
        NewerUser32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    return getDpiForWindow ? static_cast<int>(getDpiForWindow(window)) : SystemDpi();
}

SIZE WindowSizeFor(SIZE client, DWORD style, int dpi) {
    static const auto adjustForDpi =
        NewerUser32Function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
    RECT frame{0, 0, client.cx, client.cy};
    if (adjustForDpi) {
        adjustForDpi(&frame, style, FALSE, 0, static_cast<UINT>(dpi));
    } else {
        ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    }
    return {frame.right - frame.left, frame.bottom - frame.top};
}

}  // namespace zelvane::ui
