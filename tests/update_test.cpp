#include "zelvane/engine/update.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace zelvane {
namespace {

using test::ReadFile;
using test::ReadRecords;
using test::Scramble;
using test::WriteFile;
namespace fs = std::filesystem;

class UpdateTest : public testing::Test {
  protected:
    UpdateTest()
        : install_(temp_ / "Program Files" / "Zelvane"),
          package_(temp_ / "package"),
          tools_((fs::create_directories(temp_ / "tools"), temp_ / "tools")),
          log_("ZELVANE_RECORD_LOG", (temp_ / "log").string()),
          registration_(tools_) {
        test::MakeInstall(install_);
        fs::create_directories(install_ / "Help");
        fs::create_directories(package_);
        current_.emplace(package_);
    }

    // A package with the given product files, in list order, and its list written by hand.
    void MakePackage(const std::vector<std::pair<std::string, std::string>>& files) {
        std::string list = std::to_string(files.size() - 1) + "\r\n";
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string source = "p" + std::to_string(i) + ".bin";
            WriteFile(package_ / source, Scramble(files[i].second));
            list += "\"" + files[i].first + "\",\"" + source + "\"\r\n";
        }
        WriteFile(package_ / "FileList.txt", list);
    }

    UpdateOutcome Run(test::RecordingWindow& window) {
        return RunUpdate({window, SystemFileSystem(), SystemProcesses()});
    }

    std::vector<std::string> ProgramsRun() {
        std::vector<std::string> names;
        for (const auto& record : ReadRecords(temp_ / "log")) names.push_back(record.program);
        return names;
    }

    test::TempFolder temp_;
    fs::path install_;
    fs::path package_;
    fs::path tools_;
    test::ScopedEnv log_;
    test::RecordingRegistrationTool registration_;
    std::optional<test::ScopedCurrentFolder> current_;
};

TEST_F(UpdateTest, FullRunCopiesRegistersAndRunsTheProgramsInOrder) {
    MakePackage({{"a.txt", "alpha"},
                 {"Help\\index.html", "<html>"},
                 {"with, comma.txt", "c"},
                 {"engine.exe", "new engine"},
                 {"empty.dat", ""}});
    test::RecordingWindow window(install_.string(), 1);
    EXPECT_EQ(Run(window), UpdateOutcome::Installed);

    EXPECT_EQ(ReadFile(install_ / "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(install_ / "Help" / "index.html"), "<html>");
    EXPECT_EQ(ReadFile(install_ / "with, comma.txt"), "c");
    EXPECT_EQ(ReadFile(install_ / "engine.exe"), "new engine");
    EXPECT_EQ(ReadFile(install_ / "empty.dat"), "");

    EXPECT_EQ(window.maxima, std::vector<float>{5});
    EXPECT_EQ(window.values, (std::vector<float>{0, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(window.pointers, (std::vector<int>{kPointerHourglass, kPointerDefault}));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "The update was installed successfully.");
    EXPECT_EQ(window.messages[0].code, 0);
    EXPECT_EQ(window.messages[0].title, "");
    EXPECT_EQ(window.messages[0].pointerWhileShown, kPointerDefault);
    EXPECT_TRUE(window.closed);

    const auto records = ReadRecords(temp_ / "log");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].program, "regsvr32.exe");
    EXPECT_EQ(records[0].arguments,
              (std::vector<std::string>{"/s", (install_ / "NavTree.ocx").string()}));
    EXPECT_EQ(records[0].currentFolder, package_.string());
    for (std::size_t i : {1u, 2u}) {
        EXPECT_EQ(records[i].currentFolder, install_.string());
        EXPECT_TRUE(records[i].arguments.empty());
        EXPECT_GE(records[i].startMs, records[i - 1].endMs) << "started after the previous ended";
    }
    EXPECT_EQ(records[1].program, "UnpackDirs.exe");
    EXPECT_EQ(records[2].program, "ViewHost.exe");
}

TEST_F(UpdateTest, ARelativeInstallFolderStillRunsItsPrograms) {
    MakePackage({{"a.txt", "a"}});
    test::RecordingWindow window("..\\Program Files\\Zelvane", 0);
    EXPECT_EQ(Run(window), UpdateOutcome::Installed);
    EXPECT_EQ(ProgramsRun(),
              (std::vector<std::string>{"regsvr32.exe", "UnpackDirs.exe", "ViewHost.exe"}));
}

TEST_F(UpdateTest, AFolderLackingAnyMarkerIsRefusedAndLeftUntouched) {
    for (const char* marker : {kMarkerFiles.front(), kMarkerFiles.back()}) {
        MakePackage({{"a.txt", "a"}});
        test::MakeInstall(install_);
        fs::remove(install_ / marker);
        test::RecordingWindow window(install_.string(), 1);
        EXPECT_EQ(Run(window), UpdateOutcome::NotFound);
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].text,
                  "Version 3.0 or later could not be found in this folder");
        EXPECT_EQ(window.messages[0].code, 0);
        EXPECT_TRUE(window.pointers.empty());
        EXPECT_TRUE(window.values.empty());
        EXPECT_FALSE(window.closed);
        EXPECT_FALSE(fs::exists(install_ / "a.txt"));
        EXPECT_TRUE(ProgramsRun().empty());
    }
    // A folder counts as missing too.
    fs::create_directory(install_ / kMarkerFiles.back());
    test::RecordingWindow window(install_.string(), 1);
    EXPECT_EQ(Run(window), UpdateOutcome::NotFound);
}

TEST_F(UpdateTest, FailingEntriesAreSkippedAndReportedInsteadOfSuccess) {
    MakePackage({{"a.txt", "a"}, {"b.txt", "b"}, {"..\\escaped.txt", "x"}, {"d.txt", "d"}});
    fs::remove(package_ / "p1.bin");
    WriteFile(install_ / "b.txt", "old b");
    test::RecordingWindow window(install_.string(), 1);
    EXPECT_EQ(Run(window), UpdateOutcome::Incomplete);

    EXPECT_EQ(ReadFile(install_ / "a.txt"), "a");
    EXPECT_EQ(ReadFile(install_ / "b.txt"), "old b") << "kept when its package file is missing";
    EXPECT_FALSE(fs::exists(install_.parent_path() / "escaped.txt"));
    EXPECT_EQ(ReadFile(install_ / "d.txt"), "d");
    EXPECT_EQ(window.values, (std::vector<float>{0, 0, 3, 4}));

    ASSERT_EQ(window.messages.size(), 1u);
    const std::string& report = window.messages[0].text;
    EXPECT_NE(report.find("2 of 4 files were installed"), std::string::npos) << report;
    EXPECT_NE(report.find("Cannot copy file b.txt: "), std::string::npos) << report;
    EXPECT_NE(report.find("Cannot copy file ..\\escaped.txt: "), std::string::npos) << report;
    EXPECT_EQ(report.find("a.txt"), std::string::npos) << report;
    EXPECT_TRUE(window.closed);
    EXPECT_EQ(ProgramsRun().size(), 3u);
}

TEST_F(UpdateTest, AListEndingEarlyFailsTheRestWithoutReadingThemOneByOne) {
    WriteFile(package_ / "p0.bin", Scramble("a"));
    WriteFile(package_ / "FileList.txt", "2000000000\r\n\"a.txt\",\"p0.bin\"\r\n\"b.txt\"\r\n");
    test::RecordingWindow window(install_.string(), 1);
    EXPECT_EQ(Run(window), UpdateOutcome::Incomplete);
    EXPECT_EQ(ReadFile(install_ / "a.txt"), "a");
    const std::string& report = window.messages.at(0).text;
    EXPECT_NE(report.find("Cannot copy file b.txt: "), std::string::npos) << report;
    EXPECT_NE(report.find("entries 2 to 2000000000"), std::string::npos) << report;
}

TEST_F(UpdateTest, UnusablePackageListsStopBeforeAnythingIsWritten) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"cannot open", std::nullopt},
        {"empty", ""},
        {"number of its last entry", "abc\r\n\"a.txt\",\"p0.bin\"\r\n"},
        {"below 0", "-1\r\n"},
        {"too large", "2147483647\r\n"}};
    WriteFile(package_ / "p0.bin", Scramble("a"));
    for (const auto& [reason, list] : cases) {
        fs::remove(package_ / "FileList.txt");
        if (list) WriteFile(package_ / "FileList.txt", *list);
        test::RecordingWindow window(install_.string(), 1);
        EXPECT_EQ(Run(window), UpdateOutcome::NotStarted);
        ASSERT_EQ(window.messages.size(), 1u);
        const std::string& text = window.messages[0].text;
        EXPECT_NE(text.find("FileList.txt"), std::string::npos) << text;
        EXPECT_NE(text.find(package_.string()), std::string::npos) << text;
        EXPECT_NE(text.find(reason), std::string::npos) << text;
        EXPECT_EQ(window.pointers, (std::vector<int>{kPointerHourglass, kPointerDefault}));
        EXPECT_EQ(window.messages[0].pointerWhileShown, kPointerDefault);
        EXPECT_FALSE(window.closed);
        EXPECT_FALSE(fs::exists(install_ / "a.txt"));
        EXPECT_TRUE(ProgramsRun().empty());
    }
}

TEST_F(UpdateTest, ProgramsThatCannotBeStartedAreReportedAndTheRestStillRuns) {
    MakePackage({{"a.txt", "a"}});
    fs::remove(tools_ / "regsvr32.exe");
    fs::remove(install_ / "UnpackDirs.exe");
    test::ScopedEnv path("PATH", tools_.string());
    test::RecordingWindow window(install_.string(), 1);
    EXPECT_EQ(Run(window), UpdateOutcome::Incomplete);
    EXPECT_EQ(ProgramsRun(), std::vector<std::string>{"ViewHost.exe"});
    const std::string& report = window.messages.at(0).text;
    EXPECT_NE(report.find("1 of 1 files were installed"), std::string::npos) << report;
    EXPECT_NE(report.find("Cannot register NavTree.ocx"), std::string::npos) << report;
    EXPECT_NE(report.find("UnpackDirs.exe"), std::string::npos) << report;
    EXPECT_EQ(window.values.back(), 1.0f);
    EXPECT_EQ(window.pointers.back(), kPointerDefault);
}

TEST_F(UpdateTest, ASecondProgramThatCannotBeStartedIsTriedTwiceThenReported) {
    MakePackage({{"a.txt", "a"}});
    fs::remove(install_ / "ViewHost.exe");
    test::RecordingWindow window(install_.string(), 1);
    EXPECT_EQ(Run(window), UpdateOutcome::Incomplete);
    const std::string& report = window.messages.at(0).text;
    EXPECT_NE(report.find("Cannot run " + (install_ / "ViewHost.exe").string()), std::string::npos)
        << report;
    EXPECT_TRUE(window.closed);
}

// The window side failing while the update runs: with a standard exception, and with anything
// else thrown.
class FailingWindow final : public WindowSide {
  public:
    FailingWindow(std::string path, bool standard) : inner_(std::move(path)), standard_(standard) {}

    std::string PathText() override { return inner_.PathText(); }
    int SilentFlag() override { return inner_.SilentFlag(); }
    void SetProgressMax(float maximum) override { inner_.SetProgressMax(maximum); }
    void SetProgressValue(float value) override {
        if (value > 0 && standard_) throw std::runtime_error("the progress bar is gone");
        if (value > 0) throw 42;
        inner_.SetProgressValue(value);
    }
    float ProgressValue() override { return inner_.ProgressValue(); }
    int PointerShape() override { return inner_.PointerShape(); }
    void SetPointerShape(int shape) override { inner_.SetPointerShape(shape); }
    void ShowMessage(const std::string& text, int code, const std::string& title) override {
        inner_.ShowMessage(text, code, title);
    }
    void CloseWindow() override { inner_.CloseWindow(); }

    test::RecordingWindow inner_;

  private:
    bool standard_;
};

TEST_F(UpdateTest, AWindowFailingMidwayEndsInAMessageNotAnException) {
    MakePackage({{"a.txt", "a"}, {"b.txt", "b"}});
    for (const bool standard : {true, false}) {
        FailingWindow window(install_.string(), standard);
        EXPECT_EQ(RunUpdate({window, SystemFileSystem(), SystemProcesses()}),
                  UpdateOutcome::Stopped);
        ASSERT_EQ(window.inner_.messages.size(), 1u);
        EXPECT_EQ(window.inner_.messages[0].text,
                  standard ? "The update stopped: the progress bar is gone"
                           : "The update stopped: an unknown failure");
        EXPECT_EQ(window.inner_.pointer, kPointerDefault) << "the busy pointer is put back";
        EXPECT_FALSE(window.inner_.closed);
    }
}

}  // namespace
}  // namespace zelvane
