// The update procedure on a file system in memory and recorded program starts: what it writes,
// starts, waits for and tells the window, in milliseconds.
#include "zelvane/engine/update.h"

#include <gtest/gtest.h>

#include "fakes.h"
#include "test_support.h"
#include "zelvane/engine/launch.h"
#include "zelvane/platform/crypto.h"

namespace zelvane {
namespace {

using test::Scramble;
using Entries = std::vector<std::pair<std::string, std::string>>;  // destName, product content

const std::string kInstall = "/Program Files/Zelvane";
const std::string kPackage = "/media/package";

std::string Installed(const std::string& name) { return kInstall + "/" + name; }

// One update's world: an install, a package folder (current), recorded programs and a window.
struct World {
    explicit World(const Entries& entries = {{"a.txt", "a"}}, bool silent = true)
        : window(kInstall, silent) {
        for (const char* marker : kMarkerFiles) files.AddFile(Installed(marker), "marker");
        files.AddFolder(Installed("Help"));
        std::string list = std::to_string(entries.size() - 1) + "\r\n";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string source = std::string("p").append(std::to_string(i));
            files.AddFile(kPackage + "/" + source, Scramble(entries[i].second));
            list += "\"" + entries[i].first + "\",\"" + source + "\"\r\n";
        }
        files.AddFile(kPackage + "/FileList.txt", list);
    }

    UpdateOutcome Run(std::vector<std::string> keys = {}) {
        return RunUpdate({window, files, processes, std::move(keys)});
    }
    const std::string& Report() const { return window.messages.at(0).text; }
    bool Reports(const std::string& text) const { return Report().find(text) != std::string::npos; }

    test::MemoryFileSystem files{kInstall, kPackage};
    test::RecordingProcesses processes{files};
    test::RecordingWindow window;
    std::unique_ptr<Folder> held;  // by another run
};

TEST(Update, CopiesRegistersAndRunsTheProgramsInOrder) {
    const Entries entries{{"a.txt", "alpha"},
                          {"Help\\index.html", "<html>"},
                          {"engine.exe", std::string((64 << 10) * 3 + 7, 'e')},
                          {"with, comma.txt", ""},
                          {"e.dat", std::string(64 << 10, '\x5A')}};
    World world(entries);
    EXPECT_EQ(world.Run(), UpdateOutcome::Installed);
    for (const auto& [name, content] : entries) {
        EXPECT_EQ(world.files.Content(Installed(world.files.NativePath(name))), content) << name;
    }
    const test::RecordingWindow& window = world.window;
    EXPECT_EQ(window.maxima, std::vector<float>{5});
    EXPECT_EQ(window.values, (std::vector<float>{0, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(window.pointers,
              (std::vector<PointerShape>{PointerShape::Hourglass, PointerShape::Default}));
    EXPECT_EQ(window.messages, std::vector<test::Message>{{kSuccessMessage}});
    EXPECT_TRUE(window.closed);

    const auto& started = world.processes.started;
    ASSERT_EQ(started.size(), 3u);
    const std::tuple<std::string, std::vector<std::string>, WindowStyle, std::string> expected[] = {
        {"regsvr32.exe", {"/s", Installed("NavTree.ocx")}, WindowStyle::MinimizedWithFocus,
         kPackage},
        {Installed("UnpackDirs.exe"), {}, WindowStyle::MinimizedWithFocus, kInstall},
        {Installed("ViewHost.exe"), {}, WindowStyle::NormalWithoutFocus, kInstall}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::tie(started[i].launch.program, started[i].launch.arguments,
                           started[i].launch.style, started[i].folder),
                  expected[i]);
    }
    EXPECT_EQ(world.processes.bounds, std::vector<std::chrono::milliseconds>(3, kWaitBound));
    EXPECT_EQ(kWaitBound.count(), 65535);
}

// Each case leaves the install and the package as they were, with the window open.
TEST(Update, AFolderWithoutAnInstallALockedFolderOrAnUnusableListChangeNothing) {
    const std::tuple<std::function<void(World&)>, UpdateOutcome, std::string> cases[] = {
        {[](World& w) { w.files.Remove(Installed(kMarkerFiles.front())); }, UpdateOutcome::NotFound,
         kNotFoundMessage},
        {[](World& w) { w.files.Remove(Installed("")); }, UpdateOutcome::NotFound,
         kNotFoundMessage},
        {[](World& w) { w.files.Remove(kPackage + "/FileList.txt"); }, UpdateOutcome::NotStarted,
         "FileList.txt in the folder \"" + kPackage + "\" cannot be used: cannot open"},
        {[](World& w) { w.files.AddFile(kPackage + "/FileList.txt", "abc\r\na,p0\r\n"); },
         UpdateOutcome::NotStarted, "it does not begin with the number of its last entry"},
        {[](World& w) { (w.held = w.files.OpenFolder(kInstall))->TryLock(); },
         UpdateOutcome::NotStarted, "Another update of this folder is running."},
        {[](World& w) { w.files.freeSpace = 1 << 20; }, UpdateOutcome::NotStarted,
         "There is not enough free space for the update on the install's drive: 2 MB are "
         "needed, 1 MB are free."},
        {[](World& w) { w.files.heldBy["a.txt"] = {"Zelvane Engine", "Viewer"}; },
         UpdateOutcome::FilesInUse,
         "These files are in use: a.txt. Close the programs that use them (Zelvane Engine, "
         "Viewer) and try again."},
    };
    for (const auto& [arrange, outcome, message] : cases) {
        World world;
        arrange(world);
        const auto before = world.files.Files();
        EXPECT_EQ(world.Run(), outcome);
        EXPECT_TRUE(world.Reports(message)) << world.Report();
        EXPECT_EQ(world.window.messages.size(), 1u);
        EXPECT_EQ(world.window.messages[0].pointerWhileShown, PointerShape::Default);
        EXPECT_TRUE(world.window.values.size() <= 1 && !world.window.closed);
        EXPECT_EQ(world.files.Files(), before);
        EXPECT_TRUE(world.processes.started.empty());
    }
}

// A bad disk, a package file cut short and a full disk while copying; names refused before.
World WorldWithFailingEntries(bool namesToo) {
    World world({{"a.txt", "a"},
                 {"b.txt", "b"},
                 {namesToo ? "..\\escaped.txt" : "c.txt", "x"},
                 {"d.txt", "d"},
                 {namesToo ? "NUL .txt" : "e.txt", "n"},
                 {"f.txt", "cut short"},
                 {"g.txt", "g"}});
    test::MemoryFileSystem& files = world.files;
    files.AddFile(Installed("b.txt"), "old b");
    files.AddFile(Installed("f.txt"), "old f");
    files.beforeTransfer = [&files](const std::string& path, bool writing) {
        if (path == kPackage + "/p1") throw std::runtime_error("the disk is bad");
        if (writing && path == Installed("g.txt.zelvane-partial")) {
            throw std::runtime_error("the disk is full");
        }
        if (path == kPackage + "/p5") files.AddFile(path, "cut");
    };
    return world;
}

TEST(Update, FailingEntriesChangeNothingOrAreSkippedWhenToldToKeepGoing) {
    const char* copying[] = {"Cannot copy file b.txt: the disk is bad",
                             "Cannot copy file f.txt: \"p5\" changed while it was being read",
                             "Cannot copy file g.txt: the disk is full"};
    const char* names[] = {"Cannot copy file ..\\escaped.txt: ", "Cannot copy file NUL .txt: "};
    struct Case {
        bool namesToo;
        FailurePolicy policy;
        UpdateOutcome outcome;
        std::vector<const char*> told;
        std::string summary;
    };
    const Case cases[] = {
        {true, FailurePolicy::KeepGoing, UpdateOutcome::Incomplete,
         {copying[0], copying[1], copying[2], names[0], names[1]},
         "The update is incomplete: 2 of 7 files were installed.\n"},
        {true, FailurePolicy::AllOrNothing, UpdateOutcome::NotStarted, {names[0], names[1]},
         "\n\nNothing was changed."},
        {false, FailurePolicy::AllOrNothing, UpdateOutcome::NotStarted,
         {copying[0], copying[1], copying[2]}, "\n\nNothing was changed."},
    };
    for (const Case& c : cases) {
        World world = WorldWithFailingEntries(c.namesToo);
        const bool keepGoing = c.policy == FailurePolicy::KeepGoing;
        EXPECT_EQ(RunUpdate({world.window, world.files, world.processes, {}, c.policy}), c.outcome);
        const test::MemoryFileSystem& files = world.files;
        EXPECT_EQ(files.Content(Installed("b.txt")), "old b");
        EXPECT_EQ(files.Content(Installed("f.txt")), "old f");
        EXPECT_EQ(files.Exists(Installed("d.txt")), keepGoing);
        EXPECT_TRUE(files.WritesOutside().empty());
        EXPECT_EQ(world.window.failures.size(), c.told.size());
        for (const char* text : c.told) EXPECT_TRUE(world.Reports(text)) << text;
        EXPECT_TRUE(world.Reports(c.summary)) << world.Report();
        EXPECT_FALSE(world.Reports("a.txt"));
        EXPECT_EQ(world.window.closed, keepGoing);
        EXPECT_EQ(world.processes.started.empty(), !keepGoing);
        for (const auto& [path, content] : files.Files()) EXPECT_FALSE(path.ends_with("-partial"));
    }
}

TEST(Update, ManyFailuresAreAllToldButKeptInBoundedMemory) {
    World world;
    world.files.AddFile(kPackage + "/FileList.txt", "49999\r\n" + std::string(100000, '\n'));
    EXPECT_EQ(world.Run(), UpdateOutcome::NotStarted);
    EXPECT_EQ(world.window.failures.size(), 50000u);
    EXPECT_TRUE(world.Reports("\n... and 49980 more."));
    EXPECT_EQ(std::count(world.Report().begin(), world.Report().end(), '\n'), 2 + 20);
    const std::string& details = world.window.messages[0].details;
    EXPECT_LE(details.size(), kFailureDetailsBudget + 100);
    EXPECT_NE(details.find(" more.\n\nThe log of this update: "), std::string::npos);

    World early;  // a list that ends early fails the rest at once, without reading them one by one
    early.files.AddFile(kPackage + "/FileList.txt", "2000000000\r\n\"a.txt\",\"p0\"\r\nb.txt\r\n");
    EXPECT_EQ(early.Run(), UpdateOutcome::NotStarted);
    EXPECT_FALSE(early.files.Exists(Installed("a.txt")));
    EXPECT_TRUE(early.Reports("Cannot copy file b.txt: ") &&
                early.Reports("for entries 2 to 2000000000"));
}

TEST(Update, ProgramsThatFailAreReportedAndTheRestStillRuns) {
    const std::vector<std::string> all{"regsvr32.exe", "UnpackDirs.exe", "ViewHost.exe"};
    const ProgramWait ok{WaitEnd::Exited, 0}, lost{WaitEnd::ResultUnknown};
    struct Case {
        std::string failing;
        int failures;
        ProgramWait registration, unpack;
        std::vector<std::string> started;
        std::string reported;
    };
    const Case cases[] = {
        {"regsvr32.exe", 1, ok, ok, {all[1], all[2]}, "Cannot register NavTree.ocx: cannot start"},
        {"UnpackDirs.exe", 1, ok, ok, {all[0], all[2]}, "UnpackDirs.exe: cannot start"},
        {"ViewHost.exe", 1, ok, ok, all, kSuccessMessage},
        {"ViewHost.exe", 2, ok, ok, {all[0], all[1]}, "ViewHost.exe: cannot start"},
        {"", 0, {WaitEnd::Exited, 3}, ok, all,
         "Cannot register NavTree.ocx: the registration tool ended with exit code 3"},
        {"", 0, lost, ok, all, "Cannot register NavTree.ocx: the registration tool ran, but its "
                              "result could not be read"},
        {"", 0, ok, lost, all, "UnpackDirs.exe: it ran, but its result could not be read"},
    };
    for (const Case& c : cases) {
        World world;
        world.processes.failingStarts[c.failing] = c.failures;
        for (const auto& name : all) world.processes.results[name] = {WaitEnd::Exited, 9};
        world.processes.results["regsvr32.exe"] = c.registration;
        world.processes.results["UnpackDirs.exe"] = c.unpack;
        EXPECT_EQ(world.Run(), c.reported == kSuccessMessage ? UpdateOutcome::Installed
                                                             : UpdateOutcome::Incomplete);
        EXPECT_EQ(world.processes.Names(), c.started) << c.failing;
        EXPECT_TRUE(world.Reports(c.reported)) << world.Report();
        EXPECT_EQ(world.window.values.back(), 1.0f);
        EXPECT_EQ(world.window.pointer, PointerShape::Default);
    }
}

ManifestEntry EntryOf(const test::MemoryFileSystem& files, const std::string& name) {
    const std::string content = files.Content(kPackage + "/" + name);
    const auto hash = NewSha256();
    hash->Update(std::as_bytes(std::span(content)));
    return {hash->Finish(), content.size(), name};
}

TEST(Update, APackagesManifestIsCheckedBeforeAndWhileFilesAreCopied) {
    // Files of several blocks, hashed on a thread of their own; b's last byte changes.
    const std::string big((64 << 10) * 3 + 1, 'x');
    World world({{"a.txt", big}, {"b.txt", big}, {"c.txt", "c"}});
    test::MemoryFileSystem& files = world.files;
    files.AddFile(Installed("b.txt"), "old b");
    const std::vector entries{EntryOf(files, "p0"), EntryOf(files, "p1"),
                              EntryOf(files, "FileList.txt")};
    files.AddFile(kPackage + "/Package.manifest", ManifestText(entries));
    files.AddFile(kPackage + "/p1", Scramble(big.substr(1) + "y"));  // changed after packing
    EXPECT_EQ(RunUpdate({world.window, files, world.processes, {}, FailurePolicy::KeepGoing}),
              UpdateOutcome::Incomplete);
    EXPECT_EQ(files.Content(Installed("a.txt")), big);
    EXPECT_EQ(files.Content(Installed("b.txt")), "old b");
    EXPECT_FALSE(files.Exists(Installed("c.txt"))) << "not in the manifest";
    EXPECT_TRUE(world.Reports("Cannot copy file b.txt: it does not match the package manifest"));
    EXPECT_TRUE(world.Reports("Cannot copy file c.txt: it does not match the package manifest"));

    // A manifest is read strictly: the line that is wrong is named.
    const std::string manifest = ManifestText(entries);
    const std::size_t start = manifest.find('\n') + 1;
    const std::string line = manifest.substr(start, manifest.find('\n', start) + 1 - start);
    const std::pair<std::string, std::string> refusals[] = {
        {"zelvane-manifest 2\n", "line 1 "},
        {manifest + line, "line 5 "},  // a name twice
        {"zelvane-manifest 1\n" + std::string(64, 'A') + "  1  p0\n", "line 2 "},
        {manifest.substr(0, manifest.size() - 1), "line 4 "}};
    for (const auto& [text, where] : refusals) {
        files.ChangeDirectory(kPackage);
        files.AddFile(kPackage + "/Package.manifest", text);
        const auto before = files.Files();
        test::RecordingWindow window(kInstall);
        EXPECT_EQ(RunUpdate({window, files, world.processes}), UpdateOutcome::NotStarted);
        EXPECT_NE(window.messages.at(0).text.find("Package.manifest cannot be used: " + where),
                  std::string::npos)
            << window.messages[0].text;
        EXPECT_EQ(files.Files(), before);
    }
}

// Before each change the update makes in turn, the power goes, with some or all files as they
// were at the last flush, or the updater is killed; the next run puts right what it left, and a rerun
// completes the update.
TEST(Update, APowerCutOrAKillAnywhereLeavesTheOldProductOrTheNewWhole) {
    const Entries entries{{"a.txt", "new a"}, {"Help\\b.txt", "new b"}, {"c.txt", "new c"}};
    const auto arrange = [](World& world) {
        world.files.AddFile(Installed("a.txt"), "old a");
        world.files.AddFile(Installed("Help/b.txt"), "old b");
    };
    const auto isNew = [](const World& world) {
        return world.files.Content(Installed("a.txt")) == "new a" &&
               world.files.Content(Installed("Help/b.txt")) == "new b" &&
               world.files.Content(Installed("c.txt")) == "new c";
    };
    const auto isOld = [](const World& world) {
        return world.files.Content(Installed("a.txt")) == "old a" &&
               world.files.Content(Installed("Help/b.txt")) == "old b" &&
               !world.files.Exists(Installed("c.txt"));
    };
    World whole(entries);
    arrange(whole);
    ASSERT_EQ(whole.Run(), UpdateOutcome::Installed);
    const int changes = whole.files.Changes();
    for (int cut = 0; cut < changes; ++cut) {
        using Loss = test::MemoryFileSystem::Loss;
        for (const Loss loss :
             {Loss::None, Loss::All, Loss::EveryOther, Loss::TheOthers, Loss::OlderHalf}) {
            SCOPED_TRACE(std::to_string(cut) + " " + std::to_string(static_cast<int>(loss)));
            World world(entries);
            arrange(world);
            world.files.CutPowerAfter(cut);
            world.Run();
            world.files.Restart(loss);
            const std::string list = world.files.Content(kPackage + "/FileList.txt");
            world.files.Remove(kPackage + "/FileList.txt");
            test::RecordingWindow mending(kInstall);
            EXPECT_EQ(RunUpdate({mending, world.files, world.processes}), UpdateOutcome::NotStarted);
            EXPECT_TRUE(isOld(world) || isNew(world));
            world.files.AddFile(kPackage + "/FileList.txt", list);
            test::RecordingWindow rerun(kInstall);
            EXPECT_EQ(RunUpdate({rerun, world.files, world.processes}), UpdateOutcome::Installed);
            EXPECT_TRUE(isNew(world));
            for (const auto& [path, content] : world.files.Files()) {
                EXPECT_EQ(path.find(".zelvane-"), std::string::npos) << path;
            }
        }
    }
}

// The window side failing as the progress reaches a value.
struct FailingWindow final : test::RecordingWindow {
    FailingWindow(float failAt, void (*fail)())
        : RecordingWindow(kInstall), failAt(failAt), fail(fail) {}
    void SetProgressValue(float value) override {
        if (value >= failAt) fail();
        RecordingWindow::SetProgressValue(value);
    }
    float failAt;
    void (*fail)();
};

// With a standard exception or anything else.
TEST(Update, AWindowFailingMidwayEndsInAMessageThatSaysWhatWasDone) {
    const std::tuple<float, void (*)(), UpdateOutcome, const char*> cases[] = {
        {0, [] { throw std::runtime_error("the progress bar is gone"); }, UpdateOutcome::Stopped,
         "The update stopped: the progress bar is gone"},
        {2, [] { throw 42; }, UpdateOutcome::StoppedPartway,
         "The update stopped: an unknown failure\n\nBefore it stopped, 2 of 2 files were "
         "installed."}};
    for (const auto& [failAt, fail, outcome, text] : cases) {
        World world({{"a.txt", "a"}, {"b.txt", "b"}});
        FailingWindow window(failAt, fail);
        EXPECT_EQ(RunUpdate({window, world.files, world.processes}), outcome);
        EXPECT_EQ(window.messages, (std::vector<test::Message>{{text}}));
        EXPECT_EQ(window.pointer, PointerShape::Default) << "the busy pointer is put back";
        EXPECT_FALSE(window.closed);
    }
}

}  // namespace
}  // namespace zelvane
