#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "zelvane/platform/session.h"

namespace zelvane {
namespace {

// The account's entry, or nothing where it has none (a container's bare user id).
const passwd* Account() {
    static thread_local std::vector<char> buffer(16384);
    static thread_local passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0) return nullptr;
    return found;
}

}  // namespace

Session CurrentSession() {
    const passwd* account = Account();
    return {account ? account->pw_name : "uid " + std::to_string(::geteuid()), ::geteuid() == 0};
}

const char* AdviceForMissingRights() { return "Run the updater as a user who may write there."; }

std::string DefaultLogPath() {
    std::filesystem::path folder;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
        folder = state;
    } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
        folder = std::filesystem::path(home) / ".local" / "state";
    } else if (const passwd* account = Account()) {
        folder = std::filesystem::path(account->pw_dir) / ".local" / "state";
    } else {
        folder = "/tmp";
    }
    folder /= "zelvane";
    std::error_code ignored;  // a log that cannot be written says so itself
    std::filesystem::create_directories(folder, ignored);
    return folder / "update.log";
}

}  // namespace zelvane
