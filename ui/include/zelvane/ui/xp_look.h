#pragma once

namespace zelvane::ui {

class Form1;

namespace XPLook {

// Start-up, for each toolkit's Form1: shows the window, then, once it has been placed, the backup
// notice centred over it, and leaves the focus on Install.
void Main(Form1& form);

}  // namespace XPLook
}  // namespace zelvane::ui
