#pragma once

#include <string>

namespace zelvane {

// Who runs this program, for the log's first lines.
struct Session {
    std::string user;
    bool elevated;  // as administrator (Windows) or root
};
Session CurrentSession();

// What to do when the install folder cannot be written for lack of rights.
const char* AdviceForMissingRights();

// Where a run's log goes unless told otherwise: "%TEMP%\Zelvane update.log" on Windows,
// "$XDG_STATE_HOME/zelvane/update.log" (by default under ~/.local/state) elsewhere, its folder
// made when missing.
std::string DefaultLogPath();

}  // namespace zelvane
