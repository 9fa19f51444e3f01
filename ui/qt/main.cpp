// zelvane-updater: the updater with its window.
#include <QApplication>

#include "form1.h"
#include "xp_look.h"
#include "zelvane/platform/files.h"
#include "zelvane/platform/processes.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    zelvane::ui::Form1 form(zelvane::SystemFileSystem(), zelvane::SystemProcesses());
    zelvane::ui::XPLook::Main(form);
    return application.exec();
}
