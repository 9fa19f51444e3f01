#pragma once

#include "zelvane/engine/update.h"
#include "zelvane/engine/update_log.h"
#include "zelvane/platform/session.h"

namespace zelvane::ui {

// Where the window logs its update runs, and who runs them.
struct WindowLog {
    UpdateLog& log;
    Session session;
};

// One press of Install: the run's header in the log, then the update. Returns its exit status, as
// the command-line updater tells it.
int RunLoggedUpdate(WindowSide& side, FileSystem& files, Processes& processes,
                    WindowLog* windowLog);

}  // namespace zelvane::ui
