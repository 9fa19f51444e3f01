// The file operations on the Windows API: links, attributes, sharing, devices and the lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

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
// cannot remove one. So links are made and removed with ln and rm, which Wine starts as it starts
// a Windows program, though without a handle to wait on.
void RunBeside(const fs::path& link, const char* tool, std::vector<std::string> arguments) {
    const test::ScopedCurrentFolder current(link.parent_path());
    arguments.push_back(link.filename().string());
    SystemProcesses().Start({std::string("Z:\\bin\\") + tool, std::move(arguments)});
    const bool made = std::string_view(tool) == "ln";
    for (int i = 0; i < 100 && (Attributes(link) != INVALID_FILE_ATTRIBUTES) != made; ++i)
        ::Sleep(50);
}

// An install folder and a folder beside it; the links made in them go with it.
struct Scene {
    fs::path install, outside;
    win32::UniqueHandle held;  // kept open during the copy
    std::vector<fs::path> links;

    ~Scene() { std::ranges::for_each(links, [](auto& link) { RunBeside(link, "rm", {"-f"}); }); }
    void Link(const char* name, const fs::path& target) {
        links.push_back(install / name);
        RunBeside(links.back(), "ln",
                  {"-sf", fs::relative(target, links.back().parent_path()).generic_string()});
    }
    void Set(const fs::path& name, DWORD attributes) const {
        ::SetFileAttributesW((install / name).c_str(), attributes);
    }
};

// The package is a file in the temporary folder, or a device; the failure is a part of its text,
// or empty when the new content lands in the install folder as `landed`.
struct HostileCase {
    const char *name, *destName, *package, *failure, *landed;
    std::function<void(Scene&)> arrange;
};

const HostileCase kHostileCases[] = {
    {"FolderLinkLeadingOutside", "Help\\up\\evil.dll", "pkg",
     "Help\\up\" leads outside the install folder", "",
     [](Scene& s) { s.Link("Help\\up", s.outside); }},
    {"FolderLinkStayingInside", "Docs\\page.html", "pkg", "", "Help\\page.html",
     [](Scene& s) { s.Link("Docs", s.install / "Help"); }},
    {"HiddenSystemProductFile", "engine.exe", "pkg", "", "engine.exe",
     [](Scene& s) { s.Set("engine.exe", kHiddenOrSystem); }},
    {"ReadOnlyProductFile", "engine.exe", "pkg", "cannot replace the read-only file", "",
     [](Scene& s) { s.Set("engine.exe", FILE_ATTRIBUTE_READONLY); }},
    // As a running program holds its own file: others may read it, not replace it.
    {"ProductFileHeldOpen", "engine.exe", "pkg", "install\\engine.exe\": ", "",
     [](Scene& s) {
         s.held.Reset(::CreateFileW((s.install / "engine.exe").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
     }},
    {"ReadOnlyHiddenSystemLeftoverPartialFile", "engine.exe", "pkg", "", "engine.exe",
     [](Scene& s) {
         test::WriteFile(s.install / PartialName("engine.exe"), "half of an old run");
         s.Set(PartialName("engine.exe"), FILE_ATTRIBUTE_READONLY | kHiddenOrSystem);
     }},
    {"PackageFileThatIsTheNullDevice", "engine.exe", "\\\\.\\NUL", "NUL\": it is not an ordinary",
     "", [](Scene&) {}},
    {"PackageFileThatIsAPipe", "engine.exe", "\\\\.\\pipe\\z", "z\": it is not an ordinary", "",
     [](Scene& s) {
         s.held.Reset(::CreateNamedPipeW(L"\\\\.\\pipe\\z", PIPE_ACCESS_OUTBOUND, 0, 1, 0, 0, 0,
                                         nullptr));
     }},
    {"PackageFileThatIsAFolder", "engine.exe", "outside", "outside\": it is not an ordinary", "",
     [](Scene&) {}},
};

TEST(HostileFolders, NothingIsWrittenOutsideAndEveryCaseEndsAtOnce) {
    for (const HostileCase& c : kHostileCases) {
        SCOPED_TRACE(c.name);
        test::TempFolder temp;
        Scene scene{temp / "install", temp / "outside", {}, {}};
        fs::create_directories(scene.install / "Help");
        fs::create_directory(scene.outside);
        test::WriteFile(scene.install / "engine.exe", "old");
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
    const auto second = SystemFileSystem().OpenFolder(test::PathText(temp / "INSTALL\\"));
    EXPECT_FALSE(second->TryLock()) << "the same folder, spelt another way";
    first.reset();
    EXPECT_TRUE(second->TryLock());
}

}  // namespace
}  // namespace zelvane
