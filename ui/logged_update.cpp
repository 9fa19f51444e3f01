#include "zelvane/ui/logged_update.h"

namespace zelvane::ui {

int RunLoggedUpdate(WindowSide& side, FileSystem& files, Processes& processes,
                    const UpdateSettings* settings) {
    UpdateContext context{side, files, processes};
    if (settings) {
        const Session& session = settings->session;
        WriteHeader(settings->log, {"zelvane-updater", {}, side.PathText(),
                                    files.CurrentDirectory(), session.user, session.elevated});
        context.log = &settings->log;
        context.vendorKeys = settings->vendorKeys;
    }
    return ExitStatusOf(RunUpdate(context));
}

}  // namespace zelvane::ui
