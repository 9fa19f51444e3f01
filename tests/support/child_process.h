#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zelvane::test {

namespace fs = std::filesystem;

struct ChildOptions {
    fs::path folder = ".";                // the child's current folder
    fs::path output;                      // standard output and error go here; nowhere when empty
    std::optional<rlim_t> fileSizeLimit;  // writes beyond it fail, as on a full disk
    // Run as the user "nobody" when the test runs as root, for whom permissions mean nothing.
    bool unprivileged = false;
};

// A program running in a child process; killed and collected when destroyed.
class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    void Kill();
    // The exit status, or -1 when the child was ended by a signal.
    int Wait();

  private:
    pid_t pid_ = -1;
};

// Hands the tree to the user "nobody" when running as root, so that an unprivileged child can
// use it; otherwise leaves it alone.
void GiveToUnprivilegedUser(const fs::path& tree);

}  // namespace zelvane::test
