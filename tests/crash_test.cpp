// The updater killed at any moment while it replaces large product files loses nothing: every
// product file is wholly old or wholly new, and running the update again completes it.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <random>
#include <thread>

#include "child_process.h"
#include "test_support.h"
#include "zelvane/engine/copy.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kProductFiles = 6;
constexpr std::size_t kFileSize = 3 << 20;
constexpr int kKills = 30;

// Content that differs from the other version's at every byte and in length, so that a file
// mixing the two, or cut short, is told from both.
std::string Version(int file, char version) {
    std::string content(kFileSize + (version == 'n' ? 4096 : 0), '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(version + file + (i % 13) * 2);
    }
    return content;
}

std::string ProductName(int file) { return "data" + std::to_string(file) + ".pak"; }

class CrashTest : public testing::Test {
  protected:
    CrashTest() : install_(temp_ / "Zelvane"), package_(temp_ / "package"), cli_(temp_ / "bin") {
        // A quick registration tool beside the updater, so that a run is mostly copying and the
        // random kills land while files are being replaced.
        fs::create_directories(cli_);
        fs::copy_file(test::kUpdaterCli, cli_ / "updater");
        fs::copy_file(ZELVANE_RECORD_PROGRAM, cli_ / "regsvr32.exe");
        cli_ /= "updater";
        test::MakeInstall(install_);
        fs::create_directories(package_);
        std::string list = std::to_string(kProductFiles - 1) + "\r\n";
        for (int file = 0; file < kProductFiles; ++file) {
            const std::string source = "p" + std::to_string(file);
            test::WriteFile(package_ / source, test::Scramble(Version(file, 'n')));
            list += "\"" + ProductName(file) + "\",\"" + source + "\"\r\n";
            oldContent_.push_back(Version(file, 'o'));
            newContent_.push_back(Version(file, 'n'));
        }
        test::WriteFile(package_ / "FileList.txt", list);
    }

    void PutOldFilesBack() {
        for (int file = 0; file < kProductFiles; ++file) {
            test::WriteFile(install_ / ProductName(file), oldContent_[file]);
        }
    }

    test::ChildProcess StartUpdate() {
        test::ChildOptions options;
        options.folder = package_;
        return test::ChildProcess({cli_.string(), "--silent", install_.string()}, options);
    }

    // How many product files hold the new version; fails when any holds neither version whole.
    int CountNewFiles() {
        int fresh = 0;
        for (int file = 0; file < kProductFiles; ++file) {
            const std::string content = test::ReadFile(install_ / ProductName(file));
            if (content == newContent_[file]) {
                ++fresh;
            } else if (content != oldContent_[file]) {
                ADD_FAILURE() << ProductName(file) << " is neither old nor new, " << content.size()
                              << " bytes";
            }
        }
        return fresh;
    }

    int CountPartialFiles() {
        int partial = 0;
        for (const auto& item : fs::recursive_directory_iterator(install_)) {
            if (item.path().string().ends_with(kPartialSuffix)) ++partial;
        }
        return partial;
    }

    test::TempFolder temp_;
    fs::path install_;
    fs::path package_;
    fs::path cli_;
    std::vector<std::string> oldContent_;
    std::vector<std::string> newContent_;
};

TEST_F(CrashTest, KilledAnywhereEveryFileIsWholeAndARerunCompletesTheUpdate) {
    PutOldFilesBack();
    const auto start = Clock::now();
    ASSERT_EQ(StartUpdate().Wait(), 0);
    const auto runTime = Clock::now() - start;
    ASSERT_EQ(CountNewFiles(), kProductFiles);

    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(runTime).count());
    int killedHalfway = 0;
    for (int kill = 0; kill < kKills && !HasFailure(); ++kill) {
        PutOldFilesBack();
        {
            test::ChildProcess update = StartUpdate();
            std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
            update.Kill();
            update.Wait();
        }
        const int fresh = CountNewFiles();
        if ((fresh > 0 && fresh < kProductFiles) || CountPartialFiles() > 0) ++killedHalfway;
        ASSERT_EQ(StartUpdate().Wait(), 0);
        EXPECT_EQ(CountNewFiles(), kProductFiles);
        EXPECT_EQ(CountPartialFiles(), 0);
    }
    std::cout << killedHalfway << " of " << kKills
              << " kills stopped the copy halfway; a run takes "
              << std::chrono::duration_cast<std::chrono::milliseconds>(runTime).count() << " ms\n";
    EXPECT_GT(killedHalfway, 0) << "no kill landed while files were being replaced";
}

}  // namespace
}  // namespace zelvane
