// Program start and wait on the Windows API.
#include <gtest/gtest.h>

#include "test_support.h"
#include "zelvane/engine/launch.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(StartProgram, TheWindowStyleReachesTheProgramAndItsExitCodeComesBack) {
    for (const auto style : {WindowStyle::MinimizedWithFocus, WindowStyle::NormalWithoutFocus}) {
        const auto id = SystemProcesses().Start({ZELVANE_STARTUP_PROBE, {}, style});
        EXPECT_EQ(WaitOnProgram(SystemProcesses(), id),
                  (ProgramWait{WaitEnd::Exited, static_cast<int>(style)}));
    }
}

TEST(StartProgram, ArgumentsArriveIntactAndTheWaitIsBounded) {
    test::TempFolder temp;
    const fs::path program = temp / "Program Files" / "Rec ord.exe";
    fs::create_directories(program.parent_path());
    fs::copy_file(ZELVANE_RECORD_PROGRAM, program);
    // The first word of the unquoted path: a careless command line would start this one.
    fs::copy_file(ZELVANE_RECORD_PROGRAM, temp / "Program.exe");
    test::ScopedEnv log("ZELVANE_RECORD_LOG", test::PathText(temp / "log"));
    test::ScopedEnv sleep("ZELVANE_RECORD_SLEEP_MS", "3000");
    const std::vector<std::string> arguments{
        "/s", "C:\\q\"x y\\NavTree.ocx", "", "say \"hi\"", "end\\", "a b\\"};
    const auto process =
        SystemProcesses().Open(SystemProcesses().Start({test::PathText(program), arguments}));
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(process->WaitForExit(200ms), ProgramWait{WaitEnd::StillRunning})
        << "while the program runs";
    EXPECT_EQ(process->WaitForExit(60s), (ProgramWait{WaitEnd::Exited, 0}));
    const auto records = test::ReadRecords(temp / "log");
    EXPECT_EQ(records.at(0).program, "Rec ord.exe");
    EXPECT_EQ(records.at(0).arguments, arguments);
}

}  // namespace
}  // namespace zelvane
