#include <gtest/gtest.h>

#include "test_support.h"
#include "zelvane/engine/copy.h"

namespace zelvane {
namespace {

using test::Scramble;
using test::TempFolder;
using test::WriteFile;

TEST(CopyEncryptedFilePosix, ReplacedProgramStaysRunnable) {
    TempFolder temp;
    WriteFile(temp / "out", "#!/bin/sh\n");
    std::filesystem::permissions(temp / "out", std::filesystem::perms(0755));
    WriteFile(temp / "pkg", Scramble("#!/bin/sh\nexit 0\n"));
    CopyEncryptedFile(SystemFileSystem(), (temp / "pkg").string(), (temp / "out").string());
    EXPECT_EQ(std::filesystem::status(temp / "out").permissions(), std::filesystem::perms(0755));
}

}  // namespace
}  // namespace zelvane
