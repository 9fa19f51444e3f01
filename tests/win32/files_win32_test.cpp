// The file operations on the Windows API: links, attributes, sharing, devices and the lock.
#include <gtest/gtest.h>

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
    const bool made = tool == "ln";
    for (int i = 0; i < 100 && (Attributes(path) != INVALID_FILE_ATTRIBUTES) != made; ++i)
        ::Sleep(50);
}

void Link(const fs::path& link, const char* target) { RunBeside(link, "ln", {"-s", target}); }

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
// or empty when the new content lands in the install folder as `landed`.
struct HostileCase {
    const char *name, *destName, *package, *failure, *landed;
    void (*arrange)(Scene&) = [](Scene&) {};
};

const HostileCase kHostileCases[] = {
    {"LinkLeadingOutside", "Help\\up\\evil.dll", "pkg", "up\" leads outside the install folder", "",
     [](Scene& s) { Link(s.install / "Help\\up", "../../outside"); }},
    {"LinkStayingInside", "Docs\\page.html", "pkg", "", "Help\\page.html",
     [](Scene& s) { Link(s.install / "Docs", "Help"); }},
    {"HiddenSystemProductFile", "engine.exe", "pkg", "", "engine.exe",
     [](Scene& s) { s.Put("engine.exe", kHiddenOrSystem); }},
    {"ReadOnlyProductFile", "engine.exe", "pkg", "cannot replace the read-only file", "",
     [](Scene& s) { s.Put("engine.exe", FILE_ATTRIBUTE_READONLY); }},
    // As a running program holds its own file: others may read it, not replace it.
    {"ProductFileHeldOpen", "engine.exe", "pkg", "install\\engine.exe\": ", "",
     [](Scene& s) {
         s.held.Reset(::CreateFileW((s.install / "engine.exe").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
     }},
    {"ReadOnlyHiddenSystemLeftoverPartialFile", "engine.exe", "pkg", "", "engine.exe",
     [](Scene& s) { s.Put(PartialName("engine.exe"), FILE_ATTRIBUTE_READONLY | kHiddenOrSystem); }},
    {"PackageIsTheNullDevice", "engine.exe", "\\\\.\\NUL", "NUL\": it is not an ordinary", ""},
    {"PackageIsAPipe", "engine.exe", "\\\\.\\pipe\\z", "z\": it is not an ordinary", ""},
    {"PackageIsAFolder", "engine.exe", "outside", "outside\": it is not an ordinary", ""},
};

TEST(HostileFolders, NothingIsWrittenOutsideAndEveryCaseEndsAtOnce) {
    const win32::UniqueHandle pipe(
        ::CreateNamedPipeW(L"\\\\.\\pipe\\z", PIPE_ACCESS_OUTBOUND, 0, 1, 0, 0, 0, nullptr));
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
        try {
            const auto install = SystemFileSystem().OpenFolder(test::PathText(scene.install));
            CopyEncryptedFile(SystemFileSystem(), *install, package, c.destName);
        } catch (const std::exception& error) {
            failure = error.what();
        }
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

}  // namespace
}  // namespace zelvane
