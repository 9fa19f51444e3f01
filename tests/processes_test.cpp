// Program start and wait with real child processes on Linux.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "test_support.h"
#include "zelvane/engine/launch.h"

namespace zelvane {
namespace {

using namespace std::chrono_literals;

// True once the process is gone, neither running nor left as a zombie.
bool GoneWithin(std::int32_t pid, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms)) {
        if (!std::ifstream("/proc/" + std::to_string(pid) + "/stat")) return true;
    }
    return false;
}

TEST(WaitOnProgram, ReturnsTheExitCodeOfAnEndedProgramAndNothingForOneStillRunning) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"sleep 0.2; exit 0", 0}, {"exit 3", 3}, {"kill -9 $$", 128 + 9}, {"sleep 1", {}}};
    for (const auto& [script, code] : cases) {
        const std::int32_t pid =
            SystemProcesses().Start({"/bin/sh", {"-c", script}, WindowStyle::MinimizedWithFocus});
        EXPECT_EQ(SystemProcesses().Open(pid)->WaitForExit(code ? 5s : 200ms), code) << script;
        EXPECT_EQ(GoneWithin(pid, 100ms), code.has_value()) << "no zombie, none killed";
        EXPECT_TRUE(GoneWithin(pid, 5s)) << "collected once it ended";
    }
    EXPECT_EQ(WaitOnProgram(SystemProcesses(), 0), std::nullopt);
}

TEST(StartProgram, AMissingProgramFailsToStart) {
    test::TempFolder temp;
    for (const std::string& program : {(temp / "missing").string(), temp.Path().string(),
                                       std::string("no-such-program-anywhere.exe")}) {
        EXPECT_THROW(SystemProcesses().Start({program, {}, WindowStyle::NormalWithoutFocus}),
                     std::system_error)
            << program;
    }
}

}  // namespace
}  // namespace zelvane
