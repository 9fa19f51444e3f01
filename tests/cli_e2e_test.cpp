// The command-line programs as a user runs them, from a package folder: real files, real
// registration tool, real child processes, and the faults of a real disk.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "child_process.h"
#include "test_support.h"
#include "zelvane/engine/paths.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class CliTest : public testing::Test {
  protected:
    // The programs are copied into the test's own folder, which an unprivileged user can reach
    // wherever the build lies.
    CliTest() : log_("ZELVANE_RECORD_LOG", (temp_ / "log").string()) {
        test::MakeInstall(install_);
        fs::create_directories(package_);
        fs::create_directories(temp_ / "bin");
        fs::copy_file(test::kUpdaterCli, temp_ / "bin" / "zelvane-updater-cli");
        fs::copy_file(ZELVANE_BIN_DIR "/regsvr32.exe", temp_ / "bin" / "regsvr32.exe");
    }

    void MakePackage(const std::string& list,
                     const std::vector<std::pair<std::string, std::string>>& files) {
        WriteFile(package_ / "FileList.txt", list);
        for (const auto& [name, content] : files)
            WriteFile(package_ / name, test::Scramble(content));
    }

    // A quick registration tool that tells nothing, beside the updater.
    void UseRecordingRegistrationTool() {
        fs::copy_file(ZELVANE_RECORD_PROGRAM, temp_ / "bin" / "regsvr32.exe",
                      fs::copy_options::overwrite_existing);
    }

    // Runs the updater on the install folder, its output left in Output().
    test::ChildProcess Start(std::vector<std::string> args = {"--silent", "@"},
                             test::ChildOptions options = {}) {
        for (auto& arg : args) arg = AtInstall(arg);
        args.insert(args.begin(), (temp_ / "bin" / "zelvane-updater-cli").string());
        options.folder = package_;
        options.output = temp_ / "output";
        return test::ChildProcess(args, options);
    }
    std::string Output() const { return ReadFile(temp_ / "output"); }
    // "@" stands for the install folder.
    std::string AtInstall(std::string text) const {
        if (const auto at = text.find('@'); at != std::string::npos) text.replace(at, 1, install_);
        return text;
    }

    test::TempFolder temp_;
    fs::path install_ = temp_ / "Program Files" / "Zelvane";
    fs::path package_ = temp_ / "package";
    test::ScopedEnv log_;
};

TEST_F(CliTest, ExitStatusAndOutputTellHowTheUpdateEndedAndAFailureChangesNothing) {
    const std::vector<std::string> silent = {"--silent", "@"};
    const struct {
        std::vector<std::string> args;
        std::string list;
        int status;
        std::string output;                 // a part of it
        std::string removed{}, readOnly{};  // in the install folder
        test::ChildOptions options = {};
    } cases[] = {
        // The registration tool beside the updater speaks when not silent, then the updater.
        {{"@"},
         "\xEF\xBB\xBF\"0\"\r\n\"x, y.txt\",p\r\n",
         0,
         "DllRegisterServer in @/NavTree.ocx succeeded.\nThe update was installed successfully.\n"},
        {silent, "0\r\nx.txt,missing\r\n", 2,
         "Cannot register NavTree.ocx: the registration tool ended with exit code 1\n",
         "NavTree.ocx"},
        {silent, "-3\r\n", 3, "below 0"},
        {silent, "0\r\nx.txt,p\r\n", 1, "Version 3.0 or later could not be found in this folder\n",
         "RippleShift_kf.exe"},
        {{}, "", 64, ""},
        {{"--loud", "@"}, "", 64, ""},
        {{"@", "@"}, "", 64, ""},
        {{"--help"}, "", 0, "usage: zelvane-updater-cli"},
        // The faults of a real disk: full, a read-only file, a folder the user may not write to.
        {silent, "0\r\nx.txt,p\r\n", 2, ": File too large\n", "", "", {".", "", 256 << 10}},
        {silent, "0\r\nengine.exe,p\r\n", 2, "cannot replace the read-only file", "", "engine.exe"},
        {silent, "0\r\nx.txt,p\r\n", 2, ": Permission denied\n", "", ".", {".", "", {}, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        test::MakeInstall(install_);
        MakePackage(c.list, {{"p", std::string(1 << 20, 'x')}});
        if (!c.removed.empty()) fs::remove(install_ / c.removed);
        if (!c.readOnly.empty()) fs::permissions(install_ / c.readOnly, fs::perms(0555));
        if (c.options.unprivileged) test::GiveToUnprivilegedUser(temp_.Path());
        const auto before = test::Snapshot(install_);
        EXPECT_EQ(Start(c.args, c.options).Wait(), c.status) << Output();
        EXPECT_NE(Output().find(AtInstall(c.output)), std::string::npos) << Output();
        if (c.status != 0) {
            EXPECT_EQ(test::Snapshot(install_), before);
        }
    }
}

TEST_F(CliTest, ASecondRunOfTheSameFolderChangesNothingWhileTheFirstHoldsIt) {
    // A registration tool that takes its time, so that the first run holds the folder meanwhile.
    UseRecordingRegistrationTool();
    const test::ScopedEnv slow("ZELVANE_RECORD_SLEEP_MS", "1500");
    MakePackage("0\r\nnew.txt,p\r\n", {{"p", "first"}});
    test::ChildProcess first = Start();
    while (!fs::exists(install_ / "new.txt"))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    MakePackage("0\r\nnew.txt,p\r\n", {{"p", "second"}});
    const auto before = test::Snapshot(install_);
    EXPECT_EQ(Start().Wait(), 3);
    EXPECT_EQ(Output(), "Another update of this folder is running.\n");
    EXPECT_EQ(test::Snapshot(install_), before);
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(ReadFile(install_ / "new.txt"), "first");
}

// Content that differs from the other version's at every byte and in length, so that a file
// mixing the two, or cut short, is told from both.
std::string Version(int file, char version) {
    std::string content((3 << 20) + (version == 'n' ? 4096 : 0), '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(version + file + (i % 13) * 2);
    }
    return content;
}

TEST_F(CliTest, KilledAnywhereEveryFileIsWholeAndARerunCompletesTheUpdate) {
    constexpr int kFiles = 6;
    constexpr int kKills = 30;
    UseRecordingRegistrationTool();  // so that a run is mostly copying, where the kills land
    std::string list = std::to_string(kFiles - 1) + "\r\n";
    std::vector<std::pair<std::string, std::string>> packageFiles;
    for (int file = 0; file < kFiles; ++file) {
        list.append(std::to_string(file)).append(",p").append(std::to_string(file)) += "\r\n";
        packageFiles.emplace_back(std::string("p").append(std::to_string(file)),
                                  Version(file, 'n'));
    }
    MakePackage(list, packageFiles);
    const auto putOldFilesBack = [&] {
        for (int file = 0; file < kFiles; ++file)
            WriteFile(install_ / std::to_string(file), Version(file, 'o'));
    };
    // How many files are new, and whether a partial file is left; fails on a file neither old
    // nor new.
    const auto countNewFiles = [&] {
        int fresh = 0;
        for (int file = 0; file < kFiles; ++file) {
            const std::string content = ReadFile(install_ / std::to_string(file));
            fresh += content == packageFiles[file].second;
            EXPECT_TRUE(content == packageFiles[file].second || content == Version(file, 'o'))
                << file << " is neither old nor new, " << content.size();
        }
        for (const auto& item : fs::directory_iterator(install_)) {
            if (item.path().string().ends_with(kPartialSuffix)) fresh += 100;
        }
        return fresh;
    };
    putOldFilesBack();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Start().Wait(), 0);
    const auto runTime = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(countNewFiles(), kFiles);

    const unsigned seed = std::random_device()();
    SCOPED_TRACE(std::string("seed ").append(std::to_string(seed)));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(runTime).count());
    int killedHalfway = 0;
    for (int kill = 0; kill < kKills && !HasFailure(); ++kill) {
        putOldFilesBack();
        {
            const test::ChildProcess update = Start();  // killed when it goes
            std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        }
        const int fresh = countNewFiles();
        killedHalfway += fresh > 0 && fresh != kFiles;
        ASSERT_EQ(Start().Wait(), 0);
        EXPECT_EQ(countNewFiles(), kFiles);
    }
    EXPECT_GT(killedHalfway, 0) << "no kill landed while files were being replaced";
}

}  // namespace
}  // namespace zelvane
