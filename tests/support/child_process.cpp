#include "child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace zelvane::test {
namespace {

struct Account {
    uid_t uid;
    gid_t gid;
};

// Permissions mean nothing to root: permission cases then run as the user "nobody".
bool RunningAsRoot() { return ::geteuid() == 0; }

Account Nobody() {
    passwd entry{};
    passwd* user = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwnam_r("nobody", &entry, buffer.data(), buffer.size(), &user) != 0 ||
        user == nullptr) {
        throw std::runtime_error("there is no user \"nobody\"");
    }
    return {user->pw_uid, user->pw_gid};
}

// Runs in the forked child: only calls that are safe there, and no return on failure.
[[noreturn]] void BecomeProgram(const std::vector<char*>& argv, const ChildOptions& options,
                                const std::optional<Account>& account) {
    const char* output = options.output.empty() ? "/dev/null" : options.output.c_str();
    const int fd = ::open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::dup2(fd, STDERR_FILENO) < 0) ::_exit(120);
    if (::chdir(options.folder.c_str()) != 0) ::_exit(121);
    if (options.fileSizeLimit) {
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of killing
        const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(122);
    }
    if (account && (::setgroups(0, nullptr) != 0 ||
                    ::setresgid(account->gid, account->gid, account->gid) != 0 ||
                    ::setresuid(account->uid, account->uid, account->uid) != 0)) {
        ::_exit(123);
    }
    ::execv(argv[0], argv.data());
    ::_exit(124);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
    std::vector<std::string> words = argv;
    std::vector<char*> pointers;
    pointers.reserve(words.size() + 1);
    for (auto& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    std::optional<Account> account;
    if (options.unprivileged && RunningAsRoot()) account = Nobody();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) BecomeProgram(pointers, options, account);
}

ChildProcess::~ChildProcess() {
    if (pid_ <= 0) return;
    Kill();
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void ChildProcess::Kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
}

int ChildProcess::Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void GiveToUnprivilegedUser(const fs::path& tree) {
    if (!RunningAsRoot()) return;
    const Account nobody = Nobody();
    auto give = [&](const fs::path& path) {
        if (::lchown(path.c_str(), nobody.uid, nobody.gid) != 0) {
            throw std::runtime_error("cannot hand " + path.string() + " to nobody");
        }
    };
    give(tree);
    for (const auto& item : fs::recursive_directory_iterator(tree)) give(item.path());
}

}  // namespace zelvane::test
