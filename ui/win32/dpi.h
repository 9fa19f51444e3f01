#pragma once

#include "zelvane/win32/windows.h"

namespace zelvane::ui {

// The DPI the window is shown at: its monitor's where Windows tells it (Windows 10 and later),
// otherwise the system's.
int WindowDpi(HWND window);

// The outer size of a window with this style whose client area has the given size at dpi.
SIZE WindowSizeFor(SIZE client, DWORD style, int dpi);

}  // namespace zelvane::ui
