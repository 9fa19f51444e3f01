#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "zelvane/engine/launch.h"

namespace zelvane {
namespace {

TEST(WaitOnProgram, AProgramThatStaysOpenHoldsTheUpdateForTheBoundOnly) {
    const std::int32_t pid =
        SystemProcesses().Start({"/bin/sleep", {"120"}, WindowStyle::NormalWithoutFocus});
    const auto start = std::chrono::steady_clock::now();
    WaitOnProgram(SystemProcesses(), pid);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(65535));
    EXPECT_LT(waited, std::chrono::milliseconds(75000));
    EXPECT_EQ(::kill(pid, 0), 0) << "the program is left running";
    ::kill(pid, SIGKILL);
}

}  // namespace
}  // namespace zelvane
