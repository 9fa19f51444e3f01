// A hostile install folder and package on Linux: links, devices, pipes, permission bits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "test_support.h"
#include "zelvane/engine/copy.h"
#include "zelvane/engine/paths.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

struct HostileCase {
    const char* name;
    std::function<void(const fs::path& install, const fs::path& outside)> arrange;
    std::string destName;
    std::string package;  // relative to the temporary folder
    const char* failure;  // a word of the failure, or empty when the copy succeeds
    std::function<void(const fs::path& install, const fs::path& outside)> check;
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

mode_t Mode(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

void Nothing(const fs::path&, const fs::path&) {}

class HostileFolders : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileFolders, NothingIsWrittenOutsideAndEveryCaseEndsAtOnce) {
    const HostileCase& c = GetParam();
    test::TempFolder temp;
    const fs::path install = temp / "install";
    const fs::path outside = temp / "outside";
    fs::create_directories(install / "Help");
    fs::create_directories(outside);
    WriteFile(temp / "pkg", test::Scramble("new"));
    c.arrange(install, outside);
    const auto folder = SystemFileSystem().OpenFolder(install.string());
    const auto copy = [&] {
        CopyEncryptedFile(SystemFileSystem(), *folder, (temp / c.package).string(),
                          SystemFileSystem().NativePath(c.destName));
    };
    if (*c.failure == '\0') {
        copy();
    } else {
        try {
            copy();
            ADD_FAILURE() << "no failure";
        } catch (const std::exception& error) {
            EXPECT_NE(std::string(error.what()).find(c.failure), std::string::npos) << error.what();
        }
    }
    for (const auto& item : fs::recursive_directory_iterator(outside)) {
        EXPECT_NE(ReadFile(item.path()), "new") << item.path() << " was written";
    }
    for (const auto& item : fs::recursive_directory_iterator(install)) {
        EXPECT_FALSE(item.path().string().ends_with(kPartialSuffix)) << item.path();
    }
    c.check(install, outside);
}

INSTANTIATE_TEST_SUITE_P(
    Linux, HostileFolders,
    testing::Values(
        HostileCase{"LinkToAFolderOutside",
                    [](const fs::path& in, const fs::path& out) {
                        fs::create_directory_symlink(out, in / "plugins");
                    },
                    "plugins\\evil.dll", "pkg", "leads outside the install folder", Nothing},
        HostileCase{"RelativeLinkClimbingOut",
                    [](const fs::path& in, const fs::path&) {
                        fs::create_directory_symlink("../../outside", in / "Help" / "up");
                    },
                    "Help\\up\\evil.dll", "pkg", "leads outside the install folder", Nothing},
        HostileCase{"LinksThatStayInsideAreFollowed",
                    [](const fs::path& in, const fs::path&) {
                        fs::create_directory_symlink(in / "Help", in / "Docs");
                        fs::create_directory_symlink("../Help", in / "Help" / "Same");
                    },
                    "Docs\\Same\\page.html", "pkg", "",
                    [](const fs::path& in, const fs::path&) {
                        EXPECT_EQ(ReadFile(in / "Help" / "page.html"), "new");
                    }},
        HostileCase{"ProductFileThatIsALinkIsReplacedNotFollowed",
                    [](const fs::path& in, const fs::path& out) {
                        WriteFile(out / "target", "outside");
                        fs::permissions(out / "target", fs::perms(0755));
                        fs::create_symlink(out / "target", in / "engine.exe");
                    },
                    "engine.exe", "pkg", "",
                    [](const fs::path& in, const fs::path& out) {
                        EXPECT_EQ(ReadFile(out / "target"), "outside");
                        EXPECT_EQ(Mode(in / "engine.exe"), S_IFREG | (0644 & ~0022));
                    }},
        HostileCase{"SetUserIdIsNeverKept",
                    [](const fs::path& in, const fs::path&) {
                        WriteFile(in / "engine.exe", "old");
                        ::chmod((in / "engine.exe").c_str(), 06751);
                    },
                    "engine.exe", "pkg", "",
                    [](const fs::path& in, const fs::path&) {
                        EXPECT_EQ(Mode(in / "engine.exe"), S_IFREG | 0751);
                    }},
        HostileCase{"DanglingLinkLeftOverAsAPartialFile",
                    [](const fs::path& in, const fs::path& out) {
                        fs::create_symlink(out / "gone", in / "engine.exe.zelvane-partial");
                    },
                    "engine.exe", "pkg", "",
                    [](const fs::path& in, const fs::path& out) {
                        EXPECT_EQ(ReadFile(in / "engine.exe"), "new");
                        EXPECT_FALSE(fs::exists(out / "gone"));
                    }},
        HostileCase{"PackageFileThatIsAPipe",
                    [](const fs::path& in, const fs::path&) {
                        ::mkfifo((in.parent_path() / "fifo").c_str(), 0644);
                    },
                    "engine.exe", "fifo", "not an ordinary file", Nothing},
        HostileCase{"PackageFileThatIsADevice", Nothing, "engine.exe", "../../dev/zero",
                    "not an ordinary file", Nothing}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

}  // namespace
}  // namespace zelvane
