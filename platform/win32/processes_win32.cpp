#include <algorithm>

#include "zelvane/platform/processes.h"
#include "zelvane/win32/command_line.h"
#include "zelvane/win32/system_library.h"
#include "zelvane/win32/text.h"
#include "zelvane/win32/unique_handle.h"
#include "zelvane/win32/windows.h"

namespace zelvane {
namespace {

using win32::UniqueHandle;

// All access to a process as the SDKs before Vista defined it. The SDK's PROCESS_ALL_ACCESS
// differs on Vista and later (0x1FFFFF); this value means the same on every Windows.
constexpr DWORD kAllProcessAccess = 0x1F0FFF;

// A bare name is one of the system's own tools, taken from the system folder only: a program of
// that name planted in the package folder or the current folder must never run.
std::wstring ProgramPath(const std::string& program) {
    std::wstring wide = win32::Wide(program);
    if (wide.find_first_of(L"\\/") != std::wstring::npos) return wide;
    return win32::SystemFolder() + L"\\" + wide;
}

class WindowsProcessHandle final : public ProcessHandle {
  public:
    explicit WindowsProcessHandle(UniqueHandle process) : process_(std::move(process)) {}

    ProgramWait WaitForExit(std::chrono::milliseconds bound) override {
        // INFINITE would be a wait without bound.
        const auto wait =
            std::clamp<std::chrono::milliseconds::rep>(bound.count(), 0, INFINITE - 1);
        const DWORD waited = ::WaitForSingleObject(process_.Get(), static_cast<DWORD>(wait));
        if (waited == WAIT_TIMEOUT) return {WaitEnd::StillRunning};
        DWORD code = 0;
        if (waited != WAIT_OBJECT_0 || !::GetExitCodeProcess(process_.Get(), &code)) {
            return {WaitEnd::ResultUnknown};
        }
        // A crash's code, such as 0xC0000005, comes out negative.
        return {WaitEnd::Exited, static_cast<int>(code)};
    }

  private:
    UniqueHandle process_;
};

class WindowsProcesses final : public Processes {
  public:
    std::int32_t Start(const ProgramLaunch& launch) override {
        const std::wstring program = ProgramPath(launch.program);
        const std::string programText = win32::Utf8(program);
        std::wstring commandLine = win32::CommandLine(program, launch.arguments);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(launch.style);
        PROCESS_INFORMATION started{};
        if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &started)) {
            win32::ThrowLastError("cannot start", programText);
        }
        UniqueHandle thread(started.hThread);
        launched_ = UniqueHandle(started.hProcess);
        launchedId_ = static_cast<std::int32_t>(started.dwProcessId);
        return launchedId_;
    }

    std::unique_ptr<ProcessHandle> Open(std::int32_t processId) override {
        UniqueHandle process(
            ::OpenProcess(kAllProcessAccess, FALSE, static_cast<DWORD>(processId)));
        // Until now the launch's own handle kept the id from naming another process.
        if (processId == launchedId_) launched_.Reset();
        if (!process.Valid()) return nullptr;
        return std::make_unique<WindowsProcessHandle>(std::move(process));
    }

  private:
    UniqueHandle launched_;
    std::int32_t launchedId_ = 0;
};

}  // namespace

Processes& SystemProcesses() {
    static WindowsProcesses processes;
    return processes;
}

}  // namespace zelvane
