#include <csignal>

#include "zelvane/platform/startup.h"

namespace zelvane {

void PrepareProcess() { std::signal(SIGCHLD, SIG_DFL); }

}  // namespace zelvane
