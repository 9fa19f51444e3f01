// The command-line programs as a user runs them, from a package folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "test_support.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Scramble;
using test::WriteFile;

struct Result {
    int status = -1;
    std::string output;
};

Result RunIn(const fs::path& folder, const std::string& command) {
    const std::string line = "cd '" + folder.string() + "' && " + command + " 2>/dev/null";
    FILE* pipe = ::popen(line.c_str(), "r");
    Result result;
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) {
        result.output.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

using test::kUpdaterCli;
const std::string kPack = std::string(ZELVANE_BIN_DIR) + "/zelvane-pack";

class CliTest : public testing::Test {
  protected:
    CliTest()
        : install_(temp_ / "Program Files" / "Zelvane"),
          package_(temp_ / "package"),
          log_("ZELVANE_RECORD_LOG", (temp_ / "log").string()) {
        test::MakeInstall(install_);
        fs::create_directories(install_ / "Help");
        fs::create_directories(package_);
    }

    Result Update(const std::string& options) {
        return RunIn(package_, kUpdaterCli + " " + options + " '" + install_.string() + "'");
    }

    test::TempFolder temp_;
    fs::path install_;
    fs::path package_;
    test::ScopedEnv log_;
};

TEST_F(CliTest, InstallsAHandWrittenPackageByteForByte) {
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary += static_cast<char>((i * 7) ^ (i >> 8));
    WriteFile(package_ / "one.dat", Scramble("first, with comma"));
    WriteFile(package_ / "two.dat", Scramble(binary));
    WriteFile(package_ / "three", Scramble("<h1>help</h1>"));
    WriteFile(package_ / "FileList.txt",
              "2\r\n"
              "\"Read me, please.txt\",\"one.dat\"\r\n"
              "  \"engine.exe\" , \"two.dat\"\r\n"
              "\"Help\\index.html\"\r\n"
              "three\r\n"
              "\r\n");
    const Result result = Update("");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(ReadFile(install_ / "Read me, please.txt"), "first, with comma");
    EXPECT_EQ(ReadFile(install_ / "engine.exe"), binary);
    EXPECT_EQ(ReadFile(install_ / "Help" / "index.html"), "<h1>help</h1>");
    // The registration tool beside the updater speaks when not silent, then the updater reports.
    EXPECT_EQ(result.output, "DllRegisterServer in " + (install_ / "NavTree.ocx").string() +
                                 " succeeded.\nThe update was installed successfully.\n");
    const auto records = test::ReadRecords(temp_ / "log");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].program, "UnpackDirs.exe");
    EXPECT_EQ(records[1].program, "ViewHost.exe");
}

TEST_F(CliTest, ExitStatusTellsHowTheUpdateEnded) {
    WriteFile(package_ / "p", Scramble("x"));
    WriteFile(package_ / "FileList.txt", "0\r\n\"x.txt\",\"p\"\r\n");
    Result silent = Update("--silent");
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.output, "The update was installed successfully.\n");

    WriteFile(package_ / "FileList.txt", "1\r\n\"x.txt\",\"p\"\r\n\"y.txt\",\"missing\"\r\n");
    const Result incomplete = Update("--silent");
    EXPECT_EQ(incomplete.status, 2);
    EXPECT_NE(incomplete.output.find("Cannot copy file y.txt"), std::string::npos);

    WriteFile(package_ / "FileList.txt", "-3\r\n");
    EXPECT_EQ(Update("--silent").status, 3);

    fs::remove(install_ / "RippleShift_kf.exe");
    const Result notFound = Update("--silent");
    EXPECT_EQ(notFound.status, 1);
    EXPECT_EQ(notFound.output, "Version 3.0 or later could not be found in this folder\n");

    EXPECT_EQ(RunIn(package_, kUpdaterCli).status, 64);
    EXPECT_EQ(RunIn(package_, kUpdaterCli + " --loud x").status, 64);
    EXPECT_EQ(RunIn(package_, kUpdaterCli + " a b").status, 64);
    EXPECT_EQ(RunIn(package_, kUpdaterCli + " --help").status, 0);
}

TEST_F(CliTest, PackBuildsWhatTheUpdaterInstalls) {
    const fs::path product = temp_ / "product";
    fs::create_directories(product / "Help" / "img");
    WriteFile(product / "engine.exe", std::string(3000, '\x5A'));
    WriteFile(product / "Help" / "index, old.html", "index");
    WriteFile(product / "Help" / "img" / "logo.bmp", "BM");
    fs::create_directories(install_ / "Help" / "img");
    ASSERT_EQ(RunIn(temp_.Path(), kPack + " build product package").status, 0);
    EXPECT_EQ(ReadFile(package_ / "FileList.txt"),
              "2\r\n\"Help\\img\\logo.bmp\",\"file00000.bin\"\r\n"
              "\"Help\\index, old.html\",\"file00001.bin\"\r\n"
              "\"engine.exe\",\"file00002.bin\"\r\n");
    EXPECT_EQ(RunIn(temp_.Path(), kPack + " check package").status, 0);
    EXPECT_EQ(Update("--silent").status, 0);
    for (const char* name : {"engine.exe", "Help/index, old.html", "Help/img/logo.bmp"}) {
        EXPECT_EQ(ReadFile(install_ / name), ReadFile(product / name)) << name;
    }
}

TEST_F(CliTest, PackRefusesWhatTheListCannotCarryAndCheckFindsProblems) {
    fs::create_directories(temp_ / "empty");
    EXPECT_EQ(RunIn(temp_.Path(), kPack + " build empty out").status, 1);
    fs::create_directories(temp_ / "quoted");
    WriteFile(temp_ / "quoted" / "say \"hi\".txt", "x");
    EXPECT_EQ(RunIn(temp_.Path(), kPack + " build quoted out").status, 1);

    WriteFile(package_ / "FileList.txt", "1\r\n\"..\\evil.dll\",\"p\"\r\n\"ok.txt\",\"gone\"\r\n");
    WriteFile(package_ / "p", "x");
    const Result check = RunIn(temp_.Path(), kPack + " check package");
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.output.find("unsafe name"), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("missing package file"), std::string::npos) << check.output;
    EXPECT_EQ(RunIn(temp_.Path(), kPack).status, 64);
}

}  // namespace
}  // namespace zelvane
