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

std::int32_t StartShell(const std::string& script) {
    return SystemProcesses().Start({"/bin/sh", {"-c", script}, WindowStyle::MinimizedWithFocus});
}

TEST(WaitOnProgram, ReturnsTheExitCodeOfAnEndedProgramAndNothingForOneStillRunning) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"sleep 0.2; exit 0", 0}, {"exit 3", 3}, {"kill -9 $$", 128 + 9}, {"sleep 1", {}}};
    for (const auto& [script, code] : cases) {
        const std::int32_t pid = StartShell(script);
        EXPECT_EQ(SystemProcesses().Open(pid)->WaitForExit(code ? 5s : 200ms), code) << script;
        EXPECT_EQ(GoneWithin(pid, 100ms), code.has_value()) << "no zombie, none killed";
        EXPECT_TRUE(GoneWithin(pid, 5s)) << "collected once it ended";
    }
    EXPECT_EQ(WaitOnProgram(SystemProcesses(), 0), std::nullopt);
}

TEST(StartProgram, TheWholePathStartsWithItsArgumentsIntactAndAMissingOneFails) {
    test::TempFolder temp;
    const auto folder = temp / "Program Files" / "Zelvane";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(ZELVANE_RECORD_PROGRAM, folder / "Rec ord.exe");
    // A program at the path's first word must never be the one that runs.
    std::filesystem::copy_file(ZELVANE_RECORD_PROGRAM, temp / "Program");
    test::ScopedEnv log("ZELVANE_RECORD_LOG", (temp / "log").string());
    const std::vector<std::string> arguments{"a b", "", "\"q\"", "/s"};
    WaitOnProgram(SystemProcesses(),
                  SystemProcesses().Start({(folder / "Rec ord.exe").string(), arguments,
                                           WindowStyle::MinimizedWithFocus}));
    const auto records = test::ReadRecords(temp / "log");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].program, "Rec ord.exe");
    EXPECT_EQ(records[0].arguments, arguments);
    for (const std::string& program : {(folder / "missing").string(), folder.string(),
                                       std::string("no-such-program-anywhere.exe")}) {
        EXPECT_THROW(SystemProcesses().Start({program, {}, WindowStyle::NormalWithoutFocus}),
                     std::system_error)
            << program;
    }
}

}  // namespace
}  // namespace zelvane
