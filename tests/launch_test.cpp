#include "zelvane/engine/launch.h"

#include <gtest/gtest.h>

namespace zelvane {
namespace {

TEST(RegistrationCommand, IsBuiltFromItsPiecesExactly) {
    EXPECT_EQ(RegistrationCommandLine("C:\\Program Files\\Zelvane\\NavTree.ocx", false),
              "regsvr32.exe \"C:\\Program Files\\Zelvane\\NavTree.ocx\"");
    EXPECT_EQ(RegistrationCommandLine("C:\\Program Files\\Zelvane\\NavTree.ocx", true),
              "regsvr32.exe /s \"C:\\Program Files\\Zelvane\\NavTree.ocx\"");
}

TEST(RegistrationCommand, SplitsIntoToolAndArguments) {
    const ProgramLaunch silent =
        SplitCommandLine(RegistrationCommandLine("/opt/My Apps/z/NavTree.ocx", true));
    EXPECT_EQ(silent.program, "regsvr32.exe");
    EXPECT_EQ(silent.arguments, (std::vector<std::string>{"/s", "/opt/My Apps/z/NavTree.ocx"}));
    const ProgramLaunch loud = SplitCommandLine(RegistrationCommandLine("/z/NavTree.ocx", false));
    EXPECT_EQ(loud.arguments, (std::vector<std::string>{"/z/NavTree.ocx"}));
}

TEST(RegistrationCommand, EmptyQuotesAreAnEmptyArgument) {
    EXPECT_EQ(SplitCommandLine("tool \"\"  x").arguments, (std::vector<std::string>{"", "x"}));
}

}  // namespace
}  // namespace zelvane
