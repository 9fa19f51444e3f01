#pragma once

#include <string>

class QWidget;

namespace zelvane::ui {

// Shows a modal message box over owner and returns when the user has closed it. Code 0 shows an
// OK button only, 64 adds the information icon; an empty title shows the application's title. A
// carriage return in the text starts a new line.
void ShowMessageBox(QWidget* owner, const std::string& text, int code, const std::string& title);

}  // namespace zelvane::ui
