#pragma once

#include <array>
#include <string>
#include <vector>

#include "zelvane/engine/messages.h"
#include "zelvane/engine/package_check.h"
#include "zelvane/engine/update_log.h"
#include "zelvane/engine/window_side.h"
#include "zelvane/platform/files.h"
#include "zelvane/platform/processes.h"

namespace zelvane {

// Files whose presence proves an install of version 3.0 or later, in the order they are tested.
inline constexpr std::array<const char*, 9> kMarkerFiles{
    "engine.exe",       "catalog_ix.exe",  "Tray_In_kb.exe",    "Tray_Out_kb.exe",   "scan_ix.exe",
    "Reel_edit_km.exe", "ReelScan_ix.exe", "SparkField_kf.exe", "RippleShift_kf.exe"};

inline constexpr const char* kControlFile = "NavTree.ocx";
inline constexpr const char* kFirstProgram = "UnpackDirs.exe";
inline constexpr const char* kSecondProgram = "ViewHost.exe";

// The final message names this many failures; the rest are counted there and listed in its
// details, which hold at most kFailureDetailsBudget bytes.
inline constexpr std::size_t kShownFailures = 20;
inline constexpr std::size_t kFailureDetailsBudget = 1 << 20;

enum class UpdateOutcome {
    Installed,       // every step succeeded; the window was closed
    NotFound,        // no install in the folder; nothing changed, the window stays
    NotStarted,      // a failure before any product file changed; nothing changed, window stays
    FilesInUse,      // product files are held by running programs; nothing changed, window stays
    Incomplete,      // finished, but something failed; the window was closed
    StoppedPartway,  // an unforeseen failure ended it after files were written; window stays
    Stopped,         // an unforeseen failure ended it before anything changed; window stays
};

// What an update does when an entry fails.
enum class FailurePolicy {
    AllOrNothing,  // nothing is changed, and the update stops
    KeepGoing,     // the entry is passed over; the others are put in place one by one
};

struct UpdateContext {
    WindowSide& window;
    FileSystem& files;
    Processes& processes;
    // A package must be signed with the private key of each of these public keys (PEM); main
    // passes BuiltInVendorKeys() and any the user names.
    std::vector<std::string> vendorKeys{};
    FailurePolicy policy = FailurePolicy::AllOrNothing;
    UpdateLog* log = nullptr;  // none kept when there is none
};

// The exit statuses of the updater's programs, window and command line alike.
inline constexpr int kExitInstalled = 0;
inline constexpr int kExitNotFound = 1;
inline constexpr int kExitIncomplete = 2;       // files in place, but something failed
inline constexpr int kExitNothingChanged = 3;
inline constexpr int kExitFilesInUse = 4;       // nothing changed; try again later
inline constexpr int kExitNoAttempt = 5;        // the window was closed before any update
inline constexpr int kExitUsage = 64;

int ExitStatusOf(UpdateOutcome outcome);

inline constexpr const char* kProductVersion = "3.7";
inline constexpr const char* kUpdaterVersion = "3.7.0";

// What the Install button does: checks the folder, writes every package file into it,
// registers the control, runs the post-install programs and reports. Every failure ends as a
// message; it throws only when the window fails to show that message.
UpdateOutcome RunUpdate(const UpdateContext& context);

}  // namespace zelvane
