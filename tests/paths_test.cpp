#include "zelvane/engine/paths.h"

#include <gtest/gtest.h>

namespace zelvane {
namespace {

TEST(DestinationName, SafeNamesStayInsideTheFolder) {
    for (const char* name : {"a.txt", "Help\\index.html", "Help/index.html", "a..b", ".hidden",
                             "CONSOLE.txt", "COM10", "LPT", "COMA", "a.zelvane-partial.txt",
                             "\xC3\xA9t\xC3\xA9.txt", "\xF0\x9F\x93\x84.txt"}) {
        EXPECT_EQ(UnsafeNameReason(name), "") << name;
    }
    std::string longest;  // 255 UTF-16 code units, 510 bytes
    for (int i = 0; i < 255; ++i) longest += "\xC3\xA9";
    EXPECT_EQ(UnsafeNameReason("Help\\" + longest), "");
    EXPECT_EQ(DestinationName(SystemFileSystem(), "Help\\index.html"),
              "Help" + std::string(1, SystemFileSystem().Separator()) + "index.html");
}

TEST(DestinationName, NamesThatLeaveTheFolderOrThatWindowsWouldChangeAreRefused) {
    for (const char* name :
         {"", "\\Windows\\x.dll", "/etc/passwd", "C:\\x.dll", "c:x.dll", "\\\\server\\share\\x",
          "..\\x", "a\\..\\..\\x", "a/../x", "..", "...\\x", ".. \\x", "x\\.\\y", "file.txt:stream",
          "CON", "nul.txt", "Help\\aux", "com1", "LPT9.log", "COM0", "lpt0.x", "con ", "NUL .txt",
          "CONIN$", "conout$.log", "COM\xC2\xB9", "lpt\xC2\xB3.txt", "trailing.", "trailing ",
          "dir.\\x", "a\nb", "tab\tname", "engine.exe.zelvane-partial",
          "Help\\X.ZELVANE-PARTIAL", "a?b", "a*b", "a<b", "a>b", "a|b", "a\"b", "del\x7F",
          "c1\xC2\x9B[2K", "latin\xE9", "\xC0\xAF", "\xED\xA0\x80", "cut\xC3"}) {
        EXPECT_NE(UnsafeNameReason(name), "") << name;
        EXPECT_THROW(DestinationName(SystemFileSystem(), name), std::runtime_error) << name;
    }
    EXPECT_NE(UnsafeNameReason(std::string("nul\0byte", 8)), "");
    std::string past;  // 256 UTF-16 code units in 128 characters
    for (int i = 0; i < 128; ++i) past += "\xF0\x9F\x93\x84";
    EXPECT_NE(UnsafeNameReason(past), "");
    EXPECT_NE(UnsafeNameReason(std::string(256, 'n')), "");
    EXPECT_EQ(UnsafeNameReason("a\\. .\\x"), "the name climbs out of the install folder");
}

TEST(Visible, ControlCharactersAndInvalidBytesShowAsEscapes) {
    EXPECT_EQ(Visible("Ok\r\n\x1B[2K\t\xC2\x9B\xFF\xC3 C:\\\xC3\xA9"),
              "Ok\\r\\n\\x1B[2K\\t\\x9B\\xFF\\xC3 C:\\\xC3\xA9");
}

TEST(PartialName, StaysBesideTheProductFileAndWithinTheLongestName) {
    EXPECT_EQ(PartialName("Help/a.txt"), "Help/a.txt.zelvane-partial");
    const std::string longName = "Help/" + std::string(250, 'n');
    const std::string partial = PartialName(longName);
    EXPECT_TRUE(partial.starts_with("Help/nnn") && partial.ends_with(".zelvane-partial"));
    EXPECT_EQ(partial.size(), 5u + 255u);
    EXPECT_NE(PartialName(longName + "x"), partial);
    std::string accents;
    for (int i = 0; i < 150; ++i) accents += "\xC3\xA9";
    const std::string cut = PartialName("a" + accents);
    EXPECT_EQ((cut.rfind('~') - 1) % 2, 0u) << "no character is cut in two";
}

}  // namespace
}  // namespace zelvane
