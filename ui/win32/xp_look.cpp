#include "zelvane/ui/xp_look.h"

#include "form1.h"
#include "zelvane/ui/form_description.h"

namespace zelvane::ui::XPLook {

// A message box of the window's own thread shows at once over the window shown before it.
void Main(Form1& form) {
    form.Show();
    form.ShowMessage(NoticeText(), kNoticeKind, text::kNoticeTitle);
}

}  // namespace zelvane::ui::XPLook
