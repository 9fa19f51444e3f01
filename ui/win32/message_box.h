#pragma once

#include <string>

#include "zelvane/engine/window_side.h"
#include "zelvane/win32/windows.h"

namespace zelvane::ui {

// Shows a modal message box over owner and returns when the user has closed it. An empty title
// shows the application's title.
void ShowMessageBox(HWND owner, const std::string& text, MessageKind kind,
                    const std::string& title);

// Shows the report's text above the list of every failure, which scrolls, in a modal box over
// owner with the application's title; returns when the user has closed it.
void ShowFailureList(HWND owner, const FailureReport& report);

}  // namespace zelvane::ui
