#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelvane {

// How a started program's window is first shown.
enum class WindowStyle : int {
    MinimizedWithFocus = 2,
    NormalWithoutFocus = 4,
};

struct ProgramLaunch {
    // A bare name is one of the system's own tools. Windows takes it from the system folder only;
    // elsewhere it is searched for in the updater's own folder, then along the search path.
    std::string program;
    std::vector<std::string> arguments;
    WindowStyle style = WindowStyle::MinimizedWithFocus;
};

// How a wait for a program ended.
enum class WaitEnd {
    Exited,         // it ended, with the exit code given
    StillRunning,   // the bound passed first; it goes on running
    ResultUnknown,  // it may have ended, but how could not be learnt
};

struct ProgramWait {
    WaitEnd end = WaitEnd::ResultUnknown;
    int exitCode = 0;  // only when it exited; a signal's ending is 128 plus the signal's number

    bool operator==(const ProgramWait&) const = default;
};

// An opened process, released when destroyed; it must not outlive the Processes that opened it.
class ProcessHandle {
  public:
    virtual ~ProcessHandle() = default;
    // Returns when the process has ended or when the bound has passed, whichever comes first.
    virtual ProgramWait WaitForExit(std::chrono::milliseconds bound) = 0;
};

// A started program that outlives its wait goes on running. On Linux it is collected once it
// has ended, at the next start or open and when this service goes, never left as a zombie.
class Processes {
  public:
    virtual ~Processes() = default;
    // Starts the program without waiting and returns its process id; throws when it cannot be
    // found or started.
    virtual std::int32_t Start(const ProgramLaunch& launch) = 0;
    // Returns nothing when no running process has this id (an id of 0 included).
    virtual std::unique_ptr<ProcessHandle> Open(std::int32_t processId) = 0;
};

Processes& SystemProcesses();

}  // namespace zelvane
