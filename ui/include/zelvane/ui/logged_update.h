#pragma once

#include <string>
#include <vector>

#include "zelvane/engine/update.h"
#include "zelvane/engine/update_log.h"
#include "zelvane/platform/session.h"

namespace zelvane::ui {

// What main gives the window for the updates it runs: where they are logged, who runs them, and
// the keys a package must be signed with.
struct UpdateSettings {
    UpdateLog& log;
    Session session;
    std::vector<std::string> vendorKeys;
};

// One press of Install: the run's header in the log, then the update. Returns its exit status, as
// the command-line updater tells it. A window given no settings keeps no log and asks for no
// signature.
int RunLoggedUpdate(WindowSide& side, FileSystem& files, Processes& processes,
                    const UpdateSettings* settings);

}  // namespace zelvane::ui
