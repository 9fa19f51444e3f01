// A hostile install folder and package on Linux: links, devices, pipes, folders, permission bits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "test_support.h"
#include "zelvane/engine/copy.h"
#include "zelvane/engine/paths.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using Arrange = std::function<void(const fs::path& install, const fs::path& outside)>;

mode_t Mode(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// The package is a file of the temporary folder; the failure is a part of its text, or empty
// when the copy succeeds.
struct HostileCase {
    const char *name, *destName, *package, *failure;
    Arrange arrange, check = [](const fs::path&, const fs::path&) {};
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
         EXPECT_EQ(Mode(in / "engine.exe"), S_IFREG | (0644 & ~0022));
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
     [](auto& in, auto&) { fs::create_directories(in / "engine.exe" / "inside"); },
     [](auto& in, auto&) { EXPECT_TRUE(fs::exists(in / "engine.exe" / "inside")); }},
    {"FolderThatIsMissing", "no\\such\\file", "pkg", "No such file", [](auto&, auto&) {}},
    {"PackageFileThatIsAPipe", "engine.exe", "fifo", "not an ordinary file",
     [](auto& in, auto&) { ::mkfifo((in.parent_path() / "fifo").c_str(), 0644); }},
    {"PackageFileThatIsADevice", "engine.exe", "../../dev/zero", "not an ordinary file",
     [](auto&, auto&) {}},
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
            CopyEncryptedFile(SystemFileSystem(), *folder, (temp / c.package).string(),
                              SystemFileSystem().NativePath(c.destName))
                ->Commit();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        EXPECT_EQ(failure.empty(), *c.failure == '\0') << failure;
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
        for (const auto& item : fs::recursive_directory_iterator(outside)) {
            EXPECT_NE(ReadFile(item.path()), "new") << item.path() << " was written";
        }
        for (const auto& item : fs::recursive_directory_iterator(install)) {
            EXPECT_FALSE(item.path().string().ends_with(kPartialSuffix)) << item.path();
        }
        c.check(install, outside);
    }
}

// What a user who owns a subfolder of the install can do while a product file is written there.
struct SwapCase {
    const char *name, *target, *failure;
    Arrange swap, check;
};

const SwapCase kSwapCases[] = {
    {"PartialFileSwappedForALink", "Data/engine.exe", "was replaced while it was written",
     [](auto& in, auto& out) {
         fs::rename(in / "Data" / "engine.exe.zelvane-partial", out / "taken");
         fs::create_symlink(out / "secret", in / "Data" / "engine.exe.zelvane-partial");
     },
     [](auto& in, auto& out) {
         EXPECT_EQ(Mode(out / "secret"), S_IFREG | 0600);
         EXPECT_EQ(ReadFile(in / "Data" / "engine.exe"), "old");
     }},
    {"FolderMovedOut", "Data/engine.exe", "leads outside the install folder",
     [](auto& in, auto& out) { fs::rename(in / "Data", out / "Data"); },
     [](auto&, auto& out) { EXPECT_EQ(ReadFile(out / "Data" / "engine.exe"), "old"); }},
};

TEST(PosixFolder, AStagedFileIsPrivateAndNeverPlacedThroughASwappedName) {
    for (const SwapCase& c : kSwapCases) {
        SCOPED_TRACE(c.name);
        test::TempFolder temp;
        const fs::path install = temp / "install", outside = temp / "outside";
        fs::create_directories(install / "Data");
        fs::create_directories(outside);
        WriteFile(outside / "secret", "secret");
        WriteFile(install / c.target, "old");
        fs::permissions(outside / "secret", fs::perms(0600));
        fs::permissions(install / c.target, fs::perms(0600));
        const auto folder = SystemFileSystem().OpenFolder(install.string());
        std::string failure;
        try {
            const auto staged = folder->Stage(PartialName(c.target), c.target);
            EXPECT_EQ(Mode(install / PartialName(c.target)), S_IFREG | 0600) << "before content";
            staged->Write(std::as_bytes(std::span("new", 3)));
            staged->Finish();
            c.swap(install, outside);
            staged->Commit();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
        EXPECT_EQ(ReadFile(outside / "secret"), "secret");
        c.check(install, outside);
    }
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
