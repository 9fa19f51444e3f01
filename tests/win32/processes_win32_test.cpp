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
using Clock = std::chrono::steady_clock;

std::int32_t StartRecord(const fs::path& program, std::vector<std::string> arguments = {},
                         WindowStyle style = WindowStyle::MinimizedWithFocus) {
    return SystemProcesses().Start({program.string(), std::move(arguments), style});
}

TEST(CommandLineQuoting, OnlyWordsThatNeedItAreQuotedAndEscaped) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"plain", L"plain"},
        {L"", L"\"\""},
        {L"/s", L"/s"},
        {L"C:\\Program Files\\Z\\NavTree.ocx", L"\"C:\\Program Files\\Z\\NavTree.ocx\""},
        {L"C:\\a b\\", L"\"C:\\a b\\\\\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
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
    test::ScopedEnv log("ZELVANE_RECORD_LOG", (temp / "log").string());
    const std::vector<std::string> arguments{
        "/s", "C:\\Program Files\\Zelvane\\NavTree.ocx", "", "say \"hi\"", "end\\", "a b\\"};
    WaitOnProgram(SystemProcesses(), StartRecord(folder / "Rec ord.exe", arguments));
    const auto records = test::ReadRecords(temp / "log");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].program, "Rec ord.exe");
    EXPECT_EQ(records[0].arguments, arguments);
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

TEST(StartProgram, ABareToolNameRunsTheSystemsOwnToolNeverAPlantedOne) {
    test::TempFolder temp;
    fs::copy_file(ZELVANE_RECORD_PROGRAM, temp / "regsvr32.exe");
    fs::copy_file(ZELVANE_NAVTREE_OCX, temp / "NavTree.ocx");
    test::ScopedEnv log("ZELVANE_RECORD_LOG", (temp / "log").string());
    test::ScopedCurrentFolder current(temp.Path());
    WaitOnProgram(SystemProcesses(),
                  SystemProcesses().Start({"regsvr32.exe",
                                           {"/s", (temp / "NavTree.ocx").string()},
                                           WindowStyle::MinimizedWithFocus}));
    EXPECT_FALSE(fs::exists(temp / "log")) << "the planted regsvr32.exe ran";
    EXPECT_EQ(test::ReadFile(temp / "NavTree.ocx.registered"), "DllRegisterServer\r\n");
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

TEST(WaitOnProgram, ReturnsWhenTheProgramEnds) {
    test::ScopedEnv sleep("ZELVANE_RECORD_SLEEP_MS", "2000");
    const auto start = Clock::now();
    const std::int32_t id = StartRecord(ZELVANE_RECORD_PROGRAM);
    EXPECT_LT(Clock::now() - start, 1500ms) << "starting does not wait";
    WaitOnProgram(SystemProcesses(), id);
    EXPECT_GE(Clock::now() - start, 1900ms);
    EXPECT_LT(Clock::now() - start, 30s);
}

TEST(WaitOnProgram, TheLaunchKeepsItsIdUntilOpenedThenLetsItGo) {
    const std::int32_t id = StartRecord(ZELVANE_RECORD_PROGRAM);
    std::this_thread::sleep_for(500ms);  // the program has ended by now
    EXPECT_NE(SystemProcesses().Open(id), nullptr) << "the id still names the ended program";
    const auto start = Clock::now();
    WaitOnProgram(SystemProcesses(), id);
    WaitOnProgram(SystemProcesses(), 0);
    EXPECT_LT(Clock::now() - start, 1s);
    // Wine lets go of an ended process a moment after its last handle is closed.
    for (int i = 0; i < 50 && SystemProcesses().Open(id); ++i) std::this_thread::sleep_for(100ms);
    EXPECT_EQ(SystemProcesses().Open(id), nullptr) << "no handle keeps the ended program";
    EXPECT_EQ(SystemProcesses().Open(0), nullptr);
}

}  // namespace
}  // namespace zelvane
