// Faults of the disk, the install and the package: the failing entry is reported with its cause,
// the other entries are still installed, and nothing else in the install folder changes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>

#include "child_process.h"
#include "test_support.h"
#include "zelvane/engine/update.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Scramble;
using test::WriteFile;

// What a file holds, briefly enough for a failure message.
std::string Summary(const std::string& content) {
    if (content.size() <= 64) return content;
    return std::to_string(content.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>()(content));
}

// Every file and folder under root, with its permissions and content.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const auto status = fs::symlink_status(item.path());
        std::string state = std::to_string(static_cast<int>(status.permissions()));
        if (fs::is_regular_file(status)) state += " file " + Summary(ReadFile(item.path()));
        if (fs::is_directory(status)) state += " folder";
        tree[fs::relative(item.path(), root).generic_string()] = state;
    }
    return tree;
}

// An install and a package of three entries: one that is made to fail, between two that succeed.
class FaultTest : public testing::Test {
  protected:
    FaultTest() : install_(temp_ / "Zelvane"), package_(temp_ / "package") {
        test::MakeInstall(install_);
        fs::create_directories(install_ / "Help");
        WriteFile(install_ / "Help" / "index.html", "old help");
        fs::create_directories(package_);
        WriteFile(package_ / "good", Scramble("good"));
        WriteFile(package_ / "faulty", Scramble("new content"));
        WriteFile(package_ / "after", Scramble("after"));
    }

    void ListWithFailingEntry(const std::string& destName) {
        WriteFile(package_ / "FileList.txt", "2\r\n\"good.txt\",\"good\"\r\n\"" + destName +
                                                 "\",\"faulty\"\r\n\"after.txt\",\"after\"\r\n");
    }

    // The install as it was, plus the two entries that succeed.
    void ExpectOnlyTheGoodEntriesChanged(const std::map<std::string, std::string>& before) {
        EXPECT_EQ(ReadFile(install_ / "good.txt"), "good");
        EXPECT_EQ(ReadFile(install_ / "after.txt"), "after");
        auto after = Snapshot(install_);
        after.erase("good.txt");
        after.erase("after.txt");
        EXPECT_EQ(after, before);
    }

    test::TempFolder temp_;
    fs::path install_;
    fs::path package_;
};

struct FaultCase {
    const char* name;
    std::string destName;
    std::string cause;  // what the report gives after the entry
    std::function<void(const fs::path& install, const fs::path& package)> arrange;
    bool unprivileged;
    std::optional<rlim_t> fileSizeLimit;
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

class CliFaults : public FaultTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(CliFaults, FailingEntryIsReportedAndNothingElseChanges) {
    const FaultCase& fault = GetParam();
    ListWithFailingEntry(fault.destName);
    if (fault.unprivileged) test::GiveToUnprivilegedUser(temp_.Path());
    fault.arrange(install_, package_);
    const auto before = Snapshot(install_);

    test::ChildOptions options;
    options.folder = package_;
    options.output = temp_ / "output";
    options.unprivileged = fault.unprivileged;
    options.fileSizeLimit = fault.fileSizeLimit;
    const int status =
        test::ChildProcess({test::kUpdaterCli, "--silent", install_.string()}, options).Wait();

    const std::string output = ReadFile(temp_ / "output");
    EXPECT_EQ(status, 2) << output;
    EXPECT_NE(output.find("Cannot copy file " + fault.destName + ": "), std::string::npos)
        << output;
    EXPECT_NE(output.find(fault.cause), std::string::npos) << output;
    EXPECT_EQ(output.find("Cannot copy file good.txt"), std::string::npos) << output;
    ExpectOnlyTheGoodEntriesChanged(before);
}

void Nothing(const fs::path&, const fs::path&) {}

INSTANTIATE_TEST_SUITE_P(
    Fault, CliFaults,
    testing::Values(FaultCase{"DiskFull", "engine.exe", "File too large",
                              [](const fs::path&, const fs::path& package) {
                                  WriteFile(package / "faulty", std::string(1 << 20, 'x'));
                              },
                              false, 256 << 10},
                    FaultCase{"ReadOnlyProductFile", "engine.exe", "read-only",
                              [](const fs::path& install, const fs::path&) {
                                  fs::permissions(install / "engine.exe", fs::perms(0444));
                              },
                              false, std::nullopt},
                    FaultCase{"FolderWithoutWritePermission", "Help\\index.html",
                              "Permission denied",
                              [](const fs::path& install, const fs::path&) {
                                  fs::permissions(install / "Help", fs::perms(0555));
                              },
                              true, std::nullopt},
                    FaultCase{"MissingSubfolder", "NoSuch\\a.txt", "No such file or directory",
                              Nothing, false, std::nullopt},
                    FaultCase{"PackageFileIsAFolder", "engine.exe", "Is a directory",
                              [](const fs::path&, const fs::path& package) {
                                  fs::remove(package / "faulty");
                                  fs::create_directory(package / "faulty");
                              },
                              false, std::nullopt},
                    FaultCase{"PackageFileUnreadable", "engine.exe", "Permission denied",
                              [](const fs::path&, const fs::path& package) {
                                  fs::permissions(package / "faulty", fs::perms::none);
                              },
                              true, std::nullopt}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// The real file system, except that the package file "faulty" fails after half of it was read.
class FailingMidway final : public FileSystem {
  public:
    enum class Fault { CutShort, ReadError };
    explicit FailingMidway(Fault fault) : fault_(fault) {}

    char Separator() const override { return real_.Separator(); }
    std::string NativePath(std::string_view path) const override { return real_.NativePath(path); }
    bool IsOrdinaryFile(const std::string& path) override { return real_.IsOrdinaryFile(path); }
    void DeleteFile(const std::string& path) override { real_.DeleteFile(path); }
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
        auto file = real_.OpenForReading(path);
        if (path != "faulty") return file;
        return std::make_unique<Reader>(std::move(file), path, fault_);
    }
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override {
        return real_.CreateNew(path);
    }
    void Replace(const std::string& from, const std::string& to) override {
        real_.Replace(from, to);
    }
    void ChangeDirectory(const std::string& path) override { real_.ChangeDirectory(path); }
    std::string CurrentDirectory() override { return real_.CurrentDirectory(); }
    std::string AbsolutePath(const std::string& path) override { return real_.AbsolutePath(path); }

  private:
    // Reads half the file, then cuts the file on disk short or fails as a bad medium does.
    class Reader final : public ReadableFile {
      public:
        Reader(std::unique_ptr<ReadableFile> file, std::string path, Fault fault)
            : file_(std::move(file)), path_(std::move(path)), fault_(fault) {}
        std::uint64_t Length() override { return file_->Length(); }
        std::size_t Read(std::span<std::byte> buffer) override {
            if (reads_++ == 0) return file_->Read(buffer.first(buffer.size() / 2));
            if (fault_ == Fault::ReadError) {
                throw std::system_error(EIO, std::generic_category(),
                                        "cannot read \"" + path_ + "\"");
            }
            fs::resize_file(path_, 0);
            return file_->Read(buffer);
        }

      private:
        std::unique_ptr<ReadableFile> file_;
        std::string path_;
        Fault fault_;
        int reads_ = 0;
    };

    FileSystem& real_ = SystemFileSystem();
    Fault fault_;
};

class MidwayFaults : public FaultTest {
  protected:
    MidwayFaults()
        : log_("ZELVANE_RECORD_LOG", (temp_ / "log").string()), registration_(temp_.Path()) {}

    std::string RunWith(FailingMidway::Fault fault) {
        test::ScopedCurrentFolder current(package_);
        FailingMidway files(fault);
        test::RecordingWindow window(install_.string());
        EXPECT_EQ(RunUpdate({window, files, SystemProcesses()}), UpdateOutcome::Incomplete);
        return window.messages.empty() ? "" : window.messages.back().text;
    }

    test::ScopedEnv log_;
    test::RecordingRegistrationTool registration_;
};

TEST_F(MidwayFaults, PackageFileCutShortWhileBeingRead) {
    ListWithFailingEntry("engine.exe");
    const auto before = Snapshot(install_);
    const std::string report = RunWith(FailingMidway::Fault::CutShort);
    EXPECT_NE(
        report.find("Cannot copy file engine.exe: \"faulty\" changed while it was being read"),
        std::string::npos)
        << report;
    ExpectOnlyTheGoodEntriesChanged(before);
}

TEST_F(MidwayFaults, PackageFileThatCannotBeReadHalfway) {
    ListWithFailingEntry("engine.exe");
    const auto before = Snapshot(install_);
    const std::string report = RunWith(FailingMidway::Fault::ReadError);
    EXPECT_NE(
        report.find("Cannot copy file engine.exe: cannot read \"faulty\": Input/output error"),
        std::string::npos)
        << report;
    ExpectOnlyTheGoodEntriesChanged(before);
}

}  // namespace
}  // namespace zelvane
