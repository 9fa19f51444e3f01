#include "zelvane/ui/logged_update.h"

namespace zelvane::ui {

int RunLoggedUpdate(WindowSide& side, FileSystem& files, Processes& processes,
                    WindowLog* windowLog) {
    UpdateContext context{side, files, processes};
    if (windowLog) {
        const Session& session = windowLog->session;
        WriteHeader(windowLog->log, {"zelvane-updater", {}, side.PathText(),
                                     files.CurrentDirectory(), session.user, session.elevated});
        context.log = &windowLog->log;
    }
    return ExitStatusOf(RunUpdate(context));
}

}  // namespace zelvane::ui
