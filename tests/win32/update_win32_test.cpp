// The whole update on Windows, with the system's own registration tool, into a folder whose name
// lies outside the ANSI code page.
#include <gtest/gtest.h>

#include "test_support.h"
#include "zelvane/engine/update.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Scramble;
using test::WriteFile;

TEST(WindowsUpdate, InstallsRegistersAndRunsInAFolderOutsideTheAnsiCodePage) {
    test::TempFolder temp;
    const fs::path install = temp / "Program Files" / fs::path(u8"Zelvane \u03A9 \u65E5\u672C");
    const fs::path package = temp / "package";
    test::MakeInstall(install);
    fs::copy_file(ZELVANE_NAVTREE_OCX, install / "NavTree.ocx",
                  fs::copy_options::overwrite_existing);
    fs::create_directories(package);
    WriteFile(package / "p0.bin", Scramble("new engine"));
    WriteFile(package / "p1.bin", Scramble(""));
    WriteFile(package / "FileList.txt",
              "1\r\n\"engine.exe\",\"p0.bin\"\r\n\"empty, new.dat\",\"p1.bin\"\r\n");
    // Planted where only a careless search would find it.
    fs::copy_file(ZELVANE_RECORD_PROGRAM, package / "regsvr32.exe");
    fs::copy_file(ZELVANE_RECORD_PROGRAM, install / "regsvr32.exe");
    test::ScopedEnv log("ZELVANE_RECORD_LOG", (temp / "log").string());
    test::ScopedCurrentFolder current(package);

    test::RecordingWindow window(test::PathText(install), true);
    EXPECT_EQ(RunUpdate({window, SystemFileSystem(), SystemProcesses()}), UpdateOutcome::Installed);

    EXPECT_EQ(ReadFile(install / "engine.exe"), "new engine");
    EXPECT_EQ(ReadFile(install / "empty, new.dat"), "");
    EXPECT_EQ(ReadFile(install / "NavTree.ocx.registered"), "DllRegisterServer\r\n");
    const auto records = test::ReadRecords(temp / "log");
    ASSERT_EQ(records.size(), 2u) << "regsvr32.exe is the system's, never a planted one";
    EXPECT_EQ(records[0].program, "UnpackDirs.exe");
    EXPECT_EQ(records[1].program, "ViewHost.exe");
    EXPECT_GE(records[1].startMs, records[0].endMs);
    for (const auto& record : records) EXPECT_EQ(record.currentFolder, test::PathText(install));

    // Without its control the system's registration tool fails, and says so by its exit code (3:
    // the control could not be loaded).
    fs::remove(install / "NavTree.ocx");
    fs::current_path(package);  // the update left the install folder current
    test::RecordingWindow again(test::PathText(install), true);
    EXPECT_EQ(RunUpdate({again, SystemFileSystem(), SystemProcesses()}), UpdateOutcome::Incomplete);
    EXPECT_EQ(again.failures, std::vector<std::string>{"Cannot register NavTree.ocx: the "
                                                       "registration tool ended with exit code 3"});
}

}  // namespace
}  // namespace zelvane
