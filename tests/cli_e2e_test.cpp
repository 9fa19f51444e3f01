// The command-line programs as a user runs them, from a package folder: real files, real
// registration tool, real child processes, and the faults of a real disk.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <random>
#include <thread>

#include "child_process.h"
#include "test_support.h"
#include "zelvane/engine/paths.h"

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

class CliTest : public testing::Test {
  protected:
    // The programs are copied into the test's own folder, which an unprivileged user can reach
    // wherever the build lies.
    CliTest()
        : install_(temp_ / "Program Files" / "Zelvane"),
          package_(temp_ / "package"),
          bin_(temp_ / "bin"),
          log_("ZELVANE_RECORD_LOG", (temp_ / "log").string()) {
        test::MakeInstall(install_);
        fs::create_directories(install_ / "Help");
        fs::create_directories(package_);
        fs::create_directories(bin_);
        fs::copy_file(test::kUpdaterCli, bin_ / "zelvane-updater-cli");
        fs::copy_file(ZELVANE_BIN_DIR "/regsvr32.exe", bin_ / "regsvr32.exe");
    }

    void MakePackage(const std::string& list,
                     const std::vector<std::pair<std::string, std::string>>& files) {
        WriteFile(package_ / "FileList.txt", list);
        for (const auto& [name, content] : files) WriteFile(package_ / name, Scramble(content));
    }

    // A quick registration tool that tells nothing, beside the updater.
    void UseRecordingRegistrationTool() {
        fs::copy_file(ZELVANE_RECORD_PROGRAM, bin_ / "regsvr32.exe",
                      fs::copy_options::overwrite_existing);
    }

    test::ChildProcess Start(std::vector<std::string> args, test::ChildOptions options = {}) {
        args.insert(args.begin(), (bin_ / "zelvane-updater-cli").string());
        options.folder = package_;
        options.output = temp_ / "output";
        return test::ChildProcess(args, options);
    }

    Result Update(std::vector<std::string> args, test::ChildOptions options = {}) {
        const int status = Start(std::move(args), std::move(options)).Wait();
        return {status, ReadFile(temp_ / "output")};
    }

    test::TempFolder temp_;
    fs::path install_;
    fs::path package_;
    fs::path bin_;
    test::ScopedEnv log_;
};

struct StatusCase {
    std::vector<std::string> args;  // "@" stands for the install folder
    std::string list;
    std::function<void(const fs::path& install)> arrange;
    int status;
    std::string output;  // a part of it
};

TEST_F(CliTest, ExitStatusTellsHowTheUpdateEnded) {
    const auto none = [](const fs::path&) {};
    const StatusCase cases[] = {
        // The registration tool beside the updater speaks when not silent, then the updater.
        {{"@"}, "\xEF\xBB\xBF\"0\"\r\n\"x, y.txt\",p\r\n", none, 0,
         "DllRegisterServer in @/NavTree.ocx succeeded.\nThe update was installed successfully.\n"},
        {{"--silent", "@"}, "1\r\nx.txt,p\r\ny.txt,missing\r\n", none, 2,
         "Cannot copy file y.txt: cannot open"},
        {{"--silent", "@"}, "0\r\nx.txt,p\r\n",
         [](const fs::path& install) { fs::remove(install / "NavTree.ocx"); }, 2,
         "Cannot register NavTree.ocx: the registration tool ended with exit code 1\n"},
        {{"--silent", "@"}, "-3\r\n", none, 3, "below 0"},
        {{"--silent", "@"}, "0\r\nx.txt,p\r\n",
         [](const fs::path& install) { fs::remove(install / "RippleShift_kf.exe"); }, 1,
         "Version 3.0 or later could not be found in this folder\n"},
        {{}, "", none, 64, ""},
        {{"--loud", "@"}, "", none, 64, ""},
        {{"@", "@"}, "", none, 64, ""},
        {{"--help"}, "", none, 0, "usage: zelvane-updater-cli"},
    };
    for (const auto& c : cases) {
        test::MakeInstall(install_);
        MakePackage(c.list, {{"p", "x"}});
        c.arrange(install_);
        std::vector<std::string> args = c.args;
        for (auto& arg : args) arg = arg == "@" ? install_.string() : arg;
        const Result result = Update(args);
        EXPECT_EQ(result.status, c.status) << result.output;
        std::string output = c.output;
        if (const auto at = output.find('@'); at != std::string::npos) {
            output.replace(at, 1, install_.string());
        }
        EXPECT_NE(result.output.find(output), std::string::npos) << result.output;
    }
}

TEST_F(CliTest, ASecondRunOfTheSameFolderChangesNothingWhileTheFirstHoldsIt) {
    // A registration tool that takes its time, so that the first run holds the folder meanwhile.
    UseRecordingRegistrationTool();
    const test::ScopedEnv slow("ZELVANE_RECORD_SLEEP_MS", "1500");
    MakePackage("0\r\nnew.txt,p\r\n", {{"p", "first"}});
    test::ChildOptions quiet;
    quiet.output = temp_ / "first";
    test::ChildProcess first = Start({"--silent", install_.string()}, quiet);
    while (!fs::exists(install_ / "new.txt")) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    MakePackage("0\r\nnew.txt,p\r\n", {{"p", "second"}});
    const auto before = test::Snapshot(install_);
    const Result second = Update({"--silent", install_.string()});
    EXPECT_EQ(second.status, 3);
    EXPECT_EQ(second.output, "Another update of this folder is running.\n");
    EXPECT_EQ(test::Snapshot(install_), before);
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(ReadFile(install_ / "new.txt"), "first");
}

struct FaultCase {
    const char* name;
    std::string destName;
    std::string cause;
    std::function<void(const fs::path& install, const fs::path& package)> arrange;
    bool unprivileged;
    std::optional<rlim_t> fileSizeLimit;
};

TEST_F(CliTest, AFailingEntryIsReportedWithItsCauseAndNothingElseChanges) {
    const FaultCase cases[] = {
        {"disk full", "engine.exe", "File too large",
         [](const fs::path&, const fs::path& package) {
             WriteFile(package / "faulty", std::string(1 << 20, 'x'));
         },
         false, 256 << 10},
        {"read-only product file", "engine.exe", "read-only",
         [](const fs::path& install, const fs::path&) {
             fs::permissions(install / "engine.exe", fs::perms(0444));
         },
         false, std::nullopt},
        {"folder without write permission", "Help\\index.html", "Permission denied",
         [](const fs::path& install, const fs::path&) {
             fs::permissions(install / "Help", fs::perms(0555));
         },
         true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::MakeInstall(install_);
        fs::permissions(install_ / "Help", fs::perms(0755));
        fs::permissions(install_ / "engine.exe", fs::perms(0644));
        MakePackage("2\r\ngood.txt,good\r\n\"" + c.destName + "\",faulty\r\nafter.txt,after\r\n",
                    {{"good", "good"}, {"faulty", "new content"}, {"after", "after"}});
        if (c.unprivileged) test::GiveToUnprivilegedUser(temp_.Path());
        c.arrange(install_, package_);
        fs::remove(install_ / "good.txt");
        fs::remove(install_ / "after.txt");
        const auto before = test::Snapshot(install_);
        test::ChildOptions options;
        options.unprivileged = c.unprivileged;
        options.fileSizeLimit = c.fileSizeLimit;
        const Result result = Update({"--silent", install_.string()}, options);
        EXPECT_EQ(result.status, 2) << result.output;
        EXPECT_NE(result.output.find("Cannot copy file " + c.destName + ": "), std::string::npos)
            << result.output;
        EXPECT_NE(result.output.find(c.cause), std::string::npos) << result.output;
        EXPECT_EQ(ReadFile(install_ / "good.txt"), "good");
        EXPECT_EQ(ReadFile(install_ / "after.txt"), "after");
        auto after = test::Snapshot(install_);
        after.erase("good.txt");
        after.erase("after.txt");
        EXPECT_EQ(after, before);
    }
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
    std::vector<std::string> oldContent;
    for (int file = 0; file < kFiles; ++file) {
        const std::string number = std::to_string(file);
        list.append("d").append(number).append(",p").append(number) += "\r\n";
        packageFiles.emplace_back(std::string("p").append(number), Version(file, 'n'));
        oldContent.push_back(Version(file, 'o'));
    }
    MakePackage(list, packageFiles);
    const auto putOldFilesBack = [&] {
        for (int file = 0; file < kFiles; ++file) {
            WriteFile(install_ / std::string("d").append(std::to_string(file)), oldContent[file]);
        }
    };
    // How many files are new, and whether a partial file is left; fails on a file neither old
    // nor new.
    const auto countNewFiles = [&] {
        int fresh = 0;
        for (int file = 0; file < kFiles; ++file) {
            const std::string content =
                ReadFile(install_ / std::string("d").append(std::to_string(file)));
            fresh += content == packageFiles[file].second;
            if (content != packageFiles[file].second && content != oldContent[file]) {
                ADD_FAILURE() << "d" << file << " is neither old nor new, " << content.size();
            }
        }
        for (const auto& item : fs::directory_iterator(install_)) {
            if (item.path().string().ends_with(kPartialSuffix)) fresh += 100;
        }
        return fresh;
    };
    putOldFilesBack();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Start({"--silent", install_.string()}).Wait(), 0);
    const auto runTime = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(countNewFiles(), kFiles);

    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(runTime).count());
    int killedHalfway = 0;
    for (int kill = 0; kill < kKills && !HasFailure(); ++kill) {
        putOldFilesBack();
        {
            test::ChildProcess update = Start({"--silent", install_.string()});
            std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
            update.Kill();
            update.Wait();
        }
        const int fresh = countNewFiles();
        killedHalfway += fresh > 0 && fresh != kFiles;
        ASSERT_EQ(Start({"--silent", install_.string()}).Wait(), 0);
        EXPECT_EQ(countNewFiles(), kFiles);
    }
    std::cout << killedHalfway << " of " << kKills << " kills stopped the copy halfway\n";
    EXPECT_GT(killedHalfway, 0) << "no kill landed while files were being replaced";
}

}  // namespace
}  // namespace zelvane
