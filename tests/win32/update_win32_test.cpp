// The whole update on Windows, with the system's own registration tool, into a folder whose name
// lies outside the ANSI code page.
#include <gtest/gtest.h>

#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>

#include "test_support.h"
#include "zelvane/engine/update.h"
#include "zelvane/win32/windows.h"

// The import table's slots of the calls an update makes with a product file's path.
extern "C" decltype(&::CreateFileW) __imp_CreateFileW;
extern "C" decltype(&::GetFileAttributesW) __imp_GetFileAttributesW;
extern "C" decltype(&::CreateHardLinkW) __imp_CreateHardLinkW;
extern "C" decltype(&::MoveFileExW) __imp_MoveFileExW;
extern "C" decltype(&::DeleteFileW) __imp_DeleteFileW;

namespace zelvane {
namespace {

namespace fs = std::filesystem;

// Wine takes a path of any length, where Windows refuses one whose full path has MAX_PATH
// characters or more unless it is in the "\\?\" form. Swapped into its slot, this makes a call keep
// Windows' rule for its first path (a second one lies in the same folder).
template <auto& slot, typename = std::remove_reference_t<decltype(slot)>>
struct WindowsRule;
template <auto& slot, typename R, typename... Rest>
struct WindowsRule<slot, R(WINAPI*)(LPCWSTR, Rest...)> {
    static R WINAPI Call(LPCWSTR path, Rest... rest) {
        if (std::wstring_view(path).starts_with(L"\\\\?\\") ||
            ::GetFullPathNameW(path, 0, nullptr, nullptr) <= MAX_PATH) {
            return system(path, rest...);
        }
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        // FALSE, or all bits set as INVALID_HANDLE_VALUE and INVALID_FILE_ATTRIBUTES are.
        return std::is_same_v<R, BOOL> ? R{} : R(LONG_PTR{-1});
    }
    static inline R(WINAPI* system)(LPCWSTR, Rest...) = &Call;  // the system's once swapped
    static void Swap() { std::swap(slot, system); }
};

// For its life, the calls in these slots keep Windows' rule.
template <auto&... slots>
struct WindowsRules {
    WindowsRules() { (WindowsRule<slots>::Swap(), ...); }
    ~WindowsRules() { (WindowsRule<slots>::Swap(), ...); }
};

// And a product file whose path, some 300 characters, passes MAX_PATH, as its package file's does.
TEST(WindowsUpdate, InstallsRegistersAndRunsInAFolderOutsideTheAnsiCodePage) {
    test::TempFolder temp;
    const fs::path install = temp / "Program Files" / fs::path(u8"Zelvane \u03A9 \u65E5\u672C");
    test::MakeInstall(install);
    fs::copy(ZELVANE_NAVTREE_OCX, install, fs::copy_options::overwrite_existing);
    // Under Wine, where a folder lies, or what it holds, cannot be told once its own path passes
    // MAX_PATH: only the files' paths do.
    const std::string deep = std::string(150, 'd') + "\\" + std::string(100, 'e') + ".dll";
    const std::string packed = std::string(150, 'p') + "\\" + std::string(100, 'q') + ".bin";
    fs::create_directory(install / deep.substr(0, 150));
    fs::create_directory(temp / packed.substr(0, 150));
    test::WriteFile(temp / "p0.bin", test::Scramble("new engine"));
    test::WriteFile(temp / packed, test::Scramble("new dll"));
    test::WriteFile(temp / "FileList.txt",
                    "1\r\n\"engine.exe\",\"p0.bin\"\r\n\"" + deep + "\",\"" + packed + "\"\r\n");
    // Planted where only a careless search would find it.
    fs::copy_file(ZELVANE_RECORD_PROGRAM, temp / "regsvr32.exe");
    fs::copy_file(ZELVANE_RECORD_PROGRAM, install / "regsvr32.exe");
    test::ScopedEnv log("ZELVANE_RECORD_LOG", (temp / "log").string());
    std::string said;  // the update's last message
    const auto update = [&] {
        const test::ScopedCurrentFolder package(temp.Path());  // an update changes it
        test::RecordingWindow window(test::PathText(install), true);
        const WindowsRules<__imp_CreateFileW, __imp_GetFileAttributesW, __imp_CreateHardLinkW,
                           __imp_MoveFileExW, __imp_DeleteFileW>
            rules;
        const auto outcome = RunUpdate({window, SystemFileSystem(), SystemProcesses()});
        said = window.messages.empty() ? "" : window.messages.back().text;
        return std::pair(outcome, window.failures);
    };
    EXPECT_EQ(update().first, UpdateOutcome::Installed);
    EXPECT_EQ(test::ReadFile(install / "engine.exe"), "new engine");
    EXPECT_EQ(test::ReadFile(install / deep), "new dll");
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
    EXPECT_EQ(std::distance(fs::directory_iterator(install / deep.substr(0, 150)), {}), 1)
        << "a staged file or a backup is left beside the long-named file";
}

}  // namespace
}  // namespace zelvane
