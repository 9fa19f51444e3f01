// The file operations on the Windows API: links, attributes, sharing, devices and the lock.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>

#include "test_support.h"
#include "zelvane/engine/copy.h"
#include "zelvane/engine/paths.h"
#include "zelvane/platform/processes.h"
#include "zelvane/win32/unique_handle.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kHiddenOrSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

DWORD Attributes(const fs::path& path) { return ::GetFileAttributesW(path.c_str()); }

// Wine 8 makes no Windows links: CreateSymbolicLinkW answers success and makes nothing, and
// mklink /J fails. It shows a Unix link as a Windows link and follows it as Windows would, but
// cannot remove one. So links are made with ln and removed with rm, which Wine starts as it starts
// a Windows program, though without a handle to wait on: hence the wait for `path` to come or go.
void RunBeside(const fs::path& path, const std::string& tool, std::vector<std::string> arguments) {
    const test::ScopedCurrentFolder current(path.parent_path());
    arguments.push_back(path.filename().string());
    SystemProcesses().Start({"Z:\\bin\\" + tool, std::move(arguments)});
    const bool made = tool != "rm";
    for (int i = 0; i < 100 && (Attributes(path) != INVALID_FILE_ATTRIBUTES) != made; ++i)
        ::Sleep(50);
}

void Link(const fs::path& link, const char* target) { RunBeside(link, "ln", {"-s", target}); }
// Wine would take a name that differs from an existing one in case alone for that one.
void MakeFolder(const fs::path& folder) { RunBeside(folder, "mkdir", {}); }

// A temporary folder whose links go with it.
struct LinkFolder : test::TempFolder {
    ~LinkFolder() { RunBeside(Path(), "rm", {"-rf"}); }
};

// An install folder, with a folder "Help", and a folder beside it.
struct Scene {
    fs::path install, outside;
    win32::UniqueHandle held;  // kept open during the copy

    // An old product file, or a leftover, with these attributes.
    void Put(const std::string& name, DWORD attributes) const {
        test::WriteFile(install / name, "old");
        ::SetFileAttributesW((install / name).c_str(), attributes);
    }
};

// The package is a file in the temporary folder, or a device; the failure is a part of its text,
// or empty when the new content lands in the install folder as `landed`. inUse: the product file
// is found held before anything is written.
struct HostileCase {
    const char *name, *destName, *package, *failure, *landed;
    void (*arrange)(Scene&) = [](Scene&) {};
    bool inUse = false;
};

const HostileCase kHostileCases[] = {
    {"LinkLeadingOutside", "Help\\up\\evil.dll", "pkg", "up\" leads outside the install folder", "",
     [](Scene& s) { Link(s.install / "Help\\up", "../../outside"); }},
    {"LinkStayingInside", "Docs\\page.html", "pkg", "", "Help\\page.html",
     [](Scene& s) { Link(s.install / "Docs", "Help"); }},
    // Wine's drives keep the case of names, as folders made case-sensitive on Windows do.
    {"LinkToASiblingNamedAlikeButForCase", "sub2\\x", "pkg", "sub2\" leads outside the install", "",
     [](Scene& s) {
         s.outside = s.install.parent_path() / "INSTALL";
         MakeFolder(s.outside);
         Link(s.install / "sub2", "../INSTALL");
     }},
    {"HiddenSystemProductFile", "engine.exe", "pkg", "", "engine.exe",
     [](Scene& s) { s.Put("engine.exe", kHiddenOrSystem); }},
    {"ReadOnlyProductFile", "engine.exe", "pkg", "cannot replace the read-only file", "",
     [](Scene& s) { s.Put("engine.exe", FILE_ATTRIBUTE_READONLY); }},
    // As a running program holds its own file: others may read it, not replace it.
    {"ProductFileHeldOpen", "engine.exe", "pkg", "install\\engine.exe\": ", "",
     [](Scene& s) {
         s.held.Reset(::CreateFileW((s.install / "engine.exe").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
     },
     true},
    {"ReadOnlyHiddenSystemLeftoverPartialFile", "engine.exe", "pkg", "", "engine.exe",
     [](Scene& s) { s.Put(PartialName("engine.exe"), FILE_ATTRIBUTE_READONLY | kHiddenOrSystem); }},
    {"PackageIsTheNullDevice", "engine.exe", "\\\\.\\NUL", "NUL\": it is not an ordinary", ""},
    {"PackageIsAFolder", "engine.exe", "outside", "outside\": it is not an ordinary", ""},
};

TEST(HostileFolders, NothingIsWrittenOutsideAndEveryCaseEndsAtOnce) {
    for (const HostileCase& c : kHostileCases) {
        SCOPED_TRACE(c.name);
        LinkFolder temp;
        Scene scene{temp / "install", temp / "outside", {}};
        fs::create_directories(scene.install / "Help");
        fs::create_directory(scene.outside);
        scene.Put("engine.exe", FILE_ATTRIBUTE_NORMAL);
        test::WriteFile(temp / "pkg", test::Scramble("new"));
        c.arrange(scene);
        const DWORD kept = Attributes(scene.install / "engine.exe") & kHiddenOrSystem;
        const auto package = *c.package == '\\' ? c.package : test::PathText(temp / c.package);
        std::string failure;
        bool inUse = false;
        try {
            const auto install = SystemFileSystem().OpenFolder(test::PathText(scene.install));
            inUse = !install->FilesInUse({c.destName}).empty();
            CopyEncryptedFile(SystemFileSystem(), *install, package, c.destName)->Commit();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        EXPECT_EQ(inUse, c.inUse);
        EXPECT_EQ(failure.empty(), *c.failure == '\0') << failure;
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
        EXPECT_TRUE(fs::is_empty(scene.outside)) << "something was written outside";
        EXPECT_EQ(Attributes(scene.install / PartialName("engine.exe")), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(test::ReadFile(scene.install / (*c.landed ? c.landed : "engine.exe")),
                  *c.landed ? "new" : "old");
        EXPECT_EQ(Attributes(scene.install / "engine.exe") & kHiddenOrSystem, kept);
    }
}

TEST(WindowsFolder, ASecondRunIsLockedOutUntilTheFirstEnds) {
    test::TempFolder temp;
    fs::create_directory(temp / "install");
    auto first = SystemFileSystem().OpenFolder(test::PathText(temp / "install"));
    ASSERT_TRUE(first->TryLock());
    const auto second = SystemFileSystem().OpenFolder(test::PathText(temp / ".\\INSTALL"));
    EXPECT_FALSE(second->TryLock()) << "the same folder, spelt another way";
    first.reset();
    EXPECT_TRUE(second->TryLock());
}

// Wine renames a folder whatever handles are open on it, so a test looks for them as well: whether
// any handle of this process is open on a file or folder whose path holds `part`.
bool HandleOpenInto(const std::wstring& part) {
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        const auto handle = reinterpret_cast<HANDLE>(value);
        std::array<wchar_t, 1024> path{};
        // Files and folders only: asking a pipe for its path can block.
        if (::GetFileType(handle) == FILE_TYPE_DISK &&
            ::GetFinalPathNameByHandleW(handle, path.data(), path.size(), 0) < path.size() &&
            std::wstring_view(path.data()).find(part) != std::wstring_view::npos) {
            return true;
        }
    }
    return false;
}

// What someone who may write in a folder of the install can do once a staged file there is
// finished: it is put in place only where it was written, and only that very file.
struct SwapCase {
    const char *name, *failure;
    void (*swap)(const fs::path& install, const fs::path& outside);
    const char* old;  // where the old product file is then
};

const SwapCase kSwapCases[] = {
    {"FolderMovedOutAndAnotherPutInItsPlace", "Sub\" leads outside the install folder",
     [](auto& in, auto& out) {
         fs::rename(in / "Sub", out / "Sub");
         fs::create_directory(in / "Sub");
     },
     "outside\\Sub\\x"},
    {"PartialFileSwapped", "x.zelvane-partial\" was replaced while it was written",
     [](auto& in, auto& out) {
         fs::rename(in / "Sub" / PartialName("x"), out / "taken");
         test::WriteFile(in / "Sub" / PartialName("x"), "forged");
     },
     "install\\Sub\\x"},
};

// The product's own programs run once the copy is done, and may rename or remove its folders.
TEST(WindowsFolder, AFinishedFileHoldsNothingOpenAndIsPlacedOnlyWhereItWasWritten) {
    for (const SwapCase& c : kSwapCases) {
        SCOPED_TRACE(c.name);
        test::TempFolder temp;
        fs::create_directories(temp / "install\\Sub");
        fs::create_directory(temp / "outside");
        test::WriteFile(temp / "install\\Sub\\x", "old");
        test::WriteFile(temp / "pkg", test::Scramble("new"));
        const auto install = SystemFileSystem().OpenFolder(test::PathText(temp / "install"));
        auto staged =
            CopyEncryptedFile(SystemFileSystem(), *install, test::PathText(temp / "pkg"), "Sub\\x");
        EXPECT_FALSE(HandleOpenInto(temp.Path().filename().wstring()));
        c.swap(temp / "install", temp / "outside");
        std::string failure;
        try {
            staged->Commit();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
        staged.reset();
        EXPECT_EQ(test::ReadFile(temp / c.old), "old");
        if (fs::exists(temp / "outside\\taken")) {
            EXPECT_EQ(test::ReadFile(temp / "install\\Sub" / PartialName("x")), "forged")
                << "not the staged file's to remove";
        }
    }
}

// The steps of a commit on real files: the old product file stays whole under a second name while
// the new one takes its place, and comes back by a rename. Both names are one file, whose
// attributes stay when one of them goes, and which is put back where it already is even while a
// program holds it.
TEST(WindowsFolder, AnOldFileKeptUnderASecondNameComesBackWhole) {
    test::TempFolder temp;
    fs::create_directory(temp / "install");
    const fs::path old = temp / "install\\engine.exe";
    test::WriteFile(old, "old");
    ::SetFileAttributesW(old.c_str(), kHiddenOrSystem);
    test::WriteFile(temp / "pkg", test::Scramble("new"));
    const auto install = SystemFileSystem().OpenFolder(test::PathText(temp / "install"));
    EXPECT_FALSE(install->KeepAs("gone.exe", "gone.bak"));
    ASSERT_TRUE(install->KeepAs("engine.exe", "engine.bak"));
    ASSERT_TRUE(install->KeepAs("engine.exe", "engine.bak")) << "over the one left before";
    EXPECT_EQ(Attributes(old) & kHiddenOrSystem, kHiddenOrSystem);
    {
        const win32::UniqueHandle held(::CreateFileW(old.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                     nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_NO_THROW(install->Rename("engine.bak", "engine.exe")) << "one file, held";
    }
    CopyEncryptedFile(SystemFileSystem(), *install, test::PathText(temp / "pkg"), "engine.exe")
        ->Commit();
    EXPECT_EQ(test::ReadFile(old) + test::ReadFile(temp / "install\\engine.bak"), "newold");
    install->Rename("engine.bak", "engine.exe");
    EXPECT_EQ(test::ReadFile(old), "old");
    EXPECT_FALSE(install->Exists("engine.bak"));
}

// A program started from a file keeps it from being removed until the program ends: it goes at
// the next restart instead.
TEST(WindowsFolder, AFileARunningProgramStartedFromGoesAtTheNextRestart) {
    test::TempFolder temp;
    fs::create_directory(temp / "install");
    fs::copy_file(ZELVANE_RECORD_PROGRAM, temp / "install\\old.exe");
    const test::ScopedEnv sleep("ZELVANE_RECORD_SLEEP_MS", "3000");
    const auto program = SystemProcesses().Open(
        SystemProcesses().Start({test::PathText(temp / "install\\old.exe"), {}}));
    const auto install = SystemFileSystem().OpenFolder(test::PathText(temp / "install"));
    EXPECT_NO_THROW(install->Remove("old.exe"));
    program->WaitForExit(std::chrono::seconds(60));
}

}  // namespace
}  // namespace zelvane
