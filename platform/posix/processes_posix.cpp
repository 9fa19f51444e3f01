#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "unique_fd.h"
#include "zelvane/platform/processes.h"

extern char** environ;

namespace zelvane {
namespace {

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

// Collects a child that outlived its wait once it ends, so that it never lingers as a zombie.
void ReapWhenEnded(pid_t pid) {
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
}

class PosixProcessHandle final : public ProcessHandle {
  public:
    PosixProcessHandle(pid_t pid, UniqueFd pidFd) : pid_(pid), pidFd_(std::move(pidFd)) {}

    ~PosixProcessHandle() override {
        if (!ended_) ReapWhenEnded(pid_);
    }

    std::optional<int> WaitForExit(std::chrono::milliseconds bound) override {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd watched{pidFd_.Get(), POLLIN, 0};
            const int ready =
                ::poll(&watched, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (ready > 0) {
                ended_ = true;
                return ExitCode();
            }
            if (ready == 0 || errno != EINTR) return std::nullopt;
        }
    }

  private:
    // Collects the ended process. Only our own children can be collected: for any other process
    // the code cannot be known.
    std::optional<int> ExitCode() const {
        int status = 0;
        pid_t collected = 0;
        do {
            collected = ::waitpid(pid_, &status, 0);
        } while (collected < 0 && errno == EINTR);
        if (collected != pid_) return std::nullopt;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        // As a shell tells a program that a signal ended.
        if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
        return std::nullopt;
    }

    pid_t pid_;
    UniqueFd pidFd_;
    bool ended_ = false;
};

class PosixProcesses final : public Processes {
  public:
    std::int32_t Start(const ProgramLaunch& launch) override {
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
        if (processId <= 0) return nullptr;
        UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, processId, 0)));
        if (!pidFd.Valid()) return nullptr;
        return std::make_unique<PosixProcessHandle>(processId, std::move(pidFd));
    }
};

}  // namespace

Processes& SystemProcesses() {
    static PosixProcesses processes;
    return processes;
}

}  // namespace zelvane
