// Program start and wait with real child processes on Linux.
#include "zelvane/platform/processes.h"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <fstream>
#include <thread>

namespace zelvane {
namespace {

using namespace std::chrono_literals;

// True once the process is gone, neither running nor left as a zombie, while the service that
// started it is in use.
bool GoneWithin(std::int32_t pid, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms)) {
        SystemProcesses().Open(0);
        if (!std::ifstream("/proc/" + std::to_string(pid) + "/stat")) return true;
    }
    return false;
}

// How many waits ended otherwise than expected, or left a zombie or killed a program. When the
// results are lost (SIGCHLD ignored lets the kernel collect every child), an ended program's
// result is unknown, never a success.
int MismatchedWaits(bool lost = false) {
    struct Case {
        const char* script;
        ProgramWait expected;
    };
    const Case cases[] = {{"sleep 0.2; exit 0", {WaitEnd::Exited, 0}},
                          {"exit 3", {WaitEnd::Exited, 3}},
                          {"kill -9 $$", {WaitEnd::Exited, 128 + 9}},
                          {"sleep 1", {WaitEnd::StillRunning}}};
    int mismatched = 0;
    for (const Case& c : cases) {
        const bool ends = c.expected.end == WaitEnd::Exited;
        const std::int32_t pid =
            SystemProcesses().Start({"/bin/sh", {"-c", c.script}, WindowStyle::MinimizedWithFocus});
        const ProgramWait expected =
            lost && ends ? ProgramWait{WaitEnd::ResultUnknown} : c.expected;
        // With its result lost, a program may be gone before it is opened: its result is unknown.
        auto process = SystemProcesses().Open(pid);
        const ProgramWait result =
            process ? process->WaitForExit(ends ? 5s : 200ms) : ProgramWait{};
        process.reset();  // one that outlives its wait is collected once it ends
        if (!(result == expected) || GoneWithin(pid, 100ms) != ends || !GoneWithin(pid, 5s)) {
            ADD_FAILURE() << c.script;
            ++mismatched;
        }
    }
    return mismatched;
}

// Refuses pidfd_open to this process, as kernels before 5.3 and some sandboxes do.
void RefusePidFdOpen() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pidfd_open, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        std::_Exit(100);
    }
}

TEST(WaitOnProgram, TellsHowTheProgramEndedWithOrWithoutProcessDescriptors) {
    EXPECT_EQ(MismatchedWaits(), 0);
    EXPECT_EXIT((RefusePidFdOpen(), std::exit(MismatchedWaits())), testing::ExitedWithCode(0), "");
    EXPECT_EXIT((::signal(SIGCHLD, SIG_IGN), std::exit(MismatchedWaits(true))),
                testing::ExitedWithCode(0), "");
}

TEST(StartProgram, AMissingProgramFailsToStart) {
    for (const char* program : {"/no/such/folder/program", "no-such-program-anywhere.exe"}) {
        EXPECT_THROW(SystemProcesses().Start({program, {}, WindowStyle::NormalWithoutFocus}),
                     std::system_error)
            << program;
    }
}

}  // namespace
}  // namespace zelvane
