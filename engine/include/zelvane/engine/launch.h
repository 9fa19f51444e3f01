#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "zelvane/platform/processes.h"

namespace zelvane {

// A started program that is still running after this long no longer holds up the update.
inline constexpr std::chrono::milliseconds kWaitBound{0xFFFF};

inline constexpr const char* kRegistrationTool = "regsvr32.exe";
inline constexpr const char* kSilentSwitch = "/s";

// Waits until the program with this id has ended, or kWaitBound has passed. A program that cannot
// be opened has ended in a way that cannot be learnt.
ProgramWait WaitOnProgram(Processes& processes, std::int32_t idProg);

// The registration tool with its arguments: the switch when silent, and the control file's path
// as one argument whatever it holds.
ProgramLaunch RegistrationLaunch(const std::string& controlFile, bool silent);

}  // namespace zelvane
