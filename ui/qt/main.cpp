// zelvane-updater: the updater with its window.
#include <QApplication>
#include <exception>
#include <iostream>

#include "form1.h"
#include "zelvane/ui/xp_look.h"
#include "zelvane/engine/update_log.h"
#include "zelvane/platform/files.h"
#include "zelvane/platform/processes.h"
#include "zelvane/platform/session.h"
#include "zelvane/platform/startup.h"

int main(int argc, char** argv) {
    zelvane::PrepareProcess();
    QApplication application(argc, argv);
    try {
        zelvane::FileUpdateLog log(zelvane::DefaultLogPath());
        zelvane::ui::Form1 form(zelvane::SystemFileSystem(), zelvane::SystemProcesses());
        form.UseSettings({log, zelvane::CurrentSession(), zelvane::BuiltInVendorKeys()});
        zelvane::ui::XPLook::Main(form);
        application.exec();
        return form.ExitStatus();
    } catch (const std::exception& error) {
        std::cerr << "zelvane-updater: " << error.what() << std::endl;
        return 1;
    }
}
