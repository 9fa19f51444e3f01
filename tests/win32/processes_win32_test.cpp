// Program start and wait on the Windows API.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "test_support.h"
#include "zelvane/engine/launch.h"
#include "zelvane/win32/command_line.h"
#include "zelvane/win32/windows.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::int32_t StartRecord(const fs::path& program, std::vector<std::string> arguments = {},
                         WindowStyle style = WindowStyle::MinimizedWithFocus) {
    return SystemProcesses().Start({test::PathText(program), std::move(arguments), style});
}

TEST(CommandLineQuoting, OnlyWordsThatNeedItAreQuotedAndEscaped) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"plain", L"plain"},
        {L"", L"\"\""},
        {L"/s", L"/s"},
        {L"C:\\Program Files\\Z\\NavTree.ocx", L"\"C:\\Program Files\\Z\\NavTree.ocx\""},
        {L"C:\\a b\\", L"\"C:\\a b\\\\\""},
        {L"C:\\q\"x y\\NavTree.ocx", L"\"C:\\q\\\"x y\\NavTree.ocx\""},
        {L"x\\\"y", L"\"x\\\\\\\"y\""},
        {L"no\\blank\\", L"no\\blank\\"},
    };
    for (const auto& [word, quoted] : cases) EXPECT_EQ(win32::QuotedArgument(word), quoted);
}

TEST(StartProgram, ABlankInTheFolderNeverStartsAnotherProgramAndArgumentsArriveIntact) {
    test::TempFolder temp;
    const auto folder = temp / "Program Files" / "Zelvane";
    fs::create_directories(folder);
    fs::copy_file(ZELVANE_RECORD_PROGRAM, folder / "Rec ord.exe");
    // Programs at the first words of the unquoted path must never be the ones that run.
    fs::copy_file(ZELVANE_RECORD_PROGRAM, temp / "Program.exe");
    fs::copy_file(ZELVANE_RECORD_PROGRAM, folder / "Rec.exe");
    test::ScopedEnv log("ZELVANE_RECORD_LOG", test::PathText(temp / "log"));
    // The registration tool's words for an install folder named q"x y, and more that need care.
    ProgramLaunch launch = RegistrationLaunch("C:\\q\"x y\\NavTree.ocx", true);
    launch.program = test::PathText(folder / "Rec ord.exe");
    launch.arguments.insert(launch.arguments.end(), {"", "say \"hi\"", "end\\", "a b\\"});
    WaitOnProgram(SystemProcesses(), SystemProcesses().Start(launch));
    const auto records = test::ReadRecords(temp / "log");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].program, "Rec ord.exe");
    EXPECT_EQ(records[0].arguments, launch.arguments);
    EXPECT_EQ(records[0].arguments[1], "C:\\q\"x y\\NavTree.ocx");
}

TEST(StartProgram, TheWindowStyleReachesTheProgram) {
    test::TempFolder temp;
    for (const auto style : {WindowStyle::MinimizedWithFocus, WindowStyle::NormalWithoutFocus}) {
        const fs::path report = temp / "startup.txt";
        WaitOnProgram(SystemProcesses(),
                      StartRecord(ZELVANE_STARTUP_PROBE, {report.string()}, style));
        EXPECT_EQ(test::ReadFile(report), std::to_string(STARTF_USESHOWWINDOW) + " " +
                                              std::to_string(static_cast<int>(style)) + "\n");
    }
}

TEST(StartProgram, ProgramsThatCannotBeStartedFailNamingThem) {
    test::TempFolder temp;
    test::WriteFile(temp / "not a program.exe", "text");
    for (const fs::path& program :
         {temp / "missing.exe", temp / "not a program.exe", temp.Path()}) {
        try {
            StartRecord(program);
            ADD_FAILURE() << "started " << program;
        } catch (const std::system_error& error) {
            EXPECT_NE(std::string(error.what()).find(program.string()), std::string::npos)
                << error.what();
        }
    }
}

TEST(WaitForExit, NothingWhileTheProgramRunsThenItsExitCode) {
    test::ScopedEnv sleep("ZELVANE_RECORD_SLEEP_MS", "3000");
    test::ScopedEnv exit("ZELVANE_RECORD_EXIT", "7");
    const auto process = SystemProcesses().Open(StartRecord(ZELVANE_RECORD_PROGRAM));
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(process->WaitForExit(200ms), std::nullopt);
    EXPECT_EQ(process->WaitForExit(60s), 7);
}

TEST(WaitOnProgram, TheLaunchKeepsItsIdUntilOpenedThenLetsItGo) {
    const std::int32_t id = StartRecord(ZELVANE_RECORD_PROGRAM);
    std::this_thread::sleep_for(500ms);  // the program has ended by now
    EXPECT_NE(SystemProcesses().Open(id), nullptr) << "the id still names the ended program";
    EXPECT_EQ(WaitOnProgram(SystemProcesses(), 0), std::nullopt);
    // Wine lets go of an ended process a moment after its last handle is closed.
    for (int i = 0; i < 50 && SystemProcesses().Open(id); ++i) std::this_thread::sleep_for(100ms);
    EXPECT_EQ(SystemProcesses().Open(id), nullptr) << "no handle keeps the ended program";
}

}  // namespace
}  // namespace zelvane
