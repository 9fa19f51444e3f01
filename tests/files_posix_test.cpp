// A hostile install folder and package on Linux: links, devices, pipes, folders, permission bits,
// names swapped while a file is written, and a commit that fails midway.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "test_support.h"
#include "zelvane/engine/commit.h"
#include "zelvane/engine/copy.h"
#include "zelvane/engine/paths.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using Arrange = std::function<void(const fs::path& install, const fs::path& outside)>;

// Set before any test runs, so that it is the mask the updater reads once, and new files show it.
constexpr mode_t kUmask = 027;
const mode_t kUmaskBefore = ::umask(kUmask);

mode_t Mode(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// The package is a file of the temporary folder; the failure is a part of its text, or empty
// when the copy succeeds. `swap` is what a user who owns a subfolder of the install does once the
// file is written there, before it is put in place.
struct HostileCase {
    const char *name, *destName, *package, *failure;
    Arrange arrange, check = [](const fs::path&, const fs::path&) {};
    Arrange swap = [](const fs::path&, const fs::path&) {};
};

const HostileCase kHostileCases[] = {
    {"LinkToAFolderOutside", "plugins\\evil.dll", "pkg", "leads outside the install folder",
     [](auto& in, auto& out) { fs::create_directory_symlink(out, in / "plugins"); }},
    {"RelativeLinkClimbingOut", "Help\\up\\evil.dll", "pkg", "leads outside the install folder",
     [](auto& in, auto&) { fs::create_directory_symlink("../../outside", in / "Help" / "up"); }},
    {"LinksThatStayInsideAreFollowed", "Docs\\Same\\page.html", "pkg", "",
     [](auto& in, auto&) {
         fs::create_directory_symlink(in / "Help", in / "Docs");
         fs::create_directory_symlink("../Help", in / "Help" / "Same");
     },
     [](auto& in, auto&) { EXPECT_EQ(ReadFile(in / "Help" / "page.html"), "new"); }},
    {"ProductFileThatIsALinkIsReplacedNotFollowed", "engine.exe", "pkg", "",
     [](auto& in, auto& out) {
         WriteFile(out / "target", "outside");
         fs::permissions(out / "target", fs::perms(0755));
         fs::create_symlink(out / "target", in / "engine.exe");
     },
     [](auto& in, auto& out) {
         EXPECT_EQ(ReadFile(out / "target"), "outside");
         EXPECT_EQ(Mode(in / "engine.exe"), S_IFREG | (0644 & ~kUmask));
     }},
    {"SetUserIdIsNeverKept", "engine.exe", "pkg", "",
     [](auto& in, auto&) {
         WriteFile(in / "engine.exe", "old");
         ::chmod((in / "engine.exe").c_str(), 06751);
     },
     [](auto& in, auto&) { EXPECT_EQ(Mode(in / "engine.exe"), S_IFREG | 0751); }},
    {"DanglingLinkLeftOverAsAPartialFile", "engine.exe", "pkg", "",
     [](auto& in, auto& out) {
         fs::create_symlink(out / "gone", in / "engine.exe.zelvane-partial");
     },
     [](auto& in, auto& out) {
         EXPECT_EQ(ReadFile(in / "engine.exe"), "new");
         EXPECT_FALSE(fs::exists(out / "gone"));
     }},
    {"ProductFileThatIsAFolder", "engine.exe", "pkg", "Is a directory",
     [](auto& in, auto&) { fs::create_directories(in / "engine.exe" / "inside"); }},
    {"FolderThatIsMissing", "no\\such\\file", "pkg", "No such file", [](auto&, auto&) {}},
    {"PackageFileThatIsAPipe", "engine.exe", "fifo", "not an ordinary file",
     [](auto& in, auto&) { ::mkfifo((in.parent_path() / "fifo").c_str(), 0644); }},
    {"PackageFileThatIsADevice", "engine.exe", "../../dev/zero", "not an ordinary file",
     [](auto&, auto&) {}},
    {"PartialFileSwappedForALink", "Help\\engine.exe", "pkg", "was replaced while it was written",
     [](auto& in, auto& out) {
         WriteFile(in / "Help" / "engine.exe", "old");
         WriteFile(out / "secret", "secret");
         fs::permissions(out / "secret", fs::perms(0600));
     },
     [](auto& in, auto& out) {
         EXPECT_EQ(Mode(out / "secret"), S_IFREG | 0600);
         EXPECT_EQ(ReadFile(in / "Help" / "engine.exe"), "old");
     },
     [](auto& in, auto& out) {
         fs::remove(in / "Help" / "engine.exe.zelvane-partial");
         fs::create_symlink(out / "secret", in / "Help" / "engine.exe.zelvane-partial");
     }},
    {"FolderMovedOut", "Help\\engine.exe", "pkg", "leads outside the install folder",
     [](auto& in, auto&) { WriteFile(in / "Help" / "engine.exe", "old"); },
     [](auto& in, auto&) { EXPECT_EQ(ReadFile(in.parent_path() / "Help" / "engine.exe"), "old"); },
     [](auto& in, auto&) { fs::rename(in / "Help", in.parent_path() / "Help"); }},
};

TEST(HostileFolders, NothingIsWrittenOutsideAndEveryCaseEndsAtOnce) {
    for (const HostileCase& c : kHostileCases) {
        SCOPED_TRACE(c.name);
        test::TempFolder temp;
        const fs::path install = temp / "install";
        const fs::path outside = temp / "outside";
        fs::create_directories(install / "Help");
        fs::create_directories(outside);
        WriteFile(temp / "pkg", test::Scramble("new"));
        c.arrange(install, outside);
        std::string failure;
        try {
            const auto folder = SystemFileSystem().OpenFolder(install.string());
            const auto staged =
                CopyEncryptedFile(SystemFileSystem(), *folder, (temp / c.package).string(),
                                  SystemFileSystem().NativePath(c.destName));
            c.swap(install, outside);
            staged->Commit();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        EXPECT_EQ(failure.empty(), *c.failure == '\0') << failure;
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
        for (const auto& item : fs::recursive_directory_iterator(outside)) {
            EXPECT_NE(ReadFile(item.path()), "new") << item.path() << " was written";
        }
        // No partial file is left; a link that someone put in the place of one is theirs.
        for (const auto& item : fs::recursive_directory_iterator(install)) {
            EXPECT_FALSE(item.path().string().ends_with(kPartialSuffix) && !item.is_symlink())
                << item.path();
        }
        c.check(install, outside);
    }
}

// On real files, a commit whose third file cannot be put in place puts back every file that it
// replaced or added, and leaves no backup of the one it had not replaced yet; a partial file that a
// killed run left behind is replaced first.
TEST(PosixFolder, AFailedCommitPutsEveryOldFileBack) {
    test::TempFolder temp;
    WriteFile(temp / "pkg", test::Scramble("new"));
    WriteFile(temp / "a", "old a");
    WriteFile(temp / "d", "old d");
    const auto before = test::Snapshot(temp.Path());
    WriteFile(temp / PartialName("b"), "left by a killed run");
    const auto folder = SystemFileSystem().OpenFolder(temp.Path().string());
    UpdateCommit commit(*folder);
    for (const char* name : {"a", "b", "c", "d"}) {
        const std::string package = (temp / "pkg").string();
        commit.Add(name, CopyEncryptedFile(SystemFileSystem(), *folder, package, name));
    }
    fs::remove(temp / PartialName("c"));  // taken away: it cannot be put in place
    EXPECT_THROW(commit.Commit(), std::runtime_error);
    EXPECT_EQ(test::Snapshot(temp.Path()), before);
}

TEST(PosixFolder, ASecondRunIsLockedOutUntilTheFirstEnds) {
    test::TempFolder temp;
    fs::create_directory(temp / "install");
    fs::create_directory_symlink(temp / "install", temp / "link");
    auto first = SystemFileSystem().OpenFolder((temp / "install").string());
    ASSERT_TRUE(first->TryLock());
    const auto second = SystemFileSystem().OpenFolder((temp / "link" / ".").string());
    EXPECT_FALSE(second->TryLock()) << "the same folder, reached another way";
    first.reset();
    EXPECT_TRUE(second->TryLock());
}

}  // namespace
}  // namespace zelvane
