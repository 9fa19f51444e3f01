#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "zelvane/platform/processes.h"

namespace zelvane {

// A started program that is still running after this long no longer holds up the update.
inline constexpr std::chrono::milliseconds kWaitBound{0xFFFF};

inline constexpr const char* kRegistrationTool = "regsvr32.exe ";
inline constexpr const char* kSilentSwitch = "/s ";

// Waits until the program with this id has ended, or kWaitBound has passed.
void WaitOnProgram(Processes& processes, std::int32_t idProg);

// The registration command line: the tool, the switch when silent, and the quoted control file.
std::string RegistrationCommandLine(const std::string& controlFile, bool silent);

// The program is the first word; the rest are its arguments, separated by blanks, where double
// quotes group blanks into one argument and are not part of it.
ProgramLaunch SplitCommandLine(const std::string& commandLine);

}  // namespace zelvane
