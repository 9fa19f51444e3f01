// zelvane-updater: the updater with its window, which lives as long as Form1 does.
#include <exception>

#include "common_controls.h"
#include "form1.h"
#include "zelvane/ui/xp_look.h"
#include "zelvane/engine/update_log.h"
#include "zelvane/platform/files.h"
#include "zelvane/platform/processes.h"
#include "zelvane/platform/session.h"
#include "zelvane/platform/startup.h"
#include "zelvane/win32/text.h"

namespace {

using zelvane::win32::Wide;

void RunUntilClosed(zelvane::ui::Form1& form) {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (form.PreTranslate(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    try {
        zelvane::PrepareProcess();
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                            ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        zelvane::FileUpdateLog log(zelvane::DefaultLogPath());
        zelvane::ui::Form1 form(instance, zelvane::SystemFileSystem(), zelvane::SystemProcesses());
        form.UseSettings({log, zelvane::CurrentSession(), zelvane::BuiltInVendorKeys()});
        zelvane::ui::XPLook::Main(form);
        RunUntilClosed(form);
        return form.ExitStatus();
    } catch (const std::exception& error) {
        ::MessageBoxW(nullptr,
                      Wide(zelvane::ui::text::kCannotStart + std::string(error.what())).c_str(),
                      Wide(zelvane::ui::text::kApplicationTitle).c_str(), MB_OK | MB_ICONERROR);
        return 1;
    }
}
