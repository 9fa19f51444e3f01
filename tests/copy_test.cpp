// The unscrambling copy on the real file system of each platform.
#include "zelvane/engine/copy.h"

#include <gtest/gtest.h>

#include <set>

#include "test_support.h"
#include "zelvane/engine/paths.h"

namespace zelvane {
namespace {

using test::ReadFile;
using test::Scramble;
using test::WriteFile;
namespace fs = std::filesystem;

class CopyTest : public testing::Test {
  protected:
    CopyTest() : folder_(SystemFileSystem().OpenFolder(test::PathText(temp_.Path()))) {}

    void Copy(const std::string& product, const std::string& out = "out") {
        WriteFile(temp_ / "pkg", Scramble(product));
        CopyEncryptedFile(SystemFileSystem(), *folder_, test::PathText(temp_ / "pkg"),
                          SystemFileSystem().NativePath(out));
    }
    bool OnlyLeft(std::set<fs::path> expected) {
        expected.insert("pkg");
        std::set<fs::path> found;
        for (const auto& item : fs::directory_iterator(temp_.Path())) {
            found.insert(item.path().filename());
        }
        return found == expected;
    }

    test::TempFolder temp_;
    std::unique_ptr<Folder> folder_;
};

TEST_F(CopyTest, TheOldContentIsReplacedWholeAndAFailureLeavesIt) {
    WriteFile(temp_ / "out", std::string(3 << 20, 'o'));
    std::string product((64 << 10) * 2 + 7, '\0');
    for (std::size_t i = 0; i < product.size(); ++i) product[i] = static_cast<char>(i * 31 + i / 7);
    Copy(product);
    EXPECT_EQ(ReadFile(temp_ / "out"), product);
    EXPECT_EQ(ReadFile(temp_ / "pkg"), Scramble(product)) << "the package file is unchanged";
    EXPECT_THROW(
        CopyEncryptedFile(SystemFileSystem(), *folder_, test::PathText(temp_ / "missing"), "out"),
        std::system_error);
    fs::create_directories(temp_ / "dir" / "inside");
    EXPECT_THROW(Copy("x", "dir"), std::system_error);
    EXPECT_THROW(Copy("x", "no/such/folder"), std::system_error);
    EXPECT_EQ(ReadFile(temp_ / "out"), product);
    EXPECT_TRUE(fs::exists(temp_ / "dir" / "inside"));
    EXPECT_TRUE(OnlyLeft({"out", "dir"}));
}

TEST_F(CopyTest, LeftoversOfAnInterruptedRunNeverBlockARerun) {
    const std::string longName(250, 'n');
    for (const std::string& name : {std::string("out"), longName}) {
        WriteFile(temp_ / PartialName(name), "half of an old");
        fs::permissions(temp_ / PartialName(name), fs::perms::owner_read);
        Copy("whole", name);
        EXPECT_EQ(ReadFile(temp_ / name), "whole");
    }
    EXPECT_TRUE(OnlyLeft({"out", longName}));
}

}  // namespace
}  // namespace zelvane
