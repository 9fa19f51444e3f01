// The whole update on Windows, with the system's own registration tool, into a folder whose name
// lies outside the ANSI code page.
#include <gtest/gtest.h>

#include "test_support.h"
#include "zelvane/engine/update.h"
#include "zelvane/win32/windows.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;

TEST(WindowsUpdate, InstallsRegistersAndRunsInAFolderOutsideTheAnsiCodePage) {
    test::TempFolder temp;
    const fs::path install = temp / "Program Files" / fs::path(u8"Zelvane \u03A9 \u65E5\u672C");
    test::MakeInstall(install);
    fs::copy(ZELVANE_NAVTREE_OCX, install, fs::copy_options::overwrite_existing);
    test::WriteFile(temp / "p0.bin", test::Scramble("new engine"));
    test::WriteFile(temp / "FileList.txt", "0\r\n\"engine.exe\",\"p0.bin\"\r\n");
    // Planted where only a careless search would find it.
    fs::copy_file(ZELVANE_RECORD_PROGRAM, temp / "regsvr32.exe");
    fs::copy_file(ZELVANE_RECORD_PROGRAM, install / "regsvr32.exe");
    test::ScopedEnv log("ZELVANE_RECORD_LOG", (temp / "log").string());
    std::string said;  // the update's last message
    const auto update = [&] {
        const test::ScopedCurrentFolder package(temp.Path());  // an update changes it
        test::RecordingWindow window(test::PathText(install), true);
        const auto outcome = RunUpdate({window, SystemFileSystem(), SystemProcesses()});
        said = window.messages.empty() ? "" : window.messages.back().text;
        return std::pair(outcome, window.failures);
    };
    EXPECT_EQ(update().first, UpdateOutcome::Installed);
    EXPECT_EQ(test::ReadFile(install / "engine.exe"), "new engine");
    for (const auto& item : fs::directory_iterator(install)) {
        EXPECT_EQ(item.path().string().find(".zelvane-"), std::string::npos)
            << item.path().string();
    }
    EXPECT_EQ(test::ReadFile(install / "NavTree.ocx.registered"), "DllRegisterServer\r\n");
    const auto records = test::ReadRecords(temp / "log");
    ASSERT_EQ(records.size(), 2u) << "regsvr32.exe is the system's, never a planted one";
    for (const auto& record : records) EXPECT_EQ(record.currentFolder, test::PathText(install));

    // Without its control the system's registration tool fails, and says so by its exit code (3:
    // the control could not be loaded).
    fs::remove(install / "NavTree.ocx");
    const std::vector<std::string> failure{
        "Cannot register NavTree.ocx: the registration tool ended with exit code 3"};
    EXPECT_EQ(update(), std::pair(UpdateOutcome::Incomplete, failure));

    // A read-only product file is refused, but not as a lack of rights.
    ::SetFileAttributesW((install / "engine.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(update().first, UpdateOutcome::NotStarted);
    EXPECT_NE(said.find("read-only"), std::string::npos) << said;
    EXPECT_EQ(said.find("administrator"), std::string::npos) << said;
}

}  // namespace
}  // namespace zelvane
