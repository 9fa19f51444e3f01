#include "zelvane/engine/launch.h"

namespace zelvane {

ProgramWait WaitOnProgram(Processes& processes, std::int32_t idProg) {
    const auto process = processes.Open(idProg);
    if (!process) return {WaitEnd::ResultUnknown};
    return process->WaitForExit(kWaitBound);
}

ProgramLaunch RegistrationLaunch(const std::string& controlFile, bool silent) {
    ProgramLaunch launch{kRegistrationTool, {}, WindowStyle::MinimizedWithFocus};
    if (silent) launch.arguments.emplace_back(kSilentSwitch);
    launch.arguments.push_back(controlFile);
    return launch;
}

}  // namespace zelvane
