#include "zelvane/engine/copy.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace zelvane {
namespace {

using test::ReadFile;
using test::Scramble;
using test::TempFolder;
using test::WriteFile;

class CopyEncryptedFileTest : public testing::Test {
  protected:
    void Copy(const std::string& in, const std::string& out) {
        CopyEncryptedFile(SystemFileSystem(), (temp_ / in).string(), (temp_ / out).string());
    }
    bool LeftoversOnlyAre(std::initializer_list<const char*> names) {
        std::set<std::string> expected(names.begin(), names.end());
        std::set<std::string> found;
        for (const auto& item : std::filesystem::directory_iterator(temp_.Path())) {
            found.insert(item.path().filename().string());
        }
        return found == expected;
    }
    TempFolder temp_;
};

TEST_F(CopyEncryptedFileTest, EveryByteIsUnscrambledWithTheKey) {
    std::string product;
    for (int i = 0; i < 256; ++i) product += static_cast<char>(i);
    WriteFile(temp_ / "pkg", Scramble(product));
    Copy("pkg", "out");
    EXPECT_EQ(ReadFile(temp_ / "out"), product);
    EXPECT_EQ(ReadFile(temp_ / "pkg"), Scramble(product)) << "the package file is unchanged";
    // A package byte equal to the key gives 0, and a package byte 0 gives the key.
    WriteFile(temp_ / "pkg", std::string("\x5A\0", 2));
    Copy("pkg", "out");
    EXPECT_EQ(ReadFile(temp_ / "out"), std::string("\0\x5A", 2));
}

TEST_F(CopyEncryptedFileTest, LengthsAcrossBlockBoundaries) {
    for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{(1 << 20) - 1},
                                     std::size_t{1 << 20}, std::size_t{(1 << 20) * 2 + 7}}) {
        std::string product(length, '\0');
        for (std::size_t i = 0; i < length; ++i) product[i] = static_cast<char>(i * 31 + i / 7);
        WriteFile(temp_ / "pkg", Scramble(product));
        Copy("pkg", "out");
        EXPECT_EQ(ReadFile(temp_ / "out"), product) << length;
    }
}

TEST_F(CopyEncryptedFileTest, ReplacesLongerOldContentCompletelyAndRepeatably) {
    WriteFile(temp_ / "out", std::string(5000, 'o'));
    WriteFile(temp_ / "pkg", Scramble("new"));
    Copy("pkg", "out");
    Copy("pkg", "out");
    EXPECT_EQ(ReadFile(temp_ / "out"), "new");
    EXPECT_TRUE(LeftoversOnlyAre({"out", "pkg"}));
}

TEST_F(CopyEncryptedFileTest, MissingPackageFileLeavesTheOldProductFile) {
    WriteFile(temp_ / "out", "old");
    EXPECT_THROW(Copy("missing", "out"), std::system_error);
    EXPECT_EQ(ReadFile(temp_ / "out"), "old");
    EXPECT_TRUE(LeftoversOnlyAre({"out"}));
}

TEST_F(CopyEncryptedFileTest, DestinationThatIsAFolderFailsAndKeepsIt) {
    WriteFile(temp_ / "pkg", Scramble("x"));
    std::filesystem::create_directory(temp_ / "out");
    WriteFile(temp_ / "out" / "inside", "kept");
    EXPECT_THROW(Copy("pkg", "out"), std::system_error);
    EXPECT_EQ(ReadFile(temp_ / "out" / "inside"), "kept");
    EXPECT_TRUE(LeftoversOnlyAre({"out", "pkg"}));
}

TEST_F(CopyEncryptedFileTest, LeftoverPartialFileOfAnInterruptedRunIsReplaced) {
    WriteFile(temp_ / (std::string("out") + kPartialSuffix), "half of an old");
    WriteFile(temp_ / "pkg", Scramble("whole"));
    Copy("pkg", "out");
    EXPECT_EQ(ReadFile(temp_ / "out"), "whole");
    EXPECT_TRUE(LeftoversOnlyAre({"out", "pkg"}));
}

TEST(KillFileTest, DeletesOrdinaryFilesOnly) {
    TempFolder temp;
    WriteFile(temp / "file", "x");
    KillFile(SystemFileSystem(), (temp / "file").string());
    EXPECT_FALSE(std::filesystem::exists(temp / "file"));
    KillFile(SystemFileSystem(), (temp / "file").string());  // nothing there: nothing happens
    std::filesystem::create_directory(temp / "folder");
    KillFile(SystemFileSystem(), (temp / "folder").string());
    EXPECT_TRUE(std::filesystem::is_directory(temp / "folder"));
}

}  // namespace
}  // namespace zelvane
