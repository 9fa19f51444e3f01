#include "xp_look.h"

#include "form1.h"
#include "message_box.h"
#include "zelvane/ui/form_description.h"

namespace zelvane::ui::XPLook {

void Main(Form1& form) {
    form.show();
    ShowMessageBox(&form, NoticeText(), kNoticeCode, std::string(kNoticeTitle));
    form.activateWindow();
    form.ControlNamed(InitialFocus()).setFocus();
}

}  // namespace zelvane::ui::XPLook
