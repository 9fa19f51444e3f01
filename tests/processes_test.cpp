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
using Clock = std::chrono::steady_clock;

// 'Z' for a zombie, '\0' when the process is gone.
char ProcessState(std::int32_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return '\0';
    return line.at(line.rfind(')') + 2);
}

bool GoneWithin(std::int32_t pid, std::chrono::milliseconds limit) {
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
        if (ProcessState(pid) == '\0') return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::int32_t StartShell(const std::string& script) {
    return SystemProcesses().Start({"/bin/sh", {"-c", script}, WindowStyle::MinimizedWithFocus});
}

TEST(WaitOnProgram, ReturnsTheExitCodeWhenTheProgramEndsAndLeavesNoZombie) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"sleep 1; exit 0", 0}, {"exit 3", 3}, {"kill -9 $$", 128 + 9}};
    for (const auto& [script, code] : cases) {
        const auto start = Clock::now();
        const std::int32_t pid = StartShell(script);
        EXPECT_LT(Clock::now() - start, 900ms) << "starting does not wait";
        EXPECT_EQ(WaitOnProgram(SystemProcesses(), pid), code) << script;
        EXPECT_TRUE(GoneWithin(pid, 2s));
        EXPECT_EQ(WaitOnProgram(SystemProcesses(), pid), std::nullopt) << "already gone";
    }
    EXPECT_EQ(WaitOnProgram(SystemProcesses(), 0), std::nullopt);
    EXPECT_EQ(SystemProcesses().Open(-5), nullptr);
}

TEST(WaitOnProgram, AProgramThatOutlivesItsBoundKeepsRunningAndIsCollectedLater) {
    const std::int32_t pid = StartShell("sleep 1");
    {
        const auto handle = SystemProcesses().Open(pid);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(handle->WaitForExit(200ms), std::nullopt);
    }
    EXPECT_EQ(ProcessState(pid), 'S') << "still running after the wait ran out";
    EXPECT_TRUE(GoneWithin(pid, 5s)) << "no zombie once it ended";
}

TEST(StartProgram, ProgramsThatCannotBeStartedFail) {
    test::TempFolder temp;
    test::WriteFile(temp / "not-runnable", "#!/bin/sh\n");
    for (const std::string& program :
         {(temp / "missing").string(), (temp / "not-runnable").string(), temp.Path().string(),
          std::string("no-such-program-anywhere.exe")}) {
        EXPECT_THROW(SystemProcesses().Start({program, {}, WindowStyle::NormalWithoutFocus}),
                     std::system_error)
            << program;
    }
}

TEST(StartProgram, PathsWithBlanksStartTheWholePathWithItsArgumentsIntact) {
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
}

}  // namespace
}  // namespace zelvane
