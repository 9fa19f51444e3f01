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

std::int32_t StartSleep(const char* seconds) {
    return SystemProcesses().Start({"/bin/sleep", {seconds}, WindowStyle::MinimizedWithFocus});
}

TEST(WaitOnProgram, ReturnsWhenTheProgramEndsAndLeavesNoZombie) {
    const auto start = Clock::now();
    const std::int32_t pid = StartSleep("2");
    EXPECT_LT(Clock::now() - start, 1s) << "starting does not wait";
    WaitOnProgram(SystemProcesses(), pid);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 1900ms);
    EXPECT_LT(waited, 30s);
    EXPECT_TRUE(GoneWithin(pid, 2s));
}

TEST(WaitOnProgram, ReturnsAtOnceForIdZeroAndForEndedPrograms) {
    const std::int32_t pid = StartSleep("0");
    WaitOnProgram(SystemProcesses(), pid);  // ends and is collected
    ASSERT_TRUE(GoneWithin(pid, 2s));
    const auto start = Clock::now();
    WaitOnProgram(SystemProcesses(), 0);
    WaitOnProgram(SystemProcesses(), pid);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(SystemProcesses().Open(-5), nullptr);
}

TEST(WaitOnProgram, AnEndedButUncollectedChildReturnsAtOnce) {
    const std::int32_t pid = StartSleep("0");
    std::this_thread::sleep_for(300ms);  // now a zombie, not yet collected
    const auto start = Clock::now();
    WaitOnProgram(SystemProcesses(), pid);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_TRUE(GoneWithin(pid, 2s));
}

TEST(ProcessHandle, ProgramThatOutlivesItsWaitKeepsRunningAndIsCollectedLater) {
    const std::int32_t pid = StartSleep("1");
    {
        const auto handle = SystemProcesses().Open(pid);
        ASSERT_NE(handle, nullptr);
        const auto start = Clock::now();
        handle->WaitForExit(200ms);
        EXPECT_LT(Clock::now() - start, 900ms);
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
    WaitOnProgram(SystemProcesses(), SystemProcesses().Start({(folder / "Rec ord.exe").string(),
                                                              {"a b", "", "\"q\""},
                                                              WindowStyle::MinimizedWithFocus}));
    const auto records = test::ReadRecords(temp / "log");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].program, "Rec ord.exe");
    EXPECT_EQ(records[0].arguments, (std::vector<std::string>{"a b", "", "\"q\""}));
}

}  // namespace
}  // namespace zelvane
