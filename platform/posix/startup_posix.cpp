#include <sys/stat.h>

#include <csignal>

#include "process_umask.h"
#include "zelvane/platform/startup.h"

namespace zelvane {

mode_t posix::ProcessUmask() {
    static const mode_t mask = [] {
        const mode_t started = ::umask(022);
        ::umask(started);
        return started;
    }();
    return mask;
}

void PrepareProcess() {
    posix::ProcessUmask();
    std::signal(SIGCHLD, SIG_DFL);
}

}  // namespace zelvane
