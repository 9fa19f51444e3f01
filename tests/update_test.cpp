// The update procedure on a file system in memory and recorded program starts: what it writes,
// starts, waits for and tells the window, in milliseconds.
#include "zelvane/engine/update.h"

#include <gtest/gtest.h>

#include "fakes.h"
#include "test_support.h"
#include "zelvane/engine/launch.h"
#include "zelvane/engine/manifest.h"
#include "zelvane/platform/crypto.h"

namespace zelvane {
namespace {

using test::Scramble;
using Entries = std::vector<std::pair<std::string, std::string>>;  // destName, product content

const std::string kInstall = "/Program Files/Zelvane";
const std::string kPackage = "/media/package";

class UpdateTest : public testing::Test {
  protected:
    UpdateTest() {
        for (const char* marker : kMarkerFiles) files_.AddFile(Installed(marker), "marker");
        files_.AddFolder(Installed("Help"));
    }

    static std::string Installed(const std::string& name) { return kInstall + "/" + name; }

    // Package files p0, p1, ... and a list that names them in order.
    void MakePackage(const Entries& entries) {
        std::string list = std::to_string(entries.size() - 1) + "\r\n";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string source = std::string("p").append(std::to_string(i));
            files_.AddFile(kPackage + "/" + source, Scramble(entries[i].second));
            list += "\"" + entries[i].first + "\",\"" + source + "\"\r\n";
        }
        files_.AddFile(kPackage + "/FileList.txt", list);
    }

    UpdateOutcome Run() { return RunUpdate({window_, files_, processes_}); }
    const std::string& Report() { return window_.messages.at(0).text; }
    bool Reports(const std::string& text) { return Report().find(text) != std::string::npos; }

    test::MemoryFileSystem files_{kInstall, kPackage};
    test::RecordingProcesses processes_{files_};
    test::RecordingWindow window_{kInstall, true};
};

TEST_F(UpdateTest, FullRunCopiesRegistersAndRunsTheProgramsInOrder) {
    MakePackage({{"a.txt", "alpha"}, {"Help\\index.html", "<html>"}, {"engine.exe", "new"},
                 {"with, comma.txt", ""}, {"e.dat", "e"}});
    EXPECT_EQ(Run(), UpdateOutcome::Installed);
    EXPECT_EQ(files_.Content(Installed("Help/index.html")), "<html>");
    EXPECT_EQ(files_.Content(Installed("engine.exe")), "new");
    EXPECT_TRUE(files_.Exists(Installed("with, comma.txt")));
    EXPECT_EQ(window_.maxima, std::vector<float>{5});
    EXPECT_EQ(window_.values, (std::vector<float>{0, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(window_.pointers,
              (std::vector<PointerShape>{PointerShape::Hourglass, PointerShape::Default}));
    ASSERT_EQ(window_.messages.size(), 1u);
    EXPECT_EQ(window_.messages[0].text, "The update was installed successfully.");
    EXPECT_EQ(window_.messages[0].kind, MessageKind::Ok);
    EXPECT_EQ(window_.messages[0].title, "");
    EXPECT_EQ(window_.messages[0].pointerWhileShown, PointerShape::Default);
    EXPECT_TRUE(window_.closed);

    ASSERT_EQ(processes_.started.size(), 3u);
    const auto& registration = processes_.started[0];
    EXPECT_EQ(registration.launch.program, "regsvr32.exe");
    EXPECT_EQ(registration.launch.arguments,
              (std::vector<std::string>{"/s", Installed("NavTree.ocx")}));
    EXPECT_EQ(registration.launch.style, WindowStyle::MinimizedWithFocus);
    EXPECT_EQ(registration.folder, kPackage);
    const std::pair<const char*, WindowStyle> programs[] = {
        {"UnpackDirs.exe", WindowStyle::MinimizedWithFocus},
        {"ViewHost.exe", WindowStyle::NormalWithoutFocus}};
    for (std::size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(processes_.started[i].launch.program, Installed(programs[i - 1].first));
        EXPECT_EQ(processes_.started[i].launch.style, programs[i - 1].second);
        EXPECT_TRUE(processes_.started[i].launch.arguments.empty());
        EXPECT_EQ(processes_.started[i].folder, kInstall);
    }
    EXPECT_EQ(processes_.bounds, std::vector<std::chrono::milliseconds>(3, kWaitBound));
    EXPECT_EQ(kWaitBound.count(), 65535);
}

TEST_F(UpdateTest, SilentModeOffPassesOnlyTheControlAsOneArgumentWhateverItsName) {
    const std::string odd = "/srv/q\"x y /s";
    for (const char* marker : kMarkerFiles) files_.AddFile(odd + "/" + marker, "");
    MakePackage({{"a.txt", "a"}});
    test::RecordingWindow window(odd + "/", false);
    RunUpdate({window, files_, processes_});
    EXPECT_EQ(processes_.started.at(0).launch.arguments,
              std::vector<std::string>{odd + "/NavTree.ocx"});
}

TEST_F(UpdateTest, AFolderLackingAnyMarkerOrLockedByAnotherRunIsLeftUntouched) {
    MakePackage({{"a.txt", "a"}});
    const auto before = files_.Files();
    auto other = files_.OpenFolder(kInstall);
    ASSERT_TRUE(other->TryLock());
    EXPECT_EQ(Run(), UpdateOutcome::NotStarted);
    EXPECT_EQ(window_.messages.at(0).text, "Another update of this folder is running.");
    other.reset();
    for (const char* marker : {kMarkerFiles.front(), kMarkerFiles.back()}) {
        auto withoutMarker = before;
        withoutMarker.erase(Installed(marker));
        test::MemoryFileSystem files(kInstall, kPackage);
        for (const auto& [path, content] : withoutMarker) files.AddFile(path, content);
        test::RecordingWindow window(kInstall);
        test::RecordingProcesses processes(files);
        EXPECT_EQ(RunUpdate({window, files, processes}), UpdateOutcome::NotFound);
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].text, "Version 3.0 or later could not be found in this folder");
        EXPECT_TRUE(window.pointers.empty() && window.values.empty() && !window.closed);
        EXPECT_EQ(files.Files(), withoutMarker);
        EXPECT_TRUE(processes.started.empty());
    }
    test::RecordingWindow elsewhere("/no/such/folder");
    EXPECT_EQ(RunUpdate({elsewhere, files_, processes_}), UpdateOutcome::NotFound);
    EXPECT_EQ(files_.Files(), before);
}

TEST_F(UpdateTest, FailingEntriesAreSkippedToldAndReportedInsteadOfSuccess) {
    MakePackage({{"a.txt", "a"}, {"b.txt", "b"}, {"..\\escaped.txt", "x"}, {"d.txt", "d"},
                 {"NUL .txt", "n"}, {"f.txt", "cut short"}, {"g.txt", "g"}});
    files_.AddFile(Installed("b.txt"), "old b");
    files_.AddFile(Installed("f.txt"), "old f");
    files_.beforeTransfer = [this](const std::string& path, bool writing) {
        if (path == kPackage + "/p1") throw std::runtime_error("the disk is bad");
        if (path == Installed("g.txt.zelvane-partial") && writing) {
            throw std::runtime_error("the disk is full");
        }
        if (path == kPackage + "/p5") files_.AddFile(path, "cut");
    };
    EXPECT_EQ(Run(), UpdateOutcome::Incomplete);
    EXPECT_EQ(files_.Content(Installed("b.txt")), "old b");
    EXPECT_EQ(files_.Content(Installed("f.txt")), "old f");
    EXPECT_EQ(files_.Content(Installed("d.txt")), "d");
    EXPECT_TRUE(files_.WritesOutside().empty());
    EXPECT_EQ(window_.values, (std::vector<float>{0, 0, 3, 4}));
    EXPECT_EQ(window_.failures.size(), 5u);
    EXPECT_TRUE(Reports("The update is incomplete: 2 of 7 files were installed.\n"));
    EXPECT_TRUE(Reports("Cannot copy file b.txt: the disk is bad"));
    EXPECT_TRUE(Reports("Cannot copy file f.txt: \"p5\" changed while it was being read"));
    EXPECT_TRUE(Reports("Cannot copy file g.txt: the disk is full"));
    EXPECT_TRUE(Reports("Cannot copy file ..\\escaped.txt: "));
    EXPECT_TRUE(Reports("Cannot copy file NUL .txt: "));
    EXPECT_FALSE(Reports("a.txt"));
    EXPECT_TRUE(window_.closed);
    for (const auto& [path, content] : files_.Files()) EXPECT_FALSE(path.ends_with("-partial"));
}

TEST_F(UpdateTest, ManyFailuresAreAllToldButKeptInBoundedMemory) {
    files_.AddFile(kPackage + "/FileList.txt", "49999\r\n" + std::string(100000, '\n'));
    EXPECT_EQ(Run(), UpdateOutcome::Incomplete);
    EXPECT_EQ(window_.failures.size(), 50000u);
    EXPECT_TRUE(Reports("\n... and 49980 more."));
    EXPECT_EQ(std::count(Report().begin(), Report().end(), '\n'), 2 + 20);
    EXPECT_LE(window_.messages[0].details.size(), kFailureDetailsBudget + 100);
    EXPECT_TRUE(window_.messages[0].details.ends_with(" more.\n"));
}

TEST_F(UpdateTest, AListEndingEarlyFailsTheRestWithoutReadingThemOneByOne) {
    MakePackage({{"a.txt", "a"}});
    files_.AddFile(kPackage + "/FileList.txt", "2000000000\r\n\"a.txt\",\"p0\"\r\n\"b.txt\"\r\n");
    EXPECT_EQ(Run(), UpdateOutcome::Incomplete);
    EXPECT_EQ(files_.Content(Installed("a.txt")), "a");
    EXPECT_TRUE(Reports("Cannot copy file b.txt: "));
    EXPECT_TRUE(Reports("entries 2 to 2000000000"));
}

TEST_F(UpdateTest, UnusablePackageListsStopBeforeAnythingIsWritten) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"cannot open", std::nullopt},         {"empty", ""},
        {"number of its last entry", "abc\r\n\"a.txt\",\"p0\"\r\n"},
        {"below 0", "-1\r\n"},                 {"too large", "2147483647\r\n"}};
    for (const auto& [reason, list] : cases) {
        test::MemoryFileSystem files(kInstall, kPackage);
        for (const char* marker : kMarkerFiles) files.AddFile(Installed(marker), "");
        if (list) files.AddFile(kPackage + "/FileList.txt", *list);
        const auto before = files.Files();
        test::RecordingWindow window(kInstall);
        test::RecordingProcesses processes(files);
        EXPECT_EQ(RunUpdate({window, files, processes}), UpdateOutcome::NotStarted);
        ASSERT_EQ(window.messages.size(), 1u);
        const std::string& text = window.messages[0].text;
        EXPECT_NE(text.find("FileList.txt in the folder \"" + kPackage), std::string::npos);
        EXPECT_NE(text.find(reason), std::string::npos) << text;
        EXPECT_EQ(window.messages[0].pointerWhileShown, PointerShape::Default);
        EXPECT_FALSE(window.closed);
        EXPECT_EQ(files.Files(), before);
        EXPECT_TRUE(processes.started.empty());
    }
}

struct ProgramCase {
    const char* failing;  // fails to start this many times
    int failures;
    int exitCode;
    std::vector<std::string> started;
    const char* reported;  // empty: success
};

TEST_F(UpdateTest, ProgramsThatFailAreReportedAndTheRestStillRuns) {
    const std::vector<std::string> all{"regsvr32.exe", "UnpackDirs.exe", "ViewHost.exe"};
    const ProgramCase cases[] = {
        {"regsvr32.exe", 1, 0, {"UnpackDirs.exe", "ViewHost.exe"}, "Cannot register NavTree.ocx: "},
        {"UnpackDirs.exe", 1, 0, {"regsvr32.exe", "ViewHost.exe"}, "UnpackDirs.exe: cannot start"},
        {"ViewHost.exe", 1, 0, all, ""},
        {"ViewHost.exe", 2, 0, {"regsvr32.exe", "UnpackDirs.exe"}, "ViewHost.exe: cannot start"},
        {"", 0, 3, all,
         "Cannot register NavTree.ocx: the registration tool ended with exit code 3"},
    };
    for (const auto& c : cases) {
        test::MemoryFileSystem files(kInstall, kPackage);
        for (const char* marker : kMarkerFiles) files.AddFile(Installed(marker), "");
        files.AddFile(kPackage + "/p", "");
        files.AddFile(kPackage + "/FileList.txt", "0\r\nx,p\r\n");
        test::RecordingProcesses processes(files);
        processes.failingStarts[c.failing] = c.failures;
        for (const auto& name : all) processes.exitCodes[name] = name == "regsvr32.exe" ? c.exitCode : 9;
        test::RecordingWindow window(kInstall);
        const bool success = std::string(c.reported).empty();
        EXPECT_EQ(RunUpdate({window, files, processes}),
                  success ? UpdateOutcome::Installed : UpdateOutcome::Incomplete);
        EXPECT_EQ(processes.Names(), c.started) << c.failing;
        EXPECT_NE(window.messages.at(0).text.find(success ? kSuccessMessage : c.reported),
                  std::string::npos)
            << window.messages[0].text;
        EXPECT_EQ(window.values.back(), 1.0f);
        EXPECT_EQ(window.pointer, PointerShape::Default);
    }
}

ManifestEntry EntryOf(const test::MemoryFileSystem& files, const std::string& name) {
    const std::string content = files.Content(kPackage + "/" + name);
    const auto hash = NewSha256();
    hash->Update(std::as_bytes(std::span(content)));
    return {hash->Finish(), content.size(), name};
}

TEST_F(UpdateTest, APackagesManifestIsCheckedBeforeAndWhileFilesAreCopied) {
    MakePackage({{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    files_.AddFile(Installed("b.txt"), "old b");
    const std::vector entries{EntryOf(files_, "p0"), EntryOf(files_, "p1"),
                              EntryOf(files_, "FileList.txt")};
    files_.AddFile(kPackage + "/Package.manifest", ManifestText(entries));
    files_.AddFile(kPackage + "/p1", Scramble("B"));  // changed after the package was made
    EXPECT_EQ(Run(), UpdateOutcome::Incomplete);
    EXPECT_EQ(files_.Content(Installed("a.txt")), "a");
    EXPECT_EQ(files_.Content(Installed("b.txt")), "old b");
    EXPECT_FALSE(files_.Exists(Installed("c.txt"))) << "not in the manifest";
    EXPECT_TRUE(Reports("Cannot copy file b.txt: it does not match the package manifest"));
    EXPECT_TRUE(Reports("Cannot copy file c.txt: it does not match the package manifest"));

    const std::pair<std::vector<std::string>, const char*> refusals[] = {
        {{}, "The package list FileList.txt does not match the package manifest."},
        {{"a key"}, "The package is not signed by the vendor: it has no Package.manifest.sig."}};
    files_.AddFile(kPackage + "/FileList.txt", "0\r\nc.txt,p2\r\n");
    files_.ChangeDirectory(kPackage);
    for (const auto& [keys, message] : refusals) {
        const auto before = files_.Files();
        test::RecordingWindow window(kInstall);
        EXPECT_EQ(RunUpdate({window, files_, processes_, keys}), UpdateOutcome::NotStarted);
        EXPECT_EQ(window.messages.at(0).text, message);
        EXPECT_EQ(files_.Files(), before);
    }
}

// The window side failing while the update runs, with a standard exception or anything else.
class FailingWindow final : public test::RecordingWindow {
  public:
    FailingWindow(float failAt, bool standard)
        : RecordingWindow(kInstall), failAt_(failAt), standard_(standard) {}
    void SetProgressValue(float value) override {
        if (value >= failAt_ && standard_) throw std::runtime_error("the progress bar is gone");
        if (value >= failAt_) throw 42;
        RecordingWindow::SetProgressValue(value);
    }

  private:
    float failAt_;
    bool standard_;
};

TEST_F(UpdateTest, AWindowFailingMidwayEndsInAMessageThatSaysWhatWasDone) {
    MakePackage({{"a.txt", "a"}, {"b.txt", "b"}});
    const std::tuple<float, bool, UpdateOutcome, const char*> cases[] = {
        {0, true, UpdateOutcome::Stopped, "The update stopped: the progress bar is gone"},
        {1, false, UpdateOutcome::StoppedPartway,
         "The update stopped: an unknown failure\n\nBefore it stopped, 2 of 2 files were "
         "installed."}};
    for (const auto& [failAt, standard, outcome, text] : cases) {
        FailingWindow window(failAt, standard);
        EXPECT_EQ(RunUpdate({window, files_, processes_}), outcome);
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].text, text);
        EXPECT_EQ(window.pointer, PointerShape::Default) << "the busy pointer is put back";
        EXPECT_FALSE(window.closed);
    }
}

}  // namespace
}  // namespace zelvane
