// The file operations on the Windows API, with the attributes and sharing rules of Windows files.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "test_support.h"
#include "zelvane/engine/copy.h"
#include "zelvane/engine/paths.h"
#include "zelvane/win32/text.h"
#include "zelvane/win32/unique_handle.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Scramble;
using test::TempFolder;
using test::WriteFile;

DWORD Attributes(const fs::path& path) { return ::GetFileAttributesW(path.c_str()); }

class ProductFileTest : public testing::Test {
  protected:
    ProductFileTest() {
        WriteFile(temp_ / "out", std::string(5000, 'o'));
        WriteFile(temp_ / "pkg", Scramble("new"));
    }
    ~ProductFileTest() override { ::SetFileAttributesW(Out().c_str(), FILE_ATTRIBUTE_NORMAL); }

    fs::path Out() const { return temp_ / "out"; }
    void Copy() {
        CopyEncryptedFile(SystemFileSystem(), test::PathText(temp_ / "pkg"), test::PathText(Out()));
    }
    bool OnlyProductAndPackageAreLeft() const {
        std::set<fs::path> found;
        for (const auto& item : fs::directory_iterator(temp_.Path())) {
            found.insert(item.path().filename());
        }
        return found == std::set<fs::path>{"out", "pkg"};
    }

    TempFolder temp_;
};

TEST_F(ProductFileTest, HiddenAndSystemFilesEndUpHoldingExactlyTheNewBytes) {
    for (const DWORD kept : {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM},
                             DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}) {
        ::SetFileAttributesW(Out().c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteFile(Out(), std::string(5000, 'o'));
        ASSERT_TRUE(::SetFileAttributesW(Out().c_str(), kept));
        Copy();
        EXPECT_EQ(ReadFile(Out()), "new") << kept;
        EXPECT_EQ(Attributes(Out()) & kept, kept) << "the product file keeps its attributes";
        EXPECT_TRUE(OnlyProductAndPackageAreLeft());
    }
}

TEST_F(ProductFileTest, AReadOnlyFileFailsTheEntryAndStaysAsItWas) {
    ASSERT_TRUE(::SetFileAttributesW(Out().c_str(), FILE_ATTRIBUTE_READONLY));
    try {
        Copy();
        ADD_FAILURE() << "a read-only product file was replaced";
    } catch (const std::system_error& error) {
        EXPECT_NE(std::string(error.what()).find(test::PathText(Out())), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(ReadFile(Out()), std::string(5000, 'o'));
    EXPECT_NE(Attributes(Out()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(OnlyProductAndPackageAreLeft());
}

TEST_F(ProductFileTest, AFileHeldOpenByAnotherHandleFailsTheEntryAndStaysAsItWas) {
    {
        // As a running program holds its own file: others may read it, not delete or rename it.
        const win32::UniqueHandle held(::CreateFileW(Out().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                     nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.Valid());
        EXPECT_THROW(Copy(), std::system_error);
    }
    EXPECT_EQ(ReadFile(Out()), std::string(5000, 'o'));
    EXPECT_TRUE(OnlyProductAndPackageAreLeft());
}

TEST(WindowsFiles, OnlyVisibleNonSystemFilesAreOrdinary) {
    TempFolder temp;
    fs::create_directory(temp / "folder");
    for (const char* name : {"plain", "hidden", "system", "readonly"}) WriteFile(temp / name, "x");
    ::SetFileAttributesW((temp / "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW((temp / "system").c_str(), FILE_ATTRIBUTE_SYSTEM);
    ::SetFileAttributesW((temp / "readonly").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::pair<const char*, bool> cases[] = {
        {"plain", true},   {"readonly", true}, {"hidden", false},          {"system", false},
        {"folder", false}, {"missing", false}, {"missing\\inside", false}, {"folder\\", false},
    };
    for (const auto& [name, ordinary] : cases) {
        EXPECT_EQ(SystemFileSystem().IsOrdinaryFile(test::PathText(temp / name)), ordinary) << name;
    }
    for (const char* name : {"hidden", "system", "readonly"}) {
        ::SetFileAttributesW((temp / name).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST(WindowsFiles, DriveLetterAndUncPathsKeepTheirWindowsSpelling) {
    FileSystem& files = SystemFileSystem();
    const std::pair<const char*, const char*> folders[] = {
        {"C:\\Program Files\\Zelvane", "C:\\Program Files\\Zelvane\\"},
        {"C:/Program Files/Zelvane/", "C:\\Program Files\\Zelvane\\"},
        {"\\\\server\\share\\Zelvane", "\\\\server\\share\\Zelvane\\"},
        {"D:\\", "D:\\"},
    };
    for (const auto& [typed, folder] : folders) {
        EXPECT_EQ(InstallFolder(files, typed), folder);
        EXPECT_EQ(files.AbsolutePath(folder), folder) << "already absolute";
    }
    EXPECT_EQ(DestinationPath(files, "\\\\server\\share\\Z\\", "Help/index.html"),
              "\\\\server\\share\\Z\\Help\\index.html");
}

TEST(WindowsFiles, RelativePathsAndTheCurrentFolderFollowTheCurrentDrive) {
    TempFolder temp;
    fs::create_directory(temp / "sub");
    FileSystem& files = SystemFileSystem();
    const std::string before = files.CurrentDirectory();
    files.ChangeDirectory(test::PathText(temp / "sub") + "\\");
    EXPECT_EQ(files.CurrentDirectory(), test::PathText(temp / "sub"));
    EXPECT_EQ(files.AbsolutePath("x\\y.exe"), test::PathText(temp / "sub") + "\\x\\y.exe");
    EXPECT_EQ(files.AbsolutePath("..\\z"), test::PathText(temp.Path()) + "\\z");
    EXPECT_EQ(files.AbsolutePath("\\top"), test::PathText(temp.Path()).substr(0, 2) + "\\top");
    files.ChangeDirectory(before);
}

TEST(WindowsFiles, FailuresNameTheFileAndGiveTheSystemsReason) {
    TempFolder temp;
    const std::string missing = test::PathText(temp / "no such file.bin");
    const std::string unc = "\\\\no-such-server\\share\\Zelvane\\";
    const std::pair<std::string, std::function<void()>> cases[] = {
        {missing, [&] { SystemFileSystem().OpenForReading(missing); }},
        {missing, [&] { SystemFileSystem().DeleteFile(missing); }},
        {unc, [&] { SystemFileSystem().ChangeDirectory(unc); }},
        {test::PathText(temp / "no folder" / "f"),
         [&] { SystemFileSystem().CreateNew(test::PathText(temp / "no folder" / "f")); }},
    };
    for (const auto& [path, action] : cases) {
        try {
            action();
            ADD_FAILURE() << "no failure for " << path;
        } catch (const std::system_error& error) {
            const std::string what = error.what();
            EXPECT_NE(what.find("\"" + path + "\": "), std::string::npos) << what;
            EXPECT_GT(what.size(), what.find("\": ") + 5) << "the system's reason follows";
            EXPECT_EQ(error.code().category(), win32::WindowsCategory());
        }
    }
}

}  // namespace
}  // namespace zelvane
