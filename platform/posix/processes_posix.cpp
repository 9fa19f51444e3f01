#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "retry.h"
#include "unique_fd.h"
#include "zelvane/platform/processes.h"

extern char** environ;

namespace zelvane {
namespace {

using posix::RetryOnInterrupt;
using posix::UniqueFd;

bool IsRunnableFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::filesystem::path OwnFolder() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

// Like Windows, a bare program name is looked for beside the running program first, then along
// the search path.
std::string ResolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    if (const auto own = OwnFolder(); !own.empty() && IsRunnableFile(own / program)) {
        return own / program;
    }
    const char* searchPath = std::getenv("PATH");
    std::string_view rest = searchPath ? searchPath : "";
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (!folder.empty() && IsRunnableFile(std::filesystem::path(folder) / program)) {
            return std::filesystem::path(folder) / program;
        }
    }
    throw std::system_error(
        ENOENT, std::generic_category(),
        "cannot find \"" + program + "\" beside the updater or on the search path");
}

// Children that outlived their wait, collected once they have ended: at the next start or open,
// and when the service goes, so that none lingers as a zombie through a long run. One that never
// ends is left to the system once the updater exits.
class Unreaped {
  public:
    Unreaped() = default;
    Unreaped(const Unreaped&) = delete;
    Unreaped& operator=(const Unreaped&) = delete;
    ~Unreaped() { CollectEnded(); }

    // Only a child of ours that is still running is kept; any other process is not ours to collect.
    void Keep(pid_t pid) {
        const std::lock_guard lock(mutex_);
        if (StillRunning(pid)) pids_.push_back(pid);
    }

    void CollectEnded() {
        const std::lock_guard lock(mutex_);
        std::erase_if(pids_, [](pid_t pid) { return !StillRunning(pid); });
    }

  private:
    // Collects the child when it has ended.
    static bool StillRunning(pid_t pid) {
        return RetryOnInterrupt([pid] { return ::waitpid(pid, nullptr, WNOHANG); }) == 0;
    }

    std::mutex mutex_;
    std::vector<pid_t> pids_;
};

// Collects the process if it has ended, without waiting unless told to. Only our own children can
// be collected: for any other process, or one already collected elsewhere, the result is unknown.
std::optional<ProgramWait> Collect(pid_t pid, int options) {
    int status = 0;
    const pid_t collected = RetryOnInterrupt([&] { return ::waitpid(pid, &status, options); });
    if (collected == 0) return std::nullopt;
    if (collected != pid) return ProgramWait{};
    if (WIFEXITED(status)) return ProgramWait{WaitEnd::Exited, WEXITSTATUS(status)};
    // As a shell tells a program that a signal ended.
    if (WIFSIGNALED(status)) return ProgramWait{WaitEnd::Exited, 128 + WTERMSIG(status)};
    return ProgramWait{};
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

// Waits on a process descriptor where the kernel has them (Linux 5.3 and later); elsewhere, and
// where a sandbox refuses them, looks at the child every few milliseconds.
class PosixProcessHandle final : public ProcessHandle {
  public:
    PosixProcessHandle(pid_t pid, UniqueFd pidFd, Unreaped& unreaped)
        : pid_(pid), pidFd_(std::move(pidFd)), unreaped_(unreaped) {}
    PosixProcessHandle(const PosixProcessHandle&) = delete;
    PosixProcessHandle& operator=(const PosixProcessHandle&) = delete;

    ~PosixProcessHandle() override {
        if (!collected_) unreaped_.Keep(pid_);
    }

    ProgramWait WaitForExit(std::chrono::milliseconds bound) override {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        const auto result = pidFd_.Valid() ? WaitOnDescriptor(deadline) : Poll(deadline);
        if (!result) return {WaitEnd::StillRunning};
        // A result that could not be learnt may leave the child running, or uncollected.
        collected_ = result->end == WaitEnd::Exited;
        return *result;
    }

  private:
    std::optional<ProgramWait> WaitOnDescriptor(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            pollfd watched{pidFd_.Get(), POLLIN, 0};
            const int ready = ::poll(&watched, 1, MillisecondsUntil(deadline));
            if (ready > 0) return Collect(pid_, 0);
            if (ready == 0) return std::nullopt;
            if (errno != EINTR) return ProgramWait{};
        }
    }

    std::optional<ProgramWait> Poll(std::chrono::steady_clock::time_point deadline) const {
        constexpr auto kInterval = std::chrono::milliseconds(5);
        for (;;) {
            if (auto result = Collect(pid_, WNOHANG)) return result;
            if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            std::this_thread::sleep_for(kInterval);
        }
    }

    pid_t pid_;
    UniqueFd pidFd_;
    Unreaped& unreaped_;
    bool collected_ = false;
};

class PosixProcesses final : public Processes {
  public:
    std::int32_t Start(const ProgramLaunch& launch) override {
        unreaped_.CollectEnded();
        // Window styles have no meaning for a POSIX program; the program starts as it is.
        const std::string path = ResolveProgram(launch.program);
        std::vector<std::string> words{launch.program};
        words.insert(words.end(), launch.arguments.begin(), launch.arguments.end());
        std::vector<char*> argv;
        argv.reserve(words.size() + 1);
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int error = ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ);
        if (error != 0) {
            throw std::system_error(error, std::generic_category(),
                                    "cannot start \"" + path + "\"");
        }
        return static_cast<std::int32_t>(pid);
    }

    std::unique_ptr<ProcessHandle> Open(std::int32_t processId) override {
        unreaped_.CollectEnded();
        if (processId <= 0 || (::kill(processId, 0) != 0 && errno == ESRCH)) return nullptr;
        UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, processId, 0)));
        return std::make_unique<PosixProcessHandle>(processId, std::move(pidFd), unreaped_);
    }

  private:
    Unreaped unreaped_;
};

}  // namespace

Processes& SystemProcesses() {
    static PosixProcesses processes;
    return processes;
}

}  // namespace zelvane
