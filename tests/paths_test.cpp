#include "zelvane/engine/paths.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zelvane {
namespace {

// The path written with '/' and spelt with this platform's separator.
std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '/', SystemFileSystem().Separator());
    return path;
}

TEST(InstallFolder, EndsWithExactlyOneSeparator) {
    FileSystem& files = SystemFileSystem();
    EXPECT_EQ(InstallFolder(files, "/opt/zelvane"), Native("/opt/zelvane/"));
    EXPECT_EQ(InstallFolder(files, "/opt/zelvane/"), Native("/opt/zelvane/"));
    EXPECT_EQ(InstallFolder(files, ""), Native("/"));
    // Either separator in the path box is read as a separator.
    EXPECT_EQ(InstallFolder(files, "inst\\sub\\"), Native("inst/sub/"));
    EXPECT_EQ(InstallFolder(files, "inst/sub"), Native("inst/sub/"));
}

TEST(DestinationName, SafeNamesStayInsideTheFolder) {
    for (const char* name : {"a.txt", "Help\\index.html", "Help/index.html", "a..b", ".hidden",
                             "x\\.\\y", "CONSOLE.txt", "COM0", "LPT10"}) {
        EXPECT_EQ(UnsafeNameReason(name), "") << name;
    }
    EXPECT_EQ(DestinationPath(SystemFileSystem(), Native("/inst/"), "Help\\index.html"),
              Native("/inst/Help/index.html"));
}

TEST(DestinationName, NamesThatLeaveTheFolderAreRefused) {
    for (const char* name : {"",
                             "\\Windows\\x.dll",
                             "/etc/passwd",
                             "C:\\x.dll",
                             "c:x.dll",
                             "\\\\server\\share\\x",
                             "..\\x",
                             "a\\..\\..\\x",
                             "a/../x",
                             "..",
                             "...\\x",
                             ".. \\x",
                             "file.txt:stream",
                             "CON",
                             "nul.txt",
                             "Help\\aux",
                             "com1",
                             "LPT9.log",
                             "a\nb",
                             "tab\tname"}) {
        EXPECT_NE(UnsafeNameReason(name), "") << name;
        EXPECT_THROW(DestinationPath(SystemFileSystem(), "/inst/", name), std::runtime_error);
    }
}

}  // namespace
}  // namespace zelvane
