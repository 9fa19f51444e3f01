#pragma once

#include <string>

#include "zelvane/engine/window_side.h"

class QWidget;

namespace zelvane::ui {

// Shows a modal message box centred over owner and returns when the user has closed it. An empty
// title shows the application's title. A carriage return in the text starts a new line. Details,
// when given, can be opened below the text.
void ShowMessageBox(QWidget* owner, const std::string& text, MessageKind kind,
                    const std::string& title, const std::string& details = {});

}  // namespace zelvane::ui
