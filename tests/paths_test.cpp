#include "zelvane/engine/paths.h"

#include <gtest/gtest.h>

namespace zelvane {
namespace {

std::string Times(int count, const std::string& text) {
    std::string repeated;
    for (int i = 0; i < count; ++i) repeated += text;
    return repeated;
}

TEST(DestinationName, SafeNamesStayInsideTheFolder) {
    for (const char* name : {"a.txt", "Help\\index.html", "Help/index.html", "a..b", ".hidden",
                             "CONSOLE.txt", "COM10", "LPT", "COMA", "a.zelvane-partial.txt",
                             "\xC3\xA9t\xC3\xA9.txt", "\xF0\x9F\x93\x84.txt"}) {
        EXPECT_EQ(UnsafeNameReason(name), "") << name;
    }
    EXPECT_EQ(UnsafeNameReason("Help\\" + Times(255, "\xC3\xA9")), "");  // 255 UTF-16 code units
}

// Each name is refused by the rule that the reason names.
TEST(DestinationName, NamesThatLeaveTheFolderOrThatWindowsWouldChangeAreRefused) {
    const std::pair<const char*, std::vector<std::string>> refused[] = {
        {"empty", {""}},
        {"absolute", {"\\Windows\\x.dll", "/etc/passwd", "\\\\server\\share\\x"}},
        {"colon", {"C:\\x.dll", "c:x.dll", "file.txt:stream"}},
        {"climbs out", {"..\\x", "a\\..\\..\\x", "a/../x", "..", "...\\x", ".. \\x", "a\\. .\\x"}},
        {"device",
         {"CON", "nul.txt", "Help\\aux", "com1", "LPT9.log", "COM0", "lpt0.x", "con ", "NUL .txt",
          "CONIN$", "conout$.log", "COM\xC2\xB9", "lpt\xC2\xB3.txt"}},
        {"dot or a blank", {"trailing.", "trailing ", "dir.\\x", "x\\.\\y"}},
        {"Windows does not allow", {"a?b", "a*b", "a<b", "a>b", "a|b", "a\"b"}},
        {"control character",
         {"a\nb", "tab\tname", "del\x7F", "c1\xC2\x9B[2K", std::string("nul\0byte", 8)}},
        {"not valid UTF-8", {"latin\xE9", "\xC0\xAF", "\xED\xA0\x80", "cut\xC3"}},
        {"updater's own files", {"engine.exe.zelvane-partial", "Help\\X.ZELVANE-PARTIAL"}},
        // 256 UTF-16 code units each.
        {"longer than 255", {Times(128, "\xF0\x9F\x93\x84"), std::string(256, 'n')}},
    };
    for (const auto& [reason, names] : refused) {
        for (const std::string& name : names) {
            EXPECT_NE(UnsafeNameReason(name).find(reason), std::string::npos) << name;
        }
    }
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
    const std::string cut = PartialName("a" + Times(150, "\xC3\xA9"));
    EXPECT_EQ((cut.rfind('~') - 1) % 2, 0u) << "no character is cut in two";
}

}  // namespace
}  // namespace zelvane
